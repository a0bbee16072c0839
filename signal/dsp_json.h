// The DSP block's fields by name, as JSON: what `dsp read --json` prints and
// `dsp write FILE.json` takes. A write file may name any subset of fields;
// the rest of the block keeps what the board last gave.
#pragma once

#include <string>

#include "signal/dsp_block.h"

namespace sigtest {

std::string DspToJson(const DspBlock& block);

// Applies the fields named in `text` to `block` (also the write marker
// when anything is applied, as WRITE does). Unknown names, values of the
// wrong kind and values out of range are errors: `block` is then untouched.
bool ApplyDspJson(const std::string& text, DspBlock* block, std::string* error);

// A list value as text: the entry's name when the list holds that name once,
// otherwise the position as a number (JSON form) or "#N" (tables).
std::string DspListValueJson(Names list, unsigned value);
std::string DspListValueText(Names list, unsigned value);

}  // namespace sigtest
