#pragma once
// Crash capture from the first lines of main, before the kit starts: making the application
// object, taking the single-instance lock and the installs before the first main-queue turn
// take tens of milliseconds, and a fault there must leave a trace. The launch marker is put
// in place at once, and a fatal signal writes its "signal" record into a report folder of its
// own, which the next start finds among the earlier reports. The kit takes over when it
// starts: it hears whether the marker was already there (the last launch failed), puts its own
// handlers in while the early ones are still there, so that no fault falls between the two,
// and only then are the early handlers and the untouched folder gone.

#include <signal.h>

#include <cstddef>
#include <optional>
#include <string>

namespace telemetry {

// Main thread, once, before any other thread is made. `rootPath` is the crash data tree's
// root; false when nothing could be set up (the program runs on without it). `atHandOver`, when
// given, is called as the kit is about to put its handlers in (a test build crashes there).
bool CRKEarlyCaptureInstall(const std::string& rootPath, void (*atHandOver)() = nullptr);

// Whether the launch marker already existed when the capture made it; nothing when the capture
// is not installed.
std::optional<bool> CRKEarlyCaptureMarkerFound();

// The kit is about to put its handlers in: calls the installer's `atHandOver`.
void CRKEarlyCaptureHandOverReached();

// The kit keeps the handling it replaces, to hand a fault on to: an action or alternate stack
// of the capture's own is changed into the one the capture replaced.
void CRKEarlyCaptureSeeThroughAction(size_t signalIndex, struct sigaction* action);
void CRKEarlyCaptureSeeThroughStack(stack_t* stack);

// Puts back the signal actions and alternate stack that were there before where the capture's
// own are still in place (what the kit installed stays), removes the early report folder and
// answers whether the launch marker already existed when the capture made it; nothing when
// the capture was not installed. Later calls answer nothing.
std::optional<bool> CRKEarlyCaptureEnd();

// A process that ends before the kit started (a launch that handed its arguments over):
// ends the capture and takes away the launch marker it made.
void CRKEarlyCaptureAbandon();

// The early report folder (empty when not installed), for tests.
std::string CRKEarlyCaptureReportPath();

}  // namespace telemetry
