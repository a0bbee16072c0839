#include "cli/cli.h"

#include <fcntl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include "board/process_lock.h"
#include "cli/version.h"
#include "emulator/emulated_board.h"
#include "emulator/emulated_rack.h"
#include "emulator/faults.h"
#include "records/store.h"

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
    BoardResult opened = device->OpenBoard(board_index);
    if (opened.status == BoardStatus::kBusy && !no_wait) {
      // One process per board: wait for the one that holds it.
      err << "lanewright-cli: " << opened.Text() << ", waiting ... Ctrl-C to stop" << std::endl;
      while (opened.status == BoardStatus::kBusy && !g_interrupted) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        opened = device->OpenBoard(board_index);
      }
    }
    if (opened.status == BoardStatus::kBusy)
      throw BoardError(opened.Text() + (no_wait ? " (--no-wait)" : ""));
    if (!opened)
      throw BoardError("cannot open board " + std::to_string(board_index) +
                       " (permission? see packaging/99-lanewright.rules)");
  }
  return *device;
}

std::vector<board::BoardOutcome> Context::RunOnBoards(const board::BoardFn& run) {
  auto slots = board::ListBoards(backend);
  if (slots.empty())
    throw BoardError(emulated ? "the emulated board is unplugged"
                              : "no matching test board (0483:0211 version 0200) found");
  if (!all_boards) {
    if (board_index >= static_cast<int>(slots.size()))
      throw BoardError("board index " + std::to_string(board_index) + " not present (" +
                       std::to_string(slots.size()) + " board(s) found)");
    slots = {slots[board_index]};
  }
  board::EachBoardOptions options;
  options.wait = !no_wait;
  auto said = std::make_shared<std::mutex>();
  options.waiting = [this, said](const board::BoardSlot& slot, long pid) {
    std::lock_guard lock(*said);
    err << "lanewright-cli: board " << slot.index << " (" << slot.path
        << "): " << ProcessLock::BusyText(pid) << ", waiting ... Ctrl-C to stop" << std::endl;
  };
  options.cancelled = [] { return g_interrupted.load(); };
  return board::RunOnBoards(backend, slots, run, options);
}

bool Context::Option(const std::string& name, std::string* value) const {
  const auto it = values.find(name);
  if (it == values.end()) return false;
  *value = it->second;
  return true;
}

bool Context::Flag(const std::string& name) const { return flags.count(name) > 0; }

bool Context::ReaderGone() const {
  const auto* fd = dynamic_cast<const FdOutput*>(out.rdbuf());
  return !out && fd && fd->Error() == EPIPE;
}

void Context::PrintJson(const Json& doc) { out << DumpJson(doc, -1) << "\n"; }

