#include "platform/services/qt_main_queue.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <deque>
#include <mutex>

namespace platform {

namespace {

// Tasks wait here, under a lock of ours, and Qt's queued call carries nothing but "run the next
// one": the hand-over between threads is then one that race checkers can see.
struct PendingTasks {
  std::mutex mutex;  // guards tasks
  std::deque<Task> tasks;
};

PendingTasks& pendingTasks() {
  static PendingTasks pending;
  return pending;
}

void runNextPendingTask() {
  Task next;
  {
    PendingTasks& pending = pendingTasks();
    std::lock_guard lock(pending.mutex);
    if (pending.tasks.empty()) return;
    next = std::move(pending.tasks.front());
    pending.tasks.pop_front();
  }
  if (next) next();
}

}  // namespace

void QtMainQueuePoster::post(Task task) {
  auto* app = QCoreApplication::instance();
  if (!app) return;
  {
    PendingTasks& pending = pendingTasks();
    std::lock_guard lock(pending.mutex);
    pending.tasks.push_back(std::move(task));
  }
  // One queued call per task keeps one task per event-loop turn, in posting order.
  QMetaObject::invokeMethod(app, &runNextPendingTask, Qt::QueuedConnection);
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
    post(std::move(start));
}

bool QtMainQueuePoster::isMainThread() const {
  auto* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

void installQtMainQueue() { installMainQueuePoster(std::make_shared<QtMainQueuePoster>()); }

}  // namespace platform
