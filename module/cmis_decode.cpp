#include "module/cmis_decode.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <deque>
#include <set>
#include <utility>

#include "board/text_format.h"
#include "module/cmis_tables.h"
#include "module/controls.h"
#include "module/names.h"
#include "module/qsfp_dd.h"

namespace cmis {
namespace {

// Lower memory.
constexpr uint8_t kIdentifier = 0, kRevision = 1, kMemoryModel = 2, kState = 3, kFlagSummary = 4,
                  kModuleFlags = 8, kActiveFirmware = 39, kFaultCause = 41, kMediaType = 85,
                  kAppTable = 86;
constexpr int kLowerApps = 8;
// Page 00h.
constexpr uint8_t kPowerClass = 200, kMaxPower = 201, kCableLength = 202, kConnector = 203,
                  kMediaTechnology = 212;
// Page 01h.
constexpr uint8_t kInactiveFirmware = 128, kHardware = 130, kReach = 132, kWavelength = 138,
                  kTolerance = 140, kPagesSupported = 142, kCharacteristics = 145, kTempMax = 146,
                  kTempMin = 147, kRxCharacteristics = 151, kControlsSupported = 155,
                  kMonitorsSupported = 159, kBiasScale = 160, kMediaLaneOptions = 176,
                  kMoreApps = 223;
constexpr int kMoreAppCount = 7;
// Page 10h and 11h.
constexpr uint8_t kStagedConfig0 = 145, kRxOutputStatus = 132, kTxOutputStatus = 133,
                  kActiveConfig = 206;
// Page 12h.
constexpr uint8_t kGrid = 128, kChannel = 136, kCurrentFrequency = 168, kTargetPower = 200,
                  kTuningStatus = 222;

bool Paged(const ModuleImages& m) { return !(m.lower[kMemoryModel] & 0x80); }

bool Bit(uint8_t byte, int bit) { return (byte >> bit) & 1; }

// One application descriptor: host code, media code, lane counts, host lane options.
struct Descriptor {
  int app_sel;
  uint8_t page, reg;
};

std::vector<Descriptor> DescriptorPlaces(const ModuleImages& m) {
  std::vector<Descriptor> places;
  for (int i = 0; i < kLowerApps; ++i)
    places.push_back({i + 1, 0x00, static_cast<uint8_t>(kAppTable + 4 * i)});
  if (Paged(m))
    for (int i = 0; i < kMoreAppCount; ++i)
      places.push_back({kLowerApps + i + 1, 0x01, static_cast<uint8_t>(kMoreApps + 4 * i)});
  return places;
}

std::optional<LaneConfig> Config(const ModuleImages& m, uint8_t page, uint8_t reg) {
  if (!m.Current(page, reg)) return std::nullopt;
  const uint8_t b = m.Byte(page, reg);
  return LaneConfig{static_cast<uint8_t>(b >> 4), static_cast<uint8_t>(((b >> 1) & 7) + 1),
                    Bit(b, 0)};
}

TextField Text(const ModuleImages& m, uint8_t reg, int length) {
  TextField t;
  for (int i = 0; i < length; ++i) {
    const uint8_t c = m.Byte(0x00, static_cast<uint8_t>(reg + i));
    if (!c) break;
    t.raw += static_cast<char>(c);
  }
  const auto first = t.raw.find_first_not_of(' ');
  if (first != std::string::npos)
    t.trimmed = t.raw.substr(first, t.raw.find_last_not_of(' ') - first + 1);
  return t;
}

double Dbm(uint16_t raw) {
  if (raw == 0) return -40.0;
  return std::max(-40.0, 10.0 * std::log10(raw / 10000.0));
}

std::string WithCode(const char* what, uint8_t code) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%s (0x%02X)", what, code);
  return buf;
}

}  // namespace

// ---- Revisions ----

std::string Revision::Text() const { return std::to_string(major) + "." + std::to_string(minor); }
std::string Version::Text() const { return std::to_string(major) + "." + std::to_string(minor); }

