#include "signal/lane_summary.h"

#include <cstdio>

#include "board/text_format.h"
#include "signal/line_check.h"

namespace sigtest {
namespace {

const char* const kDot = " \xC2\xB7 ";  // " · "

std::string Count(uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string Percent(double cl) { return Sprintf("%g %%", cl * 100.0); }

}  // namespace

LaneFacts FactsOf(const LineCheck& check, int lane) {
  LaneFacts f;
  const auto& state = check.Lane(lane);
  const auto& history = check.History(lane);
  f.seconds = state.seconds;
  f.locked = state.locked;
  f.count = check.Count(lane);
  f.relock_errors = history.relock_errors;
  f.relock_bits = history.relock_bits;
  f.seconds_since_lock = check.SecondsSinceLock(lane);
  return f;
}

std::string DurationText(double seconds) {
  if (seconds < 99.5) return Sprintf("%.0f s", seconds);
  if (seconds < 99.5 * 60) return Sprintf("%.0f min", seconds / 60);
  if (seconds < 9.95 * 3600) return Sprintf("%.1f h", seconds / 3600);
  return Sprintf("%.0f h", seconds / 3600);
}

std::string BerText(double ber) { return Sprintf("%.1e", ber); }

LaneSummary SummariseLane(const LaneFacts& facts, const VerdictRule& rule, bool with_lower) {
  LaneSummary s;
  const LaneCount& c = facts.count;
  s.verdict = JudgeLane(c, rule);
  s.bounded = c.bits > 0;
  if (s.bounded) {
    s.upper = BerUpperBound(c.errors, c.bits, rule.confidence);
    if (with_lower) s.lower = BerLowerBound(c.errors, c.bits, rule.confidence);
  }
  if (facts.seconds == 0) return s;  // nothing counted since Clear: an empty line
  switch (s.verdict.verdict) {
    case Verdict::kFail:
      s.line = c.errors > rule.allowed_errors ? "FAIL: " + Count(c.errors, "error", "errors")
                                              : "FAIL: " + s.verdict.reason;
      break;
    case Verdict::kPass:
      s.line = "PASS < " + BerText(s.upper);
      break;
    case Verdict::kRunning:
      if (!c.ever_locked) {
        s.line = "no lock";
      } else if (!s.bounded) {
        s.line = "just locked";  // its first second: acquisition, not counted
      } else {
        s.line = "< " + BerText(s.upper) + kDot + "RUNNING";
        if (s.verdict.seconds_left >= 0) s.line += " " + DurationText(s.verdict.seconds_left);
      }
      break;
  }
  return s;
}

std::string LaneDetails(const LaneFacts& facts, const VerdictRule& rule) {
  const LaneSummary s = SummariseLane(facts, rule, true);
  const LaneCount& c = facts.count;
  std::string out = "Verdict: ";
  out += VerdictName(s.verdict.verdict);
  if (s.verdict.verdict == Verdict::kFail) {
    out += ", " + s.verdict.reason;
  } else if (s.verdict.verdict == Verdict::kRunning) {
    if (s.verdict.seconds_left >= 0)
      out += ", " + DurationText(s.verdict.seconds_left) + " to go";
    else if (!s.verdict.reason.empty())
      out += ", " + s.verdict.reason;
  }
  out += "\nRule: BER " + BerText(rule.target) + " at " + Percent(rule.confidence) +
         " confidence, " + Count(rule.allowed_errors, "error", "errors") + " allowed, " +
         Sprintf("%.3g bits", s.verdict.bits_needed);
  out += "\nBER while locked: ";
  if (!s.bounded)
    out += "nothing counted";
  else if (c.errors == 0)
    out += "< " + BerText(s.upper);
  else
    out += "above " + BerText(s.lower) + ", below " + BerText(s.upper);
  if (s.bounded)
    out += (c.errors == 0 ? " at " : ", each one-sided at ") + Percent(rule.confidence);
  out +=
      "\nErrors while locked: " + std::to_string(c.errors) + " in " + Sprintf("%.3g bits", c.bits);
  out += "\nErrors around relocks: " + std::to_string(facts.relock_errors) + " in " +
         Sprintf("%.3g bits", facts.relock_bits);
  out += "\nLock losses: " + std::to_string(c.lock_losses);
  out += "\nSince last lock: ";
  out += facts.seconds_since_lock >= 0
             ? LineCheck::TimeText(static_cast<uint32_t>(facts.seconds_since_lock))
             : std::string("not locked");
  return out;
}

}  // namespace sigtest
