// "Checker": the BER diagram, eight charts of BER over elapsed seconds on a
// fixed log axis, one point per chart per second while the window is shown.
// Every point is kept (sigtest::BerHistory) and can be exported.
#pragma once

#include <QTimer>
#include <QWidget>
#include <array>

#include "signal/ber_history.h"

class QCustomPlot;
class QCPGraph;
namespace sigtest {
class LineCheck;
}

class CDiagram : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kTimerMs = 1000;
  enum Id { kIdChart1 = 1301, kIdExportPng = 1311, kIdExportCsv = 1312 };

  CDiagram(const sigtest::LineCheck& source, QWidget* parent = nullptr);

  // Shows the window and starts the points; the lane does not change what
  // is shown (all eight charts are fed).
  void ShowLane(int lane);
  // One point per chart from the line check's lanes (the timer's work).
  void AddPoints();
  // Adds one point to a chart (0-7) and redraws it.
  void AddPoint(int chart, uint32_t seconds, double ber, bool redraw = true);
  void RedrawAll();

  const sigtest::BerHistory& History() const { return history_; }
  QCustomPlot* Chart(int index) const { return charts_[index]; }
  bool Running() const { return timer_.isActive(); }

  bool SavePng(const QString& path);
  bool SaveCsv(const QString& path);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  const sigtest::LineCheck& source_;
  sigtest::BerHistory history_;
  std::array<QCustomPlot*, sigtest::kLanes> charts_{};
  std::array<QCPGraph*, sigtest::kLanes> graphs_{};
  std::array<std::pair<double, double>, sigtest::kLanes> key_range_{};
  QTimer timer_;
};
