#include "emulator/emulated_rack.h"

#include <algorithm>
#include <stdexcept>

namespace emu {

EmulatedRack::EmulatedRack(int count, std::shared_ptr<EmulatedBoard> first) {
  if (count < 1 || count > kMaxBoards)
    throw std::invalid_argument("EmulatedRack: 1 to " + std::to_string(kMaxBoards) + " boards");
  for (int i = 0; i < count; ++i) {
    if (i == 0 && first) {
      boards_.push_back(std::move(first));
      continue;
    }
    BoardIdentity identity;
    identity.path = PathOf(i);
    boards_.push_back(std::make_shared<EmulatedBoard>(identity));
  }
  NumberModules();
}

void EmulatedRack::NumberModules() {
  if (boards_.size() < 2) return;
  for (size_t i = 0; i < boards_.size(); ++i) {
    auto lock = boards_[i]->Lock();
    ModuleModel& module = boards_[i]->Module();
    const std::string suffix = "-" + std::to_string(i + 1);
    std::string serial = module.SerialNumber();
    serial = serial.substr(0, std::min(serial.size(), 16 - suffix.size())) + suffix;
    module.SetSerialNumber(serial);
  }
}

std::vector<HidDeviceInfo> EmulatedRack::Enumerate() {
  std::vector<HidDeviceInfo> out;
  for (const auto& board : boards_) {
    auto devices = board->Enumerate();
    out.insert(out.end(), devices.begin(), devices.end());
  }
  return out;
}

std::unique_ptr<HidConnection> EmulatedRack::Open(const std::string& path) {
  for (const auto& board : boards_)
    if (board->Identity().path == path) return board->Open(path);
  return nullptr;
}

}  // namespace emu
