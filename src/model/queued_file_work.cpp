#include "model/queued_file_work.h"

#include "platform/core/quit_waiters.h"
#include "platform/core/writes_under_way.h"

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
    platform::addQuitWaiter("document files", [] {
      QueuedFileWork::finishForQuit();
      // The quit ends the main loop, which then runs no more tasks: in the program the reads
      // stay dropped until the process is gone. A process whose loop goes on after a quit (the
      // tests run one application after another) gets its reads back at the loop's next turn.
      platform::mainQueue().async([] { QueuedFileWork::reopen(); });
    });
    return c;
  }();
  return *made;
}

// One counted task for as long as it lives: a queue that drops a task undone (destroyed, or
// stopping) still gives its count back.
class Ticket {
 public:
  // A read is only counted when it starts, and not at all once the quit has begun.
  static std::unique_ptr<Ticket> take(QueuedFileWork::Kind kind) {
    Counter& c = counter();
    std::lock_guard lock(c.mutex);
    if (kind == QueuedFileWork::Kind::Read && c.quitting) return nullptr;
    ++c.outstanding;
    return std::unique_ptr<Ticket>(new Ticket);
  }
  ~Ticket() {
    Counter& c = counter();
    std::lock_guard lock(c.mutex);
    if (--c.outstanding == 0) c.emptied.notify_all();
  }
  Ticket(const Ticket&) = delete;
  Ticket& operator=(const Ticket&) = delete;

 private:
  Ticket() = default;
};

}  // namespace

void QueuedFileWork::async(platform::Queue& queue, Kind kind, Task task) {
  std::shared_ptr<Ticket> queued;
  // A save from its snapshot to the written file: an end that cannot wait for the quit still
  // lets it run, also when it waits behind other work.
  std::shared_ptr<platform::QueuedWrite> write;
  if (kind == Kind::Write) {
    queued = Ticket::take(kind);
    write = std::make_shared<platform::QueuedWrite>();
  }
  queue.async([queued, write, task = std::move(task)] {
    if (write) return write->run([&task] {
      if (task) task(true);
    });
    const std::unique_ptr<Ticket> running = Ticket::take(Kind::Read);
    if (task) task(running != nullptr);
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