bool FdOutput::Drain() {
  const char* at = pbase();
  while (at < pptr()) {
    const ssize_t n = ::write(fd_, at, static_cast<size_t>(pptr() - at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (!error_) error_ = n < 0 ? errno : EIO;
      setp(buffer_, buffer_ + sizeof buffer_);
      return false;
    }
    at += n;
  }
  setp(buffer_, buffer_ + sizeof buffer_);
  return true;
}

FdOutput::int_type FdOutput::overflow(int_type c) {
  if (!Drain()) return traits_type::eof();
  if (!traits_type::eq_int_type(c, traits_type::eof())) {
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
  }
  return traits_type::not_eof(c);
}

int FdOutput::sync() { return Drain() ? 0 : -1; }

std::string VersionText() {
  std::string text = std::string("lanewright-cli ") + kVersion;
  if (*kGitRevision) text += std::string(" (git ") + kGitRevision + ")";
  return text;
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
  if (digits.empty() || digits[0] == '-' || digits[0] == '+' ||
      std::isspace(static_cast<unsigned char>(digits[0])))
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

std::string Hex2(uint8_t value) {
  char buf[4];
  std::snprintf(buf, sizeof buf, "%02X", value);
  return buf;
}

// --- Files and output conventions ---

std::string IsoTime(std::chrono::system_clock::time_point when) {
  using namespace std::chrono;
  const auto ms = duration_cast<milliseconds>(when.time_since_epoch()).count();
  std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  long millis = static_cast<long>(ms % 1000);
  if (millis < 0) {
    millis += 1000;
    --seconds;
  }
  std::tm local{};
  localtime_r(&seconds, &local);
  char date[32], zone[8];
  std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
  std::strftime(zone, sizeof zone, "%z", &local);  // +0100
  char out[48];
  std::snprintf(out, sizeof out, "%s.%03ld%.3s:%.2s", date, millis, zone, zone + 3);
  return out;
}

namespace {
void MakeValid(Json& value) {
  if (value.is_string()) {
    auto& s = value.get_ref<std::string&>();
    s = ValidUtf8(s);
  } else if (value.is_array()) {
    for (auto& item : value) MakeValid(item);
  } else if (value.is_object()) {
    Json fixed = Json::object();
    for (auto& [key, item] : value.items()) {
      MakeValid(item);
      fixed[ValidUtf8(key)] = std::move(item);
    }
    value = std::move(fixed);
  }
}
}  // namespace

// Writes `text` to `path` whole or not at all: into a file of its own beside
// it, flushed to the disk, then renamed over it. A reader never sees half a
// report, and a report there before stays when writing fails.
void WriteWhole(const std::string& path, const std::string& text, const std::string& command) {
  const std::string temp = path + "." + std::to_string(::getpid()) + ".part";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  int error = fd < 0 ? errno : 0;
  for (size_t done = 0; !error && done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      error = n < 0 ? errno : EIO;
    else
      done += static_cast<size_t>(n);
  }
  if (!error && ::fsync(fd) != 0) error = errno;
  if (fd >= 0 && ::close(fd) != 0 && !error) error = errno;
  if (!error && std::rename(temp.c_str(), path.c_str()) != 0) error = errno;
  if (error) {
    if (fd >= 0) ::unlink(temp.c_str());
    throw FileError(command + ": cannot write " + path + ": " + std::strerror(error));
  }
}

std::string DumpJson(const Json& doc, int indent) {
  Json copy = doc;
  MakeValid(copy);
  return copy.dump(indent, ' ', false, Json::error_handler_t::strict);
}

std::vector<CommandOption> CsvOptions(const std::string& csv_help) {
  return {{"--csv", "FILE", csv_help},
          {"--append", "", "add to an existing --csv file (a header only if it is empty)"},
          {"--overwrite", "", "replace an existing --csv file"}};
}

void CheckWritten(std::ostream& file, const std::string& path) {
  if (file) return;
  const int error = errno;
  throw FileError(path + ": write failed" +
                  (error ? std::string(": ") + std::strerror(error) : ""));
}

std::ofstream OpenCsv(Context& ctx, const std::string& path, const std::string& header) {
  namespace fs = std::filesystem;
  const bool append = ctx.Flag("--append"), overwrite = ctx.Flag("--overwrite");
  if (append && overwrite) throw UsageError("give --append or --overwrite, not both");
  std::error_code ec;
  const bool regular = fs::is_regular_file(path, ec);
  if (regular && !append && !overwrite)
    throw UsageError("--csv: " + path + " exists; give --append to add to it or --overwrite");
  if (fs::is_directory(path, ec)) throw FileError("--csv: " + path + " is a directory");
  const bool fresh = !append || !regular || fs::file_size(path, ec) == 0;
  errno = 0;
  std::ofstream file(path, append ? std::ios::app : std::ios::trunc);
  if (!file)
    throw FileError("--csv: cannot open " + path +
                    (errno ? std::string(": ") + std::strerror(errno) : std::string()));
  if (fresh) file << header << "\n" << std::flush;
  CheckWritten(file, path);
  return file;
}

namespace {

std::vector<Command> AllCommands() {
  std::vector<Command> table;
  RegisterBoardCommands(table);
  RegisterModuleCommands(table);
  RegisterSignalCommands(table);
  RegisterTransferCommands(table);
  RegisterRecordsCommands(table);
  RegisterReportCommands(table);
  RegisterQualifyCommands(table);
  return table;
}

// "  --csv FILE          text", continuation lines indented under the text.
void PrintOption(std::ostream& out, const std::string& names, const std::string& value,
                 const std::string& help) {
  constexpr size_t kColumn = 24;
  std::string head = "  " + names;
  if (!value.empty()) head += (value[0] == '[' ? "" : " ") + value;
  if (head.size() + 2 > kColumn) {
    out << head << "\n";
    head.clear();
  }
  head.resize(kColumn, ' ');
  std::istringstream lines(help);
  std::string line;
  bool first = true;
  while (std::getline(lines, line)) {
    out << (first ? head : std::string(kColumn, ' ')) << line << "\n";
    first = false;
  }
  if (first) out << head << "\n";
}

const char* kExitStatusHelp =
    "Exit status: 0 success (or PASS), 1 a board or file operation failed (the\n"
    "board busy included), 2 a usage error or invalid input, 3 the module failed\n"
    "a verdict (FAIL), 4 no verdict was reached within the limit.\n";

void PrintToolHelp(std::ostream& out, const CLI::App& app, const std::vector<Command>& table) {
  out << "Usage: lanewright-cli [OPTIONS] COMMAND [ARGS] [--json]\n\n"
         "Tests 400G QSFP-DD (CMIS) modules through the Lanewright USB test board.\n\n"
         "Options:\n";
  for (const CLI::Option* o : app.get_options()) {
    std::string names;
    for (const auto& s : o->get_snames()) names += (names.empty() ? "-" : ", -") + s;
    for (const auto& l : o->get_lnames()) names += (names.empty() ? "--" : ", --") + l;
    PrintOption(out, names, o->get_type_name(), o->get_description());
  }
  out << "\nCommands:\n";
  for (const auto& c : table) {
    std::string usage = "  " + c.usage;
    if (usage.size() < 34)
      usage.resize(34, ' ');
    else
      usage += "\n" + std::string(34, ' ');
    out << usage << c.summary << "\n";
  }
  out << "\n"
      << kExitStatusHelp
      << "Addresses name module registers: bits 23-16 device (0xA0), 15-8 page,\n"
         "7-0 register; 0xA00080 is page 00h byte 0x80, 0xA0001A lower byte 0x1A.\n"
         "Files and JSON follow the conventions in cli/README.md.\n";
}

void PrintCommandHelp(std::ostream& out, const Command& c) {
  out << "Usage: lanewright-cli [OPTIONS] " << c.usage << " [--json]\n\n" << c.summary << "\n";
  if (!c.help.empty()) out << "\n" << c.help;
  out << "\nOptions:\n";
  for (const auto& o : c.options) PrintOption(out, o.name, o.value, o.help);
  PrintOption(out, "--json", "", "print data as JSON");
  PrintOption(out, "-h, --help", "", "this help");
  out << "\n" << kExitStatusHelp;
}

bool LooksLikeOption(const std::string& word) {
  return word.size() > 1 && word[0] == '-' && !std::isdigit(static_cast<unsigned char>(word[1]));
}

[[noreturn]] void ThrowStateError(const emu::EmulatedBoard::StateError& error,
                                  const std::string& what) {
  using Kind = emu::EmulatedBoard::StateError::Kind;
  if (error.kind == Kind::kInvalid) throw UsageError(what + error.text);
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

// --emulate-ber, when given.
std::optional<std::array<double, 8>> ParseLaneBers(const std::string& text) {
  if (text.empty()) return std::nullopt;
  std::array<double, 8> out;
  std::string error;
  if (!emu::ParseLaneBers(text, &out, &error)) throw UsageError("--emulate-ber: " + error);
  return out;
}

// The global options. To add one: a member here, one line in Define, and
// its use in Run.
struct GlobalOptions {
  static constexpr const char* kInMemory = "\x01";  // plain --emulate
  CLI::Option* emulate = nullptr;
  std::string module_file;
  std::string board = "0";
  bool json = false;
  bool version = false;
  bool no_wait = false;
  bool power_cycle = false;
  bool keep_module = false;
  bool emulate_live = false;
  std::string emulate_ber;
  int emulate_boards = 0;
  std::vector<std::string> emulate_faults;

  void Define(CLI::App& app) {
    const std::string emulate_help =
        "use the built-in emulated board (state kept in memory)\n"
        "--emulate=FILE: the same, keeping the powered board's state\n"
        "(module memory, DSP blocks, PRBS records, clock, mailbox,\n"
        "EEPROM) in FILE across runs; one run holds the board at a time";
    emulate = app.add_flag(std::string("--emulate{") + kInMemory + "}", emulate_help)
                  ->type_name("[=FILE]");
    app.add_option("--emulate-module", module_file,
                   "load a module memory dump into the emulated board, for this run\n"
                   "only (FILE's state keeps its own module)")
        ->type_name("FILE");
    app.add_flag("--emulate-module-keep", keep_module,
                 "keep that module in the --emulate=FILE state")
        ->disable_flag_override();
    app.add_flag("--emulate-live", emulate_live,
                 "a loaded module dump is live at once (default: it reads as captured\n"
                 "until the first write to the module)")
        ->disable_flag_override();
    app.add_flag("--emulate-power-cycle", power_cycle,
                 "power-cycle the emulated board first (without a command: only that)")
        ->disable_flag_override();
    app.add_option("--emulate-ber", emulate_ber,
                   "the emulated lanes' bit-error ratio: one value for all eight\n"
                   "lanes, or eight values B1,...,B8 for DSP lanes 1-8 (0: clean)")
        ->type_name("BER");
    app.add_option("--emulate-boards", emulate_boards,
                   "the emulated board stands for N boards (1-64), each with its own\n"
                   "module (serials ending in -1 ... -N); --board picks one")
        ->type_name("N");
    app.add_option("--emulate-fault", emulate_faults,
                   "a fault of the emulated module, repeatable: tx-stuck=LANES (the\n"
                   "laser stays on when Tx is disabled), tx-los=LANES (Tx LOS\n"
                   "latches), temp-high (above the temperature high alarm),\n"
                   "high-ber=LANES (errors at 1e-4); LANES 1-8, a list or all;\n"
                   "@INDEX at the end: on that board only")
        ->type_name("FAULT")
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.add_option("--board", board,
                   "which matching USB board to use (default 0, see `boards`);\n"
                   "--board all: every board at once, for the commands that take it")
        ->type_name("INDEX");
    app.add_flag("--json", json, "print data as JSON")->disable_flag_override();
    app.add_flag("--no-wait", no_wait,
                 "fail at once when another process holds the board (by default wait)")
        ->disable_flag_override();
    app.add_flag("--version", version, "the version, and the git revision it was built from")
        ->disable_flag_override();
  }
  bool Emulate() const { return emulate->count() > 0; }
  // The --emulate=FILE state file, or "".
  std::string StateFile() const {
    if (!Emulate()) return {};
    const std::string& last = emulate->results().back();
    return last == kInMemory ? std::string() : last;
  }
};

// Why writing to `out` failed, when it says.
int OutputErrno(std::ostream& out) {
  const auto* fd = dynamic_cast<const FdOutput*>(out.rdbuf());
  return fd ? fd->Error() : 0;
}

// The one line that says why stdout failed.
std::string OutputError(std::ostream& out) {
  const int error = OutputErrno(out);
  return std::string("cannot write the output") +
         (error ? std::string(": ") + std::strerror(error) : std::string());
}

}  // namespace

int Run(int argc, char** argv, std::ostream& out, std::ostream& err,
        std::shared_ptr<emu::EmulatedBoard> board, std::shared_ptr<HidBackend> link) {
  std::vector<std::string> words(argv + 1, argv + argc);
  // `--` ends the options: what follows goes to the command as it is.
  std::vector<std::string> tail;
  if (auto mark = std::find(words.begin(), words.end(), "--"); mark != words.end()) {
    tail.assign(mark + 1, words.end());
    words.erase(mark, words.end());
  }
  const auto table = AllCommands();
  Context ctx{out, err};
  ctx.interactive = (&out == &std::cout) && isatty(STDOUT_FILENO);
  std::shared_ptr<emu::EmulatedBoard> emulated = board;

  CLI::App app("lanewright-cli");
  app.require_subcommand(0, 1);  // a later word that names a command is an argument
  app.allow_extras();
  app.set_help_flag("-h,--help", "this help; `COMMAND --help` explains a command");
  GlobalOptions global;
  global.Define(app);
  std::vector<std::string> positionals;
  std::map<const CLI::App*, const Command*> command_of;
  std::vector<std::pair<const Command*, std::vector<std::pair<std::string, CLI::Option*>>>>
      parsed_options;
  for (const auto& c : table) {
    CLI::App* sub = app.add_subcommand(c.name, c.summary);
    sub->allow_extras();
    command_of[sub] = &c;
    sub->add_flag("--json", global.json, "print data as JSON")->disable_flag_override();
    sub->add_option("ARGS", positionals)->expected(0, 1024);
    std::vector<std::pair<std::string, CLI::Option*>> options;
    for (const auto& o : c.options) {
      CLI::Option* opt = o.value.empty() ? sub->add_flag(o.name, o.help)->disable_flag_override()
                                         : sub->add_option(o.name, o.help)->type_name(o.value);
      options.emplace_back(o.name, opt);
    }
    parsed_options.emplace_back(&c, std::move(options));
  }

  // What changed before a failure is kept; a state file that failed to load
  // was never taken, so nothing is written to it.
  auto close_state = [&] {
    ctx.device.reset();
    if (emulated && !board) emulated->CloseState(nullptr);
  };
  auto Failed = [&](const char* what) {
    close_state();
    err << "lanewright-cli: " << what << "\n";
    return static_cast<int>(kBoardFailure);
  };
  try {
    try {
      std::vector<std::string> reversed(words.rbegin(), words.rend());
      app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
      const auto chosen = app.get_subcommands();
      if (chosen.empty())
        PrintToolHelp(out, app, table);
      else
        PrintCommandHelp(out, *command_of.at(chosen.front()));
      out.flush();
      if (!out) throw FileError(OutputError(out));
      return kOk;
    } catch (const CLI::ParseError& e) {
      std::string what = e.what();
      what = what.substr(0, what.find('\n'));
      throw UsageError(what + " (see --help)");
    }
    if (std::find(words.begin(), words.end(), "--emulate=") != words.end())
      throw UsageError("--emulate=FILE needs a file name");
    if (std::find(words.begin(), words.end(), "--emulate-module=") != words.end())
      throw UsageError("--emulate-module=FILE needs a file name");
    if (global.keep_module && global.module_file.empty())
      throw UsageError("--emulate-module-keep needs --emulate-module FILE");
    if (global.keep_module && global.StateFile().empty())
      throw UsageError(
          "--emulate-module-keep keeps the module in a state file: add --emulate=FILE");
    if (global.power_cycle && !global.Emulate() && !board)
      throw UsageError("--emulate-power-cycle works on the emulated board (--emulate)");
    if (global.version) {
      out << VersionText() << "\n" << std::flush;
      if (!out) throw FileError(OutputError(out));
      return kOk;
    }
    for (const auto& extra : app.remaining())
      throw UsageError(LooksLikeOption(extra) ? "unknown option " + extra + " (see --help)"
                                              : "unknown command \"" + extra + "\" (see --help)");
    const auto chosen = app.get_subcommands();
    if (chosen.empty()) {
      if (!tail.empty()) throw UsageError("unknown command \"" + tail.front() + "\" (see --help)");
      // --emulate-power-cycle without a command does only the power cycle.
      if (!global.power_cycle) {
        PrintToolHelp(err, app, table);
        return kUsage;
      }
    }
    const Command* command = chosen.empty() ? nullptr : command_of.at(chosen.front());
    for (const auto& extra :
         chosen.empty() ? std::vector<std::string>{} : chosen.front()->remaining()) {
      const bool global_option =
          app.get_option_no_throw(extra.substr(0, extra.find('='))) != nullptr;
      throw UsageError("unknown option " + extra + " for " + command->name +
                       (global_option ? " (global options stand before the command)"
                                      : " (see " + command->name + " --help)"));
    }
    for (const auto& [c, options] : parsed_options) {
      if (c != command) continue;
      for (const auto& [name, opt] : options) {
        if (opt->count() == 0) continue;
        if (opt->get_items_expected_max() == 0)
          ctx.flags.insert(name);
        else
          ctx.values[name] = opt->results().back();
      }
    }
    positionals.insert(positionals.end(), tail.begin(), tail.end());
    ctx.json = global.json;
    ctx.no_wait = global.no_wait;
    if (global.board == "all") {
      if (command && !command->all_boards) {
        std::string takers;
        for (const auto& c : table)
          if (c.all_boards) takers += (takers.empty() ? "" : ", ") + c.name;
        throw UsageError("--board all: " + command->name + " runs on one board (--board INDEX); " +
                         (takers.empty() ? std::string("no command runs on every board")
                                         : "--board all is for " + takers));
      }
      ctx.all_boards = true;
    } else {
      ctx.board_index = static_cast<int>(ParseNumber(global.board, 255, "--board"));
    }

    const std::string state_file = global.StateFile();
    const int board_count = global.emulate_boards;
    if (app.get_option("--emulate-boards")->count() > 0 &&
        (board_count < 1 || board_count > emu::EmulatedRack::kMaxBoards))
      throw UsageError("--emulate-boards: " + std::to_string(board_count) + " is not 1-" +
                       std::to_string(emu::EmulatedRack::kMaxBoards));
    if (board_count > 1 && !state_file.empty())
      throw UsageError(
          "--emulate-boards keeps its boards in memory: give --emulate, not "
          "--emulate=FILE");
    std::vector<emu::FaultSpec> faults;
    for (const auto& text : global.emulate_faults) {
      emu::FaultSpec fault;
      std::string why;
      if (!emu::ParseFault(text, &fault, &why)) throw UsageError("--emulate-fault " + why);
      if (fault.board >= std::max(board_count, 1))
        throw UsageError("--emulate-fault " + text + ": no board " + std::to_string(fault.board) +
                         " (" + std::to_string(std::max(board_count, 1)) + " emulated)");
      faults.push_back(fault);
    }
    const bool emulate = global.Emulate() || !global.module_file.empty() ||
                         !global.emulate_ber.empty() || board_count > 0 || !faults.empty();
    const auto lane_bers = ParseLaneBers(global.emulate_ber);
    if (emulate && !emulated) {
      emulated = std::make_shared<emu::EmulatedBoard>();
      if (!state_file.empty()) OpenStateFile(*emulated, state_file, global.no_wait, err);
    }
    std::shared_ptr<emu::EmulatedRack> rack;
    if (emulated && board_count > 1)
      rack = std::make_shared<emu::EmulatedRack>(board_count, emulated);
    std::vector<std::shared_ptr<emu::EmulatedBoard>> boards;
    if (rack)
      boards = rack->Boards();
    else if (emulated)
      boards = {emulated};
    if (emulated && !global.module_file.empty()) {
      for (const auto& b : boards) {
        emu::EmulatedBoard::StateError error;
        if (!b->LoadModuleDumpFile(global.module_file, global.keep_module, &error))
          ThrowStateError(error, "module dump: ");
        if (global.emulate_live) {
          auto lock = b->Lock();
          b->Module().StartLive();
        }
      }
      if (rack) rack->NumberModules();
    }
    for (const auto& b : boards) {
      if (global.power_cycle) b->PowerCycle();
      if (lane_bers) {
        auto lock = b->Lock();
        for (int lane = 1; lane <= 8; ++lane) b->Prbs().SetLaneBer(lane, (*lane_bers)[lane - 1]);
      }
    }
    for (const auto& fault : faults)
      for (size_t i = 0; i < boards.size(); ++i)
        if (fault.board < 0 || fault.board == static_cast<int>(i))
          emu::ApplyFault(*boards[i], fault);
    ctx.emulated = emulated;
    ctx.rack = rack;
    ctx.backend = link       ? link
                  : rack     ? std::shared_ptr<HidBackend>(rack)
                  : emulated ? std::shared_ptr<HidBackend>(emulated)
                             : MakeHidapiBackend();

    int status = command ? command->run(ctx, positionals) : kOk;
    ctx.device.reset();
    if (emulated && !board) {
      std::string error;
      if (!emulated->CloseState(&error)) {
        err << "lanewright-cli: cannot save the emulated board state: " << error << "\n";
        if (status == kOk) status = kBoardFailure;
      }
    }
    out.flush();
    if (!out && !ctx.reader_gone) {
      err << "lanewright-cli: " << OutputError(out) << "\n";
      if (status == kOk) status = kBoardFailure;
    }
    return status;
  } catch (const UsageError& e) {
    close_state();
    err << "lanewright-cli: " << e.what() << "\n";
    return kUsage;
  } catch (const BoardError& e) {
    return Failed(e.what());
  } catch (const FileError& e) {
    return Failed(e.what());
  } catch (const records::StoreError& e) {
    if (e.kind != records::StoreError::Kind::kBadUrl) return Failed(e.what());
    close_state();
    err << "lanewright-cli: " << e.what() << "\n";
    return kUsage;
  }
}

}  // namespace cli