Revisions DecodeRevisions(const ModuleImages& m) {
  Revisions r;
  if (m.Current(0, kRevision)) r.cmis = Revision::FromByte(m.lower[kRevision]);
  if (m.Current(0, kActiveFirmware, 2))
    r.active_firmware = Version{m.lower[kActiveFirmware], m.lower[kActiveFirmware + 1]};
  if (m.Current(0x01, kInactiveFirmware, 2))
    r.inactive_firmware =
        Version{m.Byte(0x01, kInactiveFirmware), m.Byte(0x01, kInactiveFirmware + 1)};
  if (m.Current(0x01, kHardware, 2))
    r.hardware = Version{m.Byte(0x01, kHardware), m.Byte(0x01, kHardware + 1)};
  return r;
}

// ---- Applications ----

const Application* Applications::Find(int app_sel) const {
  for (const Application& a : list)
    if (a.app_sel == app_sel) return &a;
  return nullptr;
}

Applications DecodeApplications(const ModuleImages& m) {
  Applications a;
  a.available = m.Current(0, kMediaType, 1 + 4 * kLowerApps);
  if (!a.available) return a;
  a.media_type = m.lower[kMediaType];
  a.media_type_name = MediaTypeName(a.media_type);
  for (const Descriptor& d : DescriptorPlaces(m)) {
    if (!m.Current(d.page, d.reg, 4)) break;
    uint8_t b[4];
    for (int i = 0; i < 4; ++i) b[i] = m.Byte(d.page, static_cast<uint8_t>(d.reg + i));
    if (b[0] == 0xFF) break;                         // the first unused descriptor ends the list
    if (!b[0] && !b[1] && !b[2] && !b[3]) continue;  // never programmed
    Application app;
    app.app_sel = d.app_sel;
    app.host_code = b[0];
    app.media_code = b[1];
    app.host_name = HostInterfaceName(b[0]);
    app.media_name = MediaInterfaceName(a.media_type, b[1]);
    app.host_lanes = b[2] >> 4;
    app.media_lanes = b[2] & 0x0F;
    app.host_lane_options = b[3];
    const auto options = static_cast<uint8_t>(kMediaLaneOptions + d.app_sel - 1);
    if (Paged(m) && m.Current(0x01, options)) app.media_lane_options = m.Byte(0x01, options);
    a.list.push_back(std::move(app));
  }
  for (int lane = 1; lane <= kLanes; ++lane) {
    a.active[lane - 1] = Config(m, 0x11, static_cast<uint8_t>(kActiveConfig + lane - 1));
    a.staged0[lane - 1] = Config(m, 0x10, static_cast<uint8_t>(kStagedConfig0 + lane - 1));
  }
  return a;
}

// ---- Advertisement ----

bool Advertisement::HasPage(uint8_t page) const {
  return std::find(pages.begin(), pages.end(), page) != pages.end();
}

Advertisement DecodeAdvertisement(const ModuleImages& m) {
  Advertisement a;
  if (!m.Current(0, kIdentifier, 3)) return a;
  a.identifier = m.lower[kIdentifier];
  a.revision = Revision::FromByte(m.lower[kRevision]);
  a.flat_memory = !Paged(m);
  a.pages = {0x00};
  if (!a.flat_memory) {
    if (!m.Current(0x01, kPagesSupported) || !m.Current(0x01, kControlsSupported) ||
        !m.Current(0x01, kMonitorsSupported, 2))
      return a;  // page 01h unread: nothing is known
    const uint8_t pages = m.Byte(0x01, kPagesSupported);
    std::set<uint8_t> have = {0x00, 0x01, 0x02, 0x10, 0x11};
    if (Bit(pages, 2)) have.insert(0x03);
    if (Bit(pages, 3)) have.insert(0x05);
    if (Bit(pages, 5)) have.insert({0x13, 0x14});
    if (Bit(pages, 7)) have.insert({0x16, 0x17});
    if (Bit(pages, 6))
      for (int p = 0x20; p <= 0x2F; ++p) have.insert(static_cast<uint8_t>(p));
    a.tunable = Bit(m.Byte(0x01, kControlsSupported), 6);
    if (a.tunable) have.insert({0x04, 0x12});
    a.pages.assign(have.begin(), have.end());
    a.banks = (pages & 3) == 1 ? 2 : (pages & 3) == 2 ? 4 : 1;
    const uint8_t mon = m.Byte(0x01, kMonitorsSupported), lane_mon = m.Byte(0x01, kBiasScale);
    a.monitors = {Bit(mon, 0), Bit(mon, 1),      Bit(mon, 2),      Bit(mon, 3),     Bit(mon, 4),
                  Bit(mon, 5), Bit(lane_mon, 0), Bit(lane_mon, 1), Bit(lane_mon, 2)};
    a.bias_scale_code = static_cast<uint8_t>((lane_mon >> 3) & 3);
    if (a.bias_scale_code != 3) a.bias_multiplier = 1 << a.bias_scale_code;
  }
  a.known = true;

  // Lanes in use: the sum over the data paths of their applications' lanes.
  const Applications apps = DecodeApplications(m);
  std::set<std::pair<int, int>> paths;  // (AppSel, first lane)
  for (const auto& lane : apps.active)
    if (lane && lane->app_sel) paths.insert({lane->app_sel, lane->data_path});
  int host = 0, media = 0;
  for (const auto& [app_sel, first] : paths)
    if (const Application* app = apps.Find(app_sel)) {
      host += app->host_lanes;
      media += app->media_lanes;
    }
  if (host || media) {
    a.lane_source = Advertisement::LaneSource::kActive;
  } else if (const Application* app = apps.Find(1)) {
    // The default application, on every host lane it may begin on.
    const int instances = std::max(1, std::popcount(app->host_lane_options));
    host = app->host_lanes * instances;
    media = app->media_lanes * instances;
    a.lane_source = Advertisement::LaneSource::kDefaultApplication;
  }
  if (a.lane_source != Advertisement::LaneSource::kWholeModule) {
    a.host_lanes = std::clamp(host, 0, kLanes);
    a.media_lanes = std::clamp(media, 0, kLanes);
  }
  return a;
}

