#include "module/sfp_base.h"

#include <cstring>
#include <ctime>

#include "board/device.h"

const RegisterMap CSfpBase::kNoFields{};

CSfpBase::CSfpBase(CDevice* board, const ConfigBlock& config)
    : CRegisterAccess(board), config_(config) {}

CSfpBase::~CSfpBase() = default;

void CSfpBase::Install(int lane_count, const RegisterMap* map, const TypeConstants& constants) {
  lane_count_ = lane_count;
  map_ = map ? map : &kNoFields;
  constants_ = constants;
}

void CSfpBase::SetPageCode(int table, uint8_t page, uint32_t code) {
  page_codes_[table * 32 + page] = code;
}

// ---- Images ----

ModuleImages CSfpBase::Snapshot() const {
  std::lock_guard lock(images_mutex_);
  return images_;
}

uint8_t CSfpBase::LowerImage(uint8_t reg) const {
  std::lock_guard lock(images_mutex_);
  return images_.lower[reg & 0x7F];
}

uint8_t CSfpBase::Page10Image(uint8_t reg) const {
  std::lock_guard lock(images_mutex_);
  return images_.page10[reg & 0x7F];
}

uint8_t CSfpBase::Page11Image(uint8_t reg) const {
  std::lock_guard lock(images_mutex_);
  return images_.page11[reg & 0x7F];
}

RawMonitors CSfpBase::Monitors() const {
  std::lock_guard lock(images_mutex_);
  return images_.monitors;
}

std::array<float, CSfpBase::kThresholdSlots> CSfpBase::Thresholds() const {
  std::lock_guard lock(images_mutex_);
  return thresholds_;
}

void CSfpBase::PublishThresholds(const std::array<float, kThresholdSlots>& values) {
  std::lock_guard lock(images_mutex_);
  thresholds_ = values;
}

CSfpBase::ImageRefresh::ImageRefresh(CSfpBase& module) : module_(module) {
  work_ = module.Snapshot();
}

CSfpBase::ImageRefresh::~ImageRefresh() {
  std::lock_guard lock(module_.images_mutex_);
  for (const Range& r : ranges_)
    std::memcpy(module_.images_.Slot(r.page, r.reg), work_.Slot(r.page, r.reg), r.length);
  if (monitors_) module_.images_.monitors = work_.monitors;
}

bool CSfpBase::ImageRefresh::Read(uint32_t address, uint8_t length) {
  const auto a = SplitAddress(address);
  uint8_t* slot = work_.Slot(a.page, a.reg);
  const int end = a.reg < 0x80 ? 0x80 : 0x100;  // a run stays inside its image
  if (!slot || a.reg + length > end) return false;
  ranges_.push_back({a.page, a.reg, length});
  return module_.ReadBlock(a.device, a.page, a.reg, length, slot);
}

RawMonitors& CSfpBase::ImageRefresh::Monitors() {
  monitors_ = true;
  return work_.monitors;
}

// ---- Password, stamp area, page codes ----

bool CSfpBase::WritePasswordEntry(uint32_t value, bool lsb_first) {
  return WriteDwordAt(constants_.password_entry, value, lsb_first, false);
}

bool CSfpBase::EnterPassword(bool enter) {
  if (!WritePasswordEntry(enter ? constants_.host_password : 0, false)) return false;
  password_entered_ = enter;
  return true;
}

bool CSfpBase::CheckPassword() {
  uint32_t value = 0;
  ReadDwordAt(constants_.password_entry, &value, false);  // a failed read counts as 0
  password_entered_ = value == constants_.host_password;
  return password_entered_;
}

bool CSfpBase::LockPassword() { return WritePasswordEntry(constants_.lock_value, true); }

bool CSfpBase::ReadStampArea() {
  const bool identity_ok = ReadBlockAt(constants_.identity, 10, identity_.data());
  uint8_t stamp[6];
  const bool stamp_ok = ReadBlockAt(constants_.timestamp, 6, stamp);
  timestamp_.year = static_cast<uint16_t>(stamp[0] | stamp[1] << 8);
  timestamp_.month = stamp[2];
  timestamp_.day = stamp[3];
  timestamp_.hour = stamp[4];
  timestamp_.minute = stamp[5];
  return identity_ok && stamp_ok;
}

