#pragma once
// For tests only: resets what Globals caches for the life of a process.

namespace orrery {

// Forgets the cached text-size factor, as a new process would.
void forgetCachedFontSizeFactor();

}  // namespace orrery
