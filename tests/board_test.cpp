// The transport and the board object against the emulated board, which
// records every request report it receives.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "board/board_worker.h"
#include "board/device.h"
#include "board/log.h"
#include "board/protocol.h"
#include "emulator/emulated_board.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct BoardFixture : ::testing::Test {
  std::shared_ptr<emu::EmulatedBoard> board = std::make_shared<emu::EmulatedBoard>();
  CDevice device{board};
  void SetUp() override {
    ASSERT_EQ(device.FindDevices(), 1);
    ASSERT_TRUE(device.OpenBoard(0));
    board->ClearRequests();
  }
  std::vector<emu::Report> Requests() { return board->Requests(); }
};

std::vector<uint8_t> Bytes(const emu::Report& r, int from, int count) {
  return std::vector<uint8_t>(r.begin() + from, r.begin() + from + count);
}

// One row per board call: the reports it must put on the wire.
struct FramingCase {
  const char* name;
  std::function<bool(CDevice&, uint8_t*)> call;
  std::vector<std::vector<uint8_t>> heads;  // bytes 0..N of each request report
};

TEST_F(BoardFixture, EveryCommandFramesItsReportsAsTheBoardExpects) {
  const std::vector<FramingCase> cases = {
      {"module read 128 at 0x80",
       [](CDevice& d, uint8_t* b) { return d.ReadModule(1, 0xA0, 0x00, 0x80, b, 128); },
       {{0, 0xAA, 0xAA, 0x07, 1, 0x00, 0xA0, 0x80, 50},
        {0, 0xAA, 0xAA, 0x07, 1, 0x00, 0xA0, 0xB2, 50},
        {0, 0xAA, 0xAA, 0x07, 1, 0x00, 0xA0, 0xE4, 28}}},
      {"module write 40 at page 10h 0x80",
       [](CDevice& d, uint8_t* b) { return d.WriteModule(1, 0xA0, 0x10, 0x80, b, 40); },
       {{0, 0xAA, 0xAA, 0x06, 1, 0x10, 0xA0, 0x80, 32},
        {0, 0xAA, 0xAA, 0x06, 1, 0x10, 0xA0, 0xA0, 8}}},
      {"module write exactly 32",
       [](CDevice& d, uint8_t* b) { return d.WriteModule(1, 0xA0, 0x10, 0x80, b, 32); },
       {{0, 0xAA, 0xAA, 0x06, 1, 0x10, 0xA0, 0x80, 32}}},
      {"DSP read 193",
       [](CDevice& d, uint8_t* b) { return d.SendCommand(0x11, 0, 0, b, 193); },
       {{0, 0xAA, 0xAA, 0x11, 0, 0, 50},
        {0, 0xAA, 0xAA, 0x11, 0, 50, 50},
        {0, 0xAA, 0xAA, 0x11, 0, 100, 50},
        {0, 0xAA, 0xAA, 0x11, 0, 150, 43}}},
      {"DSP write 193",
       [](CDevice& d, uint8_t* b) { return d.SendCommand(0x10, 0, 0, b, 193); },
       {{0, 0xAA, 0xAA, 0x10, 0, 0, 50},
        {0, 0xAA, 0xAA, 0x10, 0, 50, 50},
        {0, 0xAA, 0xAA, 0x10, 0, 100, 50},
        {0, 0xAA, 0xAA, 0x10, 0, 150, 43}}},
      {"DSP save",
       [](CDevice& d, uint8_t* b) { return d.SendCommand(0x0D, 0, 0, b, 0); },
       {{0, 0xAA, 0xAA, 0x0D, 0}}},
      {"power read",
       [](CDevice& d, uint8_t* b) { return d.SendCommand(0x0A, 0, 0, b, 12); },
       {{0, 0xAA, 0xAA, 0x0A, 0}}},
      {"checker status lane 6",
       [](CDevice& d, uint8_t* b) {
         b[0] = 1;
         b[1] = 6;
         return d.SendCommand(0x14, 0, 0, b, 25);
       },
       {{0, 0xAA, 0xAA, 0x14, 1, 6, 0}}},
      {"clock select",
       [](CDevice& d, uint8_t* b) {
         b[0] = 2;
         return d.SendCommand(0x00, 0, 0, b, 1);
       },
       {{0, 0xAA, 0xAA, 0x00, 2, 0}}},
      {"checker record 23 bytes",
       [](CDevice& d, uint8_t* b) {
         for (int i = 0; i < 23; ++i) b[i] = static_cast<uint8_t>(i + 1);
         return d.SendCommand(0x13, 0, 0, b, 23);
       },
       {{0, 0xAA, 0xAA, 0x13, 1, 2, 3, 4, 5}}},
      {"generator record 26 bytes",
       [](CDevice& d, uint8_t* b) {
         b[0] = 1;
         b[1] = 5;
         return d.SendCommand(0x12, 0, 0, b, 26);
       },
       {{0, 0xAA, 0xAA, 0x12, 1, 5}}},
      {"mailbox write 36 at 6",
       [](CDevice& d, uint8_t* b) { return d.WriteMailbox(6, b, 36); },
       {{0, 0xAA, 0xAA, 0x15, 6, 36}}},
      {"mailbox read 60 at 10",
       [](CDevice& d, uint8_t* b) { return d.ReadMailbox(10, b, 60); },
       {{0, 0xAA, 0xAA, 0x16, 10, 50}, {0, 0xAA, 0xAA, 0x16, 60, 10}}},
      {"length 0 sends nothing",
       [](CDevice& d, uint8_t* b) { return d.WriteModule(1, 0xA0, 0, 0, b, 0); },
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    board->ClearRequests();
    uint8_t buffer[256] = {};
    EXPECT_TRUE(c.call(device, buffer));
    const auto sent = Requests();
    ASSERT_EQ(sent.size(), c.heads.size());
    for (size_t i = 0; i < sent.size(); ++i)
      EXPECT_EQ(Bytes(sent[i], 0, static_cast<int>(c.heads[i].size())), c.heads[i])
          << "report " << i;
  }
}

TEST_F(BoardFixture, WritesCarryOnlyTheCallersBytesAndReadsFillInOrder) {
  uint8_t data[40];
  for (int i = 0; i < 40; ++i) data[i] = static_cast<uint8_t>(0x40 + i);
  ASSERT_TRUE(device.WriteModule(1, 0xA0, 0x10, 0x80, data, 40));
  const auto sent = Requests();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(Bytes(sent[1], 9, 8), std::vector<uint8_t>(data + 32, data + 40));
  EXPECT_EQ(Bytes(sent[1], 17, 48), std::vector<uint8_t>(48, 0));  // nothing beyond the data

  {
    auto lock = board->Lock();
    for (int r = 0x80; r <= 0xFF; ++r)
      board->Module().Poke(0x02, r, static_cast<uint8_t>(r ^ 0x5A));
  }
  uint8_t read[128] = {};
  ASSERT_TRUE(device.ReadModule(1, 0xA0, 0x02, 0x80, read, 128));
  for (int i = 0; i < 128; ++i) ASSERT_EQ(read[i], (0x80 + i) ^ 0x5A) << i;
}

TEST_F(BoardFixture, ReadTimesOutAfterTheLimitAndTheLinkStaysUsable) {
  board->DropAnswers(1);
  uint8_t status[25];
  std::memset(status, 0xEE, sizeof status);
  status[0] = 0;
  status[1] = 1;
  const auto start = Clock::now();
  const BoardResult r = device.SendCommand(0x14, 0, 0, status, 25);
  const auto took = Clock::now() - start;
  EXPECT_EQ(r.status, BoardStatus::kTimeout);
  EXPECT_GE(took, milliseconds(65));  // 20 ms pause + 50 ms limit
  EXPECT_LT(took, milliseconds(200));
  EXPECT_EQ(std::vector<uint8_t>(status, status + 25), std::vector<uint8_t>(25, 0));
  uint8_t byte = 0;
  EXPECT_TRUE(device.ReadModule(1, 0xA0, 0, 0, &byte, 1));
  EXPECT_EQ(byte, 0x18);
}

// The report hex dump goes to the board category at debug level, through
// whatever sink is installed (the GUI's routes it into QLoggingCategory);
// below the category's threshold nothing is formatted or written.
TEST_F(BoardFixture, ReportsAreLoggedAsHexAtTheBoardsDebugLevel) {
  std::vector<std::string> lines;
  std::mutex m;
  const auto before =
      lwlog::SetLogSink([&](lwlog::Category c, lwlog::Level l, std::string_view line) {
        std::lock_guard lock(m);
        if (c == lwlog::Category::kBoard && l == lwlog::Level::kDebug) lines.emplace_back(line);
      });
  const bool was_tracing = lwlog::Enabled(lwlog::Category::kBoard, lwlog::Level::kDebug);
  lwlog::SetThreshold(lwlog::Category::kBoard, lwlog::Level::kWarning);
  uint8_t byte = 0;
  ASSERT_TRUE(device.ReadModule(1, 0xA0, 0x00, 0x80, &byte, 1));
  EXPECT_TRUE(lines.empty());
  lwlog::SetThreshold(lwlog::Category::kBoard, lwlog::Level::kDebug);
  ASSERT_TRUE(device.ReadModule(1, 0xA0, 0x00, 0x80, &byte, 1));
  board->DropAnswers(1);
  EXPECT_FALSE(device.ReadModule(1, 0xA0, 0x00, 0x80, &byte, 1));
  lwlog::SetThreshold(lwlog::Category::kBoard,
                      was_tracing ? lwlog::Level::kDebug : lwlog::Level::kWarning);
  lwlog::SetLogSink(before);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0].rfind("hid > ", 0), 0u) << lines[0];
  EXPECT_EQ(lines[0].size(), std::string("hid >").size() + 3 * 65) << "65 bytes, each \" xx\"";
  EXPECT_EQ(lines[1].rfind("hid < ", 0), 0u) << lines[1];
  EXPECT_EQ(lines.back(), "hid < timeout");
  EXPECT_STREQ(lwlog::CategoryName(lwlog::Category::kQualify), "lanewright.qualify");
}

