#include "model/queued_file_work.h"

#include "platform/core/quit_waiters.h"

#include <condition_variable>
#include <memory>
#include <mutex>

namespace orrery {

namespace {

struct Counter {
  std::mutex mutex;  // guards the fields below; never held while a task runs
  std::condition_variable emptied;
  int outstanding = 0;
  bool quitting = false;
};

// Never destroyed: worker threads leave it while the process exits.
Counter& counter() {
  static Counter* made = [] {
    auto* c = new Counter;
    platform::addQuitWaiter("document files", [] { QueuedFileWork::finishForQuit(); });
    return c;
  }();
  return *made;
}

// Counts one task for as long as the queue holds it: a queue that drops its tasks undone
// (destroyed, or stopping) still gives the count back.
class Ticket {
 public:
  Ticket() {
    std::lock_guard lock(counter().mutex);
    ++counter().outstanding;
  }
  ~Ticket() {
    std::lock_guard lock(counter().mutex);
    if (--counter().outstanding == 0) counter().emptied.notify_all();
  }
  Ticket(const Ticket&) = delete;
  Ticket& operator=(const Ticket&) = delete;
};

}  // namespace

void QueuedFileWork::async(platform::Queue& queue, Kind kind, Task task) {
  queue.async([ticket = std::make_shared<Ticket>(), kind, task = std::move(task)] {
    const bool proceed = kind == Kind::Write || !quitBegun();
    if (task) task(proceed);
  });
}

bool QueuedFileWork::finishForQuit(platform::Millis patience) {
  Counter& c = counter();
  std::unique_lock lock(c.mutex);
  c.quitting = true;
  return c.emptied.wait_for(lock, patience, [&] { return c.outstanding == 0; });
}

bool QueuedFileWork::quitBegun() {
  std::lock_guard lock(counter().mutex);
  return counter().quitting;
}

void QueuedFileWork::reopen() {
  std::lock_guard lock(counter().mutex);
  counter().quitting = false;
}

}  // namespace orrery
