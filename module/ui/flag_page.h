// The "Flag" page: the module's state, interrupt and flag summaries, the
// lanes' data path states and configuration status and eight per-lane flags
// of page 11h, display only. While the page is visible it re-reads them
// every 1.5 s. Beside the current state, each latched flag's box carries the
// flag reader's sticky count ("1x") and times in its tooltip until the user
// presses "Acknowledge".
#pragma once

#include <QWidget>
#include <utility>
#include <vector>

#include "gui/page_kit.h"

class AppContext;
class QAbstractButton;
class QLabel;

class CFlag : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kRefreshMs = 1500;
  CFlag(AppContext& app, QWidget* parent = nullptr);

 private:
  // Shows the flag reader's sticky records on the boxes of latched flags.
  void ShowSticky();

  AppContext& app_;
  pages::PageControls controls_;
  // Boxes of latched flags with their flag key and lane (0: module-wide).
  struct StickyBox {
    QAbstractButton* box;
    const char* key;
    int lane;
  };
  std::vector<StickyBox> sticky_boxes_;
  QLabel* state_changed_badge_ = nullptr;
  QLabel* sticky_summary_ = nullptr;
};
