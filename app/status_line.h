// The main window's status line: a board-state part in the first 25
// characters and a message part after 56 spaces.
#pragma once

#include <functional>
#include <string>

#include "board/board_result.h"

class StatusLine {
 public:
  static constexpr size_t kStatePart = 25;
  // `count_boards` gives the number of matching boards last enumerated (it
  // must not enumerate itself: the status line is composed on the
  // user-interface thread); the message part is dropped while none is present.
  explicit StatusLine(std::function<int()> count_boards);

  void SetBoardState(const std::string& text);
  // What a view's status text (GuiSignals::StatusText) does.
  void SetMessage(const std::string& text);
  void ComposeStatus(const std::string& left, const std::string& right);
  // Why a listed board cannot be used ("board held by PID 4711, waiting
  // ..."). While a notice stands it is the message part, and other messages
  // are dropped: they are the consequences of the board not being open. An
  // empty text withdraws the notice and clears the message part.
  void SetNotice(const std::string& text);
  const std::string& Notice() const { return notice_; }
  const std::string& Text() const { return line_; }

 private:
  std::function<int()> count_boards_;
  std::string line_;
  std::string notice_;
};

namespace board_state {
inline constexpr const char* kRegisterFailed = "Register device failed";
inline constexpr const char* kDeviceStatus = "UsbHid Device Status";
inline constexpr const char* kConnected = "UsbHid Connected";
inline constexpr const char* kDisconnected = "UsbHid Disconnected";
}  // namespace board_state

// What the status line shows after an attempt to open a listed board: the
// board state, the notice, and whether to keep trying. A board held by
// another process is tried again until it is free; a board that could not be
// opened otherwise is not (it needs unplugging and plugging in again).
struct OpenOutcome {
  const char* state;
  std::string notice;
  bool retry = false;
};
OpenOutcome AfterOpen(const BoardResult& result);
