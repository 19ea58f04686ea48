#pragma once
// The generic layered button: a stack of part views, each visible in the normal state, the
// active state or always, so a pressed or toggled look is shown by hiding and showing
// prepared views rather than by redrawing. A push button reports 100 ms after the release
// (a later release or setToggled drops a pending report); a toggle button reports at the
// press and leaves its toggled state to the delegate. Main thread only.

#include "foundation/views/base_view.h"
#include "foundation/views/user_interaction_protocol.h"
#include "platform/ui/event.h"

#include <QImage>
#include <QString>

#include <any>
#include <cstdint>
#include <optional>

namespace orrery {

class ButtonView;

class ButtonViewDelegate : public virtual platform::Trackable {
 public:
  virtual void buttonPressed(ButtonView& /*button*/) {}
};

struct ButtonPart {
  // 1: only in the normal state; 2: only in the active state; any other value: always.
  static constexpr std::uint64_t kNormal = 1;
  static constexpr std::uint64_t kActive = 2;

  std::shared_ptr<platform::View> view;
  std::uint64_t mask = 0;
  LayoutBlock layoutBlock;
};

class ButtonView : public BaseView, public UserInteractionProtocol {
 public:
  ButtonView();
  // Either image may be null; the frame takes the normal image's size.
  ButtonView(const QImage& image, const QImage& activeImage);

  void addImage(const QImage& image, std::uint64_t mask);
  void addView(std::shared_ptr<platform::View> view, std::uint64_t mask, LayoutBlock layout = {});
  const std::vector<ButtonPart>& parts() const { return mParts; }
  void updateViewStateForPart(const ButtonPart& part);
  void updateViewStateForPart(const ButtonPart& part, bool active);

  bool toggled() const { return mToggled; }
  // Drops a pending release report, then shows the parts of the new state.
  void setToggled(bool toggled);
  bool isToggleButton() const { return mIsToggleButton; }
  void setIsToggleButton(bool toggle) { mIsToggleButton = toggle; }

  void setUserInteractionEnabled(bool enabled) override { mUserInteractionEnabled = enabled; }
  bool userInteractionEnabled() const override { return mUserInteractionEnabled; }

  const std::any& associatedObject() const { return mAssociatedObject; }
  void setAssociatedObject(std::any object) { mAssociatedObject = std::move(object); }
  const std::optional<platform::Event>& lastEvent() const { return mLastEvent; }
  void setLastEvent(std::optional<platform::Event> event) { mLastEvent = std::move(event); }
  ButtonViewDelegate* delegate() const { return mDelegate.get(); }
  void setDelegate(ButtonViewDelegate* delegate) { mDelegate.reset(delegate); }
  // A name for diagnostics only.
  const QString& debugTag() const { return mDebugTag; }
  void setDebugTag(QString tag) { mDebugTag = std::move(tag); }

  // The button takes every click inside its frame; its parts never do.
  platform::View* hitTest(const QPointF& pointInSuperview) override;
  void applyLayout() override;
  void mouseDown(const platform::Event& event) override;
  void mouseUp(const platform::Event& event) override;

 private:
  void updateAllParts(bool active);

  std::vector<ButtonPart> mParts;
  std::int64_t mOperationCount = 0;
  bool mUserInteractionEnabled = true;
  bool mToggled = false;
  bool mMouseDownSeen = false;
  bool mIsToggleButton = false;
  std::optional<platform::Event> mLastEvent;
  std::any mAssociatedObject;
  platform::WeakRef<ButtonViewDelegate> mDelegate;
  QString mDebugTag;
};

}  // namespace orrery
