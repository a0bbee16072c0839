// The board DSP's configuration block and the board power monitor.
#pragma once

#include <array>
#include <cstdint>

namespace emu {

class DspModel {
 public:
  static constexpr int kBlockSize = 193;
  using Block = std::array<uint8_t, kBlockSize>;
  DspModel();

  void Read(uint8_t offset, uint8_t* out, int count) const;
  void Write(uint8_t offset, const uint8_t* data, int count);
  void Save() { saved_ = block_; }
  void LoadDefaults();

  const Block& Current() const { return block_; }
  Block& Current() { return block_; }
  const Block& Saved() const { return saved_; }
  void SetSaved(const Block& block) { saved_ = block_ = block; }
  void SetBlocks(const Block& current, const Block& saved) {
    block_ = current;
    saved_ = saved;
  }
  // A power cycle: the DSP starts from the saved block.
  void PowerCycle() { block_ = saved_; }
  int SaveCount() const { return save_count_; }
  void CountSave() { ++save_count_; }

  // Power monitor answer: supply voltage (V) and the raw current reading.
  float Voltage() const { return voltage_; }
  float CurrentReading() const { return current_; }
  void SetPower(float volts, float current_reading) {
    voltage_ = volts;
    current_ = current_reading;
  }

  // Line rate of one lane in bits per second, from the rate code and
  // signalling of the current block (PAM4 carries two bits per symbol).
  double LaneBitRate() const;

 private:
  Block block_{};
  Block saved_{};
  int save_count_ = 0;
  float voltage_ = 3.31f;
  float current_ = 3.9f;
};

}  // namespace emu
