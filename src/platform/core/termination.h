#pragma once
// Process-wide holds on quitting: work that must not be cut short (recording an event,
// sending a log) takes a hold and gives it back when done, and the application's quit waits
// until no hold is left. Sudden-termination holds are counted; automatic-termination holds
// are counted per reason. Safe from any thread.

#include <chrono>
#include <string>

namespace platform {

void disableSuddenTermination();
// Gives back one hold; more give-backs than holds change nothing.
void enableSuddenTermination();
void disableAutomaticTermination(const std::string& reason);
void enableAutomaticTermination(const std::string& reason);

int suddenTerminationHoldCount();
int automaticTerminationHoldCount();

// Waits until no hold of either kind is left, at most `timeout`; true when none is left.
bool waitUntilTerminationAllowed(std::chrono::milliseconds timeout);

}  // namespace platform
