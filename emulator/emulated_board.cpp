#include "emulator/emulated_board.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <thread>

#include "board/protocol.h"
#include "emulator/state_file.h"

namespace emu {

using namespace board;
using Clock = std::chrono::steady_clock;

namespace {

class EmulatedConnection final : public HidConnection {
 public:
  EmulatedConnection(std::shared_ptr<EmulatedBoard> board, uint64_t generation)
      : board_(std::move(board)), generation_(generation) {}
  int Write(const uint8_t* data, size_t length) override {
    if (board_->Generation() != generation_ || !board_->Plugged()) return -1;
    return board_->HandleWrite(data, length);
  }
  int Read(uint8_t* data, size_t length, int timeout_ms) override {
    if (board_->Generation() != generation_ || !board_->Plugged()) return -1;
    return board_->HandleRead(data, length, timeout_ms);
  }

 private:
  std::shared_ptr<EmulatedBoard> board_;
  uint64_t generation_;
};

}  // namespace

EmulatedBoard::EmulatedBoard() = default;

EmulatedBoard::EmulatedBoard(BoardIdentity identity) : identity_(std::move(identity)) {}

EmulatedBoard::~EmulatedBoard() {
  if (attached_) CloseState(nullptr);
}

std::vector<HidDeviceInfo> EmulatedBoard::Enumerate() {
  std::lock_guard lock(mutex_);
  std::vector<HidDeviceInfo> out;
  if (plugged_)
    out.push_back(
        {identity_.path, identity_.vendor, identity_.product, identity_.release, identity_.name});
  for (const auto& d : extra_devices_) out.push_back(d);
  return out;
}

std::unique_ptr<HidConnection> EmulatedBoard::Open(const std::string& path) {
  std::lock_guard lock(mutex_);
  if (!plugged_ || path != identity_.path) return nullptr;
  answers_.clear();
  return std::make_unique<EmulatedConnection>(shared_from_this(), generation_);
}

void EmulatedBoard::SetPlugged(bool plugged) {
  {
    std::lock_guard lock(mutex_);
    if (plugged_ == plugged) return;
    plugged_ = plugged;
    if (!plugged) {
      ++generation_;
      answers_.clear();
    }
  }
  answer_ready_.notify_all();
}

bool EmulatedBoard::Plugged() const {
  std::lock_guard lock(mutex_);
  return plugged_;
}

uint64_t EmulatedBoard::Generation() const {
  std::lock_guard lock(mutex_);
  return generation_;
}

void EmulatedBoard::AddDevice(const HidDeviceInfo& info) {
  std::lock_guard lock(mutex_);
  extra_devices_.push_back(info);
}

void EmulatedBoard::DropAnswers(int count) {
  std::lock_guard l(mutex_);
  drop_ = count;
}
void EmulatedBoard::AnswerLate(int count, int delay_ms) {
  std::lock_guard l(mutex_);
  late_ = count;
  late_delay_ms_ = delay_ms;
}
void EmulatedBoard::CorruptNextHeader(int count) {
  std::lock_guard l(mutex_);
  corrupt_ = count;
}
void EmulatedBoard::FailNextWrite(int count) {
  std::lock_guard l(mutex_);
  fail_write_ = count;
}
void EmulatedBoard::SetAnswerDelayMs(int ms) {
  std::lock_guard l(mutex_);
  answer_delay_ms_ = ms;
}

std::vector<Report> EmulatedBoard::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

void EmulatedBoard::ClearRequests() {
  std::lock_guard lock(mutex_);
  requests_.clear();
}

size_t EmulatedBoard::RequestCount() const {
  std::lock_guard lock(mutex_);
  return requests_.size();
}

int EmulatedBoard::HandleWrite(const uint8_t* data, size_t length) {
  std::unique_lock lock(mutex_);
  if (fail_write_ > 0) {
    --fail_write_;
    return -1;
  }
  Report request{};
  std::memcpy(request.data(), data, std::min(length, request.size()));
  if (requests_.size() < 200000) requests_.push_back(request);
  auto answer = Process(request);
  if (attached_) {
    attached_->used = true;
    Persist(request[3] == kMailboxWrite || request[3] == kMailboxRead);
  }
  if (answer) {
    if (drop_ > 0) {
      --drop_;
    } else {
      int delay = answer_delay_ms_;
      bool late = false;
      if (late_ > 0) {
        --late_;
        delay = late_delay_ms_;
        late = true;
      }
      if (corrupt_ > 0) {
        --corrupt_;
        (*answer)[3] ^= 0x5A;
      }
      answers_.push_back({*answer, Clock::now() + std::chrono::milliseconds(delay), late});
      answer_ready_.notify_all();
    }
  }
  return static_cast<int>(length);
}

int EmulatedBoard::HandleRead(uint8_t* data, size_t length, int timeout_ms) {
  std::unique_lock lock(mutex_);
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  const uint64_t generation = generation_;
  for (;;) {
    if (!plugged_ || generation != generation_) return -1;
    const auto now = Clock::now();
    const bool held = !answers_.empty() && answers_.front().late && !answers_.front().missed;
    if (!answers_.empty() && !held && answers_.front().due <= now) {
      Report answer = answers_.front().report;
      answers_.pop_front();
      // Delivered as hidapi does for an unnumbered report: no report-id byte.
      const size_t n = std::min(length, answer.size() - 1);
      std::memcpy(data, answer.data() + 1, n);
      return static_cast<int>(n);
    }
    if (now >= deadline) {
      for (Pending& p : answers_) p.missed = true;
      return 0;
    }
    auto wake = deadline;
    if (!answers_.empty() && !held && answers_.front().due < wake) wake = answers_.front().due;
    answer_ready_.wait_until(lock, wake);
  }
}

std::optional<Report> EmulatedBoard::Process(const Report& q) {
  Report a{};
  a[0] = 0;
  a[1] = kSync;
  a[2] = kSync;
  a[3] = q[3];
  if (q[1] != kSync || q[2] != kSync) return std::nullopt;
  switch (q[3]) {
    case kClockSelect:
      clock_ = q[4];
      return std::nullopt;
    case kModuleWrite:
      module_.Write(q[6], q[5], q[7], &q[9], std::min<int>(q[8], 56));
      return std::nullopt;
    case kModuleRead:
      a[4] = q[8];
      module_.Read(q[6], q[5], q[7], &a[5], std::min<int>(q[8], 60));
      return a;
    case kPowerRead: {
      float v = dsp_.Voltage(), i = dsp_.CurrentReading();
      std::memcpy(&a[8], &v, 4);
      std::memcpy(&a[12], &i, 4);
      return a;
    }
    case kDspSave:
      dsp_.Save();
      dsp_.CountSave();
      return std::nullopt;
    case kDspWrite:
      dsp_.Write(q[5], &q[7], std::min<int>(q[6], 58));
      return std::nullopt;
    case kDspRead:
      dsp_.Read(q[5], &a[4], std::min<int>(q[6], 61));
      return a;
    case kGeneratorConfig:
      prbs_.Generator(&q[4]);
      return std::nullopt;
    case kCheckerConfig:
      prbs_.Checker(&q[4]);
      return std::nullopt;
    case kCheckerStatus:
      prbs_.Status(q[4], q[5], dsp_, &a[4]);
      return a;
    case kMailboxWrite: {
      mailbox_.Write(q[4], &q[6], std::min<int>(q[5], 59));
      // Mailbox faults that the whole board carries out.
      const auto due = mailbox_.TakeBoardFault();
      if (due.fault == MailboxFault::kDropAnswers)
        drop_ = due.count < 0 ? std::numeric_limits<int>::max() : due.count;
      else if (due.fault == MailboxFault::kUnplug)
        SetPlugged(false);
      return std::nullopt;
    }
    case kMailboxRead:
      mailbox_.Read(q[4], &a[4], std::min<int>(q[5], 61));
      return a;
    default:
      return std::nullopt;  // unknown commands get no answer
  }
}

// ---- The state file ----

BoardState EmulatedBoard::CurrentState() const {
  BoardState state;
  if (attached_ && attached_->home_module) {
    state.module = attached_->home_module->first;
    state.module_retained = attached_->home_module->second;
  } else {
    state.module = module_.Image();
    state.module_retained = module_.RetainedState();
  }
  state.dsp_working = dsp_.Current();
  state.dsp_saved = dsp_.Saved();
  state.prbs = prbs_.AllRecords();
  state.clock = clock_;
  state.mailbox = mailbox_.Bytes();
  state.load_mode = mailbox_.InLoadMode();
  state.eeprom = mailbox_.Eeprom();
  return state;
}

void EmulatedBoard::ApplyState(const BoardState& state) {
  module_.LoadImage(state.module);
  module_.StartLive();  // a kept board's module carries on; only a loaded dump replays
  if (state.module_retained) module_.SetRetainedState(*state.module_retained);
  dsp_.SetBlocks(state.dsp_working, state.dsp_saved);
  prbs_.SetRecords(state.prbs);
  clock_ = state.clock;
  mailbox_.Restore(state.mailbox, state.load_mode);
  mailbox_.Eeprom() = state.eeprom;
}

BoardState EmulatedBoard::SnapshotState() const {
  std::lock_guard guard(mutex_);
  return CurrentState();
}

void EmulatedBoard::RestoreState(const BoardState& state) {
  std::lock_guard guard(mutex_);
  ApplyState(state);
  Persist(false);
}

uint64_t EmulatedBoard::Fingerprint() const {
  uint64_t h = module_.Fingerprint();
  auto mix = [&h](const uint8_t* bytes, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      h ^= bytes[i];
      h *= 0x100000001b3ull;
    }
  };
  mix(dsp_.Current().data(), DspModel::kBlockSize);
  mix(dsp_.Saved().data(), DspModel::kBlockSize);
  const auto records = prbs_.AllRecords();
  for (const auto& r : records.generator) mix(r.data(), r.size());
  for (const auto& r : records.checker) mix(r.data(), r.size());
  mix(&clock_, 1);
  mix(mailbox_.Bytes().data(), mailbox_.Bytes().size());
  const uint8_t mode = mailbox_.InLoadMode();
  mix(&mode, 1);
  // The EEPROM changes only by stored blocks.
  const auto stored = static_cast<uint32_t>(mailbox_.BlocksStored());
  mix(reinterpret_cast<const uint8_t*>(&stored), sizeof stored);
  return h;
}

