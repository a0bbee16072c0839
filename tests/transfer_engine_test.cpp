// Load and check against the emulated board's mailbox and EEPROM: the log
// lines, the exchanges on the wire, the failure rules and the concurrency
// rules. The steps run on a board worker, as in the application, unless a
// test says otherwise. Pauses run fast; the emulated board answers at once.
#include "transfer/transfer_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <future>
#include <mutex>
#include <thread>

#include "board/board_worker.h"
#include "board/device.h"
#include "board/protocol.h"
#include "emulator/emulated_board.h"
#include "transfer/transfer_texts.h"

namespace {

using transfer::Job;
using transfer::Outcome;
using Lines = std::vector<std::string>;

std::vector<uint8_t> Pattern(size_t size, uint8_t seed = 7) {
  std::vector<uint8_t> v(size);
  for (size_t i = 0; i < size; ++i) v[i] = static_cast<uint8_t>(i * 31 + seed + (i >> 8));
  return v;
}

// A page file text whose image is `image` (a multiple of 4 bytes).
std::string PageFor(const std::vector<uint8_t>& image) {
  std::string text = "/ generated\n";
  char group[9];
  for (size_t i = 0; i < image.size(); i += 4) {
    std::snprintf(group, sizeof group, "%02X%02X%02X%02X", image[i + 3], image[i + 2], image[i + 1],
                  image[i]);
    text += group;
    if (i % 32 == 28) text += "\n";
  }
  return text + "\n";
}

// One mailbox request in words: "w05=A0", "w06=20 00 00 00 +32", "r05", "r0A:8".
std::string Op(const emu::Report& r) {
  char buf[48];
  const int count = r[5];
  if (r[3] == board::kMailboxWrite) {
    if (count == 1)
      std::snprintf(buf, sizeof buf, "w%02X=%02X", r[4], r[6]);
    else
      std::snprintf(buf, sizeof buf, "w%02X=%02X %02X %02X %02X +%d", r[4], r[6], r[7], r[8], r[9],
                    count - 4);
  } else if (r[3] == board::kMailboxRead) {
    if (count == 1)
      std::snprintf(buf, sizeof buf, "r%02X", r[4]);
    else
      std::snprintf(buf, sizeof buf, "r%02X:%d", r[4], count);
  } else {
    std::snprintf(buf, sizeof buf, "cmd%02X", r[3]);
  }
  return buf;
}

struct TransferTest : ::testing::Test {
  std::shared_ptr<emu::EmulatedBoard> board = std::make_shared<emu::EmulatedBoard>();
  CDevice device{board};
  BoardWorker worker;
  std::mutex mutex;
  Lines log;
  std::vector<transfer::Progress> progress;
  std::function<void(const transfer::Progress&)> on_progress;  // runs between two exchanges
  std::function<void(int ms)> on_pause;
  std::unique_ptr<transfer::TransferEngine> engine;

  void SetUp() override {
    board->SetAnswerDelayMs(0);
    device.SetPause([this](int ms) {
      if (on_pause) on_pause(ms);
    });
    ASSERT_EQ(device.FindDevices(), 1);
    ASSERT_TRUE(device.OpenBoard(0));
    // The check's serve wait is a real timer on the worker: 1 ms keeps long
    // checks short.
    MakeEngine({&worker, 1});
  }
  void TearDown() override { engine.reset(); }

  void MakeEngine(transfer::Options options) {
    engine.reset();
    engine = std::make_unique<transfer::TransferEngine>(
        device,
        transfer::Callbacks{[this](const std::string& text) {
                              std::lock_guard lock(mutex);
                              log.push_back(text);
                            },
                            [this](const transfer::Progress& p) {
                              {
                                std::lock_guard lock(mutex);
                                progress.push_back(p);
                              }
                              if (on_progress) on_progress(p);
                            },
                            nullptr},
        options);
  }

