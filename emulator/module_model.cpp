#include "emulator/module_model.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace emu {

namespace {

// CMIS codes.
enum ModuleStateCode { kModLowPwr = 1, kModPwrUp = 2, kModReady = 3, kModPwrDn = 4 };
enum DataPathCode { kDpDeactivated = 1, kDpInit = 2, kDpDeinit = 3, kDpActivated = 4 };
enum ConfigStatusCode { kConfigAccepted = 1, kConfigRejectedInvalidCode = 3 };

// Lower memory.
constexpr uint8_t kState = 0x03, kBankFlags = 0x04, kModuleFlags = 0x08, kTempVccFlags = 0x09;
constexpr uint8_t kTemperature = 0x0E, kVcc = 0x10, kControls = 0x1A, kModuleMasks = 0x1F;
constexpr uint8_t kAppTable = 0x56;
constexpr uint8_t kLowPwrBits = 0x50;  // LowPwr (bit 6), ForceLowPwr (bit 4)
constexpr uint8_t kSoftResetBit = 0x08;
// Page 10h.
constexpr uint8_t kDpDeinitControl = 0x80, kTxDisable = 0x82, kTxForceSquelch = 0x84,
                  kRxOutputDisable = 0x8A, kApplyDpInit0 = 0x8F, kApplyImmediate0 = 0x90,
                  kDpConfig0 = 0x91, kStagedStride = 0x23, kLaneMasks = 0xD5;
// Page 11h.
constexpr uint8_t kDpStates = 0x80, kRxOutputStatus = 0x84, kTxOutputStatus = 0x85,
                  kDpChanged = 0x86, kTxLos = 0x88, kTxPowerFlags = 0x8B, kTxBiasFlags = 0x8F,
                  kRxLos = 0x93, kRxLol = 0x94, kRxPowerFlags = 0x95, kLaneFlagsEnd = 0x98,
                  kTxPower = 0x9A, kTxBias = 0xAA, kRxPower = 0xBA, kConfigStatus = 0xCA,
                  kActiveDpConfig = 0xCE;
// Page 02h threshold groups (high alarm, low alarm, high warning, low warning).
constexpr uint8_t kTempThresholds = 0x80, kVccThresholds = 0x88, kTxPowerThresholds = 0xB0,
                  kTxBiasThresholds = 0xB8, kRxPowerThresholds = 0xC0;

uint16_t Word(const ModuleModel::Page& p, uint8_t reg) {
  return static_cast<uint16_t>(p[reg - 0x80] << 8 | p[reg - 0x80 + 1]);
}
void PutWord(ModuleModel::Page& p, int reg, uint16_t value) {
  p[reg - 0x80] = static_cast<uint8_t>(value >> 8);
  p[reg - 0x80 + 1] = static_cast<uint8_t>(value);
}
void PutText(ModuleModel::Page& p, int reg, int width, const char* text) {
  int n = static_cast<int>(std::strlen(text));
  for (int i = 0; i < width; ++i) p[reg - 0x80 + i] = i < n ? text[i] : ' ';
}
uint16_t MicrowattTenths(double dbm) {
  return static_cast<uint16_t>(std::lround(std::pow(10.0, dbm / 10.0) * 10000.0));
}
uint16_t Raw(double value, double unit) { return static_cast<uint16_t>(std::lround(value / unit)); }

// The four flags of one value against its thresholds, in the bit order of
// the lower 0x09 nibble: bit 0 high alarm, 1 low alarm, 2 high warning, 3 low warning.
uint8_t Check(int value, const int threshold[4]) {
  uint8_t bits = 0;
  if (value > threshold[0]) bits |= 1;
  if (value < threshold[1]) bits |= 2;
  if (value > threshold[2]) bits |= 4;
  if (value < threshold[3]) bits |= 8;
  return bits;
}

}  // namespace

ModuleModel::ModuleModel() { LoadDefaults(); }

uint8_t& ModuleModel::At(uint8_t page, uint8_t reg) {
  if (reg < 0x80) return lower_[reg];
  return pages_[page][reg - 0x80];
}

uint8_t ModuleModel::Peek(uint8_t page, uint8_t reg) const {
  if (reg < 0x80) return lower_[reg];
  auto it = pages_.find(page);
  return it == pages_.end() ? 0 : it->second[reg - 0x80];
}

void ModuleModel::Poke(uint8_t page, uint8_t reg, uint8_t value) { At(page, reg) = value; }

std::vector<uint8_t> ModuleModel::PageNumbers() const {
  std::vector<uint8_t> out;
  for (const auto& [n, p] : pages_) out.push_back(n);
  return out;
}

void ModuleModel::SetTimeSource(TimeFn now) { time_ = std::move(now); }