TEST_F(BoardFixture, LateAnswerIsDiscardedNotPairedWithTheNextRequest) {
  board->AnswerLate(1);
  uint8_t byte = 0xEE;
  EXPECT_FALSE(device.ReadModule(1, 0xA0, 0x00, 0x81, &byte, 1));  // 'V' arrives too late
  std::this_thread::sleep_for(milliseconds(40));
  uint8_t id = 0;
  ASSERT_TRUE(device.ReadModule(1, 0xA0, 0x00, 0x80, &id, 1));
  EXPECT_EQ(id, 0x18);
}

TEST_F(BoardFixture, HeaderFailureFailsTheCommandAndLeavesTheBufferAlone) {
  board->CorruptNextHeader(1);
  uint8_t status[25];
  std::memset(status, 0x77, sizeof status);
  status[0] = 0;
  status[1] = 3;
  BoardResult r = device.SendCommand(0x14, 0, 0, status, 25);
  EXPECT_EQ(r.status, BoardStatus::kHeaderFailed);
  EXPECT_EQ(status[1], 3);
  EXPECT_EQ(status[2], 0x77);
}

TEST_F(BoardFixture, FailedWriteEndsTheCallAtOnce) {
  board->FailNextWrite(1);
  uint8_t data[64] = {};
  EXPECT_FALSE(device.WriteModule(1, 0xA0, 0x10, 0x80, data, 64));
  EXPECT_EQ(board->RequestCount(), 0u);  // the second report was never sent
}

