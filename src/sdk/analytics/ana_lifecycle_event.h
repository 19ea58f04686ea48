#pragma once
// Installed, launched, became active or inactive, terminated. The active-state changes and
// the install send the current log at once.

#include <memory>
#include <string>

#include "sdk/analytics/ana_event.h"

namespace telemetry {

inline constexpr const char* kApplicationWillTerminateNotification = "NSApplicationWillTerminateNotification";
inline constexpr const char* kApplicationWillResignActiveNotification = "NSApplicationWillResignActiveNotification";
inline constexpr const char* kApplicationDidBecomeActiveNotification = "NSApplicationDidBecomeActiveNotification";

class ANALifecycleEvent final : public ANAEvent {
  struct Tag {};

 public:
  static std::shared_ptr<ANALifecycleEvent> create(const std::string& name);
  static std::shared_ptr<ANALifecycleEvent> installEvent();
  static std::shared_ptr<ANALifecycleEvent> appLaunchedEvent();
  // Named through the notification table; "unknown-notification" for any other name.
  static std::shared_ptr<ANALifecycleEvent> eventWithNotification(const std::string& notificationName);
  static std::string eventNameForNotification(const std::string& notificationName);

  ANALifecycleEvent(Tag, std::string name) : mName(std::move(name)) {}

  std::string name() const override { return mName; }
  nlohmann::ordered_json dictionaryRepresentation() const override;
  bool triggersFlush() const override;

 private:
  const std::string mName;
};

}  // namespace telemetry
