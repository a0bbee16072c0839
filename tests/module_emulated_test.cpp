// The live emulated module, driven through the module object as a page
// would drive it, with the module's clock in the test's hand.
#include <cstring>
#include <fstream>
#include <set>

#include "emulator/module_model.h"
#include "module/conversions.h"
#include "module/module_dump.h"
#include "module/names.h"
#include "module/register_map.h"
#include "tests/module_test_support.h"

namespace {

using namespace module_test;

struct LiveModule : ModuleFixture {
  // Control image, then the named states of the module and of the lanes.
  std::string ModuleState() {
    EXPECT_TRUE(module.ReadControlImage());
    return names::ItemOr(names::ModuleStates(),
                         ReadField(module.Snapshot(), module.Map().module_state, 0), "?");
  }
  std::string Lanes() {
    EXPECT_TRUE(module.ReadControlImage());
    const ModuleImages images = module.Snapshot();
    std::string s;
    for (int lane = 1; lane <= 8; ++lane)
      s += std::to_string(ReadField(images, module.Map().dp_state, lane));
    return s;  // data path state codes, lanes 1-8
  }
  bool StatusBit(const Field& field, int lane) { return ReadField(module.Snapshot(), field, lane); }
};

TEST_F(LiveModule, LowPowerPowersDownAndReleasingItPowersUp) {
  EXPECT_EQ(ModuleState(), "011 ModReady");
  EXPECT_EQ(Lanes(), "44444444");
  ASSERT_TRUE(SetControl(module, "low-power", 0, 1));
  EXPECT_EQ(ModuleState(), "100 ModPwrDn");
  EXPECT_EQ(Lanes(), "33333333");  // DPDeinit
  Elapse(emu::ModuleModel::kPowerDownMs);
  EXPECT_EQ(ModuleState(), "001 ModLowPwr");
  EXPECT_EQ(Lanes(), "11111111");
  // The module-state-changed flag latched and the interrupt is asserted;
  // reading the flag clears it.
  ASSERT_TRUE(module.ReadStatusImage());
  EXPECT_TRUE(StatusBit(module.Map().module_state_changed, 0));
  EXPECT_FALSE(StatusBit(module.Map().interrupt, 0));
  EXPECT_TRUE(StatusBit(module.Map().dp_changed, 5));
  ASSERT_TRUE(module.ReadStatusImage());
  EXPECT_FALSE(StatusBit(module.Map().module_state_changed, 0));
  EXPECT_FALSE(StatusBit(module.Map().dp_changed, 5));
  EXPECT_TRUE(StatusBit(module.Map().interrupt, 0));

  // ForceLowPwr holds it down on its own.
  ASSERT_TRUE(SetControl(module, "force-low-power", 0, 1));
  ASSERT_TRUE(SetControl(module, "low-power", 0, 0));
  Elapse(2000);
  EXPECT_EQ(ModuleState(), "001 ModLowPwr");
  ASSERT_TRUE(SetControl(module, "force-low-power", 0, 0));
  EXPECT_EQ(ModuleState(), "010 ModPwrUp");
  Elapse(emu::ModuleModel::kPowerUpMs);
  EXPECT_EQ(ModuleState(), "011 ModReady");
  EXPECT_EQ(Lanes(), "22222222");  // DPInit
  Elapse(emu::ModuleModel::kDataPathInitMs);
  EXPECT_EQ(Lanes(), "44444444");
}

TEST_F(LiveModule, SoftResetRestoresThePowerOnControlsAndGoesThroughReset) {
  ASSERT_TRUE(SetControl(module, "tx-disable", 2, 1));
  ASSERT_TRUE(SetControl(module, "squelch-method", 0, 1));
  ASSERT_TRUE(SetControl(module, "soft-reset", 0, 1));
  EXPECT_EQ(Peek(0x10, 0x82), 0x00);
  EXPECT_EQ(Peek(0, 0x1A), 0x00);  // the reset bit clears itself
  EXPECT_EQ(ModuleState(), "001 ModLowPwr");
  EXPECT_EQ(Lanes(), "11111111");
  Elapse(emu::ModuleModel::kResetMs);
  EXPECT_EQ(ModuleState(), "010 ModPwrUp");
  Elapse(emu::ModuleModel::kPowerUpMs + emu::ModuleModel::kDataPathInitMs);
  EXPECT_EQ(ModuleState(), "011 ModReady");
  EXPECT_EQ(Lanes(), "44444444");
}

TEST_F(LiveModule, DataPathDeinitTakesOneLaneDownAndBack) {
  ASSERT_TRUE(SetControl(module, "dp-deinit", 5, 1));
  EXPECT_EQ(Lanes(), "44443444");
  Elapse(emu::ModuleModel::kDataPathDeinitMs);
  EXPECT_EQ(Lanes(), "44441444");
  ASSERT_TRUE(module.ReadStatusImage());
  EXPECT_TRUE(StatusBit(module.Map().dp_changed, 5));
  EXPECT_FALSE(StatusBit(module.Map().dp_changed, 4));
  ASSERT_TRUE(SetControl(module, "dp-deinit", 5, 0));
  EXPECT_EQ(Lanes(), "44442444");
  Elapse(emu::ModuleModel::kDataPathInitMs);
  EXPECT_EQ(Lanes(), "44444444");
}

TEST_F(LiveModule, ApplyingAStagedSetChecksTheApplicationTable) {
  // Application 2 is advertised (200G), 9 is not.
  ASSERT_TRUE(SetControl(module, "app-code", 3, 2));
  ASSERT_TRUE(SetControl(module, "apply-dp-init", 3, 1));
  ASSERT_TRUE(SetControl(module, "app-code", 6, 9));
  ASSERT_TRUE(SetControl(module, "apply-immediate", 6, 1));
  ASSERT_TRUE(module.ReadStatusImage());
  const ModuleImages images = module.Snapshot();
  EXPECT_EQ(ReadField(images, module.Map().config_status, 3), 1);  // accepted
  EXPECT_EQ(ReadField(images, module.Map().config_status, 6), 3);  // rejected invalid code
  EXPECT_EQ(ReadField(images, module.Map().config_status, 1), 0);
  EXPECT_EQ(Lanes(), "44244444");
  EXPECT_EQ(module.Snapshot().page10[0x8F - 0x80], 0);  // triggers read back as zero
  EXPECT_EQ(Peek(0x11, 0xCE + 2), 0x20);                // lane 3 runs application 2
  EXPECT_EQ(Peek(0x11, 0xCE + 5), 0x10);                // lane 6 kept application 1
  Elapse(emu::ModuleModel::kDataPathInitMs);
  EXPECT_EQ(Lanes(), "44444444");
  // Staged set 1 applies the same way.
  ASSERT_TRUE(SetControl(module, "app-code-1", 8, 0));
  ASSERT_TRUE(SetControl(module, "apply-immediate-1", 8, 1));
  ASSERT_TRUE(module.ReadStatusImage());
  EXPECT_EQ(ReadField(module.Snapshot(), module.Map().config_status, 8), 3);
}

TEST_F(LiveModule, ADisabledLaneSendsNoLightAndItsFlagsLatchUntilRead) {
  ASSERT_TRUE(SetControl(module, "tx-disable", 4, 1));
  ASSERT_TRUE(module.ReadMonitors());
  ASSERT_TRUE(module.ReadAlarmImage());
  EXPECT_EQ(module.Monitors().tx_power[3], 0);
  EXPECT_GT(module.Monitors().tx_power[2], 5000);
  EXPECT_EQ(module.Monitors().tx_bias[3], 0);  // the laser is off
  EXPECT_GT(module.Monitors().tx_bias[2], 0);
  for (int lane = 1; lane <= 8; ++lane) {
    EXPECT_EQ(module.GetTxPowerFlag(lane, kLowAlarm), lane == 4) << lane;
    EXPECT_EQ(module.GetTxPowerFlag(lane, kLowWarning), lane == 4) << lane;
    EXPECT_FALSE(module.GetTxPowerFlag(lane, kHighAlarm)) << lane;
    EXPECT_FALSE(module.GetRxPowerFlag(lane, kLowAlarm)) << lane;
  }
  ASSERT_TRUE(module.ReadStatusImage());
  EXPECT_TRUE(StatusBit(module.Map().bank0_lane_flags, 4));
  EXPECT_FALSE(StatusBit(module.Map().lane_flag_summary, 4));  // Tx output status
  // Enabled again: the latched flag shows once more, then clears.
  ASSERT_TRUE(SetControl(module, "tx-disable", 4, 0));
  ASSERT_TRUE(module.ReadAlarmImage());
  EXPECT_TRUE(module.GetTxPowerFlag(4, kLowAlarm));
  ASSERT_TRUE(module.ReadAlarmImage());
  EXPECT_FALSE(module.GetTxPowerFlag(4, kLowAlarm));
}

TEST_F(LiveModule, RxLosFollowsTheRxPowerLowAlarmThreshold) {
  {
    auto lock = board->Lock();
    board->Module().SetRxInput(6, DbmToRaw(-20.0f));
  }
  ASSERT_TRUE(module.ReadStatusImage());
  for (int lane = 1; lane <= 8; ++lane) {
    EXPECT_EQ(StatusBit(module.Map().rx_los, lane), lane == 6) << lane;
    EXPECT_EQ(StatusBit(module.Map().rx_cdr_lol, lane), lane == 6) << lane;
  }
  // Thresholds are writable: a low-alarm level above every lane's power puts
  // all of them in LOS.
  ASSERT_TRUE(module.WriteWordAt(0xA002C2, DbmToRaw(0.0f)));
  ASSERT_TRUE(module.ReadStatusImage());
  for (int lane = 1; lane <= 8; ++lane) EXPECT_TRUE(StatusBit(module.Map().rx_los, lane)) << lane;
}

TEST_F(LiveModule, TemperatureFlagsAgainstWritableThresholdsAndMasks) {
  ASSERT_TRUE(module.ReadAlarmImage());
  EXPECT_FALSE(module.GetTempFlag(kHighWarning));
  ASSERT_TRUE(module.WriteWordAt(0xA00284, static_cast<uint16_t>(TempToRaw(30.0f))));
  ASSERT_TRUE(module.ReadStatusImage());
  EXPECT_FALSE(StatusBit(module.Map().interrupt, 0));  // asserted
  ASSERT_TRUE(module.ReadAlarmImage());
  EXPECT_TRUE(module.GetTempFlag(kHighWarning));
  EXPECT_FALSE(module.GetTempFlag(kHighAlarm));
  EXPECT_FALSE(module.GetVccFlag(kHighWarning));
  // Masked, the flag still latches but no longer asserts the interrupt.
  ASSERT_TRUE(SetControl(module, "temp-high-warning-mask", 0, true));
  ASSERT_TRUE(module.ReadMaskImage());
  EXPECT_EQ(Control("temp-high-warning-mask").ValueIn(module.Snapshot(), 0), 1);
  ASSERT_TRUE(module.ReadStatusImage());
  EXPECT_TRUE(StatusBit(module.Map().interrupt, 0));
  ASSERT_TRUE(module.ReadAlarmImage());
  EXPECT_TRUE(module.GetTempFlag(kHighWarning));
}

TEST_F(LiveModule, MonitorsMoveWithSmallNoise) {
  {
    auto lock = board->Lock();
    board->Module().SetNoise(true);
  }
  std::set<uint16_t> temperatures;
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(module.ReadMonitors());
    const RawMonitors m = module.Monitors();
    temperatures.insert(m.temperature);
    EXPECT_NEAR(RawToTemp(m.temperature), 38.5f, 0.2f);
    EXPECT_NEAR(RawToDbm(m.tx_power[0]), -0.8f, 0.1f);
    Elapse(emu::ModuleModel::kMonitorPeriodMs);
  }
  EXPECT_GT(temperatures.size(), 1u);
}

