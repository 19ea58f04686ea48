#pragma once
// Raised only for an invalid SDK configuration in the property list and for something passed
// to Telemetry::with that is no kit. Everything else travels as error values.

#include <stdexcept>
#include <string>

namespace telemetry {

class TELException : public std::runtime_error {
 public:
  explicit TELException(const std::string& reason) : std::runtime_error(reason) {}
  static constexpr const char* kName = "TELException";
  std::string reason() const { return what(); }
};

}  // namespace telemetry
