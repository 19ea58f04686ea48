#include "foundation/animator.h"
#include "foundation/execute_block.h"
#include "virtual_main_loop.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

using orrery::Animator;
using orrery::ExecuteBlock;
using orrery::RepeatedActionTimer;

struct Frame {
  double time;
  float progress;
};

TEST(RepeatedActionTimerTest, StepsProgressAndTheNextGridPoint) {
  VirtualMainLoop main;
  auto timer = RepeatedActionTimer::withFrameRate(60, 0.4f);
  EXPECT_EQ(timer.repetitions(), 24);
  EXPECT_FLOAT_EQ(timer.delta(), 1.0f / 60);
  EXPECT_EQ(timer.progress(), 0.0f);
  timer.start();
  EXPECT_EQ(timer.progress(), 0.0f);
  EXPECT_NEAR(timer.timeToNextAction(), 1.0 / 60, 1e-6);
  main.clock().advance(0.025);  // past the first grid point
  EXPECT_NEAR(timer.timeToNextAction(), 2.0 / 60 - 0.025, 1e-6);
  EXPECT_NEAR(timer.progress(), 0.025 / 0.4, 1e-6);
  main.clock().advance(1);
  EXPECT_EQ(timer.progress(), 1.0f);
  EXPECT_EQ(timer.timeToNextAction(), 0.0f);
}

TEST(RepeatedActionTimerTest, DegenerateRatesAndDurationsGiveAtLeastOneFrame) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const struct {
    float rate, duration;
  } cases[] = {{60, 0}, {60, -1}, {60, nan}, {0, 0.4f}, {-30, 0.4f}, {nan, 0.4f}, {inf, 0.4f}, {60, 0.001f}, {60, inf}};
  for (auto c : cases) {
    auto timer = RepeatedActionTimer::withFrameRate(c.rate, c.duration);
    EXPECT_GE(timer.repetitions(), 1) << c.rate << "/" << c.duration;
    EXPECT_TRUE(std::isfinite(timer.delta()) && timer.delta() > 0) << c.rate << "/" << c.duration;
  }
  EXPECT_EQ(RepeatedActionTimer::withFrameRate(60, 0).repetitions(), 1);
  EXPECT_FLOAT_EQ(RepeatedActionTimer::withFrameRate(0, 0.5f).delta(), 1.0f / 60);
  EXPECT_EQ(RepeatedActionTimer(0, nan).repetitions(), 1);
}

class AnimatorTest : public ::testing::Test {
 protected:
  // Plays the animator to its end on virtual time and records every frame.
  std::vector<Frame> playToEnd(const std::shared_ptr<Animator>& animator,
                               const std::function<void(Animator&)>& extra = {}) {
    std::vector<Frame> frames;
    const double start = main.now();
    animator->play([&, start](Animator& a) {
      frames.push_back({main.now() - start, a.progress()});
      if (extra) extra(a);
    });
    for (int i = 0; i < 10000 && animator->isActive(); ++i) main.loop().advance(0.001);
    main.loop().runPending();
    return frames;
  }

  VirtualMainLoop main;
};

TEST_F(AnimatorTest, FramesFallOnTheGridAndTheLastHasProgressOne) {
  auto animator = Animator::create(0.4f, 60);
  EXPECT_TRUE(animator->isActive());
  auto frames = playToEnd(animator);
  ASSERT_EQ(frames.size(), 24u);
  for (size_t n = 0; n < frames.size(); ++n) {
    const double grid = (n + 1) / 60.0;
    EXPECT_GE(frames[n].time, grid - 1e-9) << n;
    EXPECT_LE(frames[n].time, grid + 0.0015) << n;  // the main queue has millisecond resolution
    if (n + 1 < frames.size()) {
      EXPECT_LT(frames[n].progress, 1.0f) << n;
    }
  }
  EXPECT_EQ(frames.back().progress, 1.0f);
  EXPECT_FALSE(animator->isActive());
  EXPECT_EQ(animator->updateProgress(), 1.0f);
  EXPECT_EQ(main.loop().pendingTimers(), 0u);
}

TEST_F(AnimatorTest, ALateFrameSkipsTheGridPointsItMissed) {
  auto animator = Animator::create(0.4f, 60);
  bool stalled = false;
  auto frames = playToEnd(animator, [&](Animator&) {
    if (!stalled) {
      stalled = true;
      main.clock().advance(0.05);  // the first frame takes 50 ms
    }
  });
  ASSERT_GE(frames.size(), 2u);
  // The first frame ran at 1/60 and ended at about 67 ms: the next is on the grid point 5/60.
  EXPECT_GE(frames[1].time, 5 / 60.0 - 1e-9);
  EXPECT_LE(frames[1].time, 5 / 60.0 + 0.0015);
  EXPECT_EQ(frames.size(), 24u - 3u);
  EXPECT_EQ(frames.back().progress, 1.0f);
}

TEST_F(AnimatorTest, WhenTimeRunsOutInsideAFrameOneMoreFrameRunsAtOnce) {
  auto animator = Animator::create(0.1f, 60);
  int sawEnd = 0;
  int frames_seen = 0;
  double endTime = 0;
  auto frames = playToEnd(animator, [&](Animator& a) {
    if (frames_seen++ == 1) main.clock().advance(1.0);
    if (a.updateProgress() >= 1.0f) {
      if (sawEnd++ == 0) {
        endTime = main.now();
      } else {
        EXPECT_EQ(main.now(), endTime);  // at once, no clock movement
      }
    }
  });
  EXPECT_EQ(sawEnd, 2);
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_LT(frames[1].progress, 1.0f);
  EXPECT_EQ(frames[2].progress, 1.0f);
}

