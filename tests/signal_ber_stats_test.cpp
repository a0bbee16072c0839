// BER bounds and verdicts: the statistics against values computed apart
// (arbitrary-precision incomplete gamma), the verdict rule, and the lock
// history on the emulated board.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <random>
#include <thread>

#include "board/device.h"
#include "emulator/emulated_board.h"
#include "signal/ber_stats.h"
#include "signal/line_check.h"

namespace {

using namespace sigtest;

TEST(BerBounds, PoissonMeansMatchIndependentValues) {
  const struct {
    uint64_t k;
    double cl, upper, lower;
  } rows[] = {
      {0, 0.90, 2.30258509299, 0},
      {1, 0.90, 3.88972016987, 0.105360515658},
      {10, 0.90, 15.406641172, 6.22130460523},
      {1000, 0.90, 1041.75456908, 959.693932729},
      {0, 0.95, 2.99573227355, 0},
      {1, 0.95, 4.74386451839, 0.0512932943876},
      {10, 0.95, 16.9622192357, 5.42540569709},
      {1000, 0.95, 1053.60312213, 948.559849384},
      {0, 0.99, 4.60517018599, 0},
      {1, 0.99, 6.63835206799, 0.0100503358535},
      {10, 0.99, 20.1446802188, 4.13019916627},
      {1000, 0.99, 1076.06960744, 927.908159797},
      // Large counts (a lane at 1e-6 for minutes to a day) take the closed form.
      {10000, 0.95, 10166.0601361271, 9836.08511085519},
      {1000000, 0.90, 1001282.7661404, 998718.66274998},
      {4000000000, 0.99, 4000147133.62889, 3999852870.3124},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::Message() << "k " << r.k << " cl " << r.cl);
    const double tolerance = r.k >= 10000 ? 1e-8 : 1e-9;
    EXPECT_NEAR(PoissonUpperMean(r.k, r.cl), r.upper, r.upper * tolerance);
    EXPECT_NEAR(PoissonLowerMean(r.k, r.cl), r.lower, r.lower * tolerance + 1e-12);
    // As bounds on a ratio, for counts from a second to a day at 53 Gb/s.
    for (double bits : {5.3125e10, 3.0e12, 4.59e15}) {
      EXPECT_NEAR(BerUpperBound(r.k, bits, r.cl), r.upper / bits, r.upper / bits * tolerance);
      EXPECT_NEAR(BerLowerBound(r.k, bits, r.cl), r.lower / bits,
                  r.lower / bits * tolerance + 1e-30);
    }
  }
  EXPECT_EQ(BerUpperBound(0, 0, 0.95), 1.0);  // nothing counted: nothing claimed
  // The example of a 1e-12 claim at 95 %: 2.996e12 bits, 58.1 s at 51.5625 Gb/s.
  EXPECT_NEAR(BitsForVerdict(1e-12, 0.95, 0), 2.99573e12, 1e7);
  EXPECT_NEAR(BitsForVerdict(1e-12, 0.95, 0) / 51.5625e9, 58.1, 0.05);
}

