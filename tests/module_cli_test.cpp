// lanewright-cli's module commands against the emulated board, run in-process.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "cli/cli.h"
#include "emulator/emulated_board.h"
#include "module/controls.h"
#include "module/module_dump.h"
#include "tests/cli_test_support.h"
#include "tests/module_test_support.h"

namespace {

namespace fs = std::filesystem;

std::shared_ptr<emu::EmulatedBoard> QuietBoard() {
  auto board = std::make_shared<emu::EmulatedBoard>();
  board->Module().SetNoise(false);
  return board;
}

using cli_test::CliResult;

CliResult RunCli(std::vector<std::string> args,
                 std::shared_ptr<emu::EmulatedBoard> board = nullptr) {
  return cli_test::RunCli(std::move(args), board ? board : QuietBoard());
}

fs::path TempPath(const std::string& name) {
  return fs::temp_directory_path() / ("lw-module-" + std::to_string(getpid()) + "-" + name);
}

TEST(CliModule, InfoPrintsTheFourteenRows) {
  auto r = RunCli({"info"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "Module Identifier  QSFP-DD Double Density 8X Pluggable Transceiver(INF-8628)\n"
            "Power Class        Class 4\n"
            "Max Power          10\n"
            "Vendor name        VORLANIX\n"
            "Vendor OUI(Hex)    0x00176A\n"
            "Part number        LW-QDD-400G-SR8\n"
            "Serial number      LWX2612090042\n"
            "Data Code          261209\n"
            "CLEI Code(IS)\n"
            "Vendor Revision    A1\n"
            "Wavelength(nm)     850\n"
            "Wavelength(nm)     10.00\n"
            "Device Technology  850 nm VCSEL\n"
            "Module Type        MPO 1X16\n");
}

TEST(CliModule, InfoDecodesEdgeValues) {
  auto board = QuietBoard();
  const struct {
    uint8_t reg, value;
  } pokes[] = {{128, 0x1F}, {200, 0xE0}, {201, 255},  {145, 0xAC},
               {146, 0xDE}, {147, 0x0B}, {212, 0x10}, {203, 0x29}};
  for (const auto& p : pokes) board->Module().Poke(0x00, p.reg, p.value);
  for (int i = 0; i < 10; ++i) board->Module().Poke(0x00, static_cast<uint8_t>(190 + i), 'A' + i);
  board->Module().Poke(0x00, 131, 0x00);  // the vendor name ends after two characters
  board->Module().Poke(0x01, 138, 0x66);
  board->Module().Poke(0x01, 139, 0x6C);
  board->Module().Poke(0x01, 140, 0x00);
  board->Module().Poke(0x01, 141, 0x64);
  board->Module().Poke(0x00, 132, 0xA9);  // a vendor name byte that is not UTF-8
  auto r = RunCli({"--json", "info"}, board);
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::pair<std::string, std::string>> rows;
  const auto info = cli_test::Json(r.out);
  for (const auto& row : info["rows"]) rows.emplace_back(row["label"], row["value"]);
  ASSERT_EQ(rows.size(), 14u);
  for (const std::pair<std::string, std::string> row : {
           std::pair{"Module Identifier", ""},
           {"Power Class", "Class 8"},
           {"Max Power", "63"},
           {"Vendor name", "VO"},
           {"Vendor OUI(Hex)", "0xACDE0B"},
           {"CLEI Code(IS)", "ABCDEFGHIJ"},
           {"Wavelength(nm)", "1311"},
           {"Wavelength(nm)", "0.50"},
           {"Device Technology", "Reserved"},
           {"Module Type", "Reserved"},
       })
    EXPECT_NE(std::find(rows.begin(), rows.end(), row), rows.end()) << row.first << "\nin:\n"
                                                                    << r.out;
  // The byte 0xA9 the module gave, as the character of that value.
  board->Module().Poke(0x00, 131, 'R');
  r = RunCli({"--json", "info"}, board);
  EXPECT_EQ(cli_test::Json(r.out)["rows"][3]["value"], "VOR\u00A9ANIX" + std::string(8, ' '))
      << r.out;
}

TEST(CliModule, DdmShowsValuesUnitsAndFlagMarks) {
  auto board = QuietBoard();
  board->Module().Poke(0x10, 0x82, 0x04);  // lane 3 Tx disabled
  auto r = RunCli({"ddm"}, board);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(
      r.out,
      "TEMP  38.50 \u2103\n"
      "VCC   3.29 V\n"
      "Channel  BIAS (mA)                      TX_PWR (dBm)                     RX_PWR (dBm)\n"
      "1        6.52                           -0.80                            -2.10\n"
      "2        6.61                           -1.10                            -2.50\n"
      "3        0.00 [low alarm, low warning]  -40.00 [low alarm, low warning]  -1.90\n"
      "4        6.70                           -1.30                            -2.80\n"
      "5        6.55                           -0.90                            -2.20\n"
      "6        6.63                           -0.70                            -2.40\n"
      "7        6.44                           -1.20                            -2.00\n"
      "8        6.58                           -1.00                            -2.60\n");
  r = RunCli({"ddm", "--json"}, board);
  ASSERT_EQ(r.status, 0) << r.err;
  const auto lane3 = cli_test::Json(r.out)["lanes"][2];
  EXPECT_EQ(lane3["lane"], 3);
  // A disabled lane's laser is off: no bias current either.
  EXPECT_EQ(lane3["bias"], nlohmann::json::parse(R"({"value": 0.0, "text": "0.00", "unit": "mA",
                                                     "flags": ["low alarm", "low warning"]})"));
  EXPECT_EQ(lane3["tx_power"],
            nlohmann::json::parse(R"({"value": -40.0, "text": "-40.00", "unit": "dBm",
                                      "flags": ["low alarm", "low warning"]})"));
  EXPECT_EQ(cli_test::Json(r.out)["temperature"]["unit"], "\u2103");
}

TEST(CliModule, DdmAppendsCsvRowsUnderOneHeader) {
  const auto path = TempPath("ddm.csv");
  fs::remove(path);
  auto board = QuietBoard();
  ASSERT_EQ(RunCli({"ddm", "--csv", path.string()}, board).status, 0);
  // An existing file is kept unless the command says what to do with it.
  auto r = RunCli({"ddm", "--csv", path.string()}, board);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("exists; give --append to add to it or --overwrite"), std::string::npos);
  board->Module().Poke(0x02, 0x84, 0x10);  // temperature high warning at 16 degC
  ASSERT_EQ(RunCli({"ddm", "--csv", path.string(), "--append"}, board).status, 0);
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].rfind("time,temp_C,vcc_V,bias1_mA,", 0), 0u);
  EXPECT_NE(lines[0].find(",rx_power8_dBm,flags"), std::string::npos);
  EXPECT_NE(lines[1].find(",38.50,3.29,6.52,"), std::string::npos) << lines[1];
  EXPECT_EQ(lines[1].back(), ',');  // no flags
  EXPECT_NE(lines[2].find(",TEMP:high warning"), std::string::npos) << lines[2];
  EXPECT_EQ(std::count(lines[1].begin(), lines[1].end(), ','), 27);
  // Local time with milliseconds and the UTC offset.
  EXPECT_TRUE(std::regex_match(lines[1].substr(0, lines[1].find(',')),
                               std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)")))
      << lines[1];
  ASSERT_EQ(RunCli({"ddm", "--csv", path.string(), "--overwrite"}, board).status, 0);
  std::ifstream again(path);
  lines.clear();
  for (std::string line; std::getline(again, line);) lines.push_back(line);
  EXPECT_EQ(lines.size(), 2u);
  fs::remove(path);
}

