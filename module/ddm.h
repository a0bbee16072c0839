// The DDM readings as the DDM window shows them: raw monitor words converted
// and formatted "%0.2f", each with its unit and the flag kinds active for it.
// A monitor the module does not implement, and a lane past the lanes the
// active application uses, has no reading: its value is NaN and its text
// "n/a". A Tx bias under a reserved bias multiplier is unknown ("unknown").
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "module/module_images.h"

enum class DdmState : uint8_t {
  kReading,       // a value from the module
  kNotSupported,  // the module does not implement the monitor, or the lane is not in use
  kUnknownScale,  // Tx bias with a reserved (or unread) bias multiplier
};

struct DdmValue {
  const char* name = "";  // "TEMP", "VCC", "BIAS", "TX_PWR", "RX_PWR"
  const char* unit = "";  // "\u2103", "V", "mA", "dBm"
  int lane = 0;           // 1-8, 0 for the module values
  float value = 0.0f;
  std::string text;   // value formatted "%0.2f"
  uint8_t flags = 0;  // bit k set: flag kind k (FlagKind) is active
  // The monitor words and every flag byte of the value came from the latest
  // refresh; otherwise `value`, `text` and `flags` hold earlier contents and
  // are not a reading.
  bool current = false;
  DdmState state = DdmState::kReading;
  bool HasReading() const { return state == DdmState::kReading; }
  // Shown red when any warning or alarm flag is active.
  bool Flagged() const { return flags != 0; }
};

struct DdmReadings {
  DdmValue temperature, vcc;
  std::array<DdmValue, kLanes> bias, tx_power, rx_power;  // index = lane - 1
};

// Decodes the raw monitor cache and the alarm flag bytes of a snapshot taken
// after ReadMonitors and ReadAlarmImage, following what the module
// advertises (monitors implemented, Tx bias multiplier, lanes in use).
DdmReadings DecodeDdm(const ModuleImages& images);

// "low warning", "high warning", "low alarm", "high alarm"; "" outside 0-3.
const char* FlagKindName(int kind);
// The active kinds of a flags byte, alarms first, joined by ", ":
// "high alarm, high warning"; "" when none is active.
std::string FlagKindsText(uint8_t flags);
