// What the module commands share: text and table helpers, and one function
// per command giving its row of the commands table. Each command family
// lives in a file of its own (cmd_module_*.cpp); cmd_module.cpp puts the
// rows in their order.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace cli {

// Columns on a terminal: UTF-8 continuation bytes take no room.
size_t DisplayWidth(const std::string& s);
std::string Pad(const std::string& s, size_t width);
std::string PadLeft(const std::string& s, size_t width);
// Prints rows of cells as aligned columns (two spaces apart), no trailing blanks.
void PrintTable(std::ostream& out, const std::vector<std::vector<std::string>>& rows);

// "tx-power-high-alarm" -> "tx_power_high_alarm"
std::string Snake(std::string key);
// Now as the timestamps are written (IsoTime).
std::string Now();
// "lower 0x1A", "page 10h 0x82".
std::string RegisterName(uint8_t page, uint8_t reg);
// "%.2f", as the pages show values.
std::string TwoDecimals(float value);
// `value` with `decimals` decimals.
std::string FixedText(double value, int decimals);
// The value as the pages show it (two decimals), as a JSON number.
double Rounded(float value);
// Seconds as "2", "0.5" or ".5": more than 0, at most a day.
double ParseSeconds(const std::string& text, const char* option = "--watch");

template <typename T>
Json OrNull(const std::optional<T>& v) {
  return v ? Json(*v) : Json(nullptr);
}

// The rows of the module commands.
Command InfoCommand();        // cmd_module_info.cpp
Command DdmCommand();         // cmd_module_ddm.cpp
Command ThresholdsCommand();  // cmd_module_ddm.cpp
Command FlagsCommand();       // cmd_module_flags.cpp
Command MonitorCommand();     // cmd_module_flags.cpp
Command ControlsCommand();    // cmd_module_controls.cpp
Command SetCommand();         // cmd_module_controls.cpp
Command DumpCommand();        // cmd_module_dump.cpp

}  // namespace cli