  void UseImage(const std::vector<uint8_t>& image) {
    ASSERT_TRUE(engine->SetPageText(transfer::JoinDataLines(PageFor(image))));
    ASSERT_TRUE(engine->StartConversion());
    engine->Wait(Job::kConversion);
    ASSERT_EQ(engine->Image(), image);
    Clear();
  }
  void Clear() {
    board->ClearRequests();
    std::lock_guard lock(mutex);
    log.clear();
    progress.clear();
  }
  transfer::Result Run(Job job) {
    EXPECT_TRUE(job == Job::kLoad ? engine->StartLoad() : engine->StartCheck());
    engine->Wait(job);
    return engine->LastResult(job);
  }
  Lines Log() {
    std::lock_guard lock(mutex);
    return log;
  }
  Lines Ops() {
    Lines out;
    for (const auto& r : board->Requests()) out.push_back(Op(r));
    return out;
  }
  std::vector<uint8_t> Eeprom(size_t size) {
    auto lock = board->Lock();
    const auto& e = board->Mailbox().Eeprom();
    return std::vector<uint8_t>(e.begin(), e.begin() + size);
  }
};

// ---- loads -----------------------------------------------------------------

struct LoadCase {
  size_t size;
  Lines log;
  Lines first_ops, last_ops;
};

TEST_F(TransferTest, LoadWritesEveryBlockAndLogsAsTheBoardProgresses) {
  const std::vector<LoadCase> cases = {
      {4,
       {"进入EEPROM加载模式!", "写入数据块数据  Address:0    DataSize:4", "写入数据完成!"},
       {"w05=A0", "r05", "w06=04 00 00 00 +4", "w05=AA", "r05", "w05=00"},
       {}},
      {64,  // a full last block has no line of its own
       {"进入EEPROM加载模式!", "写入数据块数据  Address:0x0    DataSize:2048", "写入数据完成!"},
       {"w05=A0", "r05", "w06=20 00 00 00 +32", "w05=AA", "r05", "w06=20 00 00 20 +32", "w05=AA",
        "r05", "w05=00"},
       {}},
      {2048 + 40,
       {"进入EEPROM加载模式!", "写入数据块数据  Address:0x0    DataSize:2048",
        "写入数据块数据  Address:0x800    DataSize:2048",
        "写入数据块数据  Address:820    DataSize:8", "写入数据完成!"},
       {"w05=A0", "r05", "w06=20 00 00 00 +32", "w05=AA"},
       {"r05", "w06=08 00 08 20 +8", "w05=AA", "r05", "w05=00"}},
  };
  // The command-line tool runs the same steps in line, on the waiting thread.
  for (const bool in_line : {false, true}) {
    if (in_line) MakeEngine({nullptr});
    for (const auto& c : cases) {
      SCOPED_TRACE(std::to_string(c.size) + (in_line ? " bytes in line" : " bytes on the worker"));
      const auto image = Pattern(c.size, static_cast<uint8_t>(c.size));
      UseImage(image);
      EXPECT_EQ(Run(Job::kLoad).outcome, Outcome::kDone);
      EXPECT_EQ(Log(), c.log);
      const auto ops = Ops();
      ASSERT_GE(ops.size(), c.first_ops.size());
      EXPECT_EQ(Lines(ops.begin(), ops.begin() + c.first_ops.size()), c.first_ops);
      if (!c.last_ops.empty()) {
        EXPECT_EQ(Lines(ops.end() - c.last_ops.size(), ops.end()), c.last_ops);
      }
      EXPECT_EQ(ops.size(), 3 * ((c.size + 31) / 32) + 3);
      EXPECT_EQ(Eeprom(c.size), image);
      ASSERT_FALSE(progress.empty());
      EXPECT_EQ(progress.back().percent, 100);
      EXPECT_EQ(progress.back().done, c.size);
    }
  }
  auto lock = board->Lock();
  EXPECT_FALSE(board->Mailbox().InLoadMode());
  EXPECT_EQ(board->Mailbox().Violations(), 0);
}

TEST_F(TransferTest, ProgressIsCutFromSinglePrecision) {
  EXPECT_EQ(transfer::ProgressPercent(32, 2088), 1);
  EXPECT_EQ(transfer::ProgressPercent(2080, 2088), 99);
  EXPECT_EQ(transfer::ProgressPercent(2088, 2088), 100);
  EXPECT_EQ(transfer::ProgressPercent(0, 0), 0);
}

// ---- checks ----------------------------------------------------------------

struct CheckCase {
  const char* name;
  int poke = -1;  // EEPROM byte to change after the load
  Lines tail;     // log lines after the block lines
  Outcome outcome;
};

TEST_F(TransferTest, CheckReadsBackAndComparesByteByByte) {
  const auto image = Pattern(8192);
  {
    auto lock = board->Lock();
    std::copy(image.begin(), image.end(), board->Mailbox().Eeprom().begin());
  }
  UseImage(image);
  const std::vector<CheckCase> cases = {
      {"intact",
       -1,
       {"数据校验正常! 已校验字节数据地址:0x0", "数据校验正常! 已校验字节数据地址:0x1000",
        "数据校验成功,无异常!"},
       Outcome::kDone},
      {"a byte differs",
       0x1234,
       {"数据校验正常! 已校验字节数据地址:0x0", "数据校验正常! 已校验字节数据地址:0x1000",
        "数据校验异常,异常字节数据地址:0x1234，请检查!"},
       Outcome::kMismatch},
      {"the first byte differs",
       0,
       {"数据校验异常,异常字节数据地址:0x0，请检查!"},
       Outcome::kMismatch},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.poke >= 0) {
      auto lock = board->Lock();
      board->Mailbox().Eeprom()[c.poke] ^= 0x5A;
    }
    Clear();
    EXPECT_EQ(Run(Job::kCheck).outcome, c.outcome);
    Lines expected = {"进入EEPROM加载模式!", "读入数据块数据 Address:0x0  DataSize:2048",
                      "读入数据块数据 Address:0x800  DataSize:2048",
                      "读入数据块数据 Address:0x1000  DataSize:2048",
                      "读入数据块数据 Address:0x1800  DataSize:2048"};
    expected.insert(expected.end(), c.tail.begin(), c.tail.end());
    EXPECT_EQ(Log(), expected);
    const auto ops = Ops();
    EXPECT_EQ(Lines(ops.begin(), ops.begin() + 6),
              (Lines{"w05=A0", "r05", "w06=20 00 00 00 +0", "w05=A5", "r05", "r0A:32"}));
    EXPECT_EQ(ops.back(), "r0A:32") << "a check leaves the load mode as it is";
    EXPECT_EQ(engine->ReadBack(), Eeprom(8192));
    if (c.poke >= 0) {
      auto lock = board->Lock();
      board->Mailbox().Eeprom()[c.poke] ^= 0x5A;
    }
  }
}

