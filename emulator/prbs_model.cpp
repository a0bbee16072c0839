#include "emulator/prbs_model.h"

#include <cstring>

#include "emulator/dsp_model.h"

namespace emu {

PrbsModel::PrbsModel() {
  // Most lanes clean, some with a few errors, one close to 1e-6.
  ber_ = {0.0, 2e-12, 0.0, 5e-10, 0.0, 1e-6, 3e-11, 0.0};
}

void PrbsModel::Generator(const uint8_t* payload) {
  const int lane = payload[1];
  if (lane >= 1 && lane <= 8) std::memcpy(gen_[lane - 1].data(), payload, kGeneratorSize);
}

void PrbsModel::Checker(const uint8_t* payload) {
  const int lane = payload[1];
  if (lane < 1 || lane > 8) return;
  const bool was_running = chk_[lane - 1][2];
  std::memcpy(chk_[lane - 1].data(), payload, kCheckerSize);
  if (!was_running) has_last_[lane - 1] = false;
}

bool PrbsModel::Locked(int lane) const {
  const auto& c = chk_[lane - 1];
  const auto& g = gen_[lane - 1];
  if (!c[2] || !g[2] || no_signal_[lane - 1]) return false;
  if (c[3]) return g[6] == c[6];
  return g[5] == c[5] && g[6] == c[6];
}

void PrbsModel::Status(uint8_t device, uint8_t lane, const DspModel& dsp, uint8_t* out) {
  std::memset(out, 0, kStatusSize);
  out[0] = device;
  if (lane < 1 || lane > 8) return;
  const int i = lane - 1;
  const auto now = std::chrono::steady_clock::now();
  const bool locked = Locked(lane);
  out[1] = locked ? 1 : 0;
  out[4] = chk_[i][6];
  if (locked && has_last_[i]) {
    const double seconds = std::chrono::duration<double>(now - last_[i]).count();
    const uint64_t bits = static_cast<uint64_t>(dsp.LaneBitRate() * seconds);
    uint32_t errors = 0;
    if (ber_[i] > 0) {
      std::poisson_distribution<uint32_t> law(ber_[i] * static_cast<double>(bits));
      errors = law(rng_);
    }
    std::memcpy(out + 7, &errors, 4);
    std::memcpy(out + 15, &bits, 8);
    out[6] = ber_[i] > 1e-5 ? 1 : 0;
  }
  last_[i] = now;
  has_last_[i] = locked;
}

}  // namespace emu
