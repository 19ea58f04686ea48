#pragma once
// Assembles endpoint URLs: a base, path pieces (as given or percent-escaped) and query
// parameters, where a parameter without a value is left out.

#include <cstdint>
#include <optional>
#include <string>

namespace telemetry {

class TELURLBuilder {
 public:
  TELURLBuilder() = default;
  static TELURLBuilder URLWithBase(const std::string& base);

  void appendComponent(const std::string& component);
  // UTF-8 percent escapes for the characters that may not appear in a URL at all. Reserved
  // characters ("&", "=", "+", "/", "?" and the like) stay as they are.
  static std::string escapeString(const std::string& string);
  void escapeAndAppendComponent(const std::string& component);
  // "?" before the first parameter, "&" before later ones; the value is escaped fully.
  void appendValue(const std::optional<std::string>& value, const std::string& queryParam);
  void appendValue(std::int64_t value, const std::string& queryParam);

  const std::string& URLString() const { return mURLString; }
  std::uint64_t queryParams() const { return mQueryParams; }
  // The URL, or nothing when the string is not a valid URL.
  std::optional<std::string> URL() const;

 private:
  // Every byte of the value but letters, digits and "-._~" percent-escaped, as libcurl escapes.
  static std::string escapeQueryValue(const std::string& value);
  std::string mURLString;
  std::uint64_t mQueryParams = 0;
};

}  // namespace telemetry
