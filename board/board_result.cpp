#include "board/board_result.h"

#include <cstdio>

const char* StatusText(BoardStatus status) {
  switch (status) {
    case BoardStatus::kOk:
      return "ok";
    case BoardStatus::kTimeout:
      return "the board did not answer within 50 ms";
    case BoardStatus::kTransferError:
      return "the board link failed (unplugged?)";
    case BoardStatus::kHeaderFailed:
      return "the board's answer failed the header test";
    case BoardStatus::kNotOpen:
      return "no board is open";
    case BoardStatus::kOpenFailed:
      return "the board could not be opened";
    case BoardStatus::kBusy:
      return "the board is held by another process";
    case BoardStatus::kVerifyFailed:
      return "the bytes read back differ from those written";
    case BoardStatus::kRefused:
      return "refused: an argument is out of range";
  }
  return "?";
}

std::string BoardResult::Text() const {
  if (status == BoardStatus::kBusy)
    return holder_pid > 0 ? "board held by PID " + std::to_string(holder_pid)
                          : "board held by another process";
  std::string text = StatusText(status);
  if (report >= 0) {
    char where[64];
    std::snprintf(where, sizeof where, " (command 0x%02X, report %d of %d)", command, report + 1,
                  reports);
    text += where;
  }
  return text;
}
