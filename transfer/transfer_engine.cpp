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

TransferEngine::TransferEngine(CDevice& device, Callbacks callbacks)
    : device_(device), callbacks_(std::move(callbacks)) {}

TransferEngine::~TransferEngine() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  for (auto& slot : slots_)
    if (slot.thread.joinable()) slot.thread.join();
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

void TransferEngine::Launch(Job job, std::function<Result()> body) {
  Slot& slot = At(job);
  if (slot.thread.joinable()) slot.thread.join();  // ended already; only reaps it
  ++slot.started;
  slot.result = {Outcome::kRunning, {}};
  slot.thread = std::thread([this, job, body = std::move(body)] {
    Result result = body();
    std::lock_guard lock(mutex_);
    Slot& done = At(job);
    done.result = std::move(result);
    done.finished = done.started;
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
  });
  if (callbacks_.activity) callbacks_.activity(ActivityLocked());
}

bool TransferEngine::StartConversion() {
  std::lock_guard lock(mutex_);
  if (stop_ || AnyRunningLocked()) return false;
  Launch(Job::kConversion, [this] { return Convert(); });
  return true;
}

bool TransferEngine::StartLoad() {
  std::lock_guard lock(mutex_);
  if (stop_ || At(Job::kLoad).Running()) return false;
  const uint64_t conversion = At(Job::kConversion).started, check = At(Job::kCheck).started;
  Launch(Job::kLoad, [this, conversion, check] { return Load(conversion, check); });
  return true;
}

bool TransferEngine::StartCheck() {
  std::lock_guard lock(mutex_);
  if (stop_ || At(Job::kCheck).Running()) return false;
  const uint64_t conversion = At(Job::kConversion).started, load = At(Job::kLoad).started;
  Launch(Job::kCheck, [this, conversion, load] { return Check(conversion, load); });
  return true;
}

void TransferEngine::CancelLoad() {
  std::lock_guard lock(mutex_);
  if (At(Job::kLoad).Running()) {
    ++cancels_;
    cancel_ = true;
    changed_.notify_all();
    return;
  }
  ShowProgress(0, 0);
  Log(texts::kTerminate);
}

bool TransferEngine::Wait(Job job, int timeout_ms) {
  std::unique_lock lock(mutex_);
  auto ended = [&] { return !At(job).Running(); };
  if (timeout_ms < 0) {
    changed_.wait(lock, ended);
    return true;
  }
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), ended);
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

Result TransferEngine::Load(uint64_t conversion, uint64_t check) {
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] {
      return stop_ || cancel_ ||
             (At(Job::kConversion).finished >= conversion && At(Job::kCheck).finished >= check);
    });
  }
  auto stopped = [&] { return Result{stop_ ? Outcome::kStopped : Outcome::kCancelled, {}}; };
  if (Stopping(Job::kLoad)) return stopped();
  const std::vector<uint8_t>& image = image_;  // fixed while the load runs
  if (image.empty()) {
    Log(texts::kNoImage);
    return {Outcome::kNoImage, "no image: choose a page file first"};
  }
  auto fail = [&](const std::string& cause) {
    Log(texts::kLoadFailed);
    if (!Stopping(Job::kLoad)) WriteByte(kHandshake, kAbort);
    return Result{Outcome::kBoardFailure, cause};
  };
  auto write_failed = [&](const std::string& what) {
    return fail(what + " failed: " + failure_);
  };

  if (!WriteByte(kHandshake, kEnter)) return write_failed("entering the load mode");
  Log(texts::kEnterLoadMode);
  const size_t size = image.size();
  size_t offset = 0;
  int retries = 0;
  std::string poll_failure;
  uint8_t block[4 + kBlockSize];
  while (offset < size) {
    for (;;) {
      if (Stopping(Job::kLoad)) return stopped();
      if (Ready(&poll_failure)) break;
      if (retries++ > kMaxRetries) return fail(NotReady("turn ready for", offset, poll_failure));
    }
    retries = 0;
    const size_t n = std::min(kBlockSize, size - offset);
    PutHeader(block, n, offset);
    std::copy_n(image.begin() + offset, n, block + 4);
    if (Stopping(Job::kLoad)) return stopped();
    if (!WriteMailbox(kHeader, block, 4 + n))
      return write_failed("writing the block at " + Hex(offset));
    if (n < kBlockSize)
      Log(texts::LoadBlock(offset, n, true));
    else if (offset % kLogStride == 0)
      Log(texts::LoadBlock(offset, kLogStride, false));
    offset += n;
    ShowProgress(offset, size);
    if (Stopping(Job::kLoad)) return stopped();
    if (!WriteByte(kHandshake, kStore)) return write_failed("handing the block to the board");
  }
  for (int poll = 0; poll < kEndPolls; ++poll) {
    if (Stopping(Job::kLoad)) return stopped();
    if (Ready(&poll_failure)) {
      if (Stopping(Job::kLoad)) return stopped();
      if (!WriteByte(kHandshake, kLeave)) return write_failed("leaving the load mode");
      Log(texts::kLoadDone);
      return {Outcome::kDone, {}};
    }
    device_.Pause(kPollPauseMs);
  }
  if (Stopping(Job::kLoad)) return stopped();
  WriteByte(kEndAbort, kAbort);
  Log(texts::kLoadFailed);
  std::string cause = "the board did not confirm the end of the load";
  return {Outcome::kBoardFailure, poll_failure.empty() ? cause : cause + ": " + poll_failure};
}

