// Downloaded settings steer the analytics kit, and what an application attaches to its
// events is arbitrary: every value must read as a number, a flag or a default, and every
// event built from hostile attributes must make a well-formed log line.

#include <cctype>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "sdk/analytics/ana_custom_event.h"
#include "sdk/analytics/ana_event_filter.h"
#include "sdk/analytics/ana_predefined_event.h"
#include "sdk/analytics/ana_settings.h"
#include "sdk/analytics/ana_text.h"
#include "sdk/analytics/ana_write_event_operation.h"
#include "sdk/core/console.h"
#include "sdk/core/json_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet = [] {
    telemetry::setConsoleSink([](const std::string&) {});
    return true;
  }();
  (void)quiet;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto parsed = telemetry::parseJSON<nlohmann::json>(text);
  auto dictionary = parsed ? std::make_shared<const nlohmann::json>(*parsed) : nullptr;
  telemetry::ANASettings settings(dictionary);
  (void)settings.shouldCollectAnalytics();
  auto url = settings.analyticsURL();
  if (url) {  // an endpoint is always https, whatever the settings said
    std::string scheme = url->substr(0, 8);
    for (auto& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (scheme != "https://") std::abort();
  }
  (void)settings.maximumPayloadSize();
  (void)settings.maxPendingSendFiles();
  if (!std::isfinite(settings.flushInterval()) || !std::isfinite(settings.defaultUploadTimeout()) ||
      !std::isfinite(settings.lowPowerUploadTimeout()))
    std::abort();
  telemetry::ANAEventFilter filter;
  auto installation = std::string(text.substr(0, 64));

  // The same bytes as attributes and names.
  auto ordered = telemetry::parseJSON<nlohmann::ordered_json>(text);
  nlohmann::ordered_json attributes = ordered ? *ordered : nlohmann::ordered_json(std::string(text));
  auto custom = telemetry::ANACustomEvent::create(std::string(text.substr(0, 200)), attributes);
  auto predefined = telemetry::ANAPredefinedEvent::searchEvent(std::string(text), attributes);
  for (const std::shared_ptr<telemetry::ANAEvent>& event :
       {std::shared_ptr<telemetry::ANAEvent>(custom), std::shared_ptr<telemetry::ANAEvent>(predefined)}) {
    (void)filter.shouldDiscardEvent(event.get(), std::nullopt, installation, settings.samplingRate());
    auto line = telemetry::ANAWriteEventOperation::formatLine(1, event->name(), event->dictionaryRepresentation());
    if (!line || line->back() != '\n' || !telemetry::anatext::isValidUTF8(*line)) std::abort();
    if (line->find('\n') != line->size() - 1) std::abort();
  }
  if (custom->customAttributes().dictionaryRepresentation().size() > 21) std::abort();

  // The same bytes as a price: exact or refused, never a crash.
  auto price = telemetry::ANADecimal::fromString(text.substr(0, 64));
  telemetry::ANAAttributeDictionary prices;
  prices.addPriceAttribute(price, "item_price");
  (void)telemetry::jsonText(prices.dictionaryRepresentation());
  if (price) {
    auto again = telemetry::ANADecimal::fromString(price->description());
    if (!again || again->description() != price->description()) std::abort();
  }
  for (const auto& [k, v] : custom->customAttributes().dictionaryRepresentation().items()) {
    if (telemetry::anatext::utf16Length(k) > 100) std::abort();
    if (v.is_string() && telemetry::anatext::utf16Length(v.get<std::string>()) > 100) std::abort();
  }
  return 0;
}
