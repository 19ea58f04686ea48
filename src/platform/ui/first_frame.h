#pragma once
// Work a program's first frame does not need (starting services, cards over a window) waits
// until a window has drawn its first frame, so the user sees a window as early as possible.
// Main thread only.

#include <functional>
#include <memory>
#include <vector>

namespace platform {

class FirstFrameWaiters {
 public:
  // Should no window draw, waiting work runs this long after it was handed over.
  static constexpr double kLatestSeconds = 1.0;

  // Runs `work` on the main queue once a frame was drawn (soon, when one already was), or
  // `latestSeconds` after now, whichever comes first; never twice.
  void after(std::function<void()> work, double latestSeconds = kLatestSeconds);
  // Called after a window drew a frame.
  void frameDrawn();
  bool hasDrawn() const { return mDrawn; }

 private:
  using Pending = std::shared_ptr<std::function<void()>>;
  bool mDrawn = false;
  std::vector<Pending> mWaiting;
};

}  // namespace platform
