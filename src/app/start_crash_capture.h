#pragma once
// Crashes during the start are recorded from the first lines of main, before the application
// object, the single-instance lock and the installs before the first main-queue turn; the
// crash reporter takes over when telemetry starts.

namespace orrery {

// Held by main: a process that ends before telemetry started (a launch that handed its
// arguments over, a refused command line) leaves no trace of a start behind.
class StartCrashCapture {
 public:
  StartCrashCapture();
  ~StartCrashCapture();
  StartCrashCapture(const StartCrashCapture&) = delete;
  StartCrashCapture& operator=(const StartCrashCapture&) = delete;
};

// main passes the named points of its start here: "start" (the capture set up), "application"
// (the application object made) and "launch" (the first turn of the main queue); the capture
// passes "hand-over" (the crash reporter about to put its own handlers in). The program links a
// definition that does nothing; a test build of it links one that can crash there.
void startPointReached(const char* point);

}  // namespace orrery
