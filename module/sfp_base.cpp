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

void CSfpBase::ForgetImages() {
  std::lock_guard lock(images_mutex_);
  images_ = ModuleImages{};
}

CSfpBase::ImageRefresh::ImageRefresh(CSfpBase& module) : module_(module) {
  work_ = module.Snapshot();
}

CSfpBase::ImageRefresh::~ImageRefresh() {
  {
    std::lock_guard lock(module_.images_mutex_);
    for (const Range& r : ranges_) {
      std::memcpy(module_.images_.Slot(r.page, r.reg), work_.Slot(r.page, r.reg), r.length);
      for (int i = 0; i < r.length; ++i) {
        const auto reg = static_cast<uint8_t>(r.reg + i);
        module_.images_.SetCurrent(r.page, reg, work_.Current(r.page, reg));
      }
    }
    if (monitors_) {
      module_.images_.monitors_current = work_.monitors_current;
      if (work_.monitors_current) module_.images_.monitors = work_.monitors;
    }
  }
  // The latched flag bytes of every good read go to the flag reader.
  for (const Range& r : ranges_)
    if (r.read && work_.Current(r.page, r.reg))
      module_.flags_.Take(r.page, r.reg, work_.Slot(r.page, r.reg), r.length);
  if (!result_) module_.recheck_advertisement_ = true;
}

BoardResult CSfpBase::ImageRefresh::Read(uint32_t address, uint8_t length) {
  const auto a = SplitAddress(address);
  uint8_t* slot = work_.Slot(a.page, a.reg);
  const int end = a.reg < 0x80 ? 0x80 : 0x100;  // a run stays inside its image
  if (!slot || a.reg + length > end) {
    result_.Merge(BoardResult::Fail(BoardStatus::kRefused));
    return result_;
  }
  ranges_.push_back({a.page, a.reg, length, true});
  BoardResult r = result_;
  uint8_t bytes[128];
  if (result_) r = module_.ReadBlock(a.device, a.page, a.reg, length, bytes);
  if (r) std::memcpy(slot, bytes, length);
  for (int i = 0; i < length; ++i)
    work_.SetCurrent(a.page, static_cast<uint8_t>(a.reg + i), r.ok());
  result_.Merge(r);
  return r;
}

void CSfpBase::ImageRefresh::Store(uint32_t address, uint8_t length, const uint8_t* bytes) {
  const auto a = SplitAddress(address);
  uint8_t* slot = work_.Slot(a.page, a.reg);
  if (!slot || a.reg + length > (a.reg < 0x80 ? 0x80 : 0x100)) return;
  ranges_.push_back({a.page, a.reg, length, false});
  std::memcpy(slot, bytes, length);
  for (int i = 0; i < length; ++i) work_.SetCurrent(a.page, static_cast<uint8_t>(a.reg + i), true);
}

void CSfpBase::ImageRefresh::Skip(uint32_t address, uint8_t length) {
  const auto a = SplitAddress(address);
  if (!work_.Slot(a.page, a.reg) || a.reg + length > (a.reg < 0x80 ? 0x80 : 0x100)) return;
  ranges_.push_back({a.page, a.reg, length, false});
  for (int i = 0; i < length; ++i) work_.SetCurrent(a.page, static_cast<uint8_t>(a.reg + i), false);
}

RawMonitors& CSfpBase::ImageRefresh::Monitors() {
  monitors_ = true;
  return work_.monitors;
}

void CSfpBase::ImageRefresh::MonitorsRead(const BoardResult& result) {
  monitors_ = true;
  work_.monitors_current = result.ok();
  result_.Merge(result);
}

// ---- Password, stamp area, page codes ----

BoardResult CSfpBase::WritePasswordEntry(uint32_t value, bool lsb_first) {
  return WriteDwordAt(constants_.password_entry, value, lsb_first, false);
}

BoardResult CSfpBase::EnterPassword(bool enter) {
  auto r = WritePasswordEntry(enter ? constants_.host_password : 0, false);
  if (r) password_entered_ = enter;
  return r;
}

bool CSfpBase::CheckPassword() {
  uint32_t value = 0;
  ReadDwordAt(constants_.password_entry, &value, false);  // a failed read counts as 0
  password_entered_ = value == constants_.host_password;
  return password_entered_;
}

BoardResult CSfpBase::LockPassword() { return WritePasswordEntry(constants_.lock_value, true); }

BoardResult CSfpBase::ReadStampArea() {
  auto result = ReadBlockAt(constants_.identity, 10, identity_.data());
  uint8_t stamp[6];
  result.Merge(ReadBlockAt(constants_.timestamp, 6, stamp));
  timestamp_.year = static_cast<uint16_t>(stamp[0] | stamp[1] << 8);
  timestamp_.month = stamp[2];
  timestamp_.day = stamp[3];
  timestamp_.hour = stamp[4];
  timestamp_.minute = stamp[5];
  return result;
}

