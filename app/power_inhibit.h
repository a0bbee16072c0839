// Keeps the system and the display awake while the tool runs: the desktop's
// inhibit services over D-Bus where present, nothing where absent.
#pragma once

#include <QDBusUnixFileDescriptor>

class PowerInhibit {
 public:
  PowerInhibit();
  ~PowerInhibit();
  bool Active() const { return screensaver_cookie_ != 0 || sleep_lock_.isValid(); }

 private:
  unsigned screensaver_cookie_ = 0;
  QDBusUnixFileDescriptor sleep_lock_;  // held open until exit
};
