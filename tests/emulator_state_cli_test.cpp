// `lanewright-cli --emulate=FILE` run in-process: a state file that fails to
// load stays as it was, runs on one file take turns and lose nothing, a dump
// visits for one run, and the powered board (working DSP block) carries over.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "board/device.h"
#include "board/process_lock.h"
#include "board/protocol.h"
#include "emulator/emulated_board.h"
#include "tests/cli_test_support.h"

namespace fs = std::filesystem;

namespace {

using cli_test::CliResult;
using cli_test::RunCliOn;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

ino_t Inode(const fs::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

struct StateFileCli : ::testing::Test {
  fs::path dir;
  std::string state;  // --emulate=DIR/board.state
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("lw_state_cli_" + std::to_string(getpid()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    state = "--emulate=" + Path("board.state");
  }
  void TearDown() override {
    cli::g_interrupted = false;
    fs::remove_all(dir);
  }
  std::string Path(const std::string& name) const { return (dir / name).string(); }
  std::string File(const std::string& name, const std::string& text) const {
    std::ofstream(dir / name, std::ios::binary) << text;
    return Path(name);
  }
  static CliResult Run(std::vector<std::string> args) { return RunCliOn(nullptr, std::move(args)); }
};

// A module of lower memory and page 00h whose name bytes read 41 42 43 ...
std::string VisitorDump() {
  const std::string zeros = "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n";
  std::string dump = "lower\n00 00 00 07 00 00 00 00 00 00 00 00 00 00 00 00\n";
  for (int i = 0; i < 7; ++i) dump += zeros;
  dump += "page 00\n18 41 42 43 44 45 46 47 00 00 00 00 00 00 00 00\n";
  for (int i = 0; i < 7; ++i) dump += zeros;
  return dump;
}

TEST_F(StateFileCli, AStateFileThatFailsToLoadExitsTwoAndStaysAsItWas) {
  const auto fixture =
      fs::path(LW_SOURCE_DIR) / "tests" / "fixtures" / "state_files" / "version1.txt";
  const std::string good = ReadAll(fixture);
  std::string bad_byte = good;
  bad_byte.replace(bad_byte.rfind(" 42 "), 4, " 4g ");
  fs::create_directory(dir / "folder");
  struct Case {
    const char* name;
    std::string path;
    std::vector<std::string> args;
    std::string says;
  };
  const std::vector<Case> cases = {
      {"a module dump where the state belongs",
       File("module.txt", VisitorDump()),
       {"info"},
       ": line 1: a module dump, not an emulated board state file"},
      {"one bad hex byte in the EEPROM",
       File("bad.state", bad_byte),
       {"info"},
       ": line 55: \"4g\" is not a hex byte"},
      {"a directory", Path("folder"), {"info"}, ": a directory, not a regular file; refused"},
      {"a device node", "/dev/null", {"info"}, ": a character device, not a regular file; refused"},
      {"an unknown command after a good file",
       File("good.state", good),
       {"frobnicate"},
       "unknown command"},
      {"a usage error inside a command",
       File("good2.state", good),
       {"read", "zz"},
       "is not a number"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const bool regular = fs::is_regular_file(c.path);
    const std::string before = regular ? ReadAll(c.path) : "";
    const auto inode = Inode(c.path);
    std::vector<std::string> args = {"--emulate=" + c.path};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const auto r = Run(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
    EXPECT_EQ(Inode(c.path), inode);
    if (regular) {
      EXPECT_EQ(ReadAll(c.path), before);
    }
  }
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  EXPECT_TRUE(fs::is_directory(dir / "folder"));
}

TEST_F(StateFileCli, ParallelRunsOnOneFileTakeTurnsAndLoseNoUpdate) {
  constexpr int kRuns = 40;
  std::vector<CliResult> results(kRuns);
  std::vector<std::thread> runs;
  for (int i = 0; i < kRuns; ++i)
    runs.emplace_back([&, i] {
      char address[16];
      std::snprintf(address, sizeof address, "0x%06X", 0xA00280 + i);  // page 02h thresholds
      results[i] = Run({state, "write", address, std::to_string(i + 1)});
    });
  for (auto& t : runs) t.join();
  for (int i = 0; i < kRuns; ++i) EXPECT_EQ(results[i].status, 0) << i << ": " << results[i].err;
  const auto r = Run({state, "--json", "read", "0xA00280", std::to_string(kRuns)});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string expected = "{\"address\":\"0xA00280\",\"bytes\":[";
  for (int i = 0; i < kRuns; ++i) expected += (i ? "," : "") + std::to_string(i + 1);
  EXPECT_EQ(r.out, expected + "]}\n");
  for (const auto& e : fs::directory_iterator(dir)) {
    const auto name = e.path().filename().string();
    EXPECT_TRUE(name == "board.state" || name == "board.state.lock") << "left behind: " << name;
  }
}

TEST_F(StateFileCli, ARunWaitsWhileAnotherHoldsTheBoardOrFailsAtOnceUnderNoWait) {
  std::string page = "/ 512 bytes, 16 blocks\n";
  for (int i = 0; i < 128; ++i) {
    char group[10];
    std::snprintf(group, sizeof group, "%08X", 0x10203040u + i);
    page += group;
    if (i % 4 == 3) page += "\n";
  }
  const auto image = File("image.txt", page);
  CliResult load;
  std::thread loader([&] { load = Run({state, "eeprom", "load", image}); });
  const auto lock = Path("board.state.lock");
  for (int i = 0; i < 500 && FlockHolder(lock) == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  ASSERT_NE(FlockHolder(lock), 0) << "the load holds the board";

  const auto busy = Run({state, "--no-wait", "write", "0xA00280", "0x55"});
  EXPECT_EQ(busy.status, 1);
  EXPECT_EQ(busy.err, "lanewright-cli: " + Path("board.state") + ": board held by PID " +
                          std::to_string(getpid()) + "\n");
  const auto waited = Run({state, "write", "0xA00280", "0x66"});
  loader.join();
  ASSERT_EQ(load.status, 0) << load.err;
  EXPECT_EQ(waited.status, 0) << waited.err;
  EXPECT_EQ(waited.err, "lanewright-cli: board held by PID " + std::to_string(getpid()) +
                            ", waiting ... Ctrl-C to stop\n");
  // Both the load and the write that waited for it are on the board.
  auto r = Run({state, "eeprom", "check", image});
  EXPECT_EQ(r.status, 0) << r.err;
  r = Run({state, "read", "0xA00280"});
  EXPECT_EQ(r.out, "0xA00280: 66\n");
}

TEST_F(StateFileCli, TheWorkingDspBlockCarriesOverAndAPowerCycleDropsIt) {
  const auto path = Path("board.state");
  auto with_board = [&](const std::function<void(emu::EmulatedBoard&, CDevice&)>& use) {
    auto board = std::make_shared<emu::EmulatedBoard>();
    emu::EmulatedBoard::StateError error;
    ASSERT_TRUE(board->OpenState(path, {}, &error)) << error.text;
    {
      CDevice dev(board);
      dev.SetPause([](int) {});
      dev.FindDevices();
      ASSERT_TRUE(dev.OpenBoard(0));
      use(*board, dev);
    }
    std::string why;
    ASSERT_TRUE(board->CloseState(&why)) << why;
  };
  auto write_rate = [](uint8_t rate) {
    return [rate](emu::EmulatedBoard&, CDevice& dev) mutable {
      ASSERT_TRUE(dev.SendCommand(board::kDspWrite, 0, 164, &rate, 1));
    };
  };
  with_board(write_rate(2));  // one run writes the block, the next one saves it
  auto r = Run({state, "dsp", "save"});
  ASSERT_EQ(r.status, 0) << r.err;
  with_board([](emu::EmulatedBoard& board, CDevice&) {
    EXPECT_EQ(board.Dsp().Saved()[164], 2) << "the block written before is the one saved";
  });
  with_board(write_rate(3));
  r = Run({state, "--emulate-power-cycle"});  // alone: only the power cycle
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "");
  with_board([](emu::EmulatedBoard& board, CDevice&) {
    EXPECT_EQ(board.Dsp().Current()[164], 2) << "back to the saved block";
  });
}

TEST_F(StateFileCli, ADumpVisitsForOneRunUnlessKeptAndSymbolicLinksStay) {
  const auto dump = File("visitor.txt", VisitorDump());
  fs::create_symlink("board.state", dir / "link.state");
  const std::string link = "--emulate=" + Path("link.state");
  auto r = Run({link, "write", "0xA01082", "0x05"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::is_symlink(dir / "link.state"));
  EXPECT_TRUE(fs::is_regular_file(dir / "board.state"));

  r = Run({state, "--emulate-module", dump, "read", "0xA00081", "7"});
  EXPECT_EQ(r.out, "0xA00081: 41 42 43 44 45 46 47\n");
  r = Run({state, "read", "0xA00081", "7"});
  EXPECT_EQ(r.out, "0xA00081: 56 4F 52 4C 41 4E 49\n") << "the file's own module";
  r = Run({state, "read", "0xA01082"});
  EXPECT_EQ(r.out, "0xA01082: 05\n");

  r = Run({state, "--emulate-module", dump, "--emulate-module-keep", "boards"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = Run({state, "read", "0xA00081", "7"});
  EXPECT_EQ(r.out, "0xA00081: 41 42 43 44 45 46 47\n") << "kept";
}

TEST_F(StateFileCli, EmptyNamesAndFilesOfTheWrongKindAreRefused) {
  fs::create_directory(dir / "folder");
  const auto dump = File("visitor.txt", VisitorDump());
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--emulate-module=", "info"}, "--emulate-module=FILE needs a file name"},
      {{"--emulate=", "info"}, "--emulate=FILE needs a file name"},
      {{"--emulate-module", Path("folder"), "info"},
       "module dump: " + Path("folder") + ": a directory, not a regular file; refused"},
      {{"--emulate-module", File("bad.txt", "lower\n00\n"), "info"},
       "module dump: " + Path("bad.txt") + ": line 2: expected 16 bytes, found 1"},
      {{"--emulate-module", dump, "--emulate-module-keep", "info"},
       "--emulate-module-keep keeps the module in a state file: add --emulate=FILE"},
      {{"--emulate-power-cycle", "info"}, "--emulate-power-cycle works on the emulated board"},
  };
  for (const auto& [args, says] : cases) {
    const auto r = Run(args);
    EXPECT_EQ(r.status, 2) << args[0];
    EXPECT_EQ(r.err.rfind("lanewright-cli: " + says, 0), 0u) << r.err;
  }
  const auto r = Run({"--emulate-module", Path("missing.txt"), "info"});
  EXPECT_EQ(r.status, 1) << "a file that cannot be read is a failed file operation";
  EXPECT_EQ(r.err, "lanewright-cli: module dump: " + Path("missing.txt") +
                       ": No such file or directory\n");
}

// A dump given on the command line replays as captured; --emulate-live
// starts the module at once: this ModuleReady capture with its low-power bit
// set then powers down.
TEST(DumpReplayCli, AReplayReadsAsCapturedUnlessLiveIsAsked) {
  const std::string dump =
      std::string(LW_SOURCE_DIR) + "/tests/fixtures/module_dumps/ready_latched.txt";
  const auto run = [&](std::vector<std::string> args) {
    return cli_test::RunCli(std::move(args), std::make_shared<emu::EmulatedBoard>());
  };
  for (int i = 0; i < 2; ++i) {
    const CliResult r = run({"--emulate-module", dump, "read", "0xA00003", "7"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "0xA00003: 07 00 00 00 00 02 01\n");
  }
  const CliResult r = run({"--emulate-module", dump, "--emulate-live", "read", "0xA00003"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out, "0xA00003: 07\n");  // no longer ModuleReady
}

}  // namespace
