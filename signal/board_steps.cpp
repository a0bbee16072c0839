#include "signal/board_steps.h"

#include <algorithm>

#include "board/device.h"
#include "board/protocol.h"

namespace sigtest {

BoardResult RunSteps(CDevice& device, const BoardSteps& steps) {
  BoardResult all;
  for (const auto& step : steps) {
    if (!step.payload.empty()) {
      auto payload = step.payload;
      all.Merge(device.SendCommand(step.code, 0, 0, payload.data(),
                                   static_cast<uint8_t>(payload.size())));
    }
    device.Pause(step.pause_ms);
  }
  return all;
}

LaneStatus ReadLaneStatus(CDevice& device, int lane) {
  LaneStatus result;
  result.bytes.fill(0);
  result.bytes[0] = DeviceOfLane(lane);
  result.bytes[1] = static_cast<uint8_t>(lane);
  // An answer that fails the header test copies nothing: the buffer would
  // still hold the request and read as "locked". It counts as a failed
  // exchange for the lane.
  result.result = device.SendCommand(board::kCheckerStatus, 0, 0, result.bytes.data(),
                                     static_cast<uint8_t>(result.bytes.size()));
  result.ok = result.result.ok();
  if (!result.ok) result.bytes.fill(0);
  return result;
}

TickSample ReadTick(CDevice& device) {
  TickSample sample;
  for (int lane = 1; lane <= kLanes; ++lane) sample[lane - 1] = ReadLaneStatus(device, lane);
  return sample;
}

int FailedExchanges(const TickSample& sample, std::string* last) {
  int failed = 0;
  for (const LaneStatus& lane : sample)
    if (!lane.ok) {
      ++failed;
      *last = lane.result.Text();
    }
  return failed;
}

}  // namespace sigtest