TEST_F(TransferTest, AShortLastBlockIsReadBackAndNamedWithoutPrefix) {
  const auto image = Pattern(2048 + 40);
  UseImage(image);
  ASSERT_EQ(Run(Job::kLoad).outcome, Outcome::kDone);
  Clear();
  EXPECT_EQ(Run(Job::kCheck).outcome, Outcome::kDone);
  const auto log = Log();
  EXPECT_NE(std::find(log.begin(), log.end(), "读入数据块数据 Address:820  DataSize:8"), log.end());
  EXPECT_EQ(Ops().back(), "r0A:8");
}

TEST_F(TransferTest, EmptyImageLoadsNothingAndFailsTheCheck) {
  EXPECT_EQ(Run(Job::kLoad).outcome, Outcome::kNoImage);
  EXPECT_EQ(Log(), Lines{"未加载文件!"});
  EXPECT_TRUE(Ops().empty());
  Clear();
  EXPECT_EQ(Run(Job::kCheck).outcome, Outcome::kMismatch);
  EXPECT_EQ(Log(), (Lines{"进入EEPROM加载模式!", "数据校验异常,数据长度不一致，请检查!"}));
  EXPECT_EQ(Ops(), Lines{"w05=A0"});
}

// ---- failures --------------------------------------------------------------

