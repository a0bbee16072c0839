// HID transport: finds the test board among the HID devices and moves
// 65-byte reports to and from the open board, 50 ms per transfer at most.
#pragma once

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

  // Byte 0 of the buffer is the report id 0 in both directions.
  int WriteReport(const uint8_t* buffer, int count);
  int ReadReport(uint8_t* buffer, int count);

  void SetMatch(const BoardMatch& match) { match_ = match; }
  const BoardMatch& Match() const { return match_; }
  TransferOutcome LastOutcome() const { return last_outcome_; }
  HidBackend& Backend() { return *backend_; }
  std::shared_ptr<HidBackend> BackendPtr() const { return backend_; }

 private:
  std::shared_ptr<HidBackend> backend_;
  BoardMatch match_;
  mutable std::mutex list_mutex_;
  std::vector<HidDeviceInfo> devices_;  // matching devices, enumeration order
  std::mutex transfer_guard_;           // one report transfer at a time
  std::unique_ptr<HidConnection> connection_;
  TransferOutcome last_outcome_ = TransferOutcome::kNotOpen;
};

bool PathsEqualIgnoringCase(const std::string& a, const std::string& b);
