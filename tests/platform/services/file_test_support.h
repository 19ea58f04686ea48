#pragma once
// Helpers for tests that wait on the Qt event loop (file watchers) and the main queue.

#include "platform/core/dispatch.h"
#include "platform/services/qt_main_queue.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <functional>
#include <memory>

namespace testsupport {

// Runs the Qt event loop (and so the Qt-backed main queue) until pred() holds. The deadline
// only keeps a broken test from hanging; nothing is asserted about how long it took.
inline bool spinUntil(const std::function<bool()>& pred, int safetyMs = 20000) {
  QDeadlineTimer deadline(safetyMs);
  QTimer tick;
  tick.start(5);
  while (!pred()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
  return true;
}

// Lets everything already queued run: events, main-queue tasks and the tasks they post.
inline void drainEvents() {
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// Puts the main queue on the Qt event loop for the life of the object.
class QtMainQueueScope {
 public:
  QtMainQueueScope()
      : mPrevious(platform::installMainQueuePoster(std::make_shared<platform::QtMainQueuePoster>())) {}
  ~QtMainQueueScope() {
    drainEvents();
    platform::installMainQueuePoster(mPrevious);
  }

 private:
  std::shared_ptr<platform::MainQueuePoster> mPrevious;
};

}  // namespace testsupport
