// The DSP mode report: what the DSP page tells the line check page about the
// signalling, rate, test pattern and board power (message 0x4D3).
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace sigtest {

struct ModeReport {
  uint8_t pattern = 0;     // pattern index (low byte of the mode word)
  uint8_t signalling = 0;  // 0 PAM4, 1 NRZ (high byte)
  uint8_t rate_code = 0;
  float power = 0;  // watts
  uint8_t resend = 0;

  // The mode word: signalling x 256 + pattern.
  uint16_t Word() const { return static_cast<uint16_t>(signalling << 8 | pattern); }
  // The 6-byte record: rate code, power as a little-endian float, resend.
  std::array<uint8_t, 6> Record() const;
  static ModeReport FromMessage(uint16_t word, const uint8_t* record /* 6 bytes */);
};

// "PAM4            25.78125 GBd            PRBS31            8.99w": the
// status-line text of a mode report. Values outside the tables show "?".
std::string ModeReportText(const ModeReport& report);

}  // namespace sigtest
