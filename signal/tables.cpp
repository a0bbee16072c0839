#include "signal/tables.h"

#include <algorithm>
#include <cctype>

namespace sigtest {

const std::array<const char*, 11> kCheckerPatternNames = {"PRBS7",  "PRBS9_4", "PRBS9_5", "PRBS11",
                                                          "PRBS13", "PRBS15",  "PRBS16",  "PRBS23",
                                                          "PRBS31", "PPRBS58", "NONE"};
const std::array<const char*, 11> kGeneratorPatternNames = {
    "PRBS7",  "PRBS9_4", "PRBS9_5", "PRBS11", "PRBS13", "PRBS15",
    "PRBS16", "PRBS23",  "PRBS31",  "PRBS58", "NONE"};
const std::array<const char*, 11> kPatternListNames = {
    "PLR_PAT_PRBS7",  "PLR_PAT_PRBS9_4", "PLR_PAT_PRBS9_5", "PLR_PAT_PRBS11",
    "PLR_PAT_PRBS13", "PLR_PAT_PRBS15",  "PLR_PAT_PRBS16",  "PLR_PAT_PRBS23",
    "PLR_PAT_PRBS31", "PLR_PAT_PRBS58",  "PLR_PAT_NONE"};

const std::array<const char*, 6> kSymbolRates = {"2.5 GBd", "10.3125 GBd",  "20.625 GBd",
                                                 "25 GBd",  "25.78125 GBd", "26.5625 GBd"};
const std::array<const char*, 6> kBitRates = {"2.5 Gbps", "10.3125 Gbps",  "20.625 Gbps",
                                              "25 Gbps",  "25.78125 Gbps", "26.5625 Gbps"};
const std::array<double, 6> kRateGiga = {2.5, 10.3125, 20.625, 25, 25.78125, 26.5625};
const std::array<const char*, 2> kModulations = {"PAM4", "NRZ"};

const std::array<const char*, 3> kReferenceClocks = {"66.405M", "156.25M", "322.2656"};

const std::array<ChartInfo, kLanes> kCharts = {{
    {"CH1 PRE-FEC BER", 7, 0xF56000},
    {"CH2 PRE-FEC BER", 1, 0x000000},
    {"CH3 PRE-FEC BER", 4, 0x3F7133},
    {"CH4 PRE-FEC BER", 3, 0xF29315},
    {"CH5 PRE-FEC BER", 5, 0x00E8E8},
    {"CH6 PRE-FEC BER", 8, 0xFF00F5},
    {"CH7 PRE-FEC BER", 6, 0xFF0080},
    {"CH8 PRE-FEC BER", 2, 0x0000FF},
}};

const char* NameAt(Names table, int index) {
  return index >= 0 && index < static_cast<int>(table.size()) ? table[index] : "?";
}

int IndexOf(Names table, const std::string& name) {
  for (size_t i = 0; i < table.size(); ++i)
    if (name == table[i]) return static_cast<int>(i);
  return -1;
}

int ChannelOfLane(int lane) { return lane >= 1 && lane <= kLanes ? kChannelOfLane[lane - 1] : 0; }

int LaneOfChannel(int channel) {
  for (int lane = 1; lane <= kLanes; ++lane)
    if (kChannelOfLane[lane - 1] == channel) return lane;
  return 0;
}

int ParsePatternName(const std::string& text) {
  std::string upper;
  for (char c : text) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (!upper.empty() && std::all_of(upper.begin(), upper.end(), ::isdigit)) {
    const int index = upper.size() <= 2 ? std::stoi(upper) : -1;
    return index >= 0 && index < 11 ? index : -1;
  }
  if (upper.rfind("PLR_PAT_", 0) == 0) upper = upper.substr(8);
  int index = IndexOf(kGeneratorPatternNames, upper);
  if (index < 0) index = IndexOf(kCheckerPatternNames, upper);
  return index;
}

}  // namespace sigtest
