#include "platform/core/clock.h"

#include <atomic>
#include <chrono>
#include <mutex>

namespace platform {

double SteadyClock::now() const {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

namespace {
std::mutex gClockMutex;
std::shared_ptr<Clock>& clockSlot() {
  static std::shared_ptr<Clock> clock = std::make_shared<SteadyClock>();
  return clock;
}
}  // namespace

const Clock& mediaClock() {
  std::lock_guard lock(gClockMutex);
  return *clockSlot();
}

double mediaTime() {
  std::shared_ptr<Clock> clock;
  {
    std::lock_guard lock(gClockMutex);
    clock = clockSlot();
  }
  return clock->now();
}

std::shared_ptr<Clock> setMediaClock(std::shared_ptr<Clock> clock) {
  std::lock_guard lock(gClockMutex);
  if (!clock) clock = std::make_shared<SteadyClock>();
  auto old = clockSlot();
  clockSlot() = std::move(clock);
  return old;
}

}  // namespace platform