// ---- Status, flags and output status ----

std::optional<bool> InterruptAsserted(const ModuleImages& m) {
  if (!m.Current(0, kState)) return std::nullopt;
  return !Bit(m.lower[kState], 0);
}

FlagSummary DecodeFlagSummary(const ModuleImages& m) {
  FlagSummary s;
  if (!m.Current(0, kRevision) || !m.Current(0, kFlagSummary)) return s;
  s.available = true;
  s.revision = Revision::FromByte(m.lower[kRevision]);
  s.by_page = s.revision.AtLeast(5, 0);
  const uint8_t b = m.lower[kFlagSummary];
  if (s.by_page) {
    s.title = "Flags summary of bank 0, by page";
    s.explanation = "A bit is set while at least one flag of that page (bank 0) is set.";
    const char* pages[] = {"Page 11h", "Page 12h", "Page 14h", "Page 2Ch"};
    for (int bit = 0; bit < 4; ++bit) s.bits.push_back({bit, pages[bit], Bit(b, bit)});
  } else {
    s.title = "Lane flags summary of bank 0, by lane";
    s.explanation =
        "Before CMIS 5.0: bit n-1 is set while lane n of bank 0 has at least one lane flag set.";
    for (int bit = 0; bit < kLanes; ++bit)
      s.bits.push_back({bit, "Lane " + std::to_string(bit + 1), Bit(b, bit)});
  }
  return s;
}

OutputStatus DecodeOutputStatus(const ModuleImages& m) {
  OutputStatus o;
  const Advertisement a = DecodeAdvertisement(m);
  const bool rx = m.Current(0x11, kRxOutputStatus), tx = m.Current(0x11, kTxOutputStatus);
  for (int lane = 1; lane <= kLanes; ++lane) {
    if (rx && a.HostLane(lane)) o.rx[lane - 1] = Bit(m.Byte(0x11, kRxOutputStatus), lane - 1);
    if (tx && a.MediaLane(lane)) o.tx[lane - 1] = Bit(m.Byte(0x11, kTxOutputStatus), lane - 1);
  }
  return o;
}

