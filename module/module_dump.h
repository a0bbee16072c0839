// The module dump format: lower memory and upper pages as text, one block a
// part ("lower", "page 1a"), eight lines of sixteen hex bytes each; lines
// starting with # are comments. `lanewright-cli dump` writes it, the emulated
// module loads it (--emulate-module) and the emulator's state file holds the
// module's memory in it.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>

// 128 bytes: lower memory (registers 0x00-0x7F) or an upper page (0x80-0xFF).
using ModulePage = std::array<uint8_t, 128>;

struct ModuleDumpImage {
  ModulePage lower{};
  bool has_lower = false;
  std::map<uint8_t, ModulePage> pages;
};

// Parses the module dump format into lower memory and pages. Errors read
// "line N: why"; `first_line` numbers the text's first line (a dump inside a
// larger file).
bool ParseModuleDump(const std::string& text, ModuleDumpImage* image, std::string* error,
                     int first_line = 1);
std::string FormatModuleDump(const ModuleDumpImage& image, const std::string& comment = "");
