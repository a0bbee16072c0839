// `ddm` (one refresh, a watch, CSV) and `thresholds`: the monitors and the
// thresholds they are judged against.
#include <charconv>
#include <chrono>
#include <cmath>
#include <fstream>
#include <ostream>
#include <thread>

#include "cli/cmd_module.h"
#include "module/cmis_decode.h"
#include "module/ddm.h"
#include "module/qsfp_dd.h"

namespace cli {
namespace {

// ---- ddm ----

std::string Cell(const DdmValue& v) {
  return v.Flagged() ? v.text + " [" + FlagKindsText(v.flags) + "]" : v.text;
}

Json JsonValue(const DdmValue& v) {
  Json flags = Json::array();
  for (int kind : {kHighAlarm, kLowAlarm, kHighWarning, kLowWarning})
    if (v.flags & (1u << kind)) flags.push_back(FlagKindName(kind));
  // A value the module does not give is null, never a number (NaN, 0 or -40).
  const bool reading = v.HasReading() && std::isfinite(v.value);
  return {{"value", reading ? Json(Rounded(v.value)) : Json(nullptr)},
          {"text",
           reading ? v.text : std::string(v.state == DdmState::kUnknownScale ? "unknown" : "n/a")},
          {"unit", v.unit},
          {"flags", flags}};
}

// One refresh; a watch gives each its time.
void PrintDdm(Context& ctx, const DdmReadings& r, const std::string& time) {
  if (ctx.json) {
    Json doc = Json::object();
    if (!time.empty()) doc["time"] = time;
    doc["temperature"] = JsonValue(r.temperature);
    doc["vcc"] = JsonValue(r.vcc);
    Json lanes = Json::array();
    for (int i = 0; i < kLanes; ++i)
      lanes.push_back({{"lane", i + 1},
                       {"bias", JsonValue(r.bias[i])},
                       {"tx_power", JsonValue(r.tx_power[i])},
                       {"rx_power", JsonValue(r.rx_power[i])}});
    doc["lanes"] = std::move(lanes);
    ctx.PrintJson(doc);
    return;
  }
  if (!time.empty()) ctx.out << "== " << time << "\n";
  std::vector<std::vector<std::string>> module_rows;
  for (const DdmValue* v : {&r.temperature, &r.vcc}) {
    std::string value = v->text + " " + v->unit;
    if (v->Flagged()) value += " [" + FlagKindsText(v->flags) + "]";
    module_rows.push_back({v->name, value});
  }
  PrintTable(ctx.out, module_rows);
  std::vector<std::vector<std::string>> rows = {
      {"Channel", "BIAS (mA)", "TX_PWR (dBm)", "RX_PWR (dBm)"}};
  for (int i = 0; i < kLanes; ++i)
    rows.push_back(
        {std::to_string(i + 1), Cell(r.bias[i]), Cell(r.tx_power[i]), Cell(r.rx_power[i])});
  PrintTable(ctx.out, rows);
}

std::string CsvHeader() {
  std::string h = "time,temp_C,vcc_V";
  for (const char* name : {"bias", "tx_power", "rx_power"})
    for (int lane = 1; lane <= kLanes; ++lane)
      h += std::string(",") + name + std::to_string(lane) + (name[0] == 'b' ? "_mA" : "_dBm");
  return h + ",flags";
}

std::string CsvRow(const DdmReadings& r, const std::string& time) {
  std::string row = time + "," + r.temperature.text + "," + r.vcc.text;
  std::string flags;
  auto note = [&flags](const DdmValue& v) {
    if (!v.Flagged()) return;
    std::string kinds;  // "low alarm|low warning": no commas inside a field
    for (int kind : {kHighAlarm, kLowAlarm, kHighWarning, kLowWarning})
      if (v.flags & (1u << kind))
        kinds += (kinds.empty() ? "" : "|") + std::string(FlagKindName(kind));
    flags += (flags.empty() ? "" : ";") + std::string(v.name) +
             (v.lane ? std::to_string(v.lane) : "") + ":" + kinds;
  };
  note(r.temperature);
  note(r.vcc);
  for (const auto* group : {&r.bias, &r.tx_power, &r.rx_power})
    for (const DdmValue& v : *group) {
      row += "," + v.text;
      note(v);
    }
  return row + "," + flags;
}

int Ddm(Context& ctx, std::vector<std::string>& args) {
  if (!args.empty()) throw UsageError("ddm takes no arguments besides its options");
  std::string watch_text, csv_path;
  const bool watch = ctx.Option("--watch", &watch_text);
  const double period = watch ? ParseSeconds(watch_text) : 0;
  std::ofstream csv;
  if (ctx.Option("--csv", &csv_path)) csv = OpenCsv(ctx, csv_path, CsvHeader());

  CDevice& board = ctx.Board();
  qsfp_dd::CQSFP_DD module(&board);
  // One refresh as the DDM window makes it: monitors, then the flag bytes.
  auto refresh = [&](DdmReadings* out) {
    BoardResult r = module.ReadMonitors();
    if (r) r = module.ReadAlarmImage();
    *out = DecodeDdm(module.Snapshot());
    return r;
  };
  // Prints and flushes one refresh; false when stdout failed (the watch
  // ends; a closed pipe means the reader went away, as after Ctrl-C).
  auto record = [&](const DdmReadings& r, const std::string& time) {
    if (csv.is_open()) {
      csv << CsvRow(r, time) << "\n" << std::flush;
      CheckWritten(csv, csv_path);
    }
    PrintDdm(ctx, r, watch ? time : "");
    ctx.out << std::flush;
    if (ctx.out) return true;
    ctx.reader_gone = ctx.ReaderGone();
    return false;
  };

  if (!watch) {
    DdmReadings r;
    if (const BoardResult read = refresh(&r); !read)
      throw BoardError("ddm: reading the module failed: " + read.Text());
    record(r, Now());
    return kOk;
  }
  using Clock = std::chrono::steady_clock;
  const auto step =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(period));
  auto next = Clock::now();
  while (!g_interrupted) {
    next += step;
    try {
      ctx.Board();  // reopens a board that came back after an unplug
      DdmReadings r;
      if (const BoardResult read = refresh(&r)) {
        if (!record(r, Now())) break;
      } else {
        ctx.err << "lanewright-cli: ddm: refresh failed: " << read.Text() << "\n";
        board.CloseBoard();
      }
    } catch (const BoardError& e) {
      ctx.err << "lanewright-cli: ddm: refresh failed: " << e.what() << "\n";
    }
    ctx.err << std::flush;
    while (!g_interrupted && Clock::now() < next)
      std::this_thread::sleep_for(
          std::min<Clock::duration>(next - Clock::now(), std::chrono::milliseconds(50)));
    if (Clock::now() > next + step) next = Clock::now();  // fell behind: do not catch up in a burst
  }
  return kOk;
}

// ---- thresholds ----

int Thresholds(Context& ctx, std::vector<std::string>& args) {
  if (!args.empty()) throw UsageError("thresholds takes no arguments");
  CDevice& board = ctx.Board();
  qsfp_dd::CQSFP_DD module(&board);
  if (const BoardResult read = module.ReadThresholds(); !read)
    throw BoardError("thresholds: reading the module failed: " + read.Text());
  const auto values = module.Thresholds();
  // Which thresholds the module gives: nothing for flat memory, an unread page
  // or a monitor it does not implement.
  const auto decoded = cmis::DecodeThresholds(module.Snapshot());
  auto given = [&](int i) {
    return i < static_cast<int>(decoded.size()) && decoded[i].value && std::isfinite(values[i]);
  };
  const auto& table = qsfp_dd::ThresholdTable();
  const char* kinds[] = {"high alarm", "low alarm", "high warning", "low warning"};
  if (ctx.json) {
    Json list = Json::array();
    for (int g = 0; g < qsfp_dd::kThresholdCount / 4; ++g) {
      const auto& e = table[4 * g];
      Json row = {{"quantity", e.quantity}, {"unit", e.unit}};
      // At the register's resolution (supply voltage to 1 mV), as text.
      Json text = Json::object();
      for (int k = 0; k < 4; ++k) {
        std::string key = kinds[k];
        key[key.find(' ')] = '_';
        row[key] = given(4 * g + k) ? Json(Rounded(values[4 * g + k])) : Json(nullptr);
        text[key] = given(4 * g + k) ? Json(decoded[4 * g + k].text) : Json(nullptr);
      }
      row["text"] = std::move(text);
      list.push_back(std::move(row));
    }
    ctx.PrintJson(list);
    return kOk;
  }
  std::vector<std::vector<std::string>> rows = {{"", kinds[0], kinds[1], kinds[2], kinds[3]}};
  for (int g = 0; g < qsfp_dd::kThresholdCount / 4; ++g) {
    const auto& e = table[4 * g];
    std::vector<std::string> row = {std::string(e.quantity) + " (" + e.unit + ")"};
    for (int k = 0; k < 4; ++k)
      row.push_back(PadLeft(given(4 * g + k) ? TwoDecimals(values[4 * g + k]) : "n/a", 12));
    rows.push_back(row);
  }
  PrintTable(ctx.out, rows);
  return kOk;
}

}  // namespace

