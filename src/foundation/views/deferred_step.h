#pragma once
// A main-queue step deferred on behalf of a view: the view is kept alive until the step has
// run when something owns it through a shared_ptr, and the step is skipped when the view
// has gone meanwhile. Steps are invalidated by their owners' counters, never cancelled.

#include "platform/core/dispatch.h"
#include "platform/ui/view.h"

#include <functional>

namespace orrery {

inline void deferOnMainQueue(platform::View& view, int milliseconds, std::function<void()> step) {
  platform::WeakRef<platform::View> self(&view);
  std::shared_ptr<platform::View> keep = view.weak_from_this().lock();
  platform::mainQueue().after(platform::Millis(milliseconds), [self, keep, step = std::move(step)] {
    if (self.get()) step();
  });
}

}  // namespace orrery
