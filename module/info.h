// The module information page's fourteen rows: identification decoded from
// pages 00h and 01h.
#pragma once

#include <string>
#include <vector>

#include "board/board_result.h"

class CSfpBase;

struct InfoRow {
  std::string label;  // as the page draws it; two rows share "Wavelength(nm)"
  std::string value;
  bool current = true;  // false: a read of this row failed, the value is not the module's
};
inline constexpr int kInfoRows = 14;

// Performs the page's reads in its order, one row after the other, through
// the module object's ReadByteAt, ReadBlockAt and ReadWordAt. A row whose
// read failed is marked not current (its text decodes zeros). Runs on the
// board worker. `result`, when given, receives the first failure.
std::vector<InfoRow> ReadInformation(CSfpBase& module, BoardResult* result = nullptr);