ModuleModel::Clock::time_point ModuleModel::Now() const { return time_ ? time_() : Clock::now(); }

void ModuleModel::SetLive(bool live) {
  live_ = live;
  started_ = false;
}

void ModuleModel::SetNoise(bool noise) { noise_ = noise; }

void ModuleModel::SetRxInput(int lane, uint16_t raw) {
  if (lane >= 1 && lane <= 8) nominal_.rx_input[lane - 1] = raw;
}

// ---- Host access ----

void ModuleModel::Read(uint8_t device, uint8_t page, uint8_t reg, uint8_t* out, int count) {
  if (device != 0xA0) {
    std::memset(out, 0xFF, count);
    return;
  }
  Advance(Now());
  for (int i = 0; i < count; ++i) out[i] = Peek(page, static_cast<uint8_t>(reg + i));
  if (!Acting()) return;
  for (int i = 0; i < count; ++i) ClearOnRead(page, static_cast<uint8_t>(reg + i));
  UpdateSummaries();
}

void ModuleModel::Write(uint8_t device, uint8_t page, uint8_t reg, const uint8_t* data, int count) {
  if (device != 0xA0) return;
  if (frozen_) StartLive();  // the first write ends a replay
  const bool live = Acting();
  if (!live) {
    for (int i = 0; i < count; ++i) At(page, static_cast<uint8_t>(reg + i)) = data[i];
    return;
  }
  const auto now = Now();
  Advance(now);
  bool reset = false;
  uint8_t apply[2] = {0, 0};
  for (int i = 0; i < count; ++i) {
    const auto r = static_cast<uint8_t>(reg + i);
    if (!Writable(page, r)) continue;
    At(page, r) = data[i];
    if (r == kControls && (data[i] & kSoftResetBit)) reset = true;
    if (page == 0x10 && r >= 0x80) {
      for (int set = 0; set < 2; ++set) {
        const uint8_t first = static_cast<uint8_t>(kApplyDpInit0 + set * kStagedStride);
        if (r == first || r == first + 1) apply[set] |= data[i];
      }
    }
  }
  if (reset) {
    SoftReset(now);
  } else {
    for (int set = 0; set < 2; ++set) {
      // The apply triggers act once and read back as zero.
      const uint8_t first = static_cast<uint8_t>(kApplyDpInit0 + set * kStagedStride);
      if (apply[set]) ApplyStaged(set, apply[set], now);
      if (page == 0x10 && HasPage(0x10)) {
        P(0x10)[first - 0x80] = 0;
        P(0x10)[first + 1 - 0x80] = 0;
      }
    }
  }
  Settle(now);
  UpdateMonitors(now);
  LatchFlags();
  UpdateSummaries();
}

bool ModuleModel::Writable(uint8_t page, uint8_t reg) const {
  if (reg < 0x80) return reg >= kControls;  // 0x00-0x19: identification, state, flags, monitors
  return page != 0x11;                      // page 11h: states, flags and monitors
}

void ModuleModel::ClearOnRead(uint8_t page, uint8_t reg) {
  if (reg >= kModuleFlags && reg <= 0x0B) lower_[reg] = 0;
  if (page == 0x11 && reg >= kDpChanged && reg <= kLaneFlagsEnd && HasPage(0x11))
    P(0x11)[reg - 0x80] = 0;
}

// ---- Power-on image ----

