// The module in the emulated board's cage: a live eight-lane 400G QSFP-DD
// CMIS module over its management memory at I2C device 0xA0 (lower memory
// and 128-byte upper pages).
//
// Live behaviour, advanced lazily from the elapsed time at every host access
// (no thread of its own):
// - module state (lower 0x03 bits 3-1): LowPwr or ForceLowPwr (lower 0x1A
//   bits 6, 4) hold ModLowPwr; released, ModPwrUp then ModReady; requested
//   again, ModPwrDn then ModLowPwr. The software reset bit (0x1A bit 3)
//   restores the power-on controls and masks, clears the flags and passes
//   through reset. Every change latches the module-state-changed flag.
// - data path state per lane (page 11h 0x80-0x83): DPDeactivated until the
//   module is ready and the lane's DataPathDeinit bit (page 10h 0x80) is
//   clear, then DPInit and DPActivated; DataPathDeinit goes DPDeinit then
//   DPDeactivated. The apply triggers of staged control sets 0 and 1 set the
//   lane's configuration status (page 11h 0xCA-0xCD): "accepted" for an
//   application code advertised in the lower-memory application table,
//   "rejected invalid code" otherwise; an accepted lane re-initialises.
//   Every change latches the lane's data-path-state-changed flag.
// - monitors move with small noise around the values found in memory; a
//   lane whose Tx is disabled or force-squelched, or not active, has its
//   laser off: no light and no bias current. Rx LOS and Rx CDR LOL latch while a lane's Rx power is
//   below its low-alarm threshold.
// - alarm and warning flags latch against the page 02h thresholds and clear
//   when read; the interrupt bit and the flag summaries follow, masks apply.
// Writes to the status area (lower 0x00-0x19) and to page 11h are ignored;
// thresholds (page 02h), controls and masks are writable.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "module/module_dump.h"

namespace emu {

class ModuleModel {
 public:
  using Page = ModulePage;
  using Clock = std::chrono::steady_clock;
  using TimeFn = std::function<Clock::time_point()>;

  // How long the transitional states last.
  static constexpr int kPowerUpMs = 500;
  static constexpr int kPowerDownMs = 200;
  static constexpr int kResetMs = 300;
  static constexpr int kDataPathInitMs = 400;
  static constexpr int kDataPathDeinitMs = 100;
  // Monitors refresh at most this often.
  static constexpr int kMonitorPeriodMs = 100;

  ModuleModel();

  // Host access through the board (register 0x00-0x7F lower, 0x80-0xFF page).
  void Read(uint8_t device, uint8_t page, uint8_t reg, uint8_t* out, int count);
  void Write(uint8_t device, uint8_t page, uint8_t reg, const uint8_t* data, int count);

  // Direct access without side effects.
  uint8_t Peek(uint8_t page, uint8_t reg) const;
  void Poke(uint8_t page, uint8_t reg, uint8_t value);
  const Page& Lower() const { return lower_; }
  bool HasPage(uint8_t page) const { return pages_.count(page) != 0; }
  std::vector<uint8_t> PageNumbers() const;

  // Restores the power-on image of a plausible 400G QSFP-DD SR8 module,
  // ready, with all eight data paths active.
  void LoadDefaults();
  // Replaces the memory with a dump ("lower" / "page XX" blocks of 8 lines
  // of 16 hex bytes, "#" comments): what the dump does not hold reads as
  // zero. On error nothing changes.
  // A loaded dump is a replay: reads return exactly the captured bytes (no
  // clear-on-read, no noise, no state changes) until the first write to the
  // module or StartLive(); the live module then carries on from the states,
  // controls and monitor values in it.
  bool LoadDump(const std::string& text, std::string* error);
  // The same with a dump parsed already.
  void LoadImage(ModuleDumpImage image);
  // Ends a replay: live behaviour starts now. A module not replaying is
  // unaffected.
  void StartLive();
  bool Replaying() const { return frozen_; }
  std::string Dump(const std::vector<uint8_t>& pages) const;
  std::string DumpAll() const;
  // The whole memory, as a dump holds it.
  ModuleDumpImage Image() const;

  // What the live module keeps beside its memory: the controls and masks it
  // takes at power-on and reset (lower 1Ah-24h, page 10h) and the values its
  // monitors move around. LoadDump takes them from the memory it loads.
  static constexpr int kControlCount = 0x25 - 0x1A;
  struct Retained {
    std::array<uint8_t, kControlCount> power_on_controls{};
    Page power_on_page10{};
    uint16_t temperature = 0, vcc = 0;
    std::array<uint16_t, 8> tx_power{}, tx_bias{}, rx_input{};
    bool operator==(const Retained&) const = default;
  };
  Retained RetainedState() const;
  void SetRetainedState(const Retained& kept);

