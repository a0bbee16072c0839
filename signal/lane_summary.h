// What a lane can honestly claim, in one compact line per channel group and
// a tooltip: the verdict of the rule, the upper bound on the BER while it
// was locked, or why there is none. A lane that is not locked is never shown
// with a BER. All figures are true counts: the page's divide-by-ten scale
// applies to its fields only.
#pragma once

#include <cstdint>
#include <string>

#include "signal/ber_stats.h"

namespace sigtest {

class LineCheck;

// What the line check knows of one lane.
struct LaneFacts {
  uint32_t seconds = 0;        // ticks since Clear; 0: nothing to claim yet
  bool locked = false;         // at the last tick
  LaneCount count;             // steady counts, as the verdict takes them
  uint64_t relock_errors = 0;  // in the first second after each (re)lock
  double relock_bits = 0;
  int64_t seconds_since_lock = -1;  // -1 while not locked
};
LaneFacts FactsOf(const LineCheck& check, int lane);

struct LaneSummary {
  LaneVerdict verdict;
  // Whether the lane counted steady bits; then the bounds on its BER while
  // locked, one-sided at the rule's confidence.
  bool bounded = false;
  double upper = 1.0, lower = 0.0;
  std::string line;  // "< 3.2e-11 · RUNNING 41 s", "PASS < 1.0e-12", "no lock" ...
};
// `with_lower` also computes the lower bound (the tooltip wants it, the line
// does not).
LaneSummary SummariseLane(const LaneFacts& facts, const VerdictRule& rule, bool with_lower = false);

// The multi-line tooltip of a channel group: verdict, bounds at the
// confidence, errors while locked and around relocks, lock losses and the
// time since the last lock.
std::string LaneDetails(const LaneFacts& facts, const VerdictRule& rule);

// "41 s", "12 min", "3.5 h", "52 h".
std::string DurationText(double seconds);
// A BER with two significant digits: "3.2e-11".
std::string BerText(double ber);

}  // namespace sigtest