void ModuleModel::LoadDefaults() {
  frozen_ = false;
  lower_.fill(0);
  pages_.clear();
  lower_[0x00] = 0x18;                    // QSFP-DD
  lower_[0x01] = 0x50;                    // CMIS 5.0
  lower_[0x02] = 0x00;                    // paged memory
  lower_[kState] = (kModReady << 1) | 1;  // ready, interrupt deasserted
  lower_[0x55] = 0x01;                    // media type: multimode fibre
  // Application table: host interface, media interface, lane counts, host lane starts.
  const uint8_t apps[][4] = {
      {0x11, 0x10, 0x88, 0x01},  // 400GAUI-8 C2M / 400GBASE-SR8
      {0x0F, 0x0E, 0x44, 0x11},  // 200GAUI-4 C2M / 200GBASE-SR4
      {0x0D, 0x0C, 0x22, 0x55},  // 100GAUI-2 C2M / 100GBASE-SR2
      {0xFF, 0x00, 0x00, 0x00},  // end of the table
  };
  std::memcpy(&lower_[kAppTable], apps, sizeof apps);

  Page& p0 = pages_[0x00];
  p0[0] = 0x18;  // identifier (page 00h byte 128)
  PutText(p0, 129, 16, "VORLANIX");
  p0[145 - 0x80] = 0x00;
  p0[146 - 0x80] = 0x17;
  p0[147 - 0x80] = 0x6A;
  PutText(p0, 148, 16, "LW-QDD-400G-SR8");
  PutText(p0, 164, 2, "A1");
  PutText(p0, 166, 16, "LWX2612090042");
  PutText(p0, 182, 8, "261209  ");
  PutText(p0, 190, 10, "");
  p0[200 - 0x80] = 0x60;  // power class 4
  p0[201 - 0x80] = 40;    // 10 W
  p0[203 - 0x80] = 0x28;  // MPO 1X16
  p0[212 - 0x80] = 0x00;  // 850 nm VCSEL

  Page& p1 = pages_[0x01];
  PutWord(p1, 138, 850 * 20);  // nominal wavelength
  PutWord(p1, 140, 10 * 200);  // tolerance
  p1[159 - 0x80] = 0x03;       // temperature and supply voltage monitored
  p1[160 - 0x80] = 0x07;       // Tx bias, Tx power and Rx power monitored
  // The longest durations, as this model keeps them: DPDeinit 50-100 ms and
  // DPInit 100-500 ms (byte 144), Tx turn-off and turn-on 1-5 ms (byte 168).
  p1[144 - 0x80] = 0x45;
  p1[168 - 0x80] = 0x11;

  Page& p2 = pages_[0x02];
  const struct {
    uint8_t reg;
    double values[4];  // high alarm, low alarm, high warning, low warning
    double unit;       // per raw count
    bool dbm;
  } thresholds[] = {
      {kTempThresholds, {75, -5, 70, 0}, 1.0 / 256, false},
      {kVccThresholds, {3.63, 2.97, 3.465, 3.135}, 1e-4, false},
      {kTxPowerThresholds, {4.0, -8.4, 3.0, -7.4}, 0, true},
      {kTxBiasThresholds, {13, 3, 12, 4}, 0.002, false},
      {kRxPowerThresholds, {4.0, -10.3, 3.0, -9.3}, 0, true},
  };
  for (const auto& t : thresholds)
    for (int k = 0; k < 4; ++k) {
      const uint16_t raw = t.dbm ? MicrowattTenths(t.values[k])
                                 : static_cast<uint16_t>(std::lround(t.values[k] / t.unit));
      PutWord(p2, t.reg + 2 * k, raw);
    }

  Page& p10 = pages_[0x10];
  for (int set = 0; set < 2; ++set)
    for (int lane = 0; lane < 8; ++lane)
      p10[kDpConfig0 + set * kStagedStride + lane - 0x80] = 0x10;  // application 1
  p10[0xA0 - 0x80] = 0xFF;                                         // Tx CDR on
  p10[0xA1 - 0x80] = 0xFF;                                         // Rx CDR on
  for (int r = 0xAA; r <= 0xAD; ++r) p10[r - 0x80] = 0x22;         // Rx output amplitude code 2

  Page& p11 = pages_[0x11];
  for (int r = kDpStates; r < kDpStates + 4; ++r) p11[r - 0x80] = 0x44;  // DPActivated
  p11[kRxOutputStatus - 0x80] = 0xFF;
  p11[kTxOutputStatus - 0x80] = 0xFF;
  for (int lane = 0; lane < 8; ++lane) p11[kActiveDpConfig + lane - 0x80] = 0x10;
  // Monitor values the live module moves around.
  const double bias_ma[8] = {6.52, 6.61, 6.48, 6.70, 6.55, 6.63, 6.44, 6.58};
  const double tx_dbm[8] = {-0.8, -1.1, -0.6, -1.3, -0.9, -0.7, -1.2, -1.0};
  const double rx_dbm[8] = {-2.1, -2.5, -1.9, -2.8, -2.2, -2.4, -2.0, -2.6};
  for (int lane = 0; lane < 8; ++lane) {
    PutWord(p11, kTxBias + 2 * lane, Raw(bias_ma[lane], 0.002));
    PutWord(p11, kTxPower + 2 * lane, MicrowattTenths(tx_dbm[lane]));
    PutWord(p11, kRxPower + 2 * lane, MicrowattTenths(rx_dbm[lane]));
  }
  const uint16_t temperature = Raw(38.5, 1.0 / 256), vcc = Raw(3.29, 1e-4);
  lower_[kTemperature] = static_cast<uint8_t>(temperature >> 8);
  lower_[kTemperature + 1] = static_cast<uint8_t>(temperature);
  lower_[kVcc] = static_cast<uint8_t>(vcc >> 8);
  lower_[kVcc + 1] = static_cast<uint8_t>(vcc);

  // The page checksums a real module carries: the low byte of the sum of the
  // page's registers, page 00h 128-221 at 222, 01h 130-254 and 02h 128-254 at 255.
  const struct {
    uint8_t page, first, last, at;
  } sums[] = {{0x00, 128, 221, 222}, {0x01, 130, 254, 255}, {0x02, 128, 254, 255}};
  for (const auto& c : sums) {
    if (!HasPage(c.page)) continue;
    unsigned sum = 0;
    for (int reg = c.first; reg <= c.last; ++reg) sum += P(c.page)[reg - 0x80];
    P(c.page)[c.at - 0x80] = static_cast<uint8_t>(sum);
  }

  Restart();
}

