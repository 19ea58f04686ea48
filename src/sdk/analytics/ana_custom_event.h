#pragma once
// An event the application names itself, with its own attributes.

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "sdk/analytics/ana_attribute_dictionary.h"
#include "sdk/analytics/ana_event.h"

namespace telemetry {

class ANACustomEvent final : public ANAEvent {
  struct Tag {};

 public:
  // Nothing, with a console line, without a name: the name is the payload's "custom_type".
  static std::shared_ptr<ANACustomEvent> create(const std::optional<std::string>& customEventName,
                                                const nlohmann::ordered_json& customAttributes = nullptr);
  ANACustomEvent(Tag, const std::string& name, const nlohmann::ordered_json& customAttributes);
  ~ANACustomEvent() override;

  std::string name() const override { return "custom"; }
  nlohmann::ordered_json dictionaryRepresentation() const override;
  std::string description() const override;

  const std::string& customEventName() const;
  const ANAAttributeDictionary& customAttributes() const;

 private:
  // The name's repair and the attributes' checks run on first use, on the queue that writes
  // the event, not on the thread that records it.
  void prepare() const;

  mutable std::once_flag mPrepared;
  // Until prepared: the name's bytes, then the attributes in CBOR, in the recording arena
  // (the recorder's copy of its attributes, made without touching the heap).
  mutable unsigned char* mRecorded = nullptr;
  std::size_t mNameLength = 0;
  std::size_t mRecordedLength = 0;
  mutable std::string mCustomEventName;
  mutable std::optional<ANAAttributeDictionary> mCustomAttributes;
};

}  // namespace telemetry
