#include "cli/cli.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <sstream>

#include "emulator/emulated_board.h"

namespace cli {

std::atomic<bool> g_interrupted{false};

CDevice& Context::Board() {
  if (!device) device = std::make_unique<CDevice>(backend);
  if (device->OpenPath().empty()) {
    const int count = device->FindDevices();
    if (count == 0)
      throw BoardError(emulated ? "the emulated board is unplugged"
                                : "no matching test board (0483:0211 version 0200) found");
    if (board_index >= count)
      throw BoardError("board index " + std::to_string(board_index) + " not present (" +
                       std::to_string(count) + " board(s) found)");
    if (!device->OpenBoard(board_index))
      throw BoardError("cannot open board " + std::to_string(board_index) +
                       " (permission? see packaging/99-lanewright.rules)");
  }
  return *device;
}

uint64_t ParseNumber(const std::string& text, uint64_t max, const std::string& what) {
  if (text.empty()) throw UsageError(what + ": empty number");
  size_t pos = 0;
  int base = 10;
  std::string digits = text;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    digits = text.substr(2);
  }
  if (digits.empty() || digits[0] == '-' || digits[0] == '+')
    throw UsageError(what + ": \"" + text + "\" is not a number");
  uint64_t value = 0;
  try {
    value = std::stoull(digits, &pos, base);
  } catch (...) {
    throw UsageError(what + ": \"" + text + "\" is not a number");
  }
  if (pos != digits.size()) throw UsageError(what + ": \"" + text + "\" is not a number");
  if (value > max) {
    std::ostringstream s;
    s << what << ": " << text << " is above the limit " << max << " (0x" << std::hex
      << std::uppercase << max << ")";
    throw UsageError(s.str());
  }
  return value;
}

bool TakeFlag(std::vector<std::string>& args, const std::string& flag) {
  auto it = std::find(args.begin(), args.end(), flag);
  if (it == args.end()) return false;
  args.erase(it);
  return true;
}

bool TakeOption(std::vector<std::string>& args, const std::string& flag, std::string* value) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == flag) {
      if (i + 1 >= args.size()) throw UsageError(flag + " needs a value");
      *value = args[i + 1];
      args.erase(args.begin() + i, args.begin() + i + 2);
      return true;
    }
    if (args[i].rfind(flag + "=", 0) == 0) {
      *value = args[i].substr(flag.size() + 1);
      args.erase(args.begin() + i);
      return true;
    }
  }
  return false;
}

void ExpectNoMoreOptions(const std::vector<std::string>& args) {
  for (const auto& a : args)
    if (a.size() > 1 && a[0] == '-' && !std::isdigit(static_cast<unsigned char>(a[1])))
      throw UsageError("unknown option " + a);
}

namespace {
// Length of the valid UTF-8 sequence starting at text[i], or 0.
size_t Utf8Length(const std::string& text, size_t i) {
  const auto c = static_cast<unsigned char>(text[i]);
  size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
  if (n == 0 || i + n > text.size()) return 0;
  for (size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 0;
  return n;
}
}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      // Module text fields are raw bytes: keep valid UTF-8, escape the rest.
      if (size_t n = Utf8Length(text, i)) {
        out.append(text, i, n);
        i += n - 1;
      } else {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\u%04x", c);
        out += buf;
      }
      continue;
    }
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

std::string Hex2(uint8_t value) {
  char buf[4];
  std::snprintf(buf, sizeof buf, "%02X", value);
  return buf;
}

