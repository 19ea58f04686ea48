#pragma once
// Work split into parts that the calling thread and a few helpers of the global queue take one
// after another; the call returns once every part has run. The caller takes parts itself and
// waits only for parts a helper has begun, so it never waits on a queue that is busy elsewhere.

#include <cstddef>
#include <functional>

namespace orrery {

// Runs `part(i)` once for every i in 0 … parts − 1, on up to `helpers` other threads besides
// the calling one (fewer when the process may use fewer cores).
void runInParts(std::size_t parts, std::size_t helpers, const std::function<void(std::size_t)>& part);

// The threads worth using at once: the cores this process may run on.
std::size_t usableCores();

}  // namespace orrery
