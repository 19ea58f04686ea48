#pragma once
// What a transfer loop sends and hears, as plain values: the request, the head of the answer
// and the ways a transfer fails. Callers map them to their own request and error types.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {

using HTTPHeaderList = std::vector<std::pair<std::string, std::string>>;

struct HTTPTransferRequest {
  std::string url;
  std::string method = "GET";
  // Sent in this order. A stated Content-Length is dropped (the body's real length goes),
  // as is any header whose name or value would break the header block.
  HTTPHeaderList headers;
  std::vector<std::uint8_t> body;
  // Read when the request is sent, in place of `body`.
  std::optional<std::string> bodyFilePath;
  // No progress for this many seconds ends the transfer; 0 or less means 60.
  double timeoutInterval = 60.0;
};

struct HTTPResponseHead {
  std::string url;  // after redirects
  int statusCode = 0;
  HTTPHeaderList headers;
};

enum class TransferFailure {
  Unknown,
  Cancelled,
  BadURL,
  UnsupportedURL,
  TimedOut,
  CannotFindHost,
  CannotConnectToHost,
  ConnectionLost,
  TooManyRedirects,
  BadServerResponse,
  BodyStreamExhausted,
  CannotOpenBodyFile,
  SecureConnectionFailed,
  ServerCertificateUntrusted,
};

struct TransferError {
  TransferFailure failure = TransferFailure::Unknown;
  std::string description;
};

}  // namespace platform
