// Signal test commands: the PRBS BER test, the DSP configuration block and
// the board power reading.
#include <charconv>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "cli/cli.h"
#include "signal/board_steps.h"
#include "signal/dsp_json.h"
#include "signal/dsp_page_model.h"
#include "signal/line_check.h"

namespace cli {
namespace {

using namespace sigtest;
using Clock = std::chrono::steady_clock;

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// A number with `digits` significant digits (scientific) or decimals
// (fixed), as JSON prints it.
double Rounded(double value, std::chars_format format, int digits) {
  char text[64];
  const auto end = std::to_chars(text, text + sizeof text, value, format, digits).ptr;
  double out = 0;
  std::from_chars(text, end, out);
  return out;
}

// One line per channel: Channel, lane, type, BER, errors, time.
void PrintChannels(std::ostream& out, const LineCheck& check) {
  out << "Channel  Lane  Type     BER        Errors     Time\n";
  char line[128];
  for (int channel = 1; channel <= kLanes; ++channel) {
    const int lane = LaneOfChannel(channel);
    const auto& shown = check.ShownLane(lane);
    std::snprintf(line, sizeof line, "%-8d %-5d %-8s %-10s %-10s %s\n", channel, lane,
                  shown.type.empty() ? "-" : shown.type.c_str(),
                  shown.ber.empty() ? "-" : shown.ber.c_str(),
                  shown.errors.empty() ? "-" : shown.errors.c_str(),
                  shown.time.empty() ? "-" : shown.time.c_str());
    out << line;
  }
}

void PrintChannelsJson(Context& ctx, const LineCheck& check, const char* pattern, int seconds,
                       bool interrupted, int failed) {
  Json channels = Json::array();
  for (int channel = 1; channel <= kLanes; ++channel) {
    const int lane = LaneOfChannel(channel);
    const auto& s = check.Lane(lane);
    channels.push_back({{"channel", channel},
                        {"lane", lane},
                        {"locked", s.locked},
                        {"alarm", s.alarm},
                        {"type", check.ShownLane(lane).type},
                        {"ber", Rounded(s.ber, std::chars_format::scientific, 6)},
                        {"errors", static_cast<uint64_t>(std::llround(s.errors))},
                        {"bits", s.bits},
                        {"seconds", s.seconds}});
  }
  ctx.PrintJson({{"pattern", pattern},
                 {"seconds", seconds},
                 {"interrupted", interrupted},
                 {"failed_exchanges", failed},
                 {"channels", channels}});
}

int Ber(Context& ctx, std::vector<std::string>& args) {
  if (!args.empty()) throw UsageError("ber takes options only (see ber --help)");
  std::string text, csv_path;
  int seconds = 10;
  int pattern = kPatternPrbs31;
  if (ctx.Option("--seconds", &text)) {
    seconds = static_cast<int>(ParseNumber(text, 864000, "--seconds"));
    if (seconds == 0) throw UsageError("--seconds: give 1 or more");
  }
  if (ctx.Option("--pattern", &text)) {
    pattern = ParsePatternName(text);
    if (pattern < 0 || pattern == kPatternNone)
      throw UsageError("--pattern: \"" + text + "\" is not a PRBS pattern (PRBS7, PRBS9_4, PRBS9_5, "
                       "PRBS11, PRBS13, PRBS15, PRBS16, PRBS23, PRBS31, PRBS58)");
  }
  std::ofstream csv;
  if (ctx.Option("--csv", &csv_path))
    csv = OpenCsv(ctx, csv_path,
                  "time_s,channel,lane,locked,error_increment,bit_increment,errors,bits,ber");

  CDevice& board = ctx.Board();
  LineCheck check;
  // As the automatic configuration does: restart the generators with the
  // pattern, store it in the checkers, then start them.
  RunSteps(board, check.ApplyPattern(static_cast<uint8_t>(pattern)));
  RunSteps(board, check.Start());

  const bool live = ctx.interactive && !ctx.json;
  const auto start = Clock::now();
  int done = 0, failed = 0;
  std::string failure, csv_failure;
  while (done < seconds && !g_interrupted) {
    const auto due = start + std::chrono::seconds(done + 1);
    while (Clock::now() < due && !g_interrupted)
      std::this_thread::sleep_for(std::min<Clock::duration>(std::chrono::milliseconds(50), due - Clock::now()));
    if (g_interrupted) break;
    const TickSample sample = ReadTick(board);
    for (const auto& lane : sample)
      if (!lane.ok) {
        ++failed;
        failure = lane.result.Text();
      }
    check.ApplyTick(sample);
    ++done;
    if (csv.is_open()) {
      for (int channel = 1; channel <= kLanes; ++channel) {
        const int lane = LaneOfChannel(channel);
        const auto& s = check.Lane(lane);
        const auto& d = check.LastDeltas()[lane - 1];
        csv << done << "," << channel << "," << lane << "," << (d.locked ? 1 : 0) << "," << d.errors
            << "," << d.bits << "," << Format("%.0f", s.errors) << "," << s.bits << ","
            << Format("%.6e", s.ber) << "\n";
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
      PrintChannels(ctx.out, check);
      ctx.out.flush();
    }
  }
  const bool interrupted = g_interrupted;
  RunSteps(board, check.Stop());

  if (ctx.json) {
    PrintChannelsJson(ctx, check, kGeneratorPatternNames[pattern], done, interrupted, failed);
  } else {
    if (live) ctx.out << "\x1b[10A\r\x1b[J";
    ctx.out << kGeneratorPatternNames[pattern] << ", " << done << " s"
            << (interrupted ? " (stopped by Ctrl-C)" : "") << "\n";
    PrintChannels(ctx.out, check);
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
  if (!csv_failure.empty()) throw FileError(csv_failure + "; the test stopped after " +
                                            std::to_string(done) + " s");
  return kOk;
}

// --- DSP ---

std::string FieldText(const DspBlock& block, const DspField& f, int entry) {
  const unsigned v = GetDsp(block, f, entry);
  switch (f.control) {
    case DspControl::kList: return DspListValueText(DspListFor(f, entry), v);
    case DspControl::kCheck: return v ? "yes" : "no";
    case DspControl::kNumber: return std::to_string(v);
  }
  return "?";
}

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
      if (f.section == section) row.push_back(FieldText(block, f, r.entry));
    rows.push_back(row);
  };
  if (section == DspSection::kTx) for (const auto& r : kTxRows) add(r);
  else for (const auto& r : kRxRows) add(r);
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
          << FieldText(block, f, 0) << "\n";
  out << "Rate: " << rate << "\n\nLine TX:\n";
  PrintSection(out, block, DspSection::kTx);
  out << "\nLine RX:\n";
  PrintSection(out, block, DspSection::kRx);
}

int DspRead(Context& ctx, CDevice& board) {
  DspBlock block{};
  if (const BoardResult r = ReadDspBlock(board, block); !r)
    throw BoardError("DSP read: " + r.Text());
  if (ctx.json) ctx.out << DspToJson(block);
  else PrintDsp(ctx.out, block);
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
  if (!ApplyDspEdit(edit, &block, &error)) throw UsageError(path + ": " + error + "; nothing written");
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
  if (ctx.json) ctx.PrintJson({{"written", kDspBlockSize}, {"verified", true}});
  else ctx.out << "wrote the DSP configuration block (193 bytes) and read it back; `dsp save` keeps it\n";
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
    if (ctx.json) ctx.PrintJson({{"saved", true}});
    else ctx.out << SaveMessage(true, {}) << "\n";
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
    ctx.out << "V: " << Format("%.2f", p.volts) << "\nI: " << Format("%.2f", p.amps)
            << "\nP: " << Format("%.2f", p.watts) << "\n";
  return kOk;
}

}  // namespace

void RegisterSignalCommands(std::vector<Command>& table) {
  table.push_back(
      {"ber", "ber [--seconds N] [--pattern NAME] [--csv FILE [--append|--overwrite]]",
       "PRBS bit-error-ratio test on the eight lanes",
       "Restarts every lane's generator with the pattern, starts the checkers, asks\n"
       "each lane's status once a second for N seconds and stops the checkers at\n"
       "the end or on Ctrl-C. Prints one line per channel (Channel 1-8 as on the\n"
       "Checker page): received pattern or Unlock, BER, errors and time; a terminal\n"
       "sees the table live. --json prints the final table as JSON.\n\n"
       "Exit status 0 when the test ran, whatever the BER; 1 also when a CSV row\n"
       "could not be written (the test stops there).\n\n"
       "Example: lanewright-cli --emulate ber --seconds 10 --csv run.csv\n",
       [] {
         std::vector<CommandOption> options = {
             {"--seconds", "N", "length of the test, 1-864000 seconds (default 10)"},
             {"--pattern", "NAME", "PRBS7 ... PRBS58 (default PRBS31)"}};
         for (auto& o : CsvOptions("one row per lane per second: time_s, channel, lane,\n"
                                   "locked, error and bit increments, accumulated errors\n"
                                   "and bits, BER"))
           options.push_back(o);
         return options;
       }(),
       Ber});
  table.push_back(
      {"dsp", "dsp read | write FILE.json | save", "the board DSP's configuration block",
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
       {}, Dsp});
  table.push_back({"power", "power", "the board's supply voltage, current and power",
                   "Prints V, I and P with two decimals, as the Dsp page shows them.\n", {},
                   Power});
}

}  // namespace cli
