// The main window's status line: a board-state part in the first 25
// characters and a message part after 56 spaces.
#pragma once

#include <functional>
#include <string>

class StatusLine {
 public:
  static constexpr size_t kStatePart = 25;
  // `count_boards` enumerates the matching boards (FindDevices); the message
  // part is dropped while none is present.
  explicit StatusLine(std::function<int()> count_boards);

  void SetBoardState(const std::string& text);
  // The MSG_STATUS_TEXT handler.
  void SetMessage(const std::string& text);
  void ComposeStatus(const std::string& left, const std::string& right);
  const std::string& Text() const { return line_; }

 private:
  std::function<int()> count_boards_;
  std::string line_;
};

namespace board_state {
inline constexpr const char* kRegisterFailed = "Register device failed";
inline constexpr const char* kDeviceStatus = "UsbHid Device Status";
inline constexpr const char* kConnected = "UsbHid Connected";
inline constexpr const char* kDisconnected = "UsbHid Disconnected";
}  // namespace board_state
