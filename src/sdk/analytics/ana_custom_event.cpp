#include "sdk/analytics/ana_custom_event.h"

#include "sdk/analytics/ana_text.h"
#include "sdk/core/console.h"

namespace telemetry {

std::shared_ptr<ANACustomEvent> ANACustomEvent::create(const std::optional<std::string>& customEventName,
                                                       const nlohmann::ordered_json& customAttributes) {
  if (!customEventName) {
    consoleLog("[Analytics] A custom event needs a name. Ignoring the event.");
    return nullptr;
  }
  return std::make_shared<ANACustomEvent>(Tag{}, *customEventName, customAttributes);
}

ANACustomEvent::ANACustomEvent(Tag, std::string name, const nlohmann::ordered_json& customAttributes)
    : mCustomEventName(std::move(name)), mRawAttributes(customAttributes) {}

void ANACustomEvent::prepare() const {
  std::call_once(mPrepared, [this] {
    mCustomEventName = anatext::validUTF8(mCustomEventName);
    mCustomAttributes = ANAAttributeDictionary(mRawAttributes);
    mRawAttributes = nullptr;
  });
}

const std::string& ANACustomEvent::customEventName() const {
  prepare();
  return mCustomEventName;
}

const ANAAttributeDictionary& ANACustomEvent::customAttributes() const {
  prepare();
  return mCustomAttributes;
}

nlohmann::ordered_json ANACustomEvent::dictionaryRepresentation() const {
  nlohmann::ordered_json d = nlohmann::ordered_json::object();
  d["eventId"] = identifier();
  d["custom_type"] = customEventName();
  d["custom_attributes"] = customAttributes().dictionaryRepresentation();
  return d;
}

std::string ANACustomEvent::description() const {
  return "<ANACustomEvent: " + customEventName() + "\n" + customAttributes().description() + ">";
}

}  // namespace telemetry
