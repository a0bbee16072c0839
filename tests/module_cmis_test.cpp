// CMIS decoding: what the module advertises and how the refreshes follow
// it, the DDM and thresholds under the bias multiplier, the interrupt, flag
// summary and output status, applications, revisions, flags, media data,
// controls, page checksums and tuning. Small fixtures poked into the
// emulated module, and the lab's real dumps when the shared folder is at
// hand.
#include <cmath>
#include <fstream>
#include <sstream>

#include "module/cmis_decode.h"
#include "module/ddm.h"
#include "module/info.h"
#include "tests/module_test_support.h"

namespace {

using namespace module_test;

struct Cmis : ModuleFixture {
  void SetUp() override {
    ModuleFixture::SetUp();
    Freeze();  // plain memory: what is poked is what is read
  }
  void PokeWord(uint8_t page, uint8_t reg, uint16_t value) {
    Poke(page, reg, static_cast<uint8_t>(value >> 8));
    Poke(page, static_cast<uint8_t>(reg + 1), static_cast<uint8_t>(value));
  }
  // Application descriptor `app_sel` (1-15): lower memory for 1-8, page 01h for 9-15.
  void PokeApp(int app_sel, uint8_t host, uint8_t media, uint8_t lanes, uint8_t options) {
    const uint8_t page = app_sel <= 8 ? 0x00 : 0x01;
    const auto reg =
        static_cast<uint8_t>(app_sel <= 8 ? 86 + 4 * (app_sel - 1) : 223 + 4 * (app_sel - 9));
    const uint8_t bytes[] = {host, media, lanes, options};
    for (int i = 0; i < 4; ++i) Poke(page, static_cast<uint8_t>(reg + i), bytes[i]);
  }
  // The active control set of every lane (page 11h 206-213).
  void PokeActive(const std::array<uint8_t, 8>& config) {
    for (int lane = 0; lane < 8; ++lane) Poke(0x11, static_cast<uint8_t>(206 + lane), config[lane]);
  }
  // Loads one of the lab's dumps; false when the shared folder is not at hand.
  bool LoadLab(const std::string& name) {
    const auto dir = FixtureDir();
    if (dir.empty()) return false;
    std::ifstream in(dir / name);
    if (!in) return false;
    std::stringstream text;
    text << in.rdbuf();
    std::string error;
    auto lock = board->Lock();
    EXPECT_TRUE(board->Module().LoadDump(text.str(), &error)) << name << ": " << error;
    board->Module().SetLive(false);
    return true;
  }
  // Everything a view decodes from: advertisement, status, alarms, controls, monitors.
  ModuleImages ReadAll() {
    EXPECT_TRUE(module.ReadAdvertisement());
    EXPECT_TRUE(module.ReadStatusImage());
    EXPECT_TRUE(module.ReadAlarmImage());
    EXPECT_TRUE(module.ReadControlImage());
    EXPECT_TRUE(module.ReadMonitors());
    EXPECT_TRUE(module.ReadTuningImage());
    return module.Snapshot();
  }
  static bool ReadsPage(const std::vector<Exchange>& sent, uint8_t page) {
    for (const Exchange& e : sent)
      if (e.command == 0x07 && e.reg >= 0x80 && e.page == page) return true;
    return false;
  }
};

// ---- The advertisement and how the refreshes follow it ----

TEST_F(Cmis, TheAdvertisementIsReadOncePerModuleIdentity) {
  // A fresh object reads it before its first refresh, and only then.
  ASSERT_TRUE(module.ReadStatusImage());
  auto sent = Exchanges();
  EXPECT_TRUE(ReadsPage(sent, 0x01));
  EXPECT_EQ(sent.front(), Read(0, 0x00, 3));
  ASSERT_TRUE(module.ReadStatusImage());
  EXPECT_EQ(Exchanges().size(), 4u);

  // Asked again for the same module, it checks the identity and re-reads
  // only the firmware revision, fault cause and active control set.
  ASSERT_TRUE(module.ReadAdvertisement());
  EXPECT_EQ(Exchanges(),
            (std::vector<Exchange>{Read(0, 0x00, 3), Read(0, 0x80, 50), Read(0, 0xB2, 50),
                                   Read(0, 0xE4, 28), Read(0, 39, 3), Read(0x11, 206, 8)}));
  // Another module (another serial number): everything again, and the
  // images of the one before are forgotten.
  Poke(0x00, 170, 'X');
  ASSERT_TRUE(module.ReadAdvertisement());
  sent = Exchanges();
  EXPECT_TRUE(ReadsPage(sent, 0x01));
  EXPECT_TRUE(ReadsPage(sent, 0x02));
  EXPECT_FALSE(module.Snapshot().Current(0x11, 0x80));

  // A failed refresh makes the next one check the identity first.
  board->DropAnswers(1);
  EXPECT_FALSE(module.ReadStatusImage());
  Exchanges();
  ASSERT_TRUE(module.ReadStatusImage());
  EXPECT_EQ(Exchanges().front(), Read(0, 0x00, 3));
}

TEST_F(Cmis, AFlatMemoryModuleGetsNoUpperPageReads) {
  Poke(0, 0x02, 0x80);  // flat memory: page 00h only
  const struct {
    const char* name;
    std::function<BoardResult()> refresh;
  } cases[] = {
      {"advertisement", [&] { return module.ReadAdvertisement(); }},
      {"status", [&] { return module.ReadStatusImage(); }},
      {"alarms", [&] { return module.ReadAlarmImage(); }},
      {"controls", [&] { return module.ReadControlImage(); }},
      {"masks", [&] { return module.ReadMaskImage(); }},
      {"monitors", [&] { return module.ReadMonitors(); }},
      {"thresholds", [&] { return module.ReadThresholds(); }},
      {"tuning", [&] { return module.ReadTuningImage(); }},
  };
  for (const auto& c : cases) {
    Exchanges();
    EXPECT_TRUE(c.refresh()) << c.name;
    const auto sent = Exchanges();
    for (uint8_t page : {0x01, 0x02, 0x10, 0x11, 0x12})
      EXPECT_FALSE(ReadsPage(sent, page)) << c.name << " read page " << int(page);
  }
  const ModuleImages images = module.Snapshot();
  const cmis::Advertisement a = cmis::DecodeAdvertisement(images);
  ASSERT_TRUE(a.known);
  EXPECT_TRUE(a.flat_memory);
  EXPECT_EQ(a.pages, std::vector<uint8_t>{0x00});
  EXPECT_FALSE(images.Current(0x11, 0x80));
  // Nothing the module did not give decodes as a number.
  const DdmReadings ddm = DecodeDdm(images);
  EXPECT_EQ(ddm.temperature.text, "n/a");
  for (const DdmValue* v : {&ddm.vcc, &ddm.bias[0], &ddm.tx_power[7], &ddm.rx_power[3]}) {
    EXPECT_FALSE(v->HasReading());
    EXPECT_TRUE(std::isnan(v->value));
  }
  EXPECT_TRUE(std::isnan(module.Thresholds()[0]));
  float set[28] = {};
  Exchanges();
  EXPECT_EQ(module.WriteThresholds(set).status, BoardStatus::kRefused);
  EXPECT_TRUE(Exchanges().empty());
  for (const auto& t : cmis::DecodeThresholds(images)) EXPECT_FALSE(t.value) << t.quantity;
}

TEST_F(Cmis, AdvertisedPagesMonitorsAndLanes) {
  // The emulated SR8 advertises the temperature, supply and lane monitors,
  // runs 400GAUI-8 / 400GBASE-SR8 on all eight lanes.
  cmis::Advertisement a = cmis::DecodeAdvertisement(ReadAll());
  ASSERT_TRUE(a.known);
  EXPECT_EQ(a.revision.Text(), "5.0");
  EXPECT_EQ(a.pages, (std::vector<uint8_t>{0x00, 0x01, 0x02, 0x10, 0x11}));
  EXPECT_TRUE(a.monitors.temperature && a.monitors.vcc && a.monitors.tx_bias &&
              a.monitors.tx_power && a.monitors.rx_power);
  EXPECT_FALSE(a.monitors.aux1);
  EXPECT_EQ(a.bias_multiplier, 1);
  EXPECT_EQ(a.media_lanes, 8);
  EXPECT_EQ(a.lane_source, cmis::Advertisement::LaneSource::kActive);

  // Optional pages, two banks, a tunable transmitter; the temperature
  // monitor and Tx bias only; two 100G-LR4 data paths on a module whose
  // application has four media lanes.
  Poke(0x01, 142, 0x6D);  // bits 6 (VDM), 5 (13h-14h), 3 (05h), 2 (03h); banks 01b
  Poke(0x01, 155, 0x40);
  Poke(0x01, 159, 0x01);
  Poke(0x01, 160, 0x01);
  PokeApp(1, 0x0B, 0x0D, 0x44, 0x11);
  PokeActive({0x10, 0x10, 0x10, 0x10, 0x18, 0x18, 0x18, 0x18});
  Poke(0x00, 170, 'Y');  // another module
  const ModuleImages images = ReadAll();
  a = cmis::DecodeAdvertisement(images);
  EXPECT_EQ(a.banks, 2);
  EXPECT_TRUE(a.tunable);
  for (uint8_t page : {0x03, 0x04, 0x05, 0x12, 0x13, 0x14, 0x20, 0x2F})
    EXPECT_TRUE(a.HasPage(page)) << int(page);
  EXPECT_FALSE(a.HasPage(0x16));
  EXPECT_EQ(a.media_lanes, 8);
  const DdmReadings ddm = DecodeDdm(images);
  EXPECT_TRUE(ddm.temperature.HasReading());
  EXPECT_EQ(ddm.vcc.text, "n/a");
  EXPECT_TRUE(ddm.bias[0].HasReading());
  EXPECT_EQ(ddm.tx_power[0].state, DdmState::kNotSupported);
  EXPECT_EQ(ddm.rx_power[0].state, DdmState::kNotSupported);

  // One data path only: lanes 5-8 carry nothing.
  PokeActive({0x10, 0x10, 0x10, 0x10, 0, 0, 0, 0});
  ASSERT_TRUE(module.ReadAdvertisement());
  const DdmReadings half = DecodeDdm(module.Snapshot());
  EXPECT_TRUE(half.bias[3].HasReading());
  EXPECT_EQ(half.bias[4].text, "n/a");
  EXPECT_EQ(cmis::DecodeAdvertisement(module.Snapshot()).media_lanes, 4);
  // No active application: the default one (AppSel 1) on both of its starts.
  PokeActive({0, 0, 0, 0, 0, 0, 0, 0});
  ASSERT_TRUE(module.ReadAdvertisement());
  a = cmis::DecodeAdvertisement(module.Snapshot());
  EXPECT_EQ(a.lane_source, cmis::Advertisement::LaneSource::kDefaultApplication);
  EXPECT_EQ(a.media_lanes, 8);
}

// ---- The Tx bias multiplier ----

TEST_F(Cmis, TxBiasMonitorAndThresholdsTakeTheAdvertisedMultiplier) {
  PokeWord(0x11, 0xAA, 3000);  // lane 1 bias: 6 mA at x1
  PokeWord(0x02, 0xB8, 6500);  // bias high alarm: 13 mA at x1
  const struct {
    uint8_t page01_byte160;
    std::optional<int> multiplier;
  } cases[] = {{0x07, 1}, {0x0F, 2}, {0x17, 4}, {0x1F, std::nullopt}};
  for (const auto& c : cases) {
    Poke(0x01, 160, c.page01_byte160);
    Poke(0x00, 170, static_cast<uint8_t>('A' + c.page01_byte160));  // another module each time
    ASSERT_TRUE(module.ReadAdvertisement());
    ASSERT_TRUE(module.ReadMonitors());
    ASSERT_TRUE(module.ReadThresholds());
    const ModuleImages images = module.Snapshot();
    const DdmValue bias = DecodeDdm(images).bias[0];
    const float threshold = module.Thresholds()[12];
    const cmis::ThresholdValue decoded = cmis::DecodeThresholds(images)[12];
    if (c.multiplier) {
      EXPECT_FLOAT_EQ(bias.value, 6.0f * *c.multiplier) << int(c.page01_byte160);
      EXPECT_FLOAT_EQ(threshold, 13.0f * *c.multiplier);
      ASSERT_TRUE(decoded.value);
      EXPECT_NEAR(*decoded.value, 13.0 * *c.multiplier, 1e-9);
    } else {
      // Reserved: unknown, not guessed.
      EXPECT_EQ(bias.state, DdmState::kUnknownScale);
      EXPECT_EQ(bias.text, "unknown");
      EXPECT_TRUE(std::isnan(threshold));
      EXPECT_FALSE(decoded.value);
      float set[28] = {};
      Exchanges();
      EXPECT_EQ(module.WriteThresholds(set).status, BoardStatus::kRefused);
      EXPECT_TRUE(Exchanges().empty());
    }
  }
  // Writing takes the multiplier back out: 26 mA at x2 is raw 6500.
  Poke(0x01, 160, 0x0F);
  Poke(0x00, 170, 'Z');
  ASSERT_TRUE(module.ReadAdvertisement());
  float set[28] = {};
  set[12] = 26.0f;
  ASSERT_TRUE(module.WriteThresholds(set));
  EXPECT_EQ(Peek(0x02, 0xB8) << 8 | Peek(0x02, 0xB9), 6500);
}

// ---- Interrupt, flag summary, output status ----

TEST_F(Cmis, InterruptFlagSummaryAndOutputStatus) {
  EXPECT_FALSE(cmis::InterruptAsserted(module.Snapshot()));  // not read: nothing
  const struct {
    uint8_t byte3;
    bool asserted;
  } interrupts[] = {{0x07, false}, {0x06, true}, {0x01, false}, {0x00, true}};
  for (const auto& c : interrupts) {
    Poke(0, 3, c.byte3);
    ASSERT_TRUE(module.ReadStatusImage());
    EXPECT_EQ(cmis::InterruptAsserted(module.Snapshot()), c.asserted) << int(c.byte3);
  }

  // Lower byte 4 by revision: pages from 5.0 on, lanes before.
  Poke(0, 4, 0x09);
  ASSERT_TRUE(module.ReadStatusImage());
  cmis::FlagSummary s = cmis::DecodeFlagSummary(module.Snapshot());
  ASSERT_TRUE(s.available);
  EXPECT_TRUE(s.by_page);
  ASSERT_EQ(s.bits.size(), 4u);
  EXPECT_EQ(s.bits[0].name, "Page 11h");
  EXPECT_TRUE(s.bits[0].set);
  EXPECT_FALSE(s.bits[1].set);
  EXPECT_EQ(s.bits[3].name, "Page 2Ch");
  EXPECT_TRUE(s.bits[3].set);
  Poke(0, 1, 0x41);  // CMIS 4.1
  Poke(0x00, 170, 'Q');
  ASSERT_TRUE(module.ReadAdvertisement());
  ASSERT_TRUE(module.ReadStatusImage());
  s = cmis::DecodeFlagSummary(module.Snapshot());
  EXPECT_FALSE(s.by_page);
  ASSERT_EQ(s.bits.size(), 8u);
  EXPECT_EQ(s.bits[3].name, "Lane 4");
  EXPECT_TRUE(s.bits[3].set);
  EXPECT_FALSE(s.bits[2].set);

  // Page 11h 132 is Rx and 133 Tx output status; 1 is a valid output.
  Poke(0x11, 132, 0xF0);
  Poke(0x11, 133, 0x0F);
  ASSERT_TRUE(module.ReadStatusImage());
  const cmis::OutputStatus o = cmis::DecodeOutputStatus(module.Snapshot());
  EXPECT_EQ(o.tx[0], true);
  EXPECT_EQ(o.tx[4], false);
  EXPECT_EQ(o.rx[0], false);
  EXPECT_EQ(o.rx[7], true);
}

// ---- Full precision ----

TEST_F(Cmis, IdentificationAtFullPrecisionWhileTheInfoRowsStay) {
  Poke(0x00, 201, 41);          // 10.25 W
  PokeWord(0x01, 138, 26024);   // 1301.20 nm
  PokeWord(0x01, 140, 7301);    // 36.505 nm
  PokeWord(0x02, 0x8C, 34650);  // Vcc high warning 3.465 V
  const ModuleImages images = ReadAll();
  const cmis::Identity id = cmis::DecodeIdentity(images);
  ASSERT_TRUE(id.available);
  EXPECT_EQ(id.max_power_text, "10.25 W");
  EXPECT_DOUBLE_EQ(id.max_power_w, 10.25);
  EXPECT_EQ(id.wavelength_text, "1301.20 nm");
  EXPECT_EQ(id.tolerance_text, "36.505 nm");
  EXPECT_EQ(id.vendor_name.raw, "VORLANIX        ");
  EXPECT_EQ(id.vendor_name.trimmed, "VORLANIX");
  EXPECT_EQ(id.date_code.raw, "261209  ");
  EXPECT_EQ(id.date_code.trimmed, "261209");
  EXPECT_EQ(cmis::DecodeThresholds(images)[6].text, "3.465");
  // The information page's rows keep their own formats.
  const auto rows = ReadInformation(module);
  EXPECT_EQ(rows[2].value, "10");
  EXPECT_EQ(rows[10].value, "1301");
}

// ---- Applications, revisions, flags, media, controls ----

TEST_F(Cmis, ApplicationsFromLowerMemoryAndPage01h) {
  // Eight descriptors in lower memory, a ninth in page 01h, then the end.
  for (int app = 1; app <= 8; ++app) PokeApp(app, 0x0B, 0x0D, 0x44, 0x11);
  PokeApp(9, 0x4D, 0x00, 0x22, 0x55);
  PokeApp(10, 0xFF, 0, 0, 0);
  PokeApp(11, 0x11, 0x1C, 0x88, 0x01);  // past the end: ignored
  Poke(0x01, 176, 0x11);
  Poke(0x01, 184, 0x55);
  Poke(0, 85, 0x02);
  Poke(0x10, 145, 0x23);  // staged: AppSel 2, data path from lane 2, explicit control
  const cmis::Applications apps = cmis::DecodeApplications(ReadAll());
  ASSERT_TRUE(apps.available);
  EXPECT_EQ(apps.media_type_name, "Optical interfaces: single-mode fibre (SMF)");
  ASSERT_EQ(apps.list.size(), 9u);
  EXPECT_EQ(apps.list[0].host_name, "CAUI-4 C2M (Annex 83E)");
  EXPECT_EQ(apps.list[0].media_name, "100GBASE-LR4 (Clause 88)");
  EXPECT_EQ(apps.list[0].host_lanes, 4);
  EXPECT_EQ(apps.list[0].media_lanes, 4);
  EXPECT_EQ(apps.list[0].media_lane_options, 0x11);
  EXPECT_EQ(apps.list[8].app_sel, 9);
  EXPECT_EQ(apps.list[8].host_name, "200GAUI-2-S C2M (Annex 120G)");
  EXPECT_EQ(apps.list[8].media_lane_options, 0x55);
  ASSERT_TRUE(apps.active[0]);
  EXPECT_EQ(apps.active[0]->app_sel, 1);
  ASSERT_TRUE(apps.staged0[0]);
  EXPECT_EQ(apps.staged0[0]->app_sel, 2);
  EXPECT_EQ(apps.staged0[0]->data_path, 2);
  EXPECT_TRUE(apps.staged0[0]->explicit_control);

  // Media interface names follow the media type.
  const struct {
    uint8_t media_type, code;
    const char* name;
  } names[] = {{0x01, 0x10, "400GBASE-SR8 (Clause 138)"},
               {0x03, 0x01, "Copper cable"},
               {0x04, 0x02, "Active cable assembly with BER < 5x10^-5"},
               {0x05, 0x04, "10GBASE-T (Clause 55)"},
               {0x02, 0xE0, "Custom (0xE0)"},
               {0x02, 0x9A, "Reserved or not listed (0x9A)"}};
  for (const auto& n : names) {
    Poke(0, 85, n.media_type);
    PokeApp(1, 0x11, n.code, 0x88, 0x01);
    Poke(0x00, 170, static_cast<uint8_t>(n.code));
    ASSERT_TRUE(module.ReadAdvertisement());
    EXPECT_EQ(cmis::DecodeApplications(module.Snapshot()).list[0].media_name, n.name);
  }
}

TEST_F(Cmis, RevisionsFlagsAndFaultCause) {
  Poke(0, 39, 3);
  Poke(0, 40, 12);
  Poke(0x01, 128, 3);
  Poke(0x01, 129, 11);
  Poke(0x01, 130, 1);
  Poke(0x01, 131, 2);
  Poke(0, 8, 0x07);       // state changed, module and data path firmware errors
  Poke(0, 9, 0x21);       // temperature high alarm, Vcc low alarm
  Poke(0, 41, 0x01);      // TEC runaway
  Poke(0x11, 139, 0x04);  // Tx power high alarm, lane 3
  Poke(0x11, 149, 0x80);  // Rx power high alarm, lane 8
  const ModuleImages images = ReadAll();
  const cmis::Revisions r = cmis::DecodeRevisions(images);
  EXPECT_EQ(r.cmis->Text(), "5.0");
  EXPECT_EQ(r.active_firmware->Text(), "3.12");
  EXPECT_EQ(r.inactive_firmware->Text(), "3.11");
  EXPECT_EQ(r.hardware->Text(), "1.2");

  const cmis::ModuleFlags f = cmis::DecodeModuleFlags(images);
  std::vector<std::string> set;
  for (const auto* group : {&f.module, &f.lanes})
    for (const cmis::FlagValue& v : *group)
      if (v.set.value_or(false))
        set.push_back(std::string(v.flag->key) + (v.lane ? ":" + std::to_string(v.lane) : ""));
  EXPECT_EQ(
      set, (std::vector<std::string>{"module-state-changed", "module-firmware-error",
                                     "data-path-firmware-error", "temp-high-alarm", "vcc-low-alarm",
                                     "tx-power-high-alarm:3", "rx-power-high-alarm:8"}));
  EXPECT_EQ(f.fault_cause, 1);
  EXPECT_EQ(f.fault_cause_name, "TEC runaway");

  // Media lane flags of lanes the application does not use are not listed.
  PokeActive({0x10, 0x10, 0x10, 0x10, 0, 0, 0, 0});
  PokeApp(1, 0x0B, 0x0D, 0x44, 0x11);
  Poke(0x00, 170, 'F');  // another module
  ASSERT_TRUE(module.ReadAdvertisement());
  ASSERT_TRUE(module.ReadStatusImage());
  ASSERT_TRUE(module.ReadAlarmImage());
  for (const cmis::FlagValue& v : cmis::DecodeModuleFlags(module.Snapshot()).lanes)
    EXPECT_LE(v.lane, 4) << v.flag->key;
}

TEST_F(Cmis, MediaCableReachAndAuxMonitors) {
  Poke(0x00, 202, 0x85);    // 5 x 10 m
  Poke(0x00, 203, 0x07);    // LC
  Poke(0x01, 132, 0x4A);    // SMF 10 x 1 km
  Poke(0x01, 134, 50);      // OM4 100 m
  Poke(0x01, 151, 0x10);    // Rx power measured as average
  Poke(0x01, 146, 0x46);    // case 70 degC
  Poke(0x01, 147, 0xFB);    // down to -5 degC
  Poke(0x01, 145, 0x85);    // cooled; Aux 1 TEC current, Aux 2 laser temperature, Aux 3 Vcc2
  Poke(0x01, 159, 0x1F);    // temperature, Vcc, Aux 1-3
  PokeWord(0, 18, 16384);   // half the maximum TEC current
  PokeWord(0, 20, 0x4180);  // 65.5 degC
  PokeWord(0, 22, 18000);   // 1.8 V
  const cmis::MediaInfo m = cmis::DecodeMedia(ReadAll());
  ASSERT_TRUE(m.available);
  EXPECT_EQ(m.media_type_name, "Optical interfaces: multimode fibre (MMF)");
  EXPECT_EQ(m.connector_name, "LC(Lucent Connector)");
  EXPECT_EQ(m.cable_length_m, 50.0);
  EXPECT_EQ(m.cable_length_text, "50.0 m");
  EXPECT_EQ(m.reach.smf_km, 10.0);
  EXPECT_EQ(m.reach.om4_m, 100.0);
  EXPECT_FALSE(m.reach.om3_m);
  EXPECT_EQ(m.rx_power_average, true);
  EXPECT_EQ(m.case_temp_max_c, 70);
  EXPECT_EQ(m.case_temp_min_c, -5);
  EXPECT_EQ(m.cooled, true);
  EXPECT_STREQ(m.aux[0].kind_name, "TEC current");
  EXPECT_NEAR(*m.aux[0].value, 50.0, 0.01);
  EXPECT_STREQ(m.aux[1].kind_name, "laser temperature");
  EXPECT_EQ(m.aux[1].text, "65.50");
  EXPECT_STREQ(m.aux[2].kind_name, "Vcc2");
  EXPECT_EQ(m.aux[2].text, "1.8000");
  EXPECT_FALSE(m.aux[3].supported);
  EXPECT_EQ(m.aux[3].text, "not supported");

  Poke(0x00, 202, 0x00);  // separable media: no length
  ASSERT_TRUE(module.ReadAdvertisement());
  EXPECT_FALSE(cmis::DecodeMedia(module.Snapshot()).cable_length_m);
}

TEST_F(Cmis, ControlsAsTheControlImageHoldsThem) {
  Poke(0, 0x1A, 0x50);     // LowPwr, ForceLowPwr
  Poke(0x10, 0x80, 0x01);  // DataPathDeinit lane 1
  Poke(0x10, 0x82, 0x80);  // Tx disable lane 8
  Poke(0x10, 0x89, 0x02);  // Rx polarity flip lane 2
  Poke(0x10, 0x84, 0x04);  // Tx force squelch lane 3
  const auto rows = cmis::DecodeControls(ReadAll());
  auto row = [&rows](const char* key) {
    for (const auto& r : rows)
      if (std::string(r.key) == key) return r;
    ADD_FAILURE() << key;
    return rows.front();
  };
  EXPECT_EQ(row("low-power").values[0], 1);
  EXPECT_EQ(row("force-low-power").values[0], 1);
  EXPECT_EQ(row("squelch-method").values[0], 0);
  EXPECT_EQ(row("dp-deinit").values[0], 1);
  EXPECT_EQ(row("dp-deinit").values[1], 0);
  EXPECT_EQ(row("tx-disable").values[7], 1);
  EXPECT_EQ(row("rx-polarity-flip").values[1], 1);
  EXPECT_EQ(row("tx-force-squelch").values[2], 1);
  // Not read yet: nothing.
  qsfp_dd::CQSFP_DD fresh(&device);
  EXPECT_FALSE(cmis::DecodeControls(fresh.Snapshot())[3].values[0]);
}

// ---- Checksums ----

TEST_F(Cmis, PageChecksumsExpectedAgainstComputed) {
  // Give the pages right checksums (whatever the emulated module holds),
  // then spoil page 00h.
  for (const auto& [page, first, last, at] : std::vector<std::array<int, 4>>{
           {0x00, 128, 221, 222}, {0x01, 130, 254, 255}, {0x02, 128, 254, 255}}) {
    unsigned sum = 0;
    for (int reg = first; reg <= last; ++reg)
      sum += Peek(static_cast<uint8_t>(page), static_cast<uint8_t>(reg));
    Poke(static_cast<uint8_t>(page), static_cast<uint8_t>(at), static_cast<uint8_t>(sum));
  }
  std::vector<cmis::PageChecksum> sums = cmis::VerifyChecksums(ReadAll());
  ASSERT_EQ(sums.size(), 3u);
  for (const auto& c : sums) EXPECT_TRUE(c.available && c.ok) << int(c.page);
  const uint8_t good = Peek(0x00, 222);
  Poke(0x00, 222, static_cast<uint8_t>(good + 1));
  ASSERT_TRUE(module.ReadAdvertisement());  // another key: read again
  sums = cmis::VerifyChecksums(module.Snapshot());
  EXPECT_FALSE(sums[0].ok);
  EXPECT_EQ(sums[0].stored, static_cast<uint8_t>(good + 1));
  EXPECT_EQ(sums[0].computed, good);
  EXPECT_TRUE(sums[1].ok);
}

// ---- Tuning ----

TEST_F(Cmis, TunableTransmitter) {
  // Not tunable: page 12h is never read.
  Exchanges();
  ASSERT_TRUE(module.ReadTuningImage());
  EXPECT_FALSE(ReadsPage(Exchanges(), 0x12));
  EXPECT_FALSE(cmis::DecodeTuning(module.Snapshot()).supported);

  // One coherent lane on the 100 GHz grid, channel -5, tuning.
  Poke(0x01, 155, 0x40);
  PokeApp(1, 0x11, 0x3E, 0x81, 0x01);
  PokeActive({0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10});
  Poke(0x00, 170, 'T');
  Poke(0x12, 128, 0x50);
  PokeWord(0x12, 136, static_cast<uint16_t>(-5));
  PokeWord(0x12, 168, 0x0B7A);  // 192,600,000 MHz
  PokeWord(0x12, 170, 0xD7C0);
  PokeWord(0x12, 200, static_cast<uint16_t>(-1000));
  Poke(0x12, 222, 0x02);
  ASSERT_TRUE(module.ReadAdvertisement());
  ASSERT_TRUE(module.ReadTuningImage());
  const cmis::Tuning t = cmis::DecodeTuning(module.Snapshot());
  ASSERT_TRUE(t.available);
  ASSERT_EQ(t.lanes.size(), 1u);
  EXPECT_EQ(t.lanes[0].grid_ghz, 100.0);
  EXPECT_EQ(t.lanes[0].channel, -5);
  EXPECT_NEAR(*t.lanes[0].frequency_thz, 192.6, 1e-9);
  EXPECT_NEAR(*t.lanes[0].current_frequency_thz, 192.6, 1e-9);
  EXPECT_DOUBLE_EQ(t.lanes[0].target_power_dbm, -10.0);
  EXPECT_TRUE(t.lanes[0].tuning_in_progress);
  EXPECT_FALSE(t.lanes[0].wavelength_unlocked);
}

// ---- The lab's dumps ----

TEST_F(Cmis, LabDumpsDecode) {
  const struct {
    const char* file;
    const char* revision;
    bool flat;
    size_t applications;
    const char* host1;
    const char* media1;
    int media_lanes;
    std::optional<int> bias_multiplier;
    const char* active_firmware;
    bool tunable;
  } dumps[] = {
      {"acacia_dp04qsdd-e30-440a_400zrp.txt", "4.1", false, 2, "400GAUI-8 C2M (Annex 120E)",
       "400ZR, DWDM, amplified", 1, 4, "61.11", true},
      {"cig_trd5h20enf-lf000.txt", "4.0", false, 2, "400GAUI-8 C2M (Annex 120E)", "400G-LR4-10", 4,
       1, "3.4", false},
      {"eoptolink_eold-168hg-10-1.txt", "5.0", false, 9, "400GAUI-4-S C2M (Annex 120G)",
       "400G-LR4-10", 8, 1, "3.2", false},
      {"hisense_def8504-2c02-mb3.txt", "5.2", false, 1, "CAUI-4 C2M (Annex 83E)",
       "Active cable assembly with BER < 5x10^-5", 4, 1, "0.5", false},
      {"juniper_740-079871.txt", "3.0", false, 1, "CAUI-4 C2M (Annex 83E)",
       "100GBASE-LR4 (Clause 88)", 8, 1, "0.0", false},
      {"juniper_740-157132_400zr.txt", "5.0", false, 3, "400GAUI-8 C2M (Annex 120E)",
       "400ZR, DWDM, amplified", 1, 4, "2.3", true},
      {"juniper_740-174932_osfp800g_dr8.txt", "5.1", false, 10, "400GAUI-4-S C2M (Annex 120G)",
       "400GBASE-DR4 (Clause 124)", 8, 1, "0.13", false},
      {"mellanox_mcp1660-w00ae30_dac.txt", "3.0", true, 8, "400G CR8", "Copper cable", 8,
       std::nullopt, "0.0", false},
  };
  int loaded = 0;
  for (const auto& d : dumps) {
    if (!LoadLab(d.file)) continue;
    ++loaded;
    const ModuleImages images = ReadAll();
    const cmis::Advertisement a = cmis::DecodeAdvertisement(images);
    ASSERT_TRUE(a.known) << d.file;
    EXPECT_EQ(a.revision.Text(), d.revision) << d.file;
    EXPECT_EQ(a.flat_memory, d.flat) << d.file;
    EXPECT_EQ(a.media_lanes, d.media_lanes) << d.file;
    EXPECT_EQ(a.bias_multiplier, d.bias_multiplier) << d.file;
    EXPECT_EQ(a.tunable, d.tunable) << d.file;
    const cmis::Applications apps = cmis::DecodeApplications(images);
    ASSERT_EQ(apps.list.size(), d.applications) << d.file;
    EXPECT_EQ(apps.list[0].host_name, d.host1) << d.file;
    EXPECT_EQ(apps.list[0].media_name, d.media1) << d.file;
    EXPECT_EQ(cmis::DecodeRevisions(images).active_firmware->Text(), d.active_firmware) << d.file;
    for (const auto& c : cmis::VerifyChecksums(images)) {
      EXPECT_TRUE(!c.available || c.ok) << d.file << " page " << int(c.page);
    }
    EXPECT_EQ(cmis::DecodeTuning(images).available, d.tunable) << d.file;
  }
  if (!loaded) GTEST_SKIP() << "no module fixture folder";

  // A few fields the independent decoders of the same modules print.
  if (LoadLab("juniper_740-174932_osfp800g_dr8.txt")) {
    const ModuleImages images = ReadAll();
    const cmis::Applications apps = cmis::DecodeApplications(images);
    EXPECT_EQ(apps.list[4].host_name, "800GAUI-8 S C2M (Annex 120G)");
    EXPECT_EQ(apps.list[4].media_name, "800GBASE-DR8");
    EXPECT_EQ(apps.list[0].media_lane_options, 0x11);
    EXPECT_EQ(cmis::DecodeRevisions(images).hardware->Text(), "1.2");
    EXPECT_EQ(cmis::DecodeMedia(images).reach.smf_km, 0.5);
  }
  if (LoadLab("hisense_def8504-2c02-mb3.txt")) {
    const ModuleImages images = ReadAll();
    EXPECT_EQ(cmis::DecodeMedia(images).cable_length_text, "2.0 m");
    EXPECT_EQ(cmis::DecodeIdentity(images).max_power_text, "2.50 W");
  }
  if (LoadLab("acacia_dp04qsdd-e30-440a_400zrp.txt")) {
    const cmis::ModuleFlags f = cmis::DecodeModuleFlags(ReadAll());
    for (const cmis::FlagValue& v : f.lanes) {
      if (std::string(v.flag->key) != "rx-los") continue;
      EXPECT_EQ(v.set, v.lane == 1);
    }
  }
  if (LoadLab("juniper_740-157132_400zr.txt")) {
    // Tuned: channel 78 on the 75 GHz grid counts 25 GHz steps.
    const cmis::Tuning t = cmis::DecodeTuning(ReadAll());
    ASSERT_EQ(t.lanes.size(), 1u);
    EXPECT_EQ(t.lanes[0].grid_ghz, 75.0);
    EXPECT_EQ(t.lanes[0].channel, 78);
    EXPECT_NEAR(*t.lanes[0].frequency_thz, 195.05, 1e-9);
    EXPECT_NEAR(*t.lanes[0].current_frequency_thz, 195.05, 1e-9);
    EXPECT_DOUBLE_EQ(t.lanes[0].target_power_dbm, -10.0);
  }
}

}  // namespace
