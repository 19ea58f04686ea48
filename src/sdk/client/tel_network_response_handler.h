#pragma once
// Classifies a finished HTTP exchange and turns failures into errors of "TELNetworkError".

#include "sdk/core/error.h"
#include "sdk/net/url_request.h"
#include "sdk/session/url_response.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace telemetry {

inline constexpr const char* kTELNetworkErrorDomain = "TELNetworkError";

enum class TELNetworkResponseType : std::int64_t {
  Success = 0,
  Failure = 1,
  ClientError = 2,
  Retry = 3,
  RateLimited = 4,
};

enum TELNetworkErrorCode : std::int64_t {
  kTELNetworkErrorRetryable = -1,
  kTELNetworkErrorNoTask = -3,
  kTELNetworkErrorFailure = -4,
  kTELNetworkErrorClient = -5,
  kTELNetworkErrorRetryLimitReached = -6,
};

class TELNetworkResponseHandler {
 public:
  using ClassificationBlock = std::function<void(TELNetworkResponseType type, int status)>;
  using CompletionBlock = std::function<void(bool retry, const OptionalError& error)>;

  static std::optional<std::string> headerForResponse(const std::optional<URLResponse>& response,
                                                      const std::string& key);
  // "Retry-After" in seconds; 2 when absent, negative or not finite; 0 when not a number.
  static double retryValueForResponse(const std::optional<URLResponse>& response);
  static std::optional<std::string> requestIdForResponse(const std::optional<URLResponse>& response);
  static bool contentTypeForResponse(const std::optional<URLResponse>& response, const URLRequest& request);
  static Error errorForCode(std::int64_t code, nlohmann::json userInfo = nlohmann::json::object());
  static OptionalError errorForResponse(const std::optional<URLResponse>& response, TELNetworkResponseType type,
                                        int status);
  static void clientResponseType(const std::optional<URLResponse>& response, const ClassificationBlock& handler);
  // A transport error is passed on (retried only when it is a timeout); otherwise the
  // response is classified.
  static void handleCompletedResponse(const std::optional<URLResponse>& response, const URLRequest& originalRequest,
                                      const OptionalError& error, const CompletionBlock& block);
};

}  // namespace telemetry
