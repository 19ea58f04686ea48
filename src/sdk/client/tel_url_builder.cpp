#include "sdk/client/tel_url_builder.h"

#include "platform/net/curl_library.h"

#include <cstring>

namespace telemetry {

TELURLBuilder TELURLBuilder::URLWithBase(const std::string& base) {
  TELURLBuilder builder;
  builder.mURLString = base;
  return builder;
}

void TELURLBuilder::appendComponent(const std::string& component) { mURLString += component; }

std::string TELURLBuilder::escapeString(const std::string& string) {
  static const char* kLegal = "-_.!~*'();/?:@&=+$,";
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  out.reserve(string.size());
  for (unsigned char c : string) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 (c != 0 && std::strchr(kLegal, c) != nullptr);
    if (plain) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0x0F]);
    }
  }
  return out;
}

void TELURLBuilder::escapeAndAppendComponent(const std::string& component) { mURLString += escapeString(component); }

std::string TELURLBuilder::escapeQueryValue(const std::string& value) {
  // Everything but RFC 3986's unreserved characters is escaped: a "+" left as it is reaches the
  // server as a space, an "&" or "=" splits the parameter.
  const platform::CurlLibrary* curl = platform::curlLibrary();
  char* escaped = curl ? curl->easy_escape(nullptr, value.data(), static_cast<int>(value.size())) : nullptr;
  // Without libcurl URL() makes no URL, so what the string holds then matters to nobody.
  if (!escaped) return escapeString(value);
  std::string out(escaped);
  curl->free(escaped);
  return out;
}

void TELURLBuilder::appendValue(const std::optional<std::string>& value, const std::string& queryParam) {
  if (!value) return;
  mURLString += mQueryParams == 0 ? "?" : "&";
  ++mQueryParams;
  mURLString += queryParam + "=" + escapeQueryValue(*value);
}

void TELURLBuilder::appendValue(std::int64_t value, const std::string& queryParam) {
  appendValue(std::optional<std::string>(std::to_string(value)), queryParam);
}

std::optional<std::string> TELURLBuilder::URL() const {
  // Without libcurl nothing could be sent to the address anyway.
  const platform::CurlLibrary* curl = platform::curlLibrary();
  if (!curl) return std::nullopt;
  CURLU* url = curl->url();
  if (!url) return std::nullopt;
  bool valid = curl->url_set(url, CURLUPART_URL, mURLString.c_str(), 0) == CURLUE_OK;
  curl->url_cleanup(url);
  if (!valid) return std::nullopt;
  return mURLString;
}

}  // namespace telemetry
