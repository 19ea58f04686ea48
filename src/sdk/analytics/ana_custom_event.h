#pragma once
// An event the application names itself, with its own attributes.

#include <memory>
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

  const std::string& customEventName() const { return mCustomEventName; }
  const ANAAttributeDictionary& customAttributes() const { return mCustomAttributes; }

 private:
  const std::string mCustomEventName;
  const ANAAttributeDictionary mCustomAttributes;
};

}  // namespace telemetry
