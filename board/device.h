// The board object: turns every board operation into request reports, the
// 20 ms command pause, and answer reports.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "board/fair_mutex.h"
#include "board/hid.h"

// Sleeps for the given milliseconds. Production uses the real clock; tests
// of long exchanges may substitute a faster one.
using PauseFn = std::function<void(int ms)>;

class CDevice {
 public:
  static constexpr int kCommandDelayMs = 20;

  explicit CDevice(std::shared_ptr<HidBackend> backend);
  ~CDevice();
  CDevice(const CDevice&) = delete;
  CDevice& operator=(const CDevice&) = delete;

  bool OpenBoard(int index);
  void CloseBoard();
  // 0 no board open, 1 the path is the open board's (ignoring case), 2 otherwise.
  int CheckBoardPath(const std::string& path) const;
  std::string OpenPath() const;

  bool ReadModule(uint8_t channel, uint8_t device, uint8_t page, uint8_t reg, uint8_t* buffer,
                  uint8_t length);
  bool WriteModule(uint8_t channel, uint8_t device, uint8_t page, uint8_t reg,
                   const uint8_t* data, uint8_t length);
  bool SendCommand(uint8_t code, uint8_t value, uint16_t address, uint8_t* buffer,
                   uint8_t length);
  bool WriteMailbox(uint8_t address, const uint8_t* data, uint8_t length);
  bool ReadMailbox(uint8_t address, uint8_t* buffer, uint8_t length);

  CHid& Hid() { return hid_; }
  int FindDevices() { return hid_.FindDevices(); }

  // False when an answer of the calling thread's last SendCommand failed the
  // header test (the call still returns true and copies nothing for it).
  static bool LastAnswersPassedHeaderTest();

  // Why the calling thread's last failed call failed, in words.
  std::string LastError() const;

  void SetPause(PauseFn pause);
  void Pause(int ms) const;

 private:
  bool Write(const uint8_t* report);
  bool Read(uint8_t* report);

  int command_delay_ = kCommandDelayMs;
  CHid hid_;
  mutable std::mutex path_mutex_;
  std::string open_path_;
  // One call's request and answer reports stay together against other
  // threads, and callers are served in the order they came.
  FairMutex call_mutex_;
  PauseFn pause_;
};
