#pragma once
// Hands a completion from a work queue to the main queue so that it, and whatever it holds
// (documents, presenters), is released on the main thread right after it ran: the queue may
// copy the task it is given, and a copy left behind on the worker would otherwise keep a
// document alive after the caller was told that the work is done.

#include "platform/core/dispatch.h"

#include <memory>
#include <utility>

namespace orrery {

template <class Completion, class... Args>
void completeOnMainQueue(Completion completion, Args... args) {
  auto held = std::make_shared<Completion>(std::move(completion));
  platform::mainQueue().async([held, args...] {
    Completion once = std::move(*held);
    *held = Completion();
    if (once) once(args...);
  });
}

}  // namespace orrery
