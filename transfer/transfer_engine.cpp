#include "transfer/transfer_engine.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "transfer/transfer_texts.h"

namespace transfer {

using namespace mailbox;

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kNotRun:
      return "not-run";
    case Outcome::kRunning:
      return "running";
    case Outcome::kDone:
      return "done";
    case Outcome::kInvalidFile:
      return "invalid-file";
    case Outcome::kNoImage:
      return "no-image";
    case Outcome::kBoardFailure:
      return "board-failure";
    case Outcome::kMismatch:
      return "mismatch";
    case Outcome::kCancelled:
      return "cancelled";
    case Outcome::kStopped:
      return "stopped";
  }
  return "?";
}

int ProgressPercent(size_t done, size_t total) {
  if (total == 0) return 0;
  return static_cast<int>(static_cast<float>(done) / static_cast<float>(total) * 100.0f);
}

TransferEngine::TransferEngine(CDevice& device, Callbacks callbacks, Options options)
    : device_(device),
      callbacks_(std::move(callbacks)),
      options_(options),
      anchor_(std::make_shared<Anchor>()) {
  anchor_->engine = this;
}

TransferEngine::~TransferEngine() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  {
    // A step in flight ends first; the ones still queued find no engine.
    std::lock_guard step(anchor_->step);
    anchor_->engine = nullptr;
  }
  Slot& conversion = At(Job::kConversion);
  if (conversion.thread.joinable()) conversion.thread.join();
}

// ---- page file -------------------------------------------------------------

TransferEngine::ReadStatus TransferEngine::ReadPageFile(const std::string& path, OpenError* error) {
  if (Busy().converting || Busy().Transferring()) return ReadStatus::kBusy;
  PageText text;
  const bool opened = transfer::ReadPageFile(path, &text, error);
  const bool empty = text.Empty();
  if (!SetPageText(std::move(text))) return ReadStatus::kBusy;
  if (!opened) return ReadStatus::kCannotOpen;
  return empty ? ReadStatus::kNoData : ReadStatus::kOk;
}

bool TransferEngine::SetPageText(PageText text) {
  std::lock_guard lock(mutex_);
  if (AnyRunningLocked()) return false;
  page_ = std::move(text);
  return true;
}

// ---- jobs ------------------------------------------------------------------

bool TransferEngine::AnyRunningLocked() const {
  return At(Job::kConversion).Running() || At(Job::kLoad).Running() || At(Job::kCheck).Running();
}

Activity TransferEngine::ActivityLocked() const {
  return {At(Job::kConversion).Running(), At(Job::kLoad).Running(), At(Job::kCheck).Running()};
}

Activity TransferEngine::Busy() const {
  std::lock_guard lock(mutex_);
  return ActivityLocked();
}

bool TransferEngine::StartConversion() {
  std::lock_guard lock(mutex_);
  if (stop_ || AnyRunningLocked()) return false;
  Slot& slot = At(Job::kConversion);
  if (slot.thread.joinable()) slot.thread.join();  // ended already; only reaps it
  ++slot.started;
  slot.result = {Outcome::kRunning, {}};
  slot.thread = std::thread([this] {
    Result result = Convert();
    std::lock_guard lock(mutex_);
    FinishLocked(Job::kConversion, std::move(result));
  });
  if (callbacks_.activity) callbacks_.activity(ActivityLocked());
  return true;
}

bool TransferEngine::StartLoad() {
  std::lock_guard lock(mutex_);
  if (stop_ || At(Job::kLoad).Running()) return false;
  StartTransferLocked(Job::kLoad, Job::kCheck);
  return true;
}

bool TransferEngine::StartCheck() {
  std::lock_guard lock(mutex_);
  if (stop_ || At(Job::kCheck).Running()) return false;
  StartTransferLocked(Job::kCheck, Job::kLoad);
  return true;
}

void TransferEngine::StartTransferLocked(Job job, Job other) {
  Slot& slot = At(job);
  ++slot.started;
  slot.result = {Outcome::kRunning, {}};
  slot.after_conversion = At(Job::kConversion).started;
  slot.after_other = At(other).started;
  slot.begun = slot.queued = false;
  if (callbacks_.activity) callbacks_.activity(ActivityLocked());
  BeginReadyLocked();
}

void TransferEngine::BeginReadyLocked() {
  if (stop_) return;
  for (Job job : {Job::kLoad, Job::kCheck}) {
    Slot& slot = At(job);
    const Slot& other = At(job == Job::kLoad ? Job::kCheck : Job::kLoad);
    if (!slot.Running() || slot.begun) continue;
    if (At(Job::kConversion).finished < slot.after_conversion || other.finished < slot.after_other)
      continue;
    slot.begun = true;
    slot.transfer = Transfer{};
    ContinueLocked(job, 0);
  }
}

