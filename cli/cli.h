// lanewright-cli: the command-line front end over the core. Each subsystem
// registers its commands in a table; the same table prints the help.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "board/device.h"

namespace emu {
class EmulatedBoard;
}

namespace cli {

// Exit status of the tool.
enum Exit { kOk = 0, kBoardFailure = 1, kUsage = 2 };

// Thrown for a bad command line; main prints it and exits with 2.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
// Thrown for an input file that is not what it should be (a corrupt
// emulated board state, a bad module dump); main prints it and exits with 2.
struct InputError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
// Thrown for a failed board operation; main prints it and exits with 1.
struct BoardError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Context {
  std::ostream& out;
  std::ostream& err;
  bool json = false;
  int board_index = 0;
  std::shared_ptr<HidBackend> backend;
  std::shared_ptr<emu::EmulatedBoard> emulated;  // null on real hardware
  std::unique_ptr<CDevice> device;
  // True when stdout is a terminal (live tables, progress bars).
  bool interactive = false;

  // Opens the chosen board, or throws BoardError with a message.
  CDevice& Board();
};

struct Command {
  std::string name;
  std::string usage;    // "read ADDR [COUNT]"
  std::string summary;  // one line
  std::string help;     // the rest of `COMMAND --help`
  std::function<int(Context&, std::vector<std::string>&)> run;
};

void RegisterBoardCommands(std::vector<Command>& table);
void RegisterModuleCommands(std::vector<Command>& table);
void RegisterSignalCommands(std::vector<Command>& table);
void RegisterTransferCommands(std::vector<Command>& table);

// Runs the tool. `board` presets the emulated board (tests); otherwise the
// options choose between hidapi and a new emulated board.
int Run(int argc, char** argv, std::ostream& out, std::ostream& err,
        std::shared_ptr<emu::EmulatedBoard> board = nullptr);

// Set by SIGINT; long-running commands poll it and end cleanly.
extern std::atomic<bool> g_interrupted;

// Argument helpers. Numbers take decimal or 0x-prefixed hex.
uint64_t ParseNumber(const std::string& text, uint64_t max, const std::string& what);
// Removes `--flag` (true if present) or `--flag VALUE` / `--flag=VALUE`.
bool TakeFlag(std::vector<std::string>& args, const std::string& flag);
bool TakeOption(std::vector<std::string>& args, const std::string& flag, std::string* value);
void ExpectNoMoreOptions(const std::vector<std::string>& args);
std::string JsonString(const std::string& text);
std::string Hex2(uint8_t value);

}  // namespace cli
