// EEPROM load of a 64 KiB image against the emulated board with the real
// pauses, step by step on a board worker as in the application: bytes per
// second, and host time over the protocol floor (every block needs a
// handshake poll, the block write and the handshake write, one report and
// 20 ms each; entering, the end poll and leaving add three more).
// An argument gives another size in KiB for a quick run.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "bench/bench_util.h"
#include "board/board_worker.h"
#include "board/device.h"
#include "emulator/emulated_board.h"
#include "transfer/transfer_engine.h"

int main(int argc, char** argv) {
  const size_t kib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
  const size_t size = kib * 1024;
  auto board = std::make_shared<emu::EmulatedBoard>();
  CDevice device(board);
  device.FindDevices();
  if (size == 0 || !device.OpenBoard(0)) return 1;

  BoardWorker worker;
  transfer::TransferEngine engine(device, {}, {&worker});
  transfer::PageText page;
  char group[9];
  for (size_t i = 0; i < size / 4; ++i) {
    std::snprintf(group, sizeof group, "%08zX", i * 0x9E3779B1u & 0xFFFFFFFFu);
    page.text += group;
  }
  if (!engine.SetPageText(std::move(page)) || !engine.StartConversion()) return 1;
  engine.Wait(transfer::Job::kConversion);

  const auto start = bench::Clock::now();
  engine.StartLoad();
  engine.Wait(transfer::Job::kLoad);
  const double host_ms = bench::Ms(bench::Clock::now() - start);
  if (engine.LastResult(transfer::Job::kLoad).outcome != transfer::Outcome::kDone) {
    std::printf("the load failed: %s\n", engine.LastResult(transfer::Job::kLoad).detail.c_str());
    return 1;
  }
  const size_t blocks = (size + 31) / 32;
  const double floor_ms = (3.0 * blocks + 3) * CDevice::kCommandDelayMs;
  char name[64];
  std::snprintf(name, sizeof name, "EEPROM load %zu KiB (%zu blocks)", kib, blocks);
  bench::ReportOverFloor(name, host_ms, floor_ms, 3);
  std::printf("%-44s %9.0f bytes/s  (floor allows %.0f bytes/s)\n", "EEPROM load rate",
              size / host_ms * 1000.0, size / floor_ms * 1000.0);
  return 0;
}
