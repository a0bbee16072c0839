// The DSP's PRBS generators and checkers, one of each per lane.
//
// A running checker locks when its lane has a signal and the lane's
// generator runs the same pattern: the MSB pattern in combined mode, both
// MSB and LSB patterns in MSB/LSB mode; NONE never locks, and the checker's
// invert must match the line's polarity. Each status request reports the bits
// that passed since the lane's previous request (or since it locked): line
// rate (from the DSP block) x elapsed time, with errors drawn from a Poisson
// law at the lane's bit-error ratio.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <random>
#include <string>

namespace emu {

class DspModel;

class PrbsModel {
 public:
  static constexpr int kGeneratorSize = 26;
  static constexpr int kCheckerSize = 23;
  static constexpr int kStatusSize = 25;
  static constexpr uint8_t kPatternNone = 10;
  // A checking interval whose error ratio exceeds this raises the alarm byte.
  static constexpr double kAlarmBer = 1e-5;

  PrbsModel();

  // Records of commands 0x12 and 0x13. A record whose device byte does not
  // serve its lane (0 for lanes 1-4, 1 for 5-8) addresses nothing and is ignored.
  void Generator(const uint8_t* payload);
  void Checker(const uint8_t* payload);
  // command 0x14: fills the 25-byte status of the lane.
  void Status(uint8_t device, uint8_t lane, const DspModel& dsp, uint8_t* out);

  // The records last written, per lane (all zero at power-on: nothing runs).
  struct Records {
    std::array<std::array<uint8_t, kGeneratorSize>, 8> generator{};
    std::array<std::array<uint8_t, kCheckerSize>, 8> checker{};
    bool operator==(const Records&) const = default;
  };
  Records AllRecords() const { return {gen_, chk_}; }
  // Takes the records as they stand (a restored board; {} for a power cycle).
  void SetRecords(const Records& records);

  const std::array<uint8_t, kGeneratorSize>& GeneratorRecord(int lane) const {
    return gen_[lane - 1];
  }
  const std::array<uint8_t, kCheckerSize>& CheckerRecord(int lane) const { return chk_[lane - 1]; }

  // Emulator control, lanes 1-8: the lane's bit-error ratio, "no signal"
  // (never locks), and a swapped polarity (locks only with invert set).
  void SetLaneBer(int lane, double ber) { ber_[lane - 1] = ber; }
  double LaneBer(int lane) const { return ber_[lane - 1]; }
  void SetNoSignal(int lane, bool no_signal);
  void SetLineInverted(int lane, bool inverted);
  bool Locked(int lane) const;
  // Seeds the error draws (tests).
  void Seed(uint64_t seed) { rng_.seed(seed); }

 private:
  static bool Serves(uint8_t device, int lane) { return device == (lane >= 5 ? 1 : 0); }
  void Relock(int lane);

  std::array<std::array<uint8_t, kGeneratorSize>, 8> gen_{};
  std::array<std::array<uint8_t, kCheckerSize>, 8> chk_{};
  std::array<double, 8> ber_{};
  std::array<bool, 8> no_signal_{};
  std::array<bool, 8> inverted_{};
  std::array<bool, 8> was_locked_{};
  std::array<std::chrono::steady_clock::time_point, 8> since_{};  // counting from
  std::mt19937_64 rng_{0x4C57};
};

// The lanes' error ratios as the --emulate-ber option gives them: one ratio
// for every lane, or eight separated by commas (DSP lanes 1-8), each from 0
// to 1. False, with the reason, for anything else.
bool ParseLaneBers(const std::string& text, std::array<double, 8>* out, std::string* error);

}  // namespace emu