TEST_F(BoardFixture, EverythingFailsAtOnceAfterClose) {
  device.CloseBoard();
  uint8_t buffer[65] = {};
  const auto start = Clock::now();
  EXPECT_EQ(device.Hid().WriteReport(buffer, 65), -1);
  EXPECT_EQ(device.Hid().ReadReport(buffer, 65), -1);
  EXPECT_FALSE(device.ReadModule(1, 0xA0, 0, 0, buffer, 1));
  EXPECT_FALSE(device.WriteMailbox(5, buffer, 1));
  EXPECT_LT(Clock::now() - start, milliseconds(15));
  EXPECT_EQ(device.CheckBoardPath("emulated:board0"), 0);
}

TEST_F(BoardFixture, UnplugFailsTransfersUntilReopened) {
  board->SetPlugged(false);
  uint8_t byte = 0;
  EXPECT_FALSE(device.ReadModule(1, 0xA0, 0, 0, &byte, 1));
  board->SetPlugged(true);
  EXPECT_FALSE(device.ReadModule(1, 0xA0, 0, 0, &byte, 1));  // the old handle is dead
  device.CloseBoard();
  ASSERT_EQ(device.FindDevices(), 1);
  ASSERT_TRUE(device.OpenBoard(0));
  EXPECT_TRUE(device.ReadModule(1, 0xA0, 0, 0, &byte, 1));
}

