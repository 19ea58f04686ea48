#pragma once
// Business events with fixed names and attributes (sign-up, purchase, level end ...). Each
// factory fills the custom attributes first, then the predefined ones in their fixed order;
// an argument left out (nothing, or null) leaves its attribute out.

#include <memory>
#include <optional>
#include <string>

#include "sdk/analytics/ana_attribute_dictionary.h"
#include "sdk/analytics/ana_decimal.h"
#include "sdk/analytics/ana_event.h"

namespace telemetry {

class ANAPredefinedEvent final : public ANAEvent {
  struct Tag {};

 public:
  using Text = std::optional<std::string>;
  using Json = nlohmann::ordered_json;
  using Price = std::optional<ANADecimal>;

  static std::shared_ptr<ANAPredefinedEvent> signUpEvent(const Text& method, std::optional<bool> success,
                                                         const Json& customAttributes = nullptr);
  static std::shared_ptr<ANAPredefinedEvent> loginEvent(const Text& method, std::optional<bool> success,
                                                        const Json& customAttributes = nullptr);
  static std::shared_ptr<ANAPredefinedEvent> shareEvent(const Text& method, const Text& contentName,
                                                        const Text& contentType, const Text& contentId,
                                                        const Json& customAttributes = nullptr);
  static std::shared_ptr<ANAPredefinedEvent> inviteEvent(const Text& method, const Json& customAttributes = nullptr);
  static std::shared_ptr<ANAPredefinedEvent> purchaseEvent(const Price& price, const Text& currency,
                                                           std::optional<bool> success, const Text& itemName,
                                                           const Text& itemType, const Text& itemId,
                                                           const Json& customAttributes = nullptr);
  static std::shared_ptr<ANAPredefinedEvent> levelStartEvent(const Text& levelName,
                                                             const Json& customAttributes = nullptr);
  static std::shared_ptr<ANAPredefinedEvent> levelEndEvent(const Text& levelName, const Json& score,
                                                           std::optional<bool> success,
                                                           const Json& customAttributes = nullptr);
  static std::shared_ptr<ANAPredefinedEvent> addToCartEvent(const Price& price, const Text& currency,
                                                            const Text& itemName, const Text& itemType,
                                                            const Text& itemId, const Json& customAttributes = nullptr);
  static std::shared_ptr<ANAPredefinedEvent> startCheckoutEvent(const Price& price, const Text& currency,
                                                                const Json& itemCount,
                                                                const Json& customAttributes = nullptr);
  static std::shared_ptr<ANAPredefinedEvent> ratingEvent(const Json& rating, const Text& contentName,
                                                         const Text& contentType, const Text& contentId,
                                                         const Json& customAttributes = nullptr);
  static std::shared_ptr<ANAPredefinedEvent> contentViewEvent(const Text& contentName, const Text& contentType,
                                                              const Text& contentId,
                                                              const Json& customAttributes = nullptr);
  static std::shared_ptr<ANAPredefinedEvent> searchEvent(const Text& query, const Json& customAttributes = nullptr);

  ANAPredefinedEvent(Tag, std::string predefinedEventName, const Json& customAttributes);

  std::string name() const override { return "predefined"; }
  nlohmann::ordered_json dictionaryRepresentation() const override;
  std::string description() const override;

  const std::string& predefinedEventName() const { return mPredefinedEventName; }
  const ANAAttributeDictionary& customAttributes() const { return mCustomAttributes; }
  const ANAAttributeDictionary& predefinedAttributes() const { return mPredefinedAttributes; }

 private:
  static std::shared_ptr<ANAPredefinedEvent> make(const char* name, const Json& customAttributes);
  void add(const Text& value, const char* key);
  void add(const Json& value, const char* key);

  const std::string mPredefinedEventName;
  const ANAAttributeDictionary mCustomAttributes;
  ANAAttributeDictionary mPredefinedAttributes;  // filled by the factory, then never changed
};

}  // namespace telemetry
