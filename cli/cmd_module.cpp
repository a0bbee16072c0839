// Module commands: identification, diagnostics, flags, thresholds, controls
// and memory dumps, all through the module object.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <ostream>
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

std::string LocalTime(const char* format) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buf[64];
  std::strftime(buf, sizeof buf, format, &local);
  return buf;
}

std::string RegisterName(uint8_t page, uint8_t reg) {
  char buf[32];
  if (reg < 0x80)
    std::snprintf(buf, sizeof buf, "lower 0x%02X", reg);
  else
    std::snprintf(buf, sizeof buf, "page %02Xh 0x%02X", page, reg);
  return buf;
}

std::string JsonNumber(float value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f", value);
  return buf;
}

// ---- info ----

int Info(Context& ctx, std::vector<std::string>& args) {
  ExpectNoMoreOptions(args);
  if (!args.empty()) throw UsageError("info takes no arguments");
  CDevice& board = ctx.Board();
  qsfp_dd::CQSFP_DD module(&board);
  BoardResult read;
  const auto rows = ReadInformation(module, &read);
  if (!read) throw BoardError("info: reading the module failed: " + read.Text());
  if (ctx.json) {
    ctx.out << "[";
    for (size_t i = 0; i < rows.size(); ++i)
      ctx.out << (i ? ",\n " : "") << "{\"label\": " << JsonString(rows[i].label)
              << ", \"value\": " << JsonString(rows[i].value) << "}";
    ctx.out << "]\n";
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

std::string JsonValue(const DdmValue& v) {
  std::string flags;
  for (int kind : {kHighAlarm, kLowAlarm, kHighWarning, kLowWarning})
    if (v.flags & (1u << kind))
      flags += (flags.empty() ? "" : ", ") + JsonString(FlagKindName(kind));
  return "{\"value\": " + JsonNumber(v.value) + ", \"text\": " + JsonString(v.text) +
         ", \"unit\": " + JsonString(v.unit) + ", \"flags\": [" + flags + "]}";
}

void PrintDdm(Context& ctx, const DdmReadings& r, const std::string& time) {
  if (ctx.json) {
    ctx.out << "{";
    if (!time.empty()) ctx.out << "\"time\": " << JsonString(time) << ", ";
    ctx.out << "\"temperature\": " << JsonValue(r.temperature) << ", \"vcc\": " << JsonValue(r.vcc)
            << ", \"lanes\": [";
    for (int i = 0; i < kLanes; ++i)
      ctx.out << (i ? ", " : "") << "{\"lane\": " << i + 1 << ", \"bias\": " << JsonValue(r.bias[i])
              << ", \"tx_power\": " << JsonValue(r.tx_power[i])
              << ", \"rx_power\": " << JsonValue(r.rx_power[i]) << "}";
    ctx.out << "]}\n";
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

double ParseSeconds(const std::string& text) {
  char* end = nullptr;
  const double s = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !std::isfinite(s) || s <= 0 || s > 86400)
    throw UsageError("--watch: \"" + text + "\" is not a number of seconds (0-86400)");
  return s;
}

int Ddm(Context& ctx, std::vector<std::string>& args) {
  std::string watch_text, csv_path;
  const bool watch = TakeOption(args, "--watch", &watch_text);
  TakeOption(args, "--csv", &csv_path);
  ExpectNoMoreOptions(args);
  if (!args.empty()) throw UsageError("ddm takes no arguments besides its options");
  const double period = watch ? ParseSeconds(watch_text) : 0;
  std::ofstream csv;
  if (!csv_path.empty()) {
    bool fresh = true;
    {
      std::ifstream existing(csv_path, std::ios::binary | std::ios::ate);
      fresh = !existing || existing.tellg() == 0;
    }
    csv.open(csv_path, std::ios::app);
    if (!csv) throw UsageError("--csv: cannot open " + csv_path + " for appending");
    if (fresh) csv << CsvHeader() << "\n" << std::flush;
  }

  CDevice& board = ctx.Board();
  qsfp_dd::CQSFP_DD module(&board);
  // One refresh as the DDM window makes it: monitors, then the flag bytes.
  auto refresh = [&](DdmReadings* out) {
    BoardResult r = module.ReadMonitors();
    if (r) r = module.ReadAlarmImage();
    *out = DecodeDdm(module.Snapshot());
    return r;
  };
  auto record = [&](const DdmReadings& r, const std::string& time) {
    if (csv.is_open()) csv << CsvRow(r, LocalTime("%Y-%m-%dT%H:%M:%S")) << "\n" << std::flush;
    PrintDdm(ctx, r, time);
    ctx.out << std::flush;
  };
  // A watch ends when its reader goes away (a closed pipe), as after Ctrl-C.
  auto reader_gone = [&] { return !ctx.out; };

  if (!watch) {
    DdmReadings r;
    if (auto read = refresh(&r); !read)
      throw BoardError("ddm: reading the module failed: " + read.Text());
    record(r, "");
    return kOk;
  }
  using Clock = std::chrono::steady_clock;
  const auto step =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(period));
  auto next = Clock::now();
  while (!g_interrupted && !reader_gone()) {
    next += step;
    try {
      ctx.Board();  // reopens a board that came back after an unplug
      DdmReadings r;
      if (auto read = refresh(&r))
        record(r, LocalTime("%Y-%m-%d %H:%M:%S"));
      else {
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
  ExpectNoMoreOptions(args);
  if (!args.empty()) throw UsageError("flags takes no arguments");
  CDevice& board = ctx.Board();
  qsfp_dd::CQSFP_DD module(&board);
  if (auto read = module.ReadStatusImage(); !read)
    throw BoardError("flags: reading the module failed: " + read.Text());
  const ModuleImages images = module.Snapshot();
  const auto& fields = FlagsPageFields();

  if (ctx.json) {
    auto value = [&](const StatusField& f, int lane) {
      const uint8_t v = f.ValueIn(images, lane);
      if (!f.items) return std::string(v ? "true" : "false");
      const std::string* item = f.ItemText(v);
      return "{\"code\": " + std::to_string(v) +
             ", \"text\": " + (item ? JsonString(*item) : "null") + "}";
    };
    ctx.out << "{";
    for (size_t i = 0; i < fields.size(); ++i) {
      const StatusField& f = fields[i];
      ctx.out << (i ? ",\n " : "") << JsonString(f.name) << ": ";
      if (!f.PerLane()) {
        ctx.out << value(f, 0);
        continue;
      }
      ctx.out << "[";
      for (int lane = 1; lane <= kLanes; ++lane)
        ctx.out << (lane > 1 ? ", " : "") << value(f, lane);
      ctx.out << "]";
    }
    ctx.out << "}\n";
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
  ExpectNoMoreOptions(args);
  if (!args.empty()) throw UsageError("thresholds takes no arguments");
  CDevice& board = ctx.Board();
  qsfp_dd::CQSFP_DD module(&board);
  if (auto read = module.ReadThresholds(); !read)
    throw BoardError("thresholds: reading the module failed: " + read.Text());
  const auto values = module.Thresholds();
  const auto& table = qsfp_dd::ThresholdTable();
  const char* kinds[] = {"high alarm", "low alarm", "high warning", "low warning"};
  if (ctx.json) {
    ctx.out << "[";
    for (int g = 0; g < qsfp_dd::kThresholdCount / 4; ++g) {
      const auto& e = table[4 * g];
      ctx.out << (g ? ",\n " : "") << "{\"quantity\": " << JsonString(e.quantity)
              << ", \"unit\": " << JsonString(e.unit);
      for (int k = 0; k < 4; ++k) {
        std::string key = kinds[k];
        key[key.find(' ')] = '_';
        ctx.out << ", " << JsonString(key) << ": " << JsonNumber(values[4 * g + k]);
      }
      ctx.out << "}";
    }
    ctx.out << "]\n";
    return kOk;
  }
  std::vector<std::vector<std::string>> rows = {{"", kinds[0], kinds[1], kinds[2], kinds[3]}};
  for (int g = 0; g < qsfp_dd::kThresholdCount / 4; ++g) {
    const auto& e = table[4 * g];
    std::vector<std::string> row = {std::string(e.quantity) + " (" + e.unit + ")"};
    for (int k = 0; k < 4; ++k) row.push_back(PadLeft(JsonNumber(values[4 * g + k]), 12));
    rows.push_back(row);
  }
  PrintTable(ctx.out, rows);
  return kOk;
}

// ---- set ----

uint8_t ParseControlValue(const ControlFamily& f, const std::string& text, int lane) {
  if (f.kind == ControlKind::kCheck) {
    if (text == "on" || text == "true" || text == "yes") return 1;
    if (text == "off" || text == "false" || text == "no") return 0;
  }
  if (f.items)
    for (int i = 0; i < f.ItemCount(lane == 0 ? 1 : lane); ++i)
      if (text == (*f.items)[i] && !text.empty()) return static_cast<uint8_t>(i);
  return static_cast<uint8_t>(ParseNumber(text, f.MaxValue(), std::string(f.name) + " VALUE"));
}

std::string ValueText(const ControlFamily& f, int lane, uint8_t value) {
  if (f.kind == ControlKind::kCheck) return value ? "on" : "off";
  std::string text = std::to_string(value);
  if (const std::string* item = f.ItemText(lane, value)) text += " (" + *item + ")";
  return text;
}

int Set(Context& ctx, std::vector<std::string>& args) {
  ExpectNoMoreOptions(args);
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
    value = ParseControlValue(*f, args[next], lanes.front());
  }

  CDevice& board = ctx.Board();
  qsfp_dd::CQSFP_DD module(&board);
  std::vector<std::string> json;
  for (int lane : lanes) {
    if (auto r = f->Apply(module, lane, value); !r)
      throw BoardError(std::string("set ") + f->name +
                       (lane ? " lane " + std::to_string(lane) : "") + ": " + r.Text());
    const auto spot = Locate(f->field, lane);
    const uint8_t byte = module.Snapshot().Byte(spot->page, spot->reg);
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", byte);
    if (ctx.json) {
      char address[16];
      std::snprintf(address, sizeof address, "0x%06X", spot->address);
      json.push_back(
          "{\"control\": " + JsonString(f->name) +
          (lane ? ", \"lane\": " + std::to_string(lane) : std::string()) +
          (f->kind == ControlKind::kAction ? "" : ", \"value\": " + std::to_string(value)) +
          ", \"address\": " + JsonString(address) + ", \"byte\": " + std::to_string(byte) + "}");
      continue;
    }
    std::string line = f->name;
    if (lane) line += " lane " + std::to_string(lane);
    if (f->kind != ControlKind::kAction) line += " = " + ValueText(*f, lane, value);
    ctx.out << line << ": wrote " << hex << " to " << RegisterName(spot->page, spot->reg) << "\n";
  }
  if (ctx.json) {
    if (json.size() == 1)
      ctx.out << json[0] << "\n";
    else {
      ctx.out << "[";
      for (size_t i = 0; i < json.size(); ++i) ctx.out << (i ? ",\n " : "") << json[i];
      ctx.out << "]\n";
    }
  }
  return kOk;
}

std::string SetHelp() {
  std::ostringstream h;
  h << "Changes one control of the control page or the staged control set 0 page:\n"
       "a read-modify-write of the one register that holds it, other bits kept.\n"
       "LANE is 1-8, or all for the eight lanes in order. VALUE is on/off for a\n"
       "check box, or a number (or the exact item text) for a list.\n\n";
  std::vector<std::vector<std::string>> rows = {{"NAME", "LANE", "VALUE", "WHERE", "CAPTION"}};
  for (const ControlFamily& f : ControlFamilies()) {
    const auto spot = Locate(f.field, 1);
    std::string where = RegisterName(spot->page, spot->reg);
    if (f.PerLane() && f.field.layout != Layout::kLaneBit) where += "..";
    std::string values;
    if (f.kind == ControlKind::kAction)
      values = "-";
    else if (f.kind == ControlKind::kCheck)
      values = "on/off";
    else
      values = "0-" + std::to_string(f.MaxValue());
    rows.push_back(
        {f.name, f.PerLane() ? "1-8" : "-", values, where, *f.caption ? f.caption : f.title});
  }
  PrintTable(h, rows);
  h << "\nList items (index = VALUE):\n";
  for (const ControlFamily& f : ControlFamilies()) {
    if (!f.items) continue;
    h << "  " << f.name << ":";
    for (int i = 0; i < static_cast<int>(f.items->size()); ++i)
      h << (i ? ", " : " ") << i << " " << (*f.items)[i];
    if (f.short_lanes) h << " (lanes 4 and 8 list 0-" << int(f.short_count) - 1 << " only)";
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
  TakeOption(args, "--pages", &pages_text);
  ExpectNoMoreOptions(args);
  if (args.size() > 1) throw UsageError("usage: dump [--pages LIST] [FILE]");
  const auto pages = ParsePages(pages_text);
  const std::string path = args.empty() ? "" : args[0];
  const std::string temp = path.empty() ? "" : path + ".part";
  std::ofstream file;
  if (!path.empty()) {
    file.open(temp, std::ios::trunc);
    if (!file) throw UsageError("cannot write " + temp);
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
  if (auto r = module.ReadBlockAt(RegisterAddress(0, 0x00), 128, image.lower.data()); !r)
    fail("dump: reading lower memory failed: " + r.Text());
  for (uint8_t page : pages)
    if (auto r = module.ReadBlockAt(RegisterAddress(page, 0x80), 128, image.pages[page].data()); !r)
      fail("dump: reading page " + Hex2(page) + "h failed: " + r.Text());

  std::string text;
  if (ctx.json) {
    auto bytes = [](const emu::ModuleModel::Page& p) {
      std::string s = "[";
      for (size_t i = 0; i < p.size(); ++i) s += (i ? ", " : "") + std::to_string(p[i]);
      return s + "]";
    };
    text = "{\"lower\": " + bytes(image.lower) + ", \"pages\": {";
    bool first = true;
    for (const auto& [n, p] : image.pages) {
      char key[8];
      std::snprintf(key, sizeof key, "%02x", n);
      text += (first ? "" : ", ") + JsonString(key) + ": " + bytes(p);
      first = false;
    }
    text += "}}\n";
  } else {
    text = emu::FormatModuleDump(
        image, "module memory, lanewright-cli dump, " + LocalTime("%Y-%m-%d %H:%M:%S"));
  }
  if (path.empty()) {
    ctx.out << text;
    return kOk;
  }
  file << text;
  file.close();
  if (!file || std::rename(temp.c_str(), path.c_str()) != 0) {
    std::remove(temp.c_str());
    throw BoardError("cannot write " + path);
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
                   Info});
  table.push_back({"ddm", "ddm [--watch SECONDS] [--csv FILE]",
                   "temperature, supply voltage and per-lane bias and optical powers",
                   "One monitor and flag refresh as the DDM window makes it. Each value is\n"
                   "printed \"%0.2f\" with its unit; a value with an active warning or alarm\n"
                   "flag is marked with the kinds, e.g. [low alarm, low warning].\n\n"
                   "  --watch SECONDS  refresh every SECONDS until Ctrl-C (exit 0); each\n"
                   "                   refresh is printed and flushed as it comes; a failed\n"
                   "                   refresh is reported on stderr and the watch goes on\n"
                   "  --csv FILE       append one row per refresh, with a timestamp, to FILE\n"
                   "                   (a header row starts a new file)\n",
                   Ddm});
  table.push_back({"flags", "flags", "module state, data path states and the lane flags",
                   "Reads the status registers as the flags page does and prints the module\n"
                   "state, interrupt and module-state-changed, the bank-0 lane flags, the\n"
                   "eight per-lane flags (x set, . clear), each lane's data path state and\n"
                   "configuration status. Latched flags clear when read.\n",
                   Flags});
  table.push_back({"thresholds", "thresholds", "the twenty alarm and warning thresholds",
                   "Reads the page 02h thresholds of temperature, supply voltage, Rx power,\n"
                   "Tx bias and Tx power and prints them in engineering units.\n",
                   Thresholds});
  table.push_back({"set", "set NAME [LANE] VALUE", "change one module control", SetHelp(), Set});
  table.push_back({"dump", "dump [--pages LIST] [FILE]", "capture module memory in the dump format",
                   "Reads lower memory and the listed pages (default 00,01,02,10,11; two hex\n"
                   "digits each, comma separated) and writes them in the module dump format\n"
                   "to FILE, or to stdout. The file loads again with --emulate-module FILE.\n",
                   Dump});
}

}  // namespace cli
