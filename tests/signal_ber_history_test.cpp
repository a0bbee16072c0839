// What a lane can claim: the compact line of each channel group and its
// tooltip.
#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <optional>
#include <sstream>

#include "signal/lane_summary.h"
#include "signal/line_check.h"

namespace {

using namespace sigtest;
using ::testing::HasSubstr;

LaneFacts Facts(uint32_t seconds, bool locked, LaneCount count) {
  LaneFacts f;
  f.seconds = seconds;
  f.locked = locked;
  f.count = count;
  return f;
}

TEST(LaneSummaryLine, SaysWhatTheLaneCanClaim) {
  VerdictRule rule;  // 1e-12 at 95 %, no error allowed
  VerdictRule two = rule;
  two.allowed_errors = 2;
  const double n = BitsForVerdict(1e-12, 0.95, 0);
  const double n2 = BitsForVerdict(1e-12, 0.95, 2);
  const struct {
    const char* what;
    LaneFacts facts;
    const VerdictRule& rule;
    const char* line;
  } cases[] = {
      {"before the first tick", Facts(0, true, {}), rule, ""},
      {"never locked", Facts(3, false, {false, 3, 0, 0, 0, 0}), rule, "no lock"},
      {"no lock by the timeout", Facts(10, false, {false, 10, 0, 0, 0, 0}), rule, "FAIL: no lock within 10 s"},
      {"first second of lock", Facts(2, true, {true, 2, 0, 0, 0, 5e10}), rule, "just locked"},
      {"counting", Facts(31, true, {true, 31, 0, 0, n / 2, 5e10}), rule, "< 2.0e-12 \xC2\xB7 RUNNING 30 s"},
      {"hours to go", Facts(100, true, {true, 100, 0, 0, 1e12, 1e8}), rule, "< 3.0e-12 \xC2\xB7 RUNNING 5.5 h"},
      {"errors within the allowed", Facts(80, true, {true, 80, 0, 1, n2 / 2, 5e10}), two,
       "< 1.5e-12 \xC2\xB7 RUNNING 63 s"},
      {"passed", Facts(60, true, {true, 60, 0, 0, n, 5e10}), rule, "PASS < 1.0e-12"},
      {"errors", Facts(5, true, {true, 5, 0, 113, 1e10, 5e10}), rule, "FAIL: 113 errors"},
      {"one error, now unlocked", Facts(5, false, {true, 5, 0, 1, 1e10, 0}), rule, "FAIL: 1 error"},
      {"lost lock, locked again", Facts(60, true, {true, 60, 1, 0, n * 2, 5e10}), rule, "FAIL: lost lock 1 time"},
      {"lost lock, still out", Facts(60, false, {true, 60, 2, 0, n / 3, 0}), rule, "FAIL: lost lock 2 times"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(SummariseLane(c.facts, c.rule).line, c.line);
  }
}

StatusRecord Locked(uint32_t errors, uint64_t bits) {
  StatusRecord r{};
  r[1] = 1;
  std::memcpy(r.data() + 7, &errors, 4);
  std::memcpy(r.data() + 15, &bits, 8);
  return r;
}

// Lane 1 as given (nullopt: not locked); the other lanes clean, 1e9 bits a second.
void Tick(LineCheck& check, std::optional<std::pair<uint32_t, uint64_t>> lane1) {
  TickSample s{};
  for (auto& lane : s) lane = {true, BoardResult::Ok(), Locked(0, 1000000000)};
  s[0] = {true, BoardResult::Ok(), lane1 ? Locked(lane1->first, lane1->second) : StatusRecord{}};
  s[3] = {true, BoardResult::Ok(), StatusRecord{}};  // lane 4 never locks
  check.ApplyTick(s);
}

TEST(LaneSummaryDetails, TooltipKeepsRelockErrorsApartAndGivesTheBounds) {
  LineCheck check;
  Tick(check, {{5, 1000000000}});  // acquisition
  Tick(check, {{0, 1000000000}});
  Tick(check, {{1, 1000000000}});
  Tick(check, std::nullopt);       // lock lost
  Tick(check, {{7, 1000000000}});  // relocked
  Tick(check, {{0, 1000000000}});
  const VerdictRule rule;
  EXPECT_EQ(SummariseLane(FactsOf(check, 1), rule).line, "FAIL: 1 error");
  const std::string details = LaneDetails(FactsOf(check, 1), rule);
  EXPECT_THAT(details, HasSubstr("Verdict: FAIL"));
  EXPECT_THAT(details, HasSubstr("BER while locked: 1.7e-11 to 1.6e-09 at 95 %"));
  EXPECT_THAT(details, HasSubstr("Errors while locked: 1 in 3e+09 bits"));
  EXPECT_THAT(details, HasSubstr("Errors around relocks: 12 in 2e+09 bits"));
  EXPECT_THAT(details, HasSubstr("Lock losses: 1"));
  EXPECT_THAT(details, HasSubstr("Since last lock: 00:00:01"));
  // A clean lane: an upper bound only; a lane that never locked: no BER at all.
  const std::string clean = LaneDetails(FactsOf(check, 2), rule);
  EXPECT_THAT(clean, HasSubstr("BER while locked: < 6.0e-10 at 95 %"));
  const std::string unlocked = LaneDetails(FactsOf(check, 4), rule);
  EXPECT_THAT(unlocked, HasSubstr("BER while locked: nothing counted"));
  EXPECT_THAT(unlocked, HasSubstr("Since last lock: not locked"));
}

}  // namespace
