// The "Set0" page: the module's staged control set 0 (page 10h 0x8F-0xAD),
// its apply triggers, the lanes' data path configuration and signal
// integrity settings. A user action writes the module at once; while the
// page is visible it re-reads the controls every 1.5 s.
#pragma once

#include <QWidget>

#include "gui/page_kit.h"

class AppContext;

class CStagedCtrlSet0 : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kRefreshMs = 1500;
  CStagedCtrlSet0(AppContext& app, QWidget* parent = nullptr);

 private:
  AppContext& app_;
  pages::PageControls controls_;
};
