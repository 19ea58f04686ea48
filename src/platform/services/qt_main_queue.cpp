#include "platform/services/qt_main_queue.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

namespace platform {

void QtMainQueuePoster::post(Task task) {
  auto* app = QCoreApplication::instance();
  if (!app) return;
  QMetaObject::invokeMethod(app, [task = std::move(task)] { task(); }, Qt::QueuedConnection);
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
