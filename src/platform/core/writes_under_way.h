#pragma once
// The file writes under way in the process, so that an end that does not wait for the main
// loop (a quit signal the loop did not take in time) first lets them finish: no file is left
// half written and no save that had begun is lost. The atomic writer counts each of its
// writes, the document work queue each save from its snapshot to the written file. Any thread.

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

// Closes the writes for good and returns once those under way have ended; the caller then ends
// the process. True when one was under way.
bool closeWritesAndWait();

// Whether closeWritesAndWait has begun.
bool writesClosed();

}  // namespace platform
