// The status line's composition rules.
#include <gtest/gtest.h>

#include "app/status_line.h"

namespace {

const std::string k56(56, ' ');

TEST(StatusLine, ComposesStateAndMessage) {
  int boards = 1;
  StatusLine line([&] { return boards; });
  line.SetBoardState(board_state::kDeviceStatus);
  EXPECT_EQ(line.Text(), "UsbHid Device Status");
  line.SetBoardState(board_state::kConnected);
  EXPECT_EQ(line.Text(), "UsbHid Connected");
  line.SetMessage("abc");
  EXPECT_EQ(line.Text(), "UsbHid Connected" + k56 + "abc");
  // A later board-state change keeps the message part.
  line.SetBoardState(board_state::kDisconnected);
  EXPECT_EQ(line.Text(), "UsbHid Disconnected" + k56 + "abc");
  // With no matching board enumerated the message part is dropped.
  boards = 0;
  line.SetMessage("PAM4            25.78125 GBd");
  EXPECT_EQ(line.Text(), "UsbHid Disconnected" + k56);
  boards = 1;
  line.SetMessage("");
  EXPECT_EQ(line.Text(), "UsbHid Disconnected" + k56);
}

}  // namespace
