// The QSFP-DD module object against the emulated module's memory: setter
// field placement, the refresh operations' read sequences and failure rules,
// flag getters, thresholds, password and page codes, calibration writes.
#include <cstring>

#include "module/conversions.h"
#include "tests/module_test_support.h"

namespace {

using namespace module_test;

struct ModuleOperations : ModuleFixture {
  void SetUp() override {
    ModuleFixture::SetUp();
    Freeze();  // plain memory: what the host writes stays as written
  }
};

// One row per setter case: the register's byte before, the call, the byte
// written after one read of that register.
TEST_F(ModuleOperations, SettersChangeOnlyTheirFieldOfOneRegister) {
  const struct {
    const char* name;
    uint8_t page, reg, before;
    std::function<bool(CSfpBase&)> set;
    uint8_t written;
  } cases[] = {
      {"Tx disable lane 3", 0x10, 0x82, 0x01,
       [](CSfpBase& m) { return SetControl(m, "tx-disable", 3, 1); }, 0x05},
      {"Tx disable lane 1 off", 0x10, 0x82, 0xFF,
       [](CSfpBase& m) { return SetControl(m, "tx-disable", 1, 0); }, 0xFE},
      {"one-bit field uses bit 0", 0x10, 0x8A, 0x00,
       [](CSfpBase& m) { return SetControl(m, "rx-output-disable", 2, 2); }, 0x00},
      {"Tx eq store lane 6", 0x10, 0x88, 0xF3,
       [](CSfpBase& m) { return SetControl(m, "tx-eq-store", 6, 2); }, 0xFB},
      {"Tx eq store lane 1", 0x10, 0x87, 0xFF,
       [](CSfpBase& m) { return SetControl(m, "tx-eq-store", 1, 0); }, 0xFC},
      {"Tx input eq lane 2, 0x1F", 0x10, 0x9C, 0x05,
       [](CSfpBase& m) { return SetControl(m, "tx-input-eq", 2, 0x1F); }, 0xF5},
      {"app code lane 8", 0x10, 0x98, 0x5B,
       [](CSfpBase& m) { return SetControl(m, "app-code", 8, 3); }, 0x3B},
      {"data path code lane 3", 0x10, 0x93, 0xF1,
       [](CSfpBase& m) { return SetControl(m, "dp-code", 3, 5); }, 0xFB},
      {"explicit control lane 1", 0x10, 0x91, 0x10,
       [](CSfpBase& m) { return SetControl(m, "explicit-control", 1, 1); }, 0x11},
      {"recall lane 5", 0x10, 0x9B, 0x00,
       [](CSfpBase& m) { return SetControl(m, "adaptive-eq-recall", 5, 3); }, 0x03},
      {"pre-cursor lane 4", 0x10, 0xA3, 0x01,
       [](CSfpBase& m) { return SetControl(m, "rx-pre-cursor", 4, 7); }, 0x71},
      {"amplitude set 1 lane 7", 0x10, 0xD0, 0x50,
       [](CSfpBase& m) { return SetControl(m, "rx-amplitude-1", 7, 9); }, 0x59},
      {"apply immediate set 1 lane 8", 0x10, 0xB3, 0x01,
       [](CSfpBase& m) { return SetControl(m, "apply-immediate-1", 8, 1); }, 0x81},
      {"low power", 0x00, 0x1A, 0x20, [](CSfpBase& m) { return SetControl(m, "low-power", 0, 1); },
       0x60},
      {"low power value 2 writes back as read", 0x00, 0x1A, 0x20,
       [](CSfpBase& m) { return SetControl(m, "low-power", 0, 2); }, 0x20},
      {"squelch method off", 0x00, 0x1A, 0x70,
       [](CSfpBase& m) { return SetControl(m, "squelch-method", 0, 0); }, 0x50},
      {"force low power", 0x00, 0x1A, 0x00,
       [](CSfpBase& m) { return SetControl(m, "force-low-power", 0, 1); }, 0x10},
      {"soft reset", 0x00, 0x1A, 0x40,
       [](CSfpBase& m) { return SetControl(m, "soft-reset", 0, 1); }, 0x48},
      {"module state changed mask", 0x00, 0x1F, 0x00,
       [](CSfpBase& m) { return SetControl(m, "module-state-changed-mask", 0, true); }, 0x01},
      {"temperature high alarm mask", 0x00, 0x20, 0x00,
       [](CSfpBase& m) { return SetControl(m, "temp-high-alarm-mask", 0, true); }, 0x01},
      {"Vcc low warning mask", 0x00, 0x20, 0x00,
       [](CSfpBase& m) { return SetControl(m, "vcc-low-warning-mask", 0, true); }, 0x80},
      {"Tx power low warning mask lane 2", 0x10, 0xDD, 0x00,
       [](CSfpBase& m) { return SetControl(m, "tx-power-low-warning-mask", 2, true); }, 0x02},
      {"Rx power high alarm mask lane 1", 0x10, 0xE4, 0xFF,
       [](CSfpBase& m) { return SetControl(m, "rx-power-high-alarm-mask", 1, false); }, 0xFE},
      {"Rx CDR LOL mask lane 8", 0x10, 0xE3, 0x00,
       [](CSfpBase& m) { return SetControl(m, "rx-cdr-lol-mask", 8, true); }, 0x80},
  };
  for (const auto& c : cases) {
    Poke(c.page, c.reg, c.before);
    Exchanges();
    EXPECT_TRUE(c.set(module)) << c.name;
    const auto sent = Exchanges();
    ASSERT_EQ(sent.size(), 2u) << c.name;
    EXPECT_EQ(sent[0], Read(c.page, c.reg, 1)) << c.name;
    EXPECT_EQ(sent[1], Write(c.page, c.reg, 1)) << c.name;
    EXPECT_EQ(sent[1].data, std::vector<uint8_t>{c.written}) << c.name;
    EXPECT_EQ(module.Snapshot().Byte(c.page, c.reg), c.written) << c.name << ": image byte";
  }
  // The masks' values in a snapshot are what the setters left in the image.
  const ModuleImages images = module.Snapshot();
  EXPECT_EQ(Control("rx-cdr-lol-mask").ValueIn(images, 8), 1);
  EXPECT_EQ(Control("rx-cdr-lol-mask").ValueIn(images, 7), 0);
  EXPECT_EQ(Control("tx-power-low-warning-mask").ValueIn(images, 2), 1);
}

TEST_F(ModuleOperations, OutOfRangeLanesAndAbsentFieldsWriteNothing) {
  EXPECT_FALSE(SetControl(module, "tx-disable", 9, 1));
  EXPECT_FALSE(SetControl(module, "tx-eq-store", 0, 1));
  EXPECT_FALSE(SetControl(module, "app-code", 9, 1));
  EXPECT_FALSE(SetControl(module, "tx-power-low-warning-mask", 9, true));
  EXPECT_FALSE(module.SetField(Field{}, 1, 1));  // a field the module type does not place
  EXPECT_TRUE(Exchanges().empty());
  EXPECT_FALSE(module.GetTxPowerFlag(9, kHighAlarm));
}

TEST_F(ModuleOperations, ASetterWhoseReadFailsWritesNothing) {
  Poke(0x10, 0x82, 0x81);
  board->DropAnswers(1);
  EXPECT_FALSE(SetControl(module, "tx-disable", 3, 1));
  EXPECT_EQ(Exchanges(), std::vector<Exchange>{Read(0x10, 0x82, 1)});
  EXPECT_EQ(Peek(0x10, 0x82), 0x81);  // lanes 1 and 8 keep their bits
}

TEST_F(ModuleOperations, WholeRegisterTxDisable) {
  EXPECT_TRUE(module.SetAllTxDisable(true));
  auto sent = Exchanges();
  ASSERT_EQ(sent.size(), 1u);  // no read first
  EXPECT_EQ(sent[0].data, std::vector<uint8_t>{0xFF});
  EXPECT_EQ(module.Snapshot().page10[0x82 - 0x80], 0);  // the image is not touched
  EXPECT_TRUE(module.IsAllTxDisabled());
  Poke(0x10, 0x82, 0x0F);
  EXPECT_FALSE(module.IsAllTxDisabled());
}

TEST_F(ModuleOperations, RefreshOperationsReadTheirRegistersInOrder) {
  const struct {
    const char* name;
    std::function<bool(CSfpBase&)> refresh;
    std::vector<Exchange> reads;
  } cases[] = {
      {"control image",
       [](CSfpBase& m) { return m.ReadControlImage(); },
       {Read(0, 0x03, 1), Read(0x11, 0x80, 4), Read(0, 0x1A, 1), Read(0x10, 0x80, 50),
        Read(0x10, 0xB2, 35)}},
      {"status image",
       [](CSfpBase& m) { return m.ReadStatusImage(); },
       {Read(0, 0x03, 6), Read(0x11, 0x80, 11), Read(0x11, 0x93, 2), Read(0x11, 0xCA, 4)}},
      {"mask image",
       [](CSfpBase& m) { return m.ReadMaskImage(); },
       {Read(0, 0x1F, 4), Read(0x10, 0xD5, 19)}},
      {"alarm image",
       [](CSfpBase& m) { return m.ReadAlarmImage(); },
       {Read(0, 0x09, 3), Read(0x11, 0x8B, 8), Read(0x11, 0x95, 4)}},
      {"monitors",
       [](CSfpBase& m) { return m.ReadMonitors(); },
       {Read(0, 0x0E, 2), Read(0, 0x10, 2), Read(0x11, 0xBA, 16), Read(0x11, 0xAA, 16),
        Read(0x11, 0x9A, 16)}},
  };
  // Distinct bytes everywhere, so that the images show where each came from.
  for (int r = 0; r < 0x80; ++r) Poke(0, static_cast<uint8_t>(r), static_cast<uint8_t>(r + 1));
  for (int r = 0x80; r <= 0xFF; ++r) {
    Poke(0x10, static_cast<uint8_t>(r), static_cast<uint8_t>(r ^ 0x10));
    Poke(0x11, static_cast<uint8_t>(r), static_cast<uint8_t>(r ^ 0x11));
  }
  ASSERT_TRUE(module.ReadAdvertisement());  // a refresh reads it first when it has none
  for (const auto& c : cases) {
    Exchanges();
    EXPECT_TRUE(c.refresh(module)) << c.name;
    EXPECT_EQ(Exchanges(), c.reads) << c.name;
  }
  const ModuleImages images = module.Snapshot();
  for (const auto& [page, reg] : std::vector<std::pair<uint8_t, uint8_t>>{{0, 0x03},
                                                                          {0, 0x08},
                                                                          {0, 0x1A},
                                                                          {0, 0x22},
                                                                          {0x10, 0x80},
                                                                          {0x10, 0xD4},
                                                                          {0x10, 0xE7},
                                                                          {0x11, 0x8A},
                                                                          {0x11, 0x98},
                                                                          {0x11, 0xCD}})
    EXPECT_EQ(images.Byte(page, reg), Peek(page, reg)) << std::hex << int(page) << " " << int(reg);
  EXPECT_EQ(images.Byte(0x10, 0xF0), 0);  // never refreshed
  EXPECT_EQ(images.monitors.temperature, 0x0F10);
  EXPECT_EQ(images.monitors.rx_power[0], (0xBA ^ 0x11) << 8 | (0xBB ^ 0x11));
  EXPECT_EQ(images.monitors.tx_power[7], (0xA8 ^ 0x11) << 8 | (0xA9 ^ 0x11));
  EXPECT_EQ(images.monitors.tx_bias[8], 0);  // lanes 9-16 stay 0
}

// Fails the request report that follows the `n`-th pause (1-based).
void FailRequestAfterPause(CDevice& device, emu::EmulatedBoard& board, int n) {
  auto count = std::make_shared<int>(0);
  device.SetPause([count, n, &board](int) {
    if (++*count == n) board.FailNextWrite(1);
  });
}

TEST_F(ModuleOperations, ControlImageStopsAfterAFailedGlobalControlRead) {
  for (int r = 0x80; r <= 0xD4; ++r) Poke(0x10, static_cast<uint8_t>(r), 0x5A);
  ASSERT_TRUE(module.ReadControlImage());
  for (int r = 0x80; r <= 0xD4; ++r) Poke(0x10, static_cast<uint8_t>(r), 0x00);
  Poke(0, 0x03, 0x07);
  Exchanges();
  FailRequestAfterPause(device, *board, 2);  // the lower 0x1A read
  EXPECT_FALSE(module.ReadControlImage());
  EXPECT_EQ(Exchanges(), (std::vector<Exchange>{Read(0, 0x03, 1), Read(0x11, 0x80, 4)}));
  const ModuleImages images = module.Snapshot();
  EXPECT_EQ(images.lower[0x03], 0x07);
  EXPECT_EQ(images.lower[0x1A], 0);             // never read: still the initial zero,
  EXPECT_FALSE(images.Current(0, 0x1A));        // and marked so
  EXPECT_EQ(images.page10[0x82 - 0x80], 0x5A);  // page 10h keeps the last good read
}

TEST_F(ModuleOperations, RefreshFailuresFollowEachOperationsRule) {
  Poke(0, 0x0E, 0x19);  // 25 degC
  Poke(0, 0x0F, 0x00);
  Poke(0, 0x10, 0x80);
  Poke(0, 0x11, 0x00);
  Poke(0x11, 0xBA, 0x12);
  Poke(0x11, 0x93, 0xFF);
  Poke(0x11, 0xCA, 0x21);
  // Monitors stop at the first failure and publish nothing of that refresh.
  ASSERT_TRUE(module.ReadMonitors());
  EXPECT_TRUE(module.Snapshot().monitors_current);
  const RawMonitors before = module.Monitors();
  Poke(0, 0x0E, 0x1A);
  Exchanges();
  FailRequestAfterPause(device, *board, 2);
  EXPECT_FALSE(module.ReadMonitors());
  RawMonitors m = module.Monitors();
  EXPECT_EQ(m.temperature, before.temperature);  // the earlier reading stays, marked stale
  EXPECT_EQ(m.rx_power[0], before.rx_power[0]);
  EXPECT_FALSE(module.Snapshot().monitors_current);
  EXPECT_EQ(Exchanges().size(), 2u);
  // The status image fails as a whole at its first failed read: later reads
  // are not made, and the parts not read keep their earlier bytes, marked
  // not current.
  ASSERT_TRUE(module.ReadStatusImage());
  EXPECT_TRUE(module.Snapshot().Current(0x11, 0x93, 2));
  Poke(0x11, 0x93, 0x00);
  Poke(0x11, 0xCA, 0x43);
  Exchanges();
  FailRequestAfterPause(device, *board, 2);
  EXPECT_FALSE(module.ReadStatusImage());
  EXPECT_EQ(Exchanges().size(), 2u);
  const ModuleImages s = module.Snapshot();
  EXPECT_TRUE(s.Current(0, 0x03, 6));
  EXPECT_TRUE(s.Current(0x11, 0x80, 11));
  EXPECT_FALSE(s.Current(0x11, 0x93, 2));  // its request failed
  EXPECT_FALSE(s.Current(0x11, 0xCA, 4));
  EXPECT_EQ(s.page11[0x93 - 0x80], 0xFF);  // the earlier reading, not zeros
  EXPECT_EQ(s.page11[0xCA - 0x80], 0x21);
  ASSERT_TRUE(module.ReadStatusImage());
  EXPECT_TRUE(module.Snapshot().Current(0x11, 0xCA, 4));
  EXPECT_EQ(module.Snapshot().page11[0xCA - 0x80], 0x43);
}

TEST_F(ModuleOperations, ASnapshotNeverShowsARefreshHalfDone) {
  Poke(0, 0x03, 0x07);
  Poke(0x11, 0x80, 0x44);
  Poke(0, 0x1A, 0x40);
  Poke(0x10, 0xD0, 0x33);
  ASSERT_TRUE(module.ReadAdvertisement());
  std::vector<ModuleImages> seen;
  device.SetPause([&](int) { seen.push_back(module.Snapshot()); });
  ASSERT_TRUE(module.ReadControlImage());
  ASSERT_EQ(seen.size(), 5u);
  for (const ModuleImages& s : seen) {
    EXPECT_EQ(s.lower[0x03], 0);
    EXPECT_EQ(s.page10[0xD0 - 0x80], 0);
  }
  const ModuleImages after = module.Snapshot();
  EXPECT_EQ(after.lower[0x03], 0x07);
  EXPECT_EQ(after.page11[0], 0x44);
  EXPECT_EQ(after.lower[0x1A], 0x40);
  EXPECT_EQ(after.page10[0xD0 - 0x80], 0x33);
}

TEST_F(ModuleOperations, FlagGettersReadTheirBitOfTheAlarmImage) {
  Poke(0, 0x09, 0x1A);  // temperature low alarm and low warning, Vcc high alarm
  Poke(0x11, 0x8B, 0x04);
  Poke(0x11, 0x92, 0x80);
  Poke(0x11, 0x97, 0x01);
  ASSERT_TRUE(module.ReadAlarmImage());
  EXPECT_FALSE(module.GetTempFlag(kHighAlarm));
  EXPECT_TRUE(module.GetTempFlag(kLowAlarm));
  EXPECT_FALSE(module.GetTempFlag(kHighWarning));
  EXPECT_TRUE(module.GetTempFlag(kLowWarning));
  EXPECT_TRUE(module.GetVccFlag(kHighAlarm));
  EXPECT_FALSE(module.GetVccFlag(kLowAlarm));
  EXPECT_TRUE(module.GetTxPowerFlag(3, kHighAlarm));
  EXPECT_FALSE(module.GetTxPowerFlag(3, kLowAlarm));
  EXPECT_TRUE(module.GetTxBiasFlag(8, kLowWarning));
  EXPECT_TRUE(module.GetRxPowerFlag(1, kHighWarning));
  EXPECT_FALSE(module.GetRxPowerFlag(1, 4));
  EXPECT_FALSE(module.GetTempFlag(-1));
}

TEST_F(ModuleOperations, ThresholdsReadAndWriteInEngineeringUnits) {
  // The emulated module's thresholds, page 02h.
  {
    auto lock = board->Lock();
    board->Module().LoadDefaults();
    board->Module().SetLive(false);
  }
  ASSERT_TRUE(module.ReadThresholds());
  const auto t = module.Thresholds();
  const float expected[20] = {75, -5,    70, 0, 3.63f, 2.97f, 3.465f, 3.135f, 4, -10.3f,
                              3,  -9.3f, 13, 3, 12,    4,     4,      -8.4f,  3, -7.4f};
  for (int i = 0; i < 20; ++i) EXPECT_NEAR(t[i], expected[i], 0.01) << i;
  EXPECT_EQ(t[20], 0.0f);

  float set[28] = {};
  set[0] = 80.5f;     // temperature high alarm
  set[1] = -0.5f;     // temperature low alarm
  set[4] = 0.04999f;  // Vcc high alarm: truncated
  set[12] = 6.0f;     // Tx bias high alarm
  ASSERT_TRUE(module.WriteThresholds(set));
  EXPECT_EQ(Peek(0x02, 0x80) << 8 | Peek(0x02, 0x81), 80 * 256 + 128);
  EXPECT_EQ(Peek(0x02, 0x82) << 8 | Peek(0x02, 0x83), 0xFF80);
  EXPECT_EQ(Peek(0x02, 0x88) << 8 | Peek(0x02, 0x89), 499);
  EXPECT_EQ(Peek(0x02, 0xB8) << 8 | Peek(0x02, 0xB9), 3000);
  EXPECT_EQ(Peek(0x02, 0xC0) << 8 | Peek(0x02, 0xC1), 10000);  // Rx power high alarm 0 dBm
}

TEST_F(ModuleOperations, PasswordAndPageCodesGoToThePasswordEntry) {
  qsfp_dd::CQSFP_DD fresh(&device);
  EXPECT_FALSE(fresh.PasswordEntered());
  EXPECT_FALSE(fresh.IdentityMatch());
  ASSERT_TRUE(module.EnterPassword(true));
  EXPECT_TRUE(module.PasswordEntered());
  auto sent = Exchanges();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], Write(0, 0x7A, 4));
  EXPECT_TRUE(module.CheckPassword());  // the password reads back
  Exchanges();
  EXPECT_FALSE(module.SendPageCodeFor(0xA4, 0x02, 0x80));
  EXPECT_TRUE(Exchanges().empty());
  ASSERT_TRUE(module.SendPageCodeFor(0xA0, 0x02, 0x80));
  ASSERT_TRUE(module.SendPageCode(0xA0B180));
  sent = Exchanges();
  ASSERT_EQ(sent.size(), 2u);
  // Page codes travel least significant byte first; page 02h and page B1h
  // codes differ by their page number.
  EXPECT_EQ(sent[0].data[0], 0x02);
  EXPECT_EQ(sent[1].data[0], 0xB1);
  EXPECT_NE(sent[0].data, sent[1].data);
  EXPECT_FALSE(module.CheckPassword());
}

