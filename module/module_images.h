// The module object's copies of module memory: the lower memory, the upper
// pages 00h, 01h, 02h, 10h, 11h and 12h, and the raw monitor cache. Refresh
// operations fill them; pages and the command-line tool read a ModuleImages
// snapshot, a plain copy that never changes under them.
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
  std::array<uint16_t, 16> tx_bias{};   // 2 uA times the advertised bias multiplier
  std::array<uint16_t, 16> tx_power{};  // 0.1 uW
  // Aux 1, Aux 2, Aux 3 and the custom monitor (lower 0x12-0x19), read when
  // the module implements any of them; their units depend on their type.
  std::array<uint16_t, 4> aux{};
};

struct ModuleImages {
  using Page = std::array<uint8_t, 128>;
  using Marks = std::bitset<128>;
  Page lower{};   // registers 0x00-0x7F, index = register
  Page page10{};  // page 10h registers 0x80-0xFF, index = register - 0x80
  Page page11{};  // page 11h registers 0x80-0xFF, index = register - 0x80
  // Identification, advertisement and thresholds (read once per module),
  // and the tuning page of a tunable module.
  Page page00{}, page01{}, page02{}, page12{};
  RawMonitors monitors;

  // Which bytes hold what the module gave at the latest read of them. A
  // byte never read, or whose latest read failed, keeps what it held before
  // (zero at first) and is not current: views show it as stale, never as a
  // reading.
  Marks lower_current, page10_current, page11_current;
  Marks page00_current, page01_current, page02_current, page12_current;
  bool monitors_current = false;

  // True for the pages that have an image here.
  static constexpr bool HasImage(uint8_t page) {
    return page == 0x00 || page == 0x01 || page == 0x02 || page == 0x10 || page == 0x11 ||
           page == 0x12;
  }

  bool Current(uint8_t page, uint8_t reg) const {
    if (reg < 0x80) return lower_current[reg];
    const Marks* marks = UpperMarks(page);
    return marks && (*marks)[reg - 0x80];
  }
  // True when every byte of the run [reg, reg + length) is current.
  bool Current(uint8_t page, uint8_t reg, int length) const {
    for (int i = 0; i < length; ++i)
      if (!Current(page, static_cast<uint8_t>(reg + i))) return false;
    return true;
  }
  void SetCurrent(uint8_t page, uint8_t reg, bool current) {
    if (reg < 0x80) {
      lower_current[reg] = current;
    } else if (Marks* marks = UpperMarks(page)) {
      (*marks)[reg - 0x80] = current;
    }
  }

  // The image byte of a register: lower memory for 0x00-0x7F (any page),
  // the page's image above; 0 for pages without an image.
  uint8_t Byte(uint8_t page, uint8_t reg) const {
    if (reg < 0x80) return lower[reg];
    const Page* p = UpperPage(page);
    return p ? (*p)[reg - 0x80] : 0;
  }
  // A big-endian u16 of two image bytes.
  uint16_t Word(uint8_t page, uint8_t reg) const {
    return static_cast<uint16_t>(Byte(page, reg) << 8 | Byte(page, static_cast<uint8_t>(reg + 1)));
  }
  // The image byte to fill for a register, or null without an image.
  uint8_t* Slot(uint8_t page, uint8_t reg) {
    if (reg < 0x80) return &lower[reg];
    Page* p = UpperPage(page);
    return p ? &(*p)[reg - 0x80] : nullptr;
  }

 private:
  const Page* UpperPage(uint8_t page) const {
    switch (page) {
      case 0x00:
        return &page00;
      case 0x01:
        return &page01;
      case 0x02:
        return &page02;
      case 0x10:
        return &page10;
      case 0x11:
        return &page11;
      case 0x12:
        return &page12;
    }
    return nullptr;
  }
  Page* UpperPage(uint8_t page) {
    return const_cast<Page*>(static_cast<const ModuleImages*>(this)->UpperPage(page));
  }
  const Marks* UpperMarks(uint8_t page) const {
    switch (page) {
      case 0x00:
        return &page00_current;
      case 0x01:
        return &page01_current;
      case 0x02:
        return &page02_current;
      case 0x10:
        return &page10_current;
      case 0x11:
        return &page11_current;
      case 0x12:
        return &page12_current;
    }
    return nullptr;
  }
  Marks* UpperMarks(uint8_t page) {
    return const_cast<Marks*>(static_cast<const ModuleImages*>(this)->UpperMarks(page));
  }
};
