// What a BER test can claim: one-sided confidence bounds on a lane's bit
// error ratio from its counted errors and bits, and the fixed-length verdict
// rule of BER testers. Bits are many and errors rare, so the count of errors
// is Poisson: the exact Poisson bounds stand in for the binomial ones
// (Clopper-Pearson), from which they differ by less than the ratio itself.
//
// The verdict keeps its confidence because its length is fixed in advance:
// with a target BER, a confidence CL and an allowed error count k, a lane
// must count N bits, where N is the length at which at most k errors would
// happen with probability 1 - CL if the lane's true BER were the target. It
// PASSES with at most k errors in N bits and FAILS as soon as it has more
// than k. Stopping when a running bound first crosses the target would pass
// a lane at the target far more often than 1 - CL.
#pragma once

#include <cstdint>
#include <string>

namespace sigtest {

// Poisson means: the largest mean with P(X <= k) >= 1 - cl (upper), and the
// smallest with P(X >= k) >= 1 - cl (lower; 0 for k = 0). For k = 0 the
// upper mean is -ln(1 - cl), about 3 at 95 %.
double PoissonUpperMean(uint64_t k, double cl);
double PoissonLowerMean(uint64_t k, double cl);

// Bounds on the BER after `errors` in `bits`, one-sided at `cl`; the upper
// bound is 1 while no bit was counted.
double BerUpperBound(uint64_t errors, double bits, double cl);
double BerLowerBound(uint64_t errors, double bits, double cl);

// Bits a lane must count to claim `target` at `cl` with `allowed` errors.
double BitsForVerdict(double target, double cl, uint64_t allowed);

struct VerdictRule {
  double target = 1e-12;
  double confidence = 0.95;
  uint64_t allowed_errors = 0;
  uint32_t lock_timeout_s = 10;  // a lane not locked by then cannot pass
};

enum class Verdict { kRunning, kPass, kFail };
const char* VerdictName(Verdict v);  // "RUNNING", "PASS", "FAIL"

// What a lane counted, as the verdict needs it.
struct LaneCount {
  bool ever_locked = false;
  uint32_t seconds = 0;           // since the test started
  uint32_t lock_losses = 0;       // locked, then not
  uint64_t errors = 0;            // while steadily locked
  double bits = 0;                // while steadily locked
  double bit_rate = 0;            // bits per second of the last locked second, 0 if none
  uint32_t failed_exchanges = 0;  // status answers the board lost: no verdict then
};

struct LaneVerdict {
  Verdict verdict = Verdict::kRunning;
  std::string reason;        // why it failed, or what it waits for
  double bits_needed = 0;    // N
  double seconds_left = -1;  // at the lane's bit rate; -1 when not known
};

LaneVerdict JudgeLane(const LaneCount& count, const VerdictRule& rule);

}  // namespace sigtest
