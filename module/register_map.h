// Where the module's CMIS fields live: one Field per control, flag, mask or
// status value, placed by page, register and lane layout. The module type
// installs a RegisterMap; the setters, getters and the page decoders all
// locate their bits through it, so no lane family is written out eight times.
#pragma once

#include <cstdint>
#include <optional>

#include "module/module_images.h"

// How a field's bits are laid out over one or more registers.
enum class Layout : uint8_t {
  kAbsent,      // the module type has no such field
  kBits,        // one module-wide field: `width` bits at `shift` of `reg`
  kLaneBit,     // one bit per lane: lane n at bit n-1 of `reg`
  kLanePair,    // two bits per lane: lanes 1-4 in `reg`, 5-8 in `reg`+1, the k-th
                // lane of a byte (k = 0-3) at bits 2k+1..2k
  kLaneNibble,  // four bits per lane, two lanes per byte from `reg` on: odd lane
                // bits 3-0, even lane bits 7-4
  kLaneByte,    // one byte per lane at `reg` + n - 1; the field is `width` bits
                // at `shift` of that byte
};

struct Field {
  uint8_t page = 0;  // 0 for lower memory
  uint8_t reg = 0;   // 0x00-0x7F lower memory, 0x80-0xFF upper page
  Layout layout = Layout::kAbsent;
  uint8_t shift = 0;  // kBits and kLaneByte only
  uint8_t width = 1;  // kBits and kLaneByte only

  bool Present() const { return layout != Layout::kAbsent; }
  bool PerLane() const { return layout != Layout::kBits && layout != Layout::kAbsent; }
  // Largest value the field holds (1, 3, 7 or 15).
  uint8_t MaxValue() const;
};

// A field placed for one lane: the register that holds it and its bits.
struct FieldSpot {
  uint32_t address;                // register address 0xA0PPRR
  uint8_t page, reg, shift, mask;  // mask is the field's bits in place
  uint8_t Get(uint8_t byte) const { return static_cast<uint8_t>((byte & mask) >> shift); }
  uint8_t Put(uint8_t byte, uint8_t value) const {
    return static_cast<uint8_t>((byte & ~mask) | ((value << shift) & mask));
  }
};

// The register and bits of `field` for `lane` (1-8; ignored by module-wide
// fields). Nothing for an absent field or a lane outside 1-8.
std::optional<FieldSpot> Locate(const Field& field, int lane);
// The field's value in a snapshot, 0 when it cannot be located.
uint8_t ReadField(const ModuleImages& images, const Field& field, int lane);

// A family of four fields, one per flag kind (0 low warning, 1 high warning,
// 2 low alarm, 3 high alarm), declared by its high-alarm member: the kind k
// member sits 3 - k registers (kByteStep) or 3 - k bits (kBitStep) further on.
struct KindedField {
  enum Step : uint8_t { kByteStep, kBitStep };
  Field high_alarm;
  Step step = kByteStep;
  // Nothing for a kind outside 0-3.
  std::optional<Field> ForKind(int kind) const;
};

// Staged control set fields, in register order.
enum class Staged : uint8_t {
  kApplyDataPathInit,
  kApplyImmediate,
  kAppCode,
  kDataPathCode,
  kExplicitControl,
  kAdaptiveEqEnable,
  kAdaptiveEqRecall,
  kTxInputEq,
  kTxCdr,
  kRxCdr,
  kRxPreCursor,
  kRxPostCursor,
  kRxAmplitude,
};
inline constexpr int kStagedFieldCount = 13;

// Everything a module type places. A default-constructed map places nothing:
// every operation over an absent field returns false.
struct RegisterMap {
  // Module global controls.
  Field low_pwr, squelch_method, force_low_pwr, soft_reset;
  // Lane controls.
  Field dp_deinit, tx_polarity_flip, tx_disable, tx_squelch_disable, tx_force_squelch, tx_eq_freeze,
      tx_eq_store, rx_polarity_flip, rx_output_disable, rx_squelch_disable;
  // Staged control set 0; set s is the same layout `staged_set_stride` x s higher.
  Field staged0[kStagedFieldCount];
  int staged_sets = 0;
  uint8_t staged_set_stride = 0;
  // Masks.
  Field module_state_changed_mask;
  KindedField temp_mask, vcc_mask;
  Field dp_changed_mask, tx_fault_mask, tx_los_mask, tx_cdr_lol_mask, tx_eq_fault_mask, rx_los_mask,
      rx_cdr_lol_mask;
  KindedField tx_power_mask, tx_bias_mask, rx_power_mask;
  // Alarm and warning flags.
  KindedField temp_flag, vcc_flag, tx_power_flag, tx_bias_flag, rx_power_flag;
  // State and status.
  Field module_state, interrupt, module_state_changed, bank0_lane_flags, dp_state,
      lane_flag_summary, dp_changed, tx_fault, tx_los, tx_cdr_lol, tx_eq_fault, rx_los, rx_cdr_lol,
      config_status;

  // The staged field of set `set` (0 or 1); absent outside the sets.
  Field StagedField(int set, Staged which) const;
};

// Register address helpers: 0xA0PPRR names page PP register RR of device 0xA0.
inline constexpr uint8_t kModuleDevice = 0xA0;
constexpr uint32_t RegisterAddress(uint8_t page, uint8_t reg, uint8_t device = kModuleDevice) {
  return (uint32_t{device} << 16) | (uint32_t{page} << 8) | reg;
}
