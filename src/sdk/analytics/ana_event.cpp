#include "sdk/analytics/ana_event.h"

#include <cmath>

#include "sdk/identity/encoding.h"

namespace telemetry {

namespace {
double secondsSince1970(ANAEvent::Time time) { return std::chrono::duration<double>(time.time_since_epoch()).count(); }
// A double outside the unsigned range cannot be converted; such times read as 0.
uint64_t toUnsigned(double value) {
  if (!(value > 0)) return 0;
  if (value >= 18446744073709551615.0) return UINT64_MAX;
  return static_cast<uint64_t>(value);
}
}  // namespace

ANAEvent::ANAEvent() : mTimestamp(std::chrono::system_clock::now()) {}

const std::string& ANAEvent::identifier() const {
  std::call_once(mIdentifierOnce, [this] { mIdentifier = TELGenerateUUIDString(); });
  return mIdentifier;
}

std::string ANAEvent::description() const { return "<ANAEvent: " + name() + ">"; }

uint64_t ANASecondsSince1970(ANAEvent::Time time) { return toUnsigned(secondsSince1970(time)); }

uint64_t ANAMillisecondsSince1970(ANAEvent::Time time) { return toUnsigned(secondsSince1970(time) * 1000.0); }

}  // namespace telemetry
