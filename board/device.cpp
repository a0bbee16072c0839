#include "board/device.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "board/protocol.h"

using namespace board;

namespace {

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

// Bytes 4-8 of a module register request (commands 0x06 and 0x07): channel,
// page, device, the report's first register and its count.
void FillModuleFields(uint8_t* q, uint8_t channel, uint8_t device, uint8_t page, uint8_t reg,
                      int offset, int n) {
  q[4] = channel;
  q[5] = page;
  q[6] = device;
  q[7] = static_cast<uint8_t>(reg + offset);
  q[8] = static_cast<uint8_t>(n);
}

BoardStatus StatusOf(TransferOutcome outcome) {
  switch (outcome) {
    case TransferOutcome::kOk:
      return BoardStatus::kOk;
    case TransferOutcome::kTimeout:
      return BoardStatus::kTimeout;
    case TransferOutcome::kError:
      return BoardStatus::kTransferError;
    case TransferOutcome::kNotOpen:
      return BoardStatus::kNotOpen;
  }
  return BoardStatus::kTransferError;
}

}  // namespace

CDevice::CDevice(std::shared_ptr<HidBackend> backend)
    : hid_(std::move(backend)), pause_(RealPause) {
  hid_.SetMatch(BoardMatch{0x0483, 0x0211, 0x0200});
}

CDevice::~CDevice() { CloseBoard(); }

BoardResult CDevice::OpenBoard(int index) {
  std::lock_guard call(call_mutex_);
  const auto paths = hid_.DevicePaths();
  if (index < 0 || index >= static_cast<int>(paths.size()))
    return BoardResult::Fail(BoardStatus::kOpenFailed);
  ProcessLock lock;
  const std::string lock_path = hid_.Backend().LockPath(paths[index]);
  if (!lock_path.empty()) {
    switch (lock.TryLock(lock_path, false)) {
      case ProcessLock::State::kHeld:
        break;
      case ProcessLock::State::kBusy: {
        BoardResult busy = BoardResult::Fail(BoardStatus::kBusy);
        busy.holder_pid = lock.HolderPid();
        return busy;
      }
      case ProcessLock::State::kError:
        return BoardResult::Fail(BoardStatus::kOpenFailed);
    }
  }
  std::string path;
  if (!hid_.Open(index, &path)) return BoardResult::Fail(BoardStatus::kOpenFailed);
  std::lock_guard guard(path_mutex_);
  open_path_ = path;
  board_lock_ = std::move(lock);
  return BoardResult::Ok();
}

