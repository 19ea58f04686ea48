#include "sdk/core/error.h"

namespace telemetry {

std::string Error::localizedDescription() const {
  if (!description.empty()) return description;
  return "The operation couldn't be completed. (" + domain + " error " + std::to_string(code) + ".)";
}

}  // namespace telemetry
