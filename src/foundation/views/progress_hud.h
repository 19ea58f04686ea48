#pragma once
// A heads-up display: a rounded box in the middle of a view holding an optional indicator,
// a label and a details label, faded in on show and out on hide, with optional grace and
// minimum-show times. It covers its whole superview and swallows clicks until it has
// finished. y-up inside. A finished HUD stays a hidden subview unless
// removeFromSuperViewOnHide is on. Main thread only; property changes made on another
// thread are applied later on the main thread.

#include "platform/ui/label_view.h"
#include "platform/ui/view.h"

#include <QColor>
#include <QFont>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace orrery {

class ProgressHUD : public platform::View {
 public:
  enum Mode : std::int64_t {
    Indeterminate = 0,
    Determinate = 1,
    DeterminateHorizontalBar = 2,
    AnnularDeterminate = 3,
    CustomView = 4,
    Text = 5,
  };

  // Covers `view`'s frame size; alpha 0 until shown.
  explicit ProgressHUD(platform::View& view);
  // A new HUD added on top of `view` and shown.
  static std::shared_ptr<ProgressHUD> showHUDAddedTo(platform::View& view, bool animated);

  void show(bool animated);
  void hide(bool animated);

  bool isFlipped() const override { return false; }

  // Properties.
  std::int64_t mode() const { return mMode; }
  void setMode(std::int64_t mode);
  QString labelText() const { return mLabelText; }
  void setLabelText(const QString& text);
  QString detailsLabelText() const { return mDetailsLabelText; }
  void setDetailsLabelText(const QString& text);
  QFont labelFont() const { return mLabelFont; }
  void setLabelFont(const QFont& font);
  QColor labelColor() const { return mLabelColor; }
  void setLabelColor(const QColor& color);
  QFont detailsLabelFont() const { return mDetailsLabelFont; }
  void setDetailsLabelFont(const QFont& font);
  QColor detailsLabelColor() const { return mDetailsLabelColor; }
  void setDetailsLabelColor(const QColor& color);
  // Invalid: the box is black with alpha `opacity`.
  QColor color() const { return mColor; }
  void setColor(const QColor& color);
  float opacity() const { return mOpacity; }
  void setOpacity(float opacity);
  float xOffset() const { return mXOffset; }
  void setXOffset(float offset);
  float yOffset() const { return mYOffset; }
  void setYOffset(float offset);
  float margin() const { return mMargin; }
  void setMargin(float margin);
  float cornerRadius() const { return mCornerRadius; }
  void setCornerRadius(float radius);
  float spinsize() const { return mSpinsize; }
  void setSpinsize(float size) { mSpinsize = size; }
  QSizeF minSize() const { return mMinSize; }
  void setMinSize(const QSizeF& size);
  bool isSquare() const { return mSquare; }
  void setSquare(bool square);
  bool dimBackground() const { return mDimBackground; }
  void setDimBackground(bool dim);
  float graceTime() const { return mGraceTime; }
  void setGraceTime(float seconds) { mGraceTime = seconds; }
  float minShowTime() const { return mMinShowTime; }
  void setMinShowTime(float seconds) { mMinShowTime = seconds; }
  bool removeFromSuperViewOnHide() const { return mRemoveFromSuperViewOnHide; }
  void setRemoveFromSuperViewOnHide(bool remove) { mRemoveFromSuperViewOnHide = remove; }
  float progress() const { return mProgress; }
  void setProgress(float progress);
  const std::shared_ptr<platform::View>& customView() const { return mCustomView; }
  void setCustomView(std::shared_ptr<platform::View> view);
  void setCompletionBlock(std::function<void()> block) { mCompletionBlock = std::move(block); }
  bool taskInProgress() const { return mTaskInProgress; }
  void setTaskInProgress(bool inProgress) { mTaskInProgress = inProgress; }

  // State.
  bool isFinished() const { return mIsFinished; }
  bool isShowing() const { return mShowStarted.has_value(); }
  // The box size of the last layout.
  QSizeF size() const { return mSize; }
  // The box in the HUD's (y-up) coordinates.
  QRectF boxRect() const;
  const std::shared_ptr<platform::View>& indicator() const { return mIndicator; }
  const std::shared_ptr<platform::LabelView>& label() const { return mLabel; }
  const std::shared_ptr<platform::LabelView>& detailsLabel() const { return mDetailsLabel; }

  // Follows the superview's bounds and places the box's contents.
  void layoutSubviews();
  void layout() override;
  void drawRect(QPainter& painter, const QRectF& dirtyRect) override;
  void mouseDown(const platform::Event& event) override;
  // The box hides hosted native controls beneath it.
  QRectF nativeControlCoverRect() const override { return mIsFinished ? QRectF() : boxRect(); }

 private:
  void updateIndicators();
  void updateLabels();
  void showUsingAnimation(bool animated);
  void hideUsingAnimation(bool animated);
  void done();
  // Runs `change` now on the main thread, else posts it there.
  void onMain(std::function<void(ProgressHUD&)> change);
  void changed();

  std::int64_t mMode = Indeterminate;
  QString mLabelText;
  QString mDetailsLabelText;
  QFont mLabelFont;
  QColor mLabelColor;
  QFont mDetailsLabelFont;
  QColor mDetailsLabelColor{Qt::white};
  QColor mColor;
  float mOpacity = 0.8f;
  float mXOffset = 0;
  float mYOffset = 0;
  float mMargin = 20;
  float mCornerRadius = 10;
  float mSpinsize = 60;
  QSizeF mMinSize;
  bool mSquare = false;
  bool mDimBackground = false;
  float mGraceTime = 0;
  float mMinShowTime = 0;
  bool mRemoveFromSuperViewOnHide = false;
  float mProgress = 0;
  std::shared_ptr<platform::View> mCustomView;
  std::function<void()> mCompletionBlock;

  std::shared_ptr<platform::View> mIndicator;
  std::shared_ptr<platform::LabelView> mLabel;
  std::shared_ptr<platform::LabelView> mDetailsLabel;
  std::optional<double> mShowStarted;
  bool mUseAnimation = false;
  bool mIsFinished = false;
  bool mTaskInProgress = false;
  // Raised when delayed requests are cancelled: grace and minimum-show steps check it.
  std::uint64_t mTimerGeneration = 0;
  QSizeF mSize;
  double mBoxHeightBeforeSquare = 0;
};

}  // namespace orrery