// ---- The live module ----

void ModuleModel::Restart() {
  started_ = false;
  resetting_ = false;
  module_due_.reset();
  lane_due_.fill(std::nullopt);
  last_monitor_.reset();
  for (size_t i = 0; i < lower_controls_.size(); ++i) lower_controls_[i] = lower_[kControls + i];
  lower_controls_[0] &= static_cast<uint8_t>(~kSoftResetBit);
  auto it = pages_.find(0x10);
  page10_defaults_ = it == pages_.end() ? Page{} : it->second;
  for (int set = 0; set < 2; ++set) {
    page10_defaults_[kApplyDpInit0 + set * kStagedStride - 0x80] = 0;
    page10_defaults_[kApplyImmediate0 + set * kStagedStride - 0x80] = 0;
  }
  TakeNominals();
}

void ModuleModel::TakeNominals() {
  nominal_ = Nominal{};
  nominal_.temperature =
      static_cast<uint16_t>(lower_[kTemperature] << 8 | lower_[kTemperature + 1]);
  nominal_.vcc = static_cast<uint16_t>(lower_[kVcc] << 8 | lower_[kVcc + 1]);
  auto it = pages_.find(0x11);
  if (it == pages_.end()) return;
  const Page& p11 = it->second;
  const bool ready = ModuleState() == kModReady;
  auto mean_of_lit = [](const std::array<uint16_t, 8>& v) {
    unsigned sum = 0, n = 0;
    for (uint16_t x : v)
      if (x) sum += x, ++n;
    return static_cast<uint16_t>(n ? sum / n : 0);
  };
  std::array<bool, 8> dark_by_control{}, tx_off{};
  for (int lane = 1; lane <= 8; ++lane) {
    const int i = lane - 1;
    nominal_.tx_power[i] = Word(p11, static_cast<uint8_t>(kTxPower + 2 * i));
    nominal_.tx_bias[i] = Word(p11, static_cast<uint8_t>(kTxBias + 2 * i));
    nominal_.rx_input[i] = Word(p11, static_cast<uint8_t>(kRxPower + 2 * i));
    const int dp = (p11[(kDpStates + i / 2) - 0x80] >> (i % 2 ? 4 : 0)) & 0x0F;
    const uint8_t bit = static_cast<uint8_t>(1u << i);
    tx_off[i] = (Peek(0x10, kTxDisable) & bit) || (Peek(0x10, kTxForceSquelch) & bit);
    dark_by_control[i] = !ready || dp != kDpActivated || tx_off[i];
  }
  // A lane that read zero because the host had it off still has a laser:
  // give it the level of the lit lanes.
  const uint16_t tx = mean_of_lit(nominal_.tx_power), bias = mean_of_lit(nominal_.tx_bias),
                 rx = mean_of_lit(nominal_.rx_input);
  for (int i = 0; i < 8; ++i) {
    if (!dark_by_control[i]) continue;
    if (!nominal_.tx_power[i]) nominal_.tx_power[i] = tx;
    if (!nominal_.tx_bias[i] && (!ready || tx_off[i])) nominal_.tx_bias[i] = bias;
    if (!nominal_.rx_input[i] && !ready) nominal_.rx_input[i] = rx;
  }
}

void ModuleModel::Advance(Clock::time_point now) {
  if (!Acting()) return;
  if (!started_) {
    started_ = true;
    Settle(now);
  }
  // Fire the timed transitions in time order; each may start the next.
  for (int guard = 0; guard < 256; ++guard) {
    std::optional<Clock::time_point> next = module_due_;
    for (const auto& due : lane_due_)
      if (due && (!next || *due < *next)) next = due;
    if (!next || *next > now) break;
    const auto t = *next;
    if (module_due_ && *module_due_ == t) {
      module_due_.reset();
      if (resetting_)
        resetting_ = false;
      else if (ModuleState() == kModPwrUp)
        SetModuleState(kModReady);
      else if (ModuleState() == kModPwrDn)
        SetModuleState(kModLowPwr);
    }
    for (int lane = 1; lane <= 8; ++lane) {
      auto& due = lane_due_[lane - 1];
      if (!due || *due != t) continue;
      due.reset();
      if (DpState(lane) == kDpInit)
        SetDpState(lane, kDpActivated);
      else if (DpState(lane) == kDpDeinit)
        SetDpState(lane, kDpDeactivated);
    }
    Settle(t);
  }
  UpdateMonitors(now);
  LatchFlags();
  UpdateSummaries();
}

