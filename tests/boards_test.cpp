// Many boards at once: the emulated board standing for N boards, the runner
// that works on every board in parallel with a CDevice each, and --board all.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <set>
#include <stdexcept>

#include "board/multi_board.h"
#include "board/process_lock.h"
#include "cli/cli.h"
#include "emulator/emulated_rack.h"
#include "tests/cli_test_support.h"

namespace {

using cli_test::Json;
using cli_test::RunCliOn;

TEST(EmulatedBoards, EachHasItsOwnPathAndModuleSerial) {
  auto r = RunCliOn(nullptr, {"--emulate-boards", "4", "boards", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto list = Json(r.out);
  ASSERT_EQ(list.size(), 4u);
  std::set<std::string> paths, serials;
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(list[i]["path"], "emulated:board" + std::to_string(i));
    paths.insert(list[i]["path"]);
    r = RunCliOn(nullptr,
                 {"--emulate-boards", "4", "--board", std::to_string(i), "info", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto info = Json(r.out);
    const std::string serial = info["identity"]["serial_number"];
    EXPECT_EQ(serial, "LWX2612090042-" + std::to_string(i + 1));
    serials.insert(serial);
    // The page checksum stays valid with the new serial.
    for (const auto& sum : info["checksums"]) EXPECT_TRUE(sum["verified"]) << r.out;
  }
  EXPECT_EQ(paths.size(), 4u);
  EXPECT_EQ(serials.size(), 4u);
  // One board is the plain emulated board, serial and all.
  r = RunCliOn(nullptr, {"--emulate-boards", "1", "info", "--json"});
  EXPECT_EQ(Json(r.out)["identity"]["serial_number"], "LWX2612090042");
  r = RunCliOn(nullptr, {"--emulate-boards", "4", "--board", "4", "info"});
  EXPECT_EQ(r.status, cli::kBoardFailure);
  EXPECT_NE(r.err.find("board index 4 not present (4 board(s) found)"), std::string::npos) << r.err;
}

TEST(EmulatedBoards, BadCountsAndStateFilesAreRefused) {
  for (const char* n : {"0", "65", "-1", "x"}) {
    const auto r = RunCliOn(nullptr, {"--emulate-boards", n, "boards"});
    EXPECT_EQ(r.status, cli::kUsage) << n;
  }
  const auto r =
      RunCliOn(nullptr, {"--emulate=/nonexistent/board.state", "--emulate-boards", "2", "boards"});
  EXPECT_EQ(r.status, cli::kUsage);
  EXPECT_NE(r.err.find("--emulate-boards keeps its boards in memory"), std::string::npos) << r.err;
}

TEST(BoardAll, ASingleBoardCommandRefusesIt) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--board", "all", "info"},
        std::vector<std::string>{"--emulate-boards", "3", "--board", "all", "read", "0xA00080"}}) {
    const auto r = cli_test::RunCli(args);
    EXPECT_EQ(r.status, cli::kUsage) << r.err;
    EXPECT_EQ(r.err.rfind("lanewright-cli: --board all: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("runs on one board (--board INDEX)"), std::string::npos) << r.err;
  }
}

// Waits until `count` callers have arrived, or fails after 10 s: proof that
// they all run at the same time, without measuring time.
struct Rendezvous {
  explicit Rendezvous(int count) : left(count) {}
  bool Arrive() {
    std::unique_lock lock(mutex);
    if (--left == 0) all.notify_all();
    return all.wait_for(lock, std::chrono::seconds(10), [this] { return left <= 0; });
  }
  std::mutex mutex;
  std::condition_variable all;
  int left;
};

TEST(RunOnEachBoard, RunsOnEveryBoardAtOnceEachWithItsOwnDevice) {
  auto rack = std::make_shared<emu::EmulatedRack>(4);
  Rendezvous together(4);
  std::mutex mutex;
  std::vector<std::string> serials(4);
  const auto outcomes =
      board::RunOnEachBoard(rack, [&](const board::BoardSlot& slot, CDevice& dev) {
        EXPECT_EQ(dev.OpenPath(), slot.path);
        uint8_t serial[16] = {};
        if (!dev.ReadModule(1, 0xA0, 0x00, 166, serial, 16))
          throw std::runtime_error("read failed");
        EXPECT_TRUE(together.Arrive()) << "board " << slot.index << " ran alone";
        std::lock_guard lock(mutex);
        serials[slot.index].assign(reinterpret_cast<char*>(serial), 16);
      });
  ASSERT_EQ(outcomes.size(), 4u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(outcomes[i].slot.index, i);
    EXPECT_EQ(outcomes[i].slot.path, emu::EmulatedRack::PathOf(i));
    EXPECT_TRUE(outcomes[i].opened) << outcomes[i].opened.Text();
    EXPECT_FALSE(outcomes[i].error);
    EXPECT_EQ(serials[i], "LWX2612090042-" + std::to_string(i + 1) + " ");
    // Each board saw its own exchange only.
    EXPECT_EQ(rack->Board(i)->RequestCount(), 1u);
  }
}

// The boards behind a backend whose boards are held by a lock file each, as
// hidapi boards are by their device nodes.
struct LockedRack : HidBackend {
  std::shared_ptr<emu::EmulatedRack> rack;
  std::string dir;
  std::vector<HidDeviceInfo> Enumerate() override { return rack->Enumerate(); }
  std::unique_ptr<HidConnection> Open(const std::string& path) override { return rack->Open(path); }
  std::string Name() const override { return "locked"; }
  std::string LockPath(const std::string& path) const override {
    return dir + "/" + path.substr(path.find(':') + 1) + ".lock";
  }
};

TEST(RunOnEachBoard, EachBoardGoesItsOwnWay) {
  auto locked = std::make_shared<LockedRack>();
  locked->rack = std::make_shared<emu::EmulatedRack>(4);
  locked->dir = ::testing::TempDir() + "/lw_boards_" + std::to_string(::getpid());
  std::filesystem::create_directories(locked->dir);
  // Another holder has board 1; board 2 is unplugged after the listing;
  // board 3's function throws.
  ProcessLock holder;
  ASSERT_EQ(holder.TryLock(locked->LockPath(emu::EmulatedRack::PathOf(1)), true),
            ProcessLock::State::kHeld);
  for (int i = 0; i < 4; ++i) {  // the lock files the boards' devices stand for
    ProcessLock touch;
    touch.TryLock(locked->LockPath(emu::EmulatedRack::PathOf(i)), true);
  }
  const auto slots = board::ListBoards(locked);
  ASSERT_EQ(slots.size(), 4u);
  locked->rack->Board(2)->SetPlugged(false);
  board::EachBoardOptions options;
  options.wait = false;
  std::atomic<int> ran{0};
  const auto outcomes = board::RunOnBoards(
      locked, slots,
      [&](const board::BoardSlot& slot, CDevice&) {
        ++ran;
        if (slot.index == 3) throw std::runtime_error("step failed");
      },
      options);
  EXPECT_EQ(ran, 2);
  EXPECT_TRUE(outcomes[0].opened);
  EXPECT_FALSE(outcomes[0].error);
  EXPECT_EQ(outcomes[1].opened.status, BoardStatus::kBusy);
  EXPECT_EQ(outcomes[2].opened.status, BoardStatus::kOpenFailed);
  EXPECT_TRUE(outcomes[3].opened);
  ASSERT_TRUE(outcomes[3].error);
  EXPECT_THROW(std::rethrow_exception(outcomes[3].error), std::runtime_error);

  // Waiting: the board is taken as soon as its holder lets it go, after the
  // wait was told once.
  options.wait = true;
  int told = 0;
  options.waiting = [&](const board::BoardSlot& slot, long pid) {
    ++told;
    EXPECT_EQ(slot.index, 1);
    holder.Release();
  };
  const auto second = board::RunOnBoards(
      locked, {slots[1]}, [](const board::BoardSlot&, CDevice&) {}, options);
  EXPECT_EQ(told, 1);
  EXPECT_TRUE(second[0].opened) << second[0].opened.Text();
  std::filesystem::remove_all(locked->dir);
}

TEST(ContextRunOnBoards, AllOrTheChosenBoard) {
  std::ostringstream out, err;
  cli::Context ctx(out, err);
  auto rack = std::make_shared<emu::EmulatedRack>(3);
  ctx.backend = rack;
  ctx.emulated = rack->Board(0);
  std::mutex mutex;
  std::vector<std::string> seen;
  auto note = [&](const board::BoardSlot& slot, CDevice&) {
    std::lock_guard lock(mutex);
    seen.push_back(slot.path);
  };
  ctx.all_boards = true;
  EXPECT_EQ(ctx.RunOnBoards(note).size(), 3u);
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen,
            (std::vector<std::string>{"emulated:board0", "emulated:board1", "emulated:board2"}));
  seen.clear();
  ctx.all_boards = false;
  ctx.board_index = 2;
  const auto one = ctx.RunOnBoards(note);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].slot.index, 2);
  EXPECT_EQ(seen, std::vector<std::string>{"emulated:board2"});
  ctx.board_index = 3;
  EXPECT_THROW(ctx.RunOnBoards(note), cli::BoardError);
}

}  // namespace
