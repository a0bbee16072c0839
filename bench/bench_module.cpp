// Host time of the module refreshes the pages make on every tick, against the
// emulated board, over the protocol floor (reports x 20 ms).
#include "bench/bench_util.h"
#include "board/device.h"
#include "emulator/emulated_board.h"
#include "module/qsfp_dd.h"

int main() {
  auto board = std::make_shared<emu::EmulatedBoard>();
  CDevice device(board);
  device.FindDevices();
  if (!device.OpenBoard(0)) return 1;
  qsfp_dd::CQSFP_DD module(&device);
  constexpr int kRuns = 20;

  auto time_call = [&](auto&& call) {
    call();  // warm up
    const auto start = bench::Clock::now();
    for (int i = 0; i < kRuns; ++i)
      if (!call()) return -1.0;
    return bench::Ms(bench::Clock::now() - start) / kRuns;
  };
  // ReadMonitors: 2 words and 3 blocks; ReadAlarmImage: 3 blocks.
  const double diagnostics =
      time_call([&] { return module.ReadMonitors() & module.ReadAlarmImage(); });
  bench::ReportOverFloor("diagnostics refresh (8 reports)", diagnostics, 8 * 20.0, 3);
  // Lower 0x03, page 11h 0x80-0x83, lower 0x1A, then 85 bytes of page 10h in two reports.
  const double control = time_call([&] { return module.ReadControlImage(); });
  bench::ReportOverFloor("control image refresh (5 reports)", control, 5 * 20.0, 3);
  return diagnostics < 0 || control < 0 ? 1 : 0;
}
