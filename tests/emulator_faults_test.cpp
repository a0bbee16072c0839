// Faults of a bad module in the emulated board, as a qualification sees
// them through the module object and the flag reader: a laser that stays on
// when Tx is disabled, latched alarms that come back after every read, and
// a lane with a high bit-error ratio.
#include <string>
#include <vector>

#include "cli/cli.h"
#include "emulator/emulated_rack.h"
#include "emulator/faults.h"
#include "module/controls.h"
#include "tests/cli_test_support.h"
#include "tests/module_test_support.h"

namespace {

using namespace module_test;

struct Faulty : ModuleFixture {
  void Set(const std::string& text) {
    emu::FaultSpec fault;
    std::string why;
    ASSERT_TRUE(emu::ParseFault(text, &fault, &why)) << why;
    emu::ApplyFault(*board, fault);
  }
};

TEST_F(Faulty, DisablingTxDropsBiasAndPowerUnlessTheLaserIsStuck) {
  Set("tx-stuck=3,5");
  ASSERT_TRUE(module.ReadMonitors());
  const auto before = module.Monitors();
  for (int lane : {2, 3, 5}) ASSERT_TRUE(SetControl(module, "tx-disable", lane, 1));
  Elapse(emu::ModuleModel::kMonitorPeriodMs);
  ASSERT_TRUE(module.ReadMonitors());
  const auto disabled = module.Monitors();
  // Lane 2 is healthy: its laser goes off. Lanes 3 and 5 keep their levels.
  EXPECT_EQ(disabled.tx_bias[1], 0);
  EXPECT_EQ(disabled.tx_power[1], 0);
  for (int i : {2, 4}) {
    EXPECT_EQ(disabled.tx_bias[i], before.tx_bias[i]) << "lane " << i + 1;
    EXPECT_EQ(disabled.tx_power[i], before.tx_power[i]) << "lane " << i + 1;
  }
  // Enabled again, the healthy lane comes back to its level.
  ASSERT_TRUE(SetControl(module, "tx-disable", 2, 0));
  ASSERT_TRUE(module.ReadMonitors());
  EXPECT_EQ(module.Monitors().tx_bias[1], before.tx_bias[1]);
  EXPECT_EQ(module.Monitors().tx_power[1], before.tx_power[1]);
}

// A held fault latches its flag again after every read that cleared it, so
// the flag reader counts it however often the flags are read; a healthy
// module raises neither.
TEST_F(Faulty, LatchedAlarmFaultsComeBackAfterEveryRead) {
  struct Case {
    const char* fault;
    const char* key;
    int lane;
  };
  const std::vector<Case> cases = {{"temp-high", "temp-high-alarm", 0},
                                   {"temp-high", "temp-high-warning", 0},
                                   {"tx-los=6", "tx-los", 6}};
  ASSERT_TRUE(module.ReadAlarmImage());
  ASSERT_TRUE(module.ReadStatusImage());
  for (const auto& c : cases) EXPECT_EQ(module.Flags().Find(c.key, c.lane)->count, 0) << c.key;
  Set("temp-high");
  Set("tx-los=6");
  for (int read = 0; read < 3; ++read) {
    module.Flags().Acknowledge();
    Elapse(emu::ModuleModel::kMonitorPeriodMs);
    ASSERT_TRUE(module.ReadAlarmImage());
    ASSERT_TRUE(module.ReadStatusImage());  // Tx LOS is among the status bytes
    for (const auto& c : cases) {
      const auto record = module.Flags().Find(c.key, c.lane);
      ASSERT_TRUE(record) << c.key;
      EXPECT_EQ(record->count, 1) << c.key << " read " << read;
      EXPECT_TRUE(record->latest) << c.key;
    }
    EXPECT_EQ(module.Flags().Find("tx-los", 5)->count, 0);
  }
  // The temperature reads above the high alarm threshold (75 degC).
  ASSERT_TRUE(module.ReadMonitors());
  EXPECT_GT(static_cast<int16_t>(module.Monitors().temperature), 75 * 256);
}

TEST(FaultSpec, ParsesNamesLanesAndBoards) {
  using K = emu::FaultSpec::Kind;
  struct Good {
    const char* text;
    K kind;
    uint8_t lanes;
    int board;
  };
  for (const Good& g : std::vector<Good>{{"tx-stuck=3", K::kTxStuckOn, 0x04, -1},
                                         {"tx-los=1,8", K::kTxLos, 0x81, -1},
                                         {"high-ber=all@2", K::kHighBer, 0xFF, 2},
                                         {"temp-high@0", K::kTemperatureHigh, 0, 0}}) {
    emu::FaultSpec f;
    std::string why;
    ASSERT_TRUE(emu::ParseFault(g.text, &f, &why)) << g.text << ": " << why;
    EXPECT_EQ(f.kind, g.kind) << g.text;
    EXPECT_EQ(f.lanes, g.lanes) << g.text;
    EXPECT_EQ(f.board, g.board) << g.text;
  }
  for (const char* bad : {"", "tx-stuck", "tx-stuck=", "tx-stuck=0", "tx-stuck=9", "tx-stuck=3,",
                          "tx-los=a", "temp-high=1", "hot", "tx-stuck=3@", "tx-stuck=3@x"}) {
    emu::FaultSpec f;
    std::string why;
    EXPECT_FALSE(emu::ParseFault(bad, &f, &why)) << bad;
    EXPECT_FALSE(why.empty()) << bad;
  }
}

// Through the tool: the fault on one board of two, the other clean.
TEST(FaultOption, AHighBerLaneOnOneBoardOnly) {
  using cli_test::Json;
  using cli_test::RunCliOn;
  for (int index : {0, 1}) {
    const auto r =
        RunCliOn(nullptr, {"--emulate-boards", "2", "--emulate-fault", "high-ber=3@1", "--board",
                           std::to_string(index), "ber", "--seconds", "1", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto doc = Json(r.out);
    for (const auto& channel : doc["channels"]) {
      if (channel["lane"] != 3) continue;
      const double ber = channel["ber"];
      if (index == 1)
        EXPECT_NEAR(ber, emu::kHighBer, emu::kHighBer / 2) << r.out;
      else
        EXPECT_LT(ber, 1e-6) << r.out;
    }
  }
  const auto r = RunCliOn(nullptr, {"--emulate-fault", "tx-los=2@1", "info"});
  EXPECT_EQ(r.status, cli::kUsage);
  EXPECT_NE(r.err.find("no board 1"), std::string::npos) << r.err;
}

}  // namespace
