// The eight-lane QSFP-DD module managed through CMIS: its register map, its
// refresh, monitor, threshold and calibration sequences.
#pragma once

#include <array>
#include <optional>

#include "module/sfp_base.h"

namespace qsfp_dd {

// The QSFP-DD register map (lower memory, page 10h controls and masks,
// page 11h states, flags and monitors). The page decoders use it too.
const RegisterMap& Map();

// The twenty thresholds of page 02h, in threshold-table order: temperature,
// supply voltage, Rx optical power, Tx bias, Tx optical power; each group
// high alarm, low alarm, high warning, low warning.
enum class Quantity : uint8_t { kTemperature, kVcc, kRxPower, kTxBias, kTxPower };
struct ThresholdEntry {
  const char* quantity;  // "Temperature", "Supply voltage", ...
  const char* unit;      // as the DDM window labels it
  int kind;              // FlagKind
  uint32_t address;      // u16, most significant byte first
  // Raw and unit values at a bias multiplier of 1: Tx bias thresholds count
  // 2 uA times the module's advertised multiplier.
  float (*to_unit)(uint16_t raw);
  uint16_t (*to_raw)(float value);
  Quantity quantity_code;
};
inline constexpr int kThresholdCount = 20;
const std::array<ThresholdEntry, kThresholdCount>& ThresholdTable();

class CQSFP_DD : public CSfpBase {
 public:
  // No module traffic happens here.
  explicit CQSFP_DD(CDevice* board, const ConfigBlock& config = ConfigBlock{});

  BoardResult ReadAdvertisement() override;
  // Page 12h 0x80-0xFF when the module advertises a tunable transmitter.
  BoardResult ReadTuningImage() override;
  // Temperature, supply voltage, then 16 bytes each of Rx power, Tx bias and
  // Tx power into the raw monitor cache (the lane blocks only with paged
  // memory), then lower 0x12-0x19 when the module implements an aux or
  // custom monitor; stops at the first failed read.
  BoardResult ReadMonitors() override;
  // Lower 0x09-0x0B, page 11h 0x8B-0x92 and 0x95-0x98 (paged memory only);
  // stops at the first failed read.
  BoardResult ReadAlarmImage() override;
  BoardResult ReadThresholds() override;
  BoardResult WriteThresholds(const float* set) override;
  bool FitTxPowerCalibration(int lane, const uint32_t* counts, const float* powers, int count,
                             int degree) override;
  bool FitRxPowerCalibration(int lane, const uint32_t* counts, const float* powers, int count,
                             int degree) override;
  // Lower 0x03, page 11h 0x80-0x83, lower 0x1A, then page 10h 0x80-0xD4;
  // stops at the first failed read. Pages 10h and 11h only with paged memory
  // (likewise below).
  BoardResult ReadControlImage() override;
  // Lower 0x03-0x08, page 11h 0x80-0x8A, 0x93-0x94, 0xCA-0xCD.
  BoardResult ReadStatusImage() override;
  // Lower 0x1F-0x22 and page 10h 0xD5-0xE7.
  BoardResult ReadMaskImage() override;
  // True only when page 10h 0x82 reads 0xFF.
  bool IsAllTxDisabled() override;
  BoardResult SetAllTxDisable(bool disable) override;

 private:
  // The advertisement, read first when the object has none or a refresh
  // failed since the last one.
  BoardResult EnsureAdvertisement();
  // True unless the advertisement says flat memory.
  bool Paged() const { return !advertisement_ || !advertisement_->flat_memory; }
  // Reads the run with paged memory; marks it not current without.
  void PagedRead(ImageRefresh& refresh, uint32_t address, uint8_t length);
  bool FitCalibration(int lane, const uint32_t* counts, const float* powers, int count, int degree,
                      std::array<float, kCalibrationCoefficients>* store);

  // Lower 0x00-0x02 and page 00h 0x80-0xDE of the module the advertisement
  // was read from.
  static constexpr int kIdentityKeySize = 3 + 0xDF - 0x80;
  std::optional<std::array<uint8_t, kIdentityKeySize>> identity_key_;
};

}  // namespace qsfp_dd
