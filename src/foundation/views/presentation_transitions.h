#pragma once
// The two ways a screen presents another controller inside its window. Both host the
// presented view in the presenting view's superview (a flipped BaseView):
// - SlideUpViewTransitionAnimation slides it up from below into the presenting view's frame
//   over 0.3 s and then hides the presenting view; dismissal slides it back down.
// - PartialViewTransitionAnimation drops a 370-point band from the top over a blurred,
//   click-catching cover of the screen over 0.4 s; dismissal lifts it out and fades the cover.
// One animator object serves one presentation and its dismissal. Main thread only.

#include "foundation/views/blur_view.h"
#include "platform/ui/view_controller.h"

#include <memory>

namespace orrery {

class Animator;

class SlideUpViewTransitionAnimation : public platform::PresentationAnimator {
 public:
  void animatePresentation(platform::ViewController& presented, platform::ViewController& presenting) override;
  void animateDismissal(platform::ViewController& presented, platform::ViewController& presenting) override;
};

class PartialViewTransitionAnimation : public platform::PresentationAnimator {
 public:
  static constexpr double kPanelHeight = 370.0;

  void animatePresentation(platform::ViewController& presented, platform::ViewController& presenting) override;
  void animateDismissal(platform::ViewController& presented, platform::ViewController& presenting) override;

  const std::shared_ptr<ScreenProtectorView>& protector() const { return mProtector; }

 private:
  std::shared_ptr<ScreenProtectorView> mProtector;
  std::weak_ptr<Animator> mRunning;
};

}  // namespace orrery