  // The module loses its power and gets it back: controls, masks and page 10h
  // return to their power-on values, flags clear, and the module powers up
  // again from ModLowPwr as after a reset.
  void PowerCycle();

  // Changes whenever the memory changes, except the monitor readings that
  // move on their own; equal fingerprints mean nothing worth keeping changed.
  uint64_t Fingerprint() const;

  // For tests and demos.
  void SetTimeSource(TimeFn now);  // default: the steady clock
  void SetLive(bool live);         // false: plain memory, no side effects
  bool Live() const { return live_; }
  void SetNoise(bool noise);  // false: monitors sit at their values
  // The optical input of a lane's receiver, in 0.1 uW.
  void SetRxInput(int lane, uint16_t raw);
  // Writes the serial number (page 00h 166-181, space padded, cut at 16
  // characters) and keeps the page's checksum valid.
  void SetSerialNumber(const std::string& serial);
  std::string SerialNumber() const;

  // Faults of a bad module, for qualification tests; a healthy module has
  // none. They hold until cleared and survive resets and power cycles.
  struct Faults {
    // The lane's laser stays on when the host disables or squelches its
    // Tx: bias and Tx power keep their levels (the output status still
    // reports what the host asked for).
    std::array<bool, 8> tx_stuck_on{};
    // The lane's host-side input is lost: its Tx LOS flag (page 11h 0x88)
    // latches again at every access while the data path is active.
    std::array<bool, 8> tx_los{};
    // The module runs hot: its temperature reads 2 degC above the high-alarm
    // threshold, so the temperature high alarm and warning latch.
    bool temperature_high = false;
    bool operator==(const Faults&) const = default;
  };
  void SetFaults(const Faults& faults) { faults_ = faults; }
  const Faults& GetFaults() const { return faults_; }

 private:
  uint8_t& At(uint8_t page, uint8_t reg);
  Page& P(uint8_t page) { return pages_[page]; }
  Clock::time_point Now() const;
  bool FlatMemory() const { return (lower_[0x02] & 0x80) != 0; }
  // Side effects (clear-on-read, state machine, noise, latching) apply.
  bool Acting() const { return live_ && !frozen_ && !FlatMemory(); }

  // The live module.
  void Restart();  // carries on from the states and values in memory
  void TakeNominals();
  void Advance(Clock::time_point now);
  void Settle(Clock::time_point t);
  void SettleModule(Clock::time_point t);
  void SettleLane(int lane, Clock::time_point t);
  void SoftReset(Clock::time_point t);
  void ApplyStaged(int set, uint8_t lanes, Clock::time_point t);
  void UpdateMonitors(Clock::time_point t);
  void LatchFlags();
  void UpdateSummaries();
  void ClearOnRead(uint8_t page, uint8_t reg);
  bool Writable(uint8_t page, uint8_t reg) const;
  bool Advertised(int app_code) const;

  int ModuleState() const { return (lower_[0x03] >> 1) & 7; }
  void SetModuleState(int state);
  int DpState(int lane);
  void SetDpState(int lane, int state);
  bool LaneBit(uint8_t page, uint8_t reg, int lane) {
    return (P(page)[reg - 0x80] >> (lane - 1)) & 1;
  }
  bool LaneLit(int lane);
  // The laser runs: the lane lit, or a stuck laser on an active lane.
  bool LaserOn(int lane);
  double Noise(double relative);

  Page lower_{};
  std::map<uint8_t, Page> pages_;

  bool live_ = true;
  bool frozen_ = false;  // replaying a loaded dump
  bool noise_ = true;
  TimeFn time_;
  bool started_ = false;
  std::optional<Clock::time_point> module_due_;
  bool resetting_ = false;
  std::array<std::optional<Clock::time_point>, 8> lane_due_{};
  std::optional<Clock::time_point> last_monitor_;
  // Power-on controls and masks: lower 0x1A-0x24 and page 10h.
  std::array<uint8_t, kControlCount> lower_controls_{};
  Page page10_defaults_{};
  // Values the monitors move around.
  struct Nominal {
    uint16_t temperature = 0, vcc = 0;
    std::array<uint16_t, 8> tx_power{}, tx_bias{}, rx_input{};
  } nominal_;
  // Noise of the current monitor period: offsets in raw counts for the
  // module values, factors for the lanes.
  struct NoiseFactors {
    double temperature = 0, vcc = 0;
    std::array<double, 8> tx_power{}, tx_bias{}, rx_power{};
  } noise_factors_;
  std::mt19937 rng_{0x4C57};
  Faults faults_;
};

}  // namespace emu