void TransferEngine::ContinueLocked(Job job, int delay_ms) {
  if (options_.worker) {
    options_.worker->PostAfter(std::chrono::milliseconds(delay_ms),
                               [anchor = anchor_, job] { RunStep(anchor, job); });
    return;
  }
  Slot& slot = At(job);
  slot.queued = true;
  slot.delay_ms = delay_ms;
  changed_.notify_all();
}

void TransferEngine::RunStep(const std::shared_ptr<Anchor>& anchor, Job job) {
  std::lock_guard step(anchor->step);
  if (anchor->engine) anchor->engine->TakeStep(job);
}

void TransferEngine::TakeStep(Job job) {
  Slot& slot = At(job);
  Next next = job == Job::kLoad ? LoadStep(slot.transfer) : CheckStep(slot.transfer);
  std::lock_guard lock(mutex_);
  if (next.end) {
    FinishLocked(job, std::move(next.result));
    return;
  }
  slot.transfer.step = next.step;
  ContinueLocked(job, next.delay_ms);
}

void TransferEngine::FinishLocked(Job job, Result result) {
  Slot& slot = At(job);
  slot.result = std::move(result);
  slot.finished = slot.started;
  slot.begun = slot.queued = false;
  if (job == Job::kLoad) {
    // Every Cancel pressed while the load ran is answered now that it stopped.
    const int answered = cancels_;
    cancels_ = 0;
    cancel_ = false;
    for (int i = 0; i < answered && !stop_; ++i) {
      ShowProgress(0, 0);
      Log(texts::kTerminate);
    }
  }
  if (callbacks_.activity && !stop_) callbacks_.activity(ActivityLocked());
  changed_.notify_all();
  BeginReadyLocked();
}

void TransferEngine::CancelLoad() {
  std::lock_guard lock(mutex_);
  Slot& load = At(Job::kLoad);
  if (load.Running()) {
    ++cancels_;
    if (load.begun) {
      cancel_ = true;  // answered by the load's next step
    } else {
      FinishLocked(Job::kLoad, {Outcome::kCancelled, {}});  // no board traffic yet
    }
    return;
  }
  ShowProgress(0, 0);
  Log(texts::kTerminate);
}

bool TransferEngine::Wait(Job job, int timeout_ms) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeout_ms, 0));
  std::unique_lock lock(mutex_);
  for (;;) {
    if (!At(job).Running()) return true;
    if (!options_.worker) {
      // In line: this thread runs the step that waits for its turn.
      for (Job next : {Job::kLoad, Job::kCheck}) {
        Slot& slot = At(next);
        if (!slot.queued) continue;
        slot.queued = false;
        const int delay_ms = slot.delay_ms;
        lock.unlock();
        device_.Pause(delay_ms);
        RunStep(anchor_, next);
        lock.lock();
        break;
      }
      if (!At(job).Running()) return true;
      if (timeout_ms >= 0 && Clock::now() >= deadline) return false;
      if (At(Job::kLoad).queued || At(Job::kCheck).queued) continue;
    }
    if (timeout_ms < 0)
      changed_.wait(lock);
    else if (changed_.wait_until(lock, deadline) == std::cv_status::timeout)
      return !At(job).Running();
  }
}

Result TransferEngine::LastResult(Job job) const {
  std::lock_guard lock(mutex_);
  return At(job).result;
}

std::vector<uint8_t> TransferEngine::Image() const {
  std::lock_guard lock(mutex_);
  return image_;
}

std::vector<uint8_t> TransferEngine::ReadBack() const {
  std::lock_guard lock(mutex_);
  return read_back_;
}

// ---- helpers ---------------------------------------------------------------

bool TransferEngine::Stopping(Job job) const { return stop_ || (job == Job::kLoad && cancel_); }

void TransferEngine::Log(const std::string& text) {
  if (callbacks_.log && !stop_) callbacks_.log(text);
}

void TransferEngine::ShowProgress(size_t done, size_t total) {
  if (callbacks_.progress && !stop_)
    callbacks_.progress({done, total, ProgressPercent(done, total)});
}

bool TransferEngine::Exchanged(const BoardResult& result) {
  if (!result) failure_ = result.Text();
  return result.ok();
}

bool TransferEngine::WriteMailbox(uint8_t address, const uint8_t* data, size_t count) {
  return Exchanged(device_.WriteMailbox(address, data, static_cast<uint8_t>(count)));
}

bool TransferEngine::ReadMailbox(uint8_t address, uint8_t* data, size_t count) {
  return Exchanged(device_.ReadMailbox(address, data, static_cast<uint8_t>(count)));
}

bool TransferEngine::WriteByte(uint8_t address, uint8_t value) {
  return WriteMailbox(address, &value, 1);
}