bool CSfpBase::CheckIdentity() {
  uint32_t expected;
  std::memcpy(&expected, config_.data() + kConfigIdentityWord, sizeof expected);
  const uint16_t word = static_cast<uint16_t>(identity_[0] | identity_[1] << 8);
  identity_match_ = word == expected;
  return identity_match_;
}

bool CSfpBase::SendPageCode(uint32_t address) {
  const auto a = SplitAddress(address);
  return SendPageCodeFor(a.device, a.page, a.reg);
}

bool CSfpBase::SendPageCodeFor(uint8_t device, uint8_t page, uint8_t reg) {
  int table;
  if (device == 0xA0)
    table = 0;
  else if (device == 0xA2)
    table = 1;
  else
    return false;
  const uint32_t code = reg >= 0x80
                            ? page_codes_[table * 32 + page]
                            : (table == 0 ? constants_.lower_code_a0 : constants_.lower_code_a2);
  return WritePasswordEntry(code, true);
}

bool CSfpBase::WriteTimestamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  timestamp_.year = static_cast<uint16_t>(local.tm_year + 1900);
  timestamp_.month = static_cast<uint8_t>(local.tm_mon + 1);
  timestamp_.day = static_cast<uint8_t>(local.tm_mday);
  timestamp_.hour = static_cast<uint8_t>(local.tm_hour);
  timestamp_.minute = static_cast<uint8_t>(local.tm_min);
  const uint8_t bytes[6] = {static_cast<uint8_t>(timestamp_.year),
                            static_cast<uint8_t>(timestamp_.year >> 8),
                            timestamp_.month,
                            timestamp_.day,
                            timestamp_.hour,
                            timestamp_.minute};
  const bool stamp_ok = WriteBlockAt(constants_.timestamp, 6, bytes);
  const bool code_ok = WritePasswordEntry(constants_.timestamp_page_code, true);
  if (Board()) Board()->Pause(kCommitPauseMs);
  return stamp_ok && code_ok;
}

bool CSfpBase::CommitCalibration() {
  if (!WritePasswordEntry(constants_.calibration_code1, true)) return false;
  if (Board()) Board()->Pause(kCommitPauseMs);
  WritePasswordEntry(constants_.calibration_code2, true);
  if (Board()) Board()->Pause(kCommitPauseMs);
  return true;
}

bool CSfpBase::StampModule() { return WriteTimestamp(); }

bool CSfpBase::ProgramThresholds() {
  float set[kThresholdSlots];
  std::memcpy(set, config_.data() + kConfigThresholdSet, sizeof set);
  const bool ok = WriteThresholds(set);
  const bool code_ok = WritePasswordEntry(constants_.threshold_page_code, true);
  if (Board()) Board()->Pause(kCommitPauseMs);
  return ok && code_ok;
}

// ---- Monitors, flags, thresholds, calibration: base behaviour ----

bool CSfpBase::ReadMonitors() { return false; }
bool CSfpBase::ReadAlarmImage() { return false; }
bool CSfpBase::ReadThresholds() { return false; }
bool CSfpBase::WriteThresholds(const float*) { return false; }
bool CSfpBase::FitTxPowerCalibration(int, const uint32_t*, const float*, int, int) { return false; }
bool CSfpBase::FitRxPowerCalibration(int, const uint32_t*, const float*, int, int) { return false; }
bool CSfpBase::ReadControlImage() { return false; }
bool CSfpBase::ReadStatusImage() { return false; }
bool CSfpBase::ReadMaskImage() { return false; }

bool CSfpBase::GetTempFlag(int kind) const { return GetKindedField(map_->temp_flag, 0, kind); }
bool CSfpBase::GetVccFlag(int kind) const { return GetKindedField(map_->vcc_flag, 0, kind); }
bool CSfpBase::GetTxPowerFlag(int lane, int kind) const {
  return GetKindedField(map_->tx_power_flag, lane, kind);
}
bool CSfpBase::GetTxBiasFlag(int lane, int kind) const {
  return GetKindedField(map_->tx_bias_flag, lane, kind);
}
bool CSfpBase::GetRxPowerFlag(int lane, int kind) const {
  return GetKindedField(map_->rx_power_flag, lane, kind);
}

bool CSfpBase::WriteTempOffset(float a, float b) {
  temp_offset_ = b - a;
  return WriteFloatAt(constants_.temp_offset, temp_offset_, true, false);
}

