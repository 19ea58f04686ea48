#include "foundation/views/spinning_progress_indicator.h"

#include "platform/core/dispatch.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace orrery {

namespace {
constexpr int kTimerStepMs = 50;
// Slightly less than 2π, so that the fins do not quite close the ring.
constexpr double kFinTurn = 6.282185;
constexpr double kRadToDeg = 57.29577951308232;
}  // namespace

// A worker that posts one step to the main queue, then sleeps, until it is cancelled. The
// sleep wakes at once on cancellation, so a stop rarely has to wait.
struct SpinningProgressIndicator::Worker {
  std::mutex mutex;
  std::condition_variable wake;
  bool cancelled = false;
  bool finished = false;
  std::thread thread;

  bool isCancelled() {
    std::lock_guard lock(mutex);
    return cancelled;
  }
};

SpinningProgressIndicator::SpinningProgressIndicator(const QRectF& frame)
    : View(frame), mFinColors(size_t(mNumFins), QColor(Qt::white)) {}

SpinningProgressIndicator::~SpinningProgressIndicator() {
  mTimerGeneration++;
  if (mWorker) {
    auto worker = std::move(mWorker);
    {
      std::lock_guard lock(worker->mutex);
      worker->cancelled = true;
    }
    worker->wake.notify_all();
    if (worker->thread.joinable()) worker->thread.join();
  }
}

void SpinningProgressIndicator::startAnimation() {
  if (!mIsIndeterminate) return;
  if (mIsAnimating && !mIsFadingOut) return;
  actuallyStartAnimation();
}

void SpinningProgressIndicator::stopAnimation() { mIsFadingOut = true; }

void SpinningProgressIndicator::actuallyStartAnimation() {
  actuallyStopAnimation();
  mIsAnimating = true;
  mIsFadingOut = false;
  mPosition = 1;
  if (!mDisplayedWhenStopped) setHidden(false);
  if (!window()) return;
  if (!mUsesThreadedAnimation) {
    mTimerRunning = true;
    scheduleTimerStep(++mTimerGeneration);
    return;
  }
  auto worker = std::make_shared<Worker>();
  platform::WeakRef<SpinningProgressIndicator> self(this);
  const auto sleep = std::chrono::microseconds(600000 / std::max(1, mNumFins));
  // The thread owns its worker too: a worker left running after a stop outlives the view.
  worker->thread = std::thread([worker, self, sleep, keep = std::weak_ptr<Worker>(worker)] {
    std::unique_lock lock(worker->mutex);
    while (!worker->cancelled) {
      lock.unlock();
      platform::mainQueue().async([self, keep] {
        auto w = keep.lock();
        SpinningProgressIndicator* view = self.get();
        if (w && view && view->mWorker == w && !w->isCancelled()) view->step();
      });
      lock.lock();
      worker->wake.wait_for(lock, sleep, [worker] { return worker->cancelled; });
    }
    worker->finished = true;
    lock.unlock();
    worker->wake.notify_all();
  });
  mWorker = std::move(worker);
}

void SpinningProgressIndicator::actuallyStopAnimation() {
  mIsAnimating = false;
  mIsFadingOut = false;
  if (!mDisplayedWhenStopped) setHidden(true);
  if (auto worker = std::move(mWorker)) {
    std::unique_lock lock(worker->mutex);
    worker->cancelled = true;
    worker->wake.notify_all();
    // At most 50 ms; a worker that has not finished by then ends on its own.
    const bool done = worker->wake.wait_for(lock, std::chrono::milliseconds(50), [&] { return worker->finished; });
    lock.unlock();
    if (done)
      worker->thread.join();
    else
      worker->thread.detach();
  }
  if (mTimerRunning) {
    mTimerRunning = false;
    ++mTimerGeneration;
  }
  setNeedsDisplay();
}

void SpinningProgressIndicator::scheduleTimerStep(std::uint64_t generation) {
  platform::WeakRef<SpinningProgressIndicator> self(this);
  platform::mainQueue().after(platform::Millis(kTimerStepMs), [self, generation] {
    SpinningProgressIndicator* view = self.get();
    if (!view || view->mTimerGeneration != generation) return;
    view->step();
    if (view->mTimerGeneration == generation) view->scheduleTimerStep(generation);
  });
}

