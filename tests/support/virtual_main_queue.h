#pragma once
// Runs the main queue on a virtual clock for the length of a test, then puts back the
// poster that was installed before.

#include <memory>

#include "platform/core/run_loop.h"

namespace telemetry::test {

struct VirtualMainQueue {
  std::shared_ptr<platform::VirtualClock> clock = std::make_shared<platform::VirtualClock>();
  std::shared_ptr<platform::RunLoop> loop = std::make_shared<platform::RunLoop>(clock);
  std::shared_ptr<platform::MainQueuePoster> previous = platform::installMainQueuePoster(loop);
  ~VirtualMainQueue() { platform::installMainQueuePoster(previous); }
};

}  // namespace telemetry::test
