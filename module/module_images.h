// The module object's copies of module memory: the lower memory, page 10h and
// page 11h images and the raw monitor cache. Refresh operations fill them;
// pages and the command-line tool read a ModuleImages snapshot, a plain copy
// that never changes under them.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>

// Flag kinds, the argument of the flag and mask operations.
enum FlagKind : int { kLowWarning = 0, kHighWarning = 1, kLowAlarm = 2, kHighAlarm = 3 };
inline constexpr int kFlagKinds = 4;
inline constexpr int kLanes = 8;

// Raw monitor words, host order. Lane arrays have room for 16 lanes; lanes
// 1-8 sit at index 0-7, the rest stay 0.
struct RawMonitors {
  uint16_t temperature = 0;             // signed, 1/256 degC
  uint16_t vcc = 0;                     // 100 uV
  std::array<uint16_t, 16> rx_power{};  // 0.1 uW
  std::array<uint16_t, 16> tx_bias{};   // 2 uA
  std::array<uint16_t, 16> tx_power{};  // 0.1 uW
};

struct ModuleImages {
  using Page = std::array<uint8_t, 128>;
  Page lower{};   // registers 0x00-0x7F, index = register
  Page page10{};  // page 10h registers 0x80-0xFF, index = register - 0x80
  Page page11{};  // page 11h registers 0x80-0xFF, index = register - 0x80
  RawMonitors monitors;

  // Which bytes hold what the module gave at the latest read of them. A
  // byte never read, or whose latest read failed, keeps what it held before
  // (zero at first) and is not current: views show it as stale, never as a
  // reading.
  std::bitset<128> lower_current, page10_current, page11_current;
  bool monitors_current = false;

  bool Current(uint8_t page, uint8_t reg) const {
    if (reg < 0x80) return lower_current[reg];
    if (page == 0x10) return page10_current[reg - 0x80];
    if (page == 0x11) return page11_current[reg - 0x80];
    return false;
  }
  // True when every byte of the run [reg, reg + length) is current.
  bool Current(uint8_t page, uint8_t reg, int length) const {
    for (int i = 0; i < length; ++i)
      if (!Current(page, static_cast<uint8_t>(reg + i))) return false;
    return true;
  }
  void SetCurrent(uint8_t page, uint8_t reg, bool current) {
    if (reg < 0x80) lower_current[reg] = current;
    else if (page == 0x10) page10_current[reg - 0x80] = current;
    else if (page == 0x11) page11_current[reg - 0x80] = current;
  }

  // The image byte of a register: lower memory for 0x00-0x7F (any page),
  // page 10h or 11h above; 0 for pages without an image.
  uint8_t Byte(uint8_t page, uint8_t reg) const {
    if (reg < 0x80) return lower[reg];
    if (page == 0x10) return page10[reg - 0x80];
    if (page == 0x11) return page11[reg - 0x80];
    return 0;
  }
  // The image byte to fill for a register, or null without an image.
  uint8_t* Slot(uint8_t page, uint8_t reg) {
    if (reg < 0x80) return &lower[reg];
    if (page == 0x10) return &page10[reg - 0x80];
    if (page == 0x11) return &page11[reg - 0x80];
    return nullptr;
  }
};
