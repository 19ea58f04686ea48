#include "platform/ui/first_frame.h"

#include "platform/core/dispatch.h"

namespace platform {
namespace {

// Either the frame or the deadline runs the work; whichever comes second finds it gone.
void runOnce(const std::shared_ptr<std::function<void()>>& pending) {
  if (!*pending) return;
  auto work = std::move(*pending);
  *pending = nullptr;
  work();
}

}  // namespace

void FirstFrameWaiters::after(std::function<void()> work, double latestSeconds) {
  auto pending = std::make_shared<std::function<void()>>(std::move(work));
  if (mDrawn) {
    mainQueue().async([pending] { runOnce(pending); });
    return;
  }
  mWaiting.push_back(pending);
  mainQueue().afterSeconds(latestSeconds, [pending] { runOnce(pending); });
}

void FirstFrameWaiters::frameDrawn() {
  if (mDrawn) return;
  mDrawn = true;
  // On the main queue, so the frame is on screen before the work starts.
  for (auto& pending : mWaiting) mainQueue().async([pending] { runOnce(pending); });
  mWaiting.clear();
}

}  // namespace platform
