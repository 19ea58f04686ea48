#pragma once
// Explicit animations of one layer property: basic (from → to) and keyframe. A layer keeps
// its own copy of an animation once added; the model value is never changed by one.

#include "platform/ui/anim_value.h"
#include "platform/ui/timing_function.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace platform {

class Animation {
 public:
  enum class FillMode { Removed, Forwards };

  explicit Animation(QString keyPath) : mKeyPath(std::move(keyPath)) {}
  virtual ~Animation() = default;
  virtual std::shared_ptr<Animation> clone() const = 0;

  const QString& keyPath() const { return mKeyPath; }
  // 0 takes the duration of the enclosing transaction when the animation is added.
  double duration() const { return mDuration; }
  void setDuration(double seconds) { mDuration = seconds; }
  // None takes the transaction's timing function (else linear) when added.
  const std::optional<TimingFunction>& timingFunction() const { return mTiming; }
  void setTimingFunction(TimingFunction f) { mTiming = f; }
  // Media time of the start; 0 starts it when it is added.
  double beginTime() const { return mBeginTime; }
  void setBeginTime(double t) { mBeginTime = t; }
  bool isRemovedOnCompletion() const { return mRemovedOnCompletion; }
  void setRemovedOnCompletion(bool v) { mRemovedOnCompletion = v; }
  FillMode fillMode() const { return mFillMode; }
  void setFillMode(FillMode m) { mFillMode = m; }
  // Called once on the main queue when the animation ends (true) or is removed early (false).
  void setDidStop(std::function<void(bool finished)> f) { mDidStop = std::move(f); }
  const std::function<void(bool)>& didStop() const { return mDidStop; }

  // Fills in what the caller left open from the value on screen when it is added.
  virtual void resolve(const AnimValue& presentation) { (void)presentation; }
  // The value at paced progress p in [0, 1]; `model` is the layer's current model value.
  virtual AnimValue valueAt(double p, const AnimValue& model) const = 0;

 private:
  QString mKeyPath;
  double mDuration = 0;
  std::optional<TimingFunction> mTiming;
  double mBeginTime = 0;
  bool mRemovedOnCompletion = true;
  FillMode mFillMode = FillMode::Removed;
  std::function<void(bool)> mDidStop;
};

// From `fromValue` (the value on screen when none is given) to `toValue` (the model value,
// followed as it changes, when none is given).
class BasicAnimation : public Animation {
 public:
  explicit BasicAnimation(QString keyPath) : Animation(std::move(keyPath)) {}
  static std::shared_ptr<BasicAnimation> withKeyPath(const QString& keyPath) {
    return std::make_shared<BasicAnimation>(keyPath);
  }
  std::shared_ptr<Animation> clone() const override { return std::make_shared<BasicAnimation>(*this); }

  const AnimValue& fromValue() const { return mFrom; }
  void setFromValue(AnimValue v) { mFrom = std::move(v); }
  const AnimValue& toValue() const { return mTo; }
  void setToValue(AnimValue v) { mTo = std::move(v); }

  void resolve(const AnimValue& presentation) override;
  AnimValue valueAt(double p, const AnimValue& model) const override;

 private:
  AnimValue mFrom;
  AnimValue mTo;
};

// Through `values` at `keyTimes` (evenly spaced when none are given), linearly between them.
class KeyframeAnimation : public Animation {
 public:
  explicit KeyframeAnimation(QString keyPath) : Animation(std::move(keyPath)) {}
  std::shared_ptr<Animation> clone() const override {
    return std::make_shared<KeyframeAnimation>(*this);
  }
  void setValues(std::vector<AnimValue> values) { mValues = std::move(values); }
  const std::vector<AnimValue>& values() const { return mValues; }
  void setKeyTimes(std::vector<double> times) { mKeyTimes = std::move(times); }

  AnimValue valueAt(double p, const AnimValue& model) const override;

 private:
  std::vector<AnimValue> mValues;
  std::vector<double> mKeyTimes;
};

}  // namespace platform
