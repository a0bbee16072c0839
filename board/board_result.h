// The outcome of one board call: ok, or which failure ended it and at which
// report. Every operation that talks to the board returns one, so a message
// for the user can say what happened ("the board did not answer within
// 50 ms (command 0x07, report 2 of 3)") instead of a bare false.
#pragma once

#include <cstdint>
#include <string>

enum class BoardStatus : uint8_t {
  kOk,
  kTimeout,        // no answer within the 50 ms transfer limit
  kTransferError,  // the report could not be moved whole: unplugged or I/O error
  kHeaderFailed,   // an answer that fails the header test (0x0A, 0x11, 0x14)
  kNotOpen,        // no board is open
  kOpenFailed,     // the device could not be opened (permission, gone)
  kBusy,           // another process holds the board
  kVerifyFailed,   // a verified write read back other bytes
  kRefused,        // refused before any traffic (an argument outside its range)
};

struct BoardResult {
  BoardStatus status = BoardStatus::kOk;
  uint8_t command = 0;  // board command code of the failed exchange
  int report = -1;      // index (from 0) of the failed report within its call, -1 if none
  int reports = 0;      // reports in that call
  long holder_pid = 0;  // kBusy: the process holding the board, 0 when unknown

  static BoardResult Ok() { return {}; }
  static BoardResult Fail(BoardStatus status, uint8_t command = 0, int report = -1,
                          int reports = 0) {
    return {status, command, report, reports, 0};
  }
  bool ok() const { return status == BoardStatus::kOk; }
  // Callers that only need yes or no may take the result as a boolean.
  operator bool() const { return ok(); }

  // Keeps the first failure: `a.Then(b)` is `a` when `a` failed, else `b`.
  BoardResult& Merge(const BoardResult& other) {
    if (ok()) *this = other;
    return *this;
  }

  // What happened, in words, for messages.
  std::string Text() const;
};

const char* StatusText(BoardStatus status);
