#pragma once
// JSON text in and out for the whole SDK. Output never throws: a string holding invalid
// UTF-8 is written with U+FFFD in place of the bad bytes. Input is bounded in nesting,
// because copying, printing and destroying a value recurse once per level.

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace telemetry {

inline constexpr int kMaxJSONNestingDepth = 64;

// Compact JSON text (no blanks between tokens).
template <class Json>
std::string jsonText(const Json& value) {
  return value.dump(-1, ' ', /*ensure_ascii=*/false, Json::error_handler_t::replace);
}

// The parsed value, or nothing when the text is not JSON or nests deeper than `maxDepth`.
template <class Json = nlohmann::json>
std::optional<Json> parseJSON(std::string_view text, int maxDepth = kMaxJSONNestingDepth) {
  bool tooDeep = false;
  Json parsed = Json::parse(
      text.begin(), text.end(),
      [&](int depth, typename Json::parse_event_t, Json&) {
        if (depth > maxDepth) tooDeep = true;
        return !tooDeep;
      },
      /*allow_exceptions=*/false);
  if (tooDeep || parsed.is_discarded()) return std::nullopt;
  return parsed;
}

}  // namespace telemetry
