// Reports arrivals and removals of HID devices by comparing successive
// enumerations on a thread of its own.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "board/hid_backend.h"

class DeviceWatcher {
 public:
  enum class Event { kArrival, kRemoval };
  using Callback = std::function<void(Event, const std::string& path)>;

  DeviceWatcher(std::shared_ptr<HidBackend> backend, Callback callback, int period_ms = 250);
  ~DeviceWatcher();
  bool Start();
  void Stop();
  bool Running() const { return thread_.joinable(); }

 private:
  void Loop();
  std::shared_ptr<HidBackend> backend_;
  Callback callback_;
  int period_ms_;
  std::set<std::string> known_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
};

// The main window's registration for arrival and removal notifications.
bool RegisterDeviceNotify(std::shared_ptr<HidBackend> backend, DeviceWatcher::Callback callback);
void UnregisterDeviceNotify();
