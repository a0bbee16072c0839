// Signal test commands: the PRBS BER test, the DSP configuration block and
// the board power reading.
#include <fmt/format.h>

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "board/text_format.h"
#include "cli/cli.h"
#include "signal/ber_stats.h"
#include "signal/board_steps.h"
#include "signal/dsp_json.h"
#include "signal/dsp_page_model.h"
#include "signal/line_check.h"

namespace cli {
namespace {

using namespace sigtest;
using Clock = std::chrono::steady_clock;

// A number with `digits` significant digits (scientific) or decimals
// (fixed), as JSON prints it.
double Rounded(double value, std::chars_format format, int digits) {
  char text[64];
  const auto end = std::to_chars(text, text + sizeof text, value, format, digits).ptr;
  double out = 0;
  std::from_chars(text, end, out);
  return out;
}

// The verdict settings of a run, when it asks for one.
struct VerdictRun {
  bool on = false;     // --target or --until-verdict given
  bool until = false;  // stop once every lane has a verdict
  VerdictRule rule;
};

// The upper bound at the run's confidence, or nothing before the lane locked.
std::optional<double> UpperBound(const LineCheck& check, int lane, const VerdictRule& rule) {
  const LaneCount c = check.Count(lane);
  if (!c.ever_locked) return std::nullopt;
  return BerUpperBound(c.errors, c.bits, rule.confidence);
}

std::string BoundText(const std::optional<double>& bound) {
  return bound ? "<" + Sprintf("%0.2e", *bound) : "-";
}

// One line per channel: Channel, lane, type, BER, errors, time; then the
// upper bound at the confidence, lock losses and, for a verdict run, the
// lane's verdict. A lane that never locked shows no BER.
void PrintChannels(std::ostream& out, const LineCheck& check, const VerdictRun& v) {
  out << "Channel  Lane  Type     BER        Errors     Time      Bound      Losses";
  out << (v.on ? "  Verdict\n" : "\n");
  for (int channel = 1; channel <= kLanes; ++channel) {
    const int lane = LaneOfChannel(channel);
    const auto& shown = check.ShownLane(lane);
    const bool locked_once = check.History(lane).ever_locked;
    out << fmt::format(
        "{:<8} {:<5} {:<8} {:<10} {:<10} {:<9} {:<10} {:<6}", channel, lane,
        shown.type.empty() ? "-" : shown.type, shown.ber.empty() || !locked_once ? "-" : shown.ber,
        shown.errors.empty() ? "-" : shown.errors, shown.time.empty() ? "-" : shown.time,
        BoundText(UpperBound(check, lane, v.rule)), check.History(lane).lock_losses);
    if (v.on) {
      const LaneVerdict verdict = JudgeLane(check.Count(lane), v.rule);
      out << "  " << VerdictName(verdict.verdict);
      if (verdict.verdict == Verdict::kFail)
        out << ": " << verdict.reason;
      else if (verdict.verdict == Verdict::kRunning && verdict.seconds_left >= 0)
        out << " (" << Sprintf("%.0f", std::ceil(verdict.seconds_left)) << " s left)";
    }
    out << "\n";
  }
}

Json LaneJson(const LineCheck& check, int channel, const VerdictRun& v) {
  const int lane = LaneOfChannel(channel);
  const auto& s = check.Lane(lane);
  const auto& h = check.History(lane);
  const auto bound = UpperBound(check, lane, v.rule);
  const LaneCount c = check.Count(lane);
  Json j = {
      {"channel", channel},
      {"lane", lane},
      {"locked", s.locked},
      {"alarm", s.alarm},
      {"type", check.ShownLane(lane).type},
      {"ber", h.ever_locked ? Json(Rounded(s.ber, std::chars_format::scientific, 6)) : Json()},
      {"errors", static_cast<uint64_t>(std::llround(s.errors))},
      {"bits", s.bits},
      {"seconds", s.seconds},
      {"errors_while_locked", h.steady_errors},
      {"bits_while_locked", h.steady_bits},
      {"errors_around_relock", h.relock_errors},
      {"lock_losses", h.lock_losses},
      {"seconds_since_lock",
       check.SecondsSinceLock(lane) < 0 ? Json() : Json(check.SecondsSinceLock(lane))},
      {"ber_upper_bound", bound ? Json(Rounded(*bound, std::chars_format::scientific, 6)) : Json()},
      {"ber_lower_bound", h.ever_locked && c.errors > 0
                              ? Json(Rounded(BerLowerBound(c.errors, c.bits, v.rule.confidence),
                                             std::chars_format::scientific, 6))
                              : Json()}};
  if (v.on) {
    const LaneVerdict verdict = JudgeLane(c, v.rule);
    j["verdict"] = VerdictName(verdict.verdict);
    j["reason"] = verdict.reason;
    j["bits_needed"] = verdict.bits_needed;
    j["seconds_left"] = verdict.seconds_left < 0 ? Json() : Json(std::ceil(verdict.seconds_left));
  }
  return j;
}

void PrintChannelsJson(Context& ctx, const LineCheck& check, const VerdictRun& v,
                       const char* pattern, int seconds, bool interrupted, int failed,
                       const char* verdict) {
  Json channels = Json::array();
  for (int channel = 1; channel <= kLanes; ++channel)
    channels.push_back(LaneJson(check, channel, v));
  Json doc = {{"pattern", pattern},
              {"seconds", seconds},
              {"interrupted", interrupted},
              {"failed_exchanges", failed},
              {"confidence", v.rule.confidence},
              {"channels", channels}};
  if (v.on) {
    doc["target_ber"] = v.rule.target;
    doc["allowed_errors"] = v.rule.allowed_errors;
    doc["verdict"] = verdict;
  }
  ctx.PrintJson(doc);
}

double ParseRatio(const std::string& text, const char* what) {
  double v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size())
    throw UsageError(std::string(what) + ": \"" + text + "\" is not a number");
  return v;
}

VerdictRun ParseVerdictOptions(Context& ctx) {
  VerdictRun v;
  std::string text;
  if (ctx.Option("--confidence", &text)) {
    double cl = ParseRatio(text, "--confidence");
    if (cl >= 50 && cl < 100) cl /= 100;  // 95 means 95 %
    if (!(cl >= 0.5 && cl < 1))
      throw UsageError(
          "--confidence: give a level from 0.5 to below 1 (0.95) or a percentage "
          "from 50 to below 100 (95)");
    v.rule.confidence = cl;
  }
  if (ctx.Option("--target", &text)) {
    v.rule.target = ParseRatio(text, "--target");
    if (!(v.rule.target > 0 && v.rule.target < 1))
      throw UsageError("--target: give a bit-error ratio between 0 and 1 (1e-12)");
    v.on = true;
  }
  if (ctx.Option("--allowed-errors", &text))
    v.rule.allowed_errors = ParseNumber(text, 1000000, "--allowed-errors");
  v.until = ctx.Flag("--until-verdict");
  v.on = v.on || v.until;
  return v;
}

int Ber(Context& ctx, std::vector<std::string>& args) {
  if (!args.empty()) throw UsageError("ber takes options only (see ber --help)");
  std::string text, csv_path;
  const VerdictRun verdict_run = ParseVerdictOptions(ctx);
  int seconds = verdict_run.until ? 864000 : 10;
  int pattern = kPatternPrbs31;
  if (ctx.Option("--seconds", &text)) {
    seconds = static_cast<int>(ParseNumber(text, 864000, "--seconds"));
    if (seconds == 0) throw UsageError("--seconds: give 1 or more");
  }
  if (ctx.Option("--pattern", &text)) {
    pattern = ParsePatternName(text);
    if (pattern < 0 || pattern == kPatternNone)
      throw UsageError("--pattern: \"" + text +
                       "\" is not a PRBS pattern (PRBS7, PRBS9_4, PRBS9_5, "
                       "PRBS11, PRBS13, PRBS15, PRBS16, PRBS23, PRBS31, PRBS58)");
  }
  std::ofstream csv;
  if (ctx.Option("--csv", &csv_path))
    csv = OpenCsv(ctx, csv_path,
                  "time_s,channel,lane,locked,error_increment,bit_increment,errors,bits,ber,"
                  "ber_upper_bound,lock_losses,verdict");

  CDevice& board = ctx.Board();
  LineCheck check;
  // As the automatic configuration does: restart the generators with the
  // pattern, store it in the checkers, then start them.
  if (const BoardResult r = RunSteps(board, check.ApplyPattern(static_cast<uint8_t>(pattern))); !r)
    throw BoardError("ber: setting the lanes' pattern failed: " + r.Text());
  if (const BoardResult r = RunSteps(board, check.Start()); !r) {
    RunSteps(board, check.Stop());
    throw BoardError("ber: starting the checkers failed: " + r.Text());
  }

  auto lane_verdict = [&](int lane) { return JudgeLane(check.Count(lane), verdict_run.rule); };
  auto all_decided = [&] {
    for (int lane = 1; lane <= kLanes; ++lane)
      if (lane_verdict(lane).verdict == Verdict::kRunning) return false;
    return true;
  };

  const bool live = ctx.interactive && !ctx.json;
  const auto start = Clock::now();
  int done = 0, failed = 0;
  std::string failure, csv_failure;
  while (done < seconds && !g_interrupted) {
    const auto due = start + std::chrono::seconds(done + 1);
    while (Clock::now() < due && !g_interrupted)
      std::this_thread::sleep_for(
          std::min<Clock::duration>(std::chrono::milliseconds(50), due - Clock::now()));
    if (g_interrupted) break;
    const TickSample sample = ReadTick(board);
    failed += FailedExchanges(sample, &failure);
    check.ApplyTick(sample);
    ++done;
    if (csv.is_open()) {
      for (int channel = 1; channel <= kLanes; ++channel) {
        const int lane = LaneOfChannel(channel);
        const auto& s = check.Lane(lane);
        const auto& d = check.LastDeltas()[lane - 1];
        const auto bound = UpperBound(check, lane, verdict_run.rule);
        csv << done << "," << channel << "," << lane << "," << (d.locked ? 1 : 0) << "," << d.errors
            << "," << d.bits << "," << Sprintf("%.0f", s.errors) << "," << s.bits << ","
            << (check.History(lane).ever_locked ? Sprintf("%.6e", s.ber) : "") << ","
            << (bound ? Sprintf("%.6e", *bound) : "") << "," << check.History(lane).lock_losses
            << "," << (verdict_run.on ? VerdictName(lane_verdict(lane).verdict) : "") << "\n";
      }
      csv.flush();
      try {
        CheckWritten(csv, csv_path);
      } catch (const FileError& e) {
        csv_failure = e.what();  // the rows are lost: stop the test
        break;
      }
    }
    if (live) {
      if (done > 1) ctx.out << "\x1b[10A";  // back over the previous table
      ctx.out << "\r\x1b[2K" << kGeneratorPatternNames[pattern] << "  " << done << "/" << seconds
              << " s  (Ctrl-C stops)\n\x1b[J";
      PrintChannels(ctx.out, check, verdict_run);
      ctx.out.flush();
    }
    if (verdict_run.until && all_decided()) break;
  }
  const bool interrupted = g_interrupted;
  const BoardResult stopped = RunSteps(board, check.Stop());

  // The run's verdict: every lane must pass; a failed lane fails the run,
  // a lane still counting at the limit leaves it undecided.
  const char* run_verdict = "PASS";
  int status = kOk;
  if (verdict_run.on) {
    bool fail = false, running = false;
    for (int lane = 1; lane <= kLanes; ++lane) {
      const Verdict v = lane_verdict(lane).verdict;
      fail = fail || v == Verdict::kFail;
      running = running || v == Verdict::kRunning;
    }
    run_verdict = fail ? "FAIL" : running ? "UNDECIDED" : "PASS";
    status = fail ? kFail : running ? kNoVerdict : kOk;
  }

  if (ctx.json) {
    PrintChannelsJson(ctx, check, verdict_run, kGeneratorPatternNames[pattern], done, interrupted,
                      failed, run_verdict);
  } else {
    if (live) ctx.out << "\x1b[10A\r\x1b[J";
    ctx.out << kGeneratorPatternNames[pattern] << ", " << done << " s"
            << (interrupted ? " (stopped by Ctrl-C)" : "");
    if (verdict_run.on)
      ctx.out << ", target " << Sprintf("%.0e", verdict_run.rule.target) << " at "
              << Sprintf("%g", verdict_run.rule.confidence * 100) << " % with at most "
              << verdict_run.rule.allowed_errors << " error(s): " << run_verdict;
    ctx.out << "\n";
    PrintChannels(ctx.out, check, verdict_run);
  }
  if (failed)
    ctx.err << "lanewright-cli: " << failed << " status exchange(s) failed (" << failure
            << "); those lanes counted as Unlock\n";
  if (csv.is_open() && csv_failure.empty()) {
    csv.close();
    try {
      CheckWritten(csv, csv_path);
    } catch (const FileError& e) {
      csv_failure = e.what();
    }
  }
  if (!csv_failure.empty())
    throw FileError(csv_failure + "; the test stopped after " + std::to_string(done) + " s");
  if (!stopped) throw BoardError("ber: stopping the checkers failed: " + stopped.Text());
  // A verdict needs every status answer: with an exchange lost it is the
  // board's failure, not the module's.
  if (verdict_run.on && failed)
    throw BoardError("ber: the verdict (" + std::string(run_verdict) +
                     ") cannot stand: the board failed " + std::to_string(failed) +
                     " status exchange(s) (" + failure + ")");
  return status;
}

// --- DSP ---

std::string Trimmed(const char* label) {
  std::string s = label;
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

void PrintSection(std::ostream& out, const DspBlock& block, DspSection section) {
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> header = {"row"};
  for (const auto& f : DspFields())
    if (f.section == section) header.push_back(Trimmed(f.label));
  rows.push_back(header);
  auto add = [&](const DspRow& r) {
    std::vector<std::string> row = {r.label};
    for (const auto& f : DspFields())
      if (f.section == section) row.push_back(DspFieldText(block, f, r.entry));
    rows.push_back(row);
  };
  if (section == DspSection::kTx)
    for (const auto& r : kTxRows) add(r);
  else
    for (const auto& r : kRxRows) add(r);
  std::vector<size_t> width(header.size(), 0);
  for (const auto& row : rows)
    for (size_t i = 0; i < row.size(); ++i) width[i] = std::max(width[i], row[i].size());
  for (const auto& row : rows) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(width[i] - row[i].size() + 2, ' ');
    }
    out << line << "\n";
  }
}

