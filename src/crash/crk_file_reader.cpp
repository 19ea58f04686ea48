#include "crash/crk_file_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "crash/crk_log.h"

namespace telemetry {

namespace {

constexpr size_t kMaxRecordFileSize = 256u << 20;

// The whole regular file; a FIFO or device in a report folder is refused without blocking.
std::optional<std::vector<uint8_t>> readRegularFile(const char* path) {
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return std::nullopt;
  struct stat st;
  std::optional<std::vector<uint8_t>> bytes;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) <= kMaxRecordFileSize) {
    bytes.emplace();
    uint8_t chunk[65536];
    for (ssize_t n; (n = read(fd, chunk, sizeof chunk)) != 0;) {
      // A file that grows while read is held to the size allowed too.
      if (n < 0 || bytes->size() + static_cast<size_t>(n) > kMaxRecordFileSize) {
        bytes.reset();
        break;
      }
      bytes->insert(bytes->end(), chunk, chunk + n);
    }
  }
  close(fd);
  return bytes;
}

}  // namespace

std::optional<std::vector<nlohmann::json>> CRKFileReadSections(const char* path, bool removeOnFailure,
                                                                const CRKRecordTransform& transform) {
  if (!path) {
    CRKLogError("Error: input path is invalid\n");
    return std::nullopt;
  }
  auto bytes = readRegularFile(path);
  if (!bytes) {
    if (removeOnFailure) unlink(path);
    CRKLogWarn("Unable to read file %s\n", path);
    return std::nullopt;
  }
  std::vector<nlohmann::json> sections;
  const auto* text = reinterpret_cast<const char*>(bytes->data());
  const size_t size = bytes->size();
  for (size_t start = 0; start < size;) {
    size_t end = start;
    while (end < size && text[end] != '\n') ++end;
    // Each line on its own: a torn or undecodable line costs that line only.
    auto object = nlohmann::json::parse(text + start, text + end, nullptr, /*allow_exceptions=*/false);
    start = end + 1;
    if (object.is_discarded()) continue;
    if (transform) {
      auto transformed = transform(std::move(object));
      if (!transformed) continue;
      object = std::move(*transformed);
    }
    sections.push_back(std::move(object));
  }
  return sections;
}

}  // namespace telemetry
