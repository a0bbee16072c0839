// lanewright-cli: the command-line front end over the core. Each subsystem
// registers its commands in a table; the same table drives the parser and
// prints the help, so the two cannot disagree.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "board/device.h"
#include "board/multi_board.h"
#include "board/text_format.h"

namespace emu {
class EmulatedBoard;
class EmulatedRack;
}  // namespace emu
namespace records {
class Store;
struct RunRecord;
}  // namespace records

namespace cli {

// Exit status of the tool, the same for every command.
enum Exit {
  kOk = 0,            // success, or the module passed (PASS)
  kBoardFailure = 1,  // a board or file operation failed (the board busy included)
  kUsage = 2,         // a usage error or invalid input (nothing was sent)
  kFail = 3,          // the module failed a verdict (FAIL)
  kNoVerdict = 4,     // no verdict was reached within the limit
};

// Thrown for a bad command line or an invalid input (a file whose content
// is wrong); Run prints it and exits with 2.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
// Thrown for a failed board operation; Run prints it and exits with 1.
struct BoardError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
// Thrown when a file cannot be opened, read or written; exit 1.
struct FileError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// JSON documents keep the order their keys were set in.
using Json = nlohmann::ordered_json;

struct Context {
  Context(std::ostream& o, std::ostream& e) : out(o), err(e) {}
  std::ostream& out;
  std::ostream& err;
  bool json = false;
  int board_index = 0;
  // --board all: the command runs on every matching board (only commands
  // whose row says `all_boards` get here with it).
  bool all_boards = false;
  std::shared_ptr<HidBackend> backend;
  std::shared_ptr<emu::EmulatedBoard> emulated;  // null on real hardware; board 0 of a rack
  std::shared_ptr<emu::EmulatedRack> rack;       // --emulate-boards N (N > 1), else null
  std::unique_ptr<CDevice> device;
  // True when stdout is a terminal (live tables, progress bars).
  bool interactive = false;
  // A board held by another process: fail at once instead of waiting.
  bool no_wait = false;
  // The command's options as given: values by name ("--csv"), and flags.
  std::map<std::string, std::string> values;
  std::set<std::string> flags;
  // Set by a watch that ended because its reader went away (a closed pipe):
  // not an output error.
  bool reader_gone = false;
  // True when stdout failed because its reader went away (a closed pipe).
  bool ReaderGone() const;

  // Opens the chosen board, or throws BoardError with a message.
  CDevice& Board();
  // Runs `run` on every matching board at once under --board all, else on
  // the chosen board alone; each board with a CDevice and a thread of its
  // own (board/multi_board.h), opened as Board() opens it (waiting for a
  // board another process holds, unless --no-wait; a wait said once per
  // board on stderr). Returns one outcome per board in board order; throws
  // BoardError when there is no board at all, or the chosen one is missing.
  // Not to be mixed with Board() in one command.
  std::vector<board::BoardOutcome> RunOnBoards(const board::BoardFn& run);
  bool Option(const std::string& name, std::string* value) const;
  bool Flag(const std::string& name) const;
  // One JSON document on one line of stdout (a watch prints JSON Lines).
  void PrintJson(const Json& doc);
};

// An option of one command: "--csv FILE", or a flag when `value` is empty.
struct CommandOption {
  std::string name;   // "--csv"
  std::string value;  // "FILE"
  std::string help;   // may run over several lines
};

struct Command {
  std::string name;
  std::string usage;                   // "read ADDR [COUNT]"
  std::string summary;                 // one line
  std::string help;                    // the rest of `COMMAND --help`, before the options
  std::vector<CommandOption> options;  // besides --json and --help
  // Runs with the arguments that are not options, in order.
  std::function<int(Context&, std::vector<std::string>&)> run;
  // Takes --board all (runs on every board through Context::RunOnBoards);
  // any other command refuses it.
  bool all_boards = false;
};

void RegisterBoardCommands(std::vector<Command>& table);
void RegisterModuleCommands(std::vector<Command>& table);
void RegisterSignalCommands(std::vector<Command>& table);
void RegisterTransferCommands(std::vector<Command>& table);
void RegisterRecordsCommands(std::vector<Command>& table);
void RegisterReportCommands(std::vector<Command>& table);
void RegisterQualifyCommands(std::vector<Command>& table);

// Runs the tool. `board` presets the emulated board (tests); otherwise the
// options choose between hidapi and a new emulated board. `link`, when
// given, carries the reports instead of `board` itself (tests put faults
// on the wire with it).
int Run(int argc, char** argv, std::ostream& out, std::ostream& err,
        std::shared_ptr<emu::EmulatedBoard> board = nullptr,
        std::shared_ptr<HidBackend> link = nullptr);

// The tool's stdout: write(2) on a file descriptor, keeping the error of
// the first write that failed, so the tool can say why (a full disk, a
// closed pipe) after the fact.
class FdOutput : public std::streambuf {
 public:
  explicit FdOutput(int fd) : fd_(fd) { setp(buffer_, buffer_ + sizeof buffer_); }
  ~FdOutput() override { sync(); }
  int Error() const { return error_; }  // errno of the first failed write, or 0

