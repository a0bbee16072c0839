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

DdmValue Make(const char* name, const char* unit, int lane, float value, uint8_t flags,
              DdmState state = DdmState::kReading) {
  DdmValue v;
  v.name = name;
  v.unit = unit;
  v.lane = lane;
  v.state = state;
  if (state != DdmState::kReading) {
    v.value = std::numeric_limits<float>::quiet_NaN();
    v.text = state == DdmState::kNotSupported ? "n/a" : "unknown";
    return v;
  }
  v.value = value;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%0.2f", value);
  v.text = buf;
  v.flags = flags;
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
  r.temperature = Make("TEMP", "\u2103", 0, RawToTemp(m.temperature),
                       ActiveKinds(images, map.temp_flag, 0), state(mon.temperature, 0));
  r.vcc = Make("VCC", "V", 0, RawToVcc(m.vcc), ActiveKinds(images, map.vcc_flag, 0),
               state(mon.vcc, 0));
  for (int lane = 1; lane <= kLanes; ++lane) {
    const int i = lane - 1;
    DdmState bias = state(mon.tx_bias, lane);
    if (bias == DdmState::kReading && !a.bias_multiplier) bias = DdmState::kUnknownScale;
    r.bias[i] = Make("BIAS", "mA", lane,
                     RawToBias(m.tx_bias[i]) * static_cast<float>(a.bias_multiplier.value_or(1)),
                     ActiveKinds(images, map.tx_bias_flag, lane), bias);
    r.tx_power[i] = Make("TX_PWR", "dBm", lane, RawToDbm(m.tx_power[i]),
                         ActiveKinds(images, map.tx_power_flag, lane), state(mon.tx_power, lane));
    r.rx_power[i] = Make("RX_PWR", "dBm", lane, RawToDbm(m.rx_power[i]),
                         ActiveKinds(images, map.rx_power_flag, lane), state(mon.rx_power, lane));
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