void ModuleModel::Settle(Clock::time_point t) {
  SettleModule(t);
  for (int lane = 1; lane <= 8; ++lane) SettleLane(lane, t);
}

void ModuleModel::SettleModule(Clock::time_point t) {
  if (resetting_) return;
  const bool low = (lower_[kControls] & kLowPwrBits) != 0;
  switch (ModuleState()) {
    case kModReady:
      if (low) {
        SetModuleState(kModPwrDn);
        module_due_ = t + std::chrono::milliseconds(kPowerDownMs);
      }
      break;
    case kModPwrDn:
      if (!module_due_) module_due_ = t + std::chrono::milliseconds(kPowerDownMs);
      break;
    case kModLowPwr:
      if (!low) {
        SetModuleState(kModPwrUp);
        module_due_ = t + std::chrono::milliseconds(kPowerUpMs);
      }
      break;
    case kModPwrUp:
      if (low) {
        SetModuleState(kModLowPwr);
        module_due_.reset();
      } else if (!module_due_) {
        module_due_ = t + std::chrono::milliseconds(kPowerUpMs);
      }
      break;
    default:  // a state code the module never reports: start over from low power
      SetModuleState(kModLowPwr);
      module_due_.reset();
      SettleModule(t);
  }
}

void ModuleModel::SettleLane(int lane, Clock::time_point t) {
  auto& due = lane_due_[lane - 1];
  const int state = ModuleState();
  const int dp = DpState(lane);
  auto enter = [&](int code, int ms) {
    SetDpState(lane, code);
    due = t + std::chrono::milliseconds(ms);
  };
  const bool deinit_requested = LaneBit(0x10, kDpDeinitControl, lane);
  if (state == kModPwrDn || (state == kModReady && deinit_requested)) {
    if (dp != kDpDeactivated && dp != kDpDeinit)
      enter(kDpDeinit, kDataPathDeinitMs);
    else if (dp == kDpDeinit && !due)
      due = t + std::chrono::milliseconds(kDataPathDeinitMs);
    return;
  }
  if (state != kModReady) {
    SetDpState(lane, kDpDeactivated);
    due.reset();
    return;
  }
  switch (dp) {
    case kDpActivated:
      break;
    case kDpInit:
      if (!due) due = t + std::chrono::milliseconds(kDataPathInitMs);
      break;
    case kDpDeinit:
      if (!due) due = t + std::chrono::milliseconds(kDataPathDeinitMs);
      break;
    default:  // deactivated, or a state this module does not use
      enter(kDpInit, kDataPathInitMs);
  }
}

void ModuleModel::SoftReset(Clock::time_point t) {
  for (size_t i = 0; i < lower_controls_.size(); ++i) lower_[kControls + i] = lower_controls_[i];
  P(0x10) = page10_defaults_;
  for (int r = kModuleFlags; r <= 0x0B; ++r) lower_[r] = 0;
  Page& p11 = P(0x11);
  for (int r = kDpChanged; r <= kLaneFlagsEnd; ++r) p11[r - 0x80] = 0;
  for (int i = 0; i < 4; ++i) p11[kConfigStatus + i - 0x80] = 0;
  for (int lane = 0; lane < 8; ++lane)
    p11[kActiveDpConfig + lane - 0x80] = page10_defaults_[kDpConfig0 + lane - 0x80];
  SetModuleState(kModLowPwr);
  for (int lane = 1; lane <= 8; ++lane) {
    SetDpState(lane, kDpDeactivated);
    lane_due_[lane - 1].reset();
  }
  resetting_ = true;
  module_due_ = t + std::chrono::milliseconds(kResetMs);
}

bool ModuleModel::Advertised(int app_code) const {
  if (app_code < 1 || app_code > 8) return false;
  for (int app = 1; app <= app_code; ++app)
    if (lower_[kAppTable + 4 * (app - 1)] == 0xFF) return false;  // the table ended before it
  return lower_[kAppTable + 4 * (app_code - 1)] != 0x00;
}