TEST(HidEnumeration, OnlyFullMatchesAreListedInEnumerationOrder) {
  auto board = std::make_shared<emu::EmulatedBoard>();
  board->AddDevice({"emulated:wrong-version", 0x0483, 0x0211, 0x0201, "old firmware"});
  board->AddDevice({"emulated:mouse", 0x046D, 0xC077, 0x0100, "mouse"});
  board->AddDevice({"emulated:board1", 0x0483, 0x0211, 0x0200, "second board"});
  CDevice device(board);
  ASSERT_EQ(device.FindDevices(), 2);
  EXPECT_EQ(device.Hid().DevicePaths(),
            (std::vector<std::string>{"emulated:board0", "emulated:board1"}));
  EXPECT_EQ(device.Hid().FindDevicePath("EMULATED:BOARD1"), 1);
  EXPECT_EQ(device.Hid().FindDevicePath("emulated:mouse"), -1);
  EXPECT_FALSE(device.OpenBoard(-1));
  EXPECT_FALSE(device.OpenBoard(2));
  ASSERT_TRUE(device.OpenBoard(0));
  EXPECT_EQ(device.CheckBoardPath("Emulated:Board0"), 1);
  EXPECT_EQ(device.CheckBoardPath("emulated:board1"), 2);

  board->SetPlugged(false);
  CDevice other(board);
  EXPECT_EQ(other.FindDevices(), 1);
}

TEST(HidEnumeration, NoBoardMeansNothingOpens) {
  auto board = std::make_shared<emu::EmulatedBoard>();
  board->SetPlugged(false);
  CDevice device(board);
  EXPECT_EQ(device.FindDevices(), 0);
  EXPECT_FALSE(device.OpenBoard(0));
}

TEST(BoardCalls, ConcurrentCallersNeverTakeEachOthersAnswers) {
  auto board = std::make_shared<emu::EmulatedBoard>();
  CDevice device(board);
  device.FindDevices();
  ASSERT_TRUE(device.OpenBoard(0));
  {
    auto lock = board->Lock();
    board->Module().Poke(0x00, 0x90, 0x11);
    board->Module().Poke(0x00, 0x91, 0x22);
  }
  std::atomic<int> wrong{0};
  auto reader = [&](uint8_t reg, uint8_t expect) {
    for (int i = 0; i < 6; ++i) {
      uint8_t v = 0;
      if (!device.ReadModule(1, 0xA0, 0x00, reg, &v, 1) || v != expect) ++wrong;
    }
  };
  std::thread a(reader, 0x90, 0x11), b(reader, 0x91, 0x22);
  a.join();
  b.join();
  EXPECT_EQ(wrong, 0);
}