bool TransferEngine::Ready(std::string* failure) {
  uint8_t value = 0;
  // A read that failed tells nothing about the board: it is a failed poll.
  if (!ReadMailbox(kHandshake, &value, 1)) {
    *failure = failure_;
    return false;
  }
  failure->clear();
  return value == kReady;
}

namespace {
std::string NotReady(const char* what, size_t offset, const std::string& failure) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "the board did not %s the block at 0x%zX", what, offset);
  return failure.empty() ? std::string(buf) : buf + (": " + failure);
}
}  // namespace

namespace {

void PutHeader(uint8_t* header, size_t n, size_t offset) {
  header[0] = static_cast<uint8_t>(n);
  header[1] = static_cast<uint8_t>(offset >> 16);
  header[2] = static_cast<uint8_t>(offset >> 8);
  header[3] = static_cast<uint8_t>(offset);
}

std::string Hex(size_t value) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%zX", value);
  return buf;
}

}  // namespace

// ---- the workers -----------------------------------------------------------

Result TransferEngine::Convert() {
  Log(texts::kConvertStart);
  std::vector<uint8_t> image;
  PageFileError error;
  const bool ok = ConvertPageText(page_, &image, &error);
  {
    std::lock_guard lock(mutex_);
    image_ = std::move(image);
  }
  if (!ok) {
    Log(texts::PageFileInvalid(error.Text()));
    return {Outcome::kInvalidFile, error.Text()};
  }
  Log(texts::kConvertDone);
  return {Outcome::kDone, {}};
}

TransferEngine::Next TransferEngine::Go(Step step, int delay_ms) {
  return {step, delay_ms, false, {}};
}

TransferEngine::Next TransferEngine::End(Result result) {
  return {Step::kBegin, 0, true, std::move(result)};
}

// Each step below begins by looking whether it may still talk to the board:
// the load stops at Cancel, both stop when the engine goes.

TransferEngine::Next TransferEngine::LoadFailed(Transfer& t, std::string cause) {
  Log(texts::kLoadFailed);
  t.failure = {Outcome::kBoardFailure, std::move(cause)};
  return Go(Step::kAbort);
}

TransferEngine::Next TransferEngine::LoadStep(Transfer& t) {
  if (t.step != Step::kAbort && Stopping(Job::kLoad))
    return End({stop_ ? Outcome::kStopped : Outcome::kCancelled, {}});
  const std::vector<uint8_t>& image = image_;  // fixed while the load runs
  const size_t size = image.size();
  switch (t.step) {
    case Step::kBegin:
      if (image.empty()) {
        Log(texts::kNoImage);
        return End({Outcome::kNoImage, "no image: choose a page file first"});
      }
      return Go(Step::kEnter);
    case Step::kEnter:
      if (!WriteByte(kHandshake, kEnter))
        return LoadFailed(t, "entering the load mode failed: " + failure_);
      Log(texts::kEnterLoadMode);
      return Go(Step::kPoll);
    case Step::kPoll:
      // No pause between two polls, but each is a step of its own.
      if (Ready(&t.poll_failure)) return Go(Step::kBlock);
      if (t.retries++ > kMaxRetries)
        return LoadFailed(t, NotReady("turn ready for", t.offset, t.poll_failure));
      return Go(Step::kPoll);
    case Step::kBlock: {
      t.retries = 0;
      const size_t n = std::min(kBlockSize, size - t.offset);
      uint8_t block[4 + kBlockSize];
      PutHeader(block, n, t.offset);
      std::copy_n(image.begin() + t.offset, n, block + 4);
      if (!WriteMailbox(kHeader, block, 4 + n))
        return LoadFailed(t, "writing the block at " + Hex(t.offset) + " failed: " + failure_);
      if (n < kBlockSize)
        Log(texts::LoadBlock(t.offset, n, true));
      else if (t.offset % kLogStride == 0)
        Log(texts::LoadBlock(t.offset, kLogStride, false));
      t.offset += n;
      ShowProgress(t.offset, size);
      return Go(Step::kStore);
    }
    case Step::kStore:
      if (!WriteByte(kHandshake, kStore))
        return LoadFailed(t, "handing the block to the board failed: " + failure_);
      return Go(t.offset < size ? Step::kPoll : Step::kEndPoll);
    case Step::kEndPoll:
      if (Ready(&t.poll_failure)) return Go(Step::kLeave);
      device_.Pause(kPollPauseMs);
      return Go(++t.end_polls < kEndPolls ? Step::kEndPoll : Step::kEndAbort);
    case Step::kLeave:
      if (!WriteByte(kHandshake, kLeave))
        return LoadFailed(t, "leaving the load mode failed: " + failure_);
      Log(texts::kLoadDone);
      return End({Outcome::kDone, {}});
    case Step::kEndAbort: {
      WriteByte(kEndAbort, kAbort);
      Log(texts::kLoadFailed);
      std::string cause = "the board did not confirm the end of the load";
      return End(
          {Outcome::kBoardFailure, t.poll_failure.empty() ? cause : cause + ": " + t.poll_failure});
    }
    case Step::kAbort:
      if (!Stopping(Job::kLoad)) WriteByte(kHandshake, kAbort);
      return End(t.failure);
    default:
      break;
  }
  return End({Outcome::kBoardFailure, "no such load step"});
}