void PrintDsp(std::ostream& out, const DspBlock& block) {
  const int code = block[kDspRateCode];
  std::string rate = code == 4 || code == 5 ? DspRateNames(block[0] & 1)[code - 4]
                                            : "code " + std::to_string(code);
  for (const auto& f : DspFields())
    if (f.section == DspSection::kGlobal)
      out << Trimmed(f.label) << (f.label[std::string(f.label).size() - 1] == ':' ? " " : ": ")
          << DspFieldText(block, f, 0) << "\n";
  out << "Rate: " << rate << "\n\nLine TX:\n";
  PrintSection(out, block, DspSection::kTx);
  out << "\nLine RX:\n";
  PrintSection(out, block, DspSection::kRx);
}

int DspRead(Context& ctx, CDevice& board) {
  DspBlock block{};
  if (const BoardResult r = ReadDspBlock(board, block); !r)
    throw BoardError("DSP read: " + r.Text());
  if (ctx.json)
    ctx.out << DspToJson(block);
  else
    PrintDsp(ctx.out, block);
  return kOk;
}

// Applies the file onto the board's current block, writes it and reads it
// back: the board then holds exactly what the file names, or the command
// fails naming the fields that did not take.
int DspWrite(Context& ctx, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw FileError(path + ": cannot open");
  std::stringstream text;
  text << in.rdbuf();
  if (in.bad()) throw FileError(path + ": cannot read");
  // The file is checked before any traffic, so a bad file sends nothing.
  DspEdit edit;
  std::string error;
  if (!ParseDspJson(text.str(), &edit, &error)) throw UsageError(path + ": " + error);
  CDevice& board = ctx.Board();
  DspBlock block{};
  if (const BoardResult r = ReadDspBlock(board, block); !r)
    throw BoardError("DSP read: " + r.Text());
  // A value beyond a list is taken only when the board holds it already.
  if (!ApplyDspEdit(edit, &block, &error))
    throw UsageError(path + ": " + error + "; nothing written");
  if (const BoardResult r = WriteDspBlock(board, block); !r)
    throw BoardError("DSP write: " + r.Text());
  DspBlock back{};
  if (const BoardResult r = ReadDspBlock(board, back); !r)
    throw BoardError("DSP write: reading the block back failed: " + r.Text());
  const auto differ = DspDifferences(block, back);
  if (!differ.empty()) {
    std::string list;
    for (const auto& p : differ) list += (list.empty() ? "" : ", ") + p;
    throw BoardError("DSP write: the board did not take " + list + " (read back other values)");
  }
  if (ctx.json)
    ctx.PrintJson({{"written", kDspBlockSize}, {"verified", true}});
  else
    ctx.out
        << "wrote the DSP configuration block (193 bytes) and read it back; `dsp save` keeps it\n";
  return kOk;
}

