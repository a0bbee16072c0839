// A mutex that serves its waiters in the order they arrived (a ticket lock),
// so that a thread taking the board again at once cannot keep the others out.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

class FairMutex {
 public:
  void lock() {
    std::unique_lock guard(mutex_);
    const uint64_t ticket = next_++;
    turn_.wait(guard, [&] { return serving_ == ticket; });
  }
  void unlock() {
    {
      std::lock_guard guard(mutex_);
      ++serving_;
    }
    turn_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable turn_;
  uint64_t next_ = 0;
  uint64_t serving_ = 0;
};
