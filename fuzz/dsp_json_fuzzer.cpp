// libFuzzer harness of the DSP JSON reader: any bytes as a `dsp write` file.
// The reader must return (true or false) without crashing, and what it takes
// must apply onto a block and print back as JSON it takes again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "signal/dsp_json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  sigtest::DspEdit edit;
  std::string error;
  if (!sigtest::ParseDspJson(text, &edit, &error)) return 0;
  sigtest::DspBlock block{};
  block[sigtest::kDspRateCode] = 4;
  if (!sigtest::ApplyDspEdit(edit, &block, &error)) return 0;
  sigtest::DspBlock again = block;
  if (!sigtest::ApplyDspJson(sigtest::DspToJson(block), &again, &error)) std::abort();
  if (again != block) std::abort();
  return 0;
}