TEST_F(AnimatorTest, DeactivationStopsFramesAndPlayingAgainDoesNothing) {
  auto animator = Animator::create(1, 60);
  int frames = 0;
  animator->play([&](Animator& a) {
    if (++frames == 3) a.deactivate();
  });
  animator->play([&](Animator&) { frames += 100; });  // already playing: ignored
  main.loop().advance(2);
  EXPECT_EQ(frames, 3);
  EXPECT_FALSE(animator->isActive());
  EXPECT_EQ(animator->updateProgress(), 1.0f);
  animator->play([&](Animator&) { ++frames; });
  main.loop().advance(2);
  EXPECT_EQ(frames, 3);
  EXPECT_EQ(main.loop().pendingTimers(), 0u);
}

TEST_F(AnimatorTest, DegenerateAnimationsStillEndWithOneFinalFrame) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (auto [duration, rate] : {std::pair{0.0f, 60.0f}, {-2.0f, 60.0f}, {nan, 60.0f}, {0.3f, 0.0f}, {0.3f, nan}}) {
    auto frames = playToEnd(Animator::create(duration, rate));
    ASSERT_FALSE(frames.empty()) << duration << "/" << rate;
    EXPECT_EQ(frames.back().progress, 1.0f) << duration << "/" << rate;
    for (const Frame& f : frames) EXPECT_FALSE(std::isnan(f.progress));
  }
}

TEST_F(AnimatorTest, AnAnimatorNobodyHoldsPlaysToTheEnd) {
  int frames = 0;
  float last = 0;
  std::weak_ptr<Animator> weak;
  {
    auto animator = Animator::create(0.1f, 60);
    weak = animator;
    animator->play([&](Animator& a) {
      ++frames;
      last = a.progress();
    });
  }
  EXPECT_FALSE(weak.expired());
  main.loop().advance(1);
  EXPECT_EQ(frames, 6);
  EXPECT_EQ(last, 1.0f);
  EXPECT_TRUE(weak.expired());
}

TEST(EasingTest, CurvesAndClamping) {
  EXPECT_EQ(Animator::cubicEaseIn(-1), 0);
  EXPECT_EQ(Animator::cubicEaseIn(2), 1);
  EXPECT_DOUBLE_EQ(Animator::cubicEaseIn(0.5), 0.125);
  EXPECT_DOUBLE_EQ(Animator::cubicEaseOut(0.5), 0.875);
  EXPECT_DOUBLE_EQ(Animator::cubicEaseInOut(0.25), 0.0625);
  EXPECT_DOUBLE_EQ(Animator::cubicEaseInOut(0.5), 0.5);
  EXPECT_DOUBLE_EQ(Animator::cubicEaseInOut(0.75), 0.9375);
  EXPECT_EQ(Animator::cubicEaseInOut(1.5), 1);
  double previous = 0;
  for (double t = 0; t <= 1.0001; t += 0.01) {
    for (double v : {Animator::cubicEaseIn(t), Animator::cubicEaseOut(t), Animator::cubicEaseInOut(t)}) {
      EXPECT_GE(v, 0);
      EXPECT_LE(v, 1);
    }
    EXPECT_GE(Animator::cubicEaseInOut(t), previous);
    previous = Animator::cubicEaseInOut(t);
  }
}

TEST(ExecuteBlockTest, RepeatsOnTheMainQueueUntilMarkedDone) {
  VirtualMainLoop main;
  auto holder = std::make_shared<ExecuteBlock>();
  std::weak_ptr<ExecuteBlock> weak = holder;
  int runs = 0;
  holder->executeBlock([&runs, holder] {
    ++runs;
    if (runs < 3)
      holder->repeatAsync();
    else if (runs < 5)
      holder->repeatAsyncAfterDelay(0.5);
    else
      holder->markDone();
  });
  EXPECT_EQ(runs, 1);  // ran at once
  main.loop().runPending();
  EXPECT_EQ(runs, 3);  // two turns of the main queue
  main.loop().advance(0.499);
  EXPECT_EQ(runs, 3);
  main.loop().advance(0.001);
  EXPECT_EQ(runs, 4);
  main.loop().advance(0.5);
  EXPECT_EQ(runs, 5);
  EXPECT_FALSE(holder->checkRepeatState());

  // Done for good: nothing runs or is scheduled, and the cycle with the block is broken.
  holder->repeatAsyncAfterDelay(0.1);
  holder->repeatAsync();
  holder->executeBlock([&runs] { runs += 100; });
  EXPECT_EQ(main.loop().pendingTimers(), 0u);
  main.loop().advance(1);
  EXPECT_EQ(runs, 5);
  holder.reset();
  EXPECT_TRUE(weak.expired());
}

TEST(ExecuteBlockTest, EmptyHolderDoesNotRepeat) {
  VirtualMainLoop main;
  ExecuteBlock block;
  EXPECT_FALSE(block.checkRepeatState());
  block.repeatAsync();
  block.repeatAsyncAfterDelay(0.1);
  EXPECT_EQ(main.loop().runPending(), 0);
  EXPECT_EQ(main.loop().pendingTimers(), 0u);
}

}  // namespace
