#include "signal/line_check.h"

#include <cstdio>

#include "board/protocol.h"
#include "signal/config_check.h"

namespace sigtest {

LineCheck::LineCheck() {
  for (int i = 0; i < kLanes; ++i) {
    CheckerRecord& c = checkers_[i];
    c[checker::kErrorThreshold] = 4;
    c[checker::kCycleThreshold] = 64;
    c[checker::kAuto] = 1;
    c[checker::kMsbPattern] = kPatternPrbs31;
    c[checker::kLsbPattern] = kPatternPrbs31;
    c[checker::kCombined] = 0;
    GeneratorRecord& g = generators_[i];
    g[generator::kMsbPattern] = kPatternPrbs31;
    g[generator::kLsbPattern] = kPatternPrbs31;
    g[generator::kCombined] = 1;
    c[checker::kDevice] = g[generator::kDevice] = DeviceOfLane(i + 1);
    c[checker::kLane] = g[generator::kLane] = static_cast<uint8_t>(i + 1);
  }
  SetGeneratorTail(generators_[0]);
}

void LineCheck::SetRun(uint8_t run, BoardSteps& steps) {
  for (auto& record : checkers_) {
    record[checker::kRun] = run;
    steps.push_back(SendRecord(board::kCheckerConfig, record));
  }
}

BoardSteps LineCheck::Start() {
  BoardSteps steps;
  SetRun(1, steps);
  running_ = true;
  return steps;
}

BoardSteps LineCheck::Stop() {
  BoardSteps steps;
  SetRun(0, steps);
  running_ = false;
  return steps;
}

BoardSteps LineCheck::StopIfRunning() { return running_ ? Stop() : BoardSteps{}; }

BoardSteps LineCheck::Relock() {
  BoardSteps steps;
  for (auto& record : checkers_) {
    record[checker::kRun] = 0;
    steps.push_back(SendRecord(board::kCheckerConfig, record));
    record[checker::kRun] = 1;
    steps.push_back(SendRecord(board::kCheckerConfig, record));
  }
  return steps;
}

BoardSteps LineCheck::SelectClock(int index) {
  return {BoardStep{board::kClockSelect, {static_cast<uint8_t>(index)}, 0}};
}

void LineCheck::Clear() {
  last_status_.fill(0);
  for (int i = 0; i < kLanes; ++i) {
    LaneState& s = lanes_[i];
    s.seconds = 0;
    s.errors = 0.0;
    s.bits = 1;  // one, not zero: a clean lane then reads 0.00e+00
    s.ber = 1.0;
    s.alarm = false;
    history_[i] = LockHistory{};
    const Lamp lamp = shown_[i].lamp;
    shown_[i] = Shown{};
    shown_[i].lamp = lamp;
  }
}

void LineCheck::ApplyTick(const TickSample& sample) {
  for (int i = 0; i < kLanes; ++i) {
    LaneState& s = lanes_[i];
    const LaneStatus& answer = sample[i];
    ++s.seconds;
    last_status_ = answer.bytes;  // zero for a failed exchange
    s.locked = answer.ok && answer.bytes[status::kLock] != 0;
    s.alarm = answer.ok && answer.bytes[status::kAlarm] != 0;
    deltas_[i] = TickDelta{s.locked, 0, 0};
    LockHistory& h = history_[i];
    if (!answer.ok) {
      // The board failed, not the lane: the page shows Unlock, but the lock
      // history is not the lane's to lose.
      ++h.failed_exchanges;
      Render(i + 1);
      continue;
    }
    if (s.locked) {
      deltas_[i].errors = StatusErrors(answer.bytes);
      deltas_[i].bits = StatusBits(answer.bytes);
      s.errors += static_cast<double>(deltas_[i].errors);
      s.bits += deltas_[i].bits;
      s.ber = s.bits == 0 ? 1.0 : s.errors / static_cast<double>(s.bits);
      s.pattern = answer.bytes[status::kPattern];
      if (h.was_locked) {
        h.steady_errors += deltas_[i].errors;
        h.steady_bits += static_cast<double>(deltas_[i].bits);
      } else {
        h.relock_errors += deltas_[i].errors;
        h.relock_bits += static_cast<double>(deltas_[i].bits);
        h.locked_at = s.seconds;
      }
      h.ever_locked = true;
      h.bit_rate = static_cast<double>(deltas_[i].bits) * 1000.0 / kTickMs;
    } else if (h.was_locked) {
      ++h.lock_losses;
    }
    h.was_locked = s.locked;
    Render(i + 1);
  }
}

LaneCount LineCheck::Count(int lane) const {
  const LockHistory& h = History(lane);
  LaneCount c;
  c.ever_locked = h.ever_locked;
  c.seconds = Lane(lane).seconds;
  c.lock_losses = h.lock_losses;
  c.failed_exchanges = h.failed_exchanges;
  c.errors = h.steady_errors;
  c.bits = h.steady_bits;
  c.bit_rate = h.was_locked ? h.bit_rate : 0.0;
  return c;
}

int64_t LineCheck::SecondsSinceLock(int lane) const {
  const LockHistory& h = History(lane);
  if (!h.was_locked) return -1;
  return static_cast<int64_t>(Lane(lane).seconds) - h.locked_at;
}

double LineCheck::ShownErrors(int lane) const {
  const LaneState& s = Lane(lane);
  return divide_by_ten_ ? s.errors / 10.0 : s.errors;
}

double LineCheck::ShownBer(int lane) const {
  const LaneState& s = Lane(lane);
  return divide_by_ten_ && s.bits != 0 ? s.ber / 10.0 : s.ber;
}

LineCheck::Tone LineCheck::TextTone(int lane) const {
  const LaneState& s = Lane(lane);
  return s.locked && !s.alarm ? Tone::kGreen : Tone::kRed;
}

void LineCheck::Render(int lane) {
  const LaneState& s = Lane(lane);
  Shown& out = shown_[lane - 1];
  out.time = TimeText(s.seconds);
  out.type = s.locked ? NameAt(kCheckerPatternNames, s.pattern) : "Unlock";
  out.ber = ValueText(ShownBer(lane));
  out.errors = ValueText(ShownErrors(lane));
  out.lamp = s.locked ? Lamp::kGreen : Lamp::kRed;
}

void LineCheck::SetDivideByTen() {
  divide_by_ten_ = true;
  // Re-render what is on screen with the scale; empty (cleared) fields stay empty.
  for (int lane = 1; lane <= kLanes; ++lane) {
    Shown& out = shown_[lane - 1];
    if (out.ber.empty()) continue;
    out.ber = ValueText(ShownBer(lane));
    out.errors = ValueText(ShownErrors(lane));
  }
}

void LineCheck::SpreadFirstLane() {
  for (int i = 1; i < kLanes; ++i) {
    checkers_[i] = checkers_[0];
    generators_[i] = generators_[0];
    checkers_[i][checker::kDevice] = generators_[i][generator::kDevice] = DeviceOfLane(i + 1);
    checkers_[i][checker::kLane] = generators_[i][generator::kLane] = static_cast<uint8_t>(i + 1);
  }
}

BoardSteps LineCheck::ApplyPattern(uint8_t index) {
  ConfigCheck dialog(checkers_[0], generators_, 1, static_cast<int8_t>(index));
  BoardSteps steps = dialog.RunAutomatic();
  SpreadFirstLane();
  return steps;
}

LineCheck::ModeOutcome LineCheck::HandleModeReport(const ModeReport& report) {
  ModeOutcome outcome;
  // Compared as a signed byte: the initial 0xFF never matches a report.
  if (static_cast<int8_t>(last_applied_) != static_cast<int>(report.pattern) || report.resend) {
    last_applied_ = report.pattern;
    outcome.apply = true;
    outcome.pattern = report.pattern;
  }
  outcome.text = ModeReportText(report);
  return outcome;
}

std::string LineCheck::TimeText(uint32_t seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u", seconds / 3600, seconds % 3600 / 60,
                seconds % 60);
  return text;
}

std::string LineCheck::ValueText(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%0.2e", value);
  return text;
}

}  // namespace sigtest
