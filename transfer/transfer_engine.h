// The EEPROM transfer: converts a page file into an image, loads the image
// through the board's mailbox block by block, and checks it by reading it
// back.
//
// A load and a check are step machines: each step makes one board exchange
// (a poll with its 1 ms pause counts as one) and names the next. Given a board
// worker, every step is a job of its own there, so that the jobs other users
// post meanwhile (the pages' polls) run between two exchanges, and the check's
// wait before a block is served is a delayed job, not a sleep on the worker.
// Without a worker the steps run in line, on the thread that calls Wait (the
// command-line tool, which has one thread). The conversion touches no board:
// it runs on a thread of its own.
//
// Rules kept here rather than in the views:
//   - the image never changes while a load or check runs (a new page file is
//     refused until they have ended);
//   - at most one conversion, one load and one check at a time; a load starts
//     its board traffic after the running conversion and check, a check after
//     the running conversion and load, so the mailbox handshake is never shared;
//   - Cancel stops a load between two board exchanges, never inside one.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "board/board_worker.h"
#include "board/device.h"
#include "transfer/page_file.h"

namespace transfer {

// Mailbox of the board's EEPROM load mode.
namespace mailbox {
constexpr uint8_t kHandshake = 5, kHeader = 6, kData = 10, kEndAbort = 0x85;
constexpr uint8_t kEnter = 0xA0, kReady = 0xA0, kStore = 0xAA, kServe = 0xA5, kLeave = 0x00,
                  kAbort = 0xFF;
constexpr size_t kBlockSize = 32;
constexpr size_t kLogStride = 2048;     // a load/check line every 64 blocks
constexpr size_t kVerifyStride = 4096;  // a comparison line every 4 KiB
constexpr int kMaxRetries = 200;        // polls in a row fail when this many have failed before
constexpr int kEndPolls = 200;          // polls for the board to confirm the end of a load
constexpr int kServeWaitMs = 100;       // after asking for a block to read back
constexpr int kPollPauseMs = 1;
}  // namespace mailbox

enum class Job { kConversion, kLoad, kCheck };

// How the last run of a job ended.
enum class Outcome {
  kNotRun,
  kRunning,
  kDone,  // converted; loaded ("写入数据完成!"); checked intact ("数据校验成功,无异常!")
  kInvalidFile,   // conversion: a character would end a group early; no image
  kNoImage,       // load: the image is empty
  kBoardFailure,  // a board exchange failed or the board never turned ready
  kMismatch,      // check: lengths or a byte differ
  kCancelled,     // load: Cancel
  kStopped,       // the engine was destroyed while the job ran
};

// "done", "invalid-file", "board-failure" ...: names for scripts.
const char* OutcomeName(Outcome outcome);

struct Result {
  Outcome outcome = Outcome::kNotRun;
  std::string detail;  // the cause in words, for failures
};

struct Progress {
  size_t done = 0, total = 0;
  int percent = 0;
};
// done / total * 100 in single precision, cut to an integer.
int ProgressPercent(size_t done, size_t total);

struct Activity {
  bool converting = false, loading = false, checking = false;
  bool Transferring() const { return loading || checking; }
};

// Called from the board worker (or, in line, from the thread that calls
// Wait), from the conversion's thread, and from the caller's for a Cancel with
// no load running. They must not call back into the engine.
struct Callbacks {
  std::function<void(const std::string& text)> log;
  std::function<void(const Progress&)> progress;
  std::function<void(const Activity&)> activity;  // a job started or ended
};

struct Options {
  // Runs the load's and check's steps; it must outlive the engine. Null: the
  // steps run in line, on the thread that calls Wait.
  BoardWorker* worker = nullptr;
  // The check's wait after asking the board for a block. Tests of long checks
  // shorten it.
  int serve_wait_ms = mailbox::kServeWaitMs;
};

class TransferEngine {
 public:
  TransferEngine(CDevice& device, Callbacks callbacks, Options options = {});
  // Stops the jobs between two board exchanges, without log lines: waits for
  // a step in flight, if any; steps still queued on the worker then do nothing.
  ~TransferEngine();
  TransferEngine(const TransferEngine&) = delete;
  TransferEngine& operator=(const TransferEngine&) = delete;

  enum class ReadStatus { kOk, kNoData, kCannotOpen, kBusy };
  // Reads the page file into the file text. Refused (kBusy) while a job runs.
  ReadStatus ReadPageFile(const std::string& path, OpenError* error = nullptr);
  // For callers that hold the text already (tests, tools).
  bool SetPageText(PageText text);

  // Each returns false, starting nothing, when the rules above refuse it.
  // None of them waits for the board.
  bool StartConversion();
  bool StartLoad();
  bool StartCheck();
  // Progress to 0 and "Terminate File Transfer!"; a running load stops at its
  // next step and says so then; one still waiting for the jobs before it
  // stops at once. A running check is not affected.
  void CancelLoad();

