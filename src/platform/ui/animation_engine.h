#pragma once
// The display link: while any layer animates it ticks at display rate on the main queue,
// retires finished animations and asks the windows showing them to re-compose; with
// nothing animating it does not run. Time comes from platform::mediaTime().

namespace platform {

class Layer;

class AnimationEngine {
 public:
  static constexpr int kFrameIntervalMs = 16;

  static void layerStartedAnimating(Layer* layer);
  static void forgetLayer(Layer* layer);
  // Runs one frame now (the scheduled tick calls it too).
  static void tick();
  static bool isRunning();
  static int animatingLayerCount();
};

}  // namespace platform
