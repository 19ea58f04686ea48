#pragma once
// Monotonic time. The media clock drives animations and timers; tests replace it with a
// VirtualClock that only moves when told.

#include <atomic>
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

// Read from any thread: connection threads measure their idle timeouts on it.
class VirtualClock final : public Clock {
 public:
  explicit VirtualClock(double start = 1000.0) : mNow(start) {}
  double now() const override { return mNow.load(); }
  void advance(double seconds) { mNow.fetch_add(seconds); }
  void set(double seconds) { mNow.store(seconds); }

 private:
  std::atomic<double> mNow;
};

// The clock animations, timers and transfer timeouts read; a SteadyClock unless replaced.
// mediaClock() is for the main thread; mediaTime() may be called from any thread, also
// while the clock is being replaced.
const Clock& mediaClock();
double mediaTime();
std::shared_ptr<Clock> setMediaClock(std::shared_ptr<Clock> clock);

}  // namespace platform
