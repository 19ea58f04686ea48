#include "sdk/analytics/ana_backoff_timer.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <random>
#include <stdexcept>

#include "sdk/client/tel_network_client.h"

namespace telemetry {

ANABackoffTimer::ANABackoffTimer(double initialValue, double jitterCoefficient, platform::Queue* queue)
    : mInitialValue(initialValue), mJitterCoefficient(jitterCoefficient), mQueue(queue) {
  if (!jitterCoefficientIsValid(jitterCoefficient)) {
    throw std::invalid_argument(
        "Invalid parameter not satisfying: [ANABackoffTimer jitterCoefficientIsValid:jitterCoefficient]");
  }
}

bool ANABackoffTimer::jitterCoefficientIsValid(double coefficient) { return coefficient >= 0.0 && coefficient < 1.0; }

double ANABackoffTimer::randomDoubleWithMin(double min, double max) {
  static std::mutex mutex;
  static std::mt19937_64 engine{std::random_device{}()};
  std::uint64_t bits;
  {
    std::lock_guard lock(mutex);
    bits = engine() >> 16;
  }
  return min + (max - min) * (static_cast<double>(bits) / static_cast<double>(std::uint64_t{1} << 48));
}

double ANABackoffTimer::computeDelayForInitialValue(double initialValue, std::uint64_t retryCount) const {
  const double c = jitterCoefficientIsValid(mJitterCoefficient) ? mJitterCoefficient : kDefaultJitterCoefficient;
  const double value = std::isnan(initialValue) ? 0.0 : initialValue;
  const double base = std::min(std::max(2.0, value), TELNetworkClient::kMaxRetryAfter);
  const double exponent = retryCount == 0 ? 1.0 : static_cast<double>(retryCount);
  const double delay = std::pow(base, exponent) * randomDoubleWithMin(1.0 - c, 1.0 + c);
  if (!std::isfinite(delay)) return TELNetworkClient::kMaxRetryDelay;
  return std::min(delay, TELNetworkClient::kMaxRetryDelay);
}

void ANABackoffTimer::executeBlockAfterNextInterval(platform::Task block) {
  ++mRetryCount;
  platform::Queue& queue = mQueue ? *mQueue : platform::globalQueue(platform::QueuePriority::Default);
  queue.afterSeconds(computeDelayForInitialValue(mInitialValue, mRetryCount), std::move(block));
}

}  // namespace telemetry
