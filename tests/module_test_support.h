// Shared fixture of the module tests: a module object on the emulated board,
// with the board's command pause shortened and the module's clock in the
// test's hand.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "board/device.h"
#include "emulator/emulated_board.h"
#include "module/controls.h"
#include "module/qsfp_dd.h"

namespace module_test {

// One module register command as it went over the wire.
struct Exchange {
  uint8_t command, page, reg, count;
  std::vector<uint8_t> data;  // write payload
  bool operator==(const Exchange& o) const {
    return command == o.command && page == o.page && reg == o.reg && count == o.count;
  }
};

inline std::ostream& operator<<(std::ostream& os, const Exchange& e) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s page %02X reg %02X x%d", e.command == 0x07 ? "read" : "write",
                e.page, e.reg, e.count);
  return os << buf;
}

inline Exchange Read(uint8_t page, uint8_t reg, uint8_t count) {
  return {0x07, page, reg, count, {}};
}
inline Exchange Write(uint8_t page, uint8_t reg, uint8_t count) {
  return {0x06, page, reg, count, {}};
}

// A row of the control table by its command-line name.
inline const ControlFamily& Control(const char* name) {
  const ControlFamily* family = FindControl(name);
  if (!family) throw std::invalid_argument(std::string("no control ") + name);
  return *family;
}
// The module operation a control stands for, through the table.
inline BoardResult SetControl(CSfpBase& module, const char* name, int lane, uint8_t value) {
  return Control(name).Apply(module, lane, value);
}

struct ModuleFixture : ::testing::Test {
  using Clock = std::chrono::steady_clock;
  std::shared_ptr<emu::EmulatedBoard> board = std::make_shared<emu::EmulatedBoard>();
  CDevice device{board};
  qsfp_dd::CQSFP_DD module{&device};
  Clock::time_point now = Clock::now();

  void SetUp() override {
    ASSERT_EQ(device.FindDevices(), 1);
    ASSERT_TRUE(device.OpenBoard(0));
    device.SetPause([](int) {});
    auto lock = board->Lock();
    board->Module().SetTimeSource([this] { return now; });
    board->Module().SetNoise(false);
    board->ClearRequests();
  }
  void Elapse(int ms) {
    auto lock = board->Lock();
    now += std::chrono::milliseconds(ms);
  }
  void Freeze() {
    auto lock = board->Lock();
    board->Module().SetLive(false);
  }
  void Poke(uint8_t page, uint8_t reg, uint8_t value) {
    auto lock = board->Lock();
    board->Module().Poke(page, reg, value);
  }
  uint8_t Peek(uint8_t page, uint8_t reg) {
    auto lock = board->Lock();
    return board->Module().Peek(page, reg);
  }
  std::vector<Exchange> Exchanges() {
    std::vector<Exchange> out;
    for (const auto& r : board->Requests()) {
      Exchange e{r[3], r[5], r[7], r[8], {}};
      if (r[3] == 0x06) e.data.assign(r.begin() + 9, r.begin() + 9 + r[8]);
      out.push_back(e);
    }
    board->ClearRequests();
    return out;
  }
};

// The lab's real module dumps, when the shared folder is at hand.
inline std::filesystem::path FixtureDir() {
  namespace fs = std::filesystem;
  if (const char* env = std::getenv("LW_MODULE_FIXTURES")) return env;
  for (const char* up : {"..", "../.."}) {
    const fs::path dir = fs::path(LW_SOURCE_DIR) / up / "shared" / "fixtures" / "modules";
    if (fs::exists(dir)) return dir;
  }
  return {};
}

}  // namespace module_test
