// Board work of the signal test as data: the engines say what to send, and
// whoever owns the board thread (the GUI's board worker, the CLI's loop)
// runs it. Tests compare the reports the emulated board received.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "board/board_result.h"
#include "signal/records.h"
#include "signal/tables.h"

class CDevice;

namespace sigtest {

// One payload-only command (0, 18, 19), then a pause. An empty payload is a
// pause alone.
struct BoardStep {
  uint8_t code = 0;
  std::vector<uint8_t> payload;
  int pause_ms = 0;
};
using BoardSteps = std::vector<BoardStep>;

template <size_t N>
BoardStep SendRecord(uint8_t code, const std::array<uint8_t, N>& record, int pause_ms = 0) {
  return {code, std::vector<uint8_t>(record.begin(), record.end()), pause_ms};
}
inline BoardStep PauseStep(int ms) { return {0, {}, ms}; }

// Sends every step in order, all of them even after a failure (a stop or a
// start must reach every lane it can); the result is the first failure.
BoardResult RunSteps(CDevice& device, const BoardSteps& steps);

// One lane's answer to command 20.
struct LaneStatus {
  // False when the exchange failed or the answer failed the header test:
  // the lane then counts as not locked and nothing accumulates.
  bool ok = false;
  BoardResult result;
  StatusRecord bytes{};
};
using TickSample = std::array<LaneStatus, kLanes>;

LaneStatus ReadLaneStatus(CDevice& device, int lane);
// The eight status exchanges of one tick, lanes 1 to 8 in order.
TickSample ReadTick(CDevice& device);
// How many of a tick's exchanges failed; the last failure's text goes to
// `last` (left alone when none failed).
int FailedExchanges(const TickSample& sample, std::string* last);

}  // namespace sigtest