void EmulatedBoard::Persist(bool coalesce) {
  if (!attached_) return;
  const uint64_t now = Fingerprint();
  if (now == attached_->written) {
    attached_->pending = false;
    return;
  }
  // The blocks of an EEPROM load come many a second: written at most once a
  // second while the load runs, and at once when it ends.
  if (coalesce && mailbox_.InLoadMode() &&
      Clock::now() - attached_->last_write < std::chrono::seconds(1)) {
    attached_->pending = true;
    return;
  }
  WriteState();
}

bool EmulatedBoard::WriteState() {
  const uint64_t fingerprint = Fingerprint();
  std::string error;
  if (!WriteFileAtomically(attached_->target, FormatBoardState(CurrentState()), &error)) {
    attached_->error = state_path_ + ": " + error;  // the path the user gave
    attached_->pending = true;
    return false;
  }
  attached_->written = fingerprint;
  attached_->exists = true;
  attached_->pending = false;
  attached_->last_write = Clock::now();
  attached_->error.clear();
  return true;
}

bool EmulatedBoard::OpenState(const std::string& path, const StateOptions& options,
                              StateError* error) {
  auto fail = [error](StateError::Kind kind, const std::string& text) {
    if (error) *error = {kind, text};
    return false;
  };
  if (attached_) {  // one file at a time: the last one gets what it has not seen
    std::string why;
    if (!CloseState(&why)) return fail(StateError::Kind::kFile, why);
  }
  std::string target, why;
  // A file that is not what it should be is invalid input; one that cannot
  // be read is a failed file operation.
  auto file_failed = [&](FileFault fault) {
    return fail(fault == FileFault::kInvalid ? StateError::Kind::kInvalid : StateError::Kind::kFile,
                path + ": " + why);
  };
  if (const FileFault fault = ResolveFile(path, &target, &why); fault != FileFault::kNone)
    return file_failed(fault);
  // Reads and checks the file as it stands; writes replace it whole, so it
  // is always complete. A file that fails is refused before it is touched.
  std::string text;
  bool exists = false;
  BoardState state;
  auto read = [&]() -> bool {
    if (const FileFault fault = ReadRegularFile(target, &text, &exists, &why);
        fault != FileFault::kNone)
      return file_failed(fault);
    if (exists && !ParseBoardState(text, &state, &why))
      return fail(StateError::Kind::kInvalid, path + ": " + why);
    return true;
  };
  if (!read()) return false;

  // One process holds the board at a time, as with a real board; then the
  // file is read again, as the last holder left it.
  ProcessLock lock;
  const std::string lock_path = target + ".lock";
  const auto held = options.wait
                        ? lock.Wait(lock_path, true, options.waiting, options.cancelled, 100)
                        : lock.TryLock(lock_path, true);
  if (held == ProcessLock::State::kBusy)
    return fail(StateError::Kind::kBusy, path + ": " + ProcessLock::BusyText(lock.HolderPid()));
  if (held == ProcessLock::State::kError) return fail(StateError::Kind::kFile, lock.Error());
  if (!read()) return false;

  std::lock_guard guard(mutex_);
  if (!exists) state = CurrentState();  // a missing file: the board as it is
  ApplyState(state);
  attached_ = std::make_unique<Attached>();
  attached_->target = target;
  attached_->lock = std::move(lock);
  attached_->exists = exists;
  attached_->written = Fingerprint();
  state_path_ = path;
  return true;
}

