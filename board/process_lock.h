// One process per board: an exclusive advisory lock (flock) on a file that
// stands for the board, held for as long as the process uses the board. For
// a USB board the file is its hidraw device node itself, so processes of
// other users see the lock too; an emulated board with a state file FILE
// locks FILE.lock.
#pragma once

#include <functional>
#include <string>

class ProcessLock {
 public:
  enum class State { kHeld, kBusy, kError };

  ProcessLock() = default;
  ~ProcessLock();
  ProcessLock(ProcessLock&& other) noexcept;
  ProcessLock& operator=(ProcessLock&& other) noexcept;
  ProcessLock(const ProcessLock&) = delete;
  ProcessLock& operator=(const ProcessLock&) = delete;

  // One attempt, without waiting. `create` makes the file if it is missing
  // (lock files); device nodes are never created. On kBusy, HolderPid()
  // names the process that holds it where /proc/locks tells (else 0); on
  // kError, Error() says why.
  State TryLock(const std::string& path, bool create);
  // Tries every `poll_ms` until the lock is taken, `cancelled` returns true
  // or an error occurs. `waiting` is called once, with the holder's PID,
  // when the first attempt finds the lock busy.
  State Wait(const std::string& path, bool create, const std::function<void(long pid)>& waiting,
             const std::function<bool()>& cancelled, int poll_ms = 200);
  void Release();

  bool Held() const { return fd_ >= 0; }
  long HolderPid() const { return holder_pid_; }
  const std::string& Error() const { return error_; }
  const std::string& Path() const { return path_; }

  // "board held by PID n" (or "by another process" when the PID is unknown).
  static std::string BusyText(long pid);

 private:
  int fd_ = -1;
  long holder_pid_ = 0;
  std::string error_, path_;
};

// The PID holding an flock on the file at `path`, from /proc/locks; 0 when
// none is found.
long FlockHolder(const std::string& path);