TEST(CliModule, DdmWatchGoesOnThroughFailuresAndEndsCleanlyOnInterrupt) {
  auto board = QuietBoard();
  CliResult r;
  std::thread watch([&] { r = RunCli({"ddm", "--watch", "0.2"}, board); });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  board->SetPlugged(false);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  board->SetPlugged(true);
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  cli::g_interrupted = true;
  watch.join();
  cli::g_interrupted = false;
  EXPECT_EQ(r.status, 0);
  size_t blocks = 0;
  for (size_t at = r.out.find("== "); at != std::string::npos; at = r.out.find("== ", at + 1))
    ++blocks;
  EXPECT_GE(blocks, 3u) << r.out;
  EXPECT_NE(r.err.find("ddm: refresh failed"), std::string::npos) << r.err;
  // It came back after the board did: the last block is a full one.
  EXPECT_NE(r.out.rfind("8        6.58"), std::string::npos);
  EXPECT_GT(r.out.rfind("== "), r.out.find("== "));
}

TEST(CliModule, FlagsShowsStatesFlagsAndConfigurationStatus) {
  auto board = QuietBoard();
  board->Module().SetLive(false);
  board->Module().Poke(0, 0x03, 0x07);
  board->Module().Poke(0x11, 0x80, 0x24);  // lane 1 DPActivated, lane 2 DPInit
  board->Module().Poke(0x11, 0x81, 0x47);  // lane 3 DPInitialized, lane 4 DPActivated
  board->Module().Poke(0x11, 0x82, 0x00);
  board->Module().Poke(0x11, 0x83, 0xD1);  // lane 8 code D: no item
  board->Module().Poke(0x11, 0xCA, 0x21);
  board->Module().Poke(0x11, 0xCD, 0x70);
  board->Module().Poke(0x11, 0x93, 0x81);
  auto r = RunCli({"flags"}, board);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find("\n\n")),
            "Module State(0x03)          011 ModReady\n"
            "Intl(0x03)                  on\n"
            "Module State Changed(0x08)  off");
  EXPECT_NE(r.out.find("Rx Los(0x93)                   x    .    .    .    .    .    .    x\n"),
            std::string::npos)
      << r.out;
  const auto lanes = r.out.substr(r.out.find("Lane  "));
  EXPECT_EQ(lanes,
            "Lane  Lane Data Path State(0x80~0x83)  Config Error Codes(0xCA~0xCD)\n"
            "1     4 DPActivated                    1 accepted\n"
            "2     2 DPInit                         2 rejected unknown\n"
            "3     7 DPInitialized                  0 No Status\n"
            "4     4 DPActivated                    0 No Status\n"
            "5     0 Res                            0 No Status\n"
            "6     0 Res                            0 No Status\n"
            "7     1 DPDeactivated                  0 No Status\n"
            "8     (no item for code D)             7 rejected incomplete\n");
  r = RunCli({"--json", "flags"}, board);
  ASSERT_EQ(r.status, 0) << r.err;
  const auto doc = cli_test::Json(r.out);
  EXPECT_EQ(doc["module_state"], nlohmann::json::parse(R"({"code": 3, "text": "011 ModReady"})"));
  EXPECT_EQ(doc["rx_los"],
            nlohmann::json::parse("[true, false, false, false, false, false, false, true]"));
  EXPECT_EQ(doc["data_path_state"][7], nlohmann::json::parse(R"({"code": 13, "text": null})"));
  for (const auto& [key, value] : doc.items())
    EXPECT_EQ(key.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_"), std::string::npos)
        << key;
}

