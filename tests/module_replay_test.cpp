// Every lab dump replayed with --emulate-module: `ddm`, `thresholds`,
// `flags` and `controls` show what the dump holds, computed here straight
// from its bytes (skipped where the lab's fixture folder is absent).
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "emulator/module_model.h"
#include "module/module_dump.h"
#include "tests/cli_test_support.h"
#include "tests/module_test_support.h"

namespace {

namespace fs = std::filesystem;
using cli_test::RunCli;
using Json = nlohmann::json;

Json RunJson(const std::string& dump, const std::string& command) {
  const auto r = RunCli({"--emulate-module", dump, "--json", command});
  EXPECT_EQ(r.status, 0) << command << ": " << r.err;
  EXPECT_EQ(r.out.find("nan"), std::string::npos) << command;
  return r.status == 0 ? Json::parse(r.out) : Json();
}

int Word(const emu::ModuleModel::Page& page, int offset) {
  return page[offset] << 8 | page[offset + 1];
}

TEST(LabReplays, CommandsShowTheCapturedValues) {
  const auto dir = module_test::FixtureDir();
  if (dir.empty()) GTEST_SKIP() << "no module fixture folder";
  int replayed = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() != ".txt" || name.find(".decoded") != std::string::npos ||
        name == "README.md")
      continue;
    SCOPED_TRACE(name);
    std::ifstream in(entry.path());
    std::stringstream text;
    text << in.rdbuf();
    ModuleDumpImage image;
    std::string error;
    ASSERT_TRUE(ParseModuleDump(text.str(), &image, &error)) << error;
    const auto& lower = image.lower;
    const bool flat = lower[2] & 0x80;
    const std::string dump = entry.path().string();
    ++replayed;

    // Module state: lower byte 3 bits 3-1.
    const Json flags = RunJson(dump, "flags");
    EXPECT_EQ(flags["module_state"]["code"], (lower[3] >> 1) & 7);
    if (image.pages.count(0x11) && !flat) {
      const auto& p11 = image.pages.at(0x11);
      for (int lane = 1; lane <= 8; ++lane) {
        EXPECT_EQ(flags["rx_los"][lane - 1], ((p11[0x93 - 0x80] >> (lane - 1)) & 1) != 0) << lane;
        const int state = (p11[(lane - 1) / 2] >> ((lane - 1) % 2 * 4)) & 0x0F;
        EXPECT_EQ(flags["data_path_state"][lane - 1]["code"], state) << lane;
      }
    }

    // Temperature and supply voltage: lower bytes 14-15 (1/256 degC) and
    // 16-17 (100 uV), unless the module says it has no such monitor.
    const Json ddm = RunJson(dump, "ddm");
    // (A monitor the module does not advertise, or whose page the capture
    // lacks, shows as absent: nothing to compare.)
    if (!ddm["temperature"]["value"].is_null()) {
      const double temp = static_cast<int16_t>(Word(lower, 14)) / 256.0;
      EXPECT_NEAR(ddm["temperature"]["value"].get<double>(), temp, 0.006);
      EXPECT_NEAR(ddm["vcc"]["value"].get<double>(), Word(lower, 16) * 1e-4, 0.006);
    }

    // Temperature high alarm: page 02h bytes 128-129; nothing for a flat
    // memory module.
    const Json thresholds = RunJson(dump, "thresholds");
    // (A module that does not implement the temperature monitor, page 01h
    // byte 159 bit 0, has no thresholds of its own for it.)
    const bool temp_monitor = image.pages.count(0x01) && (image.pages.at(0x01)[159 - 128] & 1);
    if (image.pages.count(0x02) && !flat && temp_monitor) {
      const double high = static_cast<int16_t>(Word(image.pages.at(0x02), 0)) / 256.0;
      EXPECT_NEAR(thresholds[0]["high_alarm"].get<double>(), high, 0.006);
    } else if (flat || (image.pages.count(0x01) && !temp_monitor)) {
      EXPECT_TRUE(thresholds[0]["high_alarm"].is_null()) << thresholds.dump();
    }

    // Tx disable per lane: page 10h byte 130.
    const Json controls = RunJson(dump, "controls");
    if (image.pages.count(0x10) && !flat) {
      const int tx_disable = image.pages.at(0x10)[130 - 128];
      for (int lane = 1; lane <= 8; ++lane)
        EXPECT_EQ(controls["tx_disable"][lane - 1], ((tx_disable >> (lane - 1)) & 1) != 0) << lane;
    }
  }
  EXPECT_GT(replayed, 0);
}

}  // namespace
