#include "sdk/analytics/ana_event_filter.h"

#include <set>

#include "sdk/analytics/ana_event.h"
#include "sdk/analytics/ana_text.h"

namespace telemetry {

bool ANAEventFilter::shouldDiscardEvent(const ANAEvent* event, const std::optional<std::string>& betaToken,
                                        const std::optional<std::string>& installationID, int64_t factor) const {
  if (!event) return true;
  if (betaToken) return false;
  if (!samplingEnabledForEventType(event->name())) return false;
  return shouldDiscardEventWithInstallationID(installationID, factor);
}

bool ANAEventFilter::samplingEnabledForEventType(const std::string& eventName) {
  static const std::set<std::string> names = {"app_launched",        "app_terminated",         "app_crashed",
                                              "app_memory_warning",  "app_entered_background", "app_entered_foreground",
                                              "app_became_inactive", "app_became_active"};
  return names.count(eventName) != 0;
}

bool ANAEventFilter::shouldDiscardEventWithInstallationID(const std::optional<std::string>& installationID,
                                                          int64_t factor) {
  if (!installationID || factor < 2) return false;
  int64_t h = javaHashCodeForString(*installationID);
  return h % factor != 0;
}

int32_t ANAEventFilter::javaHashCodeForString(const std::string& text) {
  uint32_t h = 0;
  anatext::forEachUTF16Unit(text, [&](uint16_t unit) { h = 31u * h + unit; });
  return static_cast<int32_t>(h);
}

}  // namespace telemetry
