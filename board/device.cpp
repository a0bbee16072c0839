#include "board/device.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "board/protocol.h"

using namespace board;

namespace {
// Per calling thread: each user of the board asks about its own last call.
thread_local bool t_headers_ok = true;
thread_local TransferOutcome t_last_failure = TransferOutcome::kOk;

void RealPause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

struct Report {
  uint8_t bytes[kReportSize];
  explicit Report(uint8_t code) {
    std::memset(bytes, 0, sizeof bytes);
    bytes[1] = kSync;
    bytes[2] = kSync;
    bytes[3] = code;
  }
};
}  // namespace

CDevice::CDevice(std::shared_ptr<HidBackend> backend)
    : hid_(std::move(backend)), pause_(RealPause) {
  hid_.SetMatch(BoardMatch{0x0483, 0x0211, 0x0200});
}

CDevice::~CDevice() { CloseBoard(); }

bool CDevice::OpenBoard(int index) {
  std::lock_guard call(call_mutex_);
  std::string path;
  if (!hid_.Open(index, &path)) return false;
  std::lock_guard lock(path_mutex_);
  open_path_ = path;
  return true;
}

void CDevice::CloseBoard() {
  // Not under the call lock: an unplug must not wait behind a long call; the
  // transport's own guard keeps a transfer in flight whole.
  hid_.Close();
  std::lock_guard lock(path_mutex_);
  open_path_.clear();
}

int CDevice::CheckBoardPath(const std::string& path) const {
  std::lock_guard lock(path_mutex_);
  if (open_path_.empty()) return 0;
  return PathsEqualIgnoringCase(open_path_, path) ? 1 : 2;
}

std::string CDevice::OpenPath() const {
  std::lock_guard lock(path_mutex_);
  return open_path_;
}

std::string CDevice::LastError() const { return OutcomeText(t_last_failure); }

void CDevice::SetPause(PauseFn pause) { pause_ = pause ? std::move(pause) : PauseFn(RealPause); }

void CDevice::Pause(int ms) const {
  if (ms > 0) pause_(ms);
}

bool CDevice::Write(const uint8_t* report) {
  if (hid_.WriteReport(report, kReportSize) == kReportSize) return true;
  const TransferOutcome outcome = hid_.LastOutcome();
  t_last_failure = outcome == TransferOutcome::kOk ? TransferOutcome::kError : outcome;
  return false;
}

bool CDevice::Read(uint8_t* report) {
  std::memset(report, 0, kReportSize);
  if (hid_.ReadReport(report, kReportSize) == kReportSize) return true;
  const TransferOutcome outcome = hid_.LastOutcome();
  t_last_failure = outcome == TransferOutcome::kOk ? TransferOutcome::kError : outcome;
  return false;
}

bool CDevice::ReadModule(uint8_t channel, uint8_t device, uint8_t page, uint8_t reg,
                         uint8_t* buffer, uint8_t length) {
  std::lock_guard call(call_mutex_);
  const int chunk = ChunkSize(kModuleRead);
  for (int i = 0; i < ReportCount(length, chunk); ++i) {
    const int n = ReportLength(length, chunk, i);
    Report request(kModuleRead);
    request.bytes[4] = channel;
    request.bytes[5] = page;
    request.bytes[6] = device;
    request.bytes[7] = static_cast<uint8_t>(reg + chunk * i);
    request.bytes[8] = static_cast<uint8_t>(n);
    if (!Write(request.bytes)) return false;
    Pause(command_delay_);
    uint8_t answer[kReportSize];
    if (!Read(answer)) return false;
    std::memcpy(buffer + chunk * i, answer + 5, n);
  }
  return true;
}

bool CDevice::WriteModule(uint8_t channel, uint8_t device, uint8_t page, uint8_t reg,
                          const uint8_t* data, uint8_t length) {
  std::lock_guard call(call_mutex_);
  const int chunk = ChunkSize(kModuleWrite);
  for (int i = 0; i < ReportCount(length, chunk); ++i) {
    const int n = ReportLength(length, chunk, i);
    Report request(kModuleWrite);
    request.bytes[4] = channel;
    request.bytes[5] = page;
    request.bytes[6] = device;
    request.bytes[7] = static_cast<uint8_t>(reg + chunk * i);
    request.bytes[8] = static_cast<uint8_t>(n);
    std::memcpy(request.bytes + 9, data + chunk * i, n);
    if (!Write(request.bytes)) return false;
    Pause(kCommandDelayMs);
  }
  return true;
}

