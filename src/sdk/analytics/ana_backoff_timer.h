#pragma once
// The growing delay between retries of one package: max(2, initial value) raised to the
// retry count, with jitter, both the base and the delay capped as the network client caps
// its own retries, so a large "Retry-After" can never overflow into an immediate retry.

#include <cstdint>

#include "platform/core/dispatch.h"

namespace telemetry {

class ANABackoffTimer {
 public:
  // 0.1 held at single precision.
  static constexpr double kDefaultJitterCoefficient = static_cast<double>(0.1f);

  ANABackoffTimer() : ANABackoffTimer(0.0) {}
  explicit ANABackoffTimer(double initialValue) : ANABackoffTimer(initialValue, kDefaultJitterCoefficient) {}
  // An invalid coefficient is a programming error (std::invalid_argument).
  ANABackoffTimer(double initialValue, double jitterCoefficient, platform::Queue* queue = nullptr);

  // Raises the retry count, then runs the block on the timer's queue after the next delay.
  void executeBlockAfterNextInterval(platform::Task block);
  double computeDelayForInitialValue(double initialValue, std::uint64_t retryCount) const;

  static bool jitterCoefficientIsValid(double coefficient);
  // Uniform in [min, max), from a 48-bit random number.
  static double randomDoubleWithMin(double min, double max);

  std::uint64_t retryCount() const { return mRetryCount; }
  double initialValue() const { return mInitialValue; }
  double jitterCoefficient() const { return mJitterCoefficient; }

 private:
  std::uint64_t mRetryCount = 0;
  const double mInitialValue;
  const double mJitterCoefficient;
  platform::Queue* const mQueue;  // the global queue when none is given
};

}  // namespace telemetry