int Dsp(Context& ctx, std::vector<std::string>& args) {
  if (args.empty()) throw UsageError("usage: dsp read | dsp write FILE.json | dsp save");
  const std::string action = args[0];
  if (action == "read") {
    if (args.size() != 1) throw UsageError("usage: dsp read [--json]");
    return DspRead(ctx, ctx.Board());
  }
  if (action == "write") {
    if (args.size() != 2) throw UsageError("usage: dsp write FILE.json");
    return DspWrite(ctx, args[1]);
  }
  if (action == "save") {
    if (args.size() != 1) throw UsageError("usage: dsp save");
    CDevice& board = ctx.Board();
    if (const BoardResult r = SaveDsp(board); !r) throw BoardError(SaveMessage(false, r.Text()));
    if (ctx.json)
      ctx.PrintJson({{"saved", true}});
    else
      ctx.out << SaveMessage(true, {}) << "\n";
    return kOk;
  }
  throw UsageError("dsp: unknown action \"" + action + "\" (read, write, save)");
}

int Power(Context& ctx, std::vector<std::string>& args) {
  if (!args.empty()) throw UsageError("power takes no arguments");
  CDevice& board = ctx.Board();
  BoardResult read;
  const PowerReading p = ReadPower(board, &read);
  if (!read) throw BoardError("power read: " + read.Text());
  if (ctx.json)
    ctx.PrintJson({{"volts", Rounded(p.volts, std::chars_format::fixed, 3)},
                   {"amps", Rounded(p.amps, std::chars_format::fixed, 3)},
                   {"watts", Rounded(p.watts, std::chars_format::fixed, 3)}});
  else
    ctx.out << "V: " << Sprintf("%.2f", p.volts) << "\nI: " << Sprintf("%.2f", p.amps)
            << "\nP: " << Sprintf("%.2f", p.watts) << "\n";
  return kOk;
}

}  // namespace

