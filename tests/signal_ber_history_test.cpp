// What a lane can claim (the compact line of each channel group and its
// tooltip) and the diagram's history: columns that keep every minimum and
// maximum, and the CSV export with bounds, verdicts and true values.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <optional>
#include <sstream>

#include "signal/ber_history.h"
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
      {"no lock by the timeout", Facts(10, false, {false, 10, 0, 0, 0, 0}), rule,
       "FAIL: no lock within 10 s"},
      {"first second of lock", Facts(2, true, {true, 2, 0, 0, 0, 5e10}), rule, "just locked"},
      {"counting", Facts(31, true, {true, 31, 0, 0, n / 2, 5e10}), rule,
       "< 2.0e-12 \xC2\xB7 RUNNING 30 s"},
      {"hours to go", Facts(100, true, {true, 100, 0, 0, 1e12, 1e8}), rule,
       "< 3.0e-12 \xC2\xB7 RUNNING 5.5 h"},
      {"errors within the allowed", Facts(80, true, {true, 80, 0, 1, n2 / 2, 5e10}), two,
       "< 1.5e-12 \xC2\xB7 RUNNING 63 s"},
      {"passed", Facts(60, true, {true, 60, 0, 0, n, 5e10}), rule, "PASS < 1.0e-12"},
      {"errors", Facts(5, true, {true, 5, 0, 113, 1e10, 5e10}), rule, "FAIL: 113 errors"},
      {"one error, now unlocked", Facts(5, false, {true, 5, 0, 1, 1e10, 0}), rule, "FAIL: 1 error"},
      {"lost lock, locked again", Facts(60, true, {true, 60, 1, 0, n * 2, 5e10}), rule,
       "FAIL: lost lock 1 time"},
      {"lost lock, still out", Facts(60, false, {true, 60, 2, 0, n / 3, 0}), rule,
       "FAIL: lost lock 2 times"},
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
  EXPECT_THAT(details,
              HasSubstr("BER while locked: above 1.7e-11, below 1.6e-09, each one-sided at 95 %"));
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

// Every column of a decimation holds the smallest and the largest value of
// the points in it, and a column without points of a kind breaks that line.
TEST(BerHistoryColumns, KeepEveryMinimumAndMaximumAndBreakWhereNothingIs) {
  BerHistory history;
  const VerdictRule rule;
  std::map<uint32_t, std::pair<BerHistory::Kind, double>> points;  // the oracle
  for (uint32_t s = 1; s <= 1000; ++s) {
    BerHistory::Point p;
    p.seconds = s;
    if (s <= 300) {
      p.kind = BerHistory::Kind::kBound;
      p.upper = 3.0 / (s * 1e9);
    } else if (s <= 400) {
      p.kind = BerHistory::Kind::kNoLock;
    } else {
      p.kind = BerHistory::Kind::kMeasured;
      p.ber = s == 537 ? 5e-6 : s == 811 ? 2e-12 : 1e-9 * (1.0 + 0.1 * std::sin(s));
      p.upper = p.ber * 2;
    }
    history.Add(0, p, rule);
    const double value = p.kind == BerHistory::Kind::kMeasured ? p.ber : p.upper;
    points[s] = {p.kind, static_cast<float>(value)};
  }
  for (int columns : {1, 7, 10, 64, 333, 1000, 4000}) {
    SCOPED_TRACE(columns);
    const BerHistory::Drawn d = history.Decimate(0, columns);
    ASSERT_EQ(d.first, 1u);
    ASSERT_EQ(d.last, 1000u);
    const size_t n = std::min(columns, 1000);
    ASSERT_EQ(d.columns, n);
    for (auto kind : {BerHistory::Kind::kMeasured, BerHistory::Kind::kBound}) {
      const BerHistory::Trace& t = kind == BerHistory::Kind::kMeasured ? d.measured : d.bound;
      // Expected per column, from the points themselves.
      std::vector<std::pair<double, double>> want(n, {INFINITY, -INFINITY});
      for (const auto& [s, p] : points)
        if (p.first == kind) {
          auto& w = want[(s - 1) * n / 1000];
          w = {std::min(w.first, p.second), std::max(w.second, p.second)};
        }
      std::vector<std::vector<double>> got;  // values by column, in key order
      double last_key = -1;
      for (size_t i = 0; i < t.keys.size(); ++i) {
        if (std::isnan(t.values[i])) {
          got.push_back({NAN});
          last_key = -1;
          continue;
        }
        if (t.keys[i] != last_key) got.emplace_back();
        got.back().push_back(t.values[i]);
        last_key = t.keys[i];
      }
      size_t g = 0;
      bool drawn_before = false;
      for (size_t c = 0; c < n; ++c) {
        const auto [low, high] = want[c];
        if (low > high) {
          // A break once after drawn columns, unless nothing follows.
          if (drawn_before && g < got.size()) {
            ASSERT_TRUE(std::isnan(got[g][0])) << "column " << c;
            ++g;
            drawn_before = false;
          }
          continue;
        }
        ASSERT_LT(g, got.size()) << "column " << c;
        const auto& v = got[g++];
        EXPECT_DOUBLE_EQ(*std::min_element(v.begin(), v.end()), low) << "column " << c;
        EXPECT_DOUBLE_EQ(*std::max_element(v.begin(), v.end()), high) << "column " << c;
        EXPECT_LE(v.size(), 2u);
        drawn_before = true;
      }
      EXPECT_EQ(g, got.size());
    }
    EXPECT_DOUBLE_EQ(d.high, static_cast<float>(5e-6));  // the spike is never lost
    EXPECT_DOUBLE_EQ(d.low, static_cast<float>(2e-12));  // nor the dip
  }
}

