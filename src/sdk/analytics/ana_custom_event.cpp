#include "sdk/analytics/ana_custom_event.h"

#include <cstring>
#include <vector>

#include "sdk/analytics/ana_recording_arena.h"
#include "sdk/analytics/ana_text.h"
#include "sdk/core/console.h"

namespace telemetry {

std::shared_ptr<ANACustomEvent> ANACustomEvent::create(const std::optional<std::string>& customEventName,
                                                       const nlohmann::ordered_json& customAttributes) {
  if (!customEventName) {
    consoleLog("[Analytics] A custom event needs a name. Ignoring the event.");
    return nullptr;
  }
  return std::allocate_shared<ANACustomEvent>(ANARecordingArena::Allocator<ANACustomEvent>{}, Tag{},
                                              *customEventName, customAttributes);
}

ANACustomEvent::ANACustomEvent(Tag, const std::string& name, const nlohmann::ordered_json& customAttributes) {
  // Encoded into a buffer the thread keeps, then copied once into the arena.
  thread_local std::vector<std::uint8_t> encoded;
  encoded.assign(name.begin(), name.end());
  nlohmann::ordered_json::to_cbor(customAttributes, encoded);
  mRecorded = static_cast<unsigned char*>(ANARecordingArena::allocate(encoded.size()));
  std::memcpy(mRecorded, encoded.data(), encoded.size());
  mNameLength = name.size();
  mRecordedLength = encoded.size();
}

ANACustomEvent::~ANACustomEvent() { ANARecordingArena::deallocate(mRecorded); }

void ANACustomEvent::prepare() const {
  std::call_once(mPrepared, [this] {
    const unsigned char* attributes = mRecorded + mNameLength;
    const unsigned char* end = mRecorded + mRecordedLength;
    auto raw = nlohmann::ordered_json::from_cbor(attributes, end, true, false);
    mCustomEventName = anatext::validUTF8(std::string(reinterpret_cast<const char*>(mRecorded), mNameLength));
    mCustomAttributes.emplace(raw.is_discarded() ? nlohmann::ordered_json() : raw);
    ANARecordingArena::deallocate(std::exchange(mRecorded, nullptr));
  });
}

const std::string& ANACustomEvent::customEventName() const {
  prepare();
  return mCustomEventName;
}

const ANAAttributeDictionary& ANACustomEvent::customAttributes() const {
  prepare();
  return *mCustomAttributes;
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
