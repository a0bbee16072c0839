// EEPROM transfer commands: load a page file through the board, check it.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <ostream>

#include "cli/cli.h"
#include "transfer/transfer_engine.h"
#include "transfer/transfer_texts.h"

namespace cli {
namespace {

using transfer::Job;
using transfer::Outcome;
namespace texts = transfer::texts;

// Log lines on stderr; on a terminal a progress bar under them.
class Reporter {
 public:
  Reporter(std::ostream& err, bool bar) : err_(err), bar_(bar) {}
  ~Reporter() { EndBar(); }

  void Log(const std::string& text) {
    std::lock_guard lock(mutex_);
    ClearBar();
    err_ << text << "\n";
    DrawBar();
  }
  void Progress(const transfer::Progress& p) {
    std::lock_guard lock(mutex_);
    last_ = p;
    shown_ = true;
    ClearBar();
    DrawBar();
  }
  void EndBar() {
    std::lock_guard lock(mutex_);
    if (bar_ && drawn_) err_ << "\n" << std::flush;
    drawn_ = false;
    shown_ = false;
  }

 private:
  void ClearBar() {
    if (bar_ && drawn_) err_ << "\r\033[K";
    drawn_ = false;
  }
  void DrawBar() {
    if (!bar_ || !shown_) return;
    constexpr int kWidth = 40;
    const int filled = last_.percent * kWidth / 100;
    err_ << "[" << std::string(filled, '#') << std::string(kWidth - filled, '.') << "] ";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%3d %%  %zu/%zu bytes", last_.percent, last_.done, last_.total);
    err_ << buf << std::flush;
    drawn_ = true;
  }

  std::ostream& err_;
  const bool bar_;
  std::mutex mutex_;
  transfer::Progress last_;
  bool shown_ = false, drawn_ = false;
};

int Eeprom(Context& ctx, std::vector<std::string>& args) {
  if (args.size() != 2 || (args[0] != "load" && args[0] != "check"))
    throw UsageError("usage: eeprom load FILE | eeprom check FILE");
  const bool load = args[0] == "load";
  const std::string& path = args[1];
  const std::string name = "eeprom " + args[0];

  const bool bar = &ctx.err == &std::cerr && isatty(STDERR_FILENO);
  Reporter reporter(ctx.err, bar);
  if (!ctx.device) ctx.device = std::make_unique<CDevice>(ctx.backend);
  transfer::TransferEngine engine(
      *ctx.device, {[&](const std::string& text) { reporter.Log(text); },
                    [&](const transfer::Progress& p) { reporter.Progress(p); }, nullptr});

  // `told`: the reason is on stderr already (a log line or a message).
  auto report = [&](Outcome outcome, size_t bytes, const std::string& detail, int status,
                    bool told = false) {
    reporter.EndBar();
    if (ctx.json) {
      Json doc = {{"operation", args[0]},
                  {"file", path},
                  {"bytes", bytes},
                  {"outcome", transfer::OutcomeName(outcome)}};
      if (!detail.empty()) doc["detail"] = detail;
      ctx.PrintJson(doc);
    } else if (status == kOk) {
      ctx.out << (load ? "loaded " : "checked ") << bytes << " bytes from " << path
              << (load ? "\n" : ": intact\n");
    }
    if (status == kBoardFailure && !detail.empty() && !told)
      ctx.err << "lanewright-cli: " << name << ": " << detail << "\n";
    return status;
  };

  // The page file first: an unusable file never reaches the board.
  transfer::OpenError open_error;
  switch (engine.ReadPageFile(path, &open_error)) {
    case transfer::TransferEngine::ReadStatus::kCannotOpen: {
      auto message = texts::CannotOpen(open_error.code, open_error.words);
      std::replace(message.begin(), message.end(), '\n', ' ');  // one line on stderr
      ctx.err << "lanewright-cli: " << name << ": " << path << ": " << message << "\n";
      return report(Outcome::kInvalidFile, 0, message, kBoardFailure, true);
    }
    case transfer::TransferEngine::ReadStatus::kNoData: {
      transfer::PageText text;
      transfer::ReadPageFile(path, &text, nullptr);
      const auto words = text.NoDataWords();
      ctx.err << "lanewright-cli: " << name << ": " << path << ": " << words << "\n";
      return report(Outcome::kInvalidFile, 0, words, kUsage);
    }
    default:
      break;
  }
  engine.StartConversion();
  engine.Wait(Job::kConversion);
  const auto converted = engine.LastResult(Job::kConversion);
  if (converted.outcome != Outcome::kDone)
    return report(converted.outcome, 0, converted.detail, kUsage);
  const size_t bytes = engine.Image().size();

  ctx.Board();
  const Job job = load ? Job::kLoad : Job::kCheck;
  load ? engine.StartLoad() : engine.StartCheck();
  bool cancelled = false;
  while (!engine.Wait(job, 50)) {
    if (!g_interrupted || cancelled) continue;
    if (!load) return report(Outcome::kStopped, bytes, "interrupted", kBoardFailure);
    engine.CancelLoad();  // stops between two exchanges and says so
    cancelled = true;
  }
  const auto result = engine.LastResult(job);
  return report(result.outcome, bytes, result.detail,
                result.outcome == Outcome::kDone ? kOk : kBoardFailure);
}

}  // namespace

void RegisterTransferCommands(std::vector<Command>& table) {
  table.push_back({"eeprom",
                   "eeprom load|check FILE",
                   "load a page file into the EEPROM, or check it",
                   "load   converts the page file into an image and writes it through the\n"
                   "       board's EEPROM load mode, 32 bytes per block.\n"
                   "check  reads the image back the same way and compares it byte by byte.\n\n"
                   "A page file holds 8-digit hexadecimal groups (least significant byte first\n"
                   "in the image), read across line ends; lines starting with \"/\" are comments.\n"
                   "Log lines go to stderr, with a progress bar on a terminal. Ctrl-C stops a\n"
                   "load between two board exchanges.\n\n"
                   "Exit status: 0 the load completed or the image is intact; 1 the file cannot\n"
                   "be opened, the board failed, the check found a difference or the load was\n"
                   "stopped; 2 not a valid page file.\n\n"
                   "Example: lanewright-cli --emulate=board.state eeprom load image.txt\n",
                   {},
                   Eeprom});
}

}  // namespace cli
