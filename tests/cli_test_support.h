// Runs lanewright-cli in-process against an emulated board, or the built
// binary through the shell (output redirections, pipes, signals).
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli.h"
#include "emulator/emulated_board.h"

namespace cli_test {

struct CliResult {
  int status;
  std::string out, err;
};

// With a null `board` the tool makes its own from the options (--emulate=FILE).
inline CliResult RunCliOn(std::shared_ptr<emu::EmulatedBoard> board, std::vector<std::string> args,
                          std::shared_ptr<HidBackend> link = nullptr) {
  args.insert(args.begin(), "lanewright-cli");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  std::ostringstream out, err;
  const int status = cli::Run(static_cast<int>(argv.size()), argv.data(), out, err, board, link);
  return {status, out.str(), err.str()};
}

// Runs against `board`, or a fresh emulated board.
inline CliResult RunCli(std::vector<std::string> args,
                        std::shared_ptr<emu::EmulatedBoard> board = nullptr) {
  return RunCliOn(board ? board : std::make_shared<emu::EmulatedBoard>(), std::move(args));
}

// The tool's JSON output, parsed strictly (one document, valid UTF-8).
inline nlohmann::json Json(const std::string& text) { return nlohmann::json::parse(text); }

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

#ifdef LW_CLI_BINARY
// Runs `command` with /bin/sh in `dir`, lanewright-cli first on the PATH.
// With `interrupt_after_ms` > 0 the command's process group gets SIGINT
// then, as Ctrl-C would send it; the shell itself ignores it, so pipelines
// finish on their own. Commands still running after `limit_ms` are killed
// (status -1).
inline CliResult RunShell(const std::string& command, const std::string& dir,
                          int interrupt_after_ms = 0, int limit_ms = 60000) {
  const std::string bin = LW_CLI_BINARY;
  const std::string out_path = dir + "/.stdout", err_path = dir + "/.stderr";
  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    if (chdir(dir.c_str()) != 0) _exit(127);
    const std::string path = bin.substr(0, bin.rfind('/')) + ":" + getenv("PATH");
    setenv("PATH", path.c_str(), 1);
    const std::string script = "trap '' INT; " + command;
    if (!freopen(out_path.c_str(), "w", stdout) || !freopen(err_path.c_str(), "w", stderr))
      _exit(127);
    execl("/bin/sh", "sh", "-c", script.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  setpgid(pid, pid);
  const auto start = std::chrono::steady_clock::now();
  bool interrupted = false;
  int raw = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &raw, WNOHANG);
    if (done == pid) break;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    if (interrupt_after_ms > 0 && !interrupted && ms >= interrupt_after_ms) {
      kill(-pid, SIGINT);
      interrupted = true;
    }
    if (ms > limit_ms) {
      kill(-pid, SIGKILL);
      waitpid(pid, &raw, 0);
      return {-1, ReadFile(out_path), ReadFile(err_path)};
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  return {status, ReadFile(out_path), ReadFile(err_path)};
}
#endif

}  // namespace cli_test