std::array<float, CSfpBase::kCalibrationCoefficients> CSfpBase::TxCalibration(int lane) const {
  if (lane < 1 || lane > kLanes) return {};
  return tx_calibration_[lane - 1];
}

std::array<float, CSfpBase::kCalibrationCoefficients> CSfpBase::RxCalibration(int lane) const {
  if (lane < 1 || lane > kLanes) return {};
  return rx_calibration_[lane - 1];
}

// ---- Field access ----

bool CSfpBase::GetField(const Field& field, int lane) const {
  const auto spot = Locate(field, lane);
  if (!spot) return false;
  std::lock_guard lock(images_mutex_);
  return spot->Get(images_.Byte(spot->page, spot->reg)) != 0;
}

bool CSfpBase::GetKindedField(const KindedField& field, int lane, int kind) const {
  const auto f = field.ForKind(kind);
  return f && GetField(*f, lane);
}

bool CSfpBase::SetField(const Field& field, int lane, uint8_t value) {
  const auto spot = Locate(field, lane);
  if (!spot) return false;
  uint8_t byte = 0;
  // Without the current byte the write would clear the other lanes' bits.
  if (!ReadByteAt(spot->address, &byte)) return false;
  byte = spot->Put(byte, value);
  {
    std::lock_guard lock(images_mutex_);
    if (uint8_t* slot = images_.Slot(spot->page, spot->reg)) *slot = byte;
  }
  return WriteByteAt(spot->address, byte, false);
}

bool CSfpBase::SetKindedField(const KindedField& field, int lane, int kind, bool value) {
  const auto f = field.ForKind(kind);
  return f && SetField(*f, lane, value ? 1 : 0);
}

bool CSfpBase::SetModuleBit(const Field& field, uint8_t value) {
  const auto spot = Locate(field, 0);
  if (!spot) return false;
  uint8_t byte = 0;
  if (!ReadByteAt(spot->address, &byte)) return false;
  if (value <= 1) byte = spot->Put(byte, value);  // other values write the byte back as read
  {
    std::lock_guard lock(images_mutex_);
    if (uint8_t* slot = images_.Slot(spot->page, spot->reg)) *slot = byte;
  }
  return WriteByteAt(spot->address, byte, false);
}

// ---- Controls ----

bool CSfpBase::IsUpperNibbleAll() {
  const auto spot = Locate(map_->rx_output_disable, 1);
  if (!spot) return false;
  uint8_t byte = 0;
  ReadByteAt(spot->address, &byte);
  return (byte & 0xF0) == 0xF0;
}

bool CSfpBase::IsAllTxDisabled() {
  const auto spot = Locate(map_->tx_disable, 1);
  if (!spot) return false;
  uint8_t byte = 0;
  ReadByteAt(spot->address, &byte);
  return (byte & 0x0F) == 0x0F;
}

bool CSfpBase::SetAllTxDisable(bool) { return false; }

bool CSfpBase::SetLowPwr(uint8_t value) { return SetModuleBit(map_->low_pwr, value); }
bool CSfpBase::SetSquelchMethod(uint8_t value) { return SetModuleBit(map_->squelch_method, value); }
bool CSfpBase::SetForceLowPwr(uint8_t value) { return SetModuleBit(map_->force_low_pwr, value); }
bool CSfpBase::SoftReset() { return SetModuleBit(map_->soft_reset, 1); }

bool CSfpBase::SetDataPathDeinit(int lane, uint8_t v) { return SetField(map_->dp_deinit, lane, v); }
bool CSfpBase::SetTxPolarityFlip(int lane, uint8_t v) {
  return SetField(map_->tx_polarity_flip, lane, v);
}
bool CSfpBase::SetTxDisable(int lane, uint8_t v) { return SetField(map_->tx_disable, lane, v); }
bool CSfpBase::SetTxSquelchDisable(int lane, uint8_t v) {
  return SetField(map_->tx_squelch_disable, lane, v);
}
bool CSfpBase::SetTxForceSquelch(int lane, uint8_t v) {
  return SetField(map_->tx_force_squelch, lane, v);
}
bool CSfpBase::SetTxEqFreeze(int lane, uint8_t v) { return SetField(map_->tx_eq_freeze, lane, v); }
bool CSfpBase::SetTxEqStore(int lane, uint8_t v) { return SetField(map_->tx_eq_store, lane, v); }
bool CSfpBase::SetRxPolarityFlip(int lane, uint8_t v) {
  return SetField(map_->rx_polarity_flip, lane, v);
}
bool CSfpBase::SetRxOutputDisable(int lane, uint8_t v) {
  return SetField(map_->rx_output_disable, lane, v);
}
bool CSfpBase::SetRxSquelchDisable(int lane, uint8_t v) {
  return SetField(map_->rx_squelch_disable, lane, v);
}

