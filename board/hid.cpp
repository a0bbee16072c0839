#include "board/hid.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board/log.h"

namespace {
// The report hex dump, at the board's debug level (LANEWRIGHT_TRACE=1 turns
// it on: every report moved on the link, as hex on stderr).
void Trace(const char* dir, const uint8_t* report, int count) {
  lwlog::HexDump(lwlog::Category::kBoard, dir, report, count);
}
}  // namespace

const char* OutcomeText(TransferOutcome outcome) {
  switch (outcome) {
    case TransferOutcome::kOk:
      return "ok";
    case TransferOutcome::kTimeout:
      return "the board did not answer within 50 ms";
    case TransferOutcome::kError:
      return "the board link failed (unplugged?)";
    case TransferOutcome::kNotOpen:
      return "no board is open";
  }
  return "?";
}

bool PathsEqualIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

CHid::CHid(std::shared_ptr<HidBackend> backend) : backend_(std::move(backend)) {}

CHid::~CHid() { Close(); }

int CHid::FindDevices(const BoardMatch& match) {
  std::vector<HidDeviceInfo> found;
  for (auto& info : backend_->Enumerate()) {
    if (info.vendor == match.vendor && info.product == match.product &&
        info.release == match.version)
      found.push_back(std::move(info));
  }
  std::lock_guard lock(list_mutex_);
  devices_ = std::move(found);
  return static_cast<int>(devices_.size());
}

int CHid::FindDevicePath(const std::string& path) const {
  std::lock_guard lock(list_mutex_);
  for (size_t i = 0; i < devices_.size(); ++i)
    if (PathsEqualIgnoringCase(devices_[i].path, path)) return static_cast<int>(i);
  return -1;
}

std::vector<std::string> CHid::DevicePaths() const {
  std::lock_guard lock(list_mutex_);
  std::vector<std::string> paths;
  for (const auto& d : devices_) paths.push_back(d.path);
  return paths;
}

std::vector<HidDeviceInfo> CHid::MatchingDevices() const {
  std::lock_guard lock(list_mutex_);
  return devices_;
}

bool CHid::Open(int index, std::string* opened_path) {
  std::string path;
  {
    std::lock_guard lock(list_mutex_);
    if (index < 0 || index >= static_cast<int>(devices_.size())) return false;
    path = devices_[index].path;
  }
  auto connection = backend_->Open(path);
  std::lock_guard guard(transfer_guard_);
  connection_ = std::move(connection);
  dirty_ = false;
  if (connection_ && opened_path) *opened_path = path;
  return connection_ != nullptr;
}

void CHid::Close() {
  std::lock_guard guard(transfer_guard_);
  connection_.reset();
}

int CHid::WriteReport(const uint8_t* buffer, int count, TransferOutcome* outcome) {
  TransferOutcome local;
  TransferOutcome& result = outcome ? *outcome : local;
  std::lock_guard guard(transfer_guard_);
  if (!connection_) {
    result = TransferOutcome::kNotOpen;
    return -1;
  }
  uint8_t stale[CHid::kReportSize];
  if (dirty_) {
    // A read timed out: wait out the guard time, discarding every report
    // that arrives, so that its late answer cannot pair with this request.
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            dirty_until_ - std::chrono::steady_clock::now())
                            .count();
      if (left <= 0) break;
      const int n = connection_->Read(stale, sizeof stale, static_cast<int>(left));
      if (n < 0) break;  // unplugged: the write below fails as it should
      if (n > 0) {
        ++discarded_;
        Trace("hid < discarded late", stale, n);
      }
    }
    dirty_ = false;
  }
  // Discard input reports already queued, so that an answer that came after
  // its time limit is never taken for the answer to this request.
  for (int i = 0; i < 64 && connection_->Read(stale, sizeof stale, 0) > 0; ++i) ++discarded_;
  Trace("hid >", buffer, count);
  int n = connection_->Write(buffer, static_cast<size_t>(count));
  result = n == count ? TransferOutcome::kOk : TransferOutcome::kError;
  return n < 0 ? -1 : n;
}

int CHid::ReadReport(uint8_t* buffer, int count, TransferOutcome* outcome) {
  TransferOutcome local;
  TransferOutcome& result = outcome ? *outcome : local;
  std::lock_guard guard(transfer_guard_);
  if (!connection_) {
    result = TransferOutcome::kNotOpen;
    return -1;
  }
  if (count < 1) {
    result = TransferOutcome::kError;
    return -1;
  }
  // The board does not number its reports: the report arrives without the
  // id byte, which we put back at buffer[0] for our callers.
  int n = connection_->Read(buffer + 1, static_cast<size_t>(count - 1), kTransferLimitMs);
  if (n == 0) {
    lwlog::Write(lwlog::Category::kBoard, lwlog::Level::kDebug, "hid < timeout");
    result = TransferOutcome::kTimeout;
    dirty_ = true;
    dirty_until_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLateAnswerGuardMs);
    return -1;
  }
  if (n < 0) {
    result = TransferOutcome::kError;
    return -1;
  }
  buffer[0] = 0;
  Trace("hid <", buffer, n + 1);
  result = n + 1 == count ? TransferOutcome::kOk : TransferOutcome::kError;
  return n + 1;
}

uint64_t CHid::DiscardedReports() const {
  std::lock_guard guard(transfer_guard_);
  return discarded_;
}
