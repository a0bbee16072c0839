#include "signal/ber_stats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace sigtest {
namespace {

// P(X <= k) for X Poisson with mean m: the regularised upper incomplete
// gamma function Q(k + 1, m).
double PoissonCdf(uint64_t k, double m) {
  if (m <= 0) return 1.0;
  const double a = static_cast<double>(k) + 1.0;
  const double log_front = a * std::log(m) - m - std::lgamma(a);
  if (m < a + 1.0) {
    // Series for P(a, m); Q = 1 - P.
    double term = 1.0 / a, sum = term;
    for (int n = 1; n < 100000; ++n) {
      term *= m / (a + n);
      sum += term;
      if (std::fabs(term) < std::fabs(sum) * 1e-16) break;
    }
    return std::clamp(1.0 - sum * std::exp(log_front), 0.0, 1.0);
  }
  // Continued fraction for Q(a, m) (modified Lentz).
  const double tiny = 1e-300;
  double b = m + 1.0 - a, c = 1.0 / tiny, d = 1.0 / b, h = d;
  for (int i = 1; i < 100000; ++i) {
    const double an = -i * (i - a);
    b += 2.0;
    d = an * d + b;
    if (std::fabs(d) < tiny) d = tiny;
    c = b + an / c;
    if (std::fabs(c) < tiny) c = tiny;
    d = 1.0 / d;
    const double delta = d * c;
    h *= delta;
    if (std::fabs(delta - 1.0) < 1e-16) break;
  }
  return std::clamp(std::exp(log_front) * h, 0.0, 1.0);
}

// The standard normal quantile: z with P(Z <= z) = p.
double NormalQuantile(double p) {
  double lo = -40.0, hi = 40.0;
  for (int i = 0; i < 200 && hi - lo > 1e-15; ++i) {
    const double mid = 0.5 * (lo + hi);
    (0.5 * std::erfc(-mid / std::sqrt(2.0)) < p ? lo : hi) = mid;
  }
  return 0.5 * (lo + hi);
}

// Above this many errors the Wilson-Hilferty form of the Poisson bounds is
// within 1e-8 of the exact ones, and the exact search gets slow (milliseconds
// at 1e7 errors: a lane at 1e-6 counts that in minutes).
constexpr uint64_t kLargeCount = 10000;

// The mean m at which `f(m)` (falling in m) equals `goal`, by bisection.
template <typename F>
double SolveFalling(F f, double goal, double lo, double hi) {
  while (f(hi) > goal) hi *= 2.0;
  for (int i = 0; i < 200 && hi - lo > 1e-12 * hi; ++i) {
    const double mid = 0.5 * (lo + hi);
    (f(mid) > goal ? lo : hi) = mid;
  }
  return 0.5 * (lo + hi);
}

}  // namespace

double PoissonUpperMean(uint64_t k, double cl) {
  if (k == 0) return -std::log1p(-cl);
  const double kd = static_cast<double>(k);
  if (k >= kLargeCount) {
    const double a = kd + 1.0;
    return a * std::pow(1.0 - 1.0 / (9.0 * a) + NormalQuantile(cl) / (3.0 * std::sqrt(a)), 3);
  }
  return SolveFalling([k](double m) { return PoissonCdf(k, m); }, 1.0 - cl, 0.0,
                      kd + 10.0 * std::sqrt(kd) + 10.0);
}

double PoissonLowerMean(uint64_t k, double cl) {
  if (k == 0) return 0.0;
  // P(X >= k) = 1 - P(X <= k - 1) rises with m; solve P(X <= k - 1) = cl.
  const double kd = static_cast<double>(k);
  if (k >= kLargeCount)
    return kd * std::pow(1.0 - 1.0 / (9.0 * kd) - NormalQuantile(cl) / (3.0 * std::sqrt(kd)), 3);
  return SolveFalling([k](double m) { return PoissonCdf(k - 1, m); }, cl, 0.0,
                      kd + 10.0 * std::sqrt(kd) + 10.0);
}

double BerUpperBound(uint64_t errors, double bits, double cl) {
  if (bits <= 0) return 1.0;
  return std::min(1.0, PoissonUpperMean(errors, cl) / bits);
}

double BerLowerBound(uint64_t errors, double bits, double cl) {
  if (bits <= 0) return 0.0;
  return std::min(1.0, PoissonLowerMean(errors, cl) / bits);
}

double BitsForVerdict(double target, double cl, uint64_t allowed) {
  return PoissonUpperMean(allowed, cl) / target;
}

const char* VerdictName(Verdict v) {
  switch (v) {
    case Verdict::kRunning:
      return "RUNNING";
    case Verdict::kPass:
      return "PASS";
    case Verdict::kFail:
      return "FAIL";
  }
  return "?";
}

LaneVerdict JudgeLane(const LaneCount& c, const VerdictRule& rule) {
  LaneVerdict v;
  v.bits_needed = BitsForVerdict(rule.target, rule.confidence, rule.allowed_errors);
  char text[160];
  if (c.errors > rule.allowed_errors) {
    v.verdict = Verdict::kFail;
    std::snprintf(text, sizeof text, "%llu errors, more than the %llu allowed",
                  static_cast<unsigned long long>(c.errors),
                  static_cast<unsigned long long>(rule.allowed_errors));
    v.reason = text;
    return v;
  }
  if (c.lock_losses > 0) {
    v.verdict = Verdict::kFail;
    std::snprintf(text, sizeof text, "lost lock %u time%s", c.lock_losses,
                  c.lock_losses == 1 ? "" : "s");
    v.reason = text;
    return v;
  }
  if (c.failed_exchanges > 0) {
    // Seconds the board did not report: nothing can be claimed for them.
    std::snprintf(text, sizeof text, "the board lost %u status answer%s: no verdict",
                  c.failed_exchanges, c.failed_exchanges == 1 ? "" : "s");
    v.reason = text;
    return v;
  }
  if (!c.ever_locked) {
    if (c.seconds >= rule.lock_timeout_s) {
      v.verdict = Verdict::kFail;
      std::snprintf(text, sizeof text, "no lock within %u s", rule.lock_timeout_s);
      v.reason = text;
    } else {
      v.reason = "waiting for lock";
    }
    return v;
  }
  if (c.bits >= v.bits_needed) {
    v.verdict = Verdict::kPass;
    v.seconds_left = 0;
    return v;
  }
  if (c.bit_rate > 0) v.seconds_left = (v.bits_needed - c.bits) / c.bit_rate;
  v.reason = "counting";
  return v;
}

}  // namespace sigtest
