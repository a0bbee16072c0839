// Small helpers shared by the benchmarks: timing and the protocol floor.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Stats {
  double p50, p99, max, mean;
};

inline Stats Summarise(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  double sum = 0;
  for (double x : v) sum += x;
  auto at = [&](double q) { return v[std::min(v.size() - 1, static_cast<size_t>(q * v.size()))]; };
  return {at(0.5), at(0.99), v.back(), sum / v.size()};
}

// Prints "name: host X ms over a floor of Y ms (+Z %)".
inline void ReportOverFloor(const char* name, double host_ms, double floor_ms, double goal_pct) {
  const double over = (host_ms - floor_ms) / floor_ms * 100.0;
  std::printf("%-44s %9.2f ms  floor %9.2f ms  %+6.2f %%  (goal within %.0f %%) %s\n", name,
              host_ms, floor_ms, over, goal_pct, over <= goal_pct ? "ok" : "MISSED");
}

}  // namespace bench
