#include "sdk/analytics/ana_lifecycle_event.h"

#include "sdk/analytics/ana_text.h"

namespace telemetry {

std::shared_ptr<ANALifecycleEvent> ANALifecycleEvent::create(const std::string& name) {
  return std::make_shared<ANALifecycleEvent>(Tag{}, anatext::validUTF8(name));
}

std::shared_ptr<ANALifecycleEvent> ANALifecycleEvent::installEvent() { return create("app_installed"); }

std::shared_ptr<ANALifecycleEvent> ANALifecycleEvent::appLaunchedEvent() { return create("app_launched"); }

std::shared_ptr<ANALifecycleEvent> ANALifecycleEvent::eventWithNotification(const std::string& notificationName) {
  return create(eventNameForNotification(notificationName));
}

std::string ANALifecycleEvent::eventNameForNotification(const std::string& notificationName) {
  if (notificationName == kApplicationWillTerminateNotification) return "app_terminated";
  if (notificationName == kApplicationWillResignActiveNotification) return "app_became_inactive";
  if (notificationName == kApplicationDidBecomeActiveNotification) return "app_became_active";
  return "unknown-notification";
}

nlohmann::ordered_json ANALifecycleEvent::dictionaryRepresentation() const {
  nlohmann::ordered_json d = nlohmann::ordered_json::object();
  d["eventId"] = identifier();
  return d;
}

bool ANALifecycleEvent::triggersFlush() const {
  return mName == "app_became_inactive" || mName == "app_became_active" || mName == "app_installed";
}

}  // namespace telemetry