const std::vector<LatchedFlag>& LatchedFlags() {
  static const std::vector<LatchedFlag> table = [] {
    using S = FlagSide;
    std::vector<LatchedFlag> t = {
        {0, 8, 0, S::kModule, "module-state-changed", "Module state changed"},
        {0, 8, 1, S::kModule, "module-firmware-error", "Module firmware error"},
        {0, 8, 2, S::kModule, "data-path-firmware-error", "Data path firmware error"},
        {0, 8, 6, S::kModule, "cdb1-complete", "CDB command complete (instance 1)"},
        {0, 8, 7, S::kModule, "cdb2-complete", "CDB command complete (instance 2)"},
    };
    // Lower 9-11: four flags per monitor, high alarm first.
    const struct {
      uint8_t reg, shift;
      const char* key;
      const char* name;
    } monitors[] = {{9, 0, "temp", "Temperature"},    {9, 4, "vcc", "Supply voltage"},
                    {10, 0, "aux1", "Aux 1 monitor"}, {10, 4, "aux2", "Aux 2 monitor"},
                    {11, 0, "aux3", "Aux 3 monitor"}, {11, 4, "custom", "Custom monitor"}};
    // Keys and names outlive the table: they are built once, here.
    static std::deque<std::string> texts;
    const char* kinds[][2] = {{"high-alarm", "high alarm"},
                              {"low-alarm", "low alarm"},
                              {"high-warning", "high warning"},
                              {"low-warning", "low warning"}};
    for (const auto& mon : monitors)
      for (int k = 0; k < 4; ++k) {
        texts.push_back(std::string(mon.key) + "-" + kinds[k][0]);
        const char* key = texts.back().c_str();
        texts.push_back(std::string(mon.name) + " " + kinds[k][1]);
        t.push_back({0, mon.reg, static_cast<int8_t>(mon.shift + k), S::kModule, key,
                     texts.back().c_str()});
      }
    const LatchedFlag lanes[] = {
        {0x11, 134, -1, S::kHost, "dp-state-changed", "Data path state changed"},
        {0x11, 135, -1, S::kMedia, "tx-fault", "Tx fault"},
        {0x11, 136, -1, S::kHost, "tx-los", "Tx LOS"},
        {0x11, 137, -1, S::kHost, "tx-cdr-lol", "Tx CDR LOL"},
        {0x11, 138, -1, S::kHost, "tx-eq-fault", "Tx adaptive input equalizer fault"},
        {0x11, 139, -1, S::kMedia, "tx-power-high-alarm", "Tx power high alarm"},
        {0x11, 140, -1, S::kMedia, "tx-power-low-alarm", "Tx power low alarm"},
        {0x11, 141, -1, S::kMedia, "tx-power-high-warning", "Tx power high warning"},
        {0x11, 142, -1, S::kMedia, "tx-power-low-warning", "Tx power low warning"},
        {0x11, 143, -1, S::kMedia, "tx-bias-high-alarm", "Tx bias high alarm"},
        {0x11, 144, -1, S::kMedia, "tx-bias-low-alarm", "Tx bias low alarm"},
        {0x11, 145, -1, S::kMedia, "tx-bias-high-warning", "Tx bias high warning"},
        {0x11, 146, -1, S::kMedia, "tx-bias-low-warning", "Tx bias low warning"},
        {0x11, 147, -1, S::kMedia, "rx-los", "Rx LOS"},
        {0x11, 148, -1, S::kMedia, "rx-cdr-lol", "Rx CDR LOL"},
        {0x11, 149, -1, S::kMedia, "rx-power-high-alarm", "Rx power high alarm"},
        {0x11, 150, -1, S::kMedia, "rx-power-low-alarm", "Rx power low alarm"},
        {0x11, 151, -1, S::kMedia, "rx-power-high-warning", "Rx power high warning"},
        {0x11, 152, -1, S::kMedia, "rx-power-low-warning", "Rx power low warning"},
    };
    t.insert(t.end(), std::begin(lanes), std::end(lanes));
    return t;
  }();
  return table;
}

bool IsLatchedRegister(uint8_t page, uint8_t reg) {
  if (reg < 0x80) return reg >= kModuleFlags && reg <= 11;
  return page == 0x11 && reg >= 134 && reg <= 152;
}

