#include "app/start_crash_capture.h"

#include "crash/crash_kit.h"

namespace orrery {

StartCrashCapture::StartCrashCapture() {
  telemetry::CrashKit::captureCrashesBeforeStart([] { startPointReached("hand-over"); });
}

StartCrashCapture::~StartCrashCapture() { telemetry::CrashKit::abandonCaptureBeforeStart(); }

}  // namespace orrery
