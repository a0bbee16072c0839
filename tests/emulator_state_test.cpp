// The emulated board's state file: the whole powered board across runs,
// files that fail to load, files that are not regular files, symbolic links,
// the lock that lets one process hold the board, and the power cycle.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "board/device.h"
#include "board/protocol.h"
#include "emulator/emulated_board.h"
#include "emulator/state_file.h"

namespace fs = std::filesystem;

namespace {

using Kind = emu::EmulatedBoard::StateError::Kind;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

ino_t Inode(const fs::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// The board object over the emulated board, without the 20 ms pauses.
struct Link {
  explicit Link(std::shared_ptr<emu::EmulatedBoard> board) : dev(board) {
    dev.SetPause([](int) {});
    dev.FindDevices();
    EXPECT_TRUE(dev.OpenBoard(0));
  }
  CDevice dev;
};

struct StateFileTest : ::testing::Test {
  fs::path dir;
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("lw_state_" + std::to_string(getpid()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  std::string Path(const std::string& name) const { return (dir / name).string(); }
  std::string File(const std::string& name, const std::string& text) const {
    std::ofstream(dir / name, std::ios::binary) << text;
    return Path(name);
  }
  static emu::EmulatedBoard::StateError Open(emu::EmulatedBoard& board, const std::string& path,
                                             bool wait = false) {
    emu::EmulatedBoard::StateOptions options;
    options.wait = wait;
    emu::EmulatedBoard::StateError error;
    board.OpenState(path, options, &error);
    return error;
  }
  // Files in the folder other than `keep` (temporary files left behind).
  std::vector<std::string> Others(std::initializer_list<std::string> keep) const {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) {
      const auto name = e.path().filename().string();
      if (std::find(keep.begin(), keep.end(), name) == keep.end()) out.push_back(name);
    }
    return out;
  }
};

TEST_F(StateFileTest, APoweredBoardSurvivesARestartAndAPowerCycleDropsWhatPowerLoses) {
  const auto path = Path("board.state");
  emu::DspModel::Block saved{};
  {
    auto board = std::make_shared<emu::EmulatedBoard>();
    ASSERT_EQ(Open(*board, path).kind, Kind::kNone);  // missing file: the defaults
    saved = board->Dsp().Saved();
    Link link(board);
    const uint8_t tx_disable = 0x05, rate = 2, clock = 2, enter = 0xA0, store = 0xAA;
    ASSERT_TRUE(link.dev.WriteModule(1, 0xA0, 0x10, 0x82, &tx_disable, 1));
    uint8_t generator[26] = {0, 2, 1, 1, 0, 3, 3};  // lane 2 runs PRBS
    ASSERT_TRUE(link.dev.SendCommand(board::kGeneratorConfig, 0, 0, generator, 26));
    ASSERT_TRUE(link.dev.SendCommand(board::kDspWrite, 0, 164, const_cast<uint8_t*>(&rate), 1));
    ASSERT_TRUE(link.dev.SendCommand(board::kClockSelect, 0, 0, const_cast<uint8_t*>(&clock), 1));
    // One EEPROM block stored, the load mode left on.
    const uint8_t header[4] = {1, 0x00, 0x12, 0x34}, data = 0x42;
    ASSERT_TRUE(link.dev.WriteMailbox(5, &enter, 1));
    ASSERT_TRUE(link.dev.WriteMailbox(6, header, 4));
    ASSERT_TRUE(link.dev.WriteMailbox(10, &data, 1));
    ASSERT_TRUE(link.dev.WriteMailbox(5, &store, 1));
    std::string error;
    ASSERT_TRUE(board->CloseState(&error)) << error;
  }
  auto board = std::make_shared<emu::EmulatedBoard>();
  ASSERT_EQ(Open(*board, path).kind, Kind::kNone);
  {
    auto lock = board->Lock();
    EXPECT_EQ(board->Module().Peek(0x10, 0x82), 0x05);
    EXPECT_EQ(board->Dsp().Current()[164], 2) << "the working block";
    EXPECT_EQ(board->Dsp().Saved(), saved) << "never saved";
    EXPECT_EQ(board->Prbs().GeneratorRecord(2)[2], 1);
    EXPECT_EQ(board->ClockSelection(), 2);
    EXPECT_TRUE(board->Mailbox().InLoadMode());
    EXPECT_EQ(board->Mailbox().Bytes()[10], 0x42);
    EXPECT_EQ(board->Mailbox().Eeprom()[0x1234], 0x42);
    EXPECT_EQ(board->Mailbox().Eeprom()[0x1235], 0xFF);
  }

  board->PowerCycle();
  {
    auto lock = board->Lock();
    EXPECT_EQ(board->Dsp().Current(), saved);
    EXPECT_EQ(board->Dsp().Saved(), saved);
    EXPECT_EQ(board->Prbs().AllRecords(), emu::PrbsModel::Records{});
    EXPECT_EQ(board->ClockSelection(), emu::kPowerOnClock);
    EXPECT_FALSE(board->Mailbox().InLoadMode());
    EXPECT_EQ(board->Mailbox().Bytes(), emu::MailboxModel::Box{});
    EXPECT_EQ(board->Mailbox().Eeprom()[0x1234], 0x42) << "the EEPROM keeps its data";
    // The power-on controls came through the file, not from the memory it held.
    EXPECT_EQ(board->Module().Peek(0x10, 0x82), 0x00);
    EXPECT_EQ((board->Module().Peek(0x00, 0x03) >> 1) & 7, 1) << "ModLowPwr, powering up again";
  }
  std::string error;
  ASSERT_TRUE(board->CloseState(&error)) << error;
  const auto text = ReadAll(path);
  emu::BoardState state;
  ASSERT_TRUE(emu::ParseBoardState(text, &state, &error)) << error;
  EXPECT_EQ(state.dsp_working, saved) << "the power cycle was written";
  EXPECT_EQ(Others({"board.state", "board.state.lock"}), std::vector<std::string>{});
}

TEST_F(StateFileTest, EachChangeIsWrittenAtOnceAndReadsWriteNothing) {
  const auto path = Path("board.state");
  auto board = std::make_shared<emu::EmulatedBoard>();
  ASSERT_EQ(Open(*board, path).kind, Kind::kNone);
  std::string error;
  ASSERT_TRUE(board->SaveState(&error)) << error;
  Link link(board);
  uint8_t buffer[16];
  const auto before = Inode(path);
  ASSERT_TRUE(link.dev.ReadModule(1, 0xA0, 0x00, 0x80, buffer, 16));
  ASSERT_TRUE(link.dev.ReadModule(1, 0xA0, 0x11, 0x9A, buffer, 16));  // monitors move
  EXPECT_EQ(Inode(path), before) << "nothing worth keeping changed";

  const uint8_t threshold = 0x77;
  ASSERT_TRUE(link.dev.WriteModule(1, 0xA0, 0x02, 0x80, &threshold, 1));
  EXPECT_NE(Inode(path), before) << "the write replaced the file";
  emu::BoardState state;
  ASSERT_TRUE(emu::ParseBoardState(ReadAll(path), &state, &error)) << error;
  EXPECT_EQ(state.module.pages.at(0x02)[0], 0x77) << "on disk before the run ends";

  // An EEPROM load's blocks may wait while it runs, but not past its end.
  const uint8_t enter = 0xA0, store = 0xAA, leave = 0x00;
  ASSERT_TRUE(link.dev.WriteMailbox(5, &enter, 1));
  for (uint8_t block = 0; block < 4; ++block) {
    const uint8_t header[4] = {1, 0, 0, block};
    ASSERT_TRUE(link.dev.WriteMailbox(6, header, 4));
    ASSERT_TRUE(link.dev.WriteMailbox(10, &block, 1));
    ASSERT_TRUE(link.dev.WriteMailbox(5, &store, 1));
  }
  ASSERT_TRUE(link.dev.WriteMailbox(5, &leave, 1));
  ASSERT_TRUE(emu::ParseBoardState(ReadAll(path), &state, &error)) << error;
  EXPECT_EQ(std::vector<uint8_t>(state.eeprom.begin(), state.eeprom.begin() + 5),
            (std::vector<uint8_t>{0, 1, 2, 3, 0xFF}));
  EXPECT_FALSE(state.load_mode);
  EXPECT_EQ(Others({"board.state", "board.state.lock"}), std::vector<std::string>{});
}

TEST_F(StateFileTest, AFileThatFailsToLoadIsNeverWritten) {
  const std::string magic = "lanewright-emulator-state 2\n";
  const std::string row = "00 11 22 33 44 55 66 77 88 99 aa bb cc dd ee ff\n";
  std::string page;
  for (int i = 0; i < 8; ++i) page += row;
  std::string ff32;
  for (int i = 0; i < 32; ++i) ff32 += " ff";
  const std::string module = "[module]\nlower\n" + page;  // lines 2-11, after the magic
  struct Case {
    const char* name;
    std::string text, error;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"a module dump typed for a state file", "# a dump\nlower\n" + page,
       "line 2: a module dump, not an emulated board state file"},
      {"not a state file", "hello\n", "line 1: not an emulated board state file"},
      {"an empty file", "", "the file is empty, not an emulated board state file"},
      {"a bad hex byte in the EEPROM", magic + module + "[eeprom]\n00020:" + ff32.substr(0, 93) +
       " zz\n",
       "line 13: \"zz\" is not a hex byte"},
      {"a short EEPROM line", magic + module + "[eeprom]\n00020: 01 02\n",
       "line 13: the line holds 2 of 32 bytes"},
      {"an EEPROM offset twice", magic + module + "[eeprom]\n00020:" + ff32 + "\n00020:" +
       ff32 + "\n",
       "line 14: offset 00020 appears twice (first at line 13)"},
      {"an offset that wrapped at 32 bits", magic + module + "[eeprom]\n100000020:" + ff32 + "\n",
       "line 13: offset 100000020 lies beyond the 256 KiB EEPROM"},
      {"a negative offset", magic + module + "[eeprom]\n-fffffff0:" + ff32 + "\n",
       "line 13: \"-fffffff0\" is not a hex offset"},
      {"text between the offset and the colon", magic + module +
       "[eeprom]\n00020 junk:" + ff32 + "\n",
       "line 13: lines here read \"OFFSET: bytes\""},
      {"an offset inside a line", magic + module + "[eeprom]\n00021:" + ff32 + "\n",
       "line 13: offset 00021 is not a multiple of 32"},
      {"two page 00 blocks", magic + module + "page 00\n" + page + "page 00\n" + page,
       "line 21: a second \"page 00\" block (the first is at line 12) (in [module])"},
      {"a short module line", magic + "[module]\nlower\n00 11\n",
       "line 4: expected 16 bytes, found 2"},
      {"a short DSP line", magic + module + "[dsp-saved]\n00 01\n",
       "line 13: the line holds 2 bytes, expected 16"},
      {"a DSP block cut short", magic + module + "[dsp-working]\n" + row + "[eeprom]\n",
       "line 14: the DSP block holds 16 of 193 bytes"},
      {"a section twice", magic + module + "[eeprom]\n[eeprom]\n",
       "line 13: [eeprom] appears twice (first at line 12)"},
      {"a key twice", magic + module + "[board]\nclock: 01\nclock: 02\n",
       "line 14: \"clock:\" appears twice (first at line 13)"},
      {"a record of the wrong length", magic + module + "[prbs]\ngenerator-1: 00 01\n",
       "line 13: \"generator-1:\" holds 2 of 26 values"},
      {"an unknown section", magic + module + "[bogus]\n", "line 12: unknown section [bogus]"},
      {"no module", magic + "[eeprom]\n", "line 3: no [module] section"},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto path = File("board.state", c.text);
    const auto inode = Inode(path);
    {
      auto board = std::make_shared<emu::EmulatedBoard>();
      const auto error = Open(*board, path);
      EXPECT_EQ(error.kind, Kind::kInvalid);
      EXPECT_EQ(error.text.rfind(path + ": " + c.error, 0), 0u) << error.text;
      std::string save_error;
      EXPECT_TRUE(board->SaveState(&save_error)) << "a board without a file saves nothing";
    }
    EXPECT_EQ(ReadAll(path), c.text);
    EXPECT_EQ(Inode(path), inode);
    EXPECT_FALSE(fs::exists(path + ".lock")) << "refused before anything was made beside it";
  }
}

TEST_F(StateFileTest, OnlyRegularFilesAreTakenAndSymbolicLinksAreFollowed) {
  fs::create_directory(dir / "folder");
  ASSERT_EQ(::mkfifo(Path("pipe").c_str(), 0600), 0);
  const std::vector<std::pair<std::string, std::string>> refused = {
      {Path("folder"), "a directory, not a regular file; refused"},
      {Path("pipe"), "a named pipe, not a regular file; refused"},
      {"/dev/null", "a character device, not a regular file; refused"},
  };
  for (const auto& [path, says] : refused) {
    auto board = std::make_shared<emu::EmulatedBoard>();
    const auto error = Open(*board, path);
    EXPECT_EQ(error.kind, Kind::kInvalid) << path;
    EXPECT_EQ(error.text, path + ": " + says);
    EXPECT_FALSE(fs::exists(path + ".lock")) << "refused before it is touched";
  }
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  EXPECT_TRUE(fs::is_fifo(Path("pipe")));

  // A link to a file, and a link to a file not made yet: the link stays.
  fs::create_directory(dir / "real");
  fs::create_symlink("real/a.state", dir / "a.link");
  fs::create_symlink("real/b.state", dir / "b.link");
  std::ofstream(dir / "real" / "a.state");  // empty: refused, and left alone
  {
    auto board = std::make_shared<emu::EmulatedBoard>();
    EXPECT_EQ(Open(*board, Path("a.link")).kind, Kind::kInvalid);
  }
  fs::remove(dir / "real" / "a.state");
  for (const char* link : {"a.link", "b.link"}) {
    auto board = std::make_shared<emu::EmulatedBoard>();
    ASSERT_EQ(Open(*board, Path(link)).kind, Kind::kNone) << link;
    board->Mailbox().Eeprom()[0] = 0x11;
    std::string error;
    ASSERT_TRUE(board->SaveState(&error)) << error;
    ASSERT_TRUE(board->CloseState(&error)) << error;
    EXPECT_TRUE(fs::is_symlink(dir / link));
  }
  EXPECT_TRUE(fs::is_regular_file(dir / "real" / "a.state"));
  EXPECT_TRUE(fs::is_regular_file(dir / "real" / "b.state"));
  EXPECT_TRUE(fs::exists(dir / "real" / "b.state.lock")) << "the lock stands beside the file";
}

TEST_F(StateFileTest, VersionOneFilesStillLoadAndVersionTwoFilesReadBackAsWritten) {
  // Written by the first state file writer: module memory, saved DSP block, EEPROM.
  const auto fixture =
      fs::path(LW_SOURCE_DIR) / "tests" / "fixtures" / "state_files" / "version1.txt";
  const auto path = Path("old.state");
  fs::copy_file(fixture, path);
  auto board = std::make_shared<emu::EmulatedBoard>();
  ASSERT_EQ(Open(*board, path).kind, Kind::kNone);
  {
    auto lock = board->Lock();
    EXPECT_EQ(board->Module().Peek(0x00, 0x81), 'V');
    EXPECT_EQ(board->Dsp().Saved()[7], 9);
    EXPECT_EQ(board->Dsp().Current(), board->Dsp().Saved());
    EXPECT_EQ(board->Mailbox().Eeprom()[0x1234], 0x42);
    EXPECT_EQ(board->ClockSelection(), emu::kPowerOnClock);
  }
  std::string error;
  ASSERT_TRUE(board->SaveState(&error)) << error;
  ASSERT_TRUE(board->CloseState(&error)) << error;
  const auto text = ReadAll(path);
  EXPECT_NE(text.find("lanewright-emulator-state 2\n"), std::string::npos);
  emu::BoardState state;
  ASSERT_TRUE(emu::ParseBoardState(text, &state, &error)) << error;
  EXPECT_EQ(state.dsp_saved[7], 9);
  EXPECT_EQ(state.eeprom[0x1234], 0x42);
  EXPECT_EQ(emu::FormatBoardState(state), text) << "the new format reads back as written";

  // A version 2 file of today (after an EEPROM load, a write and a BER run)
  // reads and writes back byte for byte.
  const auto today = ReadAll(fixture.parent_path() / "version2.txt");
  ASSERT_TRUE(emu::ParseBoardState(today, &state, &error)) << error;
  EXPECT_EQ(emu::FormatBoardState(state), today);
  EXPECT_EQ(state.module.pages.at(0x10)[0x82 - 0x80], 0x05 | 0x04);
  EXPECT_EQ(state.prbs.generator[0][6], 8);
  EXPECT_EQ(state.eeprom[11], 0x99);
}

TEST_F(StateFileTest, OneProcessHoldsTheBoardAndTheNextOneWaits) {
  const auto path = Path("board.state");
  auto holder = std::make_shared<emu::EmulatedBoard>();
  ASSERT_EQ(Open(*holder, path).kind, Kind::kNone);

  auto other = std::make_shared<emu::EmulatedBoard>();
  auto busy = Open(*other, path);
  EXPECT_EQ(busy.kind, Kind::kBusy);
  EXPECT_EQ(busy.text, path + ": board held by PID " + std::to_string(getpid()));

  std::atomic<long> told{-1};
  std::atomic<bool> got{false};
  std::thread waiter([&] {
    emu::EmulatedBoard::StateOptions options;
    options.waiting = [&](long pid) { told = pid; };
    emu::EmulatedBoard::StateError error;
    got = other->OpenState(path, options, &error);
  });
  for (int i = 0; i < 100 && told < 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(told, getpid());
  EXPECT_FALSE(got);
  std::string error;
  ASSERT_TRUE(holder->CloseState(&error)) << error;
  waiter.join();
  EXPECT_TRUE(got) << "taken once the holder let go";
}

}  // namespace
