// The module in the emulated board's cage: CMIS management memory at I2C
// device 0xA0 (lower memory and 128-byte upper pages).
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace emu {

class ModuleModel {
 public:
  using Page = std::array<uint8_t, 128>;
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

  // Restores the power-on image of a plausible 400G QSFP-DD module.
  void LoadDefaults();
  // Replaces the memory with a dump ("lower" / "page XX" blocks of 8 lines
  // of 16 hex bytes, "#" comments). On error nothing changes.
  bool LoadDump(const std::string& text, std::string* error);
  std::string Dump(const std::vector<uint8_t>& pages) const;
  std::string DumpAll() const;

 private:
  uint8_t& At(uint8_t page, uint8_t reg);
  Page lower_{};
  std::map<uint8_t, Page> pages_;
};

// Parses the module dump format into lower memory and pages.
struct ModuleDumpImage {
  ModuleModel::Page lower{};
  bool has_lower = false;
  std::map<uint8_t, ModuleModel::Page> pages;
};
bool ParseModuleDump(const std::string& text, ModuleDumpImage* image, std::string* error);
std::string FormatModuleDump(const ModuleDumpImage& image, const std::string& comment = "");

}  // namespace emu
