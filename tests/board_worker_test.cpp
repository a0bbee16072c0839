// The board worker: jobs one at a time in order, and delayed jobs that leave
// the worker to the others while they wait.
#include "board/board_worker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

TEST(BoardWorker, ADelayedJobWaitsItsTimeWhileLaterJobsRun) {
  BoardWorker worker;
  std::mutex mutex;
  std::vector<std::string> order;
  std::vector<double> at_ms;
  const auto start = Clock::now();
  auto job = [&](const char* name) {
    return [&, name] {
      std::lock_guard lock(mutex);
      order.push_back(name);
      at_ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    };
  };
  worker.PostAfter(milliseconds(250), job("late"));
  worker.PostAfter(milliseconds(100), job("soon"));
  worker.PostAfter(milliseconds(100), job("soon, posted second"));
  worker.Post(job("now"));
  worker.PostAfter(milliseconds(0), job("no delay"));
  EXPECT_GE(worker.Pending(), 3u) << "delayed jobs count as pending";
  worker.Drain();
  EXPECT_EQ(worker.Pending(), 0u);
  EXPECT_EQ(order,
            (std::vector<std::string>{"now", "no delay", "soon", "soon, posted second", "late"}));
  ASSERT_EQ(at_ms.size(), 5u);
  EXPECT_LT(at_ms[1], 100.0) << "undelayed jobs do not wait for the delayed ones";
  EXPECT_GE(at_ms[2], 100.0);
  EXPECT_GE(at_ms[4], 250.0);
}

TEST(BoardWorker, StopDropsDelayedJobsAtOnce) {
  BoardWorker worker;
  bool ran = false;
  worker.PostAfter(milliseconds(10000), [&] { ran = true; });
  const auto start = Clock::now();
  worker.Stop();
  EXPECT_LT(Clock::now() - start, milliseconds(1000));
  EXPECT_FALSE(ran);
}

}  // namespace