TEST_F(TransferTest, ABoardThatNeverTurnsReadyIsAbortedAfter202Polls) {
  UseImage(Pattern(64));
  for (Job job : {Job::kLoad, Job::kCheck}) {
    SCOPED_TRACE(job == Job::kLoad ? "load" : "check");
    {
      auto lock = board->Lock();
      board->Mailbox().InjectFault(emu::MailboxFault::kNeverReady);
    }
    Clear();
    EXPECT_EQ(Run(job).outcome, Outcome::kBoardFailure);
    const char* failed = job == Job::kLoad ? "写入数据异常,自动退出!" : "读入数据异常,自动退出!";
    EXPECT_EQ(Log(), (Lines{"进入EEPROM加载模式!", failed}));
    Lines expected = {"w05=A0"};
    expected.insert(expected.end(), 202, "r05");
    expected.push_back("w05=FF");
    EXPECT_EQ(Ops(), expected);
    auto lock = board->Lock();
    EXPECT_FALSE(board->Mailbox().InLoadMode());
    board->Mailbox().InjectFault(emu::MailboxFault::kNone);
  }
}

TEST_F(TransferTest, AnEndThatIsNeverConfirmedWrites0xFFToMailbox0x85) {
  UseImage(Pattern(64));
  {
    auto lock = board->Lock();
    board->Mailbox().InjectFault(emu::MailboxFault::kNeverReady, 2);  // after the last block
  }
  std::atomic<int> short_pauses{0};
  on_pause = [&](int ms) { short_pauses += ms == 1; };
  EXPECT_EQ(Run(Job::kLoad).outcome, Outcome::kBoardFailure);
  EXPECT_EQ(Log().back(), "写入数据异常,自动退出!");
  EXPECT_EQ(Log().size(), 3u);
  const auto ops = Ops();
  Lines tail(200, "r05");
  tail.push_back("w85=FF");
  EXPECT_EQ(Lines(ops.end() - 201, ops.end()), tail);
  EXPECT_EQ(short_pauses, 200);
  auto lock = board->Lock();
  EXPECT_EQ(board->Mailbox().EndAborts(), 1);
  EXPECT_EQ(board->Mailbox().Aborts(), 0);
}

TEST_F(TransferTest, AFailedPollIsNotTakenForReady) {
  // The board needs two more polls after each command, and the answer to the
  // first poll after entering the load mode is lost: the block must wait for a
  // real 0xA0, not take the lost answer for one.
  const auto image = Pattern(64);
  UseImage(image);
  {
    auto lock = board->Lock();
    board->Mailbox().SetReadyAfterPolls(2);
    board->Mailbox().InjectFault(emu::MailboxFault::kDropAnswers, 0, 1);
  }
  EXPECT_EQ(Run(Job::kLoad).outcome, Outcome::kDone);
  const auto ops = Ops();
  EXPECT_EQ(Lines(ops.begin(), ops.begin() + 5),
            (Lines{"w05=A0", "r05", "r05", "r05", "w06=20 00 00 00 +32"}));
  EXPECT_EQ(Eeprom(64), image);
  // The check's data-ready polls wait for the board as well.
  Clear();
  EXPECT_EQ(Run(Job::kCheck).outcome, Outcome::kDone);
  auto lock = board->Lock();
  EXPECT_EQ(board->Mailbox().Violations(), 0);
}

struct FailedWriteCase {
  Job job;
  int write;  // the failing write, counted from 1 (a read's request is a write too)
  const char* what;
};

