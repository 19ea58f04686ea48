#include "sdk/client/tel_network_response_handler.h"

#include "sdk/session/url_errors.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

namespace telemetry {

namespace {

TELNetworkResponseType typeForStatus(int status) {
  switch (status) {
    case 200: case 201: case 202: case 204: case 304:
      return TELNetworkResponseType::Success;
    case 400: case 401: case 403: case 404: case 406: case 410: case 411: case 413: case 419: case 422: case 431:
      return TELNetworkResponseType::ClientError;
    case 408:
      return TELNetworkResponseType::Retry;
    case 420: case 429:
      return TELNetworkResponseType::RateLimited;
    default:
      return status >= 500 && status <= 599 ? TELNetworkResponseType::Retry : TELNetworkResponseType::Failure;
  }
}

std::string trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  size_t e = s.find_last_not_of(" \t");
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

}  // namespace

std::optional<std::string> TELNetworkResponseHandler::headerForResponse(const std::optional<URLResponse>& response,
                                                                        const std::string& key) {
  if (!response || response->headers.empty()) return std::nullopt;
  return response->valueForHTTPHeaderField(key);
}

double TELNetworkResponseHandler::retryValueForResponse(const std::optional<URLResponse>& response) {
  auto header = headerForResponse(response, "Retry-After");
  if (!header) return 2.0;
  const char* text = header->c_str();
  char* end = nullptr;
  double value = std::strtod(text, &end);
  if (end == text) return 0.0;
  if (!std::isfinite(value) || value < 0) return 2.0;
  return value;
}

std::optional<std::string> TELNetworkResponseHandler::requestIdForResponse(const std::optional<URLResponse>& response) {
  return headerForResponse(response, "X-Request-Id");
}

bool TELNetworkResponseHandler::contentTypeForResponse(const std::optional<URLResponse>& response,
                                                       const URLRequest& request) {
  auto accept = request.valueForHTTPHeaderField("Accept");
  if (!accept) return true;
  auto contentType = headerForResponse(response, "Content-Type");
  if (!contentType) return false;
  static const std::string kSeparator = "; charset=";
  size_t split = contentType->find(kSeparator);
  std::string media = contentType->substr(0, split);
  if (!equalsIgnoringCase(trimmed(media), trimmed(*accept))) return false;
  auto charset = request.valueForHTTPHeaderField("Accept-Charset");
  if (!charset || split == std::string::npos) return true;
  return equalsIgnoringCase(trimmed(contentType->substr(split + kSeparator.size())), trimmed(*charset));
}

Error TELNetworkResponseHandler::errorForCode(std::int64_t code, nlohmann::json userInfo) {
  Error error;
  error.domain = kTELNetworkErrorDomain;
  error.code = code;
  error.userInfo = std::move(userInfo);
  return error;
}

OptionalError TELNetworkResponseHandler::errorForResponse(const std::optional<URLResponse>& response,
                                                          TELNetworkResponseType type, int status) {
  if (type == TELNetworkResponseType::Success) return std::nullopt;
  std::int64_t code = type == TELNetworkResponseType::ClientError ? kTELNetworkErrorClient
                      : type == TELNetworkResponseType::Failure   ? kTELNetworkErrorFailure
                                                                  : kTELNetworkErrorRetryable;
  nlohmann::json info = {
      {"type", static_cast<std::int64_t>(type)},
      {"status_code", status},
      {"request_id", requestIdForResponse(response).value_or("")},
      {"content_type", headerForResponse(response, "Content-Type").value_or("")},
  };
  return errorForCode(code, std::move(info));
}

void TELNetworkResponseHandler::clientResponseType(const std::optional<URLResponse>& response,
                                                   const ClassificationBlock& handler) {
  int status = response ? response->statusCode : 0;
  handler(status == 0 ? TELNetworkResponseType::Failure : typeForStatus(status), status);
}

void TELNetworkResponseHandler::handleCompletedResponse(const std::optional<URLResponse>& response,
                                                        const URLRequest& originalRequest, const OptionalError& error,
                                                        const CompletionBlock& block) {
  if (error) {
    block(error->is(kURLErrorDomain, kURLErrorTimedOut), error);
    return;
  }
  clientResponseType(response, [&](TELNetworkResponseType type, int status) {
    switch (type) {
      case TELNetworkResponseType::Success:
        if (contentTypeForResponse(response, originalRequest))
          block(false, std::nullopt);
        else
          block(false, errorForResponse(response, TELNetworkResponseType::Failure, status));
        return;
      case TELNetworkResponseType::Failure:
      case TELNetworkResponseType::ClientError:
        block(false, errorForResponse(response, type, status));
        return;
      case TELNetworkResponseType::Retry:
      case TELNetworkResponseType::RateLimited:
        block(true, errorForResponse(response, type, status));
        return;
    }
  });
}

}  // namespace telemetry
