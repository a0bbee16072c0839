// The module information page's fourteen rows: identification decoded from
// pages 00h and 01h.
#pragma once

#include <string>
#include <vector>

class CSfpBase;

struct InfoRow {
  std::string label;  // as the page draws it; two rows share "Wavelength(nm)"
  std::string value;
};
inline constexpr int kInfoRows = 14;

// Performs the page's reads in its order, one row after the other, through
// the module object's ReadByteAt, ReadBlockAt and ReadWordAt. A failed read
// shows as zeros (an empty text, class 1, "Unknown or unspecified", ...).
// Runs on the board worker. `all_read`, when given, tells whether every
// read went through.
std::vector<InfoRow> ReadInformation(CSfpBase& module, bool* all_read = nullptr);
