#include "platform/services/qt_main_queue.h"

#include "platform/services/program_log.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>

namespace platform {
namespace {

// Tasks waiting for the main thread, handed over under this lock; an eventfd read by a socket
// notifier wakes the event loop (nested modal loops included). Nothing crosses threads through
// Qt's own queue, whose locks a thread checker cannot see. One per process, made on the main
// thread with the first poster and never closed, so no descriptor is ever reused under a poster.
class Wakeup {
 public:
  static Wakeup& shared() {
    static Wakeup* wakeup = new Wakeup();
    return *wakeup;
  }

  void post(Task task) {
    {
      std::lock_guard lock(mMutex);
      mTasks.push_back(std::move(task));
    }
    const uint64_t one = 1;
    if (::write(mFd, &one, sizeof one) != sizeof one)
      qCWarning(platform::programLog, "Main queue wake-up failed: %s", strerror(errno));
  }

 private:
  Wakeup() {
    mFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (mFd < 0) qFatal("eventfd for the main queue: %s", strerror(errno));
    auto* notifier = new QSocketNotifier(mFd, QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [this] { runPosted(); });
  }

 public:
  int runPosted() {
    uint64_t posted = 0;
    if (::read(mFd, &posted, sizeof posted) != sizeof posted) return 0;
    // Only the tasks posted before this wake-up: one a task posts runs on a later turn, after
    // the events that arrived meanwhile, as a task of its own would. The count is shared: a
    // task that runs a modal loop leaves the rest of its turn to the wake-ups inside that loop,
    // which would otherwise run the older tasks in place of the new ones and leave as many of
    // the newest waiting until the modal loop ends.
    mDue += posted;
    int ran = 0;
    while (mDue > 0) {
      --mDue;
      Task task;
      {
        std::lock_guard lock(mMutex);
        if (mTasks.empty()) {
          mDue = 0;
          return ran;
        }
        task = std::move(mTasks.front());
        mTasks.pop_front();
      }
      task();
      ++ran;
    }
    return ran;
  }

 private:
  int mFd = -1;
  uint64_t mDue = 0;  // main thread only
  std::mutex mMutex;
  std::deque<Task> mTasks;
};

}  // namespace

QtMainQueuePoster::QtMainQueuePoster() { Wakeup::shared(); }

void QtMainQueuePoster::post(Task task) {
  if (!QCoreApplication::instance()) return;
  Wakeup::shared().post(std::move(task));
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

int runPostedQtMainQueueTasks() {
  auto* app = QCoreApplication::instance();
  if (!app || QThread::currentThread() != app->thread()) return 0;
  return Wakeup::shared().runPosted();
}

bool QtMainQueuePoster::isMainThread() const {
  auto* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

void installQtMainQueue() { installMainQueuePoster(std::make_shared<QtMainQueuePoster>()); }

}  // namespace platform
