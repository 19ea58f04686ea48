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

// Tests name a point of the start in ORRERY_CRASH_AT ("start", "application", "launch"); the
// program dies there of SIGSEGV. Nothing happens otherwise.
void crashHereWhenAsked(const char* point);

}  // namespace orrery
