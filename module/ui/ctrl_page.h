// The "Ctrl" page: the module global controls (lower byte 26), the lane
// controls of page 10h 0x80-0x8B, and the module and data path states. A
// user action writes the module at once; while the page is visible it
// re-reads the controls every 1.5 s and follows the module.
#pragma once

#include <QWidget>

#include "gui/page_kit.h"

class AppContext;

class CCtrl : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kRefreshMs = 1500;
  CCtrl(AppContext& app, QWidget* parent = nullptr);

 private:
  AppContext& app_;
  pages::PageControls controls_;
};