TEST_F(TransferTest, AFailedExchangeEndsTheTransferWithItsFailureLine) {
  // 2 blocks. Load writes: 1 w05=A0, 2 r05, 3 block, 4 w05=AA, ..., 9 w05=00.
  // Check writes: 1 w05=A0, 2 r05, 3 header, 4 w05=A5, 5 r05, 6 r0A.
  const std::vector<FailedWriteCase> cases = {
      {Job::kLoad, 1, "entering"}, {Job::kLoad, 3, "block"},      {Job::kLoad, 4, "handshake"},
      {Job::kLoad, 9, "leaving"},  {Job::kCheck, 1, "entering"},  {Job::kCheck, 3, "header"},
      {Job::kCheck, 4, "asking"},  {Job::kCheck, 6, "data read"},
  };
  UseImage(Pattern(64));
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.job == Job::kLoad ? "load, " : "check, ") + c.what);
    {
      auto lock = board->Lock();
      board->Mailbox().InjectFault(emu::MailboxFault::kNone);
    }
    std::atomic<int> writes{0};
    on_pause = [&](int ms) {
      if (ms == 20 && ++writes == c.write - 1) board->FailNextWrite(1);
    };
    if (c.write == 1) board->FailNextWrite(1);
    Clear();
    const auto result = Run(c.job);
    on_pause = nullptr;
    EXPECT_EQ(result.outcome, Outcome::kBoardFailure);
    EXPECT_NE(result.detail.find("failed"), std::string::npos) << result.detail;
    const auto log = Log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(),
              c.job == Job::kLoad ? "写入数据异常,自动退出!" : "读入数据异常,自动退出!");
    EXPECT_EQ(std::count(log.begin(), log.end(), "写入数据完成!"), 0);
    EXPECT_EQ(Ops().back(), "w05=FF") << "the board is told to abort";
  }
}

// ---- cancel ----------------------------------------------------------------

TEST_F(TransferTest, CancelWithNothingRunningStillResetsTheProgress) {
  engine->CancelLoad();
  EXPECT_EQ(Log(), Lines{"Terminate File Transfer!"});
  ASSERT_EQ(progress.size(), 1u);
  EXPECT_EQ(progress[0].percent, 0);
  EXPECT_TRUE(Ops().empty());
}

TEST_F(TransferTest, CancelStopsALoadBetweenTwoExchanges) {
  UseImage(Pattern(2048));
  size_t sent_at_cancel = 0;
  on_progress = [&](const transfer::Progress& p) {
    if (p.done == 3 * 32) {
      sent_at_cancel = board->RequestCount();
      engine->CancelLoad();
    }
  };
  EXPECT_EQ(Run(Job::kLoad).outcome, Outcome::kCancelled);
  EXPECT_EQ(board->RequestCount(), sent_at_cancel) << "no exchange after the Cancel";
  EXPECT_EQ(Ops().back(), "w06=20 00 00 40 +32");
  EXPECT_EQ(Log().back(), "Terminate File Transfer!");
  EXPECT_EQ(progress.back().percent, 0);
  const auto log = Log();
  EXPECT_EQ(std::count(log.begin(), log.end(), "Terminate File Transfer!"), 1);
  auto lock = board->Lock();
  EXPECT_EQ(board->Mailbox().Aborts(), 0) << "a cancelled load writes nothing more";
}

// ---- concurrency -----------------------------------------------------------

// Holds the board's pause until released, so that a job stays running.
struct Gate {
  std::mutex m;
  std::condition_variable cv;
  bool open = false, reached = false;
  void Pass() {
    std::unique_lock lock(m);
    reached = true;
    cv.notify_all();
    cv.wait(lock, [&] { return open; });
  }
  void AwaitReached() {
    std::unique_lock lock(m);
    cv.wait(lock, [&] { return reached; });
  }
  void Open() {
    std::lock_guard lock(m);
    open = true;
    cv.notify_all();
  }
};

