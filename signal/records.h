// The PRBS payload records: checker and generator configuration (commands
// 19 and 18) and the checker status answer (command 20). Byte positions are
// named here once; everything else reads and writes through them.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

namespace sigtest {

using CheckerRecord = std::array<uint8_t, 23>;
using GeneratorRecord = std::array<uint8_t, 26>;
using StatusRecord = std::array<uint8_t, 25>;

namespace checker {
enum : int {
  kDevice = 0,
  kLane = 1,
  kRun = 2,
  kCombined = 3,
  kInvert = 4,
  kLsbPattern = 5,
  kMsbPattern = 6,
  kAuto = 8,
  kErrorThreshold = 9,
  kCycleThreshold = 10,
  kFill = 14,  // four 16-bit words 0x3333
  kFillEnd = 22,
  kTwo = 22,  // always 2 once stored
};
}  // namespace checker

namespace generator {
enum : int {
  kDevice = 0,
  kLane = 1,
  kOn = 2,
  kSplit = 3,
  kCombined = 4,
  kLsbPattern = 5,
  kMsbPattern = 6,
  kTail = 7,  // bytes 7-25: 0, eight words 0x3333, 1, 0
  kFill = 8,
  kFillEnd = 24,
  kOne = 24,
};
}  // namespace generator

namespace status {
enum : int { kLock = 1, kPattern = 4, kAlarm = 6, kErrors = 7, kBits = 15 };
}  // namespace status

// Lane 1's generator tail: byte 7 zero, bytes 8-23 0x33, byte 24 one, 25 zero.
inline void SetGeneratorTail(GeneratorRecord& r) {
  r[generator::kTail] = 0;
  std::memset(&r[generator::kFill], 0x33, generator::kFillEnd - generator::kFill);
  r[generator::kOne] = 1;
  r[25] = 0;
}

inline uint32_t StatusErrors(const StatusRecord& s) {
  uint32_t v;
  std::memcpy(&v, &s[status::kErrors], 4);  // little-endian board payload
  return v;
}
inline uint64_t StatusBits(const StatusRecord& s) {
  uint64_t v;
  std::memcpy(&v, &s[status::kBits], 8);
  return v;
}

}  // namespace sigtest