Result TransferEngine::Compare(const std::vector<uint8_t>& image,
                               const std::vector<uint8_t>& back) {
  if (image.empty() || back.size() != image.size()) {
    Log(texts::kLengthMismatch);
    return {Outcome::kMismatch, "read back " + std::to_string(back.size()) +
                                    " bytes, the image has " + std::to_string(image.size())};
  }
  for (size_t i = 0; i < image.size(); ++i) {
    if (back[i] != image[i]) {
      Log(texts::ByteMismatch(i));
      char buf[96];
      std::snprintf(buf, sizeof buf, "the byte at 0x%zX reads %02X, the image holds %02X", i,
                    back[i], image[i]);
      return {Outcome::kMismatch, buf};
    }
    if (i % kVerifyStride == 0) Log(texts::BytesVerified(i));
  }
  Log(texts::kCheckPassed);
  return {Outcome::kDone, {}};
}

void TransferEngine::PublishReadBack(const std::vector<uint8_t>& back) {
  std::lock_guard lock(mutex_);
  read_back_ = back;
}

TransferEngine::Next TransferEngine::CheckFailed(Transfer& t, std::string cause) {
  PublishReadBack(t.back);
  Log(texts::kCheckFailed);
  t.failure = {Outcome::kBoardFailure, std::move(cause)};
  return Go(Step::kAbort);
}

TransferEngine::Next TransferEngine::CheckStep(Transfer& t) {
  if (t.step != Step::kAbort && stop_) return End({Outcome::kStopped, {}});
  const std::vector<uint8_t>& image = image_;  // fixed while the check runs
  const size_t size = image.size();
  switch (t.step) {
    case Step::kBegin:
      PublishReadBack({});
      t.back.reserve(size);
      return Go(Step::kEnter);
    case Step::kEnter:
      if (!WriteByte(kHandshake, kEnter))
        return CheckFailed(t, "entering the load mode failed: " + failure_);
      Log(texts::kEnterLoadMode);
      return Go(size > 0 ? Step::kPoll : Step::kCompare);
    case Step::kPoll:
      if (Ready(&t.poll_failure)) return Go(Step::kHeader);
      if (t.retries++ > kMaxRetries)
        return CheckFailed(t, NotReady("turn ready for", t.offset, t.poll_failure));
      return Go(Step::kPoll);
    case Step::kHeader: {
      t.retries = 0;  // the data-ready polls count on from here
      uint8_t header[4];
      PutHeader(header, std::min(kBlockSize, size - t.offset), t.offset);
      if (!WriteMailbox(kHeader, header, 4))
        return CheckFailed(t, "asking for the block at " + Hex(t.offset) + " failed: " + failure_);
      return Go(Step::kServe);
    }
    case Step::kServe:
      if (!WriteByte(kHandshake, kServe))
        return CheckFailed(t, "asking for the block at " + Hex(t.offset) + " failed: " + failure_);
      return Go(Step::kServePoll, options_.serve_wait_ms);
    case Step::kServePoll:
      if (Ready(&t.poll_failure)) return Go(Step::kRead);
      if (t.retries++ > kMaxRetries)
        return CheckFailed(t, NotReady("serve", t.offset, t.poll_failure));
      device_.Pause(kPollPauseMs);
      return Go(Step::kServePoll);
    case Step::kRead: {
      const size_t n = std::min(kBlockSize, size - t.offset);
      uint8_t data[kBlockSize];
      if (!ReadMailbox(kData, data, n))
        return CheckFailed(t, "reading the block at " + Hex(t.offset) + " failed: " + failure_);
      t.back.insert(t.back.end(), data, data + n);
      if (n < kBlockSize)
        Log(texts::CheckBlock(t.offset, n, true));
      else if (t.offset % kLogStride == 0)
        Log(texts::CheckBlock(t.offset, kLogStride, false));
      t.offset += n;
      ShowProgress(t.offset, size);
      return Go(t.offset < size ? Step::kPoll : Step::kCompare);
    }
    case Step::kCompare:
      PublishReadBack(t.back);
      return End(Compare(image, t.back));
    case Step::kAbort:
      if (!stop_) WriteByte(kHandshake, kAbort);
      return End(t.failure);
    default:
      break;
  }
  return End({Outcome::kBoardFailure, "no such check step"});
}

}  // namespace transfer
