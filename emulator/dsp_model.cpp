#include "emulator/dsp_model.h"

#include <algorithm>
#include <cstring>

namespace emu {

DspModel::DspModel() { LoadDefaults(); }

void DspModel::LoadDefaults() {
  block_.fill(0);
  block_[0] = 0x00 | (6 << 2);  // PAM4, local reference clock, DUAL_PRBS
  for (int lane = 0; lane < 8; ++lane) {
    block_[1 + lane] = 0;              // receive DSP mode SLC1
    block_[9 + lane] = 2;              // AFE trim 0dB
    block_[17 + 2 * lane] = 12;        // CTLE
    block_[33 + lane] = 0x02 | 0x08;   // DFE, VGA
    block_[41 + lane] = 0x00;          // LUT 3TAP
    block_[49 + lane] = 4;             // swing 100p
    block_[57 + 2 * lane] = 0;         // pre
    block_[73 + 2 * lane] = 168;       // main
    block_[89 + 2 * lane] = 0;         // post
    block_[105 + 2 * lane] = 100;      // inner eye
    block_[121 + 2 * lane] = 300 & 0xFF;  // outer eye
    block_[122 + 2 * lane] = 300 >> 8;
  }
  block_[164] = 4;  // 25.78125 GBd
  saved_ = block_;
}

void DspModel::Read(uint8_t offset, uint8_t* out, int count) const {
  for (int i = 0; i < count; ++i) out[i] = offset + i < kBlockSize ? block_[offset + i] : 0;
}

void DspModel::Write(uint8_t offset, const uint8_t* data, int count) {
  for (int i = 0; i < count; ++i)
    if (offset + i < kBlockSize) block_[offset + i] = data[i];
}

double DspModel::LaneBitRate() const {
  static const double kRates[] = {2.5e9, 10.3125e9, 20.625e9, 25e9, 25.78125e9, 26.5625e9};
  const int code = block_[164];
  const double symbols = code < 6 ? kRates[code] : kRates[4];
  const bool nrz = block_[0] & 1;
  return nrz ? symbols : 2 * symbols;
}

}  // namespace emu