bool CSfpBase::SetStaged(int set, Staged which, int lane, uint8_t value) {
  return SetField(map_->StagedField(set, which), lane, value);
}

// ---- Masks ----

bool CSfpBase::GetModuleStateChangedMask() const {
  return GetField(map_->module_state_changed_mask, 0);
}
bool CSfpBase::SetModuleStateChangedMask(bool v) {
  return SetField(map_->module_state_changed_mask, 0, v);
}
bool CSfpBase::GetTempMask(int kind) const { return GetKindedField(map_->temp_mask, 0, kind); }
bool CSfpBase::SetTempMask(int kind, bool v) { return SetKindedField(map_->temp_mask, 0, kind, v); }
bool CSfpBase::GetVccMask(int kind) const { return GetKindedField(map_->vcc_mask, 0, kind); }
bool CSfpBase::SetVccMask(int kind, bool v) { return SetKindedField(map_->vcc_mask, 0, kind, v); }
bool CSfpBase::GetDataPathChangedMask(int lane) const {
  return GetField(map_->dp_changed_mask, lane);
}
bool CSfpBase::SetDataPathChangedMask(int lane, bool v) {
  return SetField(map_->dp_changed_mask, lane, v);
}
bool CSfpBase::GetTxFaultMask(int lane) const { return GetField(map_->tx_fault_mask, lane); }
bool CSfpBase::SetTxFaultMask(int lane, bool v) { return SetField(map_->tx_fault_mask, lane, v); }
bool CSfpBase::GetTxLosMask(int lane) const { return GetField(map_->tx_los_mask, lane); }
bool CSfpBase::SetTxLosMask(int lane, bool v) { return SetField(map_->tx_los_mask, lane, v); }
bool CSfpBase::GetTxCdrLolMask(int lane) const { return GetField(map_->tx_cdr_lol_mask, lane); }
bool CSfpBase::SetTxCdrLolMask(int lane, bool v) {
  return SetField(map_->tx_cdr_lol_mask, lane, v);
}
bool CSfpBase::GetTxEqFaultMask(int lane) const { return GetField(map_->tx_eq_fault_mask, lane); }
bool CSfpBase::SetTxEqFaultMask(int lane, bool v) {
  return SetField(map_->tx_eq_fault_mask, lane, v);
}
bool CSfpBase::GetTxPowerMask(int lane, int kind) const {
  return GetKindedField(map_->tx_power_mask, lane, kind);
}
bool CSfpBase::SetTxPowerMask(int lane, int kind, bool v) {
  return SetKindedField(map_->tx_power_mask, lane, kind, v);
}
bool CSfpBase::GetTxBiasMask(int lane, int kind) const {
  return GetKindedField(map_->tx_bias_mask, lane, kind);
}
bool CSfpBase::SetTxBiasMask(int lane, int kind, bool v) {
  return SetKindedField(map_->tx_bias_mask, lane, kind, v);
}
bool CSfpBase::GetRxLosMask(int lane) const { return GetField(map_->rx_los_mask, lane); }
bool CSfpBase::SetRxLosMask(int lane, bool v) { return SetField(map_->rx_los_mask, lane, v); }
bool CSfpBase::GetRxCdrLolMask(int lane) const { return GetField(map_->rx_cdr_lol_mask, lane); }
bool CSfpBase::SetRxCdrLolMask(int lane, bool v) {
  return SetField(map_->rx_cdr_lol_mask, lane, v);
}
bool CSfpBase::GetRxPowerMask(int lane, int kind) const {
  return GetKindedField(map_->rx_power_mask, lane, kind);
}
bool CSfpBase::SetRxPowerMask(int lane, int kind, bool v) {
  return SetKindedField(map_->rx_power_mask, lane, kind, v);
}
