#pragma once
// Transport failures of the SDK's URL loading, in the codes callers test for.

#include "sdk/core/error.h"

#include "platform/net/http_transfer.h"

#include <string>

namespace telemetry {

inline constexpr const char* kURLErrorDomain = "URLErrorDomain";

enum URLErrorCode : int64_t {
  kURLErrorUnknown = -1,
  kURLErrorCancelled = -999,
  kURLErrorBadURL = -1000,
  kURLErrorTimedOut = -1001,
  kURLErrorUnsupportedURL = -1002,
  kURLErrorCannotFindHost = -1003,
  kURLErrorCannotConnectToHost = -1004,
  kURLErrorNetworkConnectionLost = -1005,
  kURLErrorTooManyRedirects = -1007,
  kURLErrorBadServerResponse = -1011,
  kURLErrorUserCancelledAuthentication = -1012,
  kURLErrorCannotParseResponse = -1017,
  kURLErrorRequestBodyStreamExhausted = -1021,
  kURLErrorSecureConnectionRequired = -1022,
  kURLErrorCannotOpenFile = -3000,
  kURLErrorSecureConnectionFailed = -1200,
  kURLErrorServerCertificateUntrusted = -1202,
};

Error makeURLError(int64_t code, const std::string& description);
// The code callers test for, for a failure of the connection layer.
Error makeURLError(const platform::TransferError& failure);

}  // namespace telemetry
