// The emulated board's non-volatile state in a text file, so that
// consecutive runs of the tools see one board.
#pragma once

#include <string>
#include <vector>

#include "emulator/dsp_model.h"

namespace emu {

struct BoardState {
  std::string module_dump;  // module dump format
  DspModel::Block dsp_saved{};
  std::vector<uint8_t> eeprom;  // MailboxModel::kEepromSize bytes
};

bool ParseBoardState(const std::string& text, BoardState* state, std::string* error);
// Writes to a temporary file and renames it over `path`.
bool WriteBoardState(const std::string& path, const BoardState& state, std::string* error);

}  // namespace emu