TEST_F(LiveModule, StatusAreaAndPage11hIgnoreHostWrites) {
  const uint8_t state = Peek(0, 0x03), dp = Peek(0x11, 0x80);
  ASSERT_TRUE(module.WriteByteAt(0xA00003, 0x00));
  ASSERT_TRUE(module.WriteByteAt(0xA01180, 0x11));
  EXPECT_EQ(Peek(0, 0x03), state);
  EXPECT_EQ(Peek(0x11, 0x80), dp);
}

TEST_F(LiveModule, EveryLabDumpLoadsAndRunsLive) {
  const auto dir = FixtureDir();
  if (dir.empty()) GTEST_SKIP() << "no module fixture folder";
  int loaded = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const auto name = entry.path().filename().string();
    if (entry.path().extension() != ".txt" || name.find(".decoded") != std::string::npos) continue;
    std::ifstream in(entry.path());
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    std::string error;
    {
      auto lock = board->Lock();
      ASSERT_TRUE(board->Module().LoadDump(text, &error)) << name << ": " << error;
    }
    EXPECT_TRUE(module.ReadAdvertisement()) << name;  // another module in the cage
    EXPECT_TRUE(module.ReadStatusImage()) << name;
    EXPECT_TRUE(module.ReadMonitors()) << name;
    Elapse(2000);
    EXPECT_TRUE(module.ReadControlImage()) << name;
    ++loaded;
  }
  EXPECT_GE(loaded, 8);
}

