// libFuzzer harness of the plan reader: any bytes as a qualification plan.
// It must return a plan or throw PlanError (with a place inside the text),
// nothing else, and a plan it returns must hold what validation promises.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "qualify/plan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  qualify::Plan plan;
  try {
    plan = qualify::ParsePlan(text, "fuzz.toml");
  } catch (const qualify::PlanError& e) {
    if (e.line < 1 || e.column < 0 || e.reason.empty()) std::abort();
    return 0;
  }
  if (plan.steps.empty() || plan.hash.size() != 64) std::abort();
  for (const auto& p : plan.profiles)
    for (const auto& [name, limit] : p.limits) {
      if (!limit.low && !limit.high) std::abort();
      if (limit.low && limit.high && *limit.low > *limit.high) std::abort();
    }
  for (const auto& s : plan.steps) {
    if (s.samples < 1 || s.max_seconds < 1 || !(s.target > 0 && s.target < 1)) std::abort();
    for (int lane : s.lanes)
      if (lane < 1 || lane > 8) std::abort();
  }
  (void)plan.ProfileFor(std::string(text.data(), std::min<size_t>(size, 16)));
  return 0;
}
