// Runs lanewright-cli in-process against an emulated board.
#pragma once

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "emulator/emulated_board.h"

namespace cli_test {

struct CliResult {
  int status;
  std::string out, err;
};

// With a null `board` the tool makes its own from the options (--emulate=FILE).
inline CliResult RunCliOn(std::shared_ptr<emu::EmulatedBoard> board, std::vector<std::string> args) {
  args.insert(args.begin(), "lanewright-cli");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  std::ostringstream out, err;
  const int status = cli::Run(static_cast<int>(argv.size()), argv.data(), out, err, board);
  return {status, out.str(), err.str()};
}

// Runs against `board`, or a fresh emulated board.
inline CliResult RunCli(std::vector<std::string> args,
                        std::shared_ptr<emu::EmulatedBoard> board = nullptr) {
  return RunCliOn(board ? board : std::make_shared<emu::EmulatedBoard>(), std::move(args));
}

}  // namespace cli_test