// With a tolerance (half a pixel on the chart), values within it of the
// line drawn without them are left out, and nothing else: every column's
// values still lie on the line, breaks stay breaks.
TEST(BerHistoryColumns, LeaveOutOnlyWhatLiesOnTheLineAnyway) {
  BerHistory history;
  const VerdictRule rule;
  for (uint32_t s = 1; s <= 5000; ++s) {
    BerHistory::Point p;
    p.seconds = s;
    p.kind = s % 1000 < 700 ? BerHistory::Kind::kBound : BerHistory::Kind::kNoLock;
    p.upper = s == 2222 ? 1e-6 : 3.0 / (s * 1e9);
    history.Add(0, p, rule);
  }
  const double same = 1.05;
  const BerHistory::Drawn exact = history.Decimate(0, 400);
  const BerHistory::Drawn drawn = history.Decimate(0, 400, same);
  const auto& all = exact.bound;
  const auto& kept = drawn.bound;
  EXPECT_LT(kept.keys.size(), all.keys.size() / 4);
  auto breaks = [](const BerHistory::Trace& t) {
    return std::count_if(t.values.begin(), t.values.end(), [](double v) { return std::isnan(v); });
  };
  EXPECT_EQ(breaks(kept), breaks(all));
  EXPECT_EQ(*std::max_element(kept.values.begin(), kept.values.end()),
            static_cast<float>(1e-6));  // the spike stays
  for (size_t i = 0; i < all.keys.size(); ++i) {
    if (std::isnan(all.values[i])) continue;
    const double k = all.keys[i];
    // The kept line at k (log-linear between its vertices), in the same unbroken run.
    size_t j = std::upper_bound(kept.keys.begin(), kept.keys.end(), k) - kept.keys.begin();
    ASSERT_GT(j, 0u) << k;
    const size_t a = j - 1;
    if (kept.keys[a] == k) {
      // A vertex at k: the value is one of those kept there, or within reach of it.
      double nearest = INFINITY;
      for (size_t b = a + 1; b-- > 0 && kept.keys[b] == k;)
        nearest = std::min(nearest, std::fabs(std::log(all.values[i] / kept.values[b])));
      EXPECT_LE(nearest, std::log(same) + 1e-9) << k;
      continue;
    }
    ASSERT_LT(j, kept.keys.size()) << k;
    ASSERT_FALSE(std::isnan(kept.values[a]) || std::isnan(kept.values[j])) << k;
    const double f = (k - kept.keys[a]) / (kept.keys[j] - kept.keys[a]);
    const double line = std::log(kept.values[a]) + f * std::log(kept.values[j] / kept.values[a]);
    EXPECT_LE(std::fabs(std::log(all.values[i]) - line), std::log(same) + 1e-9) << k;
  }
}

TEST(BerHistoryCsv, BoundsVerdictsAndTrueValuesWhateverTheScale) {
  LineCheck check;
  BerHistory history;
  const VerdictRule rule;
  check.SetDivideByTen();          // the page's fields only
  Tick(check, {{5, 1000000000}});  // acquisition
  RecordTick(history, check, rule);
  Tick(check, {{2, 1000000000}});
  RecordTick(history, check, rule);
  Tick(check, {{0, 1000000000}});
  RecordTick(history, check, rule);
  check.Clear();  // a new run: its seconds start again
  Tick(check, {{0, 1000000000}});
  RecordTick(history, check, rule);
  EXPECT_EQ(history.Size(), 4u * kLanes);

  std::istringstream csv(history.Csv());
  std::vector<std::string> rows;
  for (std::string row; std::getline(csv, row);) rows.push_back(row);
  ASSERT_EQ(rows.size(), 1 + 4u * kLanes);
  EXPECT_EQ(rows[0], "channel,lane,seconds,ber,state,upper_bound,confidence,target,verdict");
  // CH1 is DSP lane 7 (clean), CH2 lane 1, CH3 lane 4 (never locks); chart by chart.
  EXPECT_EQ(rows[1], "1,7,1,,no bits,,0.95,1e-12,RUNNING");
  EXPECT_EQ(rows[2], "1,7,2,0.00000e+00,bound,2.99573e-09,0.95,1e-12,RUNNING");
  EXPECT_EQ(rows[3], "1,7,3,0.00000e+00,bound,1.49787e-09,0.95,1e-12,RUNNING");
  EXPECT_EQ(rows[4], "1,7,1,,no bits,,0.95,1e-12,RUNNING");
  // 2 errors in 2e9 bits while locked: 1e-9, not the page's 1e-10, and the
  // acquisition's 5 kept apart.
  EXPECT_EQ(rows[5], "2,1,1,,no bits,,0.95,1e-12,RUNNING");
  EXPECT_EQ(rows[6], "2,1,2,2.00000e-09,measured,6.29579e-09,0.95,1e-12,FAIL");
  EXPECT_EQ(rows[7], "2,1,3,1.00000e-09,measured,3.14790e-09,0.95,1e-12,FAIL");
  EXPECT_EQ(rows[9], "3,4,1,,no lock,,0.95,1e-12,RUNNING");
}

}  // namespace
