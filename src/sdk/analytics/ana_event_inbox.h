#pragma once
// Where recorded events wait for the analytics event queue. A recorder pays one allocation
// from its arena and one compare-and-swap, never a lock, so recorders on many threads do not queue behind
// each other or behind a preempted holder. The inbox also knows whether a drain is due: the
// push that finds it idle answers true and its caller schedules one; a drain that ends with
// entries waiting learns it from finishDrain and schedules the next itself. So an entry is
// handed to the queue as soon as the queue is free, never held back.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "sdk/analytics/ana_event.h"
#include "sdk/core/operation.h"

namespace telemetry {

class ANAEventInbox {
 public:
  // Work that must run in its place among the events, given the drain's termination hold.
  using Block = std::function<void(const std::shared_ptr<Operation>& activity)>;
  // An event or a block.
  struct Entry {
    std::shared_ptr<const ANAEvent> event;
    Block block;
  };

  ANAEventInbox() = default;
  ~ANAEventInbox();  // drops what still waits
  ANAEventInbox(const ANAEventInbox&) = delete;
  ANAEventInbox& operator=(const ANAEventInbox&) = delete;

  // True when the inbox was idle: the caller must schedule a drain.
  bool push(Entry entry);
  // Everything pushed so far, oldest first; the inbox counts as draining until finishDrain.
  std::vector<Entry> take();
  // True when nothing came since take and the inbox is idle again; false when entries came
  // meanwhile: the caller drains again (a push seeing them did not ask for it).
  bool finishDrain();

 private:
  struct Node {
    Entry entry;
    Node* next;
  };
  // The head while a drain runs and nothing came since it took; never a real node's address.
  static Node* draining() { return reinterpret_cast<Node*>(std::uintptr_t{1}); }

  // Newest first; null when idle.
  std::atomic<Node*> mHead{nullptr};
};

}  // namespace telemetry
