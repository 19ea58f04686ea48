#include "app/start_crash_capture.h"

#include "crash/crash_kit.h"

#include <csignal>
#include <cstdlib>
#include <cstring>

namespace orrery {

StartCrashCapture::StartCrashCapture() { telemetry::CrashKit::captureCrashesBeforeStart(); }

StartCrashCapture::~StartCrashCapture() { telemetry::CrashKit::abandonCaptureBeforeStart(); }

void crashHereWhenAsked(const char* point) {
  const char* asked = std::getenv("ORRERY_CRASH_AT");
  if (asked && std::strcmp(asked, point) == 0) std::raise(SIGSEGV);
}

}  // namespace orrery
