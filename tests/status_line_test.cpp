// The status line's composition rules.
#include "app/status_line.h"

#include <gtest/gtest.h>

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

// While a listed board cannot be used, the message part says why and the
// messages that follow from it (failed reads, mode reports) do not hide it.
TEST(StatusLine, ANoticeHoldsTheMessagePartUntilWithdrawn) {
  StatusLine line([] { return 1; });
  line.SetBoardState(board_state::kDeviceStatus);
  line.SetBoardState(board_state::kDisconnected);
  line.SetNotice("board held by PID 4711, waiting ...");
  EXPECT_EQ(line.Text(), "UsbHid Disconnected" + k56 + "board held by PID 4711, waiting ...");
  line.SetMessage("READ failed: no board is open");
  EXPECT_EQ(line.Text(), "UsbHid Disconnected" + k56 + "board held by PID 4711, waiting ...");
  line.SetNotice("");
  line.SetBoardState(board_state::kConnected);
  EXPECT_EQ(line.Text(), "UsbHid Connected" + k56);
  line.SetMessage("abc");
  EXPECT_EQ(line.Text(), "UsbHid Connected" + k56 + "abc");
}

TEST(StatusLine, WhatAnOpenAttemptShows) {
  BoardResult busy = BoardResult::Fail(BoardStatus::kBusy);
  busy.holder_pid = 4711;
  const struct {
    BoardResult result;
    const char* state;
    std::string notice;
    bool retry;
  } cases[] = {
      {BoardResult::Ok(), board_state::kConnected, "", false},
      {busy, board_state::kDisconnected, "board held by PID 4711, waiting ...", true},
      {BoardResult::Fail(BoardStatus::kBusy), board_state::kDisconnected,
       "board held by another process, waiting ...", true},
      // Not "UsbHid Connected" for a board that did not open.
      {BoardResult::Fail(BoardStatus::kOpenFailed), board_state::kDisconnected,
       "the board could not be opened", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(StatusText(c.result.status));
    const OpenOutcome outcome = AfterOpen(c.result);
    EXPECT_STREQ(outcome.state, c.state);
    EXPECT_EQ(outcome.notice, c.notice);
    EXPECT_EQ(outcome.retry, c.retry);
  }
}

}  // namespace
