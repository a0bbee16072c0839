// The eight-lane QSFP-DD module managed through CMIS: its register map, its
// refresh, monitor, threshold and calibration sequences.
#pragma once

#include <array>

#include "module/sfp_base.h"

namespace qsfp_dd {

// The QSFP-DD register map (lower memory, page 10h controls and masks,
// page 11h states, flags and monitors). The page decoders use it too.
const RegisterMap& Map();

// The twenty thresholds of page 02h, in threshold-table order: temperature,
// supply voltage, Rx optical power, Tx bias, Tx optical power; each group
// high alarm, low alarm, high warning, low warning.
struct ThresholdEntry {
  const char* quantity;  // "Temperature", "Supply voltage", ...
  const char* unit;      // as the DDM window labels it
  int kind;              // FlagKind
  uint32_t address;      // u16, most significant byte first
  float (*to_unit)(uint16_t raw);
  uint16_t (*to_raw)(float value);
};
inline constexpr int kThresholdCount = 20;
const std::array<ThresholdEntry, kThresholdCount>& ThresholdTable();

class CQSFP_DD : public CSfpBase {
 public:
  // No module traffic happens here.
  explicit CQSFP_DD(CDevice* board, const ConfigBlock& config = ConfigBlock{});

  // Temperature, supply voltage, then 16 bytes each of Rx power, Tx bias and
  // Tx power into the raw monitor cache; stops at the first failed read.
  BoardResult ReadMonitors() override;
  // Lower 0x09-0x0B, page 11h 0x8B-0x92 and 0x95-0x98; all three reads are
  // made, the result is the last one's.
  BoardResult ReadAlarmImage() override;
  BoardResult ReadThresholds() override;
  BoardResult WriteThresholds(const float* set) override;
  bool FitTxPowerCalibration(int lane, const uint32_t* counts, const float* powers, int count,
                             int degree) override;
  bool FitRxPowerCalibration(int lane, const uint32_t* counts, const float* powers, int count,
                             int degree) override;
  // Lower 0x03 and page 11h 0x80-0x83 (results ignored), lower 0x1A (false
  // and stop on failure), then page 10h 0x80-0xD4 (its result).
  BoardResult ReadControlImage() override;
  // Lower 0x03-0x08, page 11h 0x80-0x8A, 0x93-0x94, 0xCA-0xCD; all four are
  // made, the result is the last one's.
  BoardResult ReadStatusImage() override;
  // Lower 0x1F-0x22 and page 10h 0xD5-0xE7; the result is the second one's.
  BoardResult ReadMaskImage() override;
  // True only when page 10h 0x82 reads 0xFF.
  bool IsAllTxDisabled() override;
  BoardResult SetAllTxDisable(bool disable) override;

 private:
  bool FitCalibration(int lane, const uint32_t* counts, const float* powers, int count, int degree,
                      std::array<float, kCalibrationCoefficients>* store);
};

}  // namespace qsfp_dd