TEST_F(TransferTest, OneLoadAndOneCheckAtATimeAndTheImageStaysFixed) {
  UseImage(Pattern(64));
  Gate gate;
  on_pause = [&](int) { gate.Pass(); };
  ASSERT_TRUE(engine->StartLoad());
  gate.AwaitReached();  // the load is inside its first exchange
  EXPECT_FALSE(engine->StartLoad());
  EXPECT_FALSE(engine->StartConversion());
  EXPECT_FALSE(engine->SetPageText(transfer::JoinDataLines("00000000\n")));
  EXPECT_EQ(engine->ReadPageFile("/nonexistent"), transfer::TransferEngine::ReadStatus::kBusy);
  EXPECT_TRUE(engine->StartCheck()) << "a check waits for the load";
  EXPECT_FALSE(engine->StartCheck());
  EXPECT_TRUE(engine->Busy().loading && engine->Busy().checking);
  gate.Open();
  engine->Wait(Job::kLoad);
  engine->Wait(Job::kCheck);
  EXPECT_EQ(engine->LastResult(Job::kLoad).outcome, Outcome::kDone);
  EXPECT_EQ(engine->LastResult(Job::kCheck).outcome, Outcome::kDone);
  EXPECT_EQ(engine->Image(), Pattern(64));
  // The check's traffic begins after the load left the load mode.
  const auto ops = Ops();
  const auto leave = std::find(ops.begin(), ops.end(), "w05=00");
  ASSERT_NE(leave, ops.end());
  EXPECT_EQ(std::count(ops.begin(), leave, "w05=A0"), 1);
  EXPECT_EQ(std::count(leave, ops.end(), "w05=A0"), 1);
}

TEST_F(TransferTest, ALoadPressedDuringACheckWaitsForIt) {
  UseImage(Pattern(64));
  Gate gate;
  on_pause = [&](int) { gate.Pass(); };
  ASSERT_TRUE(engine->StartCheck());
  gate.AwaitReached();
  ASSERT_TRUE(engine->StartLoad());
  gate.Open();
  engine->Wait(Job::kCheck);
  engine->Wait(Job::kLoad);
  EXPECT_EQ(engine->LastResult(Job::kLoad).outcome, Outcome::kDone);
  const auto ops = Ops();
  const auto last_read =
      ops.size() - 1 - (std::find(ops.rbegin(), ops.rend(), "r0A:32") - ops.rbegin());
  const auto load_enter =
      ops.size() - 1 - (std::find(ops.rbegin(), ops.rend(), "w05=A0") - ops.rbegin());
  EXPECT_LT(last_read, load_enter) << "the load enters the load mode after the check's last read";
  auto lock = board->Lock();
  EXPECT_EQ(board->Mailbox().Violations(), 0);
}

TEST_F(TransferTest, ACheckPressedDuringAConversionComparesTheNewImage) {
  const auto image = Pattern(8 * 1024);
  ASSERT_TRUE(engine->SetPageText(transfer::JoinDataLines(PageFor(image))));
  {
    auto lock = board->Lock();
    std::copy(image.begin(), image.end(), board->Mailbox().Eeprom().begin());
  }
  ASSERT_TRUE(engine->StartConversion());
  ASSERT_TRUE(engine->StartCheck());
  engine->Wait(Job::kCheck);
  EXPECT_EQ(engine->LastResult(Job::kCheck).outcome, Outcome::kDone);
  EXPECT_EQ(engine->ReadBack(), image);
}

