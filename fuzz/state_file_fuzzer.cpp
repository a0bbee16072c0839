// The emulated board's state file: what parses writes back the same, and a
// board restored from it answers requests (module, DSP, PRBS, mailbox).
#include <cstdint>
#include <memory>
#include <string>

#include "board/protocol.h"
#include "emulator/emulated_board.h"
#include "emulator/state_file.h"

namespace {

void Send(emu::EmulatedBoard& board, std::initializer_list<uint8_t> payload) {
  emu::Report request{};
  request[1] = board::kSync;
  request[2] = board::kSync;
  size_t i = 3;
  for (uint8_t b : payload) request[i++] = b;
  board.HandleWrite(request.data(), request.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  emu::BoardState state;
  std::string error;
  if (!emu::ParseBoardState(text, &state, &error)) {
    if (error.empty()) __builtin_trap();
    return 0;
  }
  const std::string written = emu::FormatBoardState(state);
  emu::BoardState again;
  if (!emu::ParseBoardState(written, &again, &error) || emu::FormatBoardState(again) != written)
    __builtin_trap();

  auto board = std::make_shared<emu::EmulatedBoard>();
  board->SetAnswerDelayMs(0);
  board->RestoreState(state);
  const auto snapshot = board->SnapshotState();
  if (snapshot.module.pages != state.module.pages || snapshot.dsp_working != state.dsp_working ||
      snapshot.dsp_saved != state.dsp_saved || !(snapshot.prbs == state.prbs) ||
      snapshot.clock != state.clock || snapshot.mailbox != state.mailbox ||
      snapshot.load_mode != state.load_mode || snapshot.eeprom != state.eeprom)
    __builtin_trap();
  // A board restored from its own snapshot is the same board.
  auto twin = std::make_shared<emu::EmulatedBoard>();
  twin->RestoreState(snapshot);
  if (emu::FormatBoardState(twin->SnapshotState()) != emu::FormatBoardState(snapshot))
    __builtin_trap();
  Send(*board, {board::kModuleRead, 1, 0x11, 0xA0, 0x80, 60});
  Send(*board, {board::kDspRead, 0, 150, 50});
  for (uint8_t lane = 1; lane <= 8; ++lane)
    Send(*board, {board::kCheckerStatus, static_cast<uint8_t>(lane >= 5), lane});
  Send(*board, {board::kMailboxRead, 5, 8});
  Send(*board, {board::kMailboxWrite, 5, 1, 0xAA});  // a block with the header it holds
  Send(*board, {board::kMailboxWrite, 5, 1, 0xA5});
  board->PowerCycle();
  Send(*board, {board::kModuleRead, 1, 0x00, 0xA0, 0x00, 60});
  return 0;
}
