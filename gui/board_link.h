// The board worker seen from Qt: runs board exchanges off the user-interface
// thread, in the order they were asked for, and hands results back to the
// UI thread as queued events.
#pragma once

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <type_traits>
#include <utility>

#include "board/board_worker.h"

class BoardLink : public QObject {
  Q_OBJECT
 public:
  explicit BoardLink(QObject* parent = nullptr) : QObject(parent) {}
  ~BoardLink() override { worker_.Stop(); }

  // Runs work() on the board worker, then done(result) on the UI thread,
  // unless `context` has been destroyed by then.
  template <typename Work, typename Done>
  void Run(QObject* context, Work work, Done done) {
    QPointer<QObject> guard(context);
    worker_.Post([this, guard, work, done]() mutable {
      if constexpr (std::is_void_v<std::invoke_result_t<Work>>) {
        work();
        QMetaObject::invokeMethod(
            this,
            [guard, done]() mutable {
              if (guard) done();
            },
            Qt::QueuedConnection);
      } else {
        auto result = work();
        QMetaObject::invokeMethod(
            this,
            [guard, done, result = std::move(result)]() mutable {
              if (guard) done(result);
            },
            Qt::QueuedConnection);
      }
    });
  }
  // Fire and forget, still in order.
  template <typename Work>
  void Run(Work work) {
    worker_.Post([work]() mutable { work(); });
  }

  // The worker itself, for a core that posts its own jobs step by step (the
  // EEPROM transfer); its callbacks reach the UI thread as queued events.
  BoardWorker& Worker() { return worker_; }

  size_t Pending() const { return worker_.Pending(); }
  // Waits for every queued exchange, then delivers their results (tests).
  void Drain() {
    worker_.Drain();
    QCoreApplication::sendPostedEvents(this);
    QCoreApplication::processEvents();
  }
  void Stop() { worker_.Stop(); }

 private:
  BoardWorker worker_;
};
