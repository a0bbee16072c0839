// CMIS fields decoded from a snapshot of the module images: what the module
// advertises, its revisions and applications, flags and output status,
// media and cable data, controls, page checksums and tuning. Each group is
// one function returning a plain struct; the command-line tool and the GUI
// only format what these return.
//
// A value the module did not give is absent, never a number: a byte that
// was not read (or whose read failed) is not current, a page the module
// does not have (flat memory) is not read, a monitor the module does not
// implement and a lane the active application does not use decode as
// nothing (std::nullopt, or `supported` false).
//
// The images are filled by the module object's ReadAdvertisement (lower
// memory identification and application table, pages 00h, 01h and 02h, the
// active control set of page 11h), ReadStatusImage, ReadAlarmImage,
// ReadControlImage and ReadTuningImage.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "module/module_images.h"

struct ControlFamily;

namespace cmis {

// ---- Revisions ----

// A major.minor pair of nibbles (lower memory byte 1).
struct Revision {
  uint8_t major = 0, minor = 0;
  static Revision FromByte(uint8_t b) {
    return {static_cast<uint8_t>(b >> 4), static_cast<uint8_t>(b & 0x0F)};
  }
  bool AtLeast(int want_major, int want_minor) const {
    return major > want_major || (major == want_major && minor >= want_minor);
  }
  std::string Text() const;  // "5.0"
};

// Firmware or hardware revision: two bytes, major then minor.
struct Version {
  uint8_t major = 0, minor = 0;
  std::string Text() const;  // "61.11"
};

struct Revisions {
  std::optional<Revision> cmis;              // lower 1
  std::optional<Version> active_firmware;    // lower 39-40
  std::optional<Version> inactive_firmware;  // page 01h 128-129
  std::optional<Version> hardware;           // page 01h 130-131
};
Revisions DecodeRevisions(const ModuleImages& images);

// ---- What the module advertises ----

struct Advertisement {
  // False until the advertisement has been read: nothing below holds then.
  bool known = false;
  uint8_t identifier = 0;    // lower 0
  Revision revision;         // lower 1
  bool flat_memory = false;  // lower 2 bit 7: page 00h only
  // Upper pages the module has: 00h; with paged memory also 01h, 02h, 10h,
  // 11h and those page 01h byte 142 (03h, 05h, 13h-14h, 16h-17h, 20h-2Fh)
  // and byte 155 bit 6 (04h and 12h, a tunable transmitter) advertise.
  std::vector<uint8_t> pages;
  int banks = 1;         // page 01h 142 bits 1-0: 1, 2 or 4 banks of 8 lanes
  bool tunable = false;  // page 01h 155 bit 6
  // Monitors the module implements (page 01h 159-160).
  struct Monitors {
    bool temperature = false, vcc = false, aux1 = false, aux2 = false, aux3 = false, custom = false,
         tx_bias = false, tx_power = false, rx_power = false;
  } monitors;
  // Page 01h 160 bits 4-3: 00b x1, 01b x2, 10b x4, 11b reserved. The Tx bias
  // monitor and its thresholds count 2 uA times the multiplier; nothing for
  // the reserved code (the bias is then unknown, not guessed).
  uint8_t bias_scale_code = 0;
  std::optional<int> bias_multiplier;
  // Lanes in use, from the application each data path runs (page 11h
  // 206-213); without an active application, from the default application
  // (AppSel 1); without that, all eight. Lanes past these counts decode as
  // absent.
  int media_lanes = kLanes;
  int host_lanes = kLanes;
  enum class LaneSource {
    kActive,
    kDefaultApplication,
    kWholeModule
  } lane_source = LaneSource::kWholeModule;

