#pragma once
// The head of a server's answer. A status of 0 means the answer carried no HTTP status.

#include "sdk/net/url_request.h"

#include <optional>
#include <string>

namespace telemetry {

struct URLResponse {
  std::string URL;
  int statusCode = 0;
  URLRequest::HeaderList headers;

  std::optional<std::string> valueForHTTPHeaderField(const std::string& field) const {
    for (const auto& [name, value] : headers)
      if (equalsIgnoringCase(name, field)) return value;
    return std::nullopt;
  }
};

}  // namespace telemetry
