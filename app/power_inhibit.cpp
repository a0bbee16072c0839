#include "app/power_inhibit.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>

namespace {
constexpr const char* kWho = "Lanewright";
constexpr const char* kWhy = "module test in progress";
}  // namespace

#ifdef Q_OS_WIN
#include <windows.h>
PowerInhibit::PowerInhibit() {
  if (!SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED |
                               ES_AWAYMODE_REQUIRED))
    SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
  screensaver_cookie_ = 1;
}
PowerInhibit::~PowerInhibit() { SetThreadExecutionState(ES_CONTINUOUS); }
#else
PowerInhibit::PowerInhibit() {
  auto session = QDBusConnection::sessionBus();
  if (session.isConnected() && session.interface() &&
      session.interface()->isServiceRegistered("org.freedesktop.ScreenSaver")) {
    QDBusInterface saver("org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                         "org.freedesktop.ScreenSaver", session);
    saver.setTimeout(1000);
    QDBusReply<unsigned> cookie = saver.call("Inhibit", kWho, kWhy);
    if (cookie.isValid()) screensaver_cookie_ = cookie.value();
  }
  auto system = QDBusConnection::systemBus();
  if (system.isConnected() && system.interface() &&
      system.interface()->isServiceRegistered("org.freedesktop.login1")) {
    QDBusInterface login("org.freedesktop.login1", "/org/freedesktop/login1",
                         "org.freedesktop.login1.Manager", system);
    login.setTimeout(1000);
    QDBusReply<QDBusUnixFileDescriptor> fd =
        login.call("Inhibit", "sleep:idle", kWho, kWhy, "block");
    if (fd.isValid()) sleep_lock_ = fd.value();
  }
}

PowerInhibit::~PowerInhibit() {
  if (screensaver_cookie_) {
    QDBusInterface saver("org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                         "org.freedesktop.ScreenSaver", QDBusConnection::sessionBus());
    saver.setTimeout(1000);
    saver.call("UnInhibit", screensaver_cookie_);
  }
  // Closing the descriptor releases the sleep lock.
}
#endif
