#include "module/ddm.h"

#include <cstdio>
#include <limits>

#include "module/cmis_decode.h"
#include "module/conversions.h"
#include "module/qsfp_dd.h"

namespace {

uint8_t ActiveKinds(const ModuleImages& images, const KindedField& flag, int lane) {
  uint8_t kinds = 0;
  for (int kind = 0; kind < kFlagKinds; ++kind) {
    const auto f = flag.ForKind(kind);
    if (f && ReadField(images, *f, lane)) kinds |= static_cast<uint8_t>(1u << kind);
  }
  return kinds;
}

// Every flag byte of the value was read at the latest refresh.
bool FlagsCurrent(const ModuleImages& images, const KindedField& flag, int lane) {
  for (int kind = 0; kind < kFlagKinds; ++kind) {
    const auto f = flag.ForKind(kind);
    const auto spot = f ? Locate(*f, lane) : std::nullopt;
    if (spot && !images.Current(spot->page, spot->reg)) return false;
  }
  return true;
}

DdmValue Make(const ModuleImages& images, const char* name, const char* unit, int lane, float value,
              const KindedField& flag, DdmState state = DdmState::kReading) {
  DdmValue v;
  v.name = name;
  v.unit = unit;
  v.lane = lane;
  v.state = state;
  v.current = images.monitors_current && FlagsCurrent(images, flag, lane);
  if (state != DdmState::kReading) {
    v.value = std::numeric_limits<float>::quiet_NaN();
    v.text = state == DdmState::kNotSupported ? "n/a" : "unknown";
    return v;
  }
  v.value = value;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%0.2f", value);
  v.text = buf;
  v.flags = ActiveKinds(images, flag, lane);
  return v;
}

}  // namespace

DdmReadings DecodeDdm(const ModuleImages& images) {
  const RegisterMap& map = qsfp_dd::Map();
  const RawMonitors& m = images.monitors;
  // Before the advertisement is read every monitor counts as implemented,
  // but the bias multiplier is not known.
  const cmis::Advertisement a = cmis::DecodeAdvertisement(images);
  const auto& mon = a.monitors;
  auto state = [&a](bool implemented, int lane) {
    if (!a.known) return DdmState::kReading;
    return implemented && (lane == 0 || a.MediaLane(lane)) ? DdmState::kReading
                                                           : DdmState::kNotSupported;
  };
  DdmReadings r;
  r.temperature = Make(images, "TEMP", "\u2103", 0, RawToTemp(m.temperature), map.temp_flag,
                       state(mon.temperature, 0));
  r.vcc = Make(images, "VCC", "V", 0, RawToVcc(m.vcc), map.vcc_flag, state(mon.vcc, 0));
  for (int lane = 1; lane <= kLanes; ++lane) {
    const int i = lane - 1;
    DdmState bias = state(mon.tx_bias, lane);
    if (bias == DdmState::kReading && !a.bias_multiplier) bias = DdmState::kUnknownScale;
    r.bias[i] = Make(images, "BIAS", "mA", lane,
                     RawToBias(m.tx_bias[i]) * static_cast<float>(a.bias_multiplier.value_or(1)),
                     map.tx_bias_flag, bias);
    r.tx_power[i] = Make(images, "TX_PWR", "dBm", lane, RawToDbm(m.tx_power[i]), map.tx_power_flag,
                         state(mon.tx_power, lane));
    r.rx_power[i] = Make(images, "RX_PWR", "dBm", lane, RawToDbm(m.rx_power[i]), map.rx_power_flag,
                         state(mon.rx_power, lane));
  }
  return r;
}

const char* FlagKindName(int kind) {
  switch (kind) {
    case kLowWarning:
      return "low warning";
    case kHighWarning:
      return "high warning";
    case kLowAlarm:
      return "low alarm";
    case kHighAlarm:
      return "high alarm";
  }
  return "";
}

std::string FlagKindsText(uint8_t flags) {
  std::string out;
  for (int kind : {kHighAlarm, kLowAlarm, kHighWarning, kLowWarning}) {
    if (!(flags & (1u << kind))) continue;
    if (!out.empty()) out += ", ";
    out += FlagKindName(kind);
  }
  return out;
}
