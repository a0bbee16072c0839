// The built-in test board: a backend of the HID transport that answers the
// board's 65-byte reports the way the real firmware does, as hidapi would
// deliver them (input reports without the report-id byte).
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "board/hid_backend.h"
#include "board/process_lock.h"
#include "emulator/dsp_model.h"
#include "emulator/mailbox_model.h"
#include "emulator/module_model.h"
#include "emulator/prbs_model.h"
#include "emulator/state_file.h"

namespace emu {

using Report = std::array<uint8_t, 65>;

struct BoardIdentity {
  std::string path = "emulated:board0";
  uint16_t vendor = 0x0483, product = 0x0211, release = 0x0200;
  std::string name = "Lanewright emulated test board";
};

class EmulatedBoard final : public HidBackend, public std::enable_shared_from_this<EmulatedBoard> {
 public:
  EmulatedBoard();
  // A board enumerated under its own path (one of several boards).
  explicit EmulatedBoard(BoardIdentity identity);
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
  void DropAnswers(int count);  // the next N answers never arrive
  // The next N answers arrive `delay_ms` after their request (past the
  // host's 20 ms pause and 50 ms limit: it has given up by then).
  void AnswerLate(int count = 1, int delay_ms = 80);
  void CorruptNextHeader(int count = 1);  // the next N answers carry a wrong byte 3
  void FailNextWrite(int count = 1);      // the next N writes fail
  void SetAnswerDelayMs(int ms);          // normal answer time, default 2 ms

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

  // The board's state in a file (see state_file.h): what a powered board
  // keeps, so that consecutive runs see one board.
  struct StateOptions {
    bool wait = true;                       // wait while another process holds the board
    std::function<void(long pid)> waiting;  // told once when it has to wait
    std::function<bool()> cancelled;        // polled while waiting
  };
  struct StateError {
    enum class Kind { kNone, kInvalid, kBusy, kFile } kind = Kind::kNone;
    std::string text;
  };
  // Holds the board for this process (a lock on FILE.lock, released by
  // CloseState), then reads and checks the whole file before anything takes
  // it: a missing file starts from the defaults; a file that fails is never
  // written. Symbolic links are followed. From then on every request that
  // changes the board writes the file (during an EEPROM load at most once a
  // second, and when the load ends).
  bool OpenState(const std::string& path, const StateOptions& options, StateError* error);
  // Writes what is not in the file yet and lets the board go.
  bool CloseState(std::string* error);
  // OpenState without waiting; for callers that only need the text.
  bool LoadState(const std::string& path, std::string* error);
  // Writes the file now (also without a change).
  bool SaveState(std::string* error);
  const std::string& StatePath() const { return state_path_; }

  // Loads a module dump file into the module. With a state file the dump
  // serves this run only and the file keeps its own module, unless `keep`.
  bool LoadModuleDumpFile(const std::string& path, bool keep, StateError* error);

  // The board as a state file holds it (see state_file.h), and back: a
  // restored board carries on from that state, without a file.
  BoardState SnapshotState() const;
  void RestoreState(const BoardState& state);

  // Drops what a real power cycle loses: the DSP takes its saved block, the
  // PRBS records and the mailbox clear, the clock selection returns to its
  // power-on value and the module powers up again from its power-on controls.
  void PowerCycle();
  uint8_t ClockSelection() const;

  // Called by connections.
  int HandleWrite(const uint8_t* data, size_t length);
  int HandleRead(uint8_t* data, size_t length, int timeout_ms);
  uint64_t Generation() const;

 private:
  std::optional<Report> Process(const Report& request);
  BoardState CurrentState() const;
  void ApplyState(const BoardState& state);
  uint64_t Fingerprint() const;
  // After a request (or another change): writes the state file when the
  // board changed. `coalesce` lets an EEPROM load's blocks wait a little.
  void Persist(bool coalesce);
  bool WriteState();

  struct Attached {
    std::string target;  // the file, symbolic links followed
    ProcessLock lock;
    bool exists = false;
    bool used = false;     // a request came in
    uint64_t written = 0;  // fingerprint of what the file holds
    bool pending = false;  // a change waits to be written
    std::chrono::steady_clock::time_point last_write{};
    std::string error;  // of the last write that failed
    // The module the file keeps while a dump visits for this run.
    std::optional<std::pair<ModuleDumpImage, ModuleModel::Retained>> home_module;
  };
  std::unique_ptr<Attached> attached_;
  uint8_t clock_ = kPowerOnClock;

  BoardIdentity identity_;
  std::vector<HidDeviceInfo> extra_devices_;
  mutable std::recursive_mutex mutex_;
  std::condition_variable_any answer_ready_;
  struct Pending {
    Report report;
    std::chrono::steady_clock::time_point due;
    // A late answer is held back until a read has given up on it, however
    // slowly the host got round to reading: late means after the timeout.
    bool late = false;
    bool missed = false;
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
