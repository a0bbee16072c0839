#include "signal/mode_report.h"

#include <cstdio>
#include <cstring>

#include "signal/tables.h"

namespace sigtest {

std::array<uint8_t, 6> ModeReport::Record() const {
  std::array<uint8_t, 6> r{};
  r[0] = rate_code;
  std::memcpy(&r[1], &power, 4);
  r[5] = resend;
  return r;
}

ModeReport ModeReport::FromMessage(uint16_t word, const uint8_t* record) {
  ModeReport m;
  m.pattern = static_cast<uint8_t>(word & 0xFF);
  m.signalling = static_cast<uint8_t>(word >> 8);
  m.rate_code = record[0];
  std::memcpy(&m.power, record + 1, 4);
  m.resend = record[5];
  return m;
}

std::string ModeReportText(const ModeReport& m) {
  const char* rate =
      m.signalling ? NameAt(kBitRates, m.rate_code) : NameAt(kSymbolRates, m.rate_code);
  char text[128];
  std::snprintf(text, sizeof text, "%s            %s            %s            %.2fw",
                NameAt(kModulations, m.signalling), rate, NameAt(kGeneratorPatternNames, m.pattern),
                static_cast<double>(m.power));
  return text;
}

}  // namespace sigtest
