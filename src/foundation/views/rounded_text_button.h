#pragma once
// The rounded push button with a text title, in four looks (outlined, light fill, small
// outlined, green fill); pressed, every look is filled green with a white title. The press
// is reported 100 ms after the release, wherever the pointer is then; a setToggled from
// outside meanwhile drops the report. Main thread only.

#include "foundation/views/titled_button_base.h"

namespace orrery {

class RoundedTextButton;

class RoundedTextButtonDelegate : public virtual platform::Trackable {
 public:
  virtual void roundedTextButtonPressed(RoundedTextButton& /*button*/) {}
};

class RoundedTextButton : public TitledButtonBase {
 public:
  // Styles 0 to 3; another value draws like style 0.
  RoundedTextButton(RoundedTextButtonDelegate* delegate, std::uint64_t style);

  std::uint64_t style() const { return mStyle; }
  void setButtonTitle(const QString& title);
  double preferredHeight() const;
  void sizeToFit();
  // The look does not change.
  void setEnabled(bool enabled) { setUserInteractionEnabled(enabled); }
  RoundedTextButtonDelegate* delegate() const { return mDelegate.get(); }
  void setDelegate(RoundedTextButtonDelegate* delegate) { mDelegate.reset(delegate); }

  void updateView() override;
  void drawRect(QPainter& painter, const QRectF& dirtyRect) override;
  void mouseDown(const platform::Event& event) override;
  void mouseUp(const platform::Event& event) override;

 private:
  platform::WeakRef<RoundedTextButtonDelegate> mDelegate;
  std::uint64_t mStyle = 0;
};

}  // namespace orrery
