#include "board/process_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

ProcessLock::~ProcessLock() { Release(); }

ProcessLock::ProcessLock(ProcessLock&& other) noexcept { *this = std::move(other); }

ProcessLock& ProcessLock::operator=(ProcessLock&& other) noexcept {
  if (this != &other) {
    Release();
    fd_ = other.fd_;
    holder_pid_ = other.holder_pid_;
    error_ = std::move(other.error_);
    path_ = std::move(other.path_);
    other.fd_ = -1;
  }
  return *this;
}

void ProcessLock::Release() {
  if (fd_ >= 0) ::close(fd_);  // closing the last descriptor drops the flock
  fd_ = -1;
}

ProcessLock::State ProcessLock::TryLock(const std::string& path, bool create) {
  Release();
  path_ = path;
  holder_pid_ = 0;
  error_.clear();
  // Read-only is enough for flock, and a user who may open the device for
  // reading and writing may open it for reading.
  int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY;
  if (create) flags = O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY;
  const int fd = ::open(path.c_str(), flags, 0666);
  if (fd < 0) {
    error_ = path + ": " + std::strerror(errno);
    return State::kError;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int e = errno;
    ::close(fd);
    if (e == EWOULDBLOCK) {
      holder_pid_ = FlockHolder(path);
      return State::kBusy;
    }
    error_ = path + ": cannot lock: " + std::strerror(e);
    return State::kError;
  }
  fd_ = fd;
  return State::kHeld;
}

ProcessLock::State ProcessLock::Wait(const std::string& path, bool create,
                                     const std::function<void(long)>& waiting,
                                     const std::function<bool()>& cancelled, int poll_ms) {
  bool told = false;
  for (;;) {
    const State state = TryLock(path, create);
    if (state != State::kBusy) return state;
    if (!told && waiting) waiting(holder_pid_);
    told = true;
    if (cancelled && cancelled()) return State::kBusy;
    std::this_thread::sleep_for(std::chrono::milliseconds(poll_ms));
    if (cancelled && cancelled()) return State::kBusy;
  }
}

std::string ProcessLock::BusyText(long pid) {
  return pid > 0 ? "board held by PID " + std::to_string(pid) : "board held by another process";
}

long FlockHolder(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return 0;
  // Lines read "1: FLOCK  ADVISORY  WRITE 5402 fe:00:10952930 0 EOF"; the
  // device numbers are hexadecimal, the inode decimal.
  std::ifstream locks("/proc/locks");
  std::string line;
  while (std::getline(locks, line)) {
    std::istringstream in(line);
    std::string id, kind, mode, access, where;
    long pid = 0;
    if (!(in >> id >> kind)) continue;
    if (kind == "->") {  // a waiter, listed under the holder
      if (!(in >> kind)) continue;
    }
    if (!(in >> mode >> access >> pid >> where)) continue;
    if (kind != "FLOCK") continue;
    unsigned major = 0, minor = 0;
    unsigned long long inode = 0;
    if (std::sscanf(where.c_str(), "%x:%x:%llu", &major, &minor, &inode) != 3) continue;
    if (inode == st.st_ino && major == major(st.st_dev) && minor == minor(st.st_dev)) return pid;
  }
  return 0;
}
