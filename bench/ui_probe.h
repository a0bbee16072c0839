// Measures the user-interface thread's event-dispatch delay: a probe posts a
// time-stamped event every 2 ms and records how late each one is handled.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QObject>
#include <QTimer>
#include <vector>

#include "bench/bench_util.h"

namespace bench {

class DispatchProbe : public QObject {
 public:
  static constexpr QEvent::Type kProbe = static_cast<QEvent::Type>(QEvent::User + 999);
  struct Stamp : QEvent {
    explicit Stamp(qint64 ns) : QEvent(kProbe), posted(ns) {}
    qint64 posted;
  };
  DispatchProbe() {
    clock_.start();
    timer_.setInterval(2);
    connect(&timer_, &QTimer::timeout, this,
            [this] { QCoreApplication::postEvent(this, new Stamp(clock_.nsecsElapsed())); });
    timer_.start();
  }
  bool event(QEvent* e) override {
    if (e->type() != kProbe) return QObject::event(e);
    delays_ms_.push_back((clock_.nsecsElapsed() - static_cast<Stamp*>(e)->posted) / 1e6);
    return true;
  }
  Stats Result() const { return Summarise(delays_ms_); }
  size_t Samples() const { return delays_ms_.size(); }

 private:
  QElapsedTimer clock_;
  QTimer timer_;
  std::vector<double> delays_ms_;
};

inline void PrintDispatch(const char* name, const Stats& s, double p99_goal, double max_goal) {
  std::printf("%-44s p50 %6.2f ms  p99 %6.2f ms  max %6.2f ms  (goal p99 < %.0f ms%s) %s\n", name,
              s.p50, s.p99, s.max, p99_goal,
              max_goal > 0 ? (", max < " + std::to_string(int(max_goal)) + " ms").c_str() : "",
              s.p99 < p99_goal && (max_goal <= 0 || s.max < max_goal) ? "ok" : "MISSED");
}

}  // namespace bench
