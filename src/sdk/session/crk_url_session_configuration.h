#pragma once
// What a URL session is made with. This system has no session with background
// configurations, so every configuration handed out is the SDK's own and a background one
// is none.

#include "sdk/net/url_request.h"

#include <optional>
#include <string>

namespace telemetry {

class CRKURLSessionConfiguration {
 public:
  CRKURLSessionConfiguration() = default;
  // A copy carries only the additional headers.
  CRKURLSessionConfiguration(const CRKURLSessionConfiguration& other) : mHTTPAdditionalHeaders(other.mHTTPAdditionalHeaders) {}
  CRKURLSessionConfiguration& operator=(const CRKURLSessionConfiguration& other) {
    mHTTPAdditionalHeaders = other.mHTTPAdditionalHeaders;
    mHTTPCookieAcceptPolicy = 0;
    return *this;
  }

  static CRKURLSessionConfiguration defaultSessionConfiguration() { return {}; }
  static CRKURLSessionConfiguration ephemeralSessionConfiguration() { return {}; }
  static std::optional<CRKURLSessionConfiguration> backgroundSessionConfigurationWithIdentifier(const std::string&) {
    return std::nullopt;
  }
  static std::optional<CRKURLSessionConfiguration> backgroundSessionConfiguration(const std::string& identifier) {
    return backgroundSessionConfigurationWithIdentifier(identifier);
  }

  // Added to every task's request, after any value the request already has.
  const URLRequest::HeaderList& HTTPAdditionalHeaders() const { return mHTTPAdditionalHeaders; }
  void setHTTPAdditionalHeaders(URLRequest::HeaderList headers) { mHTTPAdditionalHeaders = std::move(headers); }
  unsigned HTTPCookieAcceptPolicy() const { return mHTTPCookieAcceptPolicy; }
  void setHTTPCookieAcceptPolicy(unsigned policy) { mHTTPCookieAcceptPolicy = policy; }
  bool sessionSendsLaunchEvents() const { return false; }
  void setSessionSendsLaunchEvents(bool) {}

 private:
  URLRequest::HeaderList mHTTPAdditionalHeaders;
  unsigned mHTTPCookieAcceptPolicy = 0;
};

}  // namespace telemetry