TEST(CliModule, ThresholdsInEngineeringUnits) {
  auto r = RunCli({"thresholds"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "                    high alarm    low alarm     high warning  low warning\n"
            "Temperature (\u2103)            75.00         -5.00         70.00          0.00\n"
            "Supply voltage (V)          3.63          2.97          3.46          3.13\n"
            "Rx power (dBm)              4.00        -10.30          3.00         -9.30\n"
            "Tx bias (mA)               13.00          3.00         12.00          4.00\n"
            "Tx power (dBm)              4.00         -8.40          3.00         -7.40\n");
  r = RunCli({"--json", "thresholds"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto vcc = cli_test::Json(r.out)[1];
  EXPECT_EQ(vcc["high_alarm"], 3.63);
  EXPECT_EQ(vcc["text"]["high_alarm"], "3.630") << r.out;
}

TEST(CliModule, SetChangesOneFieldOfOneRegister) {
  const struct {
    std::vector<std::string> args;
    uint8_t page, reg, before, after;
    const char* said;
  } cases[] = {
      {{"set", "tx-disable", "3", "on"},
       0x10,
       0x82,
       0x81,
       0x85,
       "tx-disable lane 3 = on: wrote 0x85 to page 10h 0x82\n"},
      {{"set", "tx-eq-store", "6", "2"},
       0x10,
       0x88,
       0xFF,
       0xFB,
       "tx-eq-store lane 6 = 2 (10 Loc2): wrote 0xFB to page 10h 0x88\n"},
      {{"set", "app-code", "8", "3"},
       0x10,
       0x98,
       0x5B,
       0x3B,
       "app-code lane 8 = 3 (0011): wrote 0x3B to page 10h 0x98\n"},
      {{"set", "rx-amplitude", "7", "5"},
       0x10,
       0xAD,
       0x22,
       0x25,
       "rx-amplitude lane 7 = 5 (05): wrote 0x25 to page 10h 0xAD\n"},
      {{"set", "low-power", "on"},
       0x00,
       0x1A,
       0x20,
       0x60,
       "low-power = on: wrote 0x60 to lower 0x1A\n"},
      {{"set", "squelch-method", "Tx Squelch reduces Pave"},
       0x00,
       0x1A,
       0x00,
       0x20,
       "squelch-method = 1 (Tx Squelch reduces Pave): wrote 0x20 to lower 0x1A\n"},
      {{"set", "soft-reset"}, 0x00, 0x1A, 0x40, 0x48, "soft-reset: wrote 0x48 to lower 0x1A\n"},
  };
  for (const auto& c : cases) {
    auto board = QuietBoard();
    board->Module().SetLive(false);
    board->Module().Poke(c.page, c.reg, c.before);
    auto r = RunCli(c.args, board);
    ASSERT_EQ(r.status, 0) << c.args[1] << ": " << r.err;
    EXPECT_EQ(r.out, c.said);
    EXPECT_EQ(board->Module().Peek(c.page, c.reg), c.after) << c.args[1];
    const auto sent = board->Requests();
    ASSERT_EQ(sent.size(), 2u) << c.args[1];  // one read, one write
    EXPECT_EQ(sent[1][3], 0x06);
  }
  // All lanes: eight read-modify-writes of the same register, lanes 1 to 8.
  auto board = QuietBoard();
  board->Module().SetLive(false);
  auto r = RunCli({"--json", "set", "apply-immediate", "all", "on"}, board);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(board->Module().Peek(0x10, 0x90), 0xFF);
  EXPECT_EQ(board->Requests().size(), 16u);
  EXPECT_EQ(cli_test::Json(r.out)[7],
            nlohmann::json::parse(R"({"control": "apply-immediate", "lane": 8, "value": 1,
                                      "address": "0xA01090", "byte": 255})"))
      << r.out;
}

// Staged control set 1 and every mask through `set`, by name, each on a
// register whose other bits are all set or all clear: the field and only
// the field changes, at the address the family names.
TEST(CliModule, SetReachesStagedSet1AndEveryMask) {
  const struct {
    const char* name;
    int lane;
    const char* value;
    uint8_t page, reg;
    uint8_t before, after;
  } cases[] = {
      {"apply-dp-init-1", 2, "on", 0x10, 0xB2, 0x00, 0x02},
      {"apply-immediate-1", 8, "on", 0x10, 0xB3, 0x01, 0x81},
      {"app-code-1", 8, "3", 0x10, 0xBB, 0x5B, 0x3B},
      {"dp-code-1", 3, "5", 0x10, 0xB6, 0xF1, 0xFB},
      {"explicit-control-1", 1, "on", 0x10, 0xB4, 0x10, 0x11},
      {"adaptive-eq-enable-1", 4, "on", 0x10, 0xBC, 0x00, 0x08},
      {"adaptive-eq-recall-1", 5, "2", 0x10, 0xBE, 0xFF, 0xFE},
      {"tx-input-eq-1", 2, "15", 0x10, 0xBF, 0x05, 0xF5},
      {"tx-cdr-1", 1, "off", 0x10, 0xC3, 0xFF, 0xFE},
      {"rx-cdr-1", 6, "on", 0x10, 0xC4, 0x00, 0x20},
      {"rx-pre-cursor-1", 4, "7", 0x10, 0xC6, 0x01, 0x71},
      {"rx-post-cursor-1", 1, "9", 0x10, 0xC9, 0xF0, 0xF9},
      {"rx-amplitude-1", 7, "9", 0x10, 0xD0, 0x50, 0x59},
      {"module-state-changed-mask", 0, "on", 0x00, 0x1F, 0x00, 0x01},
      {"temp-high-alarm-mask", 0, "on", 0x00, 0x20, 0x00, 0x01},
      {"temp-low-alarm-mask", 0, "on", 0x00, 0x20, 0x00, 0x02},
      {"temp-high-warning-mask", 0, "on", 0x00, 0x20, 0x00, 0x04},
      {"temp-low-warning-mask", 0, "on", 0x00, 0x20, 0x00, 0x08},
      {"vcc-high-alarm-mask", 0, "off", 0x00, 0x20, 0xFF, 0xEF},
      {"vcc-low-alarm-mask", 0, "on", 0x00, 0x20, 0x00, 0x20},
      {"vcc-high-warning-mask", 0, "on", 0x00, 0x20, 0x00, 0x40},
      {"vcc-low-warning-mask", 0, "on", 0x00, 0x20, 0x00, 0x80},
      {"dp-state-changed-mask", 3, "on", 0x10, 0xD5, 0x00, 0x04},
      {"tx-fault-mask", 8, "on", 0x10, 0xD6, 0x00, 0x80},
      {"tx-los-mask", 1, "off", 0x10, 0xD7, 0xFF, 0xFE},
      {"tx-cdr-lol-mask", 2, "on", 0x10, 0xD8, 0x00, 0x02},
      {"tx-eq-fault-mask", 5, "on", 0x10, 0xD9, 0x00, 0x10},
      {"tx-power-high-alarm-mask", 1, "on", 0x10, 0xDA, 0x00, 0x01},
      {"tx-power-low-alarm-mask", 2, "on", 0x10, 0xDB, 0x00, 0x02},
      {"tx-power-high-warning-mask", 3, "on", 0x10, 0xDC, 0x00, 0x04},
      {"tx-power-low-warning-mask", 4, "on", 0x10, 0xDD, 0x00, 0x08},
      {"tx-bias-high-alarm-mask", 5, "on", 0x10, 0xDE, 0x00, 0x10},
      {"tx-bias-low-alarm-mask", 6, "on", 0x10, 0xDF, 0x00, 0x20},
      {"tx-bias-high-warning-mask", 7, "on", 0x10, 0xE0, 0x00, 0x40},
      {"tx-bias-low-warning-mask", 8, "off", 0x10, 0xE1, 0xFF, 0x7F},
      {"rx-los-mask", 1, "on", 0x10, 0xE2, 0x00, 0x01},
      {"rx-cdr-lol-mask", 8, "on", 0x10, 0xE3, 0x00, 0x80},
      {"rx-power-high-alarm-mask", 1, "off", 0x10, 0xE4, 0xFF, 0xFE},
      {"rx-power-low-alarm-mask", 2, "on", 0x10, 0xE5, 0x00, 0x02},
      {"rx-power-high-warning-mask", 3, "on", 0x10, 0xE6, 0x00, 0x04},
      {"rx-power-low-warning-mask", 4, "on", 0x10, 0xE7, 0x00, 0x08},
  };
  std::set<std::string> covered;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto board = QuietBoard();
    board->Module().SetLive(false);
    board->Module().Poke(c.page, c.reg, c.before);
    std::vector<std::string> args = {"--json", "set", c.name};
    if (c.lane) args.push_back(std::to_string(c.lane));
    args.push_back(c.value);
    auto r = RunCli(args, board);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(board->Module().Peek(c.page, c.reg), c.after);
    const auto doc = cli_test::Json(r.out);
    char address[16];
    std::snprintf(address, sizeof address, "0xA0%02X%02X", c.page, c.reg);
    EXPECT_EQ(doc["address"], address);
    EXPECT_EQ(doc["byte"], c.after);
    covered.insert(c.name);
  }
  // Every row of staged set 1 and of the masks has its case above.
  for (const ControlFamily& f : ControlFamilies()) {
    if (f.page == ControlPage::kStagedSet1 || f.page == ControlPage::kMasks) {
      EXPECT_TRUE(covered.count(f.name)) << f.name << " (" << f.operation << ") has no case";
    }
  }
}

TEST(CliModule, SetUsageErrorsWriteNothing) {
  const std::vector<std::vector<std::string>> cases = {
      {"set"},
      {"set", "frobnicate", "1"},
      {"set", "tx-disable", "9", "on"},
      {"set", "tx-disable", "0", "on"},
      {"set", "tx-disable", "3"},
      {"set", "tx-disable", "3", "maybe"},
      {"set", "tx-eq-store", "1", "4"},
      {"set", "app-code", "1", "16"},
      {"set", "low-power", "2"},
      {"set", "soft-reset", "1"},
      {"set", "low-power", "1", "on"},
      {"set", "rx-amplitude", "4", "5"},        // lanes 4 and 8 list 0-3
      {"set", "rx-amplitude", "all", "5"},      // so not on every lane
      {"set", "adaptive-eq-recall", "1", "3"},  // the list holds 0-2
      {"set", "tx-disable", "3", "onn"},
  };
  for (const auto& args : cases) {
    auto board = QuietBoard();
    auto r = RunCli(args, board);
    EXPECT_EQ(r.status, 2) << args.back();
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
    EXPECT_EQ(board->RequestCount(), 0u) << args.back();
  }
}

// What the help states a control takes is what set accepts: the list's own
// length (per lane), and on/off in any case.
TEST(CliModule, SetTakesExactlyWhatTheHelpStates) {
  auto help = RunCli({"set", "--help"}).out;
  EXPECT_NE(help.find("adaptive-eq-recall  1-8   0-2 "), std::string::npos) << help;
  EXPECT_NE(help.find("rx-amplitude        1-8   0-15 (lanes 4 and 8: 0-3) "), std::string::npos);
  for (const ControlFamily& f : ControlFamilies()) {
    if (f.kind != ControlKind::kList) continue;
    std::vector<int> lanes = {f.PerLane() ? 1 : 0};
    for (int lane = 1; lane <= 8; ++lane)
      if (f.short_lanes & (1u << (lane - 1))) lanes.push_back(lane);
    for (int lane : lanes) {
      SCOPED_TRACE(std::string(f.name) + " lane " + std::to_string(lane));
      std::vector<std::string> args = {"set", f.name};
      if (lane) args.push_back(std::to_string(lane));
      args.push_back(std::to_string(f.ItemCount(lane)));
      EXPECT_EQ(RunCli(args).status, 2);
      args.back() = std::to_string(f.ItemCount(lane) - 1);
      EXPECT_EQ(RunCli(args).status, 0);
    }
  }
  for (const char* value : {"ON", "Off", "TRUE", "no", "1"})
    EXPECT_EQ(RunCli({"set", "tx-disable", "3", value}).status, 0) << value;
  EXPECT_EQ(RunCli({"set", "squelch-method", "tx squelch reduces pave"}).status, 0);
}

TEST(CliModule, SetHelpListsEveryControlFromTheTable) {
  auto r = RunCli({"set", "--help"});
  ASSERT_EQ(r.status, 0);
  for (const ControlFamily& f : ControlFamilies()) {
    EXPECT_NE(r.out.find(std::string("\n") + f.name + " "), std::string::npos) << f.name;
    if (*f.caption) {
      EXPECT_NE(r.out.find(f.caption), std::string::npos) << f.caption;
    }
  }
}

TEST(CliModule, DumpRoundTripsThroughTheEmulatedModule) {
  const auto path = TempPath("dump.txt");
  fs::remove(path);
  auto board = QuietBoard();
  board->Module().Poke(0x00, 0x81, 'Z');
  auto r = RunCli({"dump", "--pages", "00,01,02,10,11,b1", path.string()}, board);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "wrote lower memory and pages 00 01 02 10 11 B1 to " + path.string() + "\n");
  std::ifstream in(path);
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  ModuleDumpImage image;
  std::string error;
  ASSERT_TRUE(ParseModuleDump(text, &image, &error)) << error;
  EXPECT_EQ(image.pages.size(), 6u);
  EXPECT_EQ(image.pages.at(0x00), [&] {
    emu::ModuleModel::Page p;
    for (int i = 0; i < 128; ++i) p[i] = board->Module().Peek(0x00, static_cast<uint8_t>(0x80 + i));
    return p;
  }());
  // Loaded into a fresh emulated board, the dump shows the same module.
  auto replay = RunCli({"--emulate-module", path.string(), "info"});
  ASSERT_EQ(replay.status, 0) << replay.err;
  EXPECT_NE(replay.out.find("Vendor name        ZORLANIX\n"), std::string::npos) << replay.out;
  fs::remove(path);

  r = RunCli({"dump", "--pages", "10"}, board);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\nlower\n"), std::string::npos);
  EXPECT_NE(r.out.find("\npage 10\n"), std::string::npos);
  EXPECT_EQ(r.out.find("page 00"), std::string::npos);
  EXPECT_EQ(RunCli({"dump", "--pages", "1x"}).status, 2);
}

TEST(CliModule, BoardFailuresExitOne) {
  for (const char* command :
       {"info", "ddm", "flags", "thresholds", "dump", "controls", "monitor"}) {
    auto board = QuietBoard();
    board->SetPlugged(false);
    auto r = RunCli({command}, board);
    EXPECT_EQ(r.status, 1) << command;
    EXPECT_NE(r.err.find("unplugged"), std::string::npos) << r.err;
  }
  auto board = QuietBoard();
  board->DropAnswers(1);
  auto r = RunCli({"set", "tx-disable", "3", "on"}, board);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("set tx-disable lane 3: "), std::string::npos) << r.err;
  EXPECT_EQ(board->Requests().size(), 1u);  // the read only
}

