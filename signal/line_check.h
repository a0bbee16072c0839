// The line check engine: the eight lanes' checker and generator records,
// the per-lane counters and BER, and what each channel shows. Plain C++;
// the "Checker" page and `lanewright-cli ber` are views over it. It does no
// board I/O itself: operations return the board steps to run, and a tick
// takes the status answers read by ReadTick (board_steps.h).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "signal/ber_stats.h"
#include "signal/board_steps.h"
#include "signal/mode_report.h"
#include "signal/records.h"

namespace sigtest {

class LineCheck {
 public:
  static constexpr int kTickMs = 1000;

  enum class Lamp { kNone, kGreen, kRed };
  enum class Tone { kGreen, kRed };  // text colour of Type, BER and Errors

  struct LaneState {
    uint32_t seconds = 0;
    double errors = 0.0;  // true accumulated count, never scaled
    uint64_t bits = 0;
    double ber = 1.0;  // errors / bits, 1.0 while no bit was counted
    bool locked = true;
    bool alarm = false;
    uint8_t pattern = 0;  // received pattern index of the last locked answer
  };
  // A lane's lock history since Clear: errors and bits of the seconds in
  // which it stayed locked are kept apart from those of the first second
  // after it (re)locked, when a checker may count the acquisition itself.
  struct LockHistory {
    bool ever_locked = false;
    bool was_locked = false;  // at the previous tick
    uint32_t lock_losses = 0;
    uint32_t failed_exchanges = 0;  // the board lost the status answer
    uint32_t locked_at = 0;         // tick count when it last locked
    uint64_t steady_errors = 0;
    double steady_bits = 0;
    uint64_t relock_errors = 0;
    double relock_bits = 0;
    double bit_rate = 0;  // bits per second of the last locked tick
  };
  // What a channel group shows; empty texts before the first tick and after Clear.
  struct Shown {
    std::string type, ber, errors, time;
    Lamp lamp = Lamp::kNone;
  };
  // Per-second increments of one lane, for logs (the CLI's CSV).
  struct TickDelta {
    bool locked = false;
    uint32_t errors = 0;
    uint64_t bits = 0;
  };

  LineCheck();

  // Records, lane order (index 0 = DSP lane 1). Device and lane bytes are
  // filled at construction, so the first Start already addresses the lanes.
  std::array<CheckerRecord, kLanes>& Checkers() { return checkers_; }
  std::array<GeneratorRecord, kLanes>& Generators() { return generators_; }
  const std::array<CheckerRecord, kLanes>& Checkers() const { return checkers_; }
  const std::array<GeneratorRecord, kLanes>& Generators() const { return generators_; }

  bool Running() const { return running_; }
  const char* StartCaption() const { return running_ ? "Stop" : "Start"; }
  BoardSteps Start();          // run = 1 for lanes 1-8; running
  BoardSteps Stop();           // run = 0 for lanes 1-8; idle
  BoardSteps StopIfRunning();  // Stop when running, else nothing
  BoardSteps Relock();         // run 0 then 1 for each lane; running state untouched
  void Clear();
  static BoardSteps SelectClock(int index);

  // One tick: elapsed seconds advance for every lane, locked lanes accumulate.
  void ApplyTick(const TickSample& sample);
  const std::array<TickDelta, kLanes>& LastDeltas() const { return deltas_; }

  // Copies lane 1's records over lanes 2-8 with their own device and lane.
  void SpreadFirstLane();
  // The automatic configuration with `index` (< 128): eight generator stops,
  // 500 ms, eight starts, the checker store, then the spread.
  BoardSteps ApplyPattern(uint8_t index);
  static bool AppliesAutomatically(uint8_t index) { return index < 128; }

  // Mode report (from the DSP page): whether to run ApplyPattern with
  // `pattern` (the page does: it may need the manual dialog), and the
  // status-line text. Stores the reported index as the last applied one.
  struct ModeOutcome {
    bool apply = false;
    uint8_t pattern = 0;
    std::string text;
  };
  ModeOutcome HandleModeReport(const ModeReport& report);
  uint8_t LastAppliedPattern() const { return last_applied_; }

  // The scale behind the title-bar double-click: while set, shown errors and
  // BER are the true ones divided by ten. The true counts are not touched.
  void SetDivideByTen();
  bool DivideByTen() const { return divide_by_ten_; }

  const LaneState& Lane(int lane) const { return lanes_[lane - 1]; }
  const LockHistory& History(int lane) const { return history_[lane - 1]; }
  // What the verdict rule needs of a lane.
  LaneCount Count(int lane) const;
  // Seconds since the lane last locked, -1 while it is not locked.
  int64_t SecondsSinceLock(int lane) const;
  const Shown& ShownLane(int lane) const { return shown_[lane - 1]; }
  Tone TextTone(int lane) const;
  double ShownErrors(int lane) const;
  double ShownBer(int lane) const;
  const StatusRecord& LastStatus() const { return last_status_; }

  static std::string TimeText(uint32_t seconds);  // "%02d:%02d:%02d", hours unbounded
  static std::string ValueText(double value);     // "%0.2e"

 private:
  void SetRun(uint8_t run, BoardSteps& steps);
  void Render(int lane);

  std::array<CheckerRecord, kLanes> checkers_{};
  std::array<GeneratorRecord, kLanes> generators_{};
  std::array<LaneState, kLanes> lanes_{};
  std::array<LockHistory, kLanes> history_{};
  std::array<Shown, kLanes> shown_{};
  std::array<TickDelta, kLanes> deltas_{};
  StatusRecord last_status_{};
  bool running_ = false;
  bool divide_by_ten_ = false;
  uint8_t last_applied_ = 0xFF;
};

}  // namespace sigtest
