#include "sdk/analytics/ana_crash_event.h"

namespace telemetry {

std::shared_ptr<ANACrashEvent> ANACrashEvent::create(Time crashTimestamp, uint64_t crashState) {
  return std::make_shared<ANACrashEvent>(Tag{}, crashTimestamp, crashState);
}

nlohmann::ordered_json ANACrashEvent::dictionaryRepresentation() const {
  nlohmann::ordered_json d = nlohmann::ordered_json::object();
  d["eventId"] = identifier();
  d["crash_state"] = mCrashState == kCrashStateForeground   ? "foreground"
                     : mCrashState == kCrashStateBackground ? "background"
                                                            : "unknown";
  return d;
}

}  // namespace telemetry
