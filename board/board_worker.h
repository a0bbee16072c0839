// Runs board exchanges off the user-interface thread, one job at a time, in
// the order they were asked for.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

class BoardWorker {
 public:
  using Job = std::function<void()>;
  using Clock = std::chrono::steady_clock;
  BoardWorker();
  ~BoardWorker();
  BoardWorker(const BoardWorker&) = delete;
  BoardWorker& operator=(const BoardWorker&) = delete;

  void Post(Job job);
  // Runs `job` no sooner than `delay` from now, then in turn behind the jobs
  // posted by then. Jobs posted meanwhile run in the meantime: a wait between
  // two exchanges of a long job does not hold the worker.
  void PostAfter(std::chrono::milliseconds delay, Job job);
  // Jobs queued, waiting for their time, or running.
  size_t Pending() const;
  // Waits until every job posted so far has run, delayed ones included (for
  // tests and shutdown).
  void Drain();
  // Drops queued and delayed jobs, waits for the running one and ends the thread.
  void Stop();

 private:
  void Loop();
  mutable std::mutex mutex_;
  std::condition_variable wake_, idle_;
  std::deque<Job> jobs_;
  std::multimap<Clock::time_point, Job> later_;  // equal times keep their posting order
  size_t running_ = 0;
  bool stop_ = false;
  std::thread thread_;
};
