// The "Flag" page: the module's state, interrupt and flag summaries, the
// lanes' data path states and configuration status and eight per-lane flags
// of page 11h, display only. While the page is visible it re-reads them
// every 1.5 s.
#pragma once

#include <QWidget>

#include "pages/page_kit.h"

class AppContext;

class CFlag : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kRefreshMs = 1500;
  CFlag(AppContext& app, QWidget* parent = nullptr);

 private:
  AppContext& app_;
  pages::PageControls controls_;
};
