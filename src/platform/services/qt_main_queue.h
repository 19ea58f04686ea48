#pragma once
// The application's main queue: tasks run on the Qt GUI thread's event loop, so they also
// run inside nested modal loops (dialogs, menus).

#include "platform/core/dispatch.h"

namespace platform {

// Tasks are handed to the main thread under a lock of ours and the event loop is woken through
// an eventfd, never through Qt's own queue, so a thread checker sees every hand-over.
class QtMainQueuePoster final : public MainQueuePoster {
 public:
  // Made on the main thread once the QCoreApplication exists.
  QtMainQueuePoster();

  void post(Task task) override;
  void postAfter(Millis delay, Task task) override;
  bool isMainThread() const override;
};

// Runs, from the main thread, the main-queue tasks posted so far; answers how many ran.
int runPostedQtMainQueueTasks();

// Installs a QtMainQueuePoster; call once the QCoreApplication exists.
void installQtMainQueue();

}  // namespace platform