TEST_F(ModuleOperations, CalibrationFitsWriteTheirCoefficients) {
  const uint32_t counts[] = {1, 2};
  const float powers[] = {2.0f, 4.0f};
  ASSERT_TRUE(module.FitTxPowerCalibration(7, counts, powers, 2, 1));
  const auto c = module.TxCalibration(7);
  EXPECT_NEAR(c[3], 2.0f, 1e-6);  // x^1
  EXPECT_NEAR(c[4], 0.0f, 1e-6);  // x^0
  EXPECT_EQ(c[0], 0.0f);
  auto sent = Exchanges();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], Write(0xB3, 0x80, 20));  // lanes 7-8 at page B3h
  float slope;
  std::memcpy(&slope, &sent[0].data[12], 4);  // fourth float, least significant byte first
  EXPECT_NEAR(slope, 2.0f, 1e-6);

  ASSERT_TRUE(module.FitTxPowerCalibration(2, counts, powers, 2, 0));  // first point only
  EXPECT_EQ(Exchanges()[0], Write(0xB2, 0x88 + 20, 20));
  EXPECT_FALSE(module.FitTxPowerCalibration(1, counts, powers, 2, 5));
  EXPECT_FALSE(module.FitTxPowerCalibration(1, counts, powers, 0, 1));
  EXPECT_TRUE(Exchanges().empty());

  ASSERT_TRUE(module.FitRxPowerCalibration(3, counts, powers, 2, 1));
  sent = Exchanges();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], Write(0xB3, 0xA8 + 8, 4));

  ASSERT_TRUE(module.WriteTempOffset(1.5f, 4.0f));
  EXPECT_EQ(module.TempOffset(), 2.5f);
  sent = Exchanges();
  EXPECT_EQ(sent[0], Write(0xB3, 0xCC, 4));
  EXPECT_EQ(sent[0].data, (std::vector<uint8_t>{0x00, 0x00, 0x20, 0x40}));
}

}  // namespace
