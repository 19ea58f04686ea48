#pragma once
// Waits for answers that come from another thread onto a main queue running on a virtual
// clock: the loop runs what arrives, and time moves on only while nothing arrives.

#include "model/support/virtual_main_queue.h"

#include <functional>

namespace testsupport {

inline bool waitFor(orrery::testing::VirtualMainQueue& main, const std::function<bool()>& done, int maxSeconds = 200) {
  for (int i = 0; i < maxSeconds && !done(); ++i)
    if (!main.loop->runUntil(done, platform::Millis(100))) main.advance(1);
  return done();
}

}  // namespace testsupport
