#pragma once
// Small file helpers of the SDK: whole-file reads with a size cap and atomic replacement.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace telemetry::fileio {

// The whole file, or nothing when it cannot be read, is not a regular file or is larger
// than `maxBytes`. Opened without waiting (platform/core/regular_file.h): a FIFO or a device
// in the file's place is refused at once, and the refusal is logged with the path and reason.
std::optional<std::vector<uint8_t>> readFile(const std::string& path, size_t maxBytes = 64u << 20);

// Replaces `path` (mode 0600; a link there is replaced, never followed) through the platform's atomic writer, so readers see the old
// contents or the new, never a mix. False (with errno's text in `error`) when any step fails.
// Unless `durable` is false, it returns only once the new contents are on the disk.
bool writeFileAtomically(const std::string& path, const void* bytes, size_t length, std::string* error = nullptr,
                         bool durable = true);

// The last component of a path ("a/b/" and "a/b" give "b"; a path without a slash is itself).
std::string lastPathComponent(const std::string& path);

// Creates the folder and every missing parent (mode 0700 for new ones).
bool createDirectories(const std::string& path, std::string* error = nullptr);

enum class FileKind { Missing, Regular, Directory, Other };
FileKind kindOf(const std::string& path);

// Removes a file or a whole folder tree (not following symbolic links).
bool removeItem(const std::string& path, std::string* error = nullptr);

}  // namespace telemetry::fileio
