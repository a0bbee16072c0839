// The module dump format and the device watcher (the state file has tests of
// its own).
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "board/device.h"
#include "board/device_watcher.h"
#include "emulator/emulated_board.h"
#include "module/module_dump.h"

namespace fs = std::filesystem;

namespace {

TEST(ModuleDump, FormatErrorsNameTheirLine) {
  const std::string row = "00 11 22 33 44 55 66 77 88 99 aa bb cc dd ee ff\n";
  std::string eight;
  for (int i = 0; i < 8; ++i) eight += row;
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"# c\n" + row, "line 2: data before"},
      {"page 1\n" + eight, "line 1: \"page\" needs two hex digits"},
      {"lower\n" + row + "page 00\n", "line 3: the previous block has 1 of 8"},
      {"lower\n00 11\n", "line 2: expected 16 bytes, found 2"},
      {"lower\n" + eight + row, "line 10: more than 8"},
      {"lower\n0g" + row.substr(2), "line 2: \"0g\" is not a hex byte"},
      {"lower\n" + eight + "page 00\n" + eight + "page 00\n" + eight,
       "line 19: a second \"page 00\" block (the first is at line 10)"},
      {"page 1A\n" + eight + "page 1a\n" + eight,
       "line 10: a second \"page 1a\" block (the first is at line 1)"},
      {"lower\n" + eight + "# again\nlower\n" + eight,
       "line 11: a second \"lower\" block (the first is at line 1)"},
  };
  for (const auto& [text, expect] : cases) {
    ModuleDumpImage image;
    std::string error;
    EXPECT_FALSE(ParseModuleDump(text, &image, &error));
    EXPECT_NE(error.find(expect), std::string::npos) << "got: " << error;
  }
  ModuleDumpImage image;
  std::string error;
  ASSERT_TRUE(ParseModuleDump("lower\r\n" + eight + "page 1a\n" + eight, &image, &error)) << error;
  EXPECT_EQ(image.pages.at(0x1A)[15], 0xFF);
  EXPECT_EQ(FormatModuleDump(image), "lower\n" + eight + "page 1a\n" + eight);
}

TEST(ModuleDump, EveryLabFixtureLoads) {
  const fs::path dir = fs::path(LW_SOURCE_DIR) / ".." / "shared" / "fixtures" / "modules";
  if (!fs::exists(dir)) GTEST_SKIP() << "no fixture folder " << dir;
  int loaded = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const auto name = entry.path().filename().string();
    if (entry.path().extension() != ".txt" || name.find(".decoded") != std::string::npos) continue;
    std::ifstream in(entry.path());
    std::string text((std::istreambuf_iterator<char>(in)), {});
    emu::ModuleModel module;
    std::string error;
    EXPECT_TRUE(module.LoadDump(text, &error)) << name << ": " << error;
    ++loaded;
  }
  EXPECT_GT(loaded, 0);
}

TEST(DeviceWatcher, ReportsArrivalAndRemovalOfTheBoard) {
  auto board = std::make_shared<emu::EmulatedBoard>();
  std::mutex m;
  std::vector<std::string> events;
  DeviceWatcher watcher(
      board,
      [&](DeviceWatcher::Event e, const std::string& path) {
        std::lock_guard lock(m);
        events.push_back((e == DeviceWatcher::Event::kArrival ? "+" : "-") + path);
      },
      20);
  ASSERT_TRUE(watcher.Start());
  board->SetPlugged(false);
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  board->SetPlugged(true);
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  watcher.Stop();
  std::lock_guard lock(m);
  EXPECT_EQ(events, (std::vector<std::string>{"-emulated:board0", "+emulated:board0"}));
}

}  // namespace
