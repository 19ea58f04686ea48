#pragma once
// What the application's one quit sequence waits for once the window state is stored: each
// subsystem that must finish writing (the documents' saves, a sync engine's queued writes)
// registers a waiter that blocks until its work is on disk. The quit runs them in the order
// they were added, on the main thread, then waits for the termination holds. Registration is
// safe from any thread; a waiter never registers or removes another.

#include <functional>
#include <string>
#include <vector>

namespace platform {

// Returns an id for removeQuitWaiter.
int addQuitWaiter(std::string name, std::function<void()> waiter);
void removeQuitWaiter(int id);
// Runs every waiter once, in order; the names of those run, for the log.
std::vector<std::string> runQuitWaiters();

}  // namespace platform
