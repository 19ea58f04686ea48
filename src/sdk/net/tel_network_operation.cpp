#include "sdk/net/tel_network_operation.h"

#include <cstdlib>

#include "sdk/core/sdk_constants.h"

namespace telemetry {

TELNetworkOperation::TELNetworkOperation(std::string APIKey, std::string_view className)
    : TELAsyncOperation(className), mAPIKey(std::move(APIKey)) {}

std::shared_ptr<TELNetworkOperation> TELNetworkOperation::create(const std::optional<std::string>& APIKey) {
  if (!APIKey) return nullptr;
  return std::shared_ptr<TELNetworkOperation>(new TELNetworkOperation(*APIKey));
}

URLRequest TELNetworkOperation::mutableRequestWithDefaultHTTPHeaderFieldsAndTimeoutForURL(const std::string& url) const {
  return mutableRequestWithDefaultHTTPHeadersForURL(url, kDefaultTimeout);
}

URLRequest TELNetworkOperation::mutableRequestWithDefaultHTTPHeadersForURL(const std::string& url, double timeout) const {
  URLRequest request(url, timeout, URLRequest::CachePolicy::ReloadIgnoringLocalCacheData);
  const std::string locale = localeIdentifier();
  request.setValue(userAgentString(), "User-Agent");
  request.setValue("utf-8", "Accept-Charset");
  request.setValue(locale, "Accept-Language");
  request.setValue(locale, "Content-Language");
  request.setValue(kDeveloperToken, "X-CrashKit-Developer-Token");
  request.setValue(kHostKitIdentifier, "X-CrashKit-API-Client-Id");
  request.setValue(kHostKitDisplayVersion, "X-CrashKit-API-Client-Display-Version");
  request.setValue(kHostKitBuildVersion, "X-CrashKit-API-Client-Build-Version");
  request.setValue(mAPIKey, "X-CrashKit-API-Key");
  return request;
}

std::string TELNetworkOperation::userAgentString() {
  return std::string(kHostKitIdentifier) + "/" + kHostKitDisplayVersion + " (" + kHostKitBuildVersion + ")";
}

std::string TELNetworkOperation::localeIdentifier() {
  // The same precedence the C library uses for messages.
  const char* value = nullptr;
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* v = std::getenv(name);
    if (v && *v) {
      value = v;
      break;
    }
  }
  std::string locale = value ? value : "";
  // "en_GB.UTF-8@euro" -> "en_GB"
  locale = locale.substr(0, locale.find_first_of(".@"));
  if (locale.empty() || locale == "C" || locale == "POSIX") return "en_US_POSIX";
  return locale;
}

}  // namespace telemetry
