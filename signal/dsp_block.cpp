#include "signal/dsp_block.h"

#include <bit>

namespace sigtest {

const std::array<const char*, 4> kLutModes = {"3TAP", "BYPASS", "7TAP_LIN", "7TAP_LUT"};
const std::array<const char*, 7> kSwings = {"60p", "70p", "80p", "90p", "100p", "110p", "120p"};
#define LW_DSP_MODES                                                                               \
  "SLC1", "SLC1_LDEQ", "SLC1_RC_SLC2", "SLC1_RC_LDEQ", "DFE1", "Res", "Res", "DFE1_RC_DFE2",       \
      "SLC1_MPICAN_SLC2", "SLC1_MPICAN_LDEQ", "SLC1_RC_MPICAN_SLC2", "SLC1_RC_MPICAN_LDEQ", "Res", \
      "DFE1_MPICAN_DFE2", "Res", "DFE1_RC_MPICAN_DFE2"
const std::array<const char*, 16> kDspModes = {LW_DSP_MODES};
const std::array<const char*, 17> kDspModesRow3 = {LW_DSP_MODES, ""};
#undef LW_DSP_MODES
const std::array<const char*, 17> kAfeTrims = {"Res", "ISSE", "0dB",     "Res", "NEG_4dB", "Res",
                                               "Res", "Res",  "NEG_7dB", "Res", "Res",     "Res",
                                               "Res", "Res",  "Res",     "Res", "NEG_10dB"};
const std::array<const char*, 2> kSignallings = {"PAM", "NRZ"};
const std::array<const char*, 2> kRefClkModes = {"LOCAL", "REFLESS"};
const std::array<const char*, 9> kOpModes = {"DUPLEX_RETIMER",
                                             "DUPLEX_GEARBOX",
                                             "LINE_RETIMER",
                                             "HOST_RETIMER",
                                             "LINE_PRBS",
                                             "HOST_PRBS",
                                             "DUAL_PRBS",
                                             "LINE_PRBS_EXT_HOST_LOOPBACK",
                                             "HOST_PRBS_EXT_LINE_LOOPBACK"};
const std::array<const char*, 7> kMonclkDividers = {
    "PLR_MONCLK_DIV_RATIO_1",  "PLR_MONCLK_DIV_RATIO_4",  "PLR_MONCLK_DIV_RATIO_8",
    "PLR_MONCLK_DIV_RATIO_16", "PLR_MONCLK_DIV_RATIO_32", "PLR_MONCLK_DIV_RATIO_64",
    "PLR_MONCLK_DIV_RATIO_128"};

namespace {
const std::array<const char*, 2> kRatesPam = {"25.78125GBd", "26.5625GBd"};
const std::array<const char*, 2> kRatesNrz = {"25.78125Gbps", "26.5625Gbps"};

using S = DspSection;
using C = DspControl;
// key, label, section, control, width, mask, offset, monclk offset, step, mask, list
const DspField kFields[] = {
    {"signalling", "Signalling:", S::kGlobal, C::kList, 1, 0x01, 0, -1, 0, 0, kSignallings},
    {"ref_clk_mode", "ref_clk_mode:", S::kGlobal, C::kList, 1, 0x02, 0, -1, 0, 0, kRefClkModes},
    {"op_mode", "op_mode:", S::kGlobal, C::kList, 1, 0x3C, 0, -1, 0, 0, kOpModes},
    {"monclk0_div", "(Monclk 0) ", S::kGlobal, C::kList, 1, 0xFF, 162, -1, 0, 0, kMonclkDividers},
    {"monclk1_div", "(Monclk 1)", S::kGlobal, C::kList, 1, 0xFF, 163, -1, 0, 0, kMonclkDividers},

    {"lut_mode", "LUT Mode", S::kTx, C::kList, 1, 0x0F, 41, 137, 1, 0x0F, kLutModes},
    {"pre", "Pre", S::kTx, C::kNumber, 2, 0, 57, 139, 2, 0, {}},
    {"main", "Main", S::kTx, C::kNumber, 2, 0, 73, 143, 2, 0, {}},
    {"post", "Post", S::kTx, C::kNumber, 2, 0, 89, 147, 2, 0, {}},
    {"swing", "Swing", S::kTx, C::kList, 1, 0x0F, 49, 159, 1, 0xFF, kSwings},
    {"inner_eye", "Inner Eye", S::kTx, C::kNumber, 2, 0, 105, 151, 2, 0, {}},
    {"outer_eye", "Outer Eye", S::kTx, C::kNumber, 2, 0, 121, 155, 2, 0, {}},
    {"gray_map", "Gray Map", S::kTx, C::kCheck, 1, 0x10, 41, 137, 1, 0x10, {}},
    {"invert", "Invert", S::kTx, C::kCheck, 1, 0x20, 41, 137, 1, 0x20, {}},
    {"precoder", "Precoder", S::kTx, C::kCheck, 1, 0x80, 41, 137, 1, 0x80, {}},

    {"dsp_mode", "DSP Mode", S::kRx, C::kList, 1, 0xFF, 1, -1, 0, 0, kDspModes},
    {"ctle", "CTLE ", S::kRx, C::kNumber, 2, 0, 17, -1, 0, 0, {}},
    {"gray_map", "Gray Map", S::kRx, C::kCheck, 1, 0x01, 33, -1, 0, 0, {}},
    {"invert", "Invert", S::kRx, C::kCheck, 1, 0x04, 33, -1, 0, 0, {}},
    {"afe_trim", "AFE Trim", S::kRx, C::kList, 1, 0xFF, 9, -1, 0, 0, kAfeTrims},
    {"vga", "VGA", S::kRx, C::kCheck, 1, 0x08, 33, -1, 0, 0, {}},
    {"dfe", "DFE", S::kRx, C::kCheck, 1, 0x02, 33, -1, 0, 0, {}},
};
}  // namespace

// Block lane -> TX row: 1->"5", 2->"1", 3->"3", 4->"2", 5->"7", 6->"6", 7->"8", 8->"4".
const std::array<DspRow, kTxEntries> kTxRows = {{{"1", 1},
                                                 {"2", 3},
                                                 {"3", 2},
                                                 {"4", 7},
                                                 {"(Monclk)", 8},
                                                 {"5", 0},
                                                 {"6", 5},
                                                 {"7", 4},
                                                 {"8", 6},
                                                 {"(Monclk)", 9}}};
// RX rows follow the channel map.
const std::array<DspRow, 8> kRxRows = {
    {{"1", 6}, {"2", 0}, {"3", 3}, {"4", 2}, {"5", 4}, {"6", 7}, {"7", 5}, {"8", 1}}};

std::span<const DspField> DspFields() { return kFields; }

const DspField* FindDspField(DspSection section, const std::string& key) {
  for (const auto& f : kFields)
    if (f.section == section && key == f.key) return &f;
  return nullptr;
}

int DspEntryCount(DspSection section) {
  return section == S::kGlobal ? 1 : section == S::kTx ? kTxEntries : kLanes;
}

std::optional<DspLocation> LocateDsp(const DspField& f, int entry) {
  if (entry < 0 || entry >= DspEntryCount(f.section)) return std::nullopt;
  if (f.section == S::kTx && entry >= kTxMonclkFirst) {
    if (f.monclk_offset < 0) return std::nullopt;
    const uint8_t mask = f.width == 2 ? 0 : f.monclk_mask;
    return DspLocation{f.monclk_offset + (entry - kTxMonclkFirst) * f.monclk_step, f.width, mask};
  }
  return DspLocation{f.offset + entry * f.width, f.width, f.mask};
}

unsigned GetDsp(const DspBlock& block, const DspField& field, int entry) {
  const auto at = LocateDsp(field, entry);
  if (!at) return 0;
  if (at->width == 2) return block[at->offset] | block[at->offset + 1] << 8;
  return (block[at->offset] & at->mask) >> std::countr_zero(at->mask);
}

void SetDsp(DspBlock& block, const DspField& field, int entry, unsigned value) {
  const auto at = LocateDsp(field, entry);
  if (!at) return;
  if (at->width == 2) {
    block[at->offset] = static_cast<uint8_t>(value);
    block[at->offset + 1] = static_cast<uint8_t>(value >> 8);
    return;
  }
  const int shift = std::countr_zero(at->mask);
  block[at->offset] =
      static_cast<uint8_t>((block[at->offset] & ~at->mask) | ((value << shift) & at->mask));
}

Names DspListFor(const DspField& field, int entry) {
  // The receive "DSP Mode" list of the row "3" (block lane 4).
  if (field.section == S::kRx && std::string(field.key) == "dsp_mode" && entry == kRxRows[2].entry)
    return kDspModesRow3;
  return field.list;
}

unsigned DspMaxValue(const DspField& field, int entry) {
  switch (field.control) {
    case C::kList:
      return static_cast<unsigned>(DspListFor(field, entry).size()) - 1;
    case C::kCheck:
      return 1;
    case C::kNumber:
      return 0xFFFF;
  }
  return 0;
}

std::string DspRowName(DspSection section, int entry) {
  if (section == S::kGlobal) return "DSP";
  if (section == S::kTx && entry >= kTxMonclkFirst)
    return entry == kTxMonclkFirst ? "Line TX first (Monclk) row" : "Line TX second (Monclk) row";
  const auto rows =
      section == S::kTx ? std::span<const DspRow>(kTxRows) : std::span<const DspRow>(kRxRows);
  for (const auto& row : rows)
    if (row.entry == entry)
      return std::string(section == S::kTx ? "Line TX row " : "Line RX row ") + row.label;
  return "?";
}

Names DspRateNames(int signalling) { return signalling == 1 ? Names(kRatesNrz) : Names(kRatesPam); }

int DspRateEntry(int rate_code) { return rate_code == 5 ? 1 : 0; }

std::optional<uint16_t> ParseDspWord(const std::string& text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value > 0xFFFF) return std::nullopt;
  return static_cast<uint16_t>(value);
}

}  // namespace sigtest
