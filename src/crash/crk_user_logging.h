#pragma once
// The bounded records a crash report carries of the run before it: log lines, recorded
// errors, custom exceptions and two key-value sets (the application's keys and the kit's
// own). Ordinary code, serialised on the crash kit's logging queue; callers wait for
// their record. Key-value logs are compacted into a snapshot every 64 writes; the other
// records alternate between an "a" and a "b" file, so at most two generations stay.

#include <cstdarg>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "crash/crk_file.h"
#include "sdk/core/error.h"

namespace telemetry {

inline constexpr uint32_t kCRKKeyValueCompactionThreshold = 64;

struct CRKUserLoggingKVStorage {
  const char* incrementalPath = nullptr;
  const char* compactedPath = nullptr;
  uint32_t compactionThreshold = kCRKKeyValueCompactionThreshold;
  uint32_t maxEntries = 0;
};

struct CRKUserLoggingABStorage {
  const char* aPath = nullptr;
  const char* bPath = nullptr;
  uint32_t maxBytes = 0;
  uint32_t maxEntries = 0;
  bool byteLimited = false;
  uint32_t* entryCounter = nullptr;
};

// Fills the stores from the crash context's paths and limits and resets the counters.
void CRKUserLoggingInitStorage();
CRKUserLoggingKVStorage* CRKUserLoggingUserStore();
CRKUserLoggingKVStorage* CRKUserLoggingInternalStore();
uint32_t* CRKUserLoggingUserCount();
uint32_t* CRKUserLoggingInternalCount();
CRKUserLoggingABStorage* CRKUserLoggingLogPair();
CRKUserLoggingABStorage* CRKUserLoggingErrorPair();
CRKUserLoggingABStorage* CRKUserLoggingCustomExceptionPair();
// The active file of a pair (path A or path B).
const char** CRKUserLoggingActivePath(const CRKUserLoggingABStorage* storage);

void CRKUserLoggingRecordKeyValue(const char* key, const std::optional<std::string>& value,
                                  CRKUserLoggingKVStorage* storage, uint32_t* count);
void CRKUserLoggingRecordUserKeyValue(const char* key, const std::optional<std::string>& value);
void CRKUserLoggingRecordInternalKeyValue(const char* key, const std::optional<std::string>& value);
// On the logging queue only.
void CRKUserLoggingWriteKeyValue(const char* key, const std::optional<std::string>& valueText,
                                 CRKUserLoggingKVStorage* storage, uint32_t* count);
void CRKUserLoggingWriteInternalKeyValue(const char* key, const std::optional<std::string>& valueText);
void CRKUserLoggingCompactKVEntries(CRKUserLoggingKVStorage* storage);
// The store's current pairs (snapshot, then the incremental log): hex key → hex value.
std::map<std::string, std::string> CRKUserLoggingReadKeyValues(const CRKUserLoggingKVStorage* storage);
// The same over two files (either may be missing); a file that cannot be read is deleted.
std::map<std::string, std::string> CRKUserLoggingReadKeyValueFiles(const char* compactedPath,
                                                                   const char* incrementalPath);
// Writes a snapshot of `pairs` to `path` (replacing it through a temporary file).
bool CRKUserLoggingWriteSnapshot(const char* path, const std::map<std::string, std::string>& pairs);

using CRKUserLoggingWriter = std::function<void(CRKFile*)>;
void CRKUserLoggingWriteAndCheckABFiles(CRKUserLoggingABStorage* storage, const char** activePath,
                                        const CRKUserLoggingWriter& writer);
void CRKUserLoggingCheckAndSwapABFiles(CRKUserLoggingABStorage* storage, const char** activePath, uint64_t size);

// printf-style formats.
void CRKLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
void CRKLogWithArguments(const char* format, va_list arguments);
void CRKLogToConsole(const char* format, ...) __attribute__((format(printf, 1, 2)));
void CRKLogToConsoleWithArguments(const char* format, va_list arguments);

void CRKUserLoggingRecordError(const Error& error, const nlohmann::json& additionalInfo);

}  // namespace telemetry
