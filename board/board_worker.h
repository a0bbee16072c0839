// Runs board exchanges off the user-interface thread, one job at a time, in
// the order they were asked for.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class BoardWorker {
 public:
  using Job = std::function<void()>;
  BoardWorker();
  ~BoardWorker();
  BoardWorker(const BoardWorker&) = delete;
  BoardWorker& operator=(const BoardWorker&) = delete;

  void Post(Job job);
  // Jobs queued or running.
  size_t Pending() const;
  // Waits until every job posted so far has run (for tests and shutdown).
  void Drain();
  // Drops queued jobs, waits for the running one and ends the thread.
  void Stop();

 private:
  void Loop();
  mutable std::mutex mutex_;
  std::condition_variable wake_, idle_;
  std::deque<Job> jobs_;
  size_t running_ = 0;
  bool stop_ = false;
  std::thread thread_;
};