// A loaded dump replays: every page it holds reads back byte for byte through
// the board, twice and seconds apart, with noise on, until something writes.
TEST_F(LiveModule, EveryLabDumpReplaysItsCapturedBytes) {
  const auto dir = FixtureDir();
  if (dir.empty()) GTEST_SKIP() << "no module fixture folder";
  {
    auto lock = board->Lock();
    board->Module().SetNoise(true);
  }
  int replayed = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const auto name = entry.path().filename().string();
    if (entry.path().extension() != ".txt" || name.find(".decoded") != std::string::npos) continue;
    std::ifstream in(entry.path());
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    ModuleDumpImage image;
    std::string error;
    if (!ParseModuleDump(text, &image, &error)) continue;  // not a dump (the README)
    {
      auto lock = board->Lock();
      ASSERT_TRUE(board->Module().LoadDump(text, &error)) << name << ": " << error;
    }
    for (int pass = 0; pass < 2; ++pass) {
      uint8_t got[128];
      ASSERT_TRUE(device.ReadModule(1, 0xA0, 0x00, 0x00, got, 128)) << name;
      EXPECT_EQ(0, std::memcmp(got, image.lower.data(), 128)) << name << ": lower, pass " << pass;
      for (const auto& [number, page] : image.pages) {
        ASSERT_TRUE(device.ReadModule(1, 0xA0, number, 0x80, got, 128)) << name;
        for (int i = 0; i < 128; ++i)
          EXPECT_EQ(got[i], page[i])
              << name << ": page " << int(number) << " byte " << 0x80 + i << ", pass " << pass;
      }
      Elapse(5000);
    }
    ++replayed;
  }
  EXPECT_GE(replayed, 8);
}

