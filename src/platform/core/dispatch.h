#pragma once
// Queues in the style the application is written against: one main queue, named serial
// queues, a global concurrent queue and groups. Qt-free, so the telemetry SDK can use it;
// the application installs a Qt-backed main-queue poster at start-up.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

using Task = std::function<void()>;
using Millis = std::chrono::milliseconds;

// A place to run tasks. Tasks posted with async run in FIFO order on serial queues.
class Queue {
 public:
  virtual ~Queue() = default;
  virtual void async(Task task) = 0;
  // Runs the task no earlier than `delay` from now.
  virtual void after(Millis delay, Task task) = 0;
  void afterSeconds(double seconds, Task task);
  // True when the calling thread is currently running a task of this queue.
  virtual bool isCurrent() const = 0;
  // Runs the task and waits for it. Running it inline when already on the queue avoids
  // the self-deadlock the platform would have.
  void sync(const Task& task);
  virtual const std::string& label() const = 0;
};

// What actually runs main-queue tasks: the Qt event loop in the application, a RunLoop in
// the SDK's tools and in tests.
class MainQueuePoster {
 public:
  virtual ~MainQueuePoster() = default;
  virtual void post(Task task) = 0;
  virtual void postAfter(Millis delay, Task task) = 0;
  virtual bool isMainThread() const = 0;
};

// Installs the poster behind mainQueue(); returns the previous one. Until one is installed
// main-queue tasks are kept and handed to the first poster installed.
std::shared_ptr<MainQueuePoster> installMainQueuePoster(std::shared_ptr<MainQueuePoster> poster);
Queue& mainQueue();

// A named serial queue with its own thread. Destruction drains nothing: pending tasks are
// dropped, the running one is waited for.
class SerialQueue final : public Queue {
 public:
  explicit SerialQueue(std::string label);
  ~SerialQueue() override;
  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;

  void async(Task task) override;
  void after(Millis delay, Task task) override;
  bool isCurrent() const override;
  const std::string& label() const override;
  // Blocks until every task posted before this call (not the timers) has run; never call it
  // while the queue is suspended.
  void drain();
  // Counted: tasks are taken again only once every suspend has been resumed. The running task
  // finishes; tasks posted meanwhile are kept in order.
  void suspend();
  void resume();

 private:
  struct Impl;
  // Shared with the queue's thread, which may outlive the queue when it is destroyed from
  // one of its own tasks.
  std::shared_ptr<Impl> mImpl;
};

enum class QueuePriority { High, Default, Low, Background };

// A process-wide concurrent queue with a small fixed pool of threads.
Queue& globalQueue(QueuePriority priority = QueuePriority::Default);

// The queue whose task is running on this thread, or nullptr.
Queue* currentQueue();
// The label of that queue, or null; no lock and no allocation (crash-time code reads it).
const char* currentQueueLabel();

// Names the calling thread after a queue's label, cut to the 15 bytes Linux keeps (never
// inside a character), so crash reports and debuggers tell the threads apart.
void nameCurrentThread(const std::string& label);

// Runs once on every serial-queue and global-queue thread before its first task: at the
// thread's start, or before its next task for threads that were running when it was set.
// One hook per process; setting it again replaces it.
using ThreadStartHook = void (*)();
void setThreadStartHook(ThreadStartHook hook);

// Counts outstanding work; notify runs once the count falls to zero.
class DispatchGroup {
 public:
  void enter();
  void leave();
  void async(Queue& queue, Task task);
  void notify(Queue& queue, Task task);
  // Waits at most `timeout`; true when the group emptied.
  bool wait(Millis timeout);

 private:
  std::mutex mMutex;
  std::condition_variable mCond;
  int mCount = 0;
  std::vector<std::pair<Queue*, Task>> mNotify;
};

}  // namespace platform
