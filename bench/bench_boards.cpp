// Many boards at once: the wall time of the same per-board workload (module
// page reads) on N emulated boards in parallel, one thread and CDevice per
// board, against one board's. The boards' exchanges are independent, so the
// goal is N boards within 1.1 x one board's time.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "bench/bench_util.h"
#include "board/multi_board.h"
#include "emulator/emulated_rack.h"

namespace {

// Pages 00h, 01h, 02h and 11h, twice: 8 reads of 3 reports each.
constexpr int kReports = 2 * 4 * 3;

bool Workload(CDevice& device) {
  uint8_t buffer[128];
  for (int pass = 0; pass < 2; ++pass)
    for (uint8_t page : {0x00, 0x01, 0x02, 0x11})
      if (!device.ReadModule(1, 0xA0, page, 0x80, buffer, 128)) return false;
  return true;
}

// Median wall time of `runs` runs on `count` boards, open to close.
double WallMs(int count, int runs, bool* ok) {
  std::vector<double> times;
  for (int run = 0; run < runs; ++run) {
    auto rack = std::make_shared<emu::EmulatedRack>(count);
    std::vector<char> good(count, 0);
    const auto start = bench::Clock::now();
    const auto outcomes = board::RunOnEachBoard(
        rack, [&](const board::BoardSlot& slot, CDevice& d) { good[slot.index] = Workload(d); });
    times.push_back(bench::Ms(bench::Clock::now() - start));
    for (size_t i = 0; i < outcomes.size(); ++i)
      if (!outcomes[i].opened || !good[i]) *ok = false;
  }
  return bench::Summarise(times).p50;
}

}  // namespace

int main() {
  bool ok = true;
  constexpr int kRuns = 5;
  const double one = WallMs(1, kRuns, &ok);
  std::printf("%-44s %9.2f ms  floor %9.2f ms  (%d reports of 20 ms per board)\n",
              "N-board scaling: 1 board, module reads", one, kReports * 20.0, kReports);
  for (int count : {4, 8}) {
    const double wall = WallMs(count, kRuns, &ok);
    const double ratio = wall / one;
    char name[64];
    std::snprintf(name, sizeof name, "N-board scaling: %d boards, module reads", count);
    std::printf("%-44s %9.2f ms  %.3f x one board's  (goal within 1.1 x) %s\n", name, wall, ratio,
                ratio <= 1.1 ? "ok" : "MISSED");
  }
  if (!ok) std::printf("N-board scaling: a board failed its reads\n");
  return ok ? 0 : 1;
}
