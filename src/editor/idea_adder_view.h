#pragma once
// The small "+" the radial view places in every gap between two planets; tapping it asks for
// a new idea there. During a drag it becomes a small dock well that lights up under the drag.
//
// It tracks no clicks of its own: mouse events pass to its superview, whose tap detector
// reports adder taps, so one click never asks twice for an idea. performClick sends the
// action (the delegate's handleTapOnIdeaAdderView) for keyboard and accessibility use.
// Main thread only.

#include <QImage>
#include <cstdint>
#include <memory>

#include "foundation/views/base_image_view.h"
#include "foundation/views/visual_object.h"
#include "model/idea.h"
#include "platform/ui/view.h"

namespace orrery {

class IdeaAdderView;

class IdeaAdderViewDelegate : public virtual platform::Trackable {
 public:
  virtual void handleTapOnIdeaAdderView(IdeaAdderView& /*adder*/) {}
};

// 0 hidden, 1 plus, 2 plus highlighted, 3 dock well.
using IdeaAdderState = std::uint64_t;

class IdeaAdderView : public platform::View, public VisualObject {
 public:
  static constexpr double kSide = 40;

  IdeaAdderView();

  IdeaAdderState adderState() const { return mAdderState; }
  void setAdderState(IdeaAdderState state);
  bool inFocus() const { return mInFocus; }
  void setInFocus(bool focus);

  IdeaAdderViewDelegate* delegate() const { return mDelegate.get(); }
  void setDelegate(IdeaAdderViewDelegate* delegate) { mDelegate.reset(delegate); }
  const IdeaPtr& objectTag() const { return mObjectTag; }
  void setObjectTag(IdeaPtr idea) { mObjectTag = std::move(idea); }

  // Sends the action, as a click on a control would.
  void performClick();
  void handleTap();

  BaseImageView& imageView() const { return *mImageView; }
  // How many times the look was applied (redundant state changes apply nothing).
  int lookChanges() const { return mLookChanges; }

  void mouseEntered(const platform::Event& event) override;
  void mouseExited(const platform::Event& event) override;
  void updateTrackingAreas() override;

  QPointF center() const override;
  QRectF frame() const override { return View::frame(); }

 private:
  void reactToStateChange();

  std::shared_ptr<BaseImageView> mImageView;
  QImage mPlusIcon;
  QImage mPlusIconActive;
  QImage mSmallDockIcon;
  QImage mSmallDockActiveIcon;
  std::shared_ptr<platform::TrackingArea> mTrackingArea;
  bool mInFocus = false;
  IdeaAdderState mAdderState = 0;
  platform::WeakRef<IdeaAdderViewDelegate> mDelegate;
  IdeaPtr mObjectTag;
  int mLookChanges = 0;
};

}  // namespace orrery
