// The BER diagram holding a day of points (8 x 86,400): redraw time of all
// eight charts and memory per day; and the UI thread's dispatch delay while
// a line check runs with the diagram open and the diagnostics refresh polling.
#include <QApplication>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <qcustomplot.h>
#include <random>
#include <string>

#include "app/app_context.h"
#include "bench/bench_util.h"
#include "bench/ui_probe.h"
#include "emulator/emulated_board.h"
#include "signal/ui/diagram.h"
#include "signal/ui/dsp_page.h"
#include "signal/ui/line_check_page.h"

namespace {

double ResidentMiB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * 4096.0 / (1024 * 1024);
}

void DiagramDay() {
  constexpr uint32_t kDay = 86400;
  sigtest::LineCheck engine;
  CDiagram diagram(engine);
  diagram.resize(1000, 820);
  diagram.show();
  QCoreApplication::processEvents();

  const double before = ResidentMiB();
  std::mt19937 rng(7);
  std::normal_distribution<double> wobble(0, 0.3);
  const double level[8] = {0, 2e-12, 0, 5e-10, 0, 1e-6, 3e-11, 0};
  for (int chart = 0; chart < 8; ++chart)
    for (uint32_t s = 1; s <= kDay; ++s)
      diagram.AddPoint(chart, s, level[chart] * std::pow(10.0, wobble(rng)), false);
  const double after = ResidentMiB();

  std::vector<double> times;
  for (int run = 0; run < 25; ++run) {
    diagram.AddPoints();  // the timer's work: one more point per chart
    const auto start = bench::Clock::now();
    for (int i = 0; i < 8; ++i) diagram.Chart(i)->replot(QCustomPlot::rpImmediateRefresh);
    times.push_back(bench::Ms(bench::Clock::now() - start));
  }
  const auto s = bench::Summarise(times);
  std::printf("%-44s p50 %6.2f ms  max %6.2f ms  (goal median < 16 ms) %s\n",
              "BER diagram redraw, 8 x 86,400 points", s.p50, s.max, s.p50 < 16 ? "ok" : "MISSED");
  std::printf("%-44s %6.1f MiB for %zu points (%.1f bytes a point)\n", "memory of a day of points",
              after - before, diagram.History().Size(),
              (after - before) * 1024 * 1024 / static_cast<double>(diagram.History().Size()));
}

void DispatchWhileTesting() {
  auto board = std::make_shared<emu::EmulatedBoard>();
  AppContext app(board, board);
  QWidget main_window;
  app.SetMainWindow(&main_window);
  app.Device().FindDevices();
  app.Device().OpenBoard(0);
  CLineCheck page(app);
  CDsp dsp(app);
  dsp.SetLineCheckWindow(&page);
  page.show();
  // A day's worth of points already on the charts.
  for (int chart = 0; chart < 8; ++chart)
    for (uint32_t s = 1; s <= 86400; ++s) page.Diagram()->AddPoint(chart, s, 1e-9 * (1 + s % 7), false);
  page.Diagram()->ShowLane(1);
  page.findChild<QPushButton*>(QStringLiteral("id%1").arg(CLineCheck::kIdStart))->click();

  // The diagnostics window's refresh: module monitors, then the DSP page's
  // power read and mode report, every 1.5 s.
  QTimer ddm;
  ddm.setInterval(1500);
  CDevice* device = &app.Device();
  QObject::connect(&ddm, &QTimer::timeout, &page, [&] {
    app.Link().Run(&page, [device] {
      uint8_t buffer[128];
      return device->ReadModule(1, 0xA0, 0x11, 0x80, buffer, 128);
    }, [&dsp](bool) { dsp.Refresh(); });
  });
  ddm.start();
  bench::DispatchProbe probe;
  QTimer::singleShot(10000, qApp, &QApplication::quit);
  qApp->exec();
  std::printf("ticks: %u s counted on lane 1, %zu chart points\n", page.Engine().Lane(1).seconds,
              page.Diagram()->History().Size());
  bench::PrintDispatch("UI dispatch delay, test + diagram + DDM", probe.Result(), 10, 0);
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  const bool dispatch_only = argc > 1 && std::string(argv[1]) == "--dispatch";
  const bool diagram_only = argc > 1 && std::string(argv[1]) == "--diagram";
  if (!dispatch_only) DiagramDay();
  if (!diagram_only) DispatchWhileTesting();
  return 0;
}
