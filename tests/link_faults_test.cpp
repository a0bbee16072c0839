// The board link under faults: a late, dropped or corrupted answer, a failed
// write or an unplug must never show as a good value.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "board/device.h"
#include "board/process_lock.h"
#include "board/protocol.h"
#include "emulator/emulated_board.h"
#include "module/qsfp_dd.h"
#include "signal/board_steps.h"
#include "signal/dsp_page_model.h"
#include "tests/cli_test_support.h"

namespace {

using namespace std::chrono;
using cli_test::RunCli;

struct Link {
  std::shared_ptr<emu::EmulatedBoard> board = std::make_shared<emu::EmulatedBoard>();
  CDevice device{board};
  Link() {
    device.FindDevices();
    EXPECT_TRUE(device.OpenBoard(0));
  }
};

// An answer that comes after the host gave up on it, however late, is never
// taken for the answer to the next request, which follows at once.
TEST(LinkFaults, LateAnswerNeverPairsWithTheNextRequest) {
  // The host gives up 20 + 50 ms after its request: an answer due earlier
  // is on time, a later one is late.
  for (int late_ms : {55, 85, 90, 110, 150, 240}) {
    SCOPED_TRACE(late_ms);
    Link link;
    link.board->AnswerLate(1, late_ms);
    uint8_t byte = 0xEE;
    const BoardResult r = link.device.ReadModule(1, 0xA0, 0x00, 0x81, &byte, 1);
    // On a loaded machine the host may start reading late and still catch
    // the answer: then it must be the right one.
    if (r) {
      EXPECT_EQ(byte, link.board->Module().Peek(0, 0x81));
    } else {
      EXPECT_EQ(r.status, BoardStatus::kTimeout);
      EXPECT_EQ(r.Text(), "the board did not answer within 50 ms (command 0x07, report 1 of 1)");
    }
    if (late_ms >= 150) {
      EXPECT_FALSE(r);
    }
    uint8_t id = 0, state = 0;
    ASSERT_TRUE(link.device.ReadModule(1, 0xA0, 0x00, 0x80, &id, 1));
    EXPECT_EQ(id, 0x18);
    ASSERT_TRUE(link.device.ReadModule(1, 0xA0, 0x00, 0x03, &state, 1));
    EXPECT_EQ(state, link.board->Module().Peek(0, 0x03));
  }
}

// What `flags` showed as good values with one late or lost answer: it must
// fail with the cause, and the next run shows the module as it is.
TEST(LinkFaults, FlagsFailsWithTheCauseInsteadOfShowingOtherBytes) {
  const struct {
    const char* what;
    std::function<void(emu::EmulatedBoard&)> fault;
    const char* cause;
  } cases[] = {
      {"late 90 ms", [](emu::EmulatedBoard& b) { b.AnswerLate(1, 90); }, "did not answer"},
      {"late 110 ms", [](emu::EmulatedBoard& b) { b.AnswerLate(1, 110); }, "did not answer"},
      {"dropped", [](emu::EmulatedBoard& b) { b.DropAnswers(1); }, "did not answer"},
      {"write failed", [](emu::EmulatedBoard& b) { b.FailNextWrite(1); }, "link failed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto board = std::make_shared<emu::EmulatedBoard>();
    board->Module().SetLive(false);
    board->Module().Poke(0, 0x03, 0x06);     // ModuleReady
    board->Module().Poke(0x11, 0x93, 0xFF);  // Rx LOS on every lane
    c.fault(*board);
    auto r = RunCli({"--json", "flags"}, board);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(c.cause), std::string::npos) << r.err;
    r = RunCli({"--json", "flags"}, board);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"module_state\":{\"code\":3,\"text\":\"011 ModReady\"}"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\"rx_los\":[true,true,true,true,true,true,true,true]"), std::string::npos)
        << r.out;
  }
}

// `dsp write` reads the board's block first: a read that fails (here an
// answer that fails the header test) must stop it before anything is written.
TEST(LinkFaults, DspWriteAfterAFailedReadWritesNothing) {
  auto board = std::make_shared<emu::EmulatedBoard>();
  auto r = RunCli({"dsp", "read", "--json"}, board);
  ASSERT_EQ(r.status, 0) << r.err;
  const auto path = std::filesystem::temp_directory_path() / "lw_link_faults_dsp.json";
  std::ofstream(path) << r.out;
  const auto before = board->Dsp().Current();
  board->ClearRequests();
  board->CorruptNextHeader(1);
  r = RunCli({"dsp", "write", path.string()}, board);
  std::filesystem::remove(path);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("header test"), std::string::npos) << r.err;
  for (const auto& q : board->Requests()) EXPECT_NE(q[3], board::kDspWrite);
  EXPECT_EQ(board->Dsp().Current(), before);
}

}  // namespace

namespace {

// A backend that stands for a USB board: the emulated board, locked through
// a file as a hidraw device node would be.
class LockedBackend final : public HidBackend {
 public:
  LockedBackend(std::shared_ptr<emu::EmulatedBoard> board, std::string lock)
      : board_(std::move(board)), lock_(std::move(lock)) {}
  std::vector<HidDeviceInfo> Enumerate() override { return board_->Enumerate(); }
  std::unique_ptr<HidConnection> Open(const std::string& path) override {
    return board_->Open(path);
  }
  std::string Name() const override { return "locked"; }
  std::string LockPath(const std::string&) const override { return lock_; }

 private:
  std::shared_ptr<emu::EmulatedBoard> board_;
  std::string lock_;
};

// One process per board: a board whose lock another holder has is not
// opened; it opens once the holder lets go, and the holder is named.
TEST(BoardLock, ABoardHeldElsewhereIsBusyUntilReleased) {
  const auto path = (std::filesystem::temp_directory_path() / "lw_board_lock_test").string();
  std::ofstream(path).put('\n');
  auto board = std::make_shared<emu::EmulatedBoard>();
  CDevice first(std::make_shared<LockedBackend>(board, path));
  CDevice second(std::make_shared<LockedBackend>(board, path));
  first.FindDevices();
  second.FindDevices();
  ASSERT_TRUE(first.OpenBoard(0));
  const BoardResult busy = second.OpenBoard(0);
  EXPECT_EQ(busy.status, BoardStatus::kBusy);
  // /proc/locks names the process that took the lock: this one.
  EXPECT_EQ(busy.holder_pid, static_cast<long>(getpid()));
  EXPECT_EQ(busy.Text(), "board held by PID " + std::to_string(getpid()));
  EXPECT_EQ(second.OpenPath(), "");

  // A waiter is told once and gets the lock when the holder closes.
  ProcessLock waiter;
  int told = 0;
  std::thread release([&] {
    std::this_thread::sleep_for(milliseconds(300));
    first.CloseBoard();
  });
  EXPECT_EQ(waiter.Wait(
                path, false, [&](long) { ++told; }, nullptr, 20),
            ProcessLock::State::kHeld);
  release.join();
  EXPECT_EQ(told, 1);
  waiter.Release();
  EXPECT_TRUE(second.OpenBoard(0));
  EXPECT_EQ(first.OpenBoard(0).status, BoardStatus::kBusy);

  // A missing device node is an error, never created.
  ProcessLock missing;
  EXPECT_EQ(missing.TryLock(path + ".none", false), ProcessLock::State::kError);
  EXPECT_FALSE(std::filesystem::exists(path + ".none"));
  second.CloseBoard();
  std::filesystem::remove(path);
}

}  // namespace
