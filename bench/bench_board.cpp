// Host time per board call against the emulated board, over the protocol
// floor (reports x 20 ms).
#include <cstdint>
#include <cstdio>
#include <vector>

#include "bench/bench_util.h"
#include "board/device.h"
#include "emulator/emulated_board.h"
#include "signal/dsp_page_model.h"

int main() {
  auto board = std::make_shared<emu::EmulatedBoard>();
  CDevice device(board);
  device.FindDevices();
  if (!device.OpenBoard(0)) return 1;
  uint8_t buffer[128] = {};
  constexpr int kRuns = 20;

  auto time_call = [&](auto&& call) {
    const auto start = bench::Clock::now();
    for (int i = 0; i < kRuns; ++i) call();
    return bench::Ms(bench::Clock::now() - start) / kRuns;
  };
  const double read = time_call([&] { device.ReadModule(1, 0xA0, 0x00, 0x80, buffer, 128); });
  bench::ReportOverFloor("module read 128 bytes (3 reports)", read, 3 * 20.0, 3);
  const double write = time_call([&] { device.WriteModule(1, 0xA0, 0x02, 0x80, buffer, 128); });
  bench::ReportOverFloor("module write 128 bytes (4 reports)", write, 4 * 20.0, 3);

  sigtest::DspBlock block{};
  const double dsp_read = time_call([&] { sigtest::ReadDspBlock(device, block); });
  bench::ReportOverFloor("DSP block read 193 bytes (4 reports)", dsp_read, 4 * 20.0, 3);
  const double dsp_write = time_call([&] { sigtest::WriteDspBlock(device, block); });
  bench::ReportOverFloor("DSP block write 193 bytes (4 reports)", dsp_write, 4 * 20.0, 3);

  // Recovery after a late answer: from the end of the timed-out read to the
  // next good answer, which waits out the link's late-answer guard.
  std::vector<double> recovery;
  for (int i = 0; i < 10; ++i) {
    board->AnswerLate(1, 90);
    device.ReadModule(1, 0xA0, 0x00, 0x80, buffer, 1);
    const auto gave_up = bench::Clock::now();
    if (!device.ReadModule(1, 0xA0, 0x00, 0x80, buffer, 1)) return 1;
    recovery.push_back(bench::Ms(bench::Clock::now() - gave_up));
  }
  const auto r = bench::Summarise(recovery);
  std::printf("%-44s %9.2f ms  (guard %d ms + one 1-report read of 20 ms; max %.2f ms)\n",
              "recovery after a late answer (median)", r.p50, CHid::kLateAnswerGuardMs, r.max);
  return 0;
}
