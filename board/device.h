// The board object: turns every board operation into request reports, the
// 20 ms command pause, and answer reports. Every operation returns a
// BoardResult saying whether each of its reports went through and, if not,
// which one failed and how.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "board/board_result.h"
#include "board/hid.h"
#include "board/process_lock.h"

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

  // Opens the listed device at `index`. A board that another process holds
  // is not opened: the result is kBusy with the holder's PID where known.
  BoardResult OpenBoard(int index);
  void CloseBoard();
  // 0 no board open, 1 the path is the open board's (ignoring case), 2 otherwise.
  int CheckBoardPath(const std::string& path) const;
  std::string OpenPath() const;

  BoardResult ReadModule(uint8_t channel, uint8_t device, uint8_t page, uint8_t reg,
                         uint8_t* buffer, uint8_t length);
  BoardResult WriteModule(uint8_t channel, uint8_t device, uint8_t page, uint8_t reg,
                          const uint8_t* data, uint8_t length);
  // Every other command. An answer that fails the header test (0x0A, 0x11,
  // 0x14) fails the command with kHeaderFailed; nothing is copied for it.
  BoardResult SendCommand(uint8_t code, uint8_t value, uint16_t address, uint8_t* buffer,
                          uint8_t length);
  BoardResult WriteMailbox(uint8_t address, const uint8_t* data, uint8_t length);
  BoardResult ReadMailbox(uint8_t address, uint8_t* buffer, uint8_t length);

  CHid& Hid() { return hid_; }
  int FindDevices() { return hid_.FindDevices(); }

  void SetPause(PauseFn pause);
  void Pause(int ms) const;

 private:
  // Writes `request` (report `index` of `count`), pauses, and when `answer`
  // is given reads it, testing its header when `header_test` is set.
  BoardResult Exchange(uint8_t* request, uint8_t* answer, bool header_test, int index, int count);
  // The chunked commands: `fill(request, i, offset, n)` builds report i,
  // `take(answer, offset, n)` (when given) stores its answer.
  BoardResult Chunked(uint8_t code, int length, bool header_test,
                      const std::function<void(uint8_t*, int, int, int)>& fill,
                      const std::function<void(const uint8_t*, int, int)>& take);

  int command_delay_ = kCommandDelayMs;
  CHid hid_;
  mutable std::mutex path_mutex_;
  std::string open_path_;
  ProcessLock board_lock_;
  // One call's request and answer reports stay together. The board's users
  // take turns on one thread (the board worker, or the command-line tool's
  // own), so the lock only keeps a call whole; it does not share out turns.
  std::mutex call_mutex_;
  PauseFn pause_;
};
