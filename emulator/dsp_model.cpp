#include "emulator/dsp_model.h"

#include <algorithm>
#include <cstring>

namespace emu {

DspModel::DspModel() { LoadDefaults(); }

void DspModel::LoadDefaults() {
  block_.fill(0);
  block_[0] = 0x00 | (6 << 2);  // PAM4, local reference clock, DUAL_PRBS
  for (int lane = 0; lane < 8; ++lane) {
    block_[1 + lane] = 0;                                          // receive DSP mode SLC1
    block_[9 + lane] = 2;                                          // AFE trim 0dB
    block_[17 + 2 * lane] = static_cast<uint8_t>(10 + lane);       // CTLE
    block_[33 + lane] = 0x02 | 0x08;                               // DFE, VGA
    block_[41 + lane] = 0x00;                                      // LUT 3TAP
    block_[49 + lane] = 4;                                         // swing 100p
    block_[57 + 2 * lane] = static_cast<uint8_t>(lane % 3);        // pre
    block_[73 + 2 * lane] = static_cast<uint8_t>(160 + 2 * lane);  // main
    block_[89 + 2 * lane] = static_cast<uint8_t>(4 + lane);        // post
    block_[105 + 2 * lane] = 100;                                  // inner eye
    block_[121 + 2 * lane] = 300 & 0xFF;                           // outer eye
    block_[122 + 2 * lane] = 300 >> 8;
  }
  for (int row = 0; row < 2; ++row) {    // the two monitor-clock outputs
    block_[137 + row] = 0x01;            // LUT BYPASS
    block_[143 + 2 * row] = 168;         // main
    block_[151 + 2 * row] = 100;         // inner eye
    block_[155 + 2 * row] = 300 & 0xFF;  // outer eye
    block_[156 + 2 * row] = 300 >> 8;
    block_[159 + row] = 4;  // swing 100p
  }
  block_[162] = 3;  // monitor clock 0: divide by 16
  block_[163] = 3;
  block_[164] = 4;  // 25.78125 GBd
  // Bytes 165-192 belong to the firmware: a version tag and calibration.
  static const char kTag[] = "LWDSP-FW 2.4.1";
  std::memcpy(&block_[165], kTag, sizeof kTag - 1);
  for (int i = 165 + sizeof kTag - 1; i < kBlockSize; ++i)
    block_[i] = static_cast<uint8_t>(0x40 + i);
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
