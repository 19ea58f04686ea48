#pragma once
// Hands a completion from a work queue to the main queue so that it, and whatever it holds
// (documents, presenters), is released on the main thread right after it ran: the queue may
// copy the task it is given, and a copy left behind on the worker would otherwise keep a
// document alive after the caller was told that the work is done.

#include "platform/core/dispatch.h"

#include <memory>
#include <mutex>
#include <utility>

namespace orrery {

// The handover goes through a lock of our own as well as the queue, so that tools that watch
// memory order (ThreadSanitizer) see what the worker did before as done before the completion;
// the worker should let go of what it shares with the main thread before calling this. The
// handover is owned by the one run of the task (copies of the task share a plain pointer), so
// nothing of it is released on the worker after the main thread used it.
template <class Completion, class... Args>
void completeOnMainQueue(Completion completion, Args... args) {
  struct Handover {
    std::mutex lock;
    Completion completion;
  };
  auto* handover = new Handover();
  {
    std::lock_guard guard(handover->lock);
    handover->completion = std::move(completion);
  }
  platform::mainQueue().async([handover, args...] {
    Completion once;
    {
      std::lock_guard guard(handover->lock);
      once = std::move(handover->completion);
    }
    delete handover;
    if (once) once(args...);
  });
}

}  // namespace orrery