namespace {

std::vector<Command> AllCommands() {
  std::vector<Command> table;
  RegisterBoardCommands(table);
  RegisterModuleCommands(table);
  RegisterSignalCommands(table);
  RegisterTransferCommands(table);
  return table;
}

void PrintToolHelp(std::ostream& out, const std::vector<Command>& table) {
  out << "Usage: lanewright-cli [--emulate[=FILE]] [--emulate-module FILE] [--board INDEX]\n"
         "                      COMMAND [ARGS] [--json]\n\n"
         "Tests 400G QSFP-DD (CMIS) modules through the Lanewright USB test board.\n\n"
         "Options:\n"
         "  --emulate            use the built-in emulated board (state kept in memory)\n"
         "  --emulate=FILE       the same, keeping the powered board's state (module\n"
         "                       memory, DSP blocks, PRBS records, clock, mailbox, EEPROM)\n"
         "                       in FILE across runs; one run holds the board at a time\n"
         "  --no-wait            fail at once when another run holds the board\n"
         "  --emulate-power-cycle  power-cycle the emulated board first (alone: only that)\n"
         "  --emulate-module FILE  load a module memory dump into the emulated board, for\n"
         "                       this run only (FILE's state keeps its own module)\n"
         "  --emulate-module-keep  keep that module in the --emulate=FILE state\n"
         "  --board INDEX        which matching USB board to use (default 0, see `boards`)\n"
         "  --json               print data as JSON\n"
         "  -h, --help           this help; `COMMAND --help` explains a command\n\n"
         "Commands:\n";
  for (const auto& c : table) {
    std::string usage = "  " + c.usage;
    if (usage.size() < 34) usage.resize(34, ' ');
    else usage += "\n" + std::string(34, ' ');
    out << usage << c.summary << "\n";
  }
  out << "\nExit status: 0 success, 1 a board operation failed (the board busy under\n"
         "--no-wait included), 2 a usage error or invalid input.\n"
         "Addresses name module registers: bits 23-16 device (0xA0), 15-8 page,\n"
         "7-0 register; 0xA00080 is page 00h byte 0x80, 0xA0001A lower byte 0x1A.\n";
}

[[noreturn]] void ThrowStateError(const emu::EmulatedBoard::StateError& error,
                                  const std::string& what) {
  using Kind = emu::EmulatedBoard::StateError::Kind;
  if (error.kind == Kind::kInvalid) throw InputError(what + error.text);
  if (error.kind == Kind::kBusy) throw BoardError(error.text);
  throw BoardError(what + error.text);
}

// Takes the emulated board's state file: waits while another run holds the
// board (saying so once), or fails at once under --no-wait.
void OpenStateFile(emu::EmulatedBoard& board, const std::string& path, bool no_wait,
                   std::ostream& err) {
  emu::EmulatedBoard::StateOptions options;
  options.wait = !no_wait;
  options.waiting = [&err](long pid) {
    err << "lanewright-cli: " << ProcessLock::BusyText(pid) << ", waiting ... Ctrl-C to stop\n"
        << std::flush;
  };
  options.cancelled = [] { return g_interrupted.load(); };
  emu::EmulatedBoard::StateError error;
  if (board.OpenState(path, options, &error)) return;
  if (error.kind == emu::EmulatedBoard::StateError::Kind::kBusy && !no_wait)
    throw BoardError("interrupted while waiting: " + error.text);
  ThrowStateError(error, "emulated board state: ");
}

}  // namespace

