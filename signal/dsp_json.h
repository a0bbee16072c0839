// The DSP block's fields by name, as JSON: what `dsp read --json` prints and
// `dsp write FILE.json` takes. A write file may name any subset of fields;
// the rest of the block keeps what the board last gave.
#pragma once

#include <string>
#include <vector>

#include "signal/dsp_block.h"

namespace sigtest {

std::string DspToJson(const DspBlock& block);

// One value a write file sets: a field's entry, or the rate code (field null).
struct DspSetting {
  std::string path;  // as the file names it: "tx.lane3.pre", "rate"
  const DspField* field = nullptr;
  int entry = 0;
  unsigned value = 0;
  // A number the field's bits can hold but its list has no entry for (or a
  // rate code other than 4 and 5): taken only when the block holds it already.
  bool beyond_list = false;
};
using DspEdit = std::vector<DspSetting>;

// Reads a write file: JSON syntax, names, kinds of values and ranges, all
// that can be checked without the board's block. False with an error naming
// the path ("tx.lane3.pre: ...") or the place ("line 2, column 7: ...").
bool ParseDspJson(const std::string& text, DspEdit* edit, std::string* error);

// Applies the settings onto `block` (also the write marker, as WRITE does).
// A value beyond a list goes in only when it equals the block's current
// value: what `dsp read --json` printed for a value the page has no entry
// for. On failure `block` is untouched.
bool ApplyDspEdit(const DspEdit& edit, DspBlock* block, std::string* error);

// ParseDspJson, then ApplyDspEdit.
bool ApplyDspJson(const std::string& text, DspBlock* block, std::string* error);

// Paths ("tx.lane3.pre", "rate") of the fields whose values differ between
// two blocks, in the order `dsp read --json` prints them.
std::vector<std::string> DspDifferences(const DspBlock& a, const DspBlock& b);

// A list value as text: the entry's name when the list holds that name once,
// otherwise the position as a number (JSON form) or "#N" (tables).
std::string DspListValueJson(Names list, unsigned value);
std::string DspListValueText(Names list, unsigned value);

// A field's entry as the DSP page shows it, one reading for the tables and
// the JSON: a list's entry name (when the list holds it once) or position, a
// check box's state, or a number.
struct DspFieldValue {
  DspControl control;
  unsigned value;
  const char* name;  // the list entry's name; null when unnamed or not a list
};
DspFieldValue DspValueOf(const DspBlock& block, const DspField& f, int entry);
// As the tables print it: the name, "#N" for an unnamed list position,
// "yes" or "no", or the number.
std::string DspFieldText(const DspBlock& block, const DspField& f, int entry);

}  // namespace sigtest
