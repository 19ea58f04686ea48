#pragma once
// Work a launch can put off until its first window shows: the program holds it while it builds
// that window and releases it once the window is drawn (or it quits first). Nothing holds it
// until a launch asks to, so tools and tests run such work at once.

#include "platform/core/dispatch.h"

namespace platform {

// From now until releaseLaunchWork, work handed to afterLaunch waits.
void holdLaunchWork();
// Runs the waiting work on the calling thread, in the order it was handed over; later calls
// do nothing until the next hold.
void releaseLaunchWork();
bool isLaunchWorkHeld();
// Runs `work` now on the calling thread when nothing holds launch work, else at the release.
// Keep it short (resume a queue, post a task): released work runs one piece after another.
void afterLaunch(Task work);

}  // namespace platform
