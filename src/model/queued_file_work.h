#pragma once
// Reading, decoding, encoding and writing of document and index files, handed to work queues
// (a document's own queue, "orrery.persistence"). The process must not end under such work:
// decoding uses the JSON parser's implementation objects, which are statics the exit destroys
// (a read still parsing then dies with "pure virtual method called"), and a write cut short
// loses the save. So the quit waits for it: registered as a quit waiter at first use, it lets
// the reads under way and every queued write finish, and drops the reads that have not started
// (their task runs with `proceed` false and touches no file; the quit does not wait for the
// work queued ahead of them). Reads run again once the main queue runs a task after the quit's
// wait, which only a process that outlives its quit does. An end that cannot wait for the main
// loop (a quit signal it did not take) waits for the queued writes too
// (platform/core/writes_under_way.h). Any thread.

#include "platform/core/dispatch.h"

#include <functional>

namespace orrery {

class QueuedFileWork {
 public:
  enum class Kind { Read, Write };
  // What a task is told when it runs: false for a read the quit dropped.
  using Task = std::function<void(bool proceed)>;

  // How long the quit waits at most (a write may wait seconds for another instance's lock).
  static constexpr platform::Millis kQuitPatience{10000};

  // Posts `task` to `queue`. A write counts from now until it has run or the queue has dropped
  // it, a read only while it runs.
  static void async(platform::Queue& queue, Kind kind, Task task);

  // The quit's wait: reads not started are dropped from now on; true once nothing counted is
  // left, false when `patience` ran out first.
  static bool finishForQuit(platform::Millis patience = kQuitPatience);
  // True from the start of finishForQuit until reopen.
  static bool quitBegun();
  // Reads run again, after a quit that did not end the process.
  static void reopen();
};

}  // namespace orrery
