#include "emulator/prbs_model.h"

#include <charconv>
#include <cstring>
#include <string>
#include <vector>

#include "emulator/dsp_model.h"

namespace emu {

using Clock = std::chrono::steady_clock;

PrbsModel::PrbsModel() {
  // Most lanes clean, some with a few errors, one close to 1e-6.
  ber_ = {0.0, 2e-12, 0.0, 5e-10, 0.0, 1e-6, 3e-11, 0.0};
}

void PrbsModel::Generator(const uint8_t* payload) {
  const int lane = payload[1];
  if (lane < 1 || lane > 8 || !Serves(payload[0], lane)) return;
  std::memcpy(gen_[lane - 1].data(), payload, kGeneratorSize);
  Relock(lane);
}

void PrbsModel::Checker(const uint8_t* payload) {
  const int lane = payload[1];
  if (lane < 1 || lane > 8 || !Serves(payload[0], lane)) return;
  std::memcpy(chk_[lane - 1].data(), payload, kCheckerSize);
  // Re-enabling a running checker (Relock) restarts its count.
  was_locked_[lane - 1] = false;
  Relock(lane);
}

void PrbsModel::SetRecords(const Records& records) {
  gen_ = records.generator;
  chk_ = records.checker;
  for (int lane = 1; lane <= 8; ++lane) {
    was_locked_[lane - 1] = false;
    Relock(lane);
  }
}

void PrbsModel::SetNoSignal(int lane, bool no_signal) {
  no_signal_[lane - 1] = no_signal;
  Relock(lane);
}

void PrbsModel::SetLineInverted(int lane, bool inverted) {
  inverted_[lane - 1] = inverted;
  Relock(lane);
}

bool PrbsModel::Locked(int lane) const {
  const int i = lane - 1;
  const auto& c = chk_[i];
  const auto& g = gen_[i];
  if (!c[2] || !g[2] || no_signal_[i]) return false;
  if ((c[4] != 0) != inverted_[i]) return false;
  if (c[6] >= kPatternNone || g[6] != c[6]) return false;
  if (c[3]) return true;  // combined: the MSB pattern alone
  return c[5] < kPatternNone && g[5] == c[5];
}

void PrbsModel::Relock(int lane) {
  const int i = lane - 1;
  const bool locked = Locked(lane);
  if (locked && !was_locked_[i]) since_[i] = Clock::now();
  was_locked_[i] = locked;
}

void PrbsModel::Status(uint8_t device, uint8_t lane, const DspModel& dsp, uint8_t* out) {
  std::memset(out, 0, kStatusSize);
  out[0] = device;
  if (lane < 1 || lane > 8 || !Serves(device, lane)) return;
  const int i = lane - 1;
  Relock(lane);
  const bool signal = gen_[i][2] && !no_signal_[i];
  out[4] = signal ? gen_[i][6] : kPatternNone;
  if (!was_locked_[i]) return;
  const auto now = Clock::now();
  const double seconds = std::chrono::duration<double>(now - since_[i]).count();
  since_[i] = now;
  const uint64_t bits = static_cast<uint64_t>(dsp.LaneBitRate() * seconds);
  uint64_t errors = 0;
  if (ber_[i] > 0 && bits > 0) {
    std::poisson_distribution<uint64_t> law(ber_[i] * static_cast<double>(bits));
    errors = std::min<uint64_t>(law(rng_), std::min<uint64_t>(bits, UINT32_MAX));
  }
  const uint32_t errors32 = static_cast<uint32_t>(errors);
  out[1] = 1;
  std::memcpy(out + 7, &errors32, 4);
  std::memcpy(out + 15, &bits, 8);
  out[6] = bits > 0 && static_cast<double>(errors) / static_cast<double>(bits) > kAlarmBer ? 1 : 0;
}

bool ParseLaneBers(const std::string& text, std::array<double, 8>* out, std::string* error) {
  std::vector<double> values;
  size_t start = 0;
  for (;;) {
    const size_t comma = text.find(',', start);
    const std::string item = text.substr(start, comma == std::string::npos ? comma : comma - start);
    double v = 0;
    const auto [end, ec] = std::from_chars(item.data(), item.data() + item.size(), v);
    if (item.empty() || ec != std::errc() || end != item.data() + item.size() ||
        !(v >= 0 && v <= 1)) {
      *error = "\"" + item + "\" is not a ratio from 0 to 1";
      return false;
    }
    values.push_back(v);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (values.size() != 1 && values.size() != 8) {
    *error = "give one ratio or eight (B1,...,B8), not " + std::to_string(values.size());
    return false;
  }
  for (int i = 0; i < 8; ++i) (*out)[i] = values[values.size() == 1 ? 0 : i];
  return true;
}

}  // namespace emu
