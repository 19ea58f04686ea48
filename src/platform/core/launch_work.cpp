#include "platform/core/launch_work.h"

#include <mutex>
#include <vector>

namespace platform {

namespace {

struct Held {
  std::mutex mutex;
  bool held = false;
  std::vector<Task> waiting;
};

Held& held() {
  static auto* shared = new Held;  // released work may come from threads outliving statics
  return *shared;
}

}  // namespace

void holdLaunchWork() {
  std::lock_guard lock(held().mutex);
  held().held = true;
}

void releaseLaunchWork() {
  std::vector<Task> waiting;
  {
    std::lock_guard lock(held().mutex);
    held().held = false;
    waiting.swap(held().waiting);
  }
  // Work released here may hand over more; nothing holds now, so that runs at once.
  for (Task& work : waiting) work();
}

bool isLaunchWorkHeld() {
  std::lock_guard lock(held().mutex);
  return held().held;
}

void afterLaunch(Task work) {
  {
    std::lock_guard lock(held().mutex);
    if (held().held) {
      held().waiting.push_back(std::move(work));
      return;
    }
  }
  work();
}

}  // namespace platform
