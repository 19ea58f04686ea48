#include "sdk/session/url_errors.h"

namespace telemetry {

Error makeURLError(int64_t code, const std::string& description) {
  Error error;
  error.domain = kURLErrorDomain;
  error.code = code;
  error.description = description;
  return error;
}

Error makeURLError(const platform::TransferError& failure) {
  using F = platform::TransferFailure;
  int64_t code = kURLErrorUnknown;
  switch (failure.failure) {
    case F::Unknown: code = kURLErrorUnknown; break;
    case F::Cancelled: code = kURLErrorCancelled; break;
    case F::BadURL: code = kURLErrorBadURL; break;
    case F::UnsupportedURL: code = kURLErrorUnsupportedURL; break;
    case F::TimedOut: code = kURLErrorTimedOut; break;
    case F::CannotFindHost: code = kURLErrorCannotFindHost; break;
    case F::CannotConnectToHost: code = kURLErrorCannotConnectToHost; break;
    case F::ConnectionLost: code = kURLErrorNetworkConnectionLost; break;
    case F::TooManyRedirects: code = kURLErrorTooManyRedirects; break;
    case F::BadServerResponse: code = kURLErrorBadServerResponse; break;
    case F::BodyStreamExhausted: code = kURLErrorRequestBodyStreamExhausted; break;
    case F::CannotOpenBodyFile: code = kURLErrorCannotOpenFile; break;
    case F::SecureConnectionFailed: code = kURLErrorSecureConnectionFailed; break;
    case F::ServerCertificateUntrusted: code = kURLErrorServerCertificateUntrusted; break;
  }
  return makeURLError(code, failure.description);
}

}  // namespace telemetry
