#pragma once
// Failures travel as values: a domain, a code, a description and user information.

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace telemetry {

struct Error {
  std::string domain;
  int64_t code = 0;
  std::string description;  // the localised description, when the maker gave one
  nlohmann::json userInfo = nlohmann::json::object();

  // The description, else "The operation couldn't be completed. (<domain> error <code>.)".
  std::string localizedDescription() const;
  bool is(const std::string& d, int64_t c) const { return domain == d && code == c; }
};

using OptionalError = std::optional<Error>;

}  // namespace telemetry