// The lab's dumps, as a user replays them with --emulate-module.
TEST(CliModule, LabDumpsDecode) {
  const auto dir = module_test::FixtureDir();
  if (dir.empty()) GTEST_SKIP() << "no module fixture folder";
  const auto eoptolink = (dir / "eoptolink_eold-168hg-10-1.txt").string();
  auto r = RunCli({"--emulate-module", eoptolink, "info"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "Module Identifier  QSFP-DD Double Density 8X Pluggable Transceiver(INF-8628)\n"
            "Power Class        Class 8\n"
            "Max Power          16\n"
            "Vendor name        Eoptolink\n"
            "Vendor OUI(Hex)    0x70EEA3\n"
            "Part number        EOLD-168HG-10-1\n"
            "Serial number      DR4R030015\n"
            "Data Code          250428\n"
            "CLEI Code(IS)\n"
            "Vendor Revision    01\n"
            "Wavelength(nm)     1301\n"
            "Wavelength(nm)     36.50\n"
            "Device Technology  1310 nm EML\n"
            "Module Type        LC(Lucent Connector)\n");
  r = RunCli({"--emulate-module", eoptolink, "ddm"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("TEMP  49.74 \u2103\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("1        110.20     1.72          3.91\n"), std::string::npos) << r.out;

  // The Hisense AOC: a CMIS identifier, four lanes, data-path-state-changed
  // latched on lanes 1-4 in the dump.
  r = RunCli({"--emulate-module", (dir / "hisense_def8504-2c02-mb3.txt").string(), "info"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Module Identifier  QSFP+ or later with Common Management Interface "
                       "(CMIS)\n"),
            std::string::npos);
  EXPECT_NE(r.out.find("Vendor OUI(Hex)    0xAC4AFE\n"), std::string::npos);
  EXPECT_NE(r.out.find("Module Type        No separable connector\n"), std::string::npos);

  // The Acacia ZR+ sits in low power with Rx LOS on lane 1.
  r = RunCli({"--emulate-module", (dir / "acacia_dp04qsdd-e30-440a_400zrp.txt").string(), "flags"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Module State(0x03)          001 ModLowPwr\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Rx Los(0x93)                   x    .    .    .    .    .    .    .\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("1     1 DPDeactivated                  1 accepted\n"), std::string::npos);
}

// Lower 3 bit 0 is "interrupt deasserted"; lower byte 4 is a summary by
// page from CMIS 5.0 on and by lane before.
TEST(CliModule, FlagsJsonInterruptAndByteFourByRevision) {
  const struct {
    uint8_t byte3, revision;
    bool asserted, by_page;
  } cases[] = {{0x06, 0x50, true, true}, {0x07, 0x50, false, true}, {0x06, 0x40, true, false}};
  for (const auto& c : cases) {
    auto board = QuietBoard();
    board->Module().SetLive(false);
    board->Module().Poke(0, 0x01, c.revision);
    board->Module().Poke(0, 0x03, c.byte3);
    board->Module().Poke(0, 0x04, 0x01);
    board->Module().Poke(0x11, 0x8B, 0x04);  // Tx power high alarm, lane 3
    auto r = RunCli({"--json", "flags"}, board);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto doc = cli_test::Json(r.out);
    EXPECT_EQ(doc["interrupt"], c.asserted) << int(c.byte3);
    EXPECT_EQ(doc["lower_byte_4"]["by_page"], c.by_page) << int(c.revision);
    EXPECT_EQ(doc["lower_byte_4"]["bits"][0]["set"], true);
    EXPECT_EQ(doc["threshold_flags"]["tx_power_high_alarm"][2], true) << r.out;
    EXPECT_EQ(doc["threshold_flags"]["tx_power_high_alarm"][1], false);
    // The read's own count, from the module's flag reader.
    EXPECT_NE(r.out.find(R"({"flag":"tx-power-high-alarm","lane":3,"count":1})"), std::string::npos)
        << r.out;
    EXPECT_EQ(doc["output_status"]["meaning"], "1: output signal valid; 0: invalid or muted");
  }
}

// A flat-memory module has no page 01h, 02h or 11h: nothing it does not give
// is a number.
TEST(CliModule, FlatMemoryValuesAreNotApplicable) {
  auto board = QuietBoard();
  board->Module().Poke(0, 0x02, board->Module().Peek(0, 0x02) | 0x80);
  auto r = RunCli({"--json", "ddm"}, board);
  ASSERT_EQ(r.status, 0) << r.err;
  auto doc = cli_test::Json(r.out);
  EXPECT_TRUE(doc["lanes"][0]["bias"]["value"].is_null()) << r.out;
  EXPECT_EQ(doc["lanes"][7]["rx_power"]["text"], "n/a");
  EXPECT_EQ(r.out.find("nan"), std::string::npos);
  r = RunCli({"ddm"}, board);
  EXPECT_NE(r.out.find("1        n/a        n/a           n/a\n"), std::string::npos) << r.out;
  r = RunCli({"--json", "thresholds"}, board);
  ASSERT_EQ(r.status, 0) << r.err;
  for (const auto& row : cli_test::Json(r.out)) EXPECT_TRUE(row["low_alarm"].is_null()) << row;
  r = RunCli({"thresholds"}, board);
  EXPECT_EQ(r.out.find("-40.00"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("n/a"), std::string::npos) << r.out;
}

TEST(CliModule, ControlsShowTheControlPage) {
  auto board = QuietBoard();
  board->Module().Poke(0x10, 0x82, 0x04);  // lane 3 Tx disabled
  board->Module().Poke(0x10, 0x80, 0x80);  // lane 8 DPDeinit
  auto r = RunCli({"--json", "controls"}, board);
  ASSERT_EQ(r.status, 0) << r.err;
  const auto doc = cli_test::Json(r.out);
  EXPECT_EQ(doc["tx_disable"],
            nlohmann::json::parse("[false,false,true,false,false,false,false,false]"));
  EXPECT_EQ(doc["dp_deinit"][7], true);
  EXPECT_EQ(doc["low_power"], false);
  EXPECT_TRUE(doc["squelch_method"].contains("text"));
  r = RunCli({"controls"}, board);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("tx-disable          off  off  on   off  off  off  off  off\n"),
            std::string::npos)
      << r.out;
}

// A latched flag raised once, cleared by the read that saw it: reported once,
// with count 1, and summarised.
TEST(CliModule, MonitorReportsALatchedFlagOnce) {
  auto board = QuietBoard();
  board->Module().Poke(0x11, 0x87, 0x04);  // Tx fault, lane 3
  auto r = RunCli({"--json", "monitor", "--seconds", "0.3"}, board);
  ASSERT_EQ(r.status, 0) << r.err;
  std::istringstream lines(r.out);
  std::string line;
  int set = 0;
  nlohmann::json last;
  while (std::getline(lines, line)) {
    last = cli_test::Json(line);
    if (last.contains("event") && last["flag"] == "tx-fault" && last["event"] == "set") {
      ++set;
      EXPECT_EQ(last["lane"], 3);
      EXPECT_EQ(last["count"], 1);
      EXPECT_TRUE(
          std::regex_match(last["time"].get<std::string>(),
                           std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)")));
    }
  }
  EXPECT_EQ(set, 1) << r.out;
  ASSERT_TRUE(last.contains("summary")) << r.out;
  ASSERT_EQ(last["summary"].size(), 1u) << r.out;
  EXPECT_EQ(last["summary"][0]["flag"], "tx-fault");
  EXPECT_EQ(last["summary"][0]["count"], 1);
  EXPECT_FALSE(last["summary"][0]["last_clear"].is_null()) << r.out;
  r = RunCli({"monitor", "--seconds", "0"}, board);
  EXPECT_EQ(r.status, 2);
}

// Ctrl-C ends it with the summary and status 0; a board that goes away ends
// it with the summary and status 1.
TEST(CliModule, MonitorEndsWithASummary) {
  auto board = QuietBoard();
  CliResult r;
  std::thread run([&] { r = RunCli({"monitor"}, board); });
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  cli::g_interrupted = true;
  run.join();
  cli::g_interrupted = false;
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("== summary\nno flag was raised\n"), std::string::npos) << r.out;

  std::thread failing([&] { r = RunCli({"monitor", "--seconds", "5"}, board); });
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  board->SetPlugged(false);
  failing.join();
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("== summary\n"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("monitor: reading the module failed"), std::string::npos) << r.err;
}

// The decode over the lab's dumps, replayed.
TEST(CliModule, LabDumpsInfoDecode) {
  const auto dir = module_test::FixtureDir();
  if (dir.empty()) GTEST_SKIP() << "no module fixture folder";
  const struct {
    const char* file;
    const char* cmis;
    const char* firmware;
    const char* hardware;
    const char* max_power;
    size_t applications;
    const char* first_media;
    int lane1_app;  // 0: no active application
    const char* connector;
    const char* cable_length;
    double smf_km;  // 0: none
    const char* rx_power;
    bool page01_checksum;
    int tuned_channel;  // -1: not tunable
  } cases[] = {
      {"acacia_dp04qsdd-e30-440a_400zrp.txt", "4.1", "61.11", "1.2", "23.00 W", 2,
       "400ZR, DWDM, amplified", 1, "LC(Lucent Connector)", "not defined", 630, "OMA", true, 30},
      {"cig_trd5h20enf-lf000.txt", "4.0", "3.4", "2.0", "12.00 W", 2, "400G-LR4-10", 1,
       "LC(Lucent Connector)", "not defined", 10, "average", true, -1},
      {"eoptolink_eold-168hg-10-1.txt", "5.0", "3.2", "1.0", "16.00 W", 9, "400G-LR4-10", 2,
       "LC(Lucent Connector)", "not defined", 10, "average", true, -1},
      {"hisense_def8504-2c02-mb3.txt", "5.2", "0.5", "0.0", "2.50 W", 1,
       "Active cable assembly with BER < 5x10^-5", 1, "No separable connector", "2.0 m", 0, "OMA",
       true, -1},
      {"juniper_740-079871.txt", "3.0", "0.0", "1.1", "8.00 W", 1, "100GBASE-LR4 (Clause 88)", 1,
       "CS optical connector", "not defined", 10, "average", true, -1},
      {"juniper_740-157132_400zr.txt", "5.0", "2.3", "1.0", "20.00 W", 3, "400ZR, DWDM, amplified",
       1, "LC(Lucent Connector)", "not defined", 40, "average", true, 78},
      {"juniper_740-174932_osfp800g_dr8.txt", "5.1", "0.13", "1.2", "16.50 W", 10,
       "400GBASE-DR4 (Clause 124)", 5, "MPO 1X16", "not defined", 0.5, "average", true, -1},
      {"mellanox_mcp1660-w00ae30_dac.txt", "3.0", "0.0", nullptr, "0.25 W", 8, "Copper cable", 0,
       "No separable connector", "0.5 m", 0, nullptr, false, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    auto r = RunCli({"--emulate-module", (dir / c.file).string(), "--json", "info"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto doc = cli_test::Json(r.out);
    EXPECT_EQ(doc["rows"].size(), 14u);
    EXPECT_EQ(doc["revisions"]["cmis"], c.cmis);
    EXPECT_EQ(doc["revisions"]["active_firmware"], c.firmware);
    if (c.hardware)
      EXPECT_EQ(doc["revisions"]["hardware"], c.hardware);
    else
      EXPECT_TRUE(doc["revisions"]["hardware"].is_null());
    EXPECT_EQ(doc["identity"]["max_power"]["text"], c.max_power);
    const auto& apps = doc["applications"];
    ASSERT_EQ(apps["list"].size(), c.applications);
    EXPECT_EQ(apps["list"][0]["media_interface"], c.first_media);
    if (c.lane1_app)
      EXPECT_EQ(apps["lanes"][0]["active"]["app_sel"], c.lane1_app);
    else
      EXPECT_TRUE(apps["lanes"][0]["active"].is_null());
    EXPECT_EQ(doc["media"]["connector"]["text"], c.connector);
    EXPECT_EQ(doc["media"]["cable_length_text"], c.cable_length);
    if (c.smf_km > 0)
      EXPECT_DOUBLE_EQ(doc["media"]["reach"]["smf_km"].get<double>(), c.smf_km);
    else
      EXPECT_TRUE(doc["media"]["reach"]["smf_km"].is_null());
    if (c.rx_power)
      EXPECT_EQ(doc["media"]["rx_power_measurement"], c.rx_power);
    else
      EXPECT_TRUE(doc["media"]["rx_power_measurement"].is_null());
    EXPECT_EQ(doc["checksums"][0]["verified"], true);
    if (c.page01_checksum) {
      EXPECT_EQ(doc["checksums"][1]["verified"], true);
    } else {
      EXPECT_TRUE(doc["checksums"][1]["verified"].is_null());
    }
    EXPECT_EQ(doc["tuning"]["supported"], c.tuned_channel >= 0);
    if (c.tuned_channel >= 0) {
      EXPECT_EQ(doc["tuning"]["lanes"][0]["channel"], c.tuned_channel);
    }
    EXPECT_EQ(r.out.find("nan"), std::string::npos);
  }
}

}  // namespace
