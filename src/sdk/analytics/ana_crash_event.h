#pragma once
// The crash of the previous session. Its time is the crash's, not the moment it was made.

#include <cstdint>
#include <memory>

#include "sdk/analytics/ana_event.h"

namespace telemetry {

class ANACrashEvent final : public ANAEvent {
  struct Tag {};

 public:
  static constexpr uint64_t kCrashStateForeground = 1;
  static constexpr uint64_t kCrashStateBackground = 2;

  static std::shared_ptr<ANACrashEvent> create(Time crashTimestamp, uint64_t crashState);
  ANACrashEvent(Tag, Time crashTimestamp, uint64_t crashState)
      : mCrashTimestamp(crashTimestamp), mCrashState(crashState) {}

  std::string name() const override { return "app_crashed"; }
  nlohmann::ordered_json dictionaryRepresentation() const override;
  Time timestamp() const override { return mCrashTimestamp; }

  uint64_t crashState() const { return mCrashState; }

 private:
  const Time mCrashTimestamp;
  const uint64_t mCrashState;
};

}  // namespace telemetry
