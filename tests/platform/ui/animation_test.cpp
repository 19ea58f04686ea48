#include "platform/ui/animation.h"
#include "platform/ui/animation_engine.h"
#include "platform/ui/layer.h"
#include "platform/ui/transaction.h"
#include "ui_test_env.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

// A layer that has been on screen: implicit animations apply to it.
std::shared_ptr<Layer> committedLayer() {
  auto layer = Layer::layer();
  layer->setBounds(QRectF(0, 0, 100, 100));
  layer->setPosition(QPointF(50, 50));
  Transaction::flush();
  uitest::loop().runPending();
  return layer;
}

// Lets every running animation finish and every posted completion run.
void settle() {
  for (int i = 0; i < 200 && AnimationEngine::animatingLayerCount() > 0; ++i) uitest::advance(0.05);
  uitest::advance(0.05);
}

}  // namespace

TEST(LayerAnimation, ImplicitChangeRunsFromScreenValueToModelAndCompletesOnce) {
  auto layer = committedLayer();
  int completions = 0;
  Transaction::begin();
  Transaction::setCompletionBlock([&] { ++completions; });
  layer->setPosition(QPointF(150, 50));
  Transaction::commit();

  EXPECT_EQ(layer->position(), QPointF(150, 50));  // the model moves at once
  EXPECT_EQ(layer->animationKeys(), QStringList{"position"});
  EXPECT_EQ(layer->presentation().position, QPointF(50, 50));

  uitest::advance(0.125);
  const double midX = layer->presentation().position.x();
  EXPECT_GT(midX, 60);
  EXPECT_LT(midX, 140);
  EXPECT_EQ(completions, 0);

  uitest::advance(0.2);
  EXPECT_EQ(layer->presentation().position, QPointF(150, 50));
  EXPECT_FALSE(layer->hasAnimations());
  EXPECT_EQ(completions, 1);
  settle();
  EXPECT_EQ(completions, 1);
}

TEST(LayerAnimation, NewLayersAndDisabledActionsChangeAtOnce) {
  auto fresh = Layer::layer();
  fresh->setOpacity(0.5);
  EXPECT_FALSE(fresh->hasAnimations());  // never committed: no presentation to animate from

  auto layer = committedLayer();
  int completions = 0;
  Transaction::begin();
  Transaction::setDisableActions(true);
  Transaction::setCompletionBlock([&] { ++completions; });
  layer->setOpacity(0.25);
  Transaction::commit();
  EXPECT_FALSE(layer->hasAnimations());
  EXPECT_EQ(layer->presentation().opacity, 0.25);
  uitest::loop().runPending();
  EXPECT_EQ(completions, 1);  // no animation began: the block still runs, once
}

TEST(LayerAnimation, NestedTransactionsSetDurationAndOuterCompletionWaitsForInner) {
  auto a = committedLayer();
  auto b = committedLayer();
  std::vector<std::string> order;
  Transaction::begin();
  Transaction::setAnimationDuration(1.0);
  Transaction::setCompletionBlock([&] { order.push_back("outer"); });
  a->setOpacity(0.0);
  Transaction::begin();
  Transaction::setAnimationDuration(2.0);
  Transaction::setCompletionBlock([&] { order.push_back("inner"); });
  b->setOpacity(0.0);
  Transaction::commit();
  Transaction::commit();

  EXPECT_DOUBLE_EQ(a->animationForKey("opacity")->duration(), 1.0);
  EXPECT_DOUBLE_EQ(b->animationForKey("opacity")->duration(), 2.0);
  uitest::advance(1.5);
  EXPECT_TRUE(order.empty());  // the outer block also waits for the inner animation
  uitest::advance(0.6);
  EXPECT_EQ(order, (std::vector<std::string>{"inner", "outer"}));
}

TEST(LayerAnimation, ExplicitKeyedAnimationLeavesModelAndIsReplacedOrRemoved) {
  auto layer = committedLayer();
  auto move = BasicAnimation::withKeyPath("transform");
  move->setToValue(QTransform::fromScale(2, 2));
  move->setDuration(1.0);
  bool finished = true;
  int stops = 0;
  move->setDidStop([&](bool f) {
    finished = f;
    ++stops;
  });
  layer->addAnimation(move, "grow");
  uitest::advance(0.5);
  EXPECT_TRUE(layer->transform().isIdentity());
  EXPECT_NEAR(layer->presentation().transform.value().m11(), 1.5, 1e-9);

  layer->addAnimation(move, "grow");  // same key: the first one is stopped, unfinished
  uitest::loop().runPending();
  EXPECT_EQ(stops, 1);
  EXPECT_FALSE(finished);
  EXPECT_EQ(layer->animationKeys().size(), 1);

  layer->removeAllAnimations();
  EXPECT_TRUE(layer->presentation().transform.isIdentity());  // snaps to the model
  uitest::loop().runPending();
  EXPECT_EQ(stops, 2);
  EXPECT_EQ(AnimationEngine::animatingLayerCount(), 0);
}

TEST(LayerAnimation, KeyframesAndForwardFill) {
  auto layer = committedLayer();
  auto frames = std::make_shared<KeyframeAnimation>("opacity");
  frames->setValues({1.0, 0.0, 0.5});
  frames->setDuration(1.0);
  frames->setRemovedOnCompletion(false);
  frames->setFillMode(Animation::FillMode::Forwards);
  layer->addAnimation(frames, "blink");
  uitest::advance(0.25);
  EXPECT_NEAR(layer->presentation().opacity, 0.5, 1e-9);
  uitest::advance(1.0);
  EXPECT_NEAR(layer->presentation().opacity, 0.5, 1e-9);  // held at the last value
  EXPECT_DOUBLE_EQ(layer->opacity(), 1.0);
  EXPECT_EQ(AnimationEngine::animatingLayerCount(), 0);   // nothing left to tick for
}

TEST(LayerAnimation, DelegateCanVetoOrReplaceTheAction) {
  struct Veto : LayerDelegate {
    LayerAction actionForLayer(Layer&, const QString& key) override {
      if (key == "opacity") return LayerAction::none();
      auto slow = BasicAnimation::withKeyPath(key);
      slow->setDuration(3.0);
      return LayerAction::animate(slow);
    }
  } delegate;
  auto layer = committedLayer();
  layer->setDelegate(&delegate);
  layer->setOpacity(0.3);
  layer->setPosition(QPointF(0, 0));
  EXPECT_EQ(layer->animationKeys(), QStringList{"position"});
  EXPECT_DOUBLE_EQ(layer->animationForKey("position")->duration(), 3.0);
  layer->removeAllAnimations();
  settle();
}

TEST(LayerGeometry, FrameFollowsAnchorAndTransform) {
  auto layer = Layer::layer();
  layer->setFrame(QRectF(10, 20, 100, 50));
  EXPECT_EQ(layer->position(), QPointF(60, 45));
  EXPECT_EQ(layer->bounds(), QRectF(0, 0, 100, 50));
  layer->setTransform(QTransform::fromScale(0.5, 0.5));
  EXPECT_EQ(layer->frame(), QRectF(35, 32.5, 50, 25));  // scaled about the anchor

  auto corner = Layer::layer();
  corner->setAnchorPoint(QPointF(0, 0));
  corner->setFrame(QRectF(10, 20, 100, 50));
  EXPECT_EQ(corner->position(), QPointF(10, 20));
  corner->setTransform(QTransform::fromScale(2, 2));
  EXPECT_EQ(corner->frame(), QRectF(10, 20, 200, 100));
}
