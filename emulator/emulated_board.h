// The built-in test board: a backend of the HID transport that answers the
// board's 65-byte reports the way the real firmware does, as hidapi would
// deliver them (input reports without the report-id byte).
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "board/hid_backend.h"
#include "emulator/dsp_model.h"
#include "emulator/mailbox_model.h"
#include "emulator/module_model.h"
#include "emulator/prbs_model.h"

namespace emu {

using Report = std::array<uint8_t, 65>;

struct BoardIdentity {
  std::string path = "emulated:board0";
  uint16_t vendor = 0x0483, product = 0x0211, release = 0x0200;
  std::string name = "Lanewright emulated test board";
};

class EmulatedBoard final : public HidBackend,
                            public std::enable_shared_from_this<EmulatedBoard> {
 public:
  EmulatedBoard();
  ~EmulatedBoard() override;

  // HidBackend
  std::vector<HidDeviceInfo> Enumerate() override;
  std::unique_ptr<HidConnection> Open(const std::string& path) override;
  std::string Name() const override { return "emulated"; }

  // Plug and unplug the board (seen by the host as removal and arrival).
  void SetPlugged(bool plugged);
  bool Plugged() const;
  // Further devices to enumerate (a second board, a mouse ...).
  void AddDevice(const HidDeviceInfo& info);
  const BoardIdentity& Identity() const { return identity_; }

  // Faults, for tests and demos.
  void DropAnswers(int count);              // the next N answers never arrive
  // The next N answers arrive `delay_ms` after their request (past the
  // host's 20 ms pause and 50 ms limit: it has given up by then).
  void AnswerLate(int count = 1, int delay_ms = 80);
  void CorruptNextHeader(int count = 1);    // the next N answers carry a wrong byte 3
  void FailNextWrite(int count = 1);        // the next N writes fail
  void SetAnswerDelayMs(int ms);            // normal answer time, default 2 ms

  // Firmware models. Lock() guards them against the report handler.
  std::unique_lock<std::recursive_mutex> Lock() { return std::unique_lock(mutex_); }
  ModuleModel& Module() { return module_; }
  DspModel& Dsp() { return dsp_; }
  PrbsModel& Prbs() { return prbs_; }
  MailboxModel& Mailbox() { return mailbox_; }

  // Every request report the board received (for tests), oldest first.
  std::vector<Report> Requests() const;
  void ClearRequests();
  size_t RequestCount() const;

  // Non-volatile state (module image, saved DSP block, EEPROM) in a file.
  // Load: a missing file keeps the defaults; a corrupt file is an error.
  bool LoadState(const std::string& path, std::string* error);
  bool SaveState(std::string* error) const;
  const std::string& StatePath() const { return state_path_; }

  // Called by connections.
  int HandleWrite(const uint8_t* data, size_t length);
  int HandleRead(uint8_t* data, size_t length, int timeout_ms);
  uint64_t Generation() const;

 private:
  std::optional<Report> Process(const Report& request);

  BoardIdentity identity_;
  std::vector<HidDeviceInfo> extra_devices_;
  mutable std::recursive_mutex mutex_;
  std::condition_variable_any answer_ready_;
  struct Pending {
    Report report;
    std::chrono::steady_clock::time_point due;
  };
  std::deque<Pending> answers_;
  std::vector<Report> requests_;
  bool plugged_ = true;
  uint64_t generation_ = 0;  // bumps at every unplug, so stale connections die
  int drop_ = 0, late_ = 0, corrupt_ = 0, fail_write_ = 0;
  int late_delay_ms_ = 80;
  int answer_delay_ms_ = 2;
  std::string state_path_;

  ModuleModel module_;
  DspModel dsp_;
  PrbsModel prbs_;
  MailboxModel mailbox_;
};

}  // namespace emu
