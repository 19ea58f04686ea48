#pragma once
// Appends events, one line each, to an event log in one write; a log it creates opens with the
// metadata line. Lines are "<ms since 1970>\t<name>\t<UTF-16 length of the JSON>\t<JSON>\n", the
// events' formatted once at creation. The log only ever holds whole lines: a write that fails
// part-way cuts the file back to where the operation's lines began, and a line left unfinished
// by a writer that was killed is removed before the next one is appended. Runs on the analytics
// event queue, one at a time.

#include <sys/types.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "sdk/analytics/ana_event.h"
#include "sdk/analytics/ana_metadata_serializable.h"
#include "sdk/core/operation.h"

namespace telemetry {

class ANAWriteEventOperation final : public Operation {
 public:
  // At most this many write calls per line.
  static constexpr int kMaximumWriteAttempts = 3;

  ANAWriteEventOperation(std::shared_ptr<const ANAEvent> event, std::shared_ptr<const ANAMetadataSerializable> metadata,
                         std::string logFileUrl);
  // No events yet: append them before the operation is queued.
  ANAWriteEventOperation(std::shared_ptr<const ANAMetadataSerializable> metadata, std::string logFileUrl);

  // Adds an event's line after those before it, answering the bytes added (none for an event
  // that makes no line). The metadata line takes the first event's time. Not once queued.
  size_t append(const std::shared_ptr<const ANAEvent>& event);

  // One line with its line feed; nothing for a name that would break the line's fields or
  // a payload that is not an object.
  static std::optional<std::string> formatLine(uint64_t milliseconds, const std::string& name,
                                               const nlohmann::ordered_json& payload);
  // The same from the payload's compact JSON text (nothing for text holding a tab, a line
  // break or invalid UTF-8).
  static std::optional<std::string> formatLineWithJSONText(uint64_t milliseconds, const std::string& name,
                                                           const std::string& json);

  void main() override;

  // False until a write has fully succeeded; read after the operation finished.
  bool success() const { return mSuccess.load(); }
  // The events' lines; nothing when none made a line.
  const std::optional<std::string>& formattedEvent() const { return mFormattedEvent; }
  // Formatted on first use: only a log the operation creates needs it.
  const std::optional<std::string>& formattedMetadata() const;
  const std::string& logFileUrl() const { return mLogFileUrl; }

 private:
  // `length` is where the file's whole lines end; each appended line moves it on.
  bool write(int fd, bool fileExisted, off_t length);
  static bool appendLine(int fd, const std::string& line, off_t& length);
  // The length of the file's whole lines, after cutting away an unfinished last line.
  off_t wholeLinesLength(int fd, off_t size);

  std::shared_ptr<const ANAEvent> mFirstEvent;
  const std::shared_ptr<const ANAMetadataSerializable> mMetadata;
  const std::string mLogFileUrl;
  std::optional<std::string> mFormattedEvent;
  mutable std::once_flag mMetadataFormatted;
  mutable std::optional<std::string> mFormattedMetadata;
  std::atomic<bool> mSuccess{false};
};

}  // namespace telemetry
