#include "sdk/analytics/ana_predefined_event.h"

namespace telemetry {

ANAPredefinedEvent::ANAPredefinedEvent(Tag, std::string predefinedEventName, const Json& customAttributes)
    : mPredefinedEventName(std::move(predefinedEventName)), mCustomAttributes(customAttributes) {}

std::shared_ptr<ANAPredefinedEvent> ANAPredefinedEvent::make(const char* name, const Json& customAttributes) {
  return std::make_shared<ANAPredefinedEvent>(Tag{}, name, customAttributes);
}

void ANAPredefinedEvent::add(const Text& value, const char* key) {
  if (value) mPredefinedAttributes.addAttribute(*value, key);
}

void ANAPredefinedEvent::add(const Json& value, const char* key) { mPredefinedAttributes.addAttribute(value, key); }

std::shared_ptr<ANAPredefinedEvent> ANAPredefinedEvent::signUpEvent(const Text& method, std::optional<bool> success,
                                                                    const Json& customAttributes) {
  auto e = make("sign_up", customAttributes);
  e->add(method, "method");
  e->mPredefinedAttributes.addBooleanAttribute(success, "success");
  return e;
}

std::shared_ptr<ANAPredefinedEvent> ANAPredefinedEvent::loginEvent(const Text& method, std::optional<bool> success,
                                                                   const Json& customAttributes) {
  auto e = make("login", customAttributes);
  e->add(method, "method");
  e->mPredefinedAttributes.addBooleanAttribute(success, "success");
  return e;
}

std::shared_ptr<ANAPredefinedEvent> ANAPredefinedEvent::shareEvent(const Text& method, const Text& contentName,
                                                                   const Text& contentType, const Text& contentId,
                                                                   const Json& customAttributes) {
  auto e = make("share", customAttributes);
  e->add(method, "method");
  e->add(contentName, "content_name");
  e->add(contentType, "content_type");
  e->add(contentId, "content_id");
  return e;
}

std::shared_ptr<ANAPredefinedEvent> ANAPredefinedEvent::inviteEvent(const Text& method, const Json& customAttributes) {
  auto e = make("invite", customAttributes);
  e->add(method, "method");
  return e;
}

std::shared_ptr<ANAPredefinedEvent> ANAPredefinedEvent::purchaseEvent(const Price& price, const Text& currency,
                                                                      std::optional<bool> success, const Text& itemName,
                                                                      const Text& itemType, const Text& itemId,
                                                                      const Json& customAttributes) {
  auto e = make("purchase", customAttributes);
  e->mPredefinedAttributes.addPriceAttribute(price, "item_price");
  e->add(currency, "currency");
  e->mPredefinedAttributes.addBooleanAttribute(success, "success");
  e->add(itemName, "item_name");
  e->add(itemType, "item_type");
  e->add(itemId, "item_id");
  return e;
}

std::shared_ptr<ANAPredefinedEvent> ANAPredefinedEvent::levelStartEvent(const Text& levelName,
                                                                        const Json& customAttributes) {
  auto e = make("level_start", customAttributes);
  e->add(levelName, "level_name");
  return e;
}

std::shared_ptr<ANAPredefinedEvent> ANAPredefinedEvent::levelEndEvent(const Text& levelName, const Json& score,
                                                                      std::optional<bool> success,
                                                                      const Json& customAttributes) {
  auto e = make("level_end", customAttributes);
  e->add(levelName, "level_name");
  e->add(score, "score");
  e->mPredefinedAttributes.addBooleanAttribute(success, "success");
  return e;
}

std::shared_ptr<ANAPredefinedEvent> ANAPredefinedEvent::addToCartEvent(const Price& price, const Text& currency,
                                                                       const Text& itemName, const Text& itemType,
                                                                       const Text& itemId,
                                                                       const Json& customAttributes) {
  auto e = make("add_to_cart", customAttributes);
  e->mPredefinedAttributes.addPriceAttribute(price, "item_price");
  e->add(currency, "currency");
  e->add(itemName, "item_name");
  e->add(itemType, "item_type");
  e->add(itemId, "item_id");
  return e;
}

std::shared_ptr<ANAPredefinedEvent> ANAPredefinedEvent::startCheckoutEvent(const Price& price, const Text& currency,
                                                                           const Json& itemCount,
                                                                           const Json& customAttributes) {
  auto e = make("start_checkout", customAttributes);
  e->mPredefinedAttributes.addPriceAttribute(price, "total_price");
  e->add(currency, "currency");
  e->add(itemCount, "item_count");
  return e;
}

std::shared_ptr<ANAPredefinedEvent> ANAPredefinedEvent::ratingEvent(const Json& rating, const Text& contentName,
                                                                    const Text& contentType, const Text& contentId,
                                                                    const Json& customAttributes) {
  auto e = make("rating", customAttributes);
  e->add(rating, "rating");
  e->add(contentName, "content_name");
  e->add(contentType, "content_type");
  e->add(contentId, "content_id");
  return e;
}

std::shared_ptr<ANAPredefinedEvent> ANAPredefinedEvent::contentViewEvent(const Text& contentName,
                                                                         const Text& contentType, const Text& contentId,
                                                                         const Json& customAttributes) {
  auto e = make("content_view", customAttributes);
  e->add(contentName, "content_name");
  e->add(contentType, "content_type");
  e->add(contentId, "content_id");
  return e;
}

std::shared_ptr<ANAPredefinedEvent> ANAPredefinedEvent::searchEvent(const Text& query, const Json& customAttributes) {
  auto e = make("search", customAttributes);
  e->add(query, "query");
  return e;
}

nlohmann::ordered_json ANAPredefinedEvent::dictionaryRepresentation() const {
  nlohmann::ordered_json d = nlohmann::ordered_json::object();
  d["eventId"] = identifier();
  d["predefined_type"] = mPredefinedEventName;
  d["custom_attributes"] = mCustomAttributes.dictionaryRepresentation();
  d["predefined_attributes"] = mPredefinedAttributes.dictionaryRepresentation();
  return d;
}

std::string ANAPredefinedEvent::description() const {
  return "<ANAPredefinedEvent: " + mPredefinedEventName + "\n" + mPredefinedAttributes.description() + "\n" +
         mCustomAttributes.description() + ">";
}

}  // namespace telemetry
