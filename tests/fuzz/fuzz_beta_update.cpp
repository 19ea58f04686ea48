// The beta update check's answer comes from the network: any body must give an update with a
// URL or an error, never a crash.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "crash/crk_beta_controller.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const nlohmann::json body = nlohmann::json::parse(data, data + size, nullptr, false);
  if (body.is_discarded()) return 0;
  telemetry::OptionalError error;
  auto update = telemetry::CRKBetaUpdate::betaUpdateWithDictionary(body, &error);
  if (update ? update->url.empty() || error.has_value() : !error.has_value()) std::abort();
  return 0;
}
