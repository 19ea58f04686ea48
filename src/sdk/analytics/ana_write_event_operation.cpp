#include "sdk/analytics/ana_write_event_operation.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/core/regular_file.h"
#include "sdk/analytics/ana_file_utils.h"
#include "sdk/analytics/ana_logger.h"
#include "sdk/analytics/ana_text.h"
#include "sdk/core/json_text.h"

namespace telemetry {

namespace {

constexpr const char* kLabel = "WriteOperation";

std::optional<std::string> metadataLine(const std::shared_ptr<const ANAEvent>& event,
                                        const std::shared_ptr<const ANAMetadataSerializable>& metadata) {
  if (!event || !metadata) return std::nullopt;
  auto json = metadata->serializedDictionaryWithStartTime(ANASecondsSince1970(event->timestamp()));
  if (!json || json->empty() || json->front() != '{') return std::nullopt;
  return ANAWriteEventOperation::formatLineWithJSONText(ANAMillisecondsSince1970(event->timestamp()),
                                                        metadata->eventName(), *json);
}

}  // namespace

ANAWriteEventOperation::ANAWriteEventOperation(std::shared_ptr<const ANAEvent> event,
                                               std::shared_ptr<const ANAMetadataSerializable> metadata,
                                               std::string logFileUrl)
    : ANAWriteEventOperation(std::move(metadata), std::move(logFileUrl)) {
  append(event);
}

ANAWriteEventOperation::ANAWriteEventOperation(std::shared_ptr<const ANAMetadataSerializable> metadata,
                                               std::string logFileUrl)
    : mMetadata(std::move(metadata)), mLogFileUrl(std::move(logFileUrl)) {}

size_t ANAWriteEventOperation::append(const std::shared_ptr<const ANAEvent>& event) {
  if (!event) return 0;
  if (!mFirstEvent) mFirstEvent = event;
  auto line = formatLine(ANAMillisecondsSince1970(event->timestamp()), event->name(), event->dictionaryRepresentation());
  if (!line) return 0;
  if (!mFormattedEvent) mFormattedEvent.emplace();
  mFormattedEvent->append(*line);
  return line->size();
}

const std::optional<std::string>& ANAWriteEventOperation::formattedMetadata() const {
  std::call_once(mMetadataFormatted, [this] { mFormattedMetadata = metadataLine(mFirstEvent, mMetadata); });
  return mFormattedMetadata;
}

std::optional<std::string> ANAWriteEventOperation::formatLine(uint64_t milliseconds, const std::string& name,
                                                              const nlohmann::ordered_json& payload) {
  if (!payload.is_object()) return std::nullopt;
  return formatLineWithJSONText(milliseconds, name, jsonText(payload));
}

std::optional<std::string> ANAWriteEventOperation::formatLineWithJSONText(uint64_t milliseconds,
                                                                          const std::string& name,
                                                                          const std::string& json) {
  if (name.empty() || name.find_first_of("\t\r\n") != std::string::npos) return std::nullopt;
  // Compact JSON from jsonText passes these checks; other text might end the line early.
  if (json.find_first_of("\t\r\n") != std::string::npos || !anatext::isValidUTF8(json)) return std::nullopt;
  return std::to_string(milliseconds) + "\t" + anatext::validUTF8(name) + "\t" +
         std::to_string(anatext::utf16Length(json)) + "\t" + json + "\n";
}

void ANAWriteEventOperation::main() {
  mSuccess = false;
  // Opening without creating first tells an existing file, a new one and a folder apart.
  // Read access too: a partial last line is looked for before appending.
  // Only a log of its own: a link, a folder or a FIFO at its name is refused.
  bool existed = true;
  std::string why;
  int fd = platform::openRegularFileForWriting(mLogFileUrl, O_RDWR | O_APPEND, 0644, &why);
  if (fd < 0 && errno == ENOENT) {
    existed = false;
    fd = platform::openRegularFileForWriting(mLogFileUrl, O_RDWR | O_CREAT | O_APPEND, 0644, &why);
  }
  if (fd < 0) {
    ANALogger::sharedLogger().logWithLabel(kLabel, "Cannot write %s: %s", mLogFileUrl.c_str(), why.c_str());
    return;
  }
  struct stat st {};
  bool ok = false;
  if (::fstat(fd, &st) == 0) {
    off_t length = existed ? wholeLinesLength(fd, st.st_size) : st.st_size;
    ok = write(fd, existed, length);
  }
  if (::close(fd) != 0) {
    ANALogger::sharedLogger().logWithLabel(kLabel, "Failed to close file, error: %s", std::strerror(errno));
    ok = false;
  }
  mSuccess = ok;
}

off_t ANAWriteEventOperation::wholeLinesLength(int fd, off_t size) {
  // The next line must not be glued to what a killed writer left.
  const off_t keep = ANAFileUtils::wholeLinesLength(fd, size);
  if (keep == size) return size;
  ANALogger::sharedLogger().logWithLabel(kLabel, "Removing a partial line from %s", mLogFileUrl.c_str());
  return ::ftruncate(fd, keep) == 0 ? keep : size;
}

bool ANAWriteEventOperation::write(int fd, bool fileExisted, off_t length) {
  if (!mFormattedEvent) return false;
  if (!fileExisted && (!formattedMetadata() || !appendLine(fd, *formattedMetadata(), length))) return false;
  return appendLine(fd, *mFormattedEvent, length);
}

bool ANAWriteEventOperation::appendLine(int fd, const std::string& line, off_t& length) {
  if (line.empty()) return false;
  const char* bytes = line.data();
  size_t left = line.size();
  bool ok = false;
  for (int attempt = 0; attempt < kMaximumWriteAttempts; ++attempt) {
    ssize_t n = ::write(fd, bytes, left);
    if (n < 0) {
      ANALogger::sharedLogger().logWithLabel(kLabel, "Failed to write: %s\n", std::strerror(errno));
      break;
    }
    if (static_cast<size_t>(n) > left) {
      ANALogger::sharedLogger().logWithLabel(kLabel, "Error: length doesn't make sense (%zd, %zu)\n", n, left);
      break;
    }
    if (n == 0) break;
    bytes += n;
    left -= static_cast<size_t>(n);
    if (left == 0) {
      ok = true;
      break;
    }
  }
  if (ok) {
    length += static_cast<off_t>(line.size());
    return true;
  }
  ANALogger::sharedLogger().logWithLabel(kLabel, "Error: exited write loop without success\n");
  // Whatever part of the line reached the file goes again, so the log keeps whole lines only.
  if (::ftruncate(fd, length) != 0)
    ANALogger::sharedLogger().logWithLabel(kLabel, "Failed to remove a partial line: %s", std::strerror(errno));
  return false;
}

}  // namespace telemetry
