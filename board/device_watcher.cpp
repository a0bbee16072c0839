#include "board/device_watcher.h"

#include <chrono>

DeviceWatcher::DeviceWatcher(std::shared_ptr<HidBackend> backend, Callback callback, int period_ms)
    : backend_(std::move(backend)), callback_(std::move(callback)), period_ms_(period_ms) {}

DeviceWatcher::~DeviceWatcher() { Stop(); }

bool DeviceWatcher::Start() {
  if (thread_.joinable()) return true;
  for (const auto& d : backend_->Enumerate()) known_.insert(d.path);
  stop_ = false;
  thread_ = std::thread([this] { Loop(); });
  return true;
}

void DeviceWatcher::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void DeviceWatcher::Loop() {
  std::unique_lock lock(mutex_);
  while (!wake_.wait_for(lock, std::chrono::milliseconds(period_ms_), [this] { return stop_; })) {
    lock.unlock();
    std::set<std::string> now;
    for (const auto& d : backend_->Enumerate()) now.insert(d.path);
    for (const auto& p : known_)
      if (!now.count(p)) callback_(Event::kRemoval, p);
    for (const auto& p : now)
      if (!known_.count(p)) callback_(Event::kArrival, p);
    known_ = std::move(now);
    lock.lock();
  }
}

namespace {
std::mutex g_notify_mutex;
std::unique_ptr<DeviceWatcher> g_watcher;
}  // namespace

bool RegisterDeviceNotify(std::shared_ptr<HidBackend> backend, DeviceWatcher::Callback callback) {
  std::lock_guard lock(g_notify_mutex);
  if (!backend) return false;
  g_watcher = std::make_unique<DeviceWatcher>(std::move(backend), std::move(callback));
  return g_watcher->Start();
}

void UnregisterDeviceNotify() {
  std::unique_ptr<DeviceWatcher> watcher;
  {
    std::lock_guard lock(g_notify_mutex);
    watcher = std::move(g_watcher);
  }
  watcher.reset();
}
