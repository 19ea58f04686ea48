#pragma once
// The dock well: a 40-point well showing the idea parked in the window's dock slot as a small
// planet. A press on the planet takes it out of the well and asks the delegate to drag it; the
// slot itself lives in the window, and the screen refreshes the well from it after every drag.
// Main thread only.

#include "editor/simple_idea_view.h"
#include "foundation/views/base_image_view.h"
#include "foundation/views/user_interaction_protocol.h"
#include "model/idea.h"
#include "platform/ui/weak_ref.h"

#include <memory>

namespace orrery {

class DockAreaViewDelegate : public virtual platform::Trackable {
 public:
  // The user pressed on the docked planet, which has just left the well.
  virtual void dragFromDockAreaWithIdeaView(const std::shared_ptr<SimpleIdeaView>& ideaView,
                                            const platform::Event& event) = 0;
};

class DockAreaView : public BaseImageView, public UserInteractionProtocol {
 public:
  static constexpr double kSide = 40;
  DockAreaView();

  // An idea shows as a drag-copy planet; null empties the well.
  void takeIdeaInside(const IdeaPtr& idea, const QString& docIdentifier);
  void takeIdeaViewInside(const std::shared_ptr<SimpleIdeaView>& view);
  // The planet is drawn 1.2 times as high as the well.
  float scaleForView(const platform::View& view) const;
  const std::shared_ptr<SimpleIdeaView>& ideaView() const { return mIdeaView; }

  DockAreaViewDelegate* delegate() const { return mDelegate.get(); }
  void setDelegate(DockAreaViewDelegate* delegate) { mDelegate.reset(delegate); }
  void setUserInteractionEnabled(bool enabled) override { mUserInteractionEnabled = enabled; }
  bool userInteractionEnabled() const override { return mUserInteractionEnabled; }

  void mouseDown(const platform::Event& event) override;
  void mouseDragged(const platform::Event& /*event*/) override {}
  void mouseUp(const platform::Event& /*event*/) override {}

 private:
  std::shared_ptr<SimpleIdeaView> mIdeaView;
  bool mUserInteractionEnabled = true;
  platform::WeakRef<DockAreaViewDelegate> mDelegate;
};

}  // namespace orrery
