#include "sdk/analytics/ana_attribute_dictionary.h"

#include <cmath>

#include "sdk/analytics/ana_text.h"
#include "sdk/core/console.h"
#include "sdk/core/json_text.h"

namespace telemetry {

namespace {

std::string describe(const nlohmann::ordered_json& value) {
  return value.is_string() ? anatext::validUTF8(value.get_ref<const std::string&>()) : jsonText(value);
}

bool isAcceptedValue(const nlohmann::ordered_json& value) {
  if (value.is_string() || value.is_boolean() || value.is_number_integer()) return true;
  // JSON has no text for NaN or infinity.
  return value.is_number_float() && std::isfinite(value.get<double>());
}

}  // namespace

ANAAttributeDictionary::ANAAttributeDictionary(const nlohmann::ordered_json& dictionary) {
  if (!dictionary.is_object()) return;
  for (const auto& [key, value] : dictionary.items()) addAttribute(value, key);
}

void ANAAttributeDictionary::addAttribute(const nlohmann::ordered_json& value, const nlohmann::ordered_json& key) {
  if (value.is_null() || key.is_null()) return;
  if (mRawDictionary.size() >= kMaximumAttributeCount) {
    consoleLog(strformat("[Analytics] Maximum number of Event attributes exceeded. Ignoring entry %s:%s",
                         describe(key).c_str(), describe(value).c_str()));
    return;
  }
  if (!key.is_string()) {
    consoleLog(strformat("[Analytics] Event attribute keys must be of type NSString. Ignoring entry %s:%s",
                         describe(key).c_str(), describe(value).c_str()));
    return;
  }
  if (!isAcceptedValue(value)) {
    consoleLog(
        strformat("[Analytics] Event attribute values must be of type NSString or NSNumber. Ignoring entry %s:%s",
                  describe(key).c_str(), describe(value).c_str()));
    return;
  }
  std::string storedKey = truncated(key.get_ref<const std::string&>());
  mRawDictionary[storedKey] =
      value.is_string() ? nlohmann::ordered_json(truncated(value.get_ref<const std::string&>())) : value;
}

void ANAAttributeDictionary::addBooleanAttribute(std::optional<bool> value, const std::string& key) {
  if (!value) return;
  addAttribute(*value ? "true" : "false", key);
}

void ANAAttributeDictionary::addPriceAttribute(const std::optional<ANADecimal>& price, const std::string& key) {
  if (!price) return;
  addAttribute(price->multipliedByPowerOf10(6).jsonValue(), key);
}

std::string ANAAttributeDictionary::description() const { return jsonText(mRawDictionary); }

std::string ANAAttributeDictionary::truncated(const std::string& text) {
  std::string valid = anatext::validUTF8(text);
  if (anatext::utf16Length(valid) <= kMaximumAttributeLength) return valid;
  consoleLog(strformat("[Analytics] Maximum length for an Event attributes exceeded. Truncating to %u characters.",
                       static_cast<unsigned>(kMaximumAttributeLength)));
  return anatext::truncatedToUTF16Units(valid, kMaximumAttributeLength);
}

}  // namespace telemetry
