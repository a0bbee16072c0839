#include "board/board_worker.h"

BoardWorker::BoardWorker() : thread_([this] { Loop(); }) {}

BoardWorker::~BoardWorker() { Stop(); }

void BoardWorker::Post(Job job) {
  {
    std::lock_guard lock(mutex_);
    if (stop_) return;
    jobs_.push_back(std::move(job));
  }
  wake_.notify_one();
}

void BoardWorker::PostAfter(std::chrono::milliseconds delay, Job job) {
  if (delay.count() <= 0) return Post(std::move(job));
  {
    std::lock_guard lock(mutex_);
    if (stop_) return;
    later_.emplace(Clock::now() + delay, std::move(job));
  }
  wake_.notify_one();
}

size_t BoardWorker::Pending() const {
  std::lock_guard lock(mutex_);
  return jobs_.size() + later_.size() + running_;
}

void BoardWorker::Drain() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return (jobs_.empty() && later_.empty() && running_ == 0) || stop_; });
}

void BoardWorker::Stop() {
  std::deque<Job> dropped;
  std::multimap<Clock::time_point, Job> dropped_later;
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
    dropped.swap(jobs_);
    dropped_later.swap(later_);
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void BoardWorker::Loop() {
  std::unique_lock lock(mutex_);
  while (!stop_) {
    // Delayed jobs whose time has come queue up behind the jobs posted by now.
    const auto now = Clock::now();
    while (!later_.empty() && later_.begin()->first <= now) {
      jobs_.push_back(std::move(later_.begin()->second));
      later_.erase(later_.begin());
    }
    if (jobs_.empty()) {
      if (later_.empty())
        wake_.wait(lock);
      else
        wake_.wait_until(lock, later_.begin()->first);
      continue;
    }
    Job job = std::move(jobs_.front());
    jobs_.pop_front();
    running_ = 1;
    lock.unlock();
    job();
    job = nullptr;  // what the job holds goes before it counts as run
    lock.lock();
    running_ = 0;
    if (jobs_.empty() && later_.empty()) idle_.notify_all();
  }
  running_ = 0;
  idle_.notify_all();
}
