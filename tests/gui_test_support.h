// Stands in for the main window in the view tests: records what the views
// send the shell, through queued connections as the main window's are, so a
// test sees a request only once the events have been processed.
#pragma once

#include <QObject>
#include <QString>
#include <algorithm>
#include <vector>

#include "gui/gui_signals.h"

class ShellSink : public QObject {
 public:
  enum Kind { kShowDdm, kRefreshDsp, kStatusText, kModeReport };
  struct Got {
    Kind kind;
    bool show = false;  // kShowDdm
    QString text;       // kStatusText
  };

  explicit ShellSink(GuiSignals& from) {
    connect(
        &from, &GuiSignals::ShowDdmRequested, this,
        [this](bool show) {
          got.push_back({kShowDdm, show, {}});
        },
        Qt::QueuedConnection);
    connect(
        &from, &GuiSignals::RefreshDspRequested, this,
        [this] {
          got.push_back({kRefreshDsp, false, {}});
        },
        Qt::QueuedConnection);
    connect(
        &from, &GuiSignals::StatusText, this,
        [this](const QString& text) {
          got.push_back({kStatusText, false, text});
        },
        Qt::QueuedConnection);
  }

  std::vector<Got> got;

  const Got* Last(Kind kind) const {
    for (auto it = got.rbegin(); it != got.rend(); ++it)
      if (it->kind == kind) return &*it;
    return nullptr;
  }
  QString LastStatusText() const {
    const Got* g = Last(kStatusText);
    return g ? g->text : QString("(none)");
  }
  int Count(Kind kind) const {
    return static_cast<int>(
        std::count_if(got.begin(), got.end(), [kind](const Got& g) { return g.kind == kind; }));
  }
};