bool CDevice::LastAnswersPassedHeaderTest() { return t_headers_ok; }

bool CDevice::SendCommand(uint8_t code, uint8_t value, uint16_t address, uint8_t* buffer,
                          uint8_t length) {
  std::lock_guard call(call_mutex_);
  t_headers_ok = true;
  const int chunk = ChunkSize(code);
  uint8_t answer[kReportSize];
  switch (code) {
    case kClockSelect:
    case kGeneratorConfig:
    case kCheckerConfig:
      for (int i = 0; i < ReportCount(length, chunk); ++i) {
        Report request(code);
        std::memcpy(request.bytes + 4, buffer + chunk * i, ReportLength(length, chunk, i));
        if (!Write(request.bytes)) return false;
        Pause(command_delay_);
      }
      return true;
    case kDspWrite:
      for (int i = 0; i < ReportCount(length, chunk); ++i) {
        const int n = ReportLength(length, chunk, i);
        Report request(code);
        request.bytes[4] = value;
        request.bytes[5] = static_cast<uint8_t>(address + chunk * i);
        request.bytes[6] = static_cast<uint8_t>(n);
        std::memcpy(request.bytes + 7, buffer + chunk * i, n);
        if (!Write(request.bytes)) return false;
        Pause(command_delay_);
      }
      return true;
    case kDspRead:
      for (int i = 0; i < ReportCount(length, chunk); ++i) {
        const int n = ReportLength(length, chunk, i);
        Report request(code);
        request.bytes[4] = value;
        request.bytes[5] = static_cast<uint8_t>(address + chunk * i);
        request.bytes[6] = static_cast<uint8_t>(n);
        if (!Write(request.bytes)) return false;
        Pause(command_delay_);
        if (!Read(answer)) return false;
        if (PassesHeaderTest(answer, code)) std::memcpy(buffer + chunk * i, answer + 4, n);
        else t_headers_ok = false;
      }
      return true;
    case kCheckerStatus: {
      Report request(code);
      request.bytes[4] = buffer[0];
      request.bytes[5] = buffer[1];
      if (!Write(request.bytes)) {
        std::memset(buffer, 0, length);
        return false;
      }
      Pause(command_delay_);
      if (!Read(answer)) {
        std::memset(buffer, 0, length);
        return false;
      }
      if (PassesHeaderTest(answer, code)) std::memcpy(buffer, answer + 4, std::min<int>(length, 61));
      else t_headers_ok = false;
      return true;
    }
    case kPowerRead: {
      Report request(code);
      if (!Write(request.bytes)) return false;
      Pause(command_delay_);
      if (!Read(answer)) return false;
      if (PassesHeaderTest(answer, code)) std::memcpy(buffer, answer + 4, std::min<int>(length, 61));
      else t_headers_ok = false;
      return true;
    }
    case kDspSave: {
      Report request(code);
      request.bytes[4] = value;
      if (!Write(request.bytes)) return false;
      Pause(command_delay_);
      return true;
    }
    default:
      return false;
  }
}

bool CDevice::WriteMailbox(uint8_t address, const uint8_t* data, uint8_t length) {
  std::lock_guard call(call_mutex_);
  const int chunk = ChunkSize(kMailboxWrite);
  for (int i = 0; i < ReportCount(length, chunk); ++i) {
    const int n = ReportLength(length, chunk, i);
    Report request(kMailboxWrite);
    request.bytes[4] = static_cast<uint8_t>(address + chunk * i);
    request.bytes[5] = static_cast<uint8_t>(n);
    std::memcpy(request.bytes + 6, data + chunk * i, n);
    if (!Write(request.bytes)) return false;
    Pause(kCommandDelayMs);
  }
  return true;
}

bool CDevice::ReadMailbox(uint8_t address, uint8_t* buffer, uint8_t length) {
  std::lock_guard call(call_mutex_);
  const int chunk = ChunkSize(kMailboxRead);
  for (int i = 0; i < ReportCount(length, chunk); ++i) {
    const int n = ReportLength(length, chunk, i);
    Report request(kMailboxRead);
    request.bytes[4] = static_cast<uint8_t>(address + chunk * i);
    request.bytes[5] = static_cast<uint8_t>(n);
    if (!Write(request.bytes)) return false;
    Pause(kCommandDelayMs);
    uint8_t answer[kReportSize];
    if (!Read(answer)) return false;
    std::memcpy(buffer + chunk * i, answer + 4, n);
  }
  return true;
}