void SpinningProgressIndicator::step() {
  if (mNumFins <= 0) return;
  mPosition = (mPosition >= 1 ? mPosition : mNumFins) - 1;
  const double resting = mDisplayedWhenStopped ? 0.15 : 0.01;
  for (QColor& fin : mFinColors) {
    QColor c = mForeColor;
    c.setAlphaF(float(std::max(resting, fin.alphaF() * 0.85)));
    fin = c;
  }
  if (!mIsFadingOut) {
    mFinColors[size_t(mPosition)] = mForeColor;
  } else {
    const bool rested = std::all_of(mFinColors.begin(), mFinColors.end(),
                                    [&](const QColor& c) { return std::abs(c.alphaF() - resting) <= 0.01; });
    if (rested) {
      actuallyStopAnimation();
      return;
    }
  }
  setNeedsDisplay();
}

void SpinningProgressIndicator::setColor(const QColor& color) {
  if (color == mForeColor) return;
  mForeColor = color;
  for (QColor& fin : mFinColors) {
    QColor c = color;
    c.setAlphaF(fin.alphaF());
    fin = c;
  }
  setNeedsDisplay();
}

void SpinningProgressIndicator::setBackgroundColor(const QColor& color) {
  if (color == mBackColor) return;
  mBackColor = color;
  setNeedsDisplay();
}

void SpinningProgressIndicator::setDrawsBackground(bool draws) {
  mDrawsBackground = draws;
  setNeedsDisplay();
}

void SpinningProgressIndicator::setIndeterminate(bool indeterminate) {
  mIsIndeterminate = indeterminate;
  if (!indeterminate && mIsAnimating) stopAnimation();
  setNeedsDisplay();
}

void SpinningProgressIndicator::setDoubleValue(double value) {
  if (mIsIndeterminate) setIndeterminate(false);
  mCurrentValue = value;
  setNeedsDisplay();
}

void SpinningProgressIndicator::setMaxValue(double value) {
  mMaxValue = value;
  setNeedsDisplay();
}

void SpinningProgressIndicator::setUsesThreadedAnimation(bool threaded) {
  if (threaded == mUsesThreadedAnimation) return;
  mUsesThreadedAnimation = threaded;
  if (mIsAnimating) {
    stopAnimation();
    startAnimation();
  }
}

void SpinningProgressIndicator::setDisplayedWhenStopped(bool displayed) {
  mDisplayedWhenStopped = displayed;
  if (!mIsAnimating) setHidden(!displayed);
}

void SpinningProgressIndicator::viewDidMoveToWindow() {
  View::viewDidMoveToWindow();
  if (!window())
    actuallyStopAnimation();
  else if (mIsAnimating)
    actuallyStartAnimation();
}

void SpinningProgressIndicator::drawRect(QPainter& painter, const QRectF& dirtyRect) {
  View::drawRect(painter, dirtyRect);
  const QRectF b = bounds();
  const double s = std::min(b.width(), b.height());
  if (mDrawsBackground) painter.fillRect(b, mBackColor);
  if (!(s > 0)) return;
  painter.save();
  painter.translate(b.center());
  if (mIsIndeterminate) {
    QPen pen;
    pen.setCapStyle(Qt::RoundCap);
    pen.setWidthF(s * 0.0859375);
    for (int i = 0; i < mNumFins; ++i) {
      QColor c = mForeColor;
      if (mIsAnimating)
        c = mFinColors[size_t(i)];
      else
        c.setAlphaF(0.15f);
      pen.setColor(c);
      painter.setPen(pen);
      painter.drawLine(QPointF(0, s * 0.234375), QPointF(0, s * 0.421875));
      painter.rotate(kFinTurn / mNumFins * kRadToDeg);
    }
  } else {
    const double w = 1 + 0.01 * s;
    const double r = (s - w) / 2.1;
    painter.setPen(QPen(mForeColor, w));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QPointF(0, 0), r, r);
    // Without a usable maximum there is no fraction to show: the circle alone.
    const double fraction = mMaxValue > 0 ? std::clamp(mCurrentValue / mMaxValue, 0.0, 1.0) : 0.0;
    if (fraction > 0) {
      // Local coordinates are y-up, Qt's arc angles assume y-down: -90° is the top here and
      // a positive sweep runs clockwise.
      QPainterPath sector;
      sector.moveTo(0, 0);
      sector.arcTo(QRectF(-r, -r, 2 * r, 2 * r), -90, 360 * fraction);
      sector.closeSubpath();
      painter.fillPath(sector, mForeColor);
    }
  }
  painter.restore();
}

}  // namespace orrery
