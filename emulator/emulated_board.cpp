#include "emulator/emulated_board.h"

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

EmulatedBoard::~EmulatedBoard() = default;

std::vector<HidDeviceInfo> EmulatedBoard::Enumerate() {
  std::lock_guard lock(mutex_);
  std::vector<HidDeviceInfo> out;
  if (plugged_)
    out.push_back({identity_.path, identity_.vendor, identity_.product, identity_.release,
                   identity_.name});
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

void EmulatedBoard::DropAnswers(int count) { std::lock_guard l(mutex_); drop_ = count; }
void EmulatedBoard::AnswerLate(int count, int delay_ms) {
  std::lock_guard l(mutex_);
  late_ = count;
  late_delay_ms_ = delay_ms;
}
void EmulatedBoard::CorruptNextHeader(int count) { std::lock_guard l(mutex_); corrupt_ = count; }
void EmulatedBoard::FailNextWrite(int count) { std::lock_guard l(mutex_); fail_write_ = count; }
void EmulatedBoard::SetAnswerDelayMs(int ms) { std::lock_guard l(mutex_); answer_delay_ms_ = ms; }

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
  if (answer) {
    if (drop_ > 0) {
      --drop_;
    } else {
      int delay = answer_delay_ms_;
      if (late_ > 0) {
        --late_;
        delay = late_delay_ms_;
      }
      if (corrupt_ > 0) {
        --corrupt_;
        (*answer)[3] ^= 0x5A;
      }
      answers_.push_back({*answer, Clock::now() + std::chrono::milliseconds(delay)});
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
    if (!answers_.empty() && answers_.front().due <= now) {
      Report answer = answers_.front().report;
      answers_.pop_front();
      // Delivered as hidapi does for an unnumbered report: no report-id byte.
      const size_t n = std::min(length, answer.size() - 1);
      std::memcpy(data, answer.data() + 1, n);
      return static_cast<int>(n);
    }
    if (now >= deadline) return 0;
    auto wake = deadline;
    if (!answers_.empty() && answers_.front().due < wake) wake = answers_.front().due;
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

bool EmulatedBoard::LoadState(const std::string& path, std::string* error) {
  std::lock_guard lock(mutex_);
  state_path_ = path;
  std::ifstream in(path, std::ios::binary);
  if (!in) return true;  // a missing file starts from the defaults
  std::stringstream text;
  text << in.rdbuf();
  BoardState state;
  if (!ParseBoardState(text.str(), &state, error)) {
    if (error) *error = path + ": " + *error;
    return false;
  }
  ModuleDumpImage image;
  if (!ParseModuleDump(state.module_dump, &image, error)) {
    if (error) *error = path + ": module section, " + *error;
    return false;
  }
  module_.LoadDefaults();
  module_.LoadDump(state.module_dump, nullptr);
  dsp_.SetSaved(state.dsp_saved);
  mailbox_.Eeprom() = state.eeprom;
  return true;
}

bool EmulatedBoard::SaveState(std::string* error) const {
  std::lock_guard lock(mutex_);
  if (state_path_.empty()) return true;
  BoardState state;
  state.module_dump = module_.DumpAll();
  state.dsp_saved = dsp_.Saved();
  state.eeprom = mailbox_.Eeprom();
  return WriteBoardState(state_path_, state, error);
}

}  // namespace emu
