#pragma once
// An HTTP request as the SDK builds it: URL, method, headers in the order they were set
// (names compared without regard to case), body, timeout and cache policy.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace telemetry {

class URLRequest {
 public:
  enum class CachePolicy { UseProtocolCachePolicy, ReloadIgnoringLocalCacheData };
  using HeaderList = std::vector<std::pair<std::string, std::string>>;

  URLRequest() = default;
  explicit URLRequest(std::string url, double timeoutInterval = 60.0,
                      CachePolicy cachePolicy = CachePolicy::UseProtocolCachePolicy)
      : mURL(std::move(url)), mTimeoutInterval(timeoutInterval), mCachePolicy(cachePolicy) {}

  const std::string& URL() const { return mURL; }
  void setURL(std::string url) { mURL = std::move(url); }
  const std::string& HTTPMethod() const { return mMethod; }
  void setHTTPMethod(std::string method) { mMethod = std::move(method); }
  double timeoutInterval() const { return mTimeoutInterval; }
  void setTimeoutInterval(double seconds) { mTimeoutInterval = seconds; }
  CachePolicy cachePolicy() const { return mCachePolicy; }
  void setCachePolicy(CachePolicy policy) { mCachePolicy = policy; }

  const std::vector<uint8_t>& HTTPBody() const { return mBody; }
  void setHTTPBody(std::vector<uint8_t> body) { mBody = std::move(body); }
  // A body read from a file when the request is sent (in place of HTTPBody).
  const std::optional<std::string>& HTTPBodyFilePath() const { return mBodyFile; }
  void setHTTPBodyFilePath(std::optional<std::string> path) { mBodyFile = std::move(path); }

  // Replaces the header's value (keeping its place), or appends the header.
  void setValue(const std::string& value, const std::string& field);
  // Appends to the header's value after ",", or appends the header.
  void addValue(const std::string& value, const std::string& field);
  void removeValueForHTTPHeaderField(const std::string& field);
  std::optional<std::string> valueForHTTPHeaderField(const std::string& field) const;
  const HeaderList& allHTTPHeaderFields() const { return mHeaders; }

 private:
  std::string mURL;
  std::string mMethod = "GET";
  double mTimeoutInterval = 60.0;
  CachePolicy mCachePolicy = CachePolicy::UseProtocolCachePolicy;
  HeaderList mHeaders;
  std::vector<uint8_t> mBody;
  std::optional<std::string> mBodyFile;
};

// ASCII comparison without regard to case, as HTTP header names are compared.
bool equalsIgnoringCase(const std::string& a, const std::string& b);

}  // namespace telemetry
