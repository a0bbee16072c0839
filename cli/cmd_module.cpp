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
#include "module/cmis_decode.h"
#include "module/controls.h"
#include "module/flag_reader.h"
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

// "tx-power-high-alarm" -> "tx_power_high_alarm"
std::string Snake(std::string key) {
  std::replace(key.begin(), key.end(), '-', '_');
  return key;
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

template <typename T>
Json OrNull(const std::optional<T>& v) {
  return v ? Json(*v) : Json(nullptr);
}

// "1, 3, 5 and 7": the host lanes an application may begin on.
std::vector<int> LaneList(uint8_t mask) {
  std::vector<int> lanes;
  for (int lane = 1; lane <= kLanes; ++lane)
    if (mask & (1u << (lane - 1))) lanes.push_back(lane);
  return lanes;
}

std::string FixedText(double value, int decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
  return buf;
}

// The decode besides the fourteen rows, all from one snapshot.
struct InfoDecode {
  cmis::Identity identity;
  cmis::Applications applications;
  cmis::Revisions revisions;
  cmis::ModuleFlags flags;
  cmis::MediaInfo media;
  std::vector<cmis::PageChecksum> checksums;
  cmis::Tuning tuning;
};

// The reads the decode needs, each once: the advertisement (identification,
// applications, thresholds page), status and alarm bytes (through the
// module's flag reader), monitors (aux values), the control page (staged set
// 0) and, for a tunable module, page 12h.
InfoDecode ReadDecode(qsfp_dd::CQSFP_DD& module) {
  BoardResult r = module.ReadAdvertisement();
  if (r) r = module.ReadStatusImage();
  if (r) r = module.ReadAlarmImage();
  if (r) r = module.ReadMonitors();
  if (r) r = module.ReadControlImage();
  if (r && module.Advertised() && module.Advertised()->tunable) r = module.ReadTuningImage();
  if (!r) throw BoardError("info: reading the module failed: " + r.Text());
  const ModuleImages images = module.Snapshot();
  return {cmis::DecodeIdentity(images), cmis::DecodeApplications(images),
          cmis::DecodeRevisions(images),  cmis::DecodeModuleFlags(images),
          cmis::DecodeMedia(images),      cmis::VerifyChecksums(images),
          cmis::DecodeTuning(images)};
}

// A frequency in THz to 1 MHz, without binary noise (195.05, not 195.04999999999998).
Json Micro(const std::optional<double>& thz) {
  return thz ? Json(std::round(*thz * 1e6) / 1e6) : Json(nullptr);
}

Json LaneConfigJson(const std::optional<cmis::LaneConfig>& c) {
  if (!c) return nullptr;
  return {{"app_sel", c->app_sel}, {"data_path", c->data_path}, {"explicit_control", c->explicit_control}};
}

Json DecodeJson(const InfoDecode& d) {
  Json doc = Json::object();
  const auto& id = d.identity;
  auto text = [](const cmis::TextField& f) { return ValidUtf8(f.trimmed); };
  auto raw = [](const cmis::TextField& f) { return ValidUtf8(f.raw); };
  char oui[16];
  std::snprintf(oui, sizeof oui, "0x%02X%02X%02X", id.oui[0], id.oui[1], id.oui[2]);
  doc["identity"] = {
      {"identifier", id.identifier},
      {"identifier_name", id.identifier_name},
      {"vendor_name", text(id.vendor_name)},
      {"vendor_name_raw", raw(id.vendor_name)},
      {"vendor_oui", oui},
      {"part_number", text(id.part_number)},
      {"part_number_raw", raw(id.part_number)},
      {"revision", text(id.revision)},
      {"serial_number", text(id.serial_number)},
      {"serial_number_raw", raw(id.serial_number)},
      {"date_code", text(id.date_code)},
      {"clei", text(id.clei)},
      {"power_class", id.power_class},
      {"max_power", {{"value", id.max_power_w}, {"unit", "W"}, {"text", id.max_power_text}}},
      {"wavelength",
       id.wavelength_nm ? Json{{"value", *id.wavelength_nm}, {"unit", "nm"}, {"text", id.wavelength_text}}
                        : Json(nullptr)},
      {"wavelength_tolerance",
       id.tolerance_nm ? Json{{"value", *id.tolerance_nm}, {"unit", "nm"}, {"text", id.tolerance_text}}
                       : Json(nullptr)},
      {"media_technology", {{"code", id.media_technology}, {"text", id.media_technology_name}}}};
  if (!id.available) doc["identity"] = nullptr;

  const auto& a = d.applications;
  Json apps = Json::array();
  for (const auto& app : a.list)
    apps.push_back({{"app_sel", app.app_sel},
                    {"host_code", app.host_code},
                    {"host_interface", app.host_name},
                    {"media_code", app.media_code},
                    {"media_interface", app.media_name},
                    {"host_lanes", app.host_lanes},
                    {"media_lanes", app.media_lanes},
                    {"host_lane_options", LaneList(app.host_lane_options)},
                    {"media_lane_options",
                     app.media_lane_options ? Json(LaneList(*app.media_lane_options)) : Json(nullptr)}});
  Json lanes = Json::array();
  for (int lane = 1; lane <= kLanes; ++lane)
    lanes.push_back({{"lane", lane},
                     {"active", LaneConfigJson(a.active[lane - 1])},
                     {"staged0", LaneConfigJson(a.staged0[lane - 1])}});
  doc["applications"] = a.available ? Json{{"media_type", {{"code", a.media_type}, {"text", a.media_type_name}}},
                                           {"list", std::move(apps)},
                                           {"lanes", std::move(lanes)}}
                                    : Json(nullptr);

  auto version = [](const auto& v) { return v ? Json(v->Text()) : Json(nullptr); };
  doc["revisions"] = {{"cmis", version(d.revisions.cmis)},
                      {"active_firmware", version(d.revisions.active_firmware)},
                      {"inactive_firmware", version(d.revisions.inactive_firmware)},
                      {"hardware", version(d.revisions.hardware)}};

  Json module_flags = Json::object();
  for (const auto& v : d.flags.module) module_flags[Snake(v.flag->key)] = OrNull(v.set);
  auto lane_bits = [](const cmis::LaneBits& bits) {
    Json out = Json::array();
    for (const auto& b : bits) out.push_back(OrNull(b));
    return out;
  };
  doc["status"] = {
      {"module_flags", std::move(module_flags)},
      {"fault_cause", d.flags.fault_cause
                          ? Json{{"code", *d.flags.fault_cause}, {"text", d.flags.fault_cause_name}}
                          : Json(nullptr)},
      {"output_status", {{"meaning", cmis::OutputStatus::kMeaning},
                         {"rx", lane_bits(d.flags.outputs.rx)},
                         {"tx", lane_bits(d.flags.outputs.tx)}}}};

  const auto& m = d.media;
  Json aux = Json::array();
  for (const auto& x : m.aux)
    aux.push_back({{"name", x.name},
                   {"kind", x.kind_name},
                   {"supported", x.supported},
                   {"value", x.value && std::isfinite(*x.value) ? Json(*x.value) : Json(nullptr)},
                   {"unit", x.unit},
                   {"text", x.value ? x.text : std::string("n/a")}});
  doc["media"] = m.available ? Json{
      {"media_type", {{"code", m.media_type}, {"text", m.media_type_name}}},
      {"connector", {{"code", m.connector}, {"text", m.connector_name}}},
      {"cable_length_m", OrNull(m.cable_length_m)},
      {"cable_length_text", m.cable_length_text},
      {"reach", {{"smf_km", OrNull(m.reach.smf_km)}, {"om5_m", OrNull(m.reach.om5_m)},
                 {"om4_m", OrNull(m.reach.om4_m)}, {"om3_m", OrNull(m.reach.om3_m)},
                 {"om2_m", OrNull(m.reach.om2_m)}}},
      {"rx_power_measurement",
       m.rx_power_average ? Json(*m.rx_power_average ? "average" : "OMA") : Json(nullptr)},
      {"case_temperature_min_C", OrNull(m.case_temp_min_c)},
      {"case_temperature_max_C", OrNull(m.case_temp_max_c)},
      {"cooled", OrNull(m.cooled)},
      {"aux_monitors", std::move(aux)}} : Json(nullptr);

  Json sums = Json::array();
  for (const auto& c : d.checksums)
    sums.push_back({{"page", Hex2(c.page)},
                    {"first", c.first},
                    {"last", c.last},
                    {"at", c.at},
                    {"expected", c.available ? Json(c.stored) : Json(nullptr)},
                    {"computed", c.available ? Json(c.computed) : Json(nullptr)},
                    {"verified", c.available ? Json(c.ok) : Json(nullptr)}});
  doc["checksums"] = std::move(sums);

  Json tuning_lanes = Json::array();
  for (const auto& t : d.tuning.lanes)
    tuning_lanes.push_back({{"lane", t.lane},
                            {"grid_code", t.grid_code},
                            {"grid_GHz", OrNull(t.grid_ghz)},
                            {"fine_tuning", t.fine_tuning},
                            {"channel", t.channel},
                            {"frequency_THz", Micro(t.frequency_thz)},
                            {"current_frequency_THz", Micro(t.current_frequency_thz)},
                            {"target_power_dBm", t.target_power_dbm},
                            {"tuning_in_progress", t.tuning_in_progress},
                            {"wavelength_unlocked", t.wavelength_unlocked}});
  doc["tuning"] = {{"supported", d.tuning.supported},
                   {"available", d.tuning.available},
                   {"lanes", std::move(tuning_lanes)}};
  return doc;
}

void PrintDecode(std::ostream& out, const InfoDecode& d) {
  auto section = [&out](const char* title) { out << "\n== " << title << "\n"; };
  const auto& id = d.identity;
  section("Identification");
  PrintTable(out, {{"Vendor name", ValidUtf8(id.vendor_name.trimmed)},
                   {"Part number", ValidUtf8(id.part_number.trimmed)},
                   {"Serial number", ValidUtf8(id.serial_number.trimmed)},
                   {"Max power", id.max_power_text},
                   {"Wavelength", id.wavelength_nm ? id.wavelength_text : "n/a"},
                   {"Tolerance", id.tolerance_nm ? id.tolerance_text : "n/a"}});

  section("Applications");
  const auto& a = d.applications;
  if (!a.available) {
    out << "n/a\n";
  } else {
    std::vector<std::vector<std::string>> rows = {
        {"AppSel", "Host interface", "Media interface", "Host lanes", "Media lanes", "Host lane options"}};
    for (const auto& app : a.list) {
      std::string options;
      for (int lane : LaneList(app.host_lane_options))
        options += (options.empty() ? "" : ",") + std::to_string(lane);
      rows.push_back({std::to_string(app.app_sel), app.host_name, app.media_name,
                      std::to_string(app.host_lanes), std::to_string(app.media_lanes), options});
    }
    PrintTable(out, rows);
    out << "\n";
    auto config = [](const std::optional<cmis::LaneConfig>& c) {
      if (!c) return std::string("n/a");
      if (c->app_sel == 0) return std::string("none");
      return "AppSel " + std::to_string(c->app_sel) + " (data path " + std::to_string(c->data_path) + ")";
    };
    std::vector<std::vector<std::string>> lanes = {{"Lane", "Active", "Staged set 0"}};
    for (int lane = 1; lane <= kLanes; ++lane)
      lanes.push_back({std::to_string(lane), config(a.active[lane - 1]), config(a.staged0[lane - 1])});
    PrintTable(out, lanes);
  }

  section("Revisions");
  auto version = [](const auto& v) { return v ? v->Text() : std::string("n/a"); };
  PrintTable(out, {{"CMIS revision", version(d.revisions.cmis)},
                   {"Active firmware", version(d.revisions.active_firmware)},
                   {"Inactive firmware", version(d.revisions.inactive_firmware)},
                   {"Hardware revision", version(d.revisions.hardware)}});

  section("Module flags and status");
  std::string raised;
  for (const auto& v : d.flags.module)
    if (v.set && *v.set) raised += (raised.empty() ? "" : ", ") + std::string(v.flag->name);
  auto lane_text = [](const cmis::LaneBits& bits) {
    std::string t;
    for (const auto& b : bits) t += b ? (*b ? "1" : "0") : "-";
    return t;
  };
  PrintTable(out, {{"Module flags set", raised.empty() ? "none" : raised},
                   {"Fault cause", d.flags.fault_cause ? d.flags.fault_cause_name : "n/a"},
                   {"Rx output status", lane_text(d.flags.outputs.rx)},
                   {"Tx output status", lane_text(d.flags.outputs.tx)}});
  out << "Output status " << cmis::OutputStatus::kMeaning << ", lanes 1-8 (- not in use)\n";

  section("Media");
  const auto& m = d.media;
  if (!m.available) {
    out << "n/a\n";
  } else {
    auto opt = [](const std::optional<double>& v, const char* unit, int decimals) {
      return v ? FixedText(*v, decimals) + " " + unit : std::string("n/a");
    };
    std::vector<std::vector<std::string>> rows = {
        {"Media type", m.media_type_name},
        {"Connector", m.connector_name},
        {"Cable length", m.cable_length_m ? m.cable_length_text : "n/a"},
        {"Reach SMF", opt(m.reach.smf_km, "km", 1)},
        {"Reach OM5", opt(m.reach.om5_m, "m", 0)},
        {"Reach OM4", opt(m.reach.om4_m, "m", 0)},
        {"Reach OM3", opt(m.reach.om3_m, "m", 0)},
        {"Reach OM2", opt(m.reach.om2_m, "m", 0)},
        {"Rx power measurement",
         m.rx_power_average ? (*m.rx_power_average ? "average" : "OMA") : "n/a"},
        {"Case temperature",
         m.case_temp_min_c && m.case_temp_max_c
             ? std::to_string(*m.case_temp_min_c) + " to " + std::to_string(*m.case_temp_max_c) + " \u2103"
             : "n/a"}};
    for (const auto& x : m.aux)
      rows.push_back({std::string(x.name) + " (" + x.kind_name + ")",
                      !x.supported ? "not supported" : x.value ? x.text : "n/a"});
    PrintTable(out, rows);
  }

  section("Page checksums");
  std::vector<std::vector<std::string>> sums = {{"Page", "Expected", "Computed", "Verified"}};
  for (const auto& c : d.checksums)
    sums.push_back({Hex2(c.page) + "h", c.available ? "0x" + Hex2(c.stored) : "n/a",
                    c.available ? "0x" + Hex2(c.computed) : "n/a",
                    c.available ? (c.ok ? "ok" : "MISMATCH") : "n/a"});
  PrintTable(out, sums);

  if (d.tuning.supported) {
    section("Tuning (page 12h)");
    if (!d.tuning.available) {
      out << "n/a\n";
    } else {
      std::vector<std::vector<std::string>> rows = {
          {"Lane", "Grid", "Channel", "Frequency", "Current", "Target power", "Status"}};
      for (const auto& t : d.tuning.lanes)
        rows.push_back({std::to_string(t.lane),
                        t.grid_ghz ? FixedText(*t.grid_ghz, 1) + " GHz" : "n/a",
                        std::to_string(t.channel),
                        t.frequency_thz ? FixedText(*t.frequency_thz, 5) + " THz" : "n/a",
                        t.current_frequency_thz ? FixedText(*t.current_frequency_thz, 6) + " THz" : "n/a",
                        FixedText(t.target_power_dbm, 2) + " dBm",
                        t.tuning_in_progress ? "tuning"
                                             : t.wavelength_unlocked ? "unlocked" : "locked"});
      PrintTable(out, rows);
    }
  }
}

int Info(Context& ctx, std::vector<std::string>& args) {
  if (!args.empty()) throw UsageError("info takes no arguments");
  const bool verbose = ctx.Flag("--verbose");
  CDevice& board = ctx.Board();
  qsfp_dd::CQSFP_DD module(&board);
  BoardResult read;
  const auto rows = ReadInformation(module, &read);
  if (!read) throw BoardError("info: reading the module failed: " + read.Text());
  if (ctx.json) {
    Json list = Json::array();
    for (const auto& r : rows) list.push_back({{"label", r.label}, {"value", r.value}});
    Json doc = {{"rows", std::move(list)}};
    const Json decode = DecodeJson(ReadDecode(module));
    for (const auto& [key, value] : decode.items()) doc[key] = value;
    ctx.PrintJson(doc);
    return kOk;
  }
  std::vector<std::vector<std::string>> table;
  for (const auto& r : rows) table.push_back({r.label, r.value});
  PrintTable(ctx.out, table);
  if (verbose) PrintDecode(ctx.out, ReadDecode(module));
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
  // A value the module does not give is null, never a number (NaN, 0 or -40).
  const bool reading = v.HasReading() && std::isfinite(v.value);
  return {{"value", reading ? Json(Rounded(v.value)) : Json(nullptr)},
          {"text", reading ? v.text : std::string(v.state == DdmState::kUnknownScale ? "unknown" : "n/a")},
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

// Seconds as "2", "0.5" or ".5": more than 0, at most a day.
double ParseSeconds(const std::string& text, const char* option = "--watch") {
  static const std::regex kDecimal(R"(\d+(\.\d*)?|\.\d+)");
  double s = 0;
  if (std::regex_match(text, kDecimal)) std::from_chars(text.data(), text.data() + text.size(), s);
  if (!(s > 0 && s <= 86400))
    throw UsageError(std::string(option) + ": \"" + text +
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

// True when the field's byte was read at the latest refresh (a module
// without the page has none to give).
bool FieldCurrent(const ModuleImages& images, const StatusField& f, int lane) {
  const auto spot = Locate(f.field, lane);
  return spot && images.Current(spot->page, spot->reg);
}

int Flags(Context& ctx, std::vector<std::string>& args) {
  if (!args.empty()) throw UsageError("flags takes no arguments");
  CDevice& board = ctx.Board();
  qsfp_dd::CQSFP_DD module(&board);
  // The status bytes as the flags page reads them, then the alarm and
  // warning bytes (module flags, the threshold flags of page 11h): every
  // latched byte once, through the module's flag reader.
  BoardResult read = module.ReadStatusImage();
  if (read) read = module.ReadAlarmImage();
  if (!read) throw BoardError("flags: reading the module failed: " + read.Text());
  const ModuleImages images = module.Snapshot();
  const auto& fields = FlagsPageFields();
  const auto interrupt = cmis::InterruptAsserted(images);
  const auto summary = cmis::DecodeFlagSummary(images);
  const auto decoded = cmis::DecodeModuleFlags(images);
  const auto counts = module.Flags().Get();
  auto optional_bit = [](const std::optional<bool>& b) { return b ? Json(*b) : Json(nullptr); };
  auto lane_bits = [&](const cmis::LaneBits& bits) {
    Json lanes = Json::array();
    for (const auto& b : bits) lanes.push_back(optional_bit(b));
    return lanes;
  };
  auto is_threshold_flag = [](const cmis::LatchedFlag& f) {
    return f.page == 0x11 && ((f.reg >= 139 && f.reg <= 146) || (f.reg >= 149 && f.reg <= 152));
  };

  if (ctx.json) {
    auto value = [&](const StatusField& f, int lane) -> Json {
      if (!FieldCurrent(images, f, lane)) return nullptr;  // not read: the module gave nothing
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
    // Lower 3 bit 0 reads 0 while the interrupt is asserted.
    doc["interrupt"] = optional_bit(interrupt);
    if (summary.available) {
      Json bits = Json::array();
      for (const auto& b : summary.bits) bits.push_back({{"bit", b.bit}, {"name", b.name}, {"set", b.set}});
      doc["lower_byte_4"] = {{"cmis_revision", summary.revision.Text()},
                             {"by_page", summary.by_page},
                             {"title", summary.title},
                             {"explanation", summary.explanation},
                             {"bits", std::move(bits)}};
    } else {
      doc["lower_byte_4"] = nullptr;
    }
    doc["output_status"] = {{"meaning", cmis::OutputStatus::kMeaning},
                            {"rx", lane_bits(decoded.outputs.rx)},
                            {"tx", lane_bits(decoded.outputs.tx)}};
    Json module_flags = Json::object();
    for (const auto& v : decoded.module) module_flags[Snake(v.flag->key)] = optional_bit(v.set);
    doc["module_flags"] = std::move(module_flags);
    if (decoded.fault_cause)
      doc["fault_cause"] = {{"code", *decoded.fault_cause}, {"text", decoded.fault_cause_name}};
    else
      doc["fault_cause"] = nullptr;
    Json threshold_flags = Json::object();
    for (const cmis::LatchedFlag& f : cmis::LatchedFlags()) {
      if (!is_threshold_flag(f)) continue;
      Json lanes = Json::array({nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr});
      for (const auto& v : decoded.lanes)
        if (v.flag == &f && v.lane >= 1 && v.lane <= kLanes) lanes[v.lane - 1] = optional_bit(v.set);
      threshold_flags[Snake(f.key)] = std::move(lanes);
    }
    doc["threshold_flags"] = std::move(threshold_flags);
    // What this read found raised, from the module's flag reader.
    Json raised = Json::array();
    for (const auto& r : counts.records)
      if (r.count > 0)
        raised.push_back({{"flag", r.flag->key},
                          {"lane", r.lane ? Json(r.lane) : Json(nullptr)},
                          {"count", r.count}});
    doc["counts"] = std::move(raised);
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
      module_rows.push_back({f.caption, !FieldCurrent(images, f, 0) ? "-"
                                        : f.items                   ? ItemOrCode(f, v)
                                        : (v ? "on" : "off")});
    } else if (f.items) {
      (dp ? config : dp) = &f;
    } else {
      std::vector<std::string> row = {f.caption};
      for (int lane = 1; lane <= kLanes; ++lane)
        row.push_back(!FieldCurrent(images, f, lane) ? "-" : f.ValueIn(images, lane) ? "x" : ".");
      grid.push_back(row);
    }
  }
  PrintTable(ctx.out, module_rows);
  ctx.out << "\n";
  std::vector<std::vector<std::string>> extra;
  extra.push_back({"Interrupt (lower 3 bit 0 = 0)",
                   interrupt ? (*interrupt ? "asserted" : "deasserted") : "n/a"});
  if (summary.available) {
    std::string bits;
    for (const auto& b : summary.bits)
      if (b.set) bits += (bits.empty() ? "" : ", ") + b.name;
    extra.push_back({summary.title + " (CMIS " + summary.revision.Text() + ")",
                     bits.empty() ? "none set" : bits});
  }
  auto lane_text = [](const cmis::LaneBits& bits) {
    std::string t;
    for (const auto& b : bits) t += b ? (*b ? "1" : "0") : "-";
    return t;
  };
  extra.push_back({"Rx output status (page 11h 0x84)", lane_text(decoded.outputs.rx)});
  extra.push_back({"Tx output status (page 11h 0x85)", lane_text(decoded.outputs.tx)});
  extra.push_back({"Fault cause (lower 0x29)",
                   decoded.fault_cause ? decoded.fault_cause_name : std::string("n/a")});
  PrintTable(ctx.out, extra);
  if (summary.available) ctx.out << summary.explanation << "\n";
  ctx.out << "Output status " << cmis::OutputStatus::kMeaning << ", lanes 1-8 (- not in use)\n";
  std::vector<std::vector<std::string>> raised;
  for (const auto& r : counts.records)
    if (r.count > 0)
      raised.push_back({r.flag->name, r.lane ? "lane " + std::to_string(r.lane) : "module",
                        "count " + std::to_string(r.count)});
  if (!raised.empty()) {
    ctx.out << "\nRaised in this read:\n";
    PrintTable(ctx.out, raised);
  }
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

// ---- controls ----

int Controls(Context& ctx, std::vector<std::string>& args) {
  if (!args.empty()) throw UsageError("controls takes no arguments");
  CDevice& board = ctx.Board();
  qsfp_dd::CQSFP_DD module(&board);
  if (const BoardResult read = module.ReadControlImage(); !read)
    throw BoardError("controls: reading the module failed: " + read.Text());
  const auto rows = cmis::DecodeControls(module.Snapshot());
  auto text = [](const cmis::ControlRow& row, int lane, uint8_t value) {
    return row.family ? ValueText(*row.family, lane, value) : std::to_string(value);
  };
  if (ctx.json) {
    Json doc = Json::object();
    for (const auto& row : rows) {
      auto entry = [&](int lane) -> Json {
        const auto& v = row.values[lane ? lane - 1 : 0];
        if (!v) return nullptr;
        if (row.family && row.family->kind == ControlKind::kCheck) return *v != 0;
        const std::string* item = row.family ? row.family->ItemText(lane, *v) : nullptr;
        return {{"code", *v}, {"text", item ? Json(*item) : Json(nullptr)}};
      };
      if (!row.per_lane) {
        doc[Snake(row.key)] = entry(0);
        continue;
      }
      Json lanes = Json::array();
      for (int lane = 1; lane <= kLanes; ++lane) lanes.push_back(entry(lane));
      doc[Snake(row.key)] = std::move(lanes);
    }
    ctx.PrintJson(doc);
    return kOk;
  }
  if (rows.empty()) {
    ctx.out << "no control state (the module has no control page)\n";
    return kOk;
  }
  std::vector<std::vector<std::string>> module_rows;
  std::vector<std::vector<std::string>> grid;
  std::vector<std::string> head = {""};
  for (int lane = 1; lane <= kLanes; ++lane) head.push_back("Ln" + std::to_string(lane));
  grid.push_back(head);
  for (const auto& row : rows) {
    if (!row.per_lane) {
      module_rows.push_back({row.key, row.values[0] ? text(row, 0, *row.values[0]) : "n/a", row.title});
      continue;
    }
    std::vector<std::string> cells = {row.key};
    for (int lane = 1; lane <= kLanes; ++lane) {
      const auto& v = row.values[lane - 1];
      if (!v)
        cells.push_back("-");
      else if (row.family && row.family->kind == ControlKind::kCheck)
        cells.push_back(*v ? "on" : "off");
      else
        cells.push_back(std::to_string(*v));
    }
    grid.push_back(cells);
  }
  if (!module_rows.empty()) {
    PrintTable(ctx.out, module_rows);
    ctx.out << "\n";
  }
  PrintTable(ctx.out, grid);
  return kOk;
}

// ---- monitor ----

std::string MonitorEventText(const FlagReader::Event& e) {
  std::string where = e.lane ? " lane " + std::to_string(e.lane) : "";
  return IsoTime(e.time) + "  " + (e.set ? "set    " : "cleared") + "  " + e.flag->key + where +
         "  count " + std::to_string(e.count);
}

Json MonitorEventJson(const FlagReader::Event& e) {
  return {{"time", IsoTime(e.time)},
          {"flag", e.flag->key},
          {"lane", e.lane ? Json(e.lane) : Json(nullptr)},
          {"event", e.set ? "set" : "cleared"},
          {"count", e.count}};
}

int Monitor(Context& ctx, std::vector<std::string>& args) {
  if (!args.empty()) throw UsageError("monitor takes no arguments besides its options");
  std::string seconds_text;
  const bool limited = ctx.Option("--seconds", &seconds_text);
  const double seconds = limited ? ParseSeconds(seconds_text, "--seconds") : 0;

  CDevice& board = ctx.Board();
  qsfp_dd::CQSFP_DD module(&board);
  FlagReader& reader = module.Flags();
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  const auto end = start + std::chrono::duration_cast<Clock::duration>(
                               std::chrono::duration<double>(limited ? seconds : 0));
  uint64_t printed = 0;
  bool output_ok = true;
  // Prints the reader's events since the last print; false when stdout failed.
  auto print_events = [&] {
    for (const auto& e : reader.EventsAfter(printed)) {
      printed = e.sequence;
      if (ctx.json)
        ctx.PrintJson(MonitorEventJson(e));
      else
        ctx.out << MonitorEventText(e) << "\n";
    }
    ctx.out << std::flush;
    if (ctx.out) return true;
    ctx.reader_gone = ctx.ReaderGone();
    return false;
  };
  // One refresh of every latched byte, through the module object so that its
  // flag reader owns them.
  auto refresh = [&] {
    BoardResult r = module.ReadAlarmImage();
    if (r) r = module.ReadStatusImage();
    return r;
  };
  int status = kOk;
  std::string failure;
  // The period ends (or Ctrl-C comes) with one more refresh, so that a flag
  // raised or cleared since the last one is reported.
  for (bool last = false;;) {
    if (const BoardResult r = refresh(); !r) {
      failure = "monitor: reading the module failed: " + r.Text();
      status = kBoardFailure;
      break;
    }
    if (!(output_ok = print_events()) || last) break;
    const auto next = Clock::now() + std::chrono::seconds(1);
    while (!g_interrupted && Clock::now() < next && !(limited && Clock::now() >= end))
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    last = g_interrupted || (limited && Clock::now() >= end);
  }
  if (!output_ok) return kOk;  // the reader went away: as after Ctrl-C
  const auto snapshot = reader.Get();
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  auto time_or_null = [](const std::optional<FlagReader::Clock::time_point>& t) {
    return t ? Json(IsoTime(*t)) : Json(nullptr);
  };
  if (ctx.json) {
    Json flags = Json::array();
    for (const auto& r : snapshot.records)
      if (r.count > 0 || r.last_clear)
        flags.push_back({{"flag", r.flag->key},
                         {"lane", r.lane ? Json(r.lane) : Json(nullptr)},
                         {"count", r.count},
                         {"first_set", time_or_null(r.first_set)},
                         {"last_set", time_or_null(r.last_set)},
                         {"last_clear", time_or_null(r.last_clear)}});
    ctx.PrintJson({{"summary", std::move(flags)},
                   {"seconds", std::round(elapsed * 1000) / 1000},
                   {"interrupted", g_interrupted.load()},
                   {"dropped_events", snapshot.dropped_events}});
  } else {
    std::vector<std::vector<std::string>> rows = {
        {"Flag", "Lane", "Count", "First set", "Last set", "Last clear"}};
    auto time_text = [](const std::optional<FlagReader::Clock::time_point>& t) {
      return t ? IsoTime(*t) : std::string("-");
    };
    for (const auto& r : snapshot.records)
      if (r.count > 0 || r.last_clear)
        rows.push_back({r.flag->key, r.lane ? std::to_string(r.lane) : "-", std::to_string(r.count),
                        time_text(r.first_set), time_text(r.last_set), time_text(r.last_clear)});
    ctx.out << "== summary\n";
    if (rows.size() == 1)
      ctx.out << "no flag was raised\n";
    else
      PrintTable(ctx.out, rows);
  }
  ctx.out << std::flush;
  if (status != kOk) throw BoardError(failure);
  return kOk;
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
                   "technology and connector. --verbose (and --json) add the decode: the\n"
                   "applications and the application each lane runs (active and staged set 0),\n"
                   "revisions and firmware, module flags, fault cause and output status, media,\n"
                   "cable, reach and aux monitors, page checksums and, for a tunable module,\n"
                   "page 12h.\n",
                   {{"--verbose", "", "add the decode below the fourteen rows"}}, Info});
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
                   "configuration status. Latched flags clear when read. Then the interrupt\n"
                   "(asserted while lower 0x03 bit 0 is 0), lower byte 4 named by the CMIS\n"
                   "revision (by page from 5.0, by lane before), the Rx/Tx output status\n"
                   "(page 11h 0x84, 0x85: 1 output valid), the fault cause and the flags this\n"
                   "read found raised; --json adds the module flags and the threshold flags.\n",
                   {}, Flags});
  table.push_back({"thresholds", "thresholds", "the twenty alarm and warning thresholds",
                   "Reads the page 02h thresholds of temperature, supply voltage, Rx power,\n"
                   "Tx bias and Tx power and prints them in engineering units.\n",
                   {}, Thresholds});
  table.push_back({"controls", "controls", "the control page's state: Tx disable, data path, polarity, squelch",
                   "Reads the control registers (lower 0x1A and page 10h) and prints each control\n"
                   "as the module holds it: module-wide controls with their value, then one row\n"
                   "per lane control (on/off, or the list position; - where the module has no\n"
                   "value). Names are those `set` takes.\n",
                   {}, Controls});
  table.push_back(
      {"monitor", "monitor [--seconds N]", "print flag events as they happen, then a summary",
       "Reads every latched flag byte once a second through the module's flag reader\n"
       "and prints each flag raised (set) or seen clear again (cleared) with its lane\n"
       "and count, as it happens; with --json one JSON line per event. Ends after N\n"
       "seconds or at Ctrl-C and prints a summary per flag: count, first set, last\n"
       "set, last clear (with --json a last line {summary, seconds, interrupted}).\n"
       "Exit 1 when the board fails (after the summary).\n",
       {{"--seconds", "N", "stop after N seconds (above 0, at most 86400); default:\nuntil Ctrl-C"}},
       Monitor});
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
