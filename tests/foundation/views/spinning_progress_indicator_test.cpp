#include "foundation/views/base_view.h"
#include "foundation/views/spinning_progress_indicator.h"
#include "platform/ui/window.h"
#include "ui_test_env.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace orrery;

namespace {

struct Stage {
  platform::Window window{QSizeF(200, 200)};
  std::shared_ptr<BaseView> content = std::make_shared<BaseView>();
  Stage() { window.setContentView(content); }
};

std::shared_ptr<SpinningProgressIndicator> timerSpinner() {
  auto s = std::make_shared<SpinningProgressIndicator>(QRectF(0, 0, 100, 100));
  s->setUsesThreadedAnimation(false);
  s->setColor(Qt::white);
  return s;
}

// The alpha of the fin pointing `degrees` clockwise from straight up, in a 100-point view.
int finAlpha(SpinningProgressIndicator& s, double degrees) {
  const double a = degrees * M_PI / 180;
  const QImage image = s.snapshot();
  return image.pixelColor(int(std::lround(50 + 33 * std::sin(a))), int(std::lround(50 - 33 * std::cos(a)))).alpha();
}

}  // namespace

TEST(SpinningProgressIndicator, HeadTravelsClockwiseAndTheTrailDecaysToTheRestingAlpha) {
  Stage stage;
  auto spinner = timerSpinner();
  stage.content->addSubview(spinner);
  spinner->startAnimation();
  EXPECT_EQ(spinner->position(), 1);
  uitest::advance(0.05);
  EXPECT_EQ(spinner->position(), 0);
  EXPECT_GT(finAlpha(*spinner, 0), 240);
  EXPECT_LT(finAlpha(*spinner, 90), 240);
  uitest::advance(0.05);
  EXPECT_EQ(spinner->position(), 11);
  EXPECT_GT(finAlpha(*spinner, 30), 240) << "fin 11 points 30 degrees clockwise from up";
  uitest::advance(0.05);
  EXPECT_EQ(spinner->position(), 10);
  uitest::advance(0.05 * 5);
  EXPECT_NEAR(spinner->finColors()[0].alphaF(), std::pow(0.85, 7), 0.002);
  uitest::advance(0.05 * 4);  // 11 steps after fin 0 was the head: 0.85^11 = 0.167
  EXPECT_NEAR(spinner->finColors()[0].alphaF(), std::pow(0.85, 11), 0.002);
  EXPECT_GE(spinner->finColors()[2].alphaF(), 0.15 - 0.002) << "never below the resting alpha";

  // Stop: the fins fade, the animation ends once all of them rest, the view stays.
  spinner->stopAnimation();
  EXPECT_TRUE(spinner->isAnimating());
  for (int i = 0; i < 40 && spinner->isAnimating(); ++i) uitest::advance(0.05);
  EXPECT_FALSE(spinner->isAnimating());
  EXPECT_FALSE(spinner->isFadingOut());
  EXPECT_FALSE(spinner->isHidden());
  for (const QColor& c : spinner->finColors()) EXPECT_NEAR(c.alphaF(), 0.15, 0.011);
  const int position = spinner->position();
  uitest::advance(0.5);
  EXPECT_EQ(spinner->position(), position) << "no timer left behind";
}

TEST(SpinningProgressIndicator, RestartsWhileFadingAndWaitsForAWindow) {
  auto spinner = timerSpinner();
  spinner->startAnimation();
  EXPECT_TRUE(spinner->isAnimating());
  uitest::advance(0.2);
  EXPECT_EQ(spinner->position(), 1) << "no steps outside a window";
  Stage stage;
  stage.content->addSubview(spinner);
  uitest::advance(0.05);
  EXPECT_EQ(spinner->position(), 0);

  spinner->stopAnimation();
  spinner->startAnimation();
  EXPECT_FALSE(spinner->isFadingOut());
  EXPECT_EQ(spinner->position(), 1);
  uitest::advance(0.05);
  EXPECT_EQ(spinner->position(), 0) << "one timer only after the restart";

  spinner->removeFromSuperview();
  EXPECT_FALSE(spinner->isAnimating());

  SpinningProgressIndicator determinate(QRectF(0, 0, 10, 10));
  determinate.setDoubleValue(5);
  determinate.startAnimation();
  EXPECT_FALSE(determinate.isAnimating());

  SpinningProgressIndicator hiding(QRectF(0, 0, 10, 10));
  hiding.setDisplayedWhenStopped(false);
  EXPECT_TRUE(hiding.isHidden());
  hiding.startAnimation();
  EXPECT_FALSE(hiding.isHidden());
}

TEST(SpinningProgressIndicator, ThreadedStepsArriveOnTheMainQueueAndStopWithTheWindow) {
  Stage stage;
  auto spinner = std::make_shared<SpinningProgressIndicator>(QRectF(0, 0, 60, 60));
  spinner->setColor(Qt::white);
  stage.content->addSubview(spinner);
  spinner->startAnimation();
  ASSERT_TRUE(spinner->hasWorker());
  EXPECT_TRUE(uitest::loop().runUntil([&] { return spinner->position() == 11; }))
      << "steps posted by the worker are run by the main queue";
  spinner->removeFromSuperview();
  EXPECT_FALSE(spinner->hasWorker());
  EXPECT_FALSE(spinner->isAnimating());
  const int position = spinner->position();
  uitest::loop().runPending();
  EXPECT_EQ(spinner->position(), position) << "a step posted before the stop is dropped";

  // Switching modes while running restarts in the new mode.
  stage.content->addSubview(spinner);
  spinner->startAnimation();
  spinner->setUsesThreadedAnimation(false);
  EXPECT_FALSE(spinner->hasWorker());
  uitest::advance(0.05);
  EXPECT_EQ(spinner->position(), 0);
}

TEST(SpinningProgressIndicator, DeterminatePieFillsClockwiseFromTheTopAndSurvivesAZeroMaximum) {
  SpinningProgressIndicator pie(QRectF(0, 0, 100, 100));
  pie.setColor(Qt::red);
  pie.setDoubleValue(25);
  EXPECT_FALSE(pie.isIndeterminate());
  QImage image = pie.snapshot();
  EXPECT_EQ(image.pixelColor(70, 30), QColor(Qt::red)) << "the quarter right of twelve o'clock";
  EXPECT_EQ(image.pixelColor(30, 30).alpha(), 0);
  EXPECT_EQ(image.pixelColor(70, 70).alpha(), 0);

  pie.setMaxValue(0);
  image = pie.snapshot();
  EXPECT_EQ(image.pixelColor(70, 30).alpha(), 0) << "no sector without a maximum";
  EXPECT_GT(image.pixelColor(50, 4).alpha(), 0) << "the circle stays";

  pie.setMaxValue(10);  // a value above the maximum fills the whole circle
  image = pie.snapshot();
  EXPECT_EQ(image.pixelColor(30, 70), QColor(Qt::red));

  pie.setDrawsBackground(true);
  pie.setBackgroundColor(Qt::blue);
  EXPECT_EQ(pie.snapshot().pixelColor(1, 1), QColor(Qt::blue));
  SpinningProgressIndicator empty(QRectF(0, 0, 0, 0));
  empty.setDoubleValue(1);
  EXPECT_TRUE(empty.snapshot().isNull() || empty.snapshot().size().isEmpty());
}