TEST(BerVerdict, FixedLengthRuleFromRunningToPassOrFail) {
  VerdictRule rule;  // 1e-12 at 95 %, no error allowed, lock within 10 s
  const double n = BitsForVerdict(rule.target, rule.confidence, 0);
  const struct {
    const char* what;
    LaneCount count;
    Verdict verdict;
    const char* reason;
  } cases[] = {
      {"waiting for lock", {false, 3, 0, 0, 0, 0}, Verdict::kRunning, "waiting for lock"},
      {"never locked", {false, 10, 0, 0, 0, 0}, Verdict::kFail, "no lock within 10 s"},
      {"counting", {true, 20, 0, 0, n / 2, 5e10}, Verdict::kRunning, "counting"},
      {"enough bits, clean", {true, 60, 0, 0, n, 5e10}, Verdict::kPass, ""},
      {"one error",
       {true, 5, 0, 1, 1e10, 5e10},
       Verdict::kFail,
       "1 errors, more than the 0 allowed"},
      {"lost lock once", {true, 60, 1, 0, n * 2, 5e10}, Verdict::kFail, "lost lock 1 time"},
      {"a lost status answer",
       {true, 60, 0, 0, n * 2, 5e10, 1},
       Verdict::kRunning,
       "the board lost 1 status answer: no verdict"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const LaneVerdict v = JudgeLane(c.count, rule);
    EXPECT_EQ(v.verdict, c.verdict);
    EXPECT_EQ(v.reason, c.reason);
  }
  const LaneVerdict half = JudgeLane({true, 20, 0, 0, n / 2, 5e10}, rule);
  EXPECT_NEAR(half.seconds_left, n / 2 / 5e10, 1e-6);
  // With errors allowed the test is longer, and k errors still pass.
  rule.allowed_errors = 2;
  const double n2 = BitsForVerdict(rule.target, rule.confidence, 2);
  EXPECT_NEAR(n2, 6.29579e12, 1e7);
  EXPECT_EQ(JudgeLane({true, 200, 0, 2, n2, 5e10}, rule).verdict, Verdict::kPass);
  EXPECT_EQ(JudgeLane({true, 200, 0, 3, n2 / 2, 5e10}, rule).verdict, Verdict::kFail);
}

// The statistical promise itself: lanes whose true BER equals the target
// pass at most 1 - CL of the time (here with the rule's exact length, drawn
// from the Poisson law).
TEST(BerVerdict, ALaneAtTheTargetPassesAtMostOneInTwenty) {
  VerdictRule rule;
  std::mt19937_64 rng(7);
  const double n = BitsForVerdict(rule.target, rule.confidence, 0);
  int passes = 0;
  const int runs = 20000;
  for (int i = 0; i < runs; ++i) {
    std::poisson_distribution<uint64_t> law(rule.target * n);
    const LaneCount c{true, 60, 0, law(rng), n, 5e10};
    passes += JudgeLane(c, rule).verdict == Verdict::kPass;
  }
  EXPECT_NEAR(static_cast<double>(passes) / runs, 0.05, 0.006);
}

StatusRecord Locked(uint32_t errors, uint64_t bits) {
  StatusRecord r{};
  r[1] = 1;
  std::memcpy(r.data() + 7, &errors, 4);
  std::memcpy(r.data() + 15, &bits, 8);
  return r;
}

TEST(BerLockHistory, LossesAndRelockErrorsAreCountedApart) {
  LineCheck check;
  auto tick = [&](bool lane1_locked, uint32_t errors) {
    TickSample s{};
    for (auto& lane : s) lane = {true, BoardResult::Ok(), Locked(0, 1000)};
    s[0] = {true, BoardResult::Ok(), lane1_locked ? Locked(errors, 1000) : StatusRecord{}};
    check.ApplyTick(s);
  };
  tick(true, 5);  // the first locked second: acquisition
  tick(true, 0);
  tick(true, 1);
  tick(false, 0);  // lock lost
  tick(true, 7);   // relocked
  tick(true, 0);
  // A status answer the board lost is the board's failure, not a lock loss,
  // and leaves the lane without a verdict.
  TickSample lost{};
  for (auto& lane : lost) lane = {true, BoardResult::Ok(), Locked(0, 1000)};
  lost[0] = {false, BoardResult::Fail(BoardStatus::kTimeout), StatusRecord{}};
  check.ApplyTick(lost);
  EXPECT_EQ(check.ShownLane(1).type, "Unlock");
  EXPECT_EQ(check.History(1).failed_exchanges, 1u);
  EXPECT_EQ(JudgeLane(check.Count(1), VerdictRule{}).reason,
            "1 errors, more than the 0 allowed");  // its own error still fails it
  tick(true, 0);
  const auto& h = check.History(1);
  EXPECT_EQ(h.lock_losses, 1u);
  EXPECT_EQ(h.relock_errors, 12u);
  EXPECT_EQ(h.steady_errors, 1u);
  EXPECT_EQ(h.steady_bits, 4000);
  EXPECT_EQ(check.SecondsSinceLock(1), 3);
  EXPECT_EQ(check.Lane(1).errors, 13);  // the page's own count keeps every error
  EXPECT_EQ(check.History(2).lock_losses, 0u);
  check.Clear();
  EXPECT_EQ(check.History(1).lock_losses, 0u);
  EXPECT_EQ(check.SecondsSinceLock(1), -1);
}

// On the emulated board: a clean lane, a lane at a set BER and a lane that
// loses its signal mid-run.
TEST(BerLockHistory, EmulatedLanesCountAndLoseLock) {
  auto board = std::make_shared<emu::EmulatedBoard>();
  CDevice device(board);
  device.FindDevices();
  ASSERT_TRUE(device.OpenBoard(0));
  device.SetPause([](int) {});
  {
    auto lock = board->Lock();
    for (int lane = 1; lane <= 8; ++lane) board->Prbs().SetLaneBer(lane, 0);
    board->Prbs().SetLaneBer(2, 1e-6);
    board->Prbs().Seed(3);
  }
  LineCheck check;
  RunSteps(device, check.ApplyPattern(kPatternPrbs31));
  RunSteps(device, check.Start());
  for (int t = 0; t < 6; ++t) {
    if (t == 3) {
      auto lock = board->Lock();
      board->Prbs().SetNoSignal(3, true);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    check.ApplyTick(ReadTick(device));
  }
  VerdictRule rule;
  EXPECT_EQ(JudgeLane(check.Count(1), rule).verdict, Verdict::kRunning);
  EXPECT_GT(check.Count(1).bits, 0);
  EXPECT_EQ(check.Count(1).errors, 0u);
  EXPECT_EQ(JudgeLane(check.Count(2), rule).verdict, Verdict::kFail);
  const LaneVerdict lost = JudgeLane(check.Count(3), rule);
  EXPECT_EQ(lost.verdict, Verdict::kFail);
  EXPECT_EQ(lost.reason, "lost lock 1 time");
}

}  // namespace
