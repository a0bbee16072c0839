// The DSP's PRBS generators and checkers, one of each per lane.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <random>

namespace emu {

class DspModel;

class PrbsModel {
 public:
  static constexpr int kGeneratorSize = 26;
  static constexpr int kCheckerSize = 23;
  static constexpr int kStatusSize = 25;
  PrbsModel();

  void Generator(const uint8_t* payload);  // command 0x12 payload
  void Checker(const uint8_t* payload);    // command 0x13 payload
  // command 0x14: fills the 25-byte status of the lane.
  void Status(uint8_t device, uint8_t lane, const DspModel& dsp, uint8_t* out);

  const std::array<uint8_t, kGeneratorSize>& GeneratorRecord(int lane) const { return gen_[lane - 1]; }
  const std::array<uint8_t, kCheckerSize>& CheckerRecord(int lane) const { return chk_[lane - 1]; }

  // Emulator control: a lane's bit-error ratio, and "no signal" (never locks).
  void SetLaneBer(int lane, double ber) { ber_[lane - 1] = ber; }
  double LaneBer(int lane) const { return ber_[lane - 1]; }
  void SetNoSignal(int lane, bool no_signal) { no_signal_[lane - 1] = no_signal; }
  bool Locked(int lane) const;

 private:
  std::array<std::array<uint8_t, kGeneratorSize>, 8> gen_{};
  std::array<std::array<uint8_t, kCheckerSize>, 8> chk_{};
  std::array<double, 8> ber_{};
  std::array<bool, 8> no_signal_{};
  std::array<std::chrono::steady_clock::time_point, 8> last_{};
  std::array<bool, 8> has_last_{};
  std::mt19937_64 rng_{0x4C57};
};

}  // namespace emu
