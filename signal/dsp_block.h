// The board DSP's 193-byte configuration block as a table of fields: where
// each field sits, which bits it owns, and the list it shows. Reading and
// writing a field keeps every bit it does not own. The DSP page, the CLI's
// `dsp` commands and the JSON form all go through this table.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "signal/tables.h"

namespace sigtest {

constexpr int kDspBlockSize = 193;
using DspBlock = std::array<uint8_t, kDspBlockSize>;

constexpr int kDspWriteMarker = 161;
constexpr int kDspRateCode = 164;

enum class DspSection { kGlobal, kTx, kRx };
enum class DspControl { kList, kCheck, kNumber };

// Entries of a section: global 1; TX 10 (block lanes 1-8, then the two
// monitor-clock rows); RX 8 (block lanes 1-8).
constexpr int kTxEntries = 10;
constexpr int kTxMonclkFirst = 8;

struct DspField {
  const char* key;    // JSON name, e.g. "pre"
  const char* label;  // the control's caption, e.g. "Pre"
  DspSection section;
  DspControl control;
  int width;          // 1: bits of a byte; 2: unsigned 16-bit little-endian
  uint8_t mask;       // width 1: the bits this field owns
  int offset;         // block lane 1 (entry 0); lanes follow at `width` steps
  int monclk_offset;  // TX only: first monitor-clock row, -1 when none
  int monclk_step;
  uint8_t monclk_mask;
  Names list;  // list entries (position = value)
};

// All fields, in the order the page lays out their controls.
std::span<const DspField> DspFields();
const DspField* FindDspField(DspSection section, const std::string& key);
int DspEntryCount(DspSection section);

// Block offset and mask of a field's entry; nullopt for an entry outside
// the field's section.
struct DspLocation {
  int offset;
  int width;
  uint8_t mask;
};
std::optional<DspLocation> LocateDsp(const DspField& field, int entry);

// The value of a field's entry (bits shifted down), and the merge back.
unsigned GetDsp(const DspBlock& block, const DspField& field, int entry);
void SetDsp(DspBlock& block, const DspField& field, int entry, unsigned value);
// The list of a field's entry ("DSP Mode" of the row "3" carries a 17th,
// blank entry).
Names DspListFor(const DspField& field, int entry);
// Largest value the control can hold.
unsigned DspMaxValue(const DspField& field, int entry);

// Screen rows. TX: "1" "2" "3" "4" "(Monclk)" "5" "6" "7" "8" "(Monclk)";
// RX: "1" to "8".
struct DspRow {
  const char* label;
  int entry;
};
extern const std::array<DspRow, kTxEntries> kTxRows;
extern const std::array<DspRow, 8> kRxRows;
// "Line TX row 5", "Line TX first (Monclk) row", "Line RX row 2": names a
// control in messages.
std::string DspRowName(DspSection section, int entry);

// The "Rate:" list for a signalling (0 PAM, 1 NRZ), and the rate code of a
// list position (4 + position).
Names DspRateNames(int signalling);
int DspRateEntry(int rate_code);  // 0 for code 4, 1 for 5, else 0

// Lists of the page.
extern const std::array<const char*, 4> kLutModes;
extern const std::array<const char*, 7> kSwings;
extern const std::array<const char*, 16> kDspModes;
extern const std::array<const char*, 17> kDspModesRow3;
extern const std::array<const char*, 17> kAfeTrims;
extern const std::array<const char*, 2> kSignallings;
extern const std::array<const char*, 2> kRefClkModes;
extern const std::array<const char*, 9> kOpModes;
extern const std::array<const char*, 7> kMonclkDividers;

// A sixteen-bit field's text: decimal digits only, 0-65535.
std::optional<uint16_t> ParseDspWord(const std::string& text);

}  // namespace sigtest
