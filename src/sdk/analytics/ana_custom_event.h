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
  ANACustomEvent(Tag, std::string name, const nlohmann::ordered_json& customAttributes);

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
  mutable std::string mCustomEventName;
  mutable nlohmann::ordered_json mRawAttributes;
  mutable ANAAttributeDictionary mCustomAttributes;
};

}  // namespace telemetry