void RegisterSignalCommands(std::vector<Command>& table) {
  table.push_back(
      {"ber",
       "ber [--seconds N] [--pattern NAME] [--target BER [--confidence CL]\n"
       "    [--allowed-errors K] [--until-verdict]] [--csv FILE [--append|--overwrite]]",
       "PRBS bit-error-ratio test on the eight lanes",
       "Restarts every lane's generator with the pattern, starts the checkers, asks\n"
       "each lane's status once a second for N seconds and stops the checkers at\n"
       "the end or on Ctrl-C. Prints one line per channel (Channel 1-8 as on the\n"
       "Checker page): received pattern or Unlock, BER, errors and time; a terminal\n"
       "sees the table live. --json prints the final table as JSON. Each lane\n"
       "also shows the upper bound of its BER at the confidence (errors while\n"
       "locked over bits while locked, the second after a (re)lock kept apart)\n"
       "and how often it lost lock; a lane that never locked shows no BER.\n\n"
       "With --target (or --until-verdict) each lane gets a verdict by the\n"
       "fixed-length rule of BER testers: it PASSES once it has counted the bits\n"
       "for which at most K errors would occur with probability 1 - CL at the\n"
       "target BER (for K = 0: -ln(1 - CL) / target bits, 3.0e12 for 1e-12 at\n"
       "95 %), with at most K errors; it FAILS with more than K errors, when it\n"
       "loses lock, or when it is not locked within 10 s. The run PASSES when\n"
       "every lane passes.\n\n"
       "Exit status without a target: 0 when the test ran, whatever the BER; 1\n"
       "when a CSV row could not be written (the test stops there). With a target:\n"
       "0 every lane passed, 3 a lane failed, 4 a lane was still counting at the\n"
       "limit, 1 the board failed (a status exchange was lost).\n\n"
       "Examples: lanewright-cli --emulate ber --seconds 10 --csv run.csv\n"
       "          lanewright-cli --emulate ber --target 1e-12 --until-verdict\n",
       [] {
         std::vector<CommandOption> options = {
             {"--seconds", "N", "length of the test, 1-864000 seconds (default 10)"},
             {"--pattern", "NAME", "PRBS7 ... PRBS58 (default PRBS31)"},
             {"--target", "BER", "the BER to claim, e.g. 1e-12: gives each lane a verdict"},
             {"--confidence", "CL", "confidence of bounds and verdicts, 0.95 or 95 (default 95 %)"},
             {"--allowed-errors", "K",
              "errors a passing lane may have (default 0; more\n"
              "errors make the test longer)"},
             {"--until-verdict", "",
              "stop when every lane has a verdict; --seconds is then\n"
              "the upper limit (default 864000)"}};
         for (auto& o : CsvOptions("one row per lane per second: time_s, channel, lane,\n"
                                   "locked, error and bit increments, accumulated errors\n"
                                   "and bits, BER, upper bound, lock losses, verdict"))
           options.push_back(o);
         return options;
       }(),
       Ber});
  table.push_back({"dsp",
                   "dsp read | write FILE.json | save",
                   "the board DSP's configuration block",
                   "dsp read     prints the 193-byte block: mode, Line TX rows (as on the Dsp\n"
                   "             page, with the two (Monclk) rows) and Line RX rows; --json\n"
                   "             prints the fields by name\n"
                   "dsp write    reads the block, changes the fields FILE.json names (same names\n"
                   "             and rows as `dsp read --json`; any subset), writes it back and\n"
                   "             reads it again: fields that did not take are named (exit 1);\n"
                   "             unknown names or values out of range send nothing (exit 2)\n"
                   "dsp save     asks the board to keep the current block over power cycles\n\n"
                   "List fields take an entry name or its position; check boxes true or false;\n"
                   "Pre, Main, Post, Inner Eye, Outer Eye and CTLE 0-65535. A position beyond\n"
                   "the list is taken only when the board holds it already, so what `dsp read\n"
                   "--json` prints is always accepted back.\n\n"
                   "Example: echo '{\"tx\": {\"lane3\": {\"pre\": 4}}}' > f.json &&\n"
                   "         lanewright-cli --emulate dsp write f.json\n",
                   {},
                   Dsp});
  table.push_back({"power",
                   "power",
                   "the board's supply voltage, current and power",
                   "Prints V, I and P with two decimals, as the Dsp page shows them.\n",
                   {},
                   Power});
}

}  // namespace cli
