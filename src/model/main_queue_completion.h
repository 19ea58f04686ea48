#pragma once
// Hands a completion from a work queue to the main queue so that it, and whatever it holds
// (documents, presenters), is released on the main thread right after it ran: the queue may
// copy the task it is given, and a copy left behind on the worker would otherwise keep a
// document alive after the caller was told that the work is done.

#include "platform/core/dispatch.h"

#include <memory>
#include <utility>

namespace orrery {

// The worker should let go of what it shares with the main thread before calling this.
template <class Completion, class... Args>
void completeOnMainQueue(Completion completion, Args... args) {
  platform::mainQueue().async([completion = std::move(completion), args...]() mutable {
    // Taken out of the task, so it is released here, when it has run, whatever copies of the
    // task a queue keeps.
    Completion once = std::move(completion);
    if (once) once(args...);
  });
}

}  // namespace orrery
