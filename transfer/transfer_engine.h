// The EEPROM transfer: converts a page file into an image, loads the image
// through the board's mailbox block by block, and checks it by reading it
// back. Conversion, load and check each run on a thread of their own, beside
// the other users of the board: every board call is whole under the board
// object's lock, and calls of different threads interleave call by call.
//
// Rules kept here rather than in the views:
//   - the image never changes while a load or check runs (a new page file is
//     refused until they have ended);
//   - at most one conversion, one load and one check at a time; a load starts
//     its board traffic after the running conversion and check, a check after
//     the running load, so the mailbox handshake is never shared;
//   - Cancel stops a load between two board exchanges, never inside one.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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

// Called from the engine's threads (and from the caller's, for a Cancel with no
// load running). They must not call back into the engine.
struct Callbacks {
  std::function<void(const std::string& text)> log;
  std::function<void(const Progress&)> progress;
  std::function<void(const Activity&)> activity;  // a job started or ended
};

class TransferEngine {
 public:
  TransferEngine(CDevice& device, Callbacks callbacks);
  // Stops the jobs between two board exchanges, without log lines.
  ~TransferEngine();
  TransferEngine(const TransferEngine&) = delete;
  TransferEngine& operator=(const TransferEngine&) = delete;

  enum class ReadStatus { kOk, kNoData, kCannotOpen, kBusy };
  // Reads the page file into the file text. Refused (kBusy) while a job runs.
  ReadStatus ReadPageFile(const std::string& path, OpenError* error = nullptr);
  // For callers that hold the text already (tests, tools).
  bool SetPageText(PageText text);

  // Each returns false, starting nothing, when the rules above refuse it.
  bool StartConversion();
  bool StartLoad();
  bool StartCheck();
  // Progress to 0 and "Terminate File Transfer!"; a running load stops at its
  // next exchange and says so then. A running check is not affected.
  void CancelLoad();

  // Waits until the last started job of the kind has ended; false on timeout.
  bool Wait(Job job, int timeout_ms = -1);
  Result LastResult(Job job) const;
  Activity Busy() const;

  std::vector<uint8_t> Image() const;
  std::vector<uint8_t> ReadBack() const;

 private:
  struct Slot {
    std::thread thread;
    uint64_t started = 0, finished = 0;
    Result result;
    bool Running() const { return started > finished; }
  };
  Slot& At(Job job) { return slots_[static_cast<int>(job)]; }
  const Slot& At(Job job) const { return slots_[static_cast<int>(job)]; }

  // Under mutex_: starts `body` as the job's worker.
  void Launch(Job job, std::function<Result()> body);
  Activity ActivityLocked() const;
  bool AnyRunningLocked() const;

  Result Convert();
  Result Load(uint64_t conversion, uint64_t check);
  Result Check(uint64_t conversion, uint64_t load);

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