ModuleFlags DecodeModuleFlags(const ModuleImages& m) {
  ModuleFlags f;
  const Advertisement a = DecodeAdvertisement(m);
  for (const LatchedFlag& flag : LatchedFlags()) {
    const bool current = m.Current(flag.page, flag.reg);
    const uint8_t byte = m.Byte(flag.page, flag.reg);
    if (flag.bit >= 0) {
      f.module.push_back(
          {&flag, 0, current ? std::optional<bool>(Bit(byte, flag.bit)) : std::nullopt});
      continue;
    }
    for (int lane = 1; lane <= kLanes; ++lane) {
      const bool used = flag.side == FlagSide::kMedia ? a.MediaLane(lane) : a.HostLane(lane);
      if (!used) continue;
      f.lanes.push_back(
          {&flag, lane, current ? std::optional<bool>(Bit(byte, lane - 1)) : std::nullopt});
    }
  }
  if (m.Current(0, kFaultCause)) {
    f.fault_cause = m.lower[kFaultCause];
    f.fault_cause_name = ModuleFaultCauseName(*f.fault_cause);
  }
  f.outputs = DecodeOutputStatus(m);
  return f;
}

// ---- Media, cable and monitors ----

MediaInfo DecodeMedia(const ModuleImages& m) {
  MediaInfo info;
  info.available = m.Current(0, kMediaType) && m.Current(0x00, kCableLength, 2);
  if (!info.available) return info;
  const Advertisement a = DecodeAdvertisement(m);
  info.media_type = m.lower[kMediaType];
  info.media_type_name = MediaTypeName(info.media_type);
  info.connector = m.Byte(0x00, kConnector);
  info.connector_name = names::ItemOr(
      names::Connectors(), info.connector,
      WithCode(info.connector >= 0x80 ? "Vendor specific" : "Reserved", info.connector));
  const uint8_t length = m.Byte(0x00, kCableLength);
  const double multipliers[] = {0.1, 1, 10, 100};
  if (length & 0x3F) {
    info.cable_length_m = (length & 0x3F) * multipliers[length >> 6];
    info.cable_length_text = Sprintf("%.1f m", *info.cable_length_m);
  } else {
    info.cable_length_text = "not defined";
  }
  if (!a.flat_memory && m.Current(0x01, kReach, 5)) {
    const uint8_t smf = m.Byte(0x01, kReach);
    if ((smf & 0x3F) && (smf >> 6) < 3) info.reach.smf_km = (smf & 0x3F) * multipliers[smf >> 6];
    auto metres = [&](uint8_t reg, double unit) -> std::optional<double> {
      const uint8_t v = m.Byte(0x01, reg);
      return v ? std::optional<double>(v * unit) : std::nullopt;
    };
    info.reach.om5_m = metres(kReach + 1, 2);
    info.reach.om4_m = metres(kReach + 2, 2);
    info.reach.om3_m = metres(kReach + 3, 2);
    info.reach.om2_m = metres(kReach + 4, 1);
  }
  if (!a.flat_memory && m.Current(0x01, kRxCharacteristics))
    info.rx_power_average = Bit(m.Byte(0x01, kRxCharacteristics), 4);
  if (!a.flat_memory && m.Current(0x01, kTempMax, 2)) {
    const auto max = static_cast<int8_t>(m.Byte(0x01, kTempMax));
    const auto min = static_cast<int8_t>(m.Byte(0x01, kTempMin));
    if (max || min) {
      info.case_temp_max_c = max;
      info.case_temp_min_c = min;
    }
  }
  const bool characteristics = !a.flat_memory && m.Current(0x01, kCharacteristics);
  const uint8_t ch = characteristics ? m.Byte(0x01, kCharacteristics) : 0;
  if (characteristics) info.cooled = Bit(ch, 7);

  using K = AuxMonitor::Kind;
  const K kinds[4] = {Bit(ch, 0) ? K::kTecCurrent : K::kCustom,
                      Bit(ch, 1) ? K::kTecCurrent : K::kLaserTemperature,
                      Bit(ch, 2) ? K::kVcc2 : K::kLaserTemperature, K::kCustom};
  const bool supported[4] = {a.monitors.aux1, a.monitors.aux2, a.monitors.aux3, a.monitors.custom};
  const char* names[4] = {"Aux 1", "Aux 2", "Aux 3", "Custom"};
  for (int i = 0; i < 4; ++i) {
    AuxMonitor& aux = info.aux[i];
    aux.name = names[i];
    aux.kind = kinds[i];
    aux.supported = a.known && supported[i] && characteristics;
    const uint16_t raw = m.monitors.aux[i];
    switch (aux.kind) {
      case K::kLaserTemperature:
        aux.kind_name = "laser temperature";
        aux.unit = "\u2103";
        if (aux.supported && m.monitors_current) aux.value = static_cast<int16_t>(raw) / 256.0;
        break;
      case K::kTecCurrent:
        aux.kind_name = "TEC current";
        aux.unit = "%";  // of the maximum TEC current; positive heats, negative cools
        if (aux.supported && m.monitors_current)
          aux.value = static_cast<int16_t>(raw) * 100.0 / 32767.0;
        break;
      case K::kVcc2:
        aux.kind_name = "Vcc2";
        aux.unit = "V";
        if (aux.supported && m.monitors_current) aux.value = raw / 10000.0;
        break;
      case K::kCustom:
        aux.kind_name = "custom";
        if (aux.supported && m.monitors_current) aux.value = raw;
        break;
    }
    aux.text = !aux.supported           ? "not supported"
               : !aux.value             ? "not read"
               : aux.kind == K::kCustom ? Sprintf("%.0f", *aux.value)
               : aux.kind == K::kVcc2   ? Sprintf("%.4f", *aux.value)
                                        : Sprintf("%.2f", *aux.value);
  }
  return info;
}

