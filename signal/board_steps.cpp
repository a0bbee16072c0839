#include "signal/board_steps.h"

#include <algorithm>

#include "board/device.h"
#include "board/protocol.h"

namespace sigtest {

bool RunSteps(CDevice& device, const BoardSteps& steps) {
  bool all = true;
  for (const auto& step : steps) {
    if (!step.payload.empty()) {
      auto payload = step.payload;
      all &= device.SendCommand(step.code, 0, 0, payload.data(),
                                static_cast<uint8_t>(payload.size()));
    }
    device.Pause(step.pause_ms);
  }
  return all;
}

LaneStatus ReadLaneStatus(CDevice& device, int lane) {
  // Only bytes 0 and 1 travel in the request. The rest of the buffer is
  // filled with a marker: an answer that fails the header test is not copied,
  // so a buffer still holding the marker tells a rejected answer from a real
  // one (which would otherwise read as "locked" from the lane byte).
  constexpr uint8_t kUnanswered = 0xFF;
  StatusRecord request;
  request.fill(kUnanswered);
  request[0] = DeviceOfLane(lane);
  request[1] = static_cast<uint8_t>(lane);
  LaneStatus result;
  result.bytes = request;
  const bool sent = device.SendCommand(board::kCheckerStatus, 0, 0, result.bytes.data(),
                                       static_cast<uint8_t>(result.bytes.size()));
  result.ok = sent && result.bytes != request;
  if (!result.ok) result.bytes.fill(0);
  return result;
}

TickSample ReadTick(CDevice& device) {
  TickSample sample;
  for (int lane = 1; lane <= kLanes; ++lane) sample[lane - 1] = ReadLaneStatus(device, lane);
  return sample;
}

}  // namespace sigtest