Command DdmCommand() {
  return {"ddm",
          "ddm [--watch SECONDS] [--csv FILE [--append|--overwrite]]",
          "temperature, supply voltage and per-lane bias and optical powers",
          "One monitor and flag refresh as the DDM window makes it. Each value is\n"
          "printed \"%0.2f\" with its unit; a value with an active warning or alarm\n"
          "flag is marked with the kinds, e.g. [low alarm, low warning].\n",
          [] {
            std::vector<CommandOption> options = {
                {"--watch", "SECONDS",
                 "refresh every SECONDS (above 0, at most 86400; \"0.5\" for\n"
                 "twice a second) until Ctrl-C or a closed pipe (exit 0);\n"
                 "each refresh is printed and flushed as it comes, with --json\n"
                 "as one JSON line (JSON Lines); a failed refresh is reported\n"
                 "on stderr and the watch goes on"}};
            for (auto& o : CsvOptions("one row per refresh, with a timestamp; a header row\n"
                                      "starts the file"))
              options.push_back(o);
            return options;
          }(),
          Ddm};
}

Command ThresholdsCommand() {
  return {"thresholds",
          "thresholds",
          "the twenty alarm and warning thresholds",
          "Reads the page 02h thresholds of temperature, supply voltage, Rx power,\n"
          "Tx bias and Tx power and prints them in engineering units.\n",
          {},
          Thresholds};
}

}  // namespace cli