// ---- Identification ----

Identity DecodeIdentity(const ModuleImages& m) {
  Identity id;
  id.available = m.Current(0x00, 128, kMediaTechnology - 128 + 1);
  if (!id.available) return id;
  id.identifier = m.Byte(0x00, 128);
  id.identifier_name =
      names::ItemOr(names::Identifiers(), id.identifier, WithCode("Reserved", id.identifier));
  id.vendor_name = Text(m, 129, 16);
  for (int i = 0; i < 3; ++i) id.oui[i] = m.Byte(0x00, static_cast<uint8_t>(145 + i));
  id.part_number = Text(m, 148, 16);
  id.revision = Text(m, 164, 2);
  id.serial_number = Text(m, 166, 16);
  id.date_code = Text(m, 182, 8);
  id.clei = Text(m, 190, 10);
  id.power_class = (m.Byte(0x00, kPowerClass) >> 5) + 1;
  id.max_power_w = m.Byte(0x00, kMaxPower) * 0.25;
  id.max_power_text = Sprintf("%.2f W", id.max_power_w);
  id.media_technology = m.Byte(0x00, kMediaTechnology);
  id.media_technology_name = names::ItemOr(names::DeviceTechnologies(), id.media_technology,
                                           WithCode("Reserved", id.media_technology));
  if (Paged(m) && m.Current(0x01, kWavelength, 4)) {
    if (const uint16_t w = m.Word(0x01, kWavelength)) id.wavelength_nm = w * 0.05;
    if (const uint16_t t = m.Word(0x01, kTolerance)) id.tolerance_nm = t * 0.005;
  }
  id.wavelength_text = id.wavelength_nm ? Sprintf("%.2f nm", *id.wavelength_nm) : "not specified";
  id.tolerance_text = id.tolerance_nm ? Sprintf("%.3f nm", *id.tolerance_nm) : "not specified";
  return id;
}

std::vector<ThresholdValue> DecodeThresholds(const ModuleImages& m) {
  const Advertisement a = DecodeAdvertisement(m);
  std::vector<ThresholdValue> out;
  for (const qsfp_dd::ThresholdEntry& e : qsfp_dd::ThresholdTable()) {
    ThresholdValue v{e.quantity, e.unit, e.kind, std::nullopt, "not supported"};
    const auto reg = static_cast<uint8_t>(e.address);
    // Thresholds of a monitor the module does not implement are not its own.
    bool implemented = true;
    switch (e.quantity_code) {
      case qsfp_dd::Quantity::kTemperature:
        implemented = a.monitors.temperature;
        break;
      case qsfp_dd::Quantity::kVcc:
        implemented = a.monitors.vcc;
        break;
      case qsfp_dd::Quantity::kTxBias:
        implemented = a.monitors.tx_bias;
        break;
      case qsfp_dd::Quantity::kRxPower:
        implemented = a.monitors.rx_power;
        break;
      case qsfp_dd::Quantity::kTxPower:
        implemented = a.monitors.tx_power;
        break;
    }
    if (a.known && !a.flat_memory && implemented && m.Current(0x02, reg, 2)) {
      const uint16_t raw = m.Word(0x02, reg);
      const char* format = "%.2f";
      switch (e.quantity_code) {
        case qsfp_dd::Quantity::kTemperature:
          v.value = static_cast<int16_t>(raw) / 256.0;
          break;
        case qsfp_dd::Quantity::kVcc:
          v.value = raw / 10000.0;
          format = "%.3f";  // 1 mV
          break;
        case qsfp_dd::Quantity::kTxBias:
          if (a.bias_multiplier) v.value = raw * 0.002 * *a.bias_multiplier;
          format = "%.3f";
          break;
        case qsfp_dd::Quantity::kRxPower:
        case qsfp_dd::Quantity::kTxPower:
          v.value = Dbm(raw);
          break;
      }
      v.text = v.value ? Sprintf(format, *v.value) : "unknown (reserved bias multiplier)";
    }
    out.push_back(v);
  }
  return out;
}

