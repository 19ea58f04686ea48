#pragma once
// The what's-new screen: a blurred picture of what the window showed, and over it a light
// panel with the logo, the version, the release's headline, a list of further changes and a
// button that closes it. Mouse, scroll and key events that reach it stop here, so the
// document beneath cannot be touched while it shows. Main thread only.

#include "foundation/kit_image.h"
#include "foundation/views/base_view.h"
#include "foundation/views/rounded_text_button.h"

#include <memory>
#include <vector>

namespace orrery {

class BaseImageView;
class BlurView;
class ColoredView;
class TextView;

class WelcomeScreenView : public BaseView, public RoundedTextButtonDelegate {
 public:
  // Sized to the screenshot (one pixel per point).
  explicit WelcomeScreenView(const KitImage& screenshot);

  std::shared_ptr<TextView> addPrimaryLabel(const QString& text);
  std::shared_ptr<TextView> addSecondaryLabel(const QString& text);
  std::shared_ptr<RoundedTextButton> addCloseButton(const QString& title);
  void roundedTextButtonPressed(RoundedTextButton& button) override;

  void applyLayout() override;

  const std::shared_ptr<ColoredView>& coloredView() const { return mColoredView; }
  const std::shared_ptr<BlurView>& blurView() const { return mBlurView; }
  const std::shared_ptr<BaseImageView>& logoView() const { return mLogoView; }
  const std::shared_ptr<TextView>& versionLabel() const { return mVersionLabel; }
  const std::shared_ptr<TextView>& welcomeLabel() const { return mWelcomeLabel; }
  const std::shared_ptr<TextView>& listTitleLabel() const { return mListTitleLabel; }
  const std::vector<std::shared_ptr<TextView>>& itemLabels() const { return mItemLabels; }
  const std::shared_ptr<TextView>& bottomLabel() const { return mBottomLabel; }
  const std::shared_ptr<RoundedTextButton>& closeButton() const { return mCloseButtonView; }

  // Events stop here; the close button, a subview, still gets its own clicks.
  bool acceptsFirstResponder() const override { return true; }
  void mouseDown(const platform::Event& /*event*/) override {}
  void mouseDragged(const platform::Event& /*event*/) override {}
  void mouseUp(const platform::Event& /*event*/) override {}
  void mouseMoved(const platform::Event& /*event*/) override {}
  void mouseEntered(const platform::Event& /*event*/) override {}
  void mouseExited(const platform::Event& /*event*/) override {}
  void rightMouseDragged(const platform::Event& /*event*/) override {}
  void otherMouseDown(const platform::Event& /*event*/) override {}
  void otherMouseDragged(const platform::Event& /*event*/) override {}
  void otherMouseUp(const platform::Event& /*event*/) override {}
  void scrollWheel(const platform::Event& /*event*/) override {}
  void magnifyWithEvent(const platform::Event& /*event*/) override {}
  void keyDown(const platform::Event& event) override { mLastKeyCode = event.keyCode; }
  void keyUp(const platform::Event& /*event*/) override {}
  void flagsChanged(const platform::Event& /*event*/) override {}
  void tabletPoint(const platform::Event& /*event*/) override {}
  void tabletProximity(const platform::Event& /*event*/) override {}
  void cursorUpdate(const platform::Event& event) override;
  int lastKeyCode() const { return mLastKeyCode; }
  // Once shown: the card takes the window's keys until it closes, then hands them back to
  // whoever had them, so none reaches the screen it covers meanwhile.
  void takeTheKeys();

 private:
  std::shared_ptr<TextView> addLabel(const QString& text, const QColor& color, const QSizeF& size);

  std::shared_ptr<ColoredView> mColoredView;
  std::shared_ptr<BlurView> mBlurView;
  std::shared_ptr<BaseImageView> mLogoView;
  std::shared_ptr<TextView> mVersionLabel;
  std::shared_ptr<TextView> mWelcomeLabel;
  std::shared_ptr<TextView> mListTitleLabel;
  std::vector<std::shared_ptr<TextView>> mItemLabels;
  std::shared_ptr<TextView> mBottomLabel;
  std::shared_ptr<RoundedTextButton> mCloseButtonView;
  int mLastKeyCode = -1;
  platform::WeakRef<platform::Responder> mKeysBefore;
};

}  // namespace orrery
