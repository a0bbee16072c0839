#include "module/qsfp_dd.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "module/conversions.h"

namespace qsfp_dd {
namespace {

constexpr uint32_t A(uint8_t page, uint8_t reg) { return RegisterAddress(page, reg); }

Field Lower(uint8_t reg, uint8_t shift, uint8_t width = 1) {
  return {0, reg, Layout::kBits, shift, width};
}
Field Lanes(uint8_t page, uint8_t reg, Layout layout = Layout::kLaneBit) {
  return {page, reg, layout, 0, 1};
}
Field LaneByte(uint8_t page, uint8_t reg, uint8_t shift, uint8_t width) {
  return {page, reg, Layout::kLaneByte, shift, width};
}
KindedField Kinded(Field high_alarm, KindedField::Step step) { return {high_alarm, step}; }

RegisterMap MakeMap() {
  RegisterMap m;
  m.low_pwr = Lower(0x1A, 6);
  m.squelch_method = Lower(0x1A, 5);
  m.force_low_pwr = Lower(0x1A, 4);
  m.soft_reset = Lower(0x1A, 3);

  m.dp_deinit = Lanes(0x10, 0x80);
  m.tx_polarity_flip = Lanes(0x10, 0x81);
  m.tx_disable = Lanes(0x10, 0x82);
  m.tx_squelch_disable = Lanes(0x10, 0x83);
  m.tx_force_squelch = Lanes(0x10, 0x84);
  m.tx_eq_freeze = Lanes(0x10, 0x86);
  m.tx_eq_store = Lanes(0x10, 0x87, Layout::kLanePair);
  m.rx_polarity_flip = Lanes(0x10, 0x89);
  m.rx_output_disable = Lanes(0x10, 0x8A);
  m.rx_squelch_disable = Lanes(0x10, 0x8B);

  auto staged = [&m](Staged s, Field f) { m.staged0[static_cast<int>(s)] = f; };
  staged(Staged::kApplyDataPathInit, Lanes(0x10, 0x8F));
  staged(Staged::kApplyImmediate, Lanes(0x10, 0x90));
  staged(Staged::kAppCode, LaneByte(0x10, 0x91, 4, 4));
  staged(Staged::kDataPathCode, LaneByte(0x10, 0x91, 1, 3));
  staged(Staged::kExplicitControl, LaneByte(0x10, 0x91, 0, 1));
  staged(Staged::kAdaptiveEqEnable, Lanes(0x10, 0x99));
  staged(Staged::kAdaptiveEqRecall, Lanes(0x10, 0x9A, Layout::kLanePair));
  staged(Staged::kTxInputEq, Lanes(0x10, 0x9C, Layout::kLaneNibble));
  staged(Staged::kTxCdr, Lanes(0x10, 0xA0));
  staged(Staged::kRxCdr, Lanes(0x10, 0xA1));
  staged(Staged::kRxPreCursor, Lanes(0x10, 0xA2, Layout::kLaneNibble));
  staged(Staged::kRxPostCursor, Lanes(0x10, 0xA6, Layout::kLaneNibble));
  staged(Staged::kRxAmplitude, Lanes(0x10, 0xAA, Layout::kLaneNibble));
  m.staged_sets = 2;
  m.staged_set_stride = 0x23;

  m.module_state_changed_mask = Lower(0x1F, 0);
  m.temp_mask = Kinded(Lower(0x20, 0), KindedField::kBitStep);
  m.vcc_mask = Kinded(Lower(0x20, 4), KindedField::kBitStep);
  m.dp_changed_mask = Lanes(0x10, 0xD5);
  m.tx_fault_mask = Lanes(0x10, 0xD6);
  m.tx_los_mask = Lanes(0x10, 0xD7);
  m.tx_cdr_lol_mask = Lanes(0x10, 0xD8);
  m.tx_eq_fault_mask = Lanes(0x10, 0xD9);
  m.tx_power_mask = Kinded(Lanes(0x10, 0xDA), KindedField::kByteStep);
  m.tx_bias_mask = Kinded(Lanes(0x10, 0xDE), KindedField::kByteStep);
  m.rx_los_mask = Lanes(0x10, 0xE2);
  m.rx_cdr_lol_mask = Lanes(0x10, 0xE3);
  m.rx_power_mask = Kinded(Lanes(0x10, 0xE4), KindedField::kByteStep);

  m.temp_flag = Kinded(Lower(0x09, 0), KindedField::kBitStep);
  m.vcc_flag = Kinded(Lower(0x09, 4), KindedField::kBitStep);
  m.tx_power_flag = Kinded(Lanes(0x11, 0x8B), KindedField::kByteStep);
  m.tx_bias_flag = Kinded(Lanes(0x11, 0x8F), KindedField::kByteStep);
  m.rx_power_flag = Kinded(Lanes(0x11, 0x95), KindedField::kByteStep);

  m.module_state = Lower(0x03, 1, 3);
  m.interrupt = Lower(0x03, 0);
  m.module_state_changed = Lower(0x08, 0);
  m.bank0_lane_flags = Lanes(0, 0x04);
  m.dp_state = Lanes(0x11, 0x80, Layout::kLaneNibble);
  m.lane_flag_summary = Lanes(0x11, 0x85);
  m.dp_changed = Lanes(0x11, 0x86);
  m.tx_fault = Lanes(0x11, 0x87);
  m.tx_los = Lanes(0x11, 0x88);
  m.tx_cdr_lol = Lanes(0x11, 0x89);
  m.tx_eq_fault = Lanes(0x11, 0x8A);
  m.rx_los = Lanes(0x11, 0x93);
  m.rx_cdr_lol = Lanes(0x11, 0x94);
  m.config_status = Lanes(0x11, 0xCA, Layout::kLaneNibble);
  return m;
}

// Monitors.
constexpr uint32_t kTemperature = A(0, 0x0E);
constexpr uint32_t kVcc = A(0, 0x10);
constexpr uint32_t kAuxMonitors = A(0, 0x12);  // Aux 1-3 and the custom monitor
constexpr uint32_t kRxPower = A(0x11, 0xBA);
constexpr uint32_t kTxBias = A(0x11, 0xAA);
constexpr uint32_t kTxPower = A(0x11, 0x9A);
// Calibration and stamp areas.
constexpr uint32_t kTxCalibrationLanes1To6 = A(0xB2, 0x88);
constexpr uint32_t kTxCalibrationLanes7To8 = A(0xB3, 0x80);
constexpr uint32_t kRxCalibration = A(0xB3, 0xA8);

// The module type's fixed codes. They are opaque to the host; the module
// firmware gives them their meaning.
constexpr uint32_t kHostPassword = 0x4C57A0DD;
constexpr uint32_t kLockValue = 0x00000000;
constexpr uint32_t kLowPageCodeBase = 0x4C570000;
constexpr uint32_t kHighPageCodeBase = 0x4C571000;
constexpr uint32_t kCalibrationCode1 = 0x4C57CA01;
constexpr uint32_t kCalibrationCode2 = 0x4C57CA02;

uint16_t TempRaw(float c) { return static_cast<uint16_t>(TempToRaw(c)); }

}  // namespace

const RegisterMap& Map() {
  static const RegisterMap map = MakeMap();
  return map;
}

const std::array<ThresholdEntry, kThresholdCount>& ThresholdTable() {
  static const std::array<ThresholdEntry, kThresholdCount> table = [] {
    std::array<ThresholdEntry, kThresholdCount> t{};
    struct Group {
      const char* quantity;
      const char* unit;
      uint8_t reg;
      float (*to_unit)(uint16_t);
      uint16_t (*to_raw)(float);
      Quantity code;
    };
    const Group groups[] = {
        {"Temperature", "\u2103", 0x80, RawToTemp, TempRaw, Quantity::kTemperature},
        {"Supply voltage", "V", 0x88, RawToVcc, VccToRaw, Quantity::kVcc},
        {"Rx power", "dBm", 0xC0, RawToDbm, DbmToRaw, Quantity::kRxPower},
        {"Tx bias", "mA", 0xB8, RawToBias, BiasToRaw, Quantity::kTxBias},
        {"Tx power", "dBm", 0xB0, RawToDbm, DbmToRaw, Quantity::kTxPower},
    };
    const int kinds[] = {kHighAlarm, kLowAlarm, kHighWarning, kLowWarning};
    int i = 0;
    for (const Group& g : groups)
      for (int k = 0; k < 4; ++k)
        t[i++] = {g.quantity, g.unit,   kinds[k], A(0x02, static_cast<uint8_t>(g.reg + 2 * k)),
                  g.to_unit,  g.to_raw, g.code};
    return t;
  }();
  return table;
}

CQSFP_DD::CQSFP_DD(CDevice* board, const ConfigBlock& config) : CSfpBase(board, config) {
  TypeConstants c;
  c.password_change = A(0, 0x76);
  c.password_entry = A(0, 0x7A);
  c.timestamp = A(0xB1, 0x94);
  c.identity = A(0xB1, 0x9A);
  c.temp_offset = A(0xB3, 0xCC);
  c.host_password = kHostPassword;
  c.lock_value = kLockValue;
  c.calibration_code1 = kCalibrationCode1;
  c.calibration_code2 = kCalibrationCode2;
  c.lower_code_a0 = kLowPageCodeBase | 0xFF;
  c.lower_code_a2 = kLowPageCodeBase | 0x1FF;
  c.threshold_page_code = kLowPageCodeBase + 0x02;
  c.timestamp_page_code = kHighPageCodeBase + 0xB1;
  Install(kLanes, &qsfp_dd::Map(), c);
  for (int page = 0x00; page <= 0x0F; ++page)
    SetPageCode(0, static_cast<uint8_t>(page), kLowPageCodeBase + page);
  for (int page = 0xB0; page <= 0xFF; ++page)
    SetPageCode(0, static_cast<uint8_t>(page), kHighPageCodeBase + page);
}

BoardResult CQSFP_DD::ReadAdvertisement() {
  // The identification key: a module with the same key keeps the
  // advertisement read before.
  std::array<uint8_t, 3 + 128> key{};
  BoardResult result = ReadBlockAt(A(0, 0x00), 3, key.data());
  if (result) result = ReadBlockAt(A(0x00, 0x80), 128, key.data() + 3);
  if (!result) {
    ImageRefresh refresh(*this);
    refresh.Fail(result);
    refresh.Read(A(0, 0x00), 3);  // not made: marked not current
    refresh.Read(A(0x00, 0x80), 128);
    return result;
  }
  std::array<uint8_t, kIdentityKeySize> identity;
  std::copy_n(key.begin(), kIdentityKeySize, identity.begin());
  const bool same = advertisement_ && identity_key_ == identity;
  if (!same) {
    ForgetImages();
    advertisement_.reset();
    identity_key_.reset();
  }
  const bool paged = !(key[2] & 0x80);
  {
    ImageRefresh refresh(*this);
    refresh.Store(A(0, 0x00), 3, key.data());
    refresh.Store(A(0x00, 0x80), 128, key.data() + 3);
    if (!same) {
      refresh.Read(A(0, 85), 117 - 85 + 1);  // media type and application table
      for (uint8_t page : {0x01, 0x02}) {
        if (paged)
          refresh.Read(A(page, 0x80), 128);
        else
          refresh.Skip(A(page, 0x80), 128);
      }
    }
    refresh.Read(A(0, 39), 3);  // active firmware, fault cause
    if (paged)
      refresh.Read(A(0x11, 206), 8);  // the active control set's applications
    else
      refresh.Skip(A(0x11, 206), 8);
    result = refresh.Result();
  }
  if (!result) return result;
  advertisement_ = cmis::DecodeAdvertisement(Snapshot());
  identity_key_ = identity;
  recheck_advertisement_ = false;
  return result;
}

BoardResult CQSFP_DD::EnsureAdvertisement() {
  if (advertisement_ && !recheck_advertisement_) return BoardResult::Ok();
  return ReadAdvertisement();
}

BoardResult CQSFP_DD::ReadTuningImage() {
  const BoardResult advertised = EnsureAdvertisement();
  ImageRefresh refresh(*this);
  refresh.Fail(advertised);
  if (advertised && !advertisement_->tunable)
    refresh.Skip(A(0x12, 0x80), 128);
  else
    refresh.Read(A(0x12, 0x80), 128);
  return refresh.Result();
}

BoardResult CQSFP_DD::ReadMonitors() {
  const BoardResult advertised = EnsureAdvertisement();
  ImageRefresh refresh(*this);
  refresh.Fail(advertised);
  RawMonitors m;
  refresh.MonitorsRead([&]() -> BoardResult {
    if (!advertised) return advertised;
    if (auto r = ReadWordAt(kTemperature, &m.temperature, false); !r) return r;
    if (auto r = ReadWordAt(kVcc, &m.vcc, false); !r) return r;
    const struct {
      uint32_t address;
      std::array<uint16_t, 16>* lanes;
    } blocks[] = {{kRxPower, &m.rx_power}, {kTxBias, &m.tx_bias}, {kTxPower, &m.tx_power}};
    for (const auto& b : blocks) {
      if (!Paged()) break;
      uint8_t bytes[2 * kLanes];
      if (auto r = ReadBlockAt(b.address, sizeof bytes, bytes); !r) return r;
      for (int lane = 0; lane < kLanes; ++lane)
        (*b.lanes)[lane] = static_cast<uint16_t>(bytes[2 * lane] << 8 | bytes[2 * lane + 1]);
    }
    const auto& mon = advertisement_->monitors;
    if (mon.aux1 || mon.aux2 || mon.aux3 || mon.custom) {
      uint8_t bytes[2 * 4];
      if (auto r = ReadBlockAt(kAuxMonitors, sizeof bytes, bytes); !r) return r;
      for (int i = 0; i < 4; ++i)
        m.aux[i] = static_cast<uint16_t>(bytes[2 * i] << 8 | bytes[2 * i + 1]);
    }
    return BoardResult::Ok();
  }());
  if (refresh.Result()) refresh.Monitors() = m;
  return refresh.Result();
}

BoardResult CQSFP_DD::ReadAlarmImage() {
  const BoardResult advertised = EnsureAdvertisement();
  ImageRefresh refresh(*this);
  refresh.Fail(advertised);
  refresh.Read(A(0, 0x09), 3);
  PagedRead(refresh, A(0x11, 0x8B), 8);
  PagedRead(refresh, A(0x11, 0x95), 4);
  return refresh.Result();
}

void CQSFP_DD::PagedRead(ImageRefresh& refresh, uint32_t address, uint8_t length) {
  if (Paged())
    refresh.Read(address, length);
  else
    refresh.Skip(address, length);
}

BoardResult CQSFP_DD::ReadThresholds() {
  if (auto r = EnsureAdvertisement(); !r) return r;
  std::array<float, kThresholdSlots> values{};
  if (!Paged()) {
    // No page 02h: no thresholds to read.
    std::fill_n(values.begin(), kThresholdCount, std::numeric_limits<float>::quiet_NaN());
    PublishThresholds(values);
    return BoardResult::Ok();
  }
  const std::optional<int> multiplier = advertisement_->bias_multiplier;
  for (int i = 0; i < kThresholdCount; ++i) {
    const ThresholdEntry& e = ThresholdTable()[i];
    uint16_t raw = 0;
    // A failed read publishes nothing: the earlier thresholds stay.
    if (auto r = ReadWordAt(e.address, &raw, false); !r) {
      recheck_advertisement_ = true;
      return r;
    }
    values[i] = e.to_unit(raw);
    if (e.quantity_code == Quantity::kTxBias)
      values[i] = multiplier ? values[i] * static_cast<float>(*multiplier)
                             : std::numeric_limits<float>::quiet_NaN();
  }
  PublishThresholds(values);
  return BoardResult::Ok();
}

BoardResult CQSFP_DD::WriteThresholds(const float* set) {
  if (!set) return BoardResult::Fail(BoardStatus::kRefused);
  if (auto r = EnsureAdvertisement(); !r) return r;
  // Without page 02h, or with a bias multiplier the module does not define,
  // nothing is written rather than a guess.
  const std::optional<int> multiplier = advertisement_->bias_multiplier;
  if (!Paged() || !multiplier) return BoardResult::Fail(BoardStatus::kRefused);
  for (int i = 0; i < kThresholdCount; ++i) {
    const ThresholdEntry& e = ThresholdTable()[i];
    const float value =
        e.quantity_code == Quantity::kTxBias ? set[i] / static_cast<float>(*multiplier) : set[i];
    if (auto r = WriteWordAt(e.address, e.to_raw(value), false, false); !r) return r;
  }
  return BoardResult::Ok();
}

bool CQSFP_DD::FitCalibration(int lane, const uint32_t* counts, const float* powers, int count,
                              int degree, std::array<float, kCalibrationCoefficients>* store) {
  store->fill(0.0f);
  double working[kCalibrationCoefficients] = {};
  if (degree < 0 || degree >= kCalibrationCoefficients || !counts || !powers || count <= 0)
    return false;
  if (degree > 0) {
    std::vector<double> x(count), y(count);
    for (int i = 0; i < count; ++i) {
      x[i] = counts[i];
      y[i] = powers[i];
    }
    if (!FitPolynomial(x.data(), y.data(), count, degree, working)) return false;
  } else {
    if (counts[0] == 0) return false;
    working[1] = static_cast<double>(powers[0]) / counts[0];
  }
  for (int i = 0; i < kCalibrationCoefficients; ++i)
    (*store)[i] = static_cast<float>(working[kCalibrationCoefficients - 1 - i]);
  return true;
}

bool CQSFP_DD::FitTxPowerCalibration(int lane, const uint32_t* counts, const float* powers,
                                     int count, int degree) {
  if (lane < 1 || lane > kLanes) return false;
  auto& store = tx_calibration_[lane - 1];
  if (!FitCalibration(lane, counts, powers, count, degree, &store)) return false;
  uint8_t bytes[4 * kCalibrationCoefficients];
  for (int i = 0; i < kCalibrationCoefficients; ++i) {
    uint32_t bits;
    std::memcpy(&bits, &store[i], 4);
    for (int b = 0; b < 4; ++b) bytes[4 * i + b] = static_cast<uint8_t>(bits >> (8 * b));
  }
  const uint32_t address = lane <= 6 ? kTxCalibrationLanes1To6 + 20 * (lane - 1)
                                     : kTxCalibrationLanes7To8 + 20 * (lane - 7);
  WriteBlockAt(address, sizeof bytes, bytes, false);  // the fit stands whatever the write did
  return true;
}

bool CQSFP_DD::FitRxPowerCalibration(int lane, const uint32_t* counts, const float* powers,
                                     int count, int degree) {
  if (lane < 1 || lane > kLanes) return false;
  auto& store = rx_calibration_[lane - 1];
  if (!FitCalibration(lane, counts, powers, count, degree, &store)) return false;
  // Only the slope (the x^1 coefficient) goes to the module.
  WriteFloatAt(kRxCalibration + 4 * (lane - 1), store[kCalibrationCoefficients - 2], true, false);
  return true;
}

BoardResult CQSFP_DD::ReadControlImage() {
  const BoardResult advertised = EnsureAdvertisement();
  ImageRefresh refresh(*this);
  refresh.Fail(advertised);
  refresh.Read(A(0, 0x03), 1);
  PagedRead(refresh, A(0x11, 0x80), 4);
  refresh.Read(A(0, 0x1A), 1);
  PagedRead(refresh, A(0x10, 0x80), 0xD4 - 0x80 + 1);
  return refresh.Result();
}

BoardResult CQSFP_DD::ReadStatusImage() {
  const BoardResult advertised = EnsureAdvertisement();
  ImageRefresh refresh(*this);
  refresh.Fail(advertised);
  refresh.Read(A(0, 0x03), 6);
  PagedRead(refresh, A(0x11, 0x80), 11);
  PagedRead(refresh, A(0x11, 0x93), 2);
  PagedRead(refresh, A(0x11, 0xCA), 4);
  return refresh.Result();
}

BoardResult CQSFP_DD::ReadMaskImage() {
  const BoardResult advertised = EnsureAdvertisement();
  ImageRefresh refresh(*this);
  refresh.Fail(advertised);
  refresh.Read(A(0, 0x1F), 4);
  PagedRead(refresh, A(0x10, 0xD5), 0xE7 - 0xD5 + 1);
  return refresh.Result();
}

bool CQSFP_DD::IsAllTxDisabled() {
  uint8_t byte = 0;
  ReadByteAt(A(0x10, 0x82), &byte);
  return byte == 0xFF;
}

BoardResult CQSFP_DD::SetAllTxDisable(bool disable) {
  return WriteByteAt(A(0x10, 0x82), disable ? 0xFF : 0x00, false);
}

}  // namespace qsfp_dd
