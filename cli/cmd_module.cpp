// Module commands: identification, diagnostics, flags, thresholds, controls
// and memory dumps, all through the module object. The commands live in
// cmd_module_*.cpp, one family a file; here are their shared helpers and
// their order in the commands table.
#include "cli/cmd_module.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <regex>

namespace cli {

size_t DisplayWidth(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

std::string Pad(const std::string& s, size_t width) {
  const size_t w = DisplayWidth(s);
  return w >= width ? s : s + std::string(width - w, ' ');
}

std::string PadLeft(const std::string& s, size_t width) {
  const size_t w = DisplayWidth(s);
  return w >= width ? s : std::string(width - w, ' ') + s;
}

void PrintTable(std::ostream& out, const std::vector<std::vector<std::string>>& rows) {
  std::vector<size_t> widths;
  for (const auto& row : rows)
    for (size_t c = 0; c < row.size(); ++c) {
      if (widths.size() <= c) widths.push_back(0);
      widths[c] = std::max(widths[c], DisplayWidth(row[c]));
    }
  for (const auto& row : rows) {
    std::string line;
    for (size_t c = 0; c < row.size(); ++c)
      line += c + 1 < row.size() ? Pad(row[c], widths[c] + 2) : row[c];
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << "\n";
  }
}

std::string Snake(std::string key) {
  std::replace(key.begin(), key.end(), '-', '_');
  return key;
}

std::string Now() { return IsoTime(std::chrono::system_clock::now()); }

std::string RegisterName(uint8_t page, uint8_t reg) {
  if (reg < 0x80) return fmt::format("lower 0x{:02X}", reg);
  return fmt::format("page {:02X}h 0x{:02X}", page, reg);
}

std::string TwoDecimals(float value) { return fmt::format("{:.2f}", value); }

std::string FixedText(double value, int decimals) {
  return fmt::format("{:.{}f}", value, decimals);
}

double Rounded(float value) {
  char buf[64];
  const auto end =
      std::to_chars(buf, buf + sizeof buf, static_cast<double>(value), std::chars_format::fixed, 2)
          .ptr;
  double out = 0;
  std::from_chars(buf, end, out);
  return out;
}

double ParseSeconds(const std::string& text, const char* option) {
  static const std::regex kDecimal(R"(\d+(\.\d*)?|\.\d+)");
  double s = 0;
  if (std::regex_match(text, kDecimal)) std::from_chars(text.data(), text.data() + text.size(), s);
  if (!(s > 0 && s <= 86400))
    throw UsageError(std::string(option) + ": \"" + text +
                     "\" is not a number of seconds above 0 and at most 86400");
  return s;
}

void RegisterModuleCommands(std::vector<Command>& table) {
  for (auto* row : {InfoCommand, DdmCommand, FlagsCommand, ThresholdsCommand, ControlsCommand,
                    MonitorCommand, SetCommand, DumpCommand})
    table.push_back(row());
}

}  // namespace cli
