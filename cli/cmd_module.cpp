// Module commands: identification, diagnostics, flags, thresholds, controls
// and memory dumps, all through the module object.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <cstring>
#include <ostream>
#include <regex>
#include <sstream>
#include <thread>

#include "cli/cli.h"
#include "emulator/module_model.h"
#include "module/controls.h"
#include "module/ddm.h"
#include "module/info.h"
#include "module/qsfp_dd.h"
#include "module/status_fields.h"

namespace cli {
namespace {

// ---- Text helpers ----

// Columns on a terminal: UTF-8 continuation bytes take no room.
size_t DisplayWidth(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

std::string Pad(const std::string& s, size_t width) {
  const size_t w = DisplayWidth(s);
  return w >= width ? s : s + std::string(width - w, ' ');
}

std::string PadLeft(const std::string& s, size_t width) {
  const size_t w = DisplayWidth(s);
  return w >= width ? s : std::string(width - w, ' ') + s;
}

// Prints rows of cells as aligned columns (two spaces apart), no trailing blanks.
void PrintTable(std::ostream& out, const std::vector<std::vector<std::string>>& rows) {
  std::vector<size_t> widths;
  for (const auto& row : rows)
    for (size_t c = 0; c < row.size(); ++c) {
      if (widths.size() <= c) widths.push_back(0);
      widths[c] = std::max(widths[c], DisplayWidth(row[c]));
    }
  for (const auto& row : rows) {
    std::string line;
    for (size_t c = 0; c < row.size(); ++c)
      line += c + 1 < row.size() ? Pad(row[c], widths[c] + 2) : row[c];
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << "\n";
  }
}

std::string Now() { return IsoTime(std::chrono::system_clock::now()); }

std::string RegisterName(uint8_t page, uint8_t reg) {
  char buf[32];
  if (reg < 0x80)
    std::snprintf(buf, sizeof buf, "lower 0x%02X", reg);
  else
    std::snprintf(buf, sizeof buf, "page %02Xh 0x%02X", page, reg);
  return buf;
}

// "%.2f", as the pages show values.
std::string TwoDecimals(float value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f", value);
  return buf;
}

// The value as the pages show it (two decimals), as a JSON number.
double Rounded(float value) {
  char buf[64];
  const auto end = std::to_chars(buf, buf + sizeof buf, static_cast<double>(value),
                                 std::chars_format::fixed, 2).ptr;
  double out = 0;
  std::from_chars(buf, end, out);
  return out;
}

// ---- info ----

int Info(Context& ctx, std::vector<std::string>& args) {
  if (!args.empty()) throw UsageError("info takes no arguments");
  CDevice& board = ctx.Board();
  qsfp_dd::CQSFP_DD module(&board);
  BoardResult read;
  const auto rows = ReadInformation(module, &read);
  if (!read) throw BoardError("info: reading the module failed: " + read.Text());
  if (ctx.json) {
    Json list = Json::array();
    for (const auto& r : rows) list.push_back({{"label", r.label}, {"value", r.value}});
    ctx.PrintJson(list);
    return kOk;
  }
  std::vector<std::vector<std::string>> table;
  for (const auto& r : rows) table.push_back({r.label, r.value});
  PrintTable(ctx.out, table);
  return kOk;
}

// ---- ddm ----

std::string Cell(const DdmValue& v) {
  return v.Flagged() ? v.text + " [" + FlagKindsText(v.flags) + "]" : v.text;
}

Json JsonValue(const DdmValue& v) {
  Json flags = Json::array();
  for (int kind : {kHighAlarm, kLowAlarm, kHighWarning, kLowWarning})
    if (v.flags & (1u << kind)) flags.push_back(FlagKindName(kind));
  return {{"value", Rounded(v.value)}, {"text", v.text}, {"unit", v.unit}, {"flags", flags}};
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

// Seconds as "2", "0.5" or ".5": more than 0, at most a day.
double ParseSeconds(const std::string& text) {
  static const std::regex kDecimal(R"(\d+(\.\d*)?|\.\d+)");
  double s = 0;
  if (std::regex_match(text, kDecimal)) std::from_chars(text.data(), text.data() + text.size(), s);
  if (!(s > 0 && s <= 86400))
    throw UsageError("--watch: \"" + text +
                     "\" is not a number of seconds above 0 and at most 86400");
  return s;
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

// ---- flags ----

std::string ItemOrCode(const StatusField& f, uint8_t value) {
  if (const std::string* item = f.ItemText(value)) return *item;
  char buf[32];
  std::snprintf(buf, sizeof buf, "(no item for code %X)", value);
  return buf;
}

int Flags(Context& ctx, std::vector<std::string>& args) {
  if (!args.empty()) throw UsageError("flags takes no arguments");
  CDevice& board = ctx.Board();
  qsfp_dd::CQSFP_DD module(&board);
  if (const BoardResult read = module.ReadStatusImage(); !read)
    throw BoardError("flags: reading the module failed: " + read.Text());
  const ModuleImages images = module.Snapshot();
  const auto& fields = FlagsPageFields();

  if (ctx.json) {
    auto value = [&](const StatusField& f, int lane) -> Json {
      const uint8_t v = f.ValueIn(images, lane);
      if (!f.items) return v != 0;
      const std::string* item = f.ItemText(v);
      return {{"code", v}, {"text", item ? Json(*item) : Json(nullptr)}};
    };
    Json doc = Json::object();
    for (const StatusField& f : fields) {
      std::string key = f.name;  // "module-state" -> "module_state"
      std::replace(key.begin(), key.end(), '-', '_');
      if (!f.PerLane()) {
        doc[key] = value(f, 0);
        continue;
      }
      Json lanes = Json::array();
      for (int lane = 1; lane <= kLanes; ++lane) lanes.push_back(value(f, lane));
      doc[key] = std::move(lanes);
    }
    ctx.PrintJson(doc);
    return kOk;
  }

  std::vector<std::vector<std::string>> module_rows, grid, lists;
  std::vector<std::string> head = {""};
  for (int lane = 1; lane <= kLanes; ++lane) head.push_back("Ln" + std::to_string(lane));
  grid.push_back(head);
  const StatusField* dp = nullptr;
  const StatusField* config = nullptr;
  for (const StatusField& f : fields) {
    if (!f.PerLane()) {
      const uint8_t v = f.ValueIn(images, 0);
      module_rows.push_back({f.caption, f.items ? ItemOrCode(f, v) : (v ? "on" : "off")});
    } else if (f.items) {
      (dp ? config : dp) = &f;
    } else {
      std::vector<std::string> row = {f.caption};
      for (int lane = 1; lane <= kLanes; ++lane) row.push_back(f.ValueIn(images, lane) ? "x" : ".");
      grid.push_back(row);
    }
  }
  PrintTable(ctx.out, module_rows);
  ctx.out << "\n";
  PrintTable(ctx.out, grid);
  ctx.out << "\n";
  lists.push_back({"Lane", dp->caption, config->caption});
  for (int lane = 1; lane <= kLanes; ++lane)
    lists.push_back({std::to_string(lane), ItemOrCode(*dp, dp->ValueIn(images, lane)),
                     ItemOrCode(*config, config->ValueIn(images, lane))});
  PrintTable(ctx.out, lists);
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
  const auto& table = qsfp_dd::ThresholdTable();
  const char* kinds[] = {"high alarm", "low alarm", "high warning", "low warning"};
  if (ctx.json) {
    Json list = Json::array();
    for (int g = 0; g < qsfp_dd::kThresholdCount / 4; ++g) {
      const auto& e = table[4 * g];
      Json row = {{"quantity", e.quantity}, {"unit", e.unit}};
      for (int k = 0; k < 4; ++k) {
        std::string key = kinds[k];
        key[key.find(' ')] = '_';
        row[key] = Rounded(values[4 * g + k]);
      }
      list.push_back(std::move(row));
    }
    ctx.PrintJson(list);
    return kOk;
  }
  std::vector<std::vector<std::string>> rows = {{"", kinds[0], kinds[1], kinds[2], kinds[3]}};
  for (int g = 0; g < qsfp_dd::kThresholdCount / 4; ++g) {
    const auto& e = table[4 * g];
    std::vector<std::string> row = {std::string(e.quantity) + " (" + e.unit + ")"};
    for (int k = 0; k < 4; ++k) row.push_back(PadLeft(TwoDecimals(values[4 * g + k]), 12));
    rows.push_back(row);
  }
  PrintTable(ctx.out, rows);
  return kOk;
}

// ---- set ----

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// "4 and 8": the lanes of a mask.
std::string LanesText(uint8_t mask) {
  std::vector<std::string> lanes;
  for (int lane = 1; lane <= kLanes; ++lane)
    if (mask & (1u << (lane - 1))) lanes.push_back(std::to_string(lane));
  std::string text;
  for (size_t i = 0; i < lanes.size(); ++i)
    text += (i == 0 ? "" : i + 1 == lanes.size() ? " and " : ", ") + lanes[i];
  return text;
}

// The values the help states: "on/off", "0-15", "0-5 (lanes 4 and 8: 0-3)".
std::string ValuesText(const ControlFamily& f) {
  if (f.kind == ControlKind::kAction) return "-";
  if (f.kind == ControlKind::kCheck) return "on/off";
  std::string text = "0-" + std::to_string(f.ItemCount(0) - 1);
  if (f.short_lanes)
    text += " (lanes " + LanesText(f.short_lanes) + ": 0-" + std::to_string(f.short_count - 1) + ")";
  return text;
}

// A check box takes on/off, true/false, yes/no or 1/0 in any case; a list
// its position or an item's text (any case), valid on every lane given.
uint8_t ParseControlValue(const ControlFamily& f, const std::string& text,
                          const std::vector<int>& lanes) {
  const std::string what = std::string(f.name) + " VALUE";
  const std::string word = Lower(text);
  if (f.kind == ControlKind::kCheck) {
    if (word == "on" || word == "true" || word == "yes" || word == "1") return 1;
    if (word == "off" || word == "false" || word == "no" || word == "0") return 0;
    throw UsageError(what + ": \"" + text + "\" is not on or off");
  }
  int value = -1;
  for (int i = 0; i < f.ItemCount(0) && value < 0; ++i)
    if (!word.empty() && word == Lower((*f.items)[i])) value = i;
  if (value < 0) value = static_cast<int>(ParseNumber(text, f.MaxValue(), what));
  for (int lane : lanes)
    if (value >= f.ItemCount(lane))
      throw UsageError(what + ": " + text + " is not in the list" +
                       (lane ? " of lane " + std::to_string(lane) : std::string()) + " (0-" +
                       std::to_string(f.ItemCount(lane) - 1) + ")");
  return static_cast<uint8_t>(value);
}

std::string ValueText(const ControlFamily& f, int lane, uint8_t value) {
  if (f.kind == ControlKind::kCheck) return value ? "on" : "off";
  std::string text = std::to_string(value);
  if (const std::string* item = f.ItemText(lane, value)) text += " (" + *item + ")";
  return text;
}

int Set(Context& ctx, std::vector<std::string>& args) {
  if (args.empty()) throw UsageError("usage: set NAME [LANE] VALUE (see set --help)");
  const ControlFamily* f = FindControl(args[0]);
  if (!f) throw UsageError("no control \"" + args[0] + "\" (set --help lists them)");
  std::vector<int> lanes = {0};
  size_t next = 1;
  if (f->PerLane()) {
    if (args.size() < 2) throw UsageError(std::string("usage: set ") + f->name + " LANE VALUE");
    if (args[1] == "all") {
      lanes = {1, 2, 3, 4, 5, 6, 7, 8};
    } else {
      const auto lane = ParseNumber(args[1], kLanes, "LANE");
      if (lane < 1) throw UsageError("LANE: give 1-8 or all");
      lanes = {static_cast<int>(lane)};
    }
    next = 2;
  }
  uint8_t value = 0;
  if (f->kind == ControlKind::kAction) {
    if (args.size() != next) throw UsageError(std::string(f->name) + " takes no value");
  } else {
    if (args.size() != next + 1)
      throw UsageError(std::string("usage: set ") + f->name + (f->PerLane() ? " LANE" : "") +
                       " VALUE");
    value = ParseControlValue(*f, args[next], lanes);
  }

  CDevice& board = ctx.Board();
  qsfp_dd::CQSFP_DD module(&board);
  Json json = Json::array();
  for (int lane : lanes) {
    if (const BoardResult r = f->Apply(module, lane, value); !r)
      throw BoardError(std::string("set ") + f->name +
                       (lane ? " lane " + std::to_string(lane) : "") + ": " + r.Text());
    const auto spot = Locate(f->field, lane);
    const uint8_t byte = module.Snapshot().Byte(spot->page, spot->reg);
    char hex[16];
    if (ctx.json) {
      std::snprintf(hex, sizeof hex, "0x%06X", spot->address);
      Json entry = {{"control", f->name}};
      if (lane) entry["lane"] = lane;
      if (f->kind != ControlKind::kAction) entry["value"] = value;
      entry["address"] = hex;
      entry["byte"] = byte;
      json.push_back(std::move(entry));
      continue;
    }
    std::snprintf(hex, sizeof hex, "0x%02X", byte);
    std::string line = f->name;
    if (lane) line += " lane " + std::to_string(lane);
    if (f->kind != ControlKind::kAction) line += " = " + ValueText(*f, lane, value);
    ctx.out << line << ": wrote " << hex << " to " << RegisterName(spot->page, spot->reg) << "\n";
  }
  if (ctx.json) ctx.PrintJson(json.size() == 1 ? json[0] : json);
  return kOk;
}

std::string SetHelp() {
  std::ostringstream h;
  h << "Changes one control of the control page or the staged control set 0 page:\n"
       "a read-modify-write of the one register that holds it, other bits kept.\n"
       "LANE is 1-8, or all for the eight lanes in order. VALUE is on or off for a\n"
       "check box (true/false, yes/no and 1/0 too, in any case), or for a list an\n"
       "item's position or its text (in any case); with all, a value every lane's\n"
       "list holds.\n\n";
  std::vector<std::vector<std::string>> rows = {{"NAME", "LANE", "VALUE", "WHERE", "CAPTION"}};
  for (const ControlFamily& f : ControlFamilies()) {
    const auto spot = Locate(f.field, 1);
    std::string where = RegisterName(spot->page, spot->reg);
    if (f.PerLane() && f.field.layout != Layout::kLaneBit) where += "..";
    rows.push_back({f.name, f.PerLane() ? "1-8" : "-", ValuesText(f), where,
                    *f.caption ? f.caption : f.title});
  }
  PrintTable(h, rows);
  h << "\nList items (index = VALUE):\n";
  for (const ControlFamily& f : ControlFamilies()) {
    if (!f.items) continue;
    h << "  " << f.name << ":";
    for (int i = 0; i < static_cast<int>(f.items->size()); ++i)
      h << (i ? ", " : " ") << i << " " << (*f.items)[i];
    if (f.short_lanes)
      h << " (lanes " << LanesText(f.short_lanes) << " list 0-" << int(f.short_count) - 1 << " only)";
    h << "\n";
  }
  h << "\nExamples:\n"
       "  lanewright-cli --emulate set tx-disable 3 on\n"
       "  lanewright-cli --emulate set app-code 8 3\n"
       "  lanewright-cli --emulate set apply-immediate all on\n"
       "  lanewright-cli --emulate set soft-reset\n";
  return h.str();
}

// ---- dump ----

std::vector<uint8_t> ParsePages(const std::string& text) {
  std::vector<uint8_t> pages;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) {
    if (item.empty()) throw UsageError("--pages: empty item in \"" + text + "\"");
    std::string digits = item;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
      digits = digits.substr(2);
    if (digits.empty() || digits.size() > 2 ||
        digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
      throw UsageError("--pages: \"" + item + "\" is not a page number (two hex digits, e.g. 10)");
    const auto page = static_cast<uint8_t>(std::stoul(digits, nullptr, 16));
    if (std::find(pages.begin(), pages.end(), page) == pages.end()) pages.push_back(page);
  }
  if (pages.empty()) throw UsageError("--pages: no page given");
  return pages;
}

int Dump(Context& ctx, std::vector<std::string>& args) {
  std::string pages_text = "00,01,02,10,11";
  ctx.Option("--pages", &pages_text);
  if (args.size() > 1) throw UsageError("usage: dump [--pages LIST] [FILE]");
  const auto pages = ParsePages(pages_text);
  const std::string path = args.empty() ? "" : args[0];
  const std::string temp = path.empty() ? "" : path + ".part";
  std::error_code ec;
  if (!path.empty() && std::filesystem::is_directory(path, ec))
    throw FileError("dump: " + path + " is a directory");
  std::ofstream file;
  if (!path.empty()) {
    errno = 0;
    file.open(temp, std::ios::trunc);
    if (!file)
      throw FileError("dump: cannot write " + temp +
                      (errno ? std::string(": ") + std::strerror(errno) : std::string()));
  }
  auto fail = [&](const std::string& why) {
    if (file.is_open()) {
      file.close();
      std::remove(temp.c_str());
    }
    throw BoardError(why);
  };

  CDevice& board = ctx.Board();
  qsfp_dd::CQSFP_DD module(&board);
  emu::ModuleDumpImage image;
  image.has_lower = true;
  if (const BoardResult r = module.ReadBlockAt(RegisterAddress(0, 0x00), 128, image.lower.data()); !r)
    fail("dump: reading lower memory failed: " + r.Text());
  for (uint8_t page : pages)
    if (const BoardResult r =
            module.ReadBlockAt(RegisterAddress(page, 0x80), 128, image.pages[page].data());
        !r)
      fail("dump: reading page " + Hex2(page) + "h failed: " + r.Text());

  std::string text;
  if (ctx.json) {
    Json doc = {{"lower", image.lower}, {"pages", Json::object()}};
    for (const auto& [n, p] : image.pages) {
      char key[8];
      std::snprintf(key, sizeof key, "%02x", n);
      doc["pages"][key] = p;
    }
    text = DumpJson(doc, -1) + "\n";
  } else {
    text = emu::FormatModuleDump(image, "module memory, lanewright-cli dump, " + Now());
  }
  if (path.empty()) {
    ctx.out << text;
    return kOk;
  }
  errno = 0;
  file << text;
  file.close();
  if (!file || std::rename(temp.c_str(), path.c_str()) != 0) {
    const int error = errno;
    std::remove(temp.c_str());
    throw FileError("dump: cannot write " + path +
                    (error ? std::string(": ") + std::strerror(error) : std::string()));
  }
  std::string list;
  for (uint8_t p : pages) list += " " + Hex2(p);
  ctx.out << "wrote lower memory and pages" << list << " to " << path << "\n";
  return kOk;
}

}  // namespace

void RegisterModuleCommands(std::vector<Command>& table) {
  table.push_back({"info", "info", "the module's identification, as the information page shows it",
                   "Reads pages 00h and 01h and prints the fourteen rows of the information\n"
                   "page: identifier, power class, maximum power, vendor, OUI, part and serial\n"
                   "numbers, date code, CLEI code, revision, wavelength and tolerance, device\n"
                   "technology and connector.\n",
                   {}, Info});
  table.push_back(
      {"ddm", "ddm [--watch SECONDS] [--csv FILE [--append|--overwrite]]",
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
       Ddm});
  table.push_back({"flags", "flags", "module state, data path states and the lane flags",
                   "Reads the status registers as the flags page does and prints the module\n"
                   "state, interrupt and module-state-changed, the bank-0 lane flags, the\n"
                   "eight per-lane flags (x set, . clear), each lane's data path state and\n"
                   "configuration status. Latched flags clear when read.\n",
                   {}, Flags});
  table.push_back({"thresholds", "thresholds", "the twenty alarm and warning thresholds",
                   "Reads the page 02h thresholds of temperature, supply voltage, Rx power,\n"
                   "Tx bias and Tx power and prints them in engineering units.\n",
                   {}, Thresholds});
  table.push_back({"set", "set NAME [LANE] VALUE", "change one module control", SetHelp(), {}, Set});
  table.push_back({"dump", "dump [--pages LIST] [FILE]", "capture module memory in the dump format",
                   "Reads lower memory and the listed pages and writes them in the module dump\n"
                   "format to FILE (replacing it once the dump is complete), or to stdout. The\n"
                   "file loads again with --emulate-module FILE.\n",
                   {{"--pages", "LIST",
                     "pages to read, two hex digits each, comma separated\n"
                     "(default 00,01,02,10,11)"}},
                   Dump});
}

}  // namespace cli