Result TransferEngine::Check(uint64_t conversion, uint64_t load) {
  {
    // The image is compared only once the conversion that builds it is over.
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] {
      return stop_ ||
             (At(Job::kConversion).finished >= conversion && At(Job::kLoad).finished >= load);
    });
    read_back_.clear();
  }
  const Result stopped{Outcome::kStopped, {}};
  if (stop_) return stopped;
  const std::vector<uint8_t>& image = image_;  // fixed while the check runs
  std::vector<uint8_t> back;
  back.reserve(image.size());
  auto publish = [&] {
    std::lock_guard lock(mutex_);
    read_back_ = back;
  };
  auto fail = [&](const std::string& cause) {
    publish();
    Log(texts::kCheckFailed);
    if (!stop_) WriteByte(kHandshake, kAbort);
    return Result{Outcome::kBoardFailure, cause};
  };
  auto failed = [&](const std::string& what) {
    return fail(what + " failed: " + failure_);
  };

  if (!WriteByte(kHandshake, kEnter)) return failed("entering the load mode");
  Log(texts::kEnterLoadMode);
  const size_t size = image.size();
  size_t offset = 0;
  int retries = 0;
  std::string poll_failure;
  uint8_t header[4];
  uint8_t data[kBlockSize];
  while (offset < size) {
    for (;;) {
      if (stop_) return stopped;
      if (Ready(&poll_failure)) break;
      if (retries++ > kMaxRetries) return fail(NotReady("turn ready for", offset, poll_failure));
    }
    retries = 0;
    const size_t n = std::min(kBlockSize, size - offset);
    PutHeader(header, n, offset);
    if (stop_) return stopped;
    if (!WriteMailbox(kHeader, header, 4))
      return failed("asking for the block at " + Hex(offset));
    if (stop_) return stopped;
    if (!WriteByte(kHandshake, kServe)) return failed("asking for the block at " + Hex(offset));
    device_.Pause(kServeWaitMs);
    for (;;) {
      if (stop_) return stopped;
      if (Ready(&poll_failure)) break;
      if (retries++ > kMaxRetries) return fail(NotReady("serve", offset, poll_failure));
      device_.Pause(kPollPauseMs);
    }
    if (stop_) return stopped;
    if (!ReadMailbox(kData, data, n))
      return failed("reading the block at " + Hex(offset));
    back.insert(back.end(), data, data + n);
    if (n < kBlockSize)
      Log(texts::CheckBlock(offset, n, true));
    else if (offset % kLogStride == 0)
      Log(texts::CheckBlock(offset, kLogStride, false));
    offset += n;
    ShowProgress(offset, size);
  }
  publish();

  if (image.empty() || back.size() != image.size()) {
    Log(texts::kLengthMismatch);
    return {Outcome::kMismatch, "read back " + std::to_string(back.size()) +
                                    " bytes, the image has " + std::to_string(image.size())};
  }
  for (size_t i = 0; i < size; ++i) {
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

}  // namespace transfer
