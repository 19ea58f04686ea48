#pragma once
// The application's main queue: tasks run on the Qt GUI thread's event loop, so they also
// run inside nested modal loops (dialogs, menus).

#include "platform/core/dispatch.h"

namespace platform {

class QtMainQueuePoster final : public MainQueuePoster {
 public:
  void post(Task task) override;
  void postAfter(Millis delay, Task task) override;
  bool isMainThread() const override;
};

// Installs a QtMainQueuePoster; call once the QCoreApplication exists.
void installQtMainQueue();

}  // namespace platform
