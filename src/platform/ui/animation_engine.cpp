#include "platform/ui/animation_engine.h"

#include "platform/core/clock.h"
#include "platform/core/dispatch.h"
#include "platform/ui/layer.h"

#include <algorithm>
#include <vector>

namespace platform {
namespace {

std::vector<Layer*>& animating() {
  static std::vector<Layer*> layers;
  return layers;
}

bool gTickScheduled = false;

void scheduleTick() {
  if (gTickScheduled) return;
  gTickScheduled = true;
  mainQueue().after(Millis(AnimationEngine::kFrameIntervalMs), [] {
    gTickScheduled = false;
    AnimationEngine::tick();
  });
}

}  // namespace

void AnimationEngine::layerStartedAnimating(Layer* layer) {
  auto& v = animating();
  if (std::find(v.begin(), v.end(), layer) == v.end()) v.push_back(layer);
  scheduleTick();
}

void AnimationEngine::forgetLayer(Layer* layer) {
  auto& v = animating();
  v.erase(std::remove(v.begin(), v.end(), layer), v.end());
}

void AnimationEngine::tick() {
  const double now = mediaTime();
  // A layer's completion handlers may add or remove animations: walk a copy.
  std::vector<Layer*> layers = animating();
  for (Layer* layer : layers) {
    auto& v = animating();
    if (std::find(v.begin(), v.end(), layer) == v.end()) continue;
    const bool still = layer->advanceAnimations(now);
    layer->setNeedsComposite();
    if (!still) forgetLayer(layer);
  }
  if (!animating().empty()) scheduleTick();
}

bool AnimationEngine::isRunning() { return gTickScheduled; }

int AnimationEngine::animatingLayerCount() { return static_cast<int>(animating().size()); }

}  // namespace platform