bool CSfpBase::CheckIdentity() {
  uint32_t expected;
  std::memcpy(&expected, config_.data() + kConfigIdentityWord, sizeof expected);
  const uint16_t word = static_cast<uint16_t>(identity_[0] | identity_[1] << 8);
  identity_match_ = word == expected;
  return identity_match_;
}

BoardResult CSfpBase::SendPageCode(uint32_t address) {
  const auto a = SplitAddress(address);
  return SendPageCodeFor(a.device, a.page, a.reg);
}

BoardResult CSfpBase::SendPageCodeFor(uint8_t device, uint8_t page, uint8_t reg) {
  int table;
  if (device == 0xA0)
    table = 0;
  else if (device == 0xA2)
    table = 1;
  else
    return BoardResult::Fail(BoardStatus::kRefused);
  const uint32_t code = reg >= 0x80
                            ? page_codes_[table * 32 + page]
                            : (table == 0 ? constants_.lower_code_a0 : constants_.lower_code_a2);
  return WritePasswordEntry(code, true);
}

BoardResult CSfpBase::WriteTimestamp() {
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
  auto result = WriteBlockAt(constants_.timestamp, 6, bytes);
  result.Merge(WritePasswordEntry(constants_.timestamp_page_code, true));
  if (Board()) Board()->Pause(kCommitPauseMs);
  return result;
}

BoardResult CSfpBase::CommitCalibration() {
  if (auto r = WritePasswordEntry(constants_.calibration_code1, true); !r) return r;
  if (Board()) Board()->Pause(kCommitPauseMs);
  auto r = WritePasswordEntry(constants_.calibration_code2, true);
  if (Board()) Board()->Pause(kCommitPauseMs);
  return r;
}

BoardResult CSfpBase::StampModule() { return WriteTimestamp(); }

BoardResult CSfpBase::ProgramThresholds() {
  float set[kThresholdSlots];
  std::memcpy(set, config_.data() + kConfigThresholdSet, sizeof set);
  auto result = WriteThresholds(set);
  result.Merge(WritePasswordEntry(constants_.threshold_page_code, true));
  if (Board()) Board()->Pause(kCommitPauseMs);
  return result;
}

// ---- Monitors, flags, thresholds, calibration: base behaviour ----

BoardResult CSfpBase::ReadMonitors() { return BoardResult::Fail(BoardStatus::kRefused); }
BoardResult CSfpBase::ReadAlarmImage() { return BoardResult::Fail(BoardStatus::kRefused); }
BoardResult CSfpBase::ReadThresholds() { return BoardResult::Fail(BoardStatus::kRefused); }
BoardResult CSfpBase::ReadAdvertisement() { return BoardResult::Fail(BoardStatus::kRefused); }
BoardResult CSfpBase::ReadTuningImage() { return BoardResult::Fail(BoardStatus::kRefused); }
BoardResult CSfpBase::WriteThresholds(const float*) {
  return BoardResult::Fail(BoardStatus::kRefused);
}
bool CSfpBase::FitTxPowerCalibration(int, const uint32_t*, const float*, int, int) { return false; }
bool CSfpBase::FitRxPowerCalibration(int, const uint32_t*, const float*, int, int) { return false; }
BoardResult CSfpBase::ReadControlImage() { return BoardResult::Fail(BoardStatus::kRefused); }
BoardResult CSfpBase::ReadStatusImage() { return BoardResult::Fail(BoardStatus::kRefused); }
BoardResult CSfpBase::ReadMaskImage() { return BoardResult::Fail(BoardStatus::kRefused); }

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

BoardResult CSfpBase::WriteTempOffset(float a, float b) {
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

BoardResult CSfpBase::SetField(const Field& field, int lane, uint8_t value) {
  const auto spot = Locate(field, lane);
  if (!spot) return BoardResult::Fail(BoardStatus::kRefused);
  uint8_t byte = 0;
  // Without the current byte the write would clear the other lanes' bits.
  if (auto r = ReadByteAt(spot->address, &byte); !r) return r;
  return WriteImageByte(*spot, byte, spot->Put(byte, value));
}

BoardResult CSfpBase::SetModuleBit(const Field& field, uint8_t value) {
  const auto spot = Locate(field, 0);
  if (!spot) return BoardResult::Fail(BoardStatus::kRefused);
  uint8_t byte = 0;
  if (auto r = ReadByteAt(spot->address, &byte); !r) return r;
  // Other values than 0 and 1 write the byte back as read.
  return WriteImageByte(*spot, byte, value <= 1 ? spot->Put(byte, value) : byte);
}

BoardResult CSfpBase::WriteImageByte(const FieldSpot& spot, uint8_t read, uint8_t write) {
  const auto r = WriteByteAt(spot.address, write, false);
  // The image holds what the module now has: the new byte when the write
  // went through, else the byte just read.
  std::lock_guard lock(images_mutex_);
  if (uint8_t* slot = images_.Slot(spot.page, spot.reg)) {
    *slot = r ? write : read;
    images_.SetCurrent(spot.page, spot.reg, true);
  }
  return r;
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

BoardResult CSfpBase::SetAllTxDisable(bool) { return BoardResult::Fail(BoardStatus::kRefused); }
