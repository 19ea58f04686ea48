#pragma once
// Appends one event as one line to an event log; a log it creates opens with the metadata
// line. Lines are "<ms since 1970>\t<name>\t<UTF-16 length of the JSON>\t<JSON>\n", formatted
// once at creation. The log only ever holds whole lines: a write that fails part-way cuts
// the file back to where that line began, and a line left unfinished by a writer that was
// killed is removed before the next one is appended. Runs on the analytics event queue, one at a time.

#include <sys/types.h>

#include <atomic>
#include <memory>
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
  const std::optional<std::string>& formattedEvent() const { return mFormattedEvent; }
  const std::optional<std::string>& formattedMetadata() const { return mFormattedMetadata; }
  const std::string& logFileUrl() const { return mLogFileUrl; }

 private:
  // `length` is where the file's whole lines end; each appended line moves it on.
  bool write(int fd, bool fileExisted, off_t length);
  static bool appendLine(int fd, const std::string& line, off_t& length);
  // The length of the file's whole lines, after cutting away an unfinished last line.
  off_t wholeLinesLength(int fd, off_t size);

  const std::shared_ptr<const ANAEvent> mEvent;
  const std::shared_ptr<const ANAMetadataSerializable> mMetadata;
  const std::string mLogFileUrl;
  const std::optional<std::string> mFormattedEvent;
  const std::optional<std::string> mFormattedMetadata;
  std::atomic<bool> mSuccess{false};
};

}  // namespace telemetry