TEST(BoardCalls, UnplugAndReopenDuringCallsNeverPairAWrongAnswer) {
  // Two callers keep reading while the board is unplugged, plugged back,
  // closed and reopened under them: a call either reads its own register or
  // fails with its cause, and the link is whole again afterwards.
  auto board = std::make_shared<emu::EmulatedBoard>();
  CDevice device(board);
  device.SetPause([](int) {});
  device.FindDevices();
  ASSERT_TRUE(device.OpenBoard(0));
  {
    auto lock = board->Lock();
    board->Module().Poke(0x00, 0x90, 0x11);
    board->Module().Poke(0x00, 0x91, 0x22);
  }
  std::atomic<bool> done{false};
  std::atomic<int> good{0}, wrong{0}, failed{0};
  std::mutex causes_mutex;
  std::set<std::string> causes;
  auto caller = [&](uint8_t reg, uint8_t expect) {
    while (!done) {
      uint8_t v = 0;
      if (const BoardResult r = device.ReadModule(1, 0xA0, 0x00, reg, &v, 1); !r) {
        ++failed;
        std::lock_guard lock(causes_mutex);
        causes.insert(r.Text());
      } else if (v == expect) {
        ++good;
      } else {
        ++wrong;
      }
    }
  };
  std::thread a(caller, 0x90, 0x11), b(caller, 0x91, 0x22);
  for (int i = 0; i < 20; ++i) {
    board->SetPlugged(false);
    std::this_thread::sleep_for(milliseconds(2));
    board->SetPlugged(true);
    device.CloseBoard();
    device.FindDevices();
    device.OpenBoard(0);
    std::this_thread::sleep_for(milliseconds(5));
  }
  done = true;
  a.join();
  b.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_GT(good, 0);
  EXPECT_GT(failed, 0);
  for (const auto& cause : causes)
    EXPECT_TRUE(cause.rfind(StatusText(BoardStatus::kNotOpen), 0) == 0 ||
                cause.rfind(StatusText(BoardStatus::kTransferError), 0) == 0 ||
                cause.rfind(StatusText(BoardStatus::kTimeout), 0) == 0)
        << cause;
  uint8_t v = 0;
  EXPECT_TRUE(device.ReadModule(1, 0xA0, 0x00, 0x90, &v, 1));
  EXPECT_EQ(v, 0x11);
}

TEST(BoardWorker, RunsJobsInOrderOffTheCallerAndStopDropsWhatIsQueued) {
  BoardWorker worker;
  const auto caller = std::this_thread::get_id();
  std::vector<int> ran;  // the worker writes it; read after Drain and Stop
  std::atomic<bool> on_caller{false};
  for (int i = 0; i < 5; ++i)
    worker.Post([&, i] {
      if (std::this_thread::get_id() == caller) on_caller = true;
      ran.push_back(i);
    });
  worker.Drain();
  EXPECT_EQ(ran, (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_FALSE(on_caller);
  EXPECT_EQ(worker.Pending(), 0u);

  // Stop waits for the running job and drops the queued one; later posts are ignored.
  std::atomic<bool> started{false}, release{false};
  worker.Post([&] {
    started = true;
    while (!release) std::this_thread::sleep_for(milliseconds(1));
    ran.push_back(100);
  });
  worker.Post([&] { ran.push_back(101); });
  while (!started) std::this_thread::sleep_for(milliseconds(1));
  EXPECT_EQ(worker.Pending(), 2u);
  std::thread stopper([&] { worker.Stop(); });
  while (worker.Pending() != 1) std::this_thread::sleep_for(milliseconds(1));
  release = true;
  stopper.join();
  worker.Post([&] { ran.push_back(102); });
  worker.Drain();
  EXPECT_EQ(ran, (std::vector<int>{0, 1, 2, 3, 4, 100}));
}

}  // namespace
