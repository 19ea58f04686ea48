#pragma once
// The base of every request the host kit makes to its own service: it keeps the
// application's API key and builds requests carrying the SDK's default headers.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "sdk/net/tel_async_operation.h"
#include "sdk/net/url_request.h"

namespace telemetry {

class TELNetworkOperation : public TELAsyncOperation {
 public:
  static constexpr double kDefaultTimeout = 10.0;

  // No API key gives no operation.
  static std::shared_ptr<TELNetworkOperation> create(const std::optional<std::string>& APIKey);

  const std::string& APIKey() const { return mAPIKey; }

  // The default request with a 10-second timeout; subclasses may add to it.
  virtual URLRequest mutableRequestWithDefaultHTTPHeaderFieldsAndTimeoutForURL(const std::string& url) const;
  // A request that ignores locally cached data, with the given timeout and the default
  // headers, set in their fixed order.
  URLRequest mutableRequestWithDefaultHTTPHeadersForURL(const std::string& url, double timeout) const;

  // "<host kit identifier>/<display version> (<build version>)".
  static std::string userAgentString();
  // The user's locale as language and region joined by "_" ("en_GB"); "en_US_POSIX" for the
  // C and POSIX locales.
  static std::string localeIdentifier();

 protected:
  // Subclasses make sure a key exists before constructing (see create()).
  explicit TELNetworkOperation(std::string APIKey, std::string_view className = "TELNetworkOperation");

 private:
  std::string mAPIKey;
};

}  // namespace telemetry
