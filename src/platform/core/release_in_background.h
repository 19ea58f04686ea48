#pragma once
// Lets go of big values of plain data (strings, numbers, containers of them) on a background
// queue: freeing thousands of entries would otherwise hold the calling thread, the main
// thread above all. Only for values no other thread uses and that own no thread-bound object.

#include "platform/core/dispatch.h"

#include <utility>

namespace platform {

template <typename... Values>
void releaseInBackground(Values&&... values) {
  globalQueue(QueuePriority::Background).async([... doomed = std::forward<Values>(values)] {});
}

}  // namespace platform
