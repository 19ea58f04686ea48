#pragma once
// The attributes an application attaches to an event: at most 21 entries from text keys to
// text or number values (booleans count as numbers), each text cut to 100 UTF-16 units on a
// character boundary and made valid UTF-8. A refused entry is dropped with a console line,
// never failing the event. Keys and values arrive as JSON values so that every check can be
// reached; null stands for "no value" and is ignored silently.

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "sdk/analytics/ana_decimal.h"

namespace telemetry {

class ANAAttributeDictionary {
 public:
  static constexpr size_t kMaximumAttributeCount = 21;
  static constexpr size_t kMaximumAttributeLength = 100;

  ANAAttributeDictionary() = default;
  // Every entry of an object in its order through addAttribute; anything else gives an
  // empty dictionary.
  explicit ANAAttributeDictionary(const nlohmann::ordered_json& dictionary);

  void addAttribute(const nlohmann::ordered_json& value, const nlohmann::ordered_json& key);
  // Stored as the text "true" or "false"; nothing for no number.
  void addBooleanAttribute(std::optional<bool> value, const std::string& key);
  // Stored in millionths of the currency unit, computed exactly; nothing for no price.
  void addPriceAttribute(const std::optional<ANADecimal>& price, const std::string& key);

  const nlohmann::ordered_json& dictionaryRepresentation() const { return mRawDictionary; }
  std::string description() const;

 private:
  static std::string truncated(const std::string& text);

  nlohmann::ordered_json mRawDictionary = nlohmann::ordered_json::object();
};

}  // namespace telemetry