TEST_F(TransferTest, ACancelledLoadThatWaitsForACheckNeverReachesTheBoard) {
  UseImage(Pattern(64));
  Gate gate;
  on_pause = [&](int) { gate.Pass(); };
  ASSERT_TRUE(engine->StartCheck());
  gate.AwaitReached();
  ASSERT_TRUE(engine->StartLoad());
  engine->CancelLoad();
  EXPECT_TRUE(engine->Wait(Job::kLoad, 2000)) << "a load that has not begun stops at once";
  EXPECT_EQ(engine->LastResult(Job::kLoad).outcome, Outcome::kCancelled);
  EXPECT_EQ(Log(), Lines{"Terminate File Transfer!"});
  gate.Open();
  engine->Wait(Job::kCheck);
  const auto ops = Ops();
  EXPECT_EQ(std::count(ops.begin(), ops.end(), "w05=A0"), 1) << "only the check entered";
  EXPECT_EQ(std::count(ops.begin(), ops.end(), "w05=AA"), 0);
}

// ---- the board worker's other jobs -------------------------------------------

TEST_F(TransferTest, APollPostedDuringALoadRunsBetweenTwoOfItsExchanges) {
  // A page's poll, posted to the board worker while the load writes its fourth
  // block, runs before the load's next exchange, not after the load.
  const auto image = Pattern(2048);
  UseImage(image);
  uint8_t identifier = 0;
  {
    auto lock = board->Lock();
    identifier = board->Module().Peek(0, 0x80);
  }
  uint8_t id[3] = {};
  bool read = false;
  on_progress = [&](const transfer::Progress& p) {
    if (p.done == 4 * 32)
      worker.Post([&] { read = device.ReadModule(1, 0xA0, 0x00, 0x80, id, 3).ok(); });
  };
  EXPECT_EQ(Run(Job::kLoad).outcome, Outcome::kDone);
  const auto ops = Ops();
  const auto poll = std::find(ops.begin(), ops.end(), "cmd07");
  ASSERT_NE(poll, ops.end());
  ASSERT_EQ(poll - ops.begin(), 1 + 3 * 3 + 2) << "after the fourth block's write";
  EXPECT_EQ(*(poll - 1), "w06=20 00 00 60 +32");
  EXPECT_EQ(*(poll + 1), "w05=AA") << "the load goes on where it was";
  EXPECT_EQ(ops.size(), 3 * 64 + 3 + 1u);
  EXPECT_TRUE(read);
  EXPECT_EQ(id[0], identifier);
  EXPECT_EQ(Eeprom(2048), image);
  auto lock = board->Lock();
  EXPECT_EQ(board->Mailbox().Violations(), 0);
}

TEST_F(TransferTest, TheChecksServeWaitLeavesTheWorkerToOtherJobs) {
  MakeEngine({&worker});  // the full 100 ms wait after asking for a block
  const auto image = Pattern(32);
  {
    auto lock = board->Lock();
    std::copy(image.begin(), image.end(), board->Mailbox().Eeprom().begin());
  }
  UseImage(image);
  using Clock = std::chrono::steady_clock;
  std::mutex m;
  std::vector<Clock::time_point> sent;  // when each request went out
  on_pause = [&](int ms) {
    if (ms != CDevice::kCommandDelayMs) return;
    std::lock_guard lock(m);
    sent.push_back(Clock::now());
    if (board->RequestCount() == 4)  // w05=A5: the board was asked for the block
      worker.Post([&] {
        uint8_t id = 0;
        device.ReadModule(1, 0xA0, 0x00, 0x80, &id, 1);
      });
  };
  EXPECT_EQ(Run(Job::kCheck).outcome, Outcome::kDone);
  EXPECT_EQ(Ops(),
            (Lines{"w05=A0", "r05", "w06=20 00 00 00 +0", "w05=A5", "cmd07", "r05", "r0A:32"}));
  std::lock_guard lock(m);
  ASSERT_EQ(sent.size(), 7u);
  EXPECT_LT(sent[4] - sent[3], std::chrono::milliseconds(50)) << "the poll ran during the wait";
  EXPECT_GE(sent[5] - sent[3], std::chrono::milliseconds(100)) << "the check still waited";
}

}  // namespace