  bool HasPage(uint8_t page) const;
  bool MediaLane(int lane) const { return lane >= 1 && lane <= media_lanes; }
  bool HostLane(int lane) const { return lane >= 1 && lane <= host_lanes; }
};
Advertisement DecodeAdvertisement(const ModuleImages& images);

// ---- Applications ----

struct Application {
  int app_sel = 0;  // 1-15: descriptors 1-8 in lower memory, 9-15 in page 01h
  uint8_t host_code = 0, media_code = 0;
  std::string host_name, media_name;
  int host_lanes = 0, media_lanes = 0;
  uint8_t host_lane_options = 0;  // bit n-1: the application may begin on host lane n
  // Page 01h 176 + app_sel - 1; nothing for flat memory or an unread byte.
  std::optional<uint8_t> media_lane_options;
};

// A lane's data path configuration: page 11h 206-213 (active) or page 10h
// 145-152 (staged control set 0).
struct LaneConfig {
  uint8_t app_sel = 0;    // 0: the lane is in no data path
  uint8_t data_path = 0;  // the first lane of its data path, 1-8
  bool explicit_control = false;
};

struct Applications {
  bool available = false;  // the lower memory table was read
  uint8_t media_type = 0;  // lower 85
  std::string media_type_name;
  std::vector<Application> list;  // up to the first 0xFF host code
  std::array<std::optional<LaneConfig>, kLanes> active{}, staged0{};
  const Application* Find(int app_sel) const;
};
Applications DecodeApplications(const ModuleImages& images);

// ---- Status, flags and output status ----

// Lower 3 bit 0 is "interrupt deasserted": 0 means the interrupt is asserted.
std::optional<bool> InterruptAsserted(const ModuleImages& images);

// Lower memory byte 4. From CMIS 5.0 on it summarises bank 0 by page: bit 0
// page 11h, bit 1 page 12h, bit 2 page 14h, bit 3 page 2Ch have at least one
// flag set. Before 5.0 it summarises bank 0 by lane: bit n-1 set when lane
// n has a lane flag set.
struct FlagSummary {
  bool available = false;
  Revision revision;
  bool by_page = false;
  std::string title, explanation;
  struct Bit {
    int bit;
    std::string name;
    bool set;
  };
  std::vector<Bit> bits;
};
FlagSummary DecodeFlagSummary(const ModuleImages& images);

// Index = lane - 1; nothing where the byte was not read or the lane is not
// in use.
using LaneBits = std::array<std::optional<bool>, kLanes>;

// Page 11h 132 (Rx, host lanes) and 133 (Tx, media lanes): 1 when the
// lane's output signal is valid, 0 when it is invalid or muted.
struct OutputStatus {
  LaneBits rx, tx;
  static constexpr const char* kMeaning = "1: output signal valid; 0: invalid or muted";
};
OutputStatus DecodeOutputStatus(const ModuleImages& images);

// Which lanes a lane flag describes.
enum class FlagSide : uint8_t { kModule, kHost, kMedia };

// A latched (clear-on-read) flag: one bit of a module flag byte (lower
// 8-11), or a one-bit-per-lane register of page 11h (134-152).
struct LatchedFlag {
  uint8_t page;  // 0 for lower memory
  uint8_t reg;
  int8_t bit;  // module-wide flags: the bit; -1 for a lane register
  FlagSide side;
  const char* key;   // "temp-high-alarm", "tx-los"
  const char* name;  // "Temperature high alarm", "Tx LOS"
};
// Every latched flag the refresh operations read, in register order.
const std::vector<LatchedFlag>& LatchedFlags();
// True for the latched registers: lower 8-11 and page 11h 134-152.
bool IsLatchedRegister(uint8_t page, uint8_t reg);

struct FlagValue {
  const LatchedFlag* flag;
  int lane;  // 0 module-wide, else 1-8
  std::optional<bool> set;
};
struct ModuleFlags {
  std::vector<FlagValue> module;       // lower 8-11
  std::vector<FlagValue> lanes;        // page 11h 134-152, lanes in use only
  std::optional<uint8_t> fault_cause;  // lower 41
  std::string fault_cause_name;
  OutputStatus outputs;
};
// The flag bytes as the latest refresh read them. Views that must not miss
// a flag read the FlagReader's sticky records instead.
ModuleFlags DecodeModuleFlags(const ModuleImages& images);

// ---- Media, cable and monitors ----

struct AuxMonitor {
  const char* name;  // "Aux 1", "Aux 2", "Aux 3", "Custom"
  enum class Kind { kLaserTemperature, kTecCurrent, kVcc2, kCustom } kind;
  const char* kind_name;        // "laser temperature", "TEC current", "Vcc2", "custom"
  bool supported = false;       // page 01h 159
  std::optional<double> value;  // degC, % of the maximum TEC current, V; raw for custom
  const char* unit = "";
  std::string text;
};

struct MediaInfo {
  bool available = false;
  uint8_t media_type = 0;
  std::string media_type_name;
  uint8_t connector = 0;  // page 00h 203
  std::string connector_name;
  // Page 00h 202: base length (bits 5-0) times 0.1, 1, 10 or 100 m (bits
  // 7-6); nothing for base 0 (the length is not defined, e.g. a separable
  // connector).
  std::optional<double> cable_length_m;
  std::string cable_length_text;
  // Page 01h 132-136: the reach per fibre type; nothing for 0 or unread.
  struct Reach {
    std::optional<double> smf_km, om5_m, om4_m, om3_m, om2_m;
  } reach;
  // Page 01h 151 bit 4: true average power, false OMA.
  std::optional<bool> rx_power_average;
  // Page 01h 146-147: the allowed case temperature range (signed degC);
  // nothing when both are 0 (not specified).
  std::optional<int> case_temp_max_c, case_temp_min_c;
  std::optional<bool> cooled;  // page 01h 145 bit 7
  // Lower 18-25, typed by page 01h 145 bits 2-0; values from the monitor cache.
  std::array<AuxMonitor, 4> aux{};
};
MediaInfo DecodeMedia(const ModuleImages& images);

// ---- Identification, at full precision ----

struct TextField {
  std::string raw;      // the bytes as stored, up to the first NUL
  std::string trimmed;  // without the padding spaces
};

struct Identity {
  bool available = false;
  uint8_t identifier = 0;
  std::string identifier_name;
  TextField vendor_name, part_number, revision, serial_number, date_code, clei;
  std::array<uint8_t, 3> oui{};
  int power_class = 0;                                // 1-8
  double max_power_w = 0;                             // 0.25 W steps
  std::string max_power_text;                         // "10.25 W"
  std::optional<double> wavelength_nm, tolerance_nm;  // page 01h 138-141
  std::string wavelength_text, tolerance_text;        // "1301.20 nm", "36.500 nm"
  uint8_t media_technology = 0;                       // page 00h 212
  std::string media_technology_name;
};
Identity DecodeIdentity(const ModuleImages& images);

// The twenty thresholds of page 02h in threshold-table order, with the bias
// multiplier applied and formatted to the register's resolution (supply
// voltage to 1 mV).
struct ThresholdValue {
  const char* quantity;
  const char* unit;
  int kind;  // FlagKind
  std::optional<double> value;
  std::string text;
};
std::vector<ThresholdValue> DecodeThresholds(const ModuleImages& images);

// ---- Controls (page 10h, lower 26) ----

struct ControlRow {
  const char* key;    // the control family's name, as `set` takes it: "tx-disable"
  const char* title;  // "disable the Tx output"
  bool per_lane;
  const ControlFamily* family;                          // list items and the setter
  std::array<std::optional<uint8_t>, kLanes> values{};  // module-wide rows use index 0
};
// After ReadControlImage: the control page's families that hold a value
// (global controls, then lane controls), as the module holds them.
std::vector<ControlRow> DecodeControls(const ModuleImages& images);

// ---- Page checksums ----

struct PageChecksum {
  uint8_t page;
  uint8_t first, last;  // the summed registers
  uint8_t at;           // the checksum register
  bool available = false;
  uint8_t stored = 0, computed = 0;
  bool ok = false;
};
// Page 00h (128-221 at 222), 01h (130-254 at 255), 02h (128-254 at 255).
std::vector<PageChecksum> VerifyChecksums(const ModuleImages& images);

// ---- Tunable transmitter (page 12h) ----

struct LaneTuning {
  int lane;
  uint8_t grid_code;  // bits 7-4 of page 12h 128 + lane - 1
  std::optional<double> grid_ghz;
  bool fine_tuning;  // bit 0 of the same byte
  int16_t channel;   // page 12h 136 + 2 (lane - 1), signed
  // 193.1 THz + channel x grid; on the 75 GHz grid the channel counts 25 GHz.
  std::optional<double> frequency_thz;
  // Page 12h 168 + 4 (lane - 1), u32 in MHz; nothing while 0.
  std::optional<double> current_frequency_thz;
  double target_power_dbm;                       // page 12h 200 + 2 (lane - 1), s16 in 0.01 dBm
  bool tuning_in_progress, wavelength_unlocked;  // page 12h 222 + lane - 1, bits 1 and 0
};
struct Tuning {
  bool supported = false;         // the module advertises page 12h
  bool available = false;         // and it was read
  std::vector<LaneTuning> lanes;  // media lanes in use
};
Tuning DecodeTuning(const ModuleImages& images);

}  // namespace cmis