void ModuleModel::ApplyStaged(int set, uint8_t lanes, Clock::time_point t) {
  Page& p10 = P(0x10);
  Page& p11 = P(0x11);
  for (int lane = 1; lane <= 8; ++lane) {
    if (!(lanes & (1u << (lane - 1)))) continue;
    const uint8_t config = p10[kDpConfig0 + set * kStagedStride + lane - 1 - 0x80];
    const bool accepted = Advertised(config >> 4);
    uint8_t& status = p11[kConfigStatus + (lane - 1) / 2 - 0x80];
    const int shift = lane % 2 ? 0 : 4;
    const int code = accepted ? kConfigAccepted : kConfigRejectedInvalidCode;
    status = static_cast<uint8_t>((status & ~(0x0F << shift)) | (code << shift));
    if (!accepted) continue;
    p11[kActiveDpConfig + lane - 1 - 0x80] = config;
    const int dp = DpState(lane);
    if (ModuleState() == kModReady && !LaneBit(0x10, kDpDeinitControl, lane) &&
        (dp == kDpActivated || dp == kDpInit)) {
      SetDpState(lane, kDpInit);
      lane_due_[lane - 1] = t + std::chrono::milliseconds(kDataPathInitMs);
    }
  }
}

void ModuleModel::SetModuleState(int state) {
  if (ModuleState() == state) return;
  lower_[kState] = static_cast<uint8_t>((lower_[kState] & ~0x0E) | (state << 1));
  lower_[kModuleFlags] |= 0x01;  // module state changed
}

int ModuleModel::DpState(int lane) {
  const uint8_t byte = P(0x11)[kDpStates + (lane - 1) / 2 - 0x80];
  return lane % 2 ? byte & 0x0F : byte >> 4;
}

void ModuleModel::SetDpState(int lane, int state) {
  if (DpState(lane) == state) return;
  uint8_t& byte = P(0x11)[kDpStates + (lane - 1) / 2 - 0x80];
  const int shift = lane % 2 ? 0 : 4;
  byte = static_cast<uint8_t>((byte & ~(0x0F << shift)) | (state << shift));
  P(0x11)[kDpChanged - 0x80] |= static_cast<uint8_t>(1u << (lane - 1));
}

bool ModuleModel::LaneLit(int lane) {
  return ModuleState() == kModReady && DpState(lane) == kDpActivated &&
         !LaneBit(0x10, kTxDisable, lane) && !LaneBit(0x10, kTxForceSquelch, lane);
}

bool ModuleModel::LaserOn(int lane) {
  if (LaneLit(lane)) return true;
  return faults_.tx_stuck_on[lane - 1] && ModuleState() == kModReady &&
         DpState(lane) == kDpActivated;
}

double ModuleModel::Noise(double relative) {
  if (!noise_) return 0.0;
  return std::uniform_real_distribution<double>(-relative, relative)(rng_);
}

void ModuleModel::UpdateMonitors(Clock::time_point t) {
  const bool fresh =
      !last_monitor_ || t - *last_monitor_ >= std::chrono::milliseconds(kMonitorPeriodMs);
  if (fresh) {
    last_monitor_ = t;
    noise_factors_.temperature = Noise(40);  // about 0.15 degC
    noise_factors_.vcc = Noise(20);          // 2 mV
    for (int i = 0; i < 8; ++i) {
      noise_factors_.tx_power[i] = 1.0 + Noise(0.01);
      noise_factors_.tx_bias[i] = 1.0 + Noise(0.005);
      noise_factors_.rx_power[i] = 1.0 + Noise(0.01);
    }
  }
  auto scaled = [](uint16_t nominal, double factor) {
    return static_cast<uint16_t>(std::clamp(std::lround(nominal * factor), 0L, 0xFFFFL));
  };
  if (nominal_.temperature || nominal_.vcc) {
    auto temperature = static_cast<uint16_t>(static_cast<int16_t>(nominal_.temperature) +
                                             std::lround(noise_factors_.temperature));
    if (faults_.temperature_high) {
      const auto high_alarm =
          static_cast<int16_t>(Peek(0x02, kTempThresholds) << 8 | Peek(0x02, kTempThresholds + 1));
      temperature = static_cast<uint16_t>(std::max<int>(
          static_cast<int16_t>(temperature), std::min<int>(high_alarm + 2 * 256, INT16_MAX)));
    }
    const auto vcc = static_cast<uint16_t>(
        std::clamp(nominal_.vcc + std::lround(noise_factors_.vcc), 0L, 0xFFFFL));
    lower_[kTemperature] = static_cast<uint8_t>(temperature >> 8);
    lower_[kTemperature + 1] = static_cast<uint8_t>(temperature);
    lower_[kVcc] = static_cast<uint8_t>(vcc >> 8);
    lower_[kVcc + 1] = static_cast<uint8_t>(vcc);
  }
  const bool ready = ModuleState() == kModReady;
  Page& p11 = P(0x11);
  for (int lane = 1; lane <= 8; ++lane) {
    const int i = lane - 1;
    // A disabled or squelched lane's laser is off: no light and no bias.
    const bool laser = LaserOn(lane);
    PutWord(p11, kTxPower + 2 * i,
            laser ? scaled(nominal_.tx_power[i], noise_factors_.tx_power[i]) : 0);
    PutWord(p11, kTxBias + 2 * i,
            laser ? scaled(nominal_.tx_bias[i], noise_factors_.tx_bias[i]) : 0);
    PutWord(p11, kRxPower + 2 * i,
            ready ? scaled(nominal_.rx_input[i], noise_factors_.rx_power[i]) : 0);
  }
}

