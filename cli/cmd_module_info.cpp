// `info`: the information page's rows and, with --verbose or --json, the
// decode of everything the module advertises.
#include <fmt/format.h>

#include <cmath>
#include <ostream>

#include "cli/cmd_module.h"
#include "module/cmis_decode.h"
#include "module/info.h"
#include "module/qsfp_dd.h"

namespace cli {
namespace {

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
  return {cmis::DecodeIdentity(images),  cmis::DecodeApplications(images),
          cmis::DecodeRevisions(images), cmis::DecodeModuleFlags(images),
          cmis::DecodeMedia(images),     cmis::VerifyChecksums(images),
          cmis::DecodeTuning(images)};
}

// A frequency in THz to 1 MHz, without binary noise (195.05, not 195.04999999999998).
Json Micro(const std::optional<double>& thz) {
  return thz ? Json(std::round(*thz * 1e6) / 1e6) : Json(nullptr);
}

Json LaneConfigJson(const std::optional<cmis::LaneConfig>& c) {
  if (!c) return nullptr;
  return {{"app_sel", c->app_sel},
          {"data_path", c->data_path},
          {"explicit_control", c->explicit_control}};
}

Json DecodeJson(const InfoDecode& d) {
  Json doc = Json::object();
  const auto& id = d.identity;
  auto text = [](const cmis::TextField& f) { return ValidUtf8(f.trimmed); };
  auto raw = [](const cmis::TextField& f) { return ValidUtf8(f.raw); };
  const std::string oui = fmt::format("0x{:02X}{:02X}{:02X}", id.oui[0], id.oui[1], id.oui[2]);
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
       id.wavelength_nm
           ? Json{{"value", *id.wavelength_nm}, {"unit", "nm"}, {"text", id.wavelength_text}}
           : Json(nullptr)},
      {"wavelength_tolerance",
       id.tolerance_nm
           ? Json{{"value", *id.tolerance_nm}, {"unit", "nm"}, {"text", id.tolerance_text}}
           : Json(nullptr)},
      {"media_technology", {{"code", id.media_technology}, {"text", id.media_technology_name}}}};
  if (!id.available) doc["identity"] = nullptr;

  const auto& a = d.applications;
  Json apps = Json::array();
  for (const auto& app : a.list)
    apps.push_back(
        {{"app_sel", app.app_sel},
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
  doc["applications"] =
      a.available ? Json{{"media_type", {{"code", a.media_type}, {"text", a.media_type_name}}},
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
  doc["status"] = {{"module_flags", std::move(module_flags)},
                   {"fault_cause", d.flags.fault_cause ? Json{{"code", *d.flags.fault_cause},
                                                              {"text", d.flags.fault_cause_name}}
                                                       : Json(nullptr)},
                   {"output_status",
                    {{"meaning", cmis::OutputStatus::kMeaning},
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
  doc["media"] = m.available
                     ? Json{{"media_type", {{"code", m.media_type}, {"text", m.media_type_name}}},
                            {"connector", {{"code", m.connector}, {"text", m.connector_name}}},
                            {"cable_length_m", OrNull(m.cable_length_m)},
                            {"cable_length_text", m.cable_length_text},
                            {"reach",
                             {{"smf_km", OrNull(m.reach.smf_km)},
                              {"om5_m", OrNull(m.reach.om5_m)},
                              {"om4_m", OrNull(m.reach.om4_m)},
                              {"om3_m", OrNull(m.reach.om3_m)},
                              {"om2_m", OrNull(m.reach.om2_m)}}},
                            {"rx_power_measurement",
                             m.rx_power_average ? Json(*m.rx_power_average ? "average" : "OMA")
                                                : Json(nullptr)},
                            {"case_temperature_min_C", OrNull(m.case_temp_min_c)},
                            {"case_temperature_max_C", OrNull(m.case_temp_max_c)},
                            {"cooled", OrNull(m.cooled)},
                            {"aux_monitors", std::move(aux)}}
                     : Json(nullptr);

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
    std::vector<std::vector<std::string>> rows = {{"AppSel", "Host interface", "Media interface",
                                                   "Host lanes", "Media lanes",
                                                   "Host lane options"}};
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
      return "AppSel " + std::to_string(c->app_sel) + " (data path " +
             std::to_string(c->data_path) + ")";
    };
    std::vector<std::vector<std::string>> lanes = {{"Lane", "Active", "Staged set 0"}};
    for (int lane = 1; lane <= kLanes; ++lane)
      lanes.push_back(
          {std::to_string(lane), config(a.active[lane - 1]), config(a.staged0[lane - 1])});
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
        {"Case temperature", m.case_temp_min_c && m.case_temp_max_c
                                 ? std::to_string(*m.case_temp_min_c) + " to " +
                                       std::to_string(*m.case_temp_max_c) + " \u2103"
                                 : "n/a"}};
    for (const auto& x : m.aux)
      rows.push_back({std::string(x.name) + " (" + x.kind_name + ")", !x.supported ? "not supported"
                                                                      : x.value    ? x.text
                                                                                   : "n/a"});
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
        rows.push_back(
            {std::to_string(t.lane), t.grid_ghz ? FixedText(*t.grid_ghz, 1) + " GHz" : "n/a",
             std::to_string(t.channel),
             t.frequency_thz ? FixedText(*t.frequency_thz, 5) + " THz" : "n/a",
             t.current_frequency_thz ? FixedText(*t.current_frequency_thz, 6) + " THz" : "n/a",
             FixedText(t.target_power_dbm, 2) + " dBm",
             t.tuning_in_progress    ? "tuning"
             : t.wavelength_unlocked ? "unlocked"
                                     : "locked"});
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

}  // namespace

Command InfoCommand() {
  return {"info",
          "info",
          "the module's identification, as the information page shows it",
          "Reads pages 00h and 01h and prints the fourteen rows of the information\n"
          "page: identifier, power class, maximum power, vendor, OUI, part and serial\n"
          "numbers, date code, CLEI code, revision, wavelength and tolerance, device\n"
          "technology and connector. --verbose (and --json) add the decode: the\n"
          "applications and the application each lane runs (active and staged set 0),\n"
          "revisions and firmware, module flags, fault cause and output status, media,\n"
          "cable, reach and aux monitors, page checksums and, for a tunable module,\n"
          "page 12h.\n",
          {{"--verbose", "", "add the decode below the fourteen rows"}},
          Info};
}

}  // namespace cli