// ---- Controls ----

std::vector<ControlRow> DecodeControls(const ModuleImages& m) {
  std::vector<ControlRow> out;
  for (const ControlFamily& f : ControlFamilies()) {
    if (f.page != ControlPage::kControl || f.kind == ControlKind::kAction) continue;
    ControlRow row{f.name, f.title, f.PerLane(), &f, {}};
    for (int lane = row.per_lane ? 1 : 0; lane <= (row.per_lane ? kLanes : 0); ++lane) {
      const auto spot = Locate(f.field, lane);
      if (spot && m.Current(spot->page, spot->reg))
        row.values[row.per_lane ? lane - 1 : 0] = f.ValueIn(m, lane);
    }
    out.push_back(row);
  }
  return out;
}

// ---- Page checksums ----

std::vector<PageChecksum> VerifyChecksums(const ModuleImages& m) {
  std::vector<PageChecksum> out = {
      {0x00, 128, 221, 222}, {0x01, 130, 254, 255}, {0x02, 128, 254, 255}};
  for (PageChecksum& c : out) {
    c.available = m.Current(c.page, c.first, c.at - c.first + 1);
    if (!c.available) continue;
    unsigned sum = 0;
    for (int reg = c.first; reg <= c.last; ++reg) sum += m.Byte(c.page, static_cast<uint8_t>(reg));
    c.computed = static_cast<uint8_t>(sum);
    c.stored = m.Byte(c.page, c.at);
    c.ok = c.computed == c.stored;
  }
  return out;
}

// ---- Tuning ----

Tuning DecodeTuning(const ModuleImages& m) {
  Tuning t;
  const Advertisement a = DecodeAdvertisement(m);
  t.supported = a.known && a.tunable;
  t.available = t.supported && m.Current(0x12, kGrid, kTuningStatus + kLanes - kGrid);
  if (!t.available) return t;
  for (int lane = 1; lane <= a.media_lanes; ++lane) {
    LaneTuning l{};
    l.lane = lane;
    const uint8_t grid = m.Byte(0x12, static_cast<uint8_t>(kGrid + lane - 1));
    l.grid_code = grid >> 4;
    l.grid_ghz = GridSpacingGhz(l.grid_code);
    l.fine_tuning = Bit(grid, 0);
    l.channel = static_cast<int16_t>(m.Word(0x12, static_cast<uint8_t>(kChannel + 2 * (lane - 1))));
    if (l.grid_ghz) {
      const double step_ghz = l.grid_code == 7 ? 25.0 : *l.grid_ghz;
      l.frequency_thz = 193.1 + l.channel * step_ghz / 1000.0;
    }
    const auto reg = static_cast<uint8_t>(kCurrentFrequency + 4 * (lane - 1));
    const uint32_t mhz = static_cast<uint32_t>(m.Word(0x12, reg)) << 16 |
                         m.Word(0x12, static_cast<uint8_t>(reg + 2));
    if (mhz) l.current_frequency_thz = mhz / 1e6;
    l.target_power_dbm =
        static_cast<int16_t>(m.Word(0x12, static_cast<uint8_t>(kTargetPower + 2 * (lane - 1)))) /
        100.0;
    const uint8_t status = m.Byte(0x12, static_cast<uint8_t>(kTuningStatus + lane - 1));
    l.tuning_in_progress = Bit(status, 1);
    l.wavelength_unlocked = Bit(status, 0);
    t.lanes.push_back(l);
  }
  return t;
}

}  // namespace cmis