void ModuleModel::LatchFlags() {
  auto thresholds = [this](uint8_t reg, int out[4]) {
    bool any = false;
    for (int k = 0; k < 4; ++k) {
      const auto raw = static_cast<uint16_t>(Peek(0x02, static_cast<uint8_t>(reg + 2 * k)) << 8 |
                                             Peek(0x02, static_cast<uint8_t>(reg + 2 * k + 1)));
      out[k] = reg == kTempThresholds ? static_cast<int16_t>(raw) : raw;
      any = any || raw;
    }
    return any;  // a module without thresholds raises no flags
  };
  int t[4];
  if ((nominal_.temperature || nominal_.vcc)) {
    if (thresholds(kTempThresholds, t))
      lower_[kTempVccFlags] |=
          Check(static_cast<int16_t>(lower_[kTemperature] << 8 | lower_[kTemperature + 1]), t);
    if (thresholds(kVccThresholds, t))
      lower_[kTempVccFlags] |=
          static_cast<uint8_t>(Check(lower_[kVcc] << 8 | lower_[kVcc + 1], t) << 4);
  }
  const bool ready = ModuleState() == kModReady;
  Page& p11 = P(0x11);
  int tx_t[4], bias_t[4], rx_t[4];
  const bool has_tx = thresholds(kTxPowerThresholds, tx_t);
  const bool has_bias = thresholds(kTxBiasThresholds, bias_t);
  const bool has_rx = thresholds(kRxPowerThresholds, rx_t);
  auto latch = [&p11](uint8_t first, uint8_t bits, int lane) {
    for (int k = 0; k < 4; ++k)
      if (bits & (1u << k)) p11[first + k - 0x80] |= static_cast<uint8_t>(1u << (lane - 1));
  };
  for (int lane = 1; lane <= 8; ++lane) {
    const int i = lane - 1;
    const bool present = nominal_.tx_power[i] || nominal_.tx_bias[i] || nominal_.rx_input[i];
    if (!ready || !present || DpState(lane) != kDpActivated) continue;
    if (faults_.tx_los[i]) p11[kTxLos - 0x80] |= static_cast<uint8_t>(1u << i);
    const int rx = Word(p11, static_cast<uint8_t>(kRxPower + 2 * i));
    if (has_tx)
      latch(kTxPowerFlags, Check(Word(p11, static_cast<uint8_t>(kTxPower + 2 * i)), tx_t), lane);
    if (has_bias)
      latch(kTxBiasFlags, Check(Word(p11, static_cast<uint8_t>(kTxBias + 2 * i)), bias_t), lane);
    if (has_rx) {
      latch(kRxPowerFlags, Check(rx, rx_t), lane);
      if (rx < rx_t[1]) {  // below the low-alarm level: no signal to recover
        p11[kRxLos - 0x80] |= static_cast<uint8_t>(1u << i);
        p11[kRxLol - 0x80] |= static_cast<uint8_t>(1u << i);
      }
    }
  }
}

void ModuleModel::UpdateSummaries() {
  Page& p10 = P(0x10);
  Page& p11 = P(0x11);
  uint8_t tx_out = 0, rx_out = 0;
  for (int lane = 1; lane <= 8; ++lane) {
    const uint8_t bit = static_cast<uint8_t>(1u << (lane - 1));
    if (LaneLit(lane)) tx_out |= bit;
    if (ModuleState() == kModReady && DpState(lane) == kDpActivated &&
        !(p10[kRxOutputDisable - 0x80] & bit) && !(p11[kRxLos - 0x80] & bit))
      rx_out |= bit;
  }
  p11[kTxOutputStatus - 0x80] = tx_out;
  p11[kRxOutputStatus - 0x80] = rx_out;
  uint8_t lane_flags = 0;
  bool pending = false;
  for (int r = kDpChanged; r <= kLaneFlagsEnd; ++r) {
    lane_flags |= p11[r - 0x80];
    pending = pending || (p11[r - 0x80] & ~p10[kLaneMasks + (r - kDpChanged) - 0x80]);
  }
  lower_[kBankFlags] = lane_flags;
  for (int r = kModuleFlags; r <= 0x0B; ++r)
    pending = pending || (lower_[r] & ~lower_[kModuleMasks + (r - kModuleFlags)]);
  // Bit 0 reads 1 while no unmasked flag is pending (interrupt deasserted).
  lower_[kState] = static_cast<uint8_t>((lower_[kState] & ~1) | (pending ? 0 : 1));
}