// A ModuleReady capture with its low-power bit set and latched flags: the
// replay stays as captured; a write, or asking for live behaviour, starts
// the module: it powers down and its flags clear on read.
TEST_F(LiveModule, ReplayStaysAsCapturedUntilAWriteOrALiveRequest) {
  std::ifstream in(std::string(LW_SOURCE_DIR) + "/tests/fixtures/module_dumps/ready_latched.txt");
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  ASSERT_FALSE(text.empty());
  for (const bool by_write : {true, false}) {
    SCOPED_TRACE(by_write ? "write" : "live request");
    std::string error;
    {
      auto lock = board->Lock();
      ASSERT_TRUE(board->Module().LoadDump(text, &error)) << error;
    }
    for (int i = 0; i < 2; ++i) {
      Elapse(2000);
      EXPECT_EQ(ModuleState(), "011 ModReady");
      EXPECT_EQ(Lanes(), "44444444");
      uint8_t flags[2] = {};
      ASSERT_TRUE(device.ReadModule(1, 0xA0, 0x00, 0x08, flags, 2));
      EXPECT_EQ(flags[0], 0x02);
      EXPECT_EQ(flags[1], 0x01);
    }
    if (by_write) {
      ASSERT_TRUE(
          SetControl(module, "tx-disable", 3, 0));  // any write, even one that changes nothing
    } else {
      auto lock = board->Lock();
      board->Module().StartLive();
    }
    EXPECT_EQ(ModuleState(), "100 ModPwrDn");
    Elapse(emu::ModuleModel::kPowerDownMs);
    EXPECT_EQ(ModuleState(), "001 ModLowPwr");
    uint8_t flags[2] = {};
    ASSERT_TRUE(device.ReadModule(1, 0xA0, 0x00, 0x09, flags, 1));
    ASSERT_TRUE(device.ReadModule(1, 0xA0, 0x00, 0x09, flags + 1, 1));
    EXPECT_EQ(flags[1], 0x00);  // the stale alarm cleared on the first read
  }
}

}  // namespace