int Run(int argc, char** argv, std::ostream& out, std::ostream& err,
        std::shared_ptr<emu::EmulatedBoard> board) {
  std::vector<std::string> args(argv + 1, argv + argc);
  const auto table = AllCommands();
  Context ctx{out, err, false, 0, nullptr, nullptr, nullptr};
  ctx.interactive = (&out == &std::cout) && isatty(STDOUT_FILENO);
  std::shared_ptr<emu::EmulatedBoard> emulated = board;
  // What changed before a failure is kept; a state file that failed to load
  // was never taken, so nothing is written to it.
  auto close_state = [&] {
    ctx.device.reset();
    if (emulated && !board) emulated->CloseState(nullptr);
  };
  try {
    // Global options stand before the command.
    std::string state_file, module_file;
    bool emulate = false, no_wait = false, power_cycle = false, keep_module = false;
    size_t i = 0;
    while (i < args.size() && args[i].size() > 1 && args[i][0] == '-') {
      const std::string& a = args[i];
      if (a == "--emulate") {
        emulate = true;
      } else if (a.rfind("--emulate=", 0) == 0) {
        emulate = true;
        state_file = a.substr(10);
        if (state_file.empty()) throw UsageError("--emulate=FILE needs a file name");
      } else if (a == "--emulate-module" || a.rfind("--emulate-module=", 0) == 0) {
        if (a == "--emulate-module") {
          if (i + 1 >= args.size()) throw UsageError("--emulate-module needs a file");
          module_file = args[++i];
        } else {
          module_file = a.substr(17);
          if (module_file.empty()) throw UsageError("--emulate-module=FILE needs a file name");
        }
        emulate = true;
      } else if (a == "--emulate-module-keep") {
        keep_module = true;
      } else if (a == "--emulate-power-cycle") {
        power_cycle = true;
      } else if (a == "--no-wait") {
        no_wait = true;
      } else if (a == "--board") {
        if (i + 1 >= args.size()) throw UsageError("--board needs an index");
        ctx.board_index = static_cast<int>(ParseNumber(args[++i], 255, "--board"));
      } else if (a == "--json") {
        ctx.json = true;
      } else if (a == "-h" || a == "--help") {
        PrintToolHelp(out, table);
        return kOk;
      } else {
        throw UsageError("unknown option " + a + " (see --help)");
      }
      ++i;
    }
    args.erase(args.begin(), args.begin() + i);
    if (keep_module && module_file.empty())
      throw UsageError("--emulate-module-keep needs --emulate-module FILE");
    if (keep_module && state_file.empty())
      throw UsageError(
          "--emulate-module-keep keeps the module in a state file: add --emulate=FILE");
    if (power_cycle && !emulate && !board)
      throw UsageError("--emulate-power-cycle works on the emulated board (--emulate)");
    if (args.empty() && !power_cycle) {
      PrintToolHelp(err, table);
      return kUsage;
    }
    // --emulate-power-cycle without a command does only the power cycle.
    const std::string name = args.empty() ? "" : args.front();
    if (!args.empty()) args.erase(args.begin());
    auto cmd = std::find_if(table.begin(), table.end(),
                            [&](const Command& c) { return c.name == name; });
    if (cmd == table.end() && !name.empty())
      throw UsageError("unknown command \"" + name + "\" (see --help)");
    if (cmd != table.end() && (TakeFlag(args, "--help") || TakeFlag(args, "-h"))) {
      out << "Usage: lanewright-cli [OPTIONS] " << cmd->usage << "\n\n"
          << cmd->summary << "\n";
      if (!cmd->help.empty()) out << "\n" << cmd->help;
      return kOk;
    }
    if (TakeFlag(args, "--json")) ctx.json = true;

    if (emulate && !emulated) {
      emulated = std::make_shared<emu::EmulatedBoard>();
      if (!state_file.empty()) OpenStateFile(*emulated, state_file, no_wait, err);
    }
    if (emulated && !module_file.empty()) {
      emu::EmulatedBoard::StateError error;
      if (!emulated->LoadModuleDumpFile(module_file, keep_module, &error))
        ThrowStateError(error, "module dump: ");
    }
    if (emulated && power_cycle) emulated->PowerCycle();
    ctx.emulated = emulated;
    ctx.backend = emulated ? std::shared_ptr<HidBackend>(emulated) : MakeHidapiBackend();

    const int status = cmd == table.end() ? kOk : cmd->run(ctx, args);
    ctx.device.reset();
    if (emulated && !board) {
      std::string error;
      if (!emulated->CloseState(&error)) {
        err << "lanewright-cli: cannot save the emulated board state: " << error << "\n";
        return status == kOk ? kBoardFailure : status;
      }
    }
    return status;
  } catch (const UsageError& e) {
    close_state();
    err << "lanewright-cli: " << e.what() << "\n";
    return kUsage;
  } catch (const InputError& e) {
    close_state();
    err << "lanewright-cli: " << e.what() << "\n";
    return kUsage;
  } catch (const BoardError& e) {
    close_state();
    err << "lanewright-cli: " << e.what() << "\n";
    return kBoardFailure;
  }
}

}  // namespace cli
