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
// Threads that live until the process ends (network transfer loops) read the clock while it
// exits, so neither the slot nor its lock is ever destroyed.
std::mutex& clockMutex() {
  static auto* mutex = new std::mutex;
  return *mutex;
}
std::shared_ptr<Clock>& clockSlot() {
  static auto* clock = new std::shared_ptr<Clock>(std::make_shared<SteadyClock>());
  return *clock;
}
}  // namespace

const Clock& mediaClock() {
  std::lock_guard lock(clockMutex());
  return *clockSlot();
}

double mediaTime() {
  std::shared_ptr<Clock> clock;
  {
    std::lock_guard lock(clockMutex());
    clock = clockSlot();
  }
  return clock->now();
}

std::shared_ptr<Clock> setMediaClock(std::shared_ptr<Clock> clock) {
  std::lock_guard lock(clockMutex());
  if (!clock) clock = std::make_shared<SteadyClock>();
  auto old = clockSlot();
  clockSlot() = std::move(clock);
  return old;
}

}  // namespace platform