void CDevice::CloseBoard() {
  // Not under the call lock: an unplug must not wait behind a long call; the
  // transport's own guard keeps a transfer in flight whole.
  hid_.Close();
  std::lock_guard lock(path_mutex_);
  open_path_.clear();
  board_lock_.Release();
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

void CDevice::SetPause(PauseFn pause) { pause_ = pause ? std::move(pause) : PauseFn(RealPause); }

void CDevice::Pause(int ms) const {
  if (ms > 0) pause_(ms);
}

BoardResult CDevice::Exchange(uint8_t* request, uint8_t* answer, bool header_test, int index,
                              int count) {
  const uint8_t code = request[3];
  TransferOutcome outcome = TransferOutcome::kOk;
  if (hid_.WriteReport(request, kReportSize, &outcome) != kReportSize)
    return BoardResult::Fail(
        outcome == TransferOutcome::kOk ? BoardStatus::kTransferError : StatusOf(outcome), code,
        index, count);
  Pause(command_delay_);
  if (!answer) return BoardResult::Ok();
  std::memset(answer, 0, kReportSize);
  if (hid_.ReadReport(answer, kReportSize, &outcome) != kReportSize)
    return BoardResult::Fail(
        outcome == TransferOutcome::kOk ? BoardStatus::kTransferError : StatusOf(outcome), code,
        index, count);
  if (header_test && !PassesHeaderTest(answer, code))
    return BoardResult::Fail(BoardStatus::kHeaderFailed, code, index, count);
  return BoardResult::Ok();
}

BoardResult CDevice::Chunked(uint8_t code, int length, bool header_test,
                             const std::function<void(uint8_t*, int, int, int)>& fill,
                             const std::function<void(const uint8_t*, int, int)>& take) {
  const int chunk = ChunkSize(code);
  const int count = ReportCount(length, chunk);
  uint8_t answer[kReportSize];
  for (int i = 0; i < count; ++i) {
    const int n = ReportLength(length, chunk, i);
    Report request(code);
    fill(request.bytes, i, chunk * i, n);
    if (auto r = Exchange(request.bytes, take ? answer : nullptr, header_test, i, count); !r)
      return r;
    if (take) take(answer, chunk * i, n);
  }
  return BoardResult::Ok();
}

BoardResult CDevice::ReadModule(uint8_t channel, uint8_t device, uint8_t page, uint8_t reg,
                                uint8_t* buffer, uint8_t length) {
  std::lock_guard call(call_mutex_);
  return Chunked(
      kModuleRead, length, false,
      [&](uint8_t* q, int, int offset, int n) {
        FillModuleFields(q, channel, device, page, reg, offset, n);
      },
      // Module read answers carry their data from byte 5; bytes 1-4 are the
      // board's own and are not looked at.
      [&](const uint8_t* a, int offset, int n) { std::memcpy(buffer + offset, a + 5, n); });
}

BoardResult CDevice::WriteModule(uint8_t channel, uint8_t device, uint8_t page, uint8_t reg,
                                 const uint8_t* data, uint8_t length) {
  std::lock_guard call(call_mutex_);
  return Chunked(
      kModuleWrite, length, false,
      [&](uint8_t* q, int, int offset, int n) {
        FillModuleFields(q, channel, device, page, reg, offset, n);
        std::memcpy(q + 9, data + offset, n);
      },
      nullptr);
}

BoardResult CDevice::SendCommand(uint8_t code, uint8_t value, uint16_t address, uint8_t* buffer,
                                 uint8_t length) {
  std::lock_guard call(call_mutex_);
  uint8_t answer[kReportSize];
  switch (code) {
    case kClockSelect:
    case kGeneratorConfig:
    case kCheckerConfig:
      return Chunked(
          code, length, false,
          [&](uint8_t* q, int, int offset, int n) { std::memcpy(q + 4, buffer + offset, n); },
          nullptr);
    case kDspWrite:
      return Chunked(
          code, length, false,
          [&](uint8_t* q, int, int offset, int n) {
            q[4] = value;
            q[5] = static_cast<uint8_t>(address + offset);
            q[6] = static_cast<uint8_t>(n);
            std::memcpy(q + 7, buffer + offset, n);
          },
          nullptr);
    case kDspRead:
      return Chunked(
          code, length, true,
          [&](uint8_t* q, int, int offset, int n) {
            q[4] = value;
            q[5] = static_cast<uint8_t>(address + offset);
            q[6] = static_cast<uint8_t>(n);
          },
          [&](const uint8_t* a, int offset, int n) { std::memcpy(buffer + offset, a + 4, n); });
    case kCheckerStatus: {
      Report request(code);
      request.bytes[4] = buffer[0];
      request.bytes[5] = buffer[1];
      const auto r = Exchange(request.bytes, answer, true, 0, 1);
      if (r.status == BoardStatus::kHeaderFailed) return r;  // buffer left as it was
      if (!r) {
        std::memset(buffer, 0, length);
        return r;
      }
      std::memcpy(buffer, answer + 4, std::min<int>(length, 61));
      return r;
    }
    case kPowerRead: {
      Report request(code);
      const auto r = Exchange(request.bytes, answer, true, 0, 1);
      if (r) std::memcpy(buffer, answer + 4, std::min<int>(length, 61));
      return r;
    }
    case kDspSave: {
      Report request(code);
      request.bytes[4] = value;
      return Exchange(request.bytes, nullptr, false, 0, 1);
    }
    default:
      return BoardResult::Fail(BoardStatus::kRefused, code);
  }
}

BoardResult CDevice::WriteMailbox(uint8_t address, const uint8_t* data, uint8_t length) {
  std::lock_guard call(call_mutex_);
  return Chunked(
      kMailboxWrite, length, false,
      [&](uint8_t* q, int, int offset, int n) {
        q[4] = static_cast<uint8_t>(address + offset);
        q[5] = static_cast<uint8_t>(n);
        std::memcpy(q + 6, data + offset, n);
      },
      nullptr);
}

BoardResult CDevice::ReadMailbox(uint8_t address, uint8_t* buffer, uint8_t length) {
  std::lock_guard call(call_mutex_);
  return Chunked(
      kMailboxRead, length, false,
      [&](uint8_t* q, int, int offset, int n) {
        q[4] = static_cast<uint8_t>(address + offset);
        q[5] = static_cast<uint8_t>(n);
      },
      [&](const uint8_t* a, int offset, int n) { std::memcpy(buffer + offset, a + 4, n); });
}
