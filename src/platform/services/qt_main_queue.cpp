#include "platform/services/qt_main_queue.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <mutex>

namespace platform {

void QtMainQueuePoster::post(Task task) {
  auto* app = QCoreApplication::instance();
  if (!app) return;
  // Qt's event queue orders the poster and the main thread, but inside Qt, where
  // ThreadSanitizer cannot see it; a lock of our own around the handover shows the order. The
  // one run of the task owns the handover, however often Qt copies the function it is given.
  struct Handover {
    std::mutex lock;
    Task task;
  };
  auto* handover = new Handover();
  {
    std::lock_guard guard(handover->lock);
    handover->task = std::move(task);
  }
  QMetaObject::invokeMethod(
      app,
      [handover] {
        Task run;
        {
          std::lock_guard guard(handover->lock);
          run = std::move(handover->task);
        }
        delete handover;
        if (run) run();
      },
      Qt::QueuedConnection);
}

void QtMainQueuePoster::postAfter(Millis delay, Task task) {
  auto* app = QCoreApplication::instance();
  if (!app) return;
  if (delay.count() <= 0) {
    post(std::move(task));
    return;
  }
  // QTimer must be started from the GUI thread; hop there first when called elsewhere.
  auto start = [app, delay, task = std::move(task)]() mutable {
    QTimer::singleShot(std::chrono::milliseconds(delay), Qt::PreciseTimer, app, std::move(task));
  };
  if (isMainThread())
    start();
  else
    QMetaObject::invokeMethod(app, std::move(start), Qt::QueuedConnection);
}

bool QtMainQueuePoster::isMainThread() const {
  auto* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

void installQtMainQueue() { installMainQueuePoster(std::make_shared<QtMainQueuePoster>()); }

}  // namespace platform
