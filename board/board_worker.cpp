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

size_t BoardWorker::Pending() const {
  std::lock_guard lock(mutex_);
  return jobs_.size() + running_;
}

void BoardWorker::Drain() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return (jobs_.empty() && running_ == 0) || stop_; });
}

void BoardWorker::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
    jobs_.clear();
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void BoardWorker::Loop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
    if (stop_) break;
    Job job = std::move(jobs_.front());
    jobs_.pop_front();
    running_ = 1;
    lock.unlock();
    job();
    lock.lock();
    running_ = 0;
    if (jobs_.empty()) idle_.notify_all();
  }
  running_ = 0;
  idle_.notify_all();
}
