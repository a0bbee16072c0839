// "Checker": the BER diagram, eight charts of BER over elapsed seconds on a
// log axis. It draws the line check page's history (sigtest::BerHistory),
// which the page records at every tick whether the diagram is shown or not:
// measured points as a solid line, a lane without errors as its upper bound
// (dashed, labelled "< bound"), the target as a horizontal line, and each
// lane's verdict. The charts get the minimum and maximum of each pixel
// column, rebuilt when the history, the width or the range changes; the
// full history goes to the CSV export.
#pragma once

#include <QWidget>
#include <array>

#include "signal/ber_history.h"
#include "signal/lane_summary.h"

class QCustomPlot;
class QCPGraph;
class QCPItemStraightLine;
class QCPItemText;

class CDiagram : public QWidget {
  Q_OBJECT
 public:
  enum Id { kIdChart1 = 1301, kIdExportPng = 1311, kIdExportCsv = 1312 };

  explicit CDiagram(const sigtest::BerHistory& history, QWidget* parent = nullptr);

  // Shows the window; the lane does not change what is shown (all eight
  // charts always are).
  void ShowLane(int lane);
  // After a tick or a rule change: each chart's verdict (chart order) and
  // the target. Redraws now when shown, else when next shown.
  void Refresh(const std::array<sigtest::LaneSummary, sigtest::kLanes>& by_chart, double target);
  // Rebuilds every chart's columns from the history and replots.
  void RedrawAll(bool immediate = false);

  const sigtest::BerHistory& History() const { return history_; }
  QCustomPlot* Chart(int index) const { return charts_[index].plot; }
  QCPGraph* Measured(int index) const { return charts_[index].measured; }
  QCPGraph* Bound(int index) const { return charts_[index].bound; }
  QString VerdictText(int index) const;
  QString BoundLabel(int index) const;  // "< 3.2e-11", empty when no bound is drawn
  bool Stale() const { return stale_; }

  bool SavePng(const QString& path);
  bool SaveCsv(const QString& path);

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct ChartParts {
    QCustomPlot* plot = nullptr;
    QCPGraph* measured = nullptr;
    QCPGraph* bound = nullptr;
    QCPItemStraightLine* target = nullptr;
    QCPItemText* target_label = nullptr;
    QCPItemText* bound_label = nullptr;
    QCPItemText* verdict = nullptr;
    int margin = 0;  // plot width - axis rect width at the last layout
  };
  void MakeChart(int index);
  int Columns(const ChartParts& chart) const;

  const sigtest::BerHistory& history_;
  std::array<ChartParts, sigtest::kLanes> charts_{};
  double target_ = 1e-12;
  bool stale_ = true;
  bool rebuild_queued_ = false;
};
