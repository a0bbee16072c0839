// The board's command set: report layout, command codes and chunking.
#pragma once

#include <cstdint>

namespace board {

constexpr int kReportSize = 65;
constexpr uint8_t kSync = 0xAA;

enum Command : uint8_t {
  kClockSelect = 0x00,
  kModuleWrite = 0x06,
  kModuleRead = 0x07,
  kPowerRead = 0x0A,
  kDspSave = 0x0D,
  kDspWrite = 0x10,
  kDspRead = 0x11,
  kGeneratorConfig = 0x12,
  kCheckerConfig = 0x13,
  kCheckerStatus = 0x14,
  kMailboxWrite = 0x15,
  kMailboxRead = 0x16,
};

// Payload chunk per report: 32 for module register writes, 50 otherwise.
constexpr int ChunkSize(uint8_t code) { return code == kModuleWrite ? 32 : 50; }

// Number of reports needed for `length` bytes in chunks of `chunk`.
constexpr int ReportCount(int length, int chunk) {
  return length / chunk + (length % chunk ? 1 : 0);
}
// Byte count carried by report `i` of `length` bytes.
constexpr int ReportLength(int length, int chunk, int i) {
  int full = length / chunk;
  return i < full ? chunk : length % chunk;
}

inline bool PassesHeaderTest(const uint8_t* answer, uint8_t code) {
  return answer[0] == 0 && answer[1] == kSync && answer[2] == kSync && answer[3] == code;
}

}  // namespace board
