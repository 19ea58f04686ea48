#pragma once
// The file writes under way in the process, so that an end that does not wait for the main
// loop (a quit signal the loop did not take in time) first lets them finish: no file is left
// half written and no save that was asked for is lost. The atomic writer counts each of its
// writes, the document work queues each save from the moment it is queued (its snapshot taken)
// to the written file. Any thread.

#include <chrono>
#include <functional>

namespace platform {

// Counts a write for as long as it lives; one inside another on the same thread counts once.
// Once the writes are closed, a new one (on a thread without one under way) never starts: it
// waits for the process to end.
class WriteUnderWay {
 public:
  WriteUnderWay();
  ~WriteUnderWay();
  WriteUnderWay(const WriteUnderWay&) = delete;
  WriteUnderWay& operator=(const WriteUnderWay&) = delete;
};

// A write handed to a queue, counted from now until it has run or its queue dropped it. Queued
// before the writes were closed, it still runs once they are: it was asked for before the end.
class QueuedWrite {
 public:
  QueuedWrite();
  ~QueuedWrite();
  QueuedWrite(const QueuedWrite&) = delete;
  QueuedWrite& operator=(const QueuedWrite&) = delete;

  // Runs `write` on the calling thread as this write (the writes inside it count as it); once.
  void run(const std::function<void()>& write);
  // Runs `part` the same way but stays counted: a write made of steps on more than one queue
  // (a file, then the record naming it) is one write. Parts run one after another.
  void runPart(const std::function<void()>& part);

 private:
  bool mCounted = false;
};

struct WritesWaitedFor {
  int count = 0;       // under way or queued when the writes were closed
  int unfinished = 0;  // of those, the ones still counted when the patience ran out
  std::chrono::milliseconds waited{0};
};

// Closes the writes for good and returns once those under way or queued have ended, or once
// `patience` has run out (a queue that never reaches its write); the caller then ends the
// process.
WritesWaitedFor closeWritesAndWait(std::chrono::milliseconds patience);

// Whether closeWritesAndWait has begun.
bool writesClosed();

}  // namespace platform
