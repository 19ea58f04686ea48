#pragma once
// A spinning-fins activity indicator (a ring of rounded strokes whose bright head travels
// clockwise while the trail fades), or in determinate mode a circle with a pie for a value.
// y-up inside. Stepped every 50 ms by a main-queue timer, or by a worker thread that only
// posts the steps to the main queue: every view change happens on the main thread. A stop
// lets the fins fade to their resting alpha first. Main thread only.

#include "platform/ui/view.h"

#include <QColor>

#include <memory>
#include <vector>

namespace orrery {

class SpinningProgressIndicator : public platform::View {
 public:
  explicit SpinningProgressIndicator(const QRectF& frame = QRectF());
  ~SpinningProgressIndicator() override;

  bool isFlipped() const override { return false; }

  void startAnimation();
  // Fades the fins out, then stops.
  void stopAnimation();

  QColor color() const { return mForeColor; }
  void setColor(const QColor& color);
  QColor backgroundColor() const { return mBackColor; }
  void setBackgroundColor(const QColor& color);
  bool drawsBackground() const { return mDrawsBackground; }
  void setDrawsBackground(bool draws);
  bool isIndeterminate() const { return mIsIndeterminate; }
  void setIndeterminate(bool indeterminate);
  double doubleValue() const { return mCurrentValue; }
  void setDoubleValue(double value);
  double maxValue() const { return mMaxValue; }
  void setMaxValue(double value);
  bool usesThreadedAnimation() const { return mUsesThreadedAnimation; }
  void setUsesThreadedAnimation(bool threaded);
  bool isDisplayedWhenStopped() const { return mDisplayedWhenStopped; }
  void setDisplayedWhenStopped(bool displayed);

  // State, for the HUD and for tests.
  int position() const { return mPosition; }
  int numFins() const { return mNumFins; }
  const std::vector<QColor>& finColors() const { return mFinColors; }
  bool isAnimating() const { return mIsAnimating; }
  bool isFadingOut() const { return mIsFadingOut; }
  // Whether a worker thread is stepping the animation (it may be finishing after a stop).
  bool hasWorker() const { return mWorker != nullptr; }

  // One animation step.
  void step();

  void viewDidMoveToWindow() override;
  void drawRect(QPainter& painter, const QRectF& dirtyRect) override;

 private:
  struct Worker;
  void actuallyStartAnimation();
  void actuallyStopAnimation();
  void scheduleTimerStep(std::uint64_t generation);

  int mPosition = 0;
  int mNumFins = 12;
  std::vector<QColor> mFinColors;
  bool mIsAnimating = false;
  bool mIsFadingOut = false;
  std::uint64_t mTimerGeneration = 0;
  bool mTimerRunning = false;
  std::shared_ptr<Worker> mWorker;
  QColor mForeColor{Qt::transparent};
  QColor mBackColor{Qt::white};
  bool mDrawsBackground = false;
  bool mDisplayedWhenStopped = true;
  bool mUsesThreadedAnimation = true;
  bool mIsIndeterminate = true;
  double mCurrentValue = 0;
  double mMaxValue = 100;
};

}  // namespace orrery
