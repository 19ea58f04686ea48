#pragma once
// Everything the analytics kit records is an event: its name, its time, whether it sends the
// current log at once, and its dictionary, the JSON payload of its line in the event log.
// Events are immutable once made and may be read from any thread.

#include <chrono>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>

namespace telemetry {

class ANAEvent {
 public:
  using Time = std::chrono::system_clock::time_point;
  virtual ~ANAEvent() = default;
  ANAEvent(const ANAEvent&) = delete;
  ANAEvent& operator=(const ANAEvent&) = delete;

  virtual std::string name() const { return "unknown"; }
  virtual nlohmann::ordered_json dictionaryRepresentation() const { return nlohmann::ordered_json::object(); }
  virtual bool triggersFlush() const { return false; }
  virtual Time timestamp() const { return mTimestamp; }
  virtual std::string description() const;

  // A fresh UUID, drawn on first use so the thread recording the event does not pay for it.
  const std::string& identifier() const;

 protected:
  ANAEvent();

 private:
  const Time mTimestamp;
  mutable std::once_flag mIdentifierOnce;
  mutable std::string mIdentifier;
};

// Whole seconds since 1970 of a time (0 before 1970), as the log lines count them.
uint64_t ANASecondsSince1970(ANAEvent::Time time);
// Milliseconds since 1970: seconds times 1000, truncated (0 before 1970).
uint64_t ANAMillisecondsSince1970(ANAEvent::Time time);

}  // namespace telemetry