 protected:
  int_type overflow(int_type c) override;
  int sync() override;

 private:
  bool Drain();
  int fd_;
  int error_ = 0;
  char buffer_[8192];
};

// "lanewright-cli 1.0" and, when built from a checkout, the git revision.
std::string VersionText();

// Set by SIGINT; long-running commands poll it and end cleanly.
extern std::atomic<bool> g_interrupted;

// Argument helpers. Numbers take decimal or 0x-prefixed hex.
uint64_t ParseNumber(const std::string& text, uint64_t max, const std::string& what);
std::string Hex2(uint8_t value);

// --- Files and output conventions (cli/README.md) ---

// Timestamps in files and JSON: local time with milliseconds and the UTC
// offset, ISO 8601: "2026-03-14T09:26:53.589+01:00".
std::string IsoTime(std::chrono::system_clock::time_point when);
// Module text is raw bytes: ValidUtf8 (board/text_format.h) keeps valid
// UTF-8 and takes every other byte as the Latin-1 character of its value
// (0xA9 becomes U+00A9), so JSON output is valid and still shows what the
// module gave.
using ::ValidUtf8;
// The JSON text of a document, every string passed through ValidUtf8;
// indent < 0 puts it on one line.
std::string DumpJson(const Json& doc, int indent);

// The --csv option of a command and the two that allow an existing file.
std::vector<CommandOption> CsvOptions(const std::string& csv_help);
// Opens the --csv file of the command: an existing file is refused (exit 2)
// unless --append or --overwrite is given. `header` starts a new or
// overwritten file and an empty appended one. Throws FileError when the file
// cannot be opened or the header not written.
std::ofstream OpenCsv(Context& ctx, const std::string& path, const std::string& header);
// Writes `text` to `path` whole or not at all: into a file of its own beside
// it, flushed to the disk, then renamed over it, so a reader never sees half
// a file and one there before stays when writing fails. Throws FileError
// ("COMMAND: cannot write PATH: reason").
void WriteWhole(const std::string& path, const std::string& text, const std::string& command);
// Throws FileError ("FILE: write failed: ...") when `file` has failed.
void CheckWritten(std::ostream& file, const std::string& path);

// --- The records database (cmd_records.cpp) ---

// The --db URL option, for every command that reads or writes records.
CommandOption DbOption();
// Whether a command writes records or only reads them: a reader fails on
// an SQLite file that is not there instead of creating it.
enum class StoreUse { kWrite, kRead };
// The store the command's --db names (else LANEWRIGHT_DB, else the default
// file). Throws records::StoreError: Run exits 2 for a bad URL, 1 otherwise.
std::unique_ptr<records::Store> OpenStore(Context& ctx, StoreUse use = StoreUse::kWrite);
// "2026-03-14T08:26:53.589Z": record times are UTC.
std::string UtcTime(int64_t unix_ms);
// --since: YYYY-MM-DD[THH:MM[:SS]] local time, or with Z or +HH:MM; Unix ms.
int64_t ParseSince(const std::string& text);
// One run's measurements, one CSV row each (RFC 4180, CRLF line ends).
std::string MeasurementsCsv(const records::RunRecord& run);

}  // namespace cli