bool ModuleModel::LoadDump(const std::string& text, std::string* error) {
  ModuleDumpImage image;
  if (!ParseModuleDump(text, &image, error)) return false;
  LoadImage(std::move(image));
  return true;
}

void ModuleModel::LoadImage(ModuleDumpImage image) {
  lower_ = image.lower;
  pages_ = std::move(image.pages);
  Restart();
  frozen_ = true;
}

void ModuleModel::StartLive() {
  if (!frozen_) return;
  frozen_ = false;
  started_ = false;  // the next access settles from the memory as it is now
}

void ModuleModel::SetSerialNumber(const std::string& serial) {
  Page& p0 = P(0x00);
  unsigned sum = 0;
  for (int i = 0; i < 16; ++i)
    p0[166 - 0x80 + i] =
        static_cast<uint8_t>(i < static_cast<int>(serial.size()) ? serial[i] : ' ');
  for (int reg = 128; reg <= 221; ++reg) sum += p0[reg - 0x80];
  p0[222 - 0x80] = static_cast<uint8_t>(sum);
}

std::string ModuleModel::SerialNumber() const {
  std::string serial;
  for (int reg = 166; reg < 182; ++reg)
    serial += static_cast<char>(Peek(0x00, static_cast<uint8_t>(reg)));
  while (!serial.empty() && serial.back() == ' ') serial.pop_back();
  return serial;
}

ModuleDumpImage ModuleModel::Image() const {
  ModuleDumpImage image;
  image.lower = lower_;
  image.has_lower = true;
  image.pages = pages_;
  return image;
}

ModuleModel::Retained ModuleModel::RetainedState() const {
  Retained live;
  live.power_on_controls = lower_controls_;
  live.power_on_page10 = page10_defaults_;
  live.temperature = nominal_.temperature;
  live.vcc = nominal_.vcc;
  live.tx_power = nominal_.tx_power;
  live.tx_bias = nominal_.tx_bias;
  live.rx_input = nominal_.rx_input;
  return live;
}

void ModuleModel::SetRetainedState(const Retained& live) {
  lower_controls_ = live.power_on_controls;
  lower_controls_[0] &= static_cast<uint8_t>(~kSoftResetBit);
  page10_defaults_ = live.power_on_page10;
  for (int set = 0; set < 2; ++set) {
    page10_defaults_[kApplyDpInit0 + set * kStagedStride - 0x80] = 0;
    page10_defaults_[kApplyImmediate0 + set * kStagedStride - 0x80] = 0;
  }
  nominal_.temperature = live.temperature;
  nominal_.vcc = live.vcc;
  nominal_.tx_power = live.tx_power;
  nominal_.tx_bias = live.tx_bias;
  nominal_.rx_input = live.rx_input;
}

void ModuleModel::PowerCycle() {
  if (!live_ || FlatMemory()) return;  // plain memory keeps what it holds
  StartLive();                         // a power cycle ends a replay
  const auto now = Now();
  Advance(now);
  SoftReset(now);
  Settle(now);
  UpdateMonitors(now);
  UpdateSummaries();
}

uint64_t ModuleModel::Fingerprint() const {
  uint64_t h = 0xcbf29ce484222325ull;  // FNV-1a
  auto mix = [&h](uint8_t byte) {
    h ^= byte;
    h *= 0x100000001b3ull;
  };
  for (int r = 0; r < 0x80; ++r)
    if (r < kTemperature || r > kVcc + 1) mix(lower_[r]);
  for (const auto& [number, page] : pages_) {
    mix(0xA5);
    mix(number);
    for (int r = 0x80; r <= 0xFF; ++r)
      if (number != 0x11 || r < kTxPower || r >= kConfigStatus) mix(page[r - 0x80]);
  }
  return h;
}

std::string ModuleModel::Dump(const std::vector<uint8_t>& pages) const {
  ModuleDumpImage image;
  image.lower = lower_;
  image.has_lower = true;
  for (uint8_t n : pages) {
    auto it = pages_.find(n);
    image.pages[n] = it == pages_.end() ? Page{} : it->second;
  }
  return FormatModuleDump(image);
}

std::string ModuleModel::DumpAll() const { return Dump(PageNumbers()); }

}  // namespace emu
