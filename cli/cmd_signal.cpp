// Signal test commands: the PRBS BER test, the DSP configuration block and
// the board power reading.
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

void PrintChannelsJson(std::ostream& out, const LineCheck& check, const char* pattern,
                       int seconds, bool interrupted, int failed) {
  out << "{\"pattern\": " << JsonString(pattern) << ", \"seconds\": " << seconds
      << ", \"interrupted\": " << (interrupted ? "true" : "false")
      << ", \"failed_exchanges\": " << failed << ", \"channels\": [";
  for (int channel = 1; channel <= kLanes; ++channel) {
    const int lane = LaneOfChannel(channel);
    const auto& s = check.Lane(lane);
    out << (channel > 1 ? ",\n  " : "\n  ") << "{\"channel\": " << channel << ", \"lane\": " << lane
        << ", \"locked\": " << (s.locked ? "true" : "false")
        << ", \"alarm\": " << (s.alarm ? "true" : "false")
        << ", \"type\": " << JsonString(check.ShownLane(lane).type)
        << ", \"ber\": " << Format("%.6e", s.ber) << ", \"errors\": " << Format("%.0f", s.errors)
        << ", \"bits\": " << s.bits << ", \"seconds\": " << s.seconds << "}";
  }
  out << "\n]}\n";
}

int Ber(Context& ctx, std::vector<std::string>& args) {
  std::string text, csv_path;
  int seconds = 10;
  int pattern = kPatternPrbs31;
  if (TakeOption(args, "--seconds", &text))
    seconds = static_cast<int>(ParseNumber(text, 864000, "--seconds"));
  if (seconds == 0) throw UsageError("--seconds: give 1 or more");
  if (TakeOption(args, "--pattern", &text)) {
    pattern = ParsePatternName(text);
    if (pattern < 0 || pattern == kPatternNone)
      throw UsageError("--pattern: \"" + text + "\" is not a PRBS pattern (PRBS7, PRBS9_4, PRBS9_5, "
                       "PRBS11, PRBS13, PRBS15, PRBS16, PRBS23, PRBS31, PRBS58)");
  }
  TakeOption(args, "--csv", &csv_path);
  ExpectNoMoreOptions(args);
  if (!args.empty()) throw UsageError("ber takes options only (see ber --help)");

  std::ofstream csv;
  if (!csv_path.empty()) {
    csv.open(csv_path, std::ios::trunc);
    if (!csv) throw UsageError(csv_path + ": cannot write the CSV file");
    csv << "time_s,channel,lane,locked,error_increment,bit_increment,errors,bits,ber\n";
  }

  CDevice& board = ctx.Board();
  LineCheck check;
  // As the automatic configuration does: restart the generators with the
  // pattern, store it in the checkers, then start them.
  RunSteps(board, check.ApplyPattern(static_cast<uint8_t>(pattern)));
  RunSteps(board, check.Start());

  const bool live = ctx.interactive && !ctx.json;
  const auto start = Clock::now();
  int done = 0, failed = 0;
  std::string failure;
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
    PrintChannelsJson(ctx.out, check, kGeneratorPatternNames[pattern], done, interrupted, failed);
  } else {
    if (live) ctx.out << "\x1b[10A\r\x1b[J";
    ctx.out << kGeneratorPatternNames[pattern] << ", " << done << " s"
            << (interrupted ? " (stopped by Ctrl-C)" : "") << "\n";
    PrintChannels(ctx.out, check);
  }
  if (failed)
    ctx.err << "lanewright-cli: " << failed << " status exchange(s) failed (" << failure
            << "); those lanes counted as Unlock\n";
  if (csv.is_open()) {
    csv.close();
    if (!csv) ctx.err << "lanewright-cli: " << csv_path << ": write failed\n";
  }
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
  if (auto r = ReadDspBlock(board, block); !r) throw BoardError("DSP read: " + r.Text());
  if (ctx.json) ctx.out << DspToJson(block);
  else PrintDsp(ctx.out, block);
  return kOk;
}

