#include "sdk/session/url_errors.h"

namespace telemetry {

Error makeURLError(int64_t code, const std::string& description) {
  Error error;
  error.domain = kURLErrorDomain;
  error.code = code;
  error.description = description;
  return error;
}

}  // namespace telemetry
