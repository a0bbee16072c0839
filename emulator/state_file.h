// The emulated board's state in a text file, so that consecutive runs of the
// tools see one powered board. The format is described in the README
// ("The emulated board"); version 1 files (module memory, saved DSP block,
// EEPROM) still load.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "emulator/dsp_model.h"
#include "emulator/mailbox_model.h"
#include "emulator/module_model.h"
#include "emulator/prbs_model.h"

namespace emu {

// The reference clock the board selects at power-on (1: "156.25M").
constexpr uint8_t kPowerOnClock = 1;

struct BoardState {
  ModuleDumpImage module;
  // Absent in version 1 files: the module takes them from its memory.
  std::optional<ModuleModel::Retained> module_retained;
  DspModel::Block dsp_working{}, dsp_saved{};
  PrbsModel::Records prbs{};
  uint8_t clock = kPowerOnClock;
  MailboxModel::Box mailbox{};
  bool load_mode = false;
  std::vector<uint8_t> eeprom = std::vector<uint8_t>(MailboxModel::kEepromSize, 0xFF);
};

// Reads and checks a whole state file; nothing is taken from a file that
// fails. Errors read "line N: why".
bool ParseBoardState(const std::string& text, BoardState* state, std::string* error);
std::string FormatBoardState(const BoardState& state);

// Files the emulated board reads and writes. Their errors say why without
// the path ("No such file or directory"); callers name the file.
enum class FileFault {
  kNone,
  kInvalid,  // not a regular file, or not what it should hold
  kIo,       // the file system failed (permissions, disk, ...)
};

// Follows symbolic links in the last part of `path` to the file they name,
// which need not exist yet. kInvalid when the file is there but is no regular
// file (a directory, a device, a pipe ...): such a path is never written.
FileFault ResolveFile(const std::string& path, std::string* resolved, std::string* error);

// Reads a regular file whole. A missing file gives kNone with *exists false.
FileFault ReadRegularFile(const std::string& path, std::string* text, bool* exists,
                          std::string* error);

// Replaces `path` (a resolved path: no symbolic link) with `text` so that a
// crash leaves either the old or the new file: a temporary file of this
// writer's own in the same folder, flushed to disk, renamed over `path`. An
// existing file keeps its permissions.
bool WriteFileAtomically(const std::string& path, const std::string& text, std::string* error);

}  // namespace emu
