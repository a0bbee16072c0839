// The BER diagram holding a week of points (8 x 604,800): redraw time of all
// eight charts and the memory the points take; and the UI thread's dispatch
// delay while a line check runs with the diagram open and the diagnostics
// refresh polling.
#include <qcustomplot.h>
#include <time.h>

#include <QApplication>
#include <QTimer>
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "bench/bench_util.h"
#include "bench/ui_probe.h"
#include "emulator/emulated_board.h"
#include "gui/app_context.h"
#include "signal/ber_history.h"
#include "signal/ui/diagram.h"
#include "signal/ui/dsp_page.h"
#include "signal/ui/line_check_page.h"

namespace {

// CPU time of this thread: the machine is shared, so wall time alone
// includes waiting for a core.
double ThreadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double LoadAverage() {
  std::ifstream loadavg("/proc/loadavg");
  double one = 0;
  loadavg >> one;
  return one;
}

double ResidentMiB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * 4096.0 / (1024 * 1024);
}

// A long run's points, second by second. Clean lanes fall as their bound;
// lanes with errors count them (Poisson) and draw their running ratio; one
// lane loses lock for an hour in every six. `noisy` instead draws every
// second a decade apart at random: the worst case for the columns, where
// each spans its full height.
class Run {
 public:
  explicit Run(bool noisy) : noisy_(noisy) {}
  void Fill(sigtest::BerHistory& history, uint32_t seconds) {
    const double level[8] = {0, 2e-12, 0, 5e-10, 0, 1e-6, 3e-11, 0};
    for (uint32_t n = 0; n < seconds; ++n) {
      ++second_;
      for (int chart = 0; chart < 8; ++chart) {
        sigtest::BerHistory::Point p;
        p.seconds = second_;
        errors_[chart] += level[chart] > 0 ? Poisson(level[chart] * kRate) : 0;
        if (chart == 4 && second_ / 3600 % 6 == 5) {
          p.kind = sigtest::BerHistory::Kind::kNoLock;
          p.verdict = sigtest::Verdict::kFail;
        } else if (level[chart] == 0 || errors_[chart] == 0) {
          p.kind = sigtest::BerHistory::Kind::kBound;
          p.upper = 2.9957 / (kRate * second_);
          p.verdict = p.upper < rule_.target ? sigtest::Verdict::kPass : sigtest::Verdict::kRunning;
        } else {
          p.kind = sigtest::BerHistory::Kind::kMeasured;
          p.ber = noisy_ ? level[chart] * std::pow(10.0, wobble_(rng_))
                         : static_cast<double>(errors_[chart]) / (kRate * second_);
          p.upper = p.ber * 1.1;
          p.verdict = sigtest::Verdict::kFail;
        }
        history.Add(chart, p, rule_);
      }
    }
  }

 private:
  static constexpr double kRate = 53.125e9;
  uint64_t Poisson(double mean) { return std::poisson_distribution<uint64_t>(mean)(rng_); }
  bool noisy_;
  uint32_t second_ = 0;
  std::array<uint64_t, 8> errors_{};
  sigtest::VerdictRule rule_;
  std::mt19937_64 rng_{7};
  std::normal_distribution<double> wobble_{0, 0.3};
};

void DiagramWeek(bool noisy) {
  constexpr uint32_t kWeek = 604800;
  sigtest::BerHistory history;
  CDiagram diagram(history);
  diagram.resize(1000, 820);
  diagram.show();
  QCoreApplication::processEvents();
  diagram.RedrawAll(true);
  const double before = ResidentMiB();
  Run run(noisy);
  run.Fill(history, kWeek);
  diagram.RedrawAll(true);
  QCoreApplication::processEvents();
  const double after = ResidentMiB();

  std::vector<double> times, cpu;
  for (int n = 0; n < 41; ++n) {
    run.Fill(history, 1);  // the tick: one more point a chart
    const auto start = bench::Clock::now();
    const double cpu_start = ThreadCpuMs();
    diagram.RedrawAll(true);  // new columns from the history, then all eight replotted
    cpu.push_back(ThreadCpuMs() - cpu_start);
    times.push_back(bench::Ms(bench::Clock::now() - start));
  }
  size_t drawn = 0;
  for (int i = 0; i < 8; ++i)
    drawn += diagram.Measured(i)->data()->size() + diagram.Bound(i)->data()->size();
  const auto s = bench::Summarise(times);
  const auto c = bench::Summarise(cpu);
  std::printf(
      "%-44s p50 %6.2f ms  max %6.2f ms  (goal median < 16 ms) %s\n",
      noisy ? "BER diagram redraw, a week, worst case" : "BER diagram redraw, a week (8 x 604,800)",
      s.p50, s.max, s.p50 < 16 ? "ok" : "MISSED");
  std::printf(
      "%-44s p50 %6.2f ms  max %6.2f ms  (%zu values drawn; load average %.1f on %d cores)\n",
      "  the same in CPU time of the UI thread", c.p50, c.max, drawn, LoadAverage(),
      static_cast<int>(std::thread::hardware_concurrency()));
  if (noisy) return;
  std::printf(
      "%-44s %6.1f MiB resident, %.1f MiB held (%.1f bytes a point)  (goal 64 MiB in all) %s\n",
      "memory of a week of points", after - before, history.MemoryBytes() / (1024.0 * 1024.0),
      history.MemoryBytes() / static_cast<double>(history.Size()),
      after - before < 64 ? "ok" : "MISSED");
  std::ofstream sink("/dev/null");
  const auto start = bench::Clock::now();
  history.WriteCsv(sink);
  std::printf("%-44s %6.2f s\n", "CSV export of a week (8 x 604,800 rows)",
              bench::Ms(bench::Clock::now() - start) / 1000.0);
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
  // A week's run already in the history (the test's own seconds start again
  // at 1, a new run beside it).
  Run(false).Fill(page.MutableHistory(), 604800);
  page.Diagram()->ShowLane(1);
  page.findChild<QPushButton*>(QStringLiteral("id%1").arg(CLineCheck::kIdStart))->click();

  // The diagnostics window's refresh: module monitors, then the DSP page's
  // power read and mode report, every 1.5 s.
  QTimer ddm;
  ddm.setInterval(1500);
  CDevice* device = &app.Device();
  QObject::connect(&ddm, &QTimer::timeout, &page, [&] {
    app.Link().Run(
        &page,
        [device] {
          uint8_t buffer[128];
          return device->ReadModule(1, 0xA0, 0x11, 0x80, buffer, 128);
        },
        [&dsp](bool) { dsp.Refresh(); });
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
  if (!dispatch_only) {
    DiagramWeek(false);
    DiagramWeek(true);
  }
  if (!diagram_only) DispatchWhileTesting();
  return 0;
}
