// HID transport: finds the test board among the HID devices and moves
// 65-byte reports to and from the open board, 50 ms per transfer at most.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "board/hid_backend.h"

struct BoardMatch {
  uint16_t vendor = 0x0483;
  uint16_t product = 0x0211;
  uint16_t version = 0x0200;
};

// How the last transfer ended; the boolean/-1 results sit on top of it.
enum class TransferOutcome { kOk, kTimeout, kError, kNotOpen };
const char* OutcomeText(TransferOutcome outcome);

class CHid {
 public:
  static constexpr int kReportSize = 65;
  static constexpr int kTransferLimitMs = 50;
  // After a read gave up, an answer may still be on its way and would be
  // taken for the answer to the next request (a module read's answer has no
  // header to tell them apart). The link stays dirty for this long after the
  // timed-out read: the next write first drains and discards whatever
  // arrives until then. No real board is at hand to measure its slowest
  // answer; we take answers later than 150 ms after the host gave up as
  // lost, and add 50 ms of margin. The normal path never pays this.
  static constexpr int kLateAnswerGuardMs = 200;

  explicit CHid(std::shared_ptr<HidBackend> backend);
  virtual ~CHid();
  CHid(const CHid&) = delete;
  CHid& operator=(const CHid&) = delete;

  // Rebuilds the device path list; returns the number of matching devices.
  int FindDevices(const BoardMatch& match);
  int FindDevices() { return FindDevices(match_); }
  // Index of the first listed path equal to `path` ignoring case, or -1.
  int FindDevicePath(const std::string& path) const;
  std::vector<std::string> DevicePaths() const;
  std::vector<HidDeviceInfo> MatchingDevices() const;

  // Opens the listed device at `index`; `opened_path` receives its path.
  bool Open(int index, std::string* opened_path = nullptr);
  void Close();

  // Byte 0 of the buffer is the report id 0 in both directions. `outcome`
  // (optional) receives how the transfer ended.
  int WriteReport(const uint8_t* buffer, int count, TransferOutcome* outcome = nullptr);
  int ReadReport(uint8_t* buffer, int count, TransferOutcome* outcome = nullptr);
  // Late answers drained and discarded since the transport was made.
  uint64_t DiscardedReports() const;

  void SetMatch(const BoardMatch& match) { match_ = match; }
  const BoardMatch& Match() const { return match_; }
  HidBackend& Backend() { return *backend_; }
  std::shared_ptr<HidBackend> BackendPtr() const { return backend_; }

 private:
  std::shared_ptr<HidBackend> backend_;
  BoardMatch match_;
  mutable std::mutex list_mutex_;
  std::vector<HidDeviceInfo> devices_;  // matching devices, enumeration order
  mutable std::mutex transfer_guard_;   // one report transfer at a time
  std::unique_ptr<HidConnection> connection_;
  // Set when a read timed out: until then the link may still carry its answer.
  std::chrono::steady_clock::time_point dirty_until_{};
  bool dirty_ = false;
  uint64_t discarded_ = 0;
};

bool PathsEqualIgnoringCase(const std::string& a, const std::string& b);
