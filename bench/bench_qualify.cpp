// The example plan's wall time against its floor, on the emulated board
// with clean lanes, and the plan on N emulated boards at once.
//
// The floor of a step is the larger of
// - its protocol floor: the board exchanges it made (request reports the
//   board received during the step) x the 20 ms command pause each one
//   costs; polls made while waiting for the module count here too, and
// - its time floor: what no protocol can shorten: ddm its sampling span
//   (`seconds`) and the reads of its last sample; ber one lock second (kept apart by the verdict)
//   plus the bits the verdict needs at the lane rate, rounded up to the board's 1 s status tick;
//   application the emulated module's data path initialisation (400 ms); tx-disable the module's
//   100 ms monitor refresh after each disable and each enable, per lane.
// The two overlap (polls fill the waits), so the larger of them is a lower
// bound on the step; the plan's floor is the sum over its steps. The ber
// step is the exception: its set-up and stop (exchanges and the pauses the
// generators and checkers need) come before and after its seconds, and only
// the status reads of its ticks fall inside them, so its floor is the
// seconds plus the exchanges outside them plus those pauses.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "board/device.h"
#include "cli/cli.h"
#include "emulator/emulated_board.h"
#include "emulator/module_model.h"
#include "qualify/plan.h"
#include "qualify/runner.h"
#include "signal/ber_stats.h"
#include "signal/board_steps.h"
#include "signal/line_check.h"
#include "signal/tables.h"

#ifndef LW_SOURCE_DIR
#define LW_SOURCE_DIR "."
#endif

namespace {

constexpr double kLaneBitRate = 51.5625e9;  // 25.78125 GBd PAM4, the emulated DSP's default

double TimeFloorMs(const qualify::Step& step) {
  using qualify::StepKind;
  switch (step.kind) {
    case StepKind::kDdm:
      return step.seconds * 1000.0;
    case StepKind::kBer: {
      const double seconds =
          1.0 + sigtest::BitsForVerdict(step.target, step.confidence,
                                        static_cast<uint64_t>(step.allowed_errors)) /
                    kLaneBitRate;
      return std::ceil(seconds) * 1000.0;
    }
    case StepKind::kApplication:
      return emu::ModuleModel::kDataPathInitMs;
    case StepKind::kTxDisable:
      return (step.lanes.empty() ? 8 : static_cast<int>(step.lanes.size())) * 2.0 *
             emu::ModuleModel::kMonitorPeriodMs;
    default:
      return 0;
  }
}

double RunPlanOnBoards(const std::string& plan, int boards, int* status) {
  std::vector<std::string> args = {"lanewright-cli",
                                   "--emulate-ber",
                                   "0",
                                   "--emulate-boards",
                                   std::to_string(boards),
                                   "qualify",
                                   plan,
                                   "--board",
                                   "all",
                                   "--db",
                                   "/tmp/lw-bench-qualify-" + std::to_string(getpid()) + ".db"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  std::ostringstream out, err;
  const auto start = bench::Clock::now();
  *status = cli::Run(static_cast<int>(argv.size()), argv.data(), out, err);
  return bench::Ms(bench::Clock::now() - start);
}

}  // namespace

int main() {
  const std::string path = std::string(LW_SOURCE_DIR) + "/examples/plan.toml";
  const qualify::Plan plan = qualify::LoadPlan(path);

  auto board = std::make_shared<emu::EmulatedBoard>();
  {
    auto lock = board->Lock();
    for (int lane = 1; lane <= 8; ++lane) board->Prbs().SetLaneBer(lane, 0);
  }
  CDevice device(board);
  if (device.FindDevices() < 1 || !device.OpenBoard(0)) return 1;

  struct StepTime {
    std::string name;
    double wall_ms = 0;
    size_t exchanges = 0;
    double floor_ms = 0;
  };
  std::vector<StepTime> steps;
  bench::Clock::time_point step_start;
  size_t requests_at_start = 0;
  std::vector<const qualify::Step*> all;
  for (const auto& s : plan.steps) all.push_back(&s);
  for (const auto& s : plan.finally) all.push_back(&s);

  const auto start = bench::Clock::now();
  const auto run = qualify::RunPlan(device, plan, {}, [&](const qualify::RunEvent& e) {
    if (e.kind == qualify::RunEvent::Kind::kStepStarted) {
      step_start = bench::Clock::now();
      requests_at_start = board->RequestCount();
    } else if (e.kind == qualify::RunEvent::Kind::kStepFinished && e.step_index >= 0 &&
               e.step_index < static_cast<int>(all.size())) {
      StepTime t;
      t.name = e.step_name;
      t.wall_ms = bench::Ms(bench::Clock::now() - step_start);
      t.exchanges = board->RequestCount() - requests_at_start;
      const double protocol = static_cast<double>(t.exchanges) * CDevice::kCommandDelayMs;
      const qualify::Step& step = *all[e.step_index];
      if (step.kind == qualify::StepKind::kBer) {
        sigtest::LineCheck check;
        double pauses = 0;
        for (const auto& steps :
             {check.ApplyPattern(static_cast<uint8_t>(sigtest::ParsePatternName(step.pattern))),
              check.Start(), check.Stop()})
          for (const auto& s : steps) pauses += s.pause_ms;
        const double seconds = TimeFloorMs(step) / 1000.0;
        const double inside =
            (seconds - 1) * sigtest::kLanes;  // the reads of every tick but the last
        t.floor_ms = TimeFloorMs(step) + pauses +
                     (static_cast<double>(t.exchanges) - inside) * CDevice::kCommandDelayMs;
      } else if (step.kind == qualify::StepKind::kDdm) {
        // The last sample's reads come after the span.
        t.floor_ms = std::max(protocol, TimeFloorMs(step) + protocol / step.samples);
      } else {
        t.floor_ms = std::max(protocol, TimeFloorMs(step));
      }
      steps.push_back(t);
    }
  });
  const double wall = bench::Ms(bench::Clock::now() - start);
  if (run.verdict != records::Outcome::kPass) {
    std::printf("bench_qualify: the example plan did not pass: %s\n", run.verdict_message.c_str());
    return 1;
  }
  double floor = 0;
  std::printf("example plan, step by step (exchanges x 20 ms, or the step's time floor):\n");
  for (const auto& s : steps) {
    floor += s.floor_ms;
    std::printf("  %-16s %9.1f ms  %4zu exchanges  floor %9.1f ms\n", s.name.c_str(), s.wall_ms,
                s.exchanges, s.floor_ms);
  }
  bench::ReportOverFloor("qualify examples/plan.toml, 1 board", wall, floor, 25);

  // N boards at once: the boards' exchanges are independent, so N boards
  // should take about the time of one (goal within 1.1 x).
  int status = 0;
  const double one = RunPlanOnBoards(path, 1, &status);
  if (status != 0) return 1;
  for (int n : {4, 8}) {
    const double many = RunPlanOnBoards(path, n, &status);
    if (status != 0) return 1;
    char name[64];
    std::snprintf(name, sizeof name, "qualify on %d boards vs 1 board", n);
    std::printf("%-44s %9.2f ms  one board %9.2f ms  ratio %.3f  (goal 1.1) %s\n", name, many, one,
                many / one, many / one <= 1.1 ? "ok" : "MISSED");
  }
  std::remove(("/tmp/lw-bench-qualify-" + std::to_string(getpid()) + ".db").c_str());
  return 0;
}