  // Waits until the last started job of the kind has ended; false on timeout.
  // In line, runs the steps of the load or check meanwhile; the timeout is
  // looked at between two steps.
  bool Wait(Job job, int timeout_ms = -1);
  Result LastResult(Job job) const;
  Activity Busy() const;

  std::vector<uint8_t> Image() const;
  std::vector<uint8_t> ReadBack() const;

 private:
  enum class Step : uint8_t {
    kBegin,
    kEnter,      // 0xA0 to the handshake
    kPoll,       // one read of the handshake before a block
    kBlock,      // load: the block header and data
    kStore,      // load: 0xAA to the handshake
    kEndPoll,    // load: one read for the end confirmation, 1 ms pause
    kLeave,      // load: 0x00 to the handshake
    kEndAbort,   // load: 0xFF to mailbox 0x85
    kHeader,     // check: the block header
    kServe,      // check: 0xA5 to the handshake, then the serve wait
    kServePoll,  // check: one read for the data-ready, 1 ms pause
    kRead,       // check: the block data
    kCompare,    // check: no board traffic
    kAbort,      // after a failure: 0xFF to the handshake
  };
  // Where a load or check stands between two steps. Only the step in flight
  // touches it.
  struct Transfer {
    Step step = Step::kBegin;
    size_t offset = 0;
    int retries = 0, end_polls = 0;
    std::string poll_failure;   // why the last poll failed; empty when the board answered
    Result failure;             // kAbort: how the job ends once the board was told
    std::vector<uint8_t> back;  // check: the bytes read back so far
  };
  // What a step asks for: the next step, after `delay_ms`, or the end.
  struct Next {
    Step step = Step::kBegin;
    int delay_ms = 0;
    bool end = false;
    Result result;
  };
  struct Slot {
    std::thread thread;  // the conversion only
    uint64_t started = 0, finished = 0;
    Result result;
    // Loads and checks: the conversion and the other kind's job that ran when
    // this one started; its board traffic begins once they have ended.
    uint64_t after_conversion = 0, after_other = 0;
    bool begun = false;   // its steps run: one is in flight (queued or running)
    bool queued = false;  // in line: the next step waits for Wait to run it
    int delay_ms = 0;     // in line: the pause before that step
    Transfer transfer;
    bool Running() const { return started > finished; }
  };
  // Held by every step posted to the worker: the engine runs steps only while
  // it lives, and its destructor waits for the one running.
  struct Anchor {
    std::mutex step;
    TransferEngine* engine = nullptr;
  };

  Slot& At(Job job) { return slots_[static_cast<int>(job)]; }
  const Slot& At(Job job) const { return slots_[static_cast<int>(job)]; }

  Activity ActivityLocked() const;
  bool AnyRunningLocked() const;
  void StartTransferLocked(Job job, Job other);
  // Begins the loads and checks whose turn has come.
  void BeginReadyLocked();
  // Has the job's next step run, after `delay_ms`: on the worker or in line.
  void ContinueLocked(Job job, int delay_ms);
  void FinishLocked(Job job, Result result);
  static void RunStep(const std::shared_ptr<Anchor>& anchor, Job job);
  void TakeStep(Job job);

  static Next Go(Step step, int delay_ms = 0);
  static Next End(Result result);

  Result Convert();
  Next LoadStep(Transfer& t);
  Next CheckStep(Transfer& t);
  Next LoadFailed(Transfer& t, std::string cause);
  Next CheckFailed(Transfer& t, std::string cause);
  Result Compare(const std::vector<uint8_t>& image, const std::vector<uint8_t>& back);
  void PublishReadBack(const std::vector<uint8_t>& back);

  // One board exchange each; false when it failed, with the cause in failure_.
  bool WriteMailbox(uint8_t address, const uint8_t* data, size_t count);
  bool ReadMailbox(uint8_t address, uint8_t* data, size_t count);
  bool WriteByte(uint8_t address, uint8_t value);
  bool Exchanged(const BoardResult& result);
  // One poll: the handshake reads 0xA0. A failed read is a failed poll, and
  // `failure` keeps why (empty when the board answered).
  bool Ready(std::string* failure);
  bool Stopping(Job job) const;
  void Log(const std::string& text);
  void ShowProgress(size_t done, size_t total);

  CDevice& device_;
  Callbacks callbacks_;
  Options options_;
  std::shared_ptr<Anchor> anchor_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  Slot slots_[3];
  int cancels_ = 0;  // Cancel presses the running load has yet to answer
  std::atomic<bool> cancel_{false};
  std::atomic<bool> stop_{false};

  // The file text and the image change only while no job runs (or in the
  // conversion, which nothing runs beside); loads and checks only read them.
  PageText page_;
  std::vector<uint8_t> image_;
  std::vector<uint8_t> read_back_;
  std::string failure_;  // why the last exchange failed; loads and checks take turns
};

}  // namespace transfer
