#pragma once
// A group of animated view changes, as the platform's animation context with its animator
// proxies: inside `run`, changes made through the group animate from what is on screen to
// their new values over the group's duration, whatever the views' own animation settings,
// and the completion runs once on the main queue when all of them have ended (at once when
// nothing animated). Main thread only.

#include "platform/ui/timing_function.h"

#include <QRectF>

#include <functional>

namespace platform {
class View;
}

namespace orrery {

class AnimationGroup {
 public:
  static void run(double duration, platform::TimingFunction timing, const std::function<void(AnimationGroup&)>& changes,
                  std::function<void()> completion);

  void setAlphaValue(platform::View& view, double alpha);
  void setFrame(platform::View& view, const QRectF& frame);

 private:
  AnimationGroup() = default;
};

}  // namespace orrery
