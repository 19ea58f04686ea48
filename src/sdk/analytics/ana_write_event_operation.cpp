#include "sdk/analytics/ana_write_event_operation.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sdk/analytics/ana_logger.h"
#include "sdk/analytics/ana_text.h"
#include "sdk/core/json_text.h"

namespace telemetry {

namespace {

constexpr const char* kLabel = "WriteOperation";

std::optional<std::string> eventLine(const std::shared_ptr<const ANAEvent>& event) {
  if (!event) return std::nullopt;
  return ANAWriteEventOperation::formatLine(ANAMillisecondsSince1970(event->timestamp()), event->name(),
                                            event->dictionaryRepresentation());
}

std::optional<std::string> metadataLine(const std::shared_ptr<const ANAEvent>& event,
                                        const std::shared_ptr<const ANAMetadataSerializable>& metadata) {
  if (!event || !metadata) return std::nullopt;
  auto dictionary = metadata->dictionaryRepresentationWithStartTime(ANASecondsSince1970(event->timestamp()));
  if (!dictionary) return std::nullopt;
  return ANAWriteEventOperation::formatLine(ANAMillisecondsSince1970(event->timestamp()), metadata->eventName(),
                                            *dictionary);
}

}  // namespace

ANAWriteEventOperation::ANAWriteEventOperation(std::shared_ptr<const ANAEvent> event,
                                               std::shared_ptr<const ANAMetadataSerializable> metadata,
                                               std::string logFileUrl)
    : mEvent(std::move(event)),
      mMetadata(std::move(metadata)),
      mLogFileUrl(std::move(logFileUrl)),
      mFormattedEvent(eventLine(mEvent)),
      mFormattedMetadata(metadataLine(mEvent, mMetadata)) {}

std::optional<std::string> ANAWriteEventOperation::formatLine(uint64_t milliseconds, const std::string& name,
                                                              const nlohmann::ordered_json& payload) {
  if (!payload.is_object() || name.empty() || name.find_first_of("\t\r\n") != std::string::npos) return std::nullopt;
  std::string json = jsonText(payload);  // valid UTF-8 and free of raw control characters
  return std::to_string(milliseconds) + "\t" + anatext::validUTF8(name) + "\t" +
         std::to_string(anatext::utf16Length(json)) + "\t" + json + "\n";
}

void ANAWriteEventOperation::main() {
  mSuccess = false;
  struct stat st {};
  const bool existed = ::stat(mLogFileUrl.c_str(), &st) == 0;
  if (existed && S_ISDIR(st.st_mode)) return;
  // Read access too: a partial last line is looked for before appending.
  int fd = ::open(mLogFileUrl.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  if (existed) dropPartialLastLine(fd);
  bool ok = write(fd, existed);
  if (::close(fd) != 0) {
    ANALogger::sharedLogger().logWithLabel(kLabel, "Failed to close file, error: %s", std::strerror(errno));
    ok = false;
  }
  mSuccess = ok;
}

void ANAWriteEventOperation::dropPartialLastLine(int fd) {
  // A writer killed in the middle of a line leaves its start behind; the next line must not
  // be glued to it.
  struct stat st {};
  if (::fstat(fd, &st) != 0 || st.st_size == 0) return;
  char buffer[4096];
  off_t end = st.st_size;
  while (end > 0) {
    off_t start = end > static_cast<off_t>(sizeof buffer) ? end - static_cast<off_t>(sizeof buffer) : 0;
    ssize_t n = ::pread(fd, buffer, static_cast<size_t>(end - start), start);
    if (n != end - start) return;
    for (ssize_t i = n - 1; i >= 0; --i) {
      if (buffer[i] != '\n') continue;
      off_t keep = start + i + 1;
      if (keep == st.st_size) return;  // ends with a whole line
      ANALogger::sharedLogger().logWithLabel(kLabel, "Removing a partial line from %s", mLogFileUrl.c_str());
      (void)::ftruncate(fd, keep);
      return;
    }
    end = start;
  }
  ANALogger::sharedLogger().logWithLabel(kLabel, "Removing a partial line from %s", mLogFileUrl.c_str());
  (void)::ftruncate(fd, 0);
}

bool ANAWriteEventOperation::write(int fd, bool fileExisted) {
  if (!mFormattedEvent || !mFormattedMetadata) return false;
  if (!fileExisted && !appendLine(fd, *mFormattedMetadata)) return false;
  return appendLine(fd, *mFormattedEvent);
}

bool ANAWriteEventOperation::appendLine(int fd, const std::string& line) {
  if (line.empty()) return false;
  struct stat before {};
  if (::fstat(fd, &before) != 0) return false;
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
  if (ok) return true;
  ANALogger::sharedLogger().logWithLabel(kLabel, "Error: exited write loop without success\n");
  // Whatever part of the line reached the file goes again, so the log keeps whole lines only.
  if (::ftruncate(fd, before.st_size) != 0)
    ANALogger::sharedLogger().logWithLabel(kLabel, "Failed to remove a partial line: %s", std::strerror(errno));
  return false;
}

}  // namespace telemetry
