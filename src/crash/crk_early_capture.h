#pragma once
// Crash capture from the first lines of main, before the kit starts: making the application
// object, taking the single-instance lock and the installs before the first main-queue turn
// take tens of milliseconds, and a fault there must leave a trace. The launch marker is put
// in place at once, and a fatal signal writes its "signal" record into a report folder of its
// own, which the next start finds among the earlier reports. The kit takes over when it
// starts: the early handlers and the untouched folder go, and it hears whether the marker
// was already there (the last launch failed).

#include <optional>
#include <string>

namespace telemetry {

// Main thread, once, before any other thread is made. `rootPath` is the crash data tree's
// root; false when nothing could be set up (the program runs on without it).
bool CRKEarlyCaptureInstall(const std::string& rootPath);

// Puts back the signal actions and alternate stack that were there before, removes the early
// report folder and answers whether the launch marker already existed when the capture
// made it; nothing when the capture was not installed. Later calls answer nothing.
std::optional<bool> CRKEarlyCaptureEnd();

// A process that ends before the kit started (a launch that handed its arguments over):
// ends the capture and takes away the launch marker it made.
void CRKEarlyCaptureAbandon();

// The early report folder (empty when not installed), for tests.
std::string CRKEarlyCaptureReportPath();

}  // namespace telemetry
