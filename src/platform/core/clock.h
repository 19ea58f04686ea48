#pragma once
// Monotonic time. The media clock drives animations and timers; tests replace it with a
// VirtualClock that only moves when told.

#include <memory>

namespace platform {

class Clock {
 public:
  virtual ~Clock() = default;
  // Seconds on a monotonic scale.
  virtual double now() const = 0;
};

class SteadyClock final : public Clock {
 public:
  double now() const override;
};

class VirtualClock final : public Clock {
 public:
  explicit VirtualClock(double start = 1000.0) : mNow(start) {}
  double now() const override { return mNow; }
  void advance(double seconds) { mNow += seconds; }
  void set(double seconds) { mNow = seconds; }

 private:
  double mNow;
};

// The clock animations and timers read; a SteadyClock unless replaced.
const Clock& mediaClock();
double mediaTime();
std::shared_ptr<Clock> setMediaClock(std::shared_ptr<Clock> clock);

}  // namespace platform