bool EmulatedBoard::CloseState(std::string* error) {
  std::lock_guard guard(mutex_);
  if (!attached_) return true;
  bool ok = true;
  if (attached_->pending || Fingerprint() != attached_->written ||
      (!attached_->exists && attached_->used))
    ok = WriteState();
  if (!ok && error) *error = attached_->error;
  attached_.reset();  // releases the lock
  return ok;
}

bool EmulatedBoard::LoadState(const std::string& path, std::string* error) {
  StateOptions options;
  options.wait = false;
  StateError e;
  if (OpenState(path, options, &e)) return true;
  if (error) *error = e.text;
  return false;
}

bool EmulatedBoard::SaveState(std::string* error) {
  std::lock_guard guard(mutex_);
  if (!attached_) return true;
  if (WriteState()) return true;
  if (error) *error = attached_->error;
  return false;
}

bool EmulatedBoard::LoadModuleDumpFile(const std::string& path, bool keep, StateError* error) {
  auto fail = [error](StateError::Kind kind, const std::string& text) {
    if (error) *error = {kind, text};
    return false;
  };
  std::string text, why;
  bool exists = false;
  switch (ReadRegularFile(path, &text, &exists, &why)) {
    case FileFault::kInvalid:
      return fail(StateError::Kind::kInvalid, path + ": " + why);
    case FileFault::kIo:
      return fail(StateError::Kind::kFile, path + ": " + why);
    case FileFault::kNone:
      if (!exists) return fail(StateError::Kind::kFile, path + ": " + std::strerror(ENOENT));
  }
  ModuleDumpImage image;
  if (!ParseModuleDump(text, &image, &why))
    return fail(StateError::Kind::kInvalid, path + ": " + why);
  std::lock_guard guard(mutex_);
  if (attached_ && !keep && !attached_->home_module)
    attached_->home_module.emplace(module_.Image(), module_.RetainedState());
  if (keep && attached_) attached_->home_module.reset();
  module_.LoadImage(std::move(image));
  Persist(false);
  return true;
}

void EmulatedBoard::PowerCycle() {
  std::lock_guard guard(mutex_);
  dsp_.PowerCycle();
  prbs_.SetRecords({});
  mailbox_.PowerCycle();
  clock_ = kPowerOnClock;
  module_.PowerCycle();
  Persist(false);
}

uint8_t EmulatedBoard::ClockSelection() const {
  std::lock_guard guard(mutex_);
  return clock_;
}

}  // namespace emu
