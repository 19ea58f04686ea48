#pragma once
// Sampling: an installation sampled out drops the lifecycle and crash events of the sampled
// vocabulary, chosen stably by the Java string hash of its installation identifier.

#include <cstdint>
#include <optional>
#include <string>

namespace telemetry {

class ANAEvent;

class ANAEventFilter {
 public:
  // True when the event is to be dropped. No event is dropped with a beta token.
  bool shouldDiscardEvent(const ANAEvent* event, const std::optional<std::string>& betaToken,
                          const std::optional<std::string>& installationID, int64_t factor) const;
  static bool samplingEnabledForEventType(const std::string& eventName);
  // Kept exactly when the hash is divisible by the factor; factors below 2 keep everything.
  static bool shouldDiscardEventWithInstallationID(const std::optional<std::string>& installationID, int64_t factor);
  // The Java String hash over the text's UTF-16 code units.
  static int32_t javaHashCodeForString(const std::string& text);
};

}  // namespace telemetry