int DspWrite(Context& ctx, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw UsageError(path + ": cannot open");
  std::stringstream text;
  text << in.rdbuf();
  // Check the file before any traffic, so a bad file sends nothing.
  DspBlock probe{};
  std::string error;
  if (!ApplyDspJson(text.str(), &probe, &error)) throw UsageError(path + ": " + error);
  CDevice& board = ctx.Board();
  DspBlock block{};
  if (auto r = ReadDspBlock(board, block); !r) throw BoardError("DSP read: " + r.Text());
  ApplyDspJson(text.str(), &block, &error);
  if (auto r = WriteDspBlock(board, block); !r) throw BoardError("DSP write: " + r.Text());
  if (ctx.json) ctx.out << "{\"written\": 193}\n";
  else ctx.out << "wrote the DSP configuration block (193 bytes); `dsp save` keeps it\n";
  return kOk;
}

int Dsp(Context& ctx, std::vector<std::string>& args) {
  ExpectNoMoreOptions(args);
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
    if (auto r = SaveDsp(board); !r) throw BoardError(SaveMessage(false, r.Text()));
    if (ctx.json) ctx.out << "{\"saved\": true}\n";
    else ctx.out << SaveMessage(true, {}) << "\n";
    return kOk;
  }
  throw UsageError("dsp: unknown action \"" + action + "\" (read, write, save)");
}

int Power(Context& ctx, std::vector<std::string>& args) {
  ExpectNoMoreOptions(args);
  if (!args.empty()) throw UsageError("power takes no arguments");
  CDevice& board = ctx.Board();
  BoardResult read;
  const PowerReading p = ReadPower(board, &read);
  if (!read) throw BoardError("power read: " + read.Text());
  if (ctx.json)
    ctx.out << "{\"volts\": " << Format("%.3f", p.volts) << ", \"amps\": " << Format("%.3f", p.amps)
            << ", \"watts\": " << Format("%.3f", p.watts) << "}\n";
  else
    ctx.out << "V: " << Format("%.2f", p.volts) << "\nI: " << Format("%.2f", p.amps)
            << "\nP: " << Format("%.2f", p.watts) << "\n";
  return kOk;
}

}  // namespace

void RegisterSignalCommands(std::vector<Command>& table) {
  table.push_back(
      {"ber", "ber [--seconds N] [--pattern NAME] [--csv FILE]",
       "PRBS bit-error-ratio test on the eight lanes",
       "Restarts every lane's generator with the pattern (default PRBS31), starts the\n"
       "checkers, asks each lane's status once a second for N seconds (default 10)\n"
       "and stops the checkers at the end or on Ctrl-C. Prints one line per channel\n"
       "(Channel 1-8 as on the Checker page): received pattern or Unlock, BER,\n"
       "errors and time; a terminal sees the table live.\n\n"
       "  --csv FILE   one row per lane per second: time_s, channel, lane, locked,\n"
       "               error and bit increments, accumulated errors and bits, BER\n"
       "  --json       the final table as JSON\n\n"
       "Exit status 0 when the test ran, whatever the BER.\n\n"
       "Example: lanewright-cli --emulate ber --seconds 10 --csv run.csv\n",
       Ber});
  table.push_back(
      {"dsp", "dsp read | write FILE.json | save", "the board DSP's configuration block",
       "dsp read     prints the 193-byte block: mode, Line TX rows (as on the Dsp\n"
       "             page, with the two (Monclk) rows) and Line RX rows; --json\n"
       "             prints the fields by name\n"
       "dsp write    reads the block, changes the fields FILE.json names (same names\n"
       "             and rows as `dsp read --json`; any subset) and writes it back;\n"
       "             unknown names or values out of range send nothing\n"
       "dsp save     asks the board to keep the current block over power cycles\n\n"
       "List fields take an entry name or its position; check boxes true or false;\n"
       "Pre, Main, Post, Inner Eye, Outer Eye and CTLE 0-65535.\n\n"
       "Example: echo '{\"tx\": {\"lane3\": {\"pre\": 4}}}' > f.json &&\n"
       "         lanewright-cli --emulate dsp write f.json\n",
       Dsp});
  table.push_back({"power", "power", "the board's supply voltage, current and power",
                   "Prints V, I and P with two decimals, as the Dsp page shows them.\n", Power});
}

}  // namespace cli
