// Name tables and lane maps of the signal test. The GUI and the CLI print
// from these, so their texts always agree.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace sigtest {

constexpr int kLanes = 8;

using Names = std::span<const char* const>;

// The entry at `index`, or "?" for an index outside the table.
const char* NameAt(Names table, int index);
// Position of `name` in the table, or -1 (exact match).
int IndexOf(Names table, const std::string& name);

// Pattern index 0-10.
constexpr uint8_t kPatternPrbs31 = 8;
constexpr uint8_t kPatternNone = 10;
extern const std::array<const char*, 11> kCheckerPatternNames;    // "PRBS7" ... "PPRBS58", "NONE"
extern const std::array<const char*, 11> kGeneratorPatternNames;  // "PRBS7" ... "PRBS58", "NONE"
extern const std::array<const char*, 11> kPatternListNames;       // "PLR_PAT_PRBS7" ...

// Rate code 0-5 and the signalling byte (0 PAM4, 1 NRZ).
extern const std::array<const char*, 6> kSymbolRates;  // "2.5 GBd" ...
extern const std::array<const char*, 6> kBitRates;     // "2.5 Gbps" ...
extern const std::array<double, 6> kRateGiga;          // 2.5, 10.3125 ...
extern const std::array<const char*, 2> kModulations;  // "PAM4", "NRZ"

// Reference clock selector of the line check page (command 0).
extern const std::array<const char*, 3> kReferenceClocks;
constexpr int kDefaultReferenceClock = 1;

// DSP lane 1-8 <-> "Channel N" of the line check page, the charts and the
// receive rows of the DSP page.
constexpr std::array<int, kLanes> kChannelOfLane = {2, 8, 4, 3, 5, 7, 1, 6};
int ChannelOfLane(int lane);
int LaneOfChannel(int channel);
// Device byte of a DSP lane: 0 for lanes 1-4, 1 for lanes 5-8.
constexpr uint8_t DeviceOfLane(int lane) { return lane >= 5 ? 1 : 0; }

// The BER charts, in chart order (CH1 ... CH8).
struct ChartInfo {
  const char* title;
  int lane;         // DSP lane plotted
  uint32_t colour;  // 0x00BBGGRR
  int Red() const { return colour & 0xFF; }
  int Green() const { return (colour >> 8) & 0xFF; }
  int Blue() const { return (colour >> 16) & 0xFF; }
};
extern const std::array<ChartInfo, kLanes> kCharts;

// Accepts "PRBS31", "prbs31", "PLR_PAT_PRBS31", "PPRBS58" or "8"; -1 if none.
int ParsePatternName(const std::string& text);

}  // namespace sigtest
