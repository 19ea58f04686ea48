#include "crash/crk_user_logging.h"

#include <sys/time.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "crash/crk_context.h"
#include "crash/crk_file_reader.h"
#include "crash/crk_log.h"
#include "crash/crk_memory.h"
#include "crash/crk_unwind.h"
#include "platform/core/atomic_file.h"
#include "platform/core/dispatch.h"

namespace telemetry {

namespace {

constexpr uint32_t kMaxErrorFrames = 512;

// Touched only on the logging queue (and by the set-up before any record).
struct Stores {
  CRKUserLoggingKVStorage user;
  CRKUserLoggingKVStorage internal;
  uint32_t userCount = 0;
  uint32_t internalCount = 0;
  CRKUserLoggingABStorage log;
  CRKUserLoggingABStorage errors;
  CRKUserLoggingABStorage customExceptions;
  const char* logActive = nullptr;
  const char* errorsActive = nullptr;
  const char* customExceptionsActive = nullptr;
  uint32_t errorsCounter = 0;
  uint32_t customExceptionsCounter = 0;
};
Stores gStores;

void runOnLoggingQueue(const platform::Task& task) {
  platform::SerialQueue* queue = CRKLoggingQueue();
  if (!queue) return;
  queue->sync(task);
}

std::string describe(const nlohmann::json& value) {
  return value.is_string() ? value.get<std::string>() : value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void writeInfoPairs(CRKFile* file, const char* key, const nlohmann::json& dictionary) {
  if (!dictionary.is_object() || dictionary.empty()) return;
  CRKFileWriteHashKey(file, key);
  CRKFileWriteArrayStart(file);
  for (auto it = dictionary.begin(); it != dictionary.end(); ++it) {
    if (it.value().is_null()) continue;
    CRKFileWriteArrayStart(file);
    CRKFileWriteArrayEntryHexEncodedString(file, it.key().c_str());
    CRKFileWriteArrayEntryHexEncodedString(file, describe(it.value()).c_str());
    CRKFileWriteArrayEnd(file);
  }
  CRKFileWriteArrayEnd(file);
}

// Applies the "kv" records of one file to `pairs`; a null value removes the key.
void applyRecords(const char* path, std::map<std::string, std::string>* pairs) {
  if (!path) return;
  auto records = CRKFileReadSections(path, /*removeOnFailure=*/true);
  if (!records) return;
  for (const auto& record : *records) {
    if (!record.is_object()) continue;
    auto kv = record.find("kv");
    if (kv == record.end() || !kv->is_object()) continue;
    auto key = kv->find("key");
    if (key == kv->end() || !key->is_string()) continue;
    auto value = kv->find("value");
    if (value == kv->end() || !value->is_string()) {
      pairs->erase(key->get<std::string>());
    } else {
      (*pairs)[key->get<std::string>()] = value->get<std::string>();
    }
  }
}

}  // namespace

void CRKUserLoggingInitStorage() {
  CRKContext* c = CRKContextGet();
  if (!c) return;
  gStores = Stores{};
  gStores.user = {c->keyValue.userIncrementalPath, c->keyValue.userCompactedPath, kCRKKeyValueCompactionThreshold,
                  c->keyValue.maxUserKeys};
  gStores.internal = {c->keyValue.internalIncrementalPath, c->keyValue.internalCompactedPath,
                      kCRKKeyValueCompactionThreshold, c->keyValue.maxInternalKeys};
  gStores.log = {c->log.aPath, c->log.bPath, c->log.bufferSize, 0, true, nullptr};
  gStores.errors = {c->errors.aPath, c->errors.bPath, 0, c->errors.maxErrors, false, &gStores.errorsCounter};
  gStores.customExceptions = {c->customExceptions.aPath, c->customExceptions.bPath, 0,
                              c->customExceptions.maxExceptions, false, &gStores.customExceptionsCounter};
  gStores.logActive = gStores.log.aPath;
  gStores.errorsActive = gStores.errors.aPath;
  gStores.customExceptionsActive = gStores.customExceptions.aPath;
}

CRKUserLoggingKVStorage* CRKUserLoggingUserStore() { return &gStores.user; }
CRKUserLoggingKVStorage* CRKUserLoggingInternalStore() { return &gStores.internal; }
uint32_t* CRKUserLoggingUserCount() { return &gStores.userCount; }
uint32_t* CRKUserLoggingInternalCount() { return &gStores.internalCount; }
CRKUserLoggingABStorage* CRKUserLoggingLogPair() { return &gStores.log; }
CRKUserLoggingABStorage* CRKUserLoggingErrorPair() { return &gStores.errors; }
CRKUserLoggingABStorage* CRKUserLoggingCustomExceptionPair() { return &gStores.customExceptions; }

const char** CRKUserLoggingActivePath(const CRKUserLoggingABStorage* storage) {
  if (storage == &gStores.log) return &gStores.logActive;
  if (storage == &gStores.errors) return &gStores.errorsActive;
  if (storage == &gStores.customExceptions) return &gStores.customExceptionsActive;
  return nullptr;
}

void CRKUserLoggingRecordKeyValue(const char* key, const std::optional<std::string>& value,
                                  CRKUserLoggingKVStorage* storage, uint32_t* count) {
  if (!key) {
    CRKLogWarn("User provided bad key\n");
    return;
  }
  if (!CRKContextIsInitialized()) return;
  const std::string keyText = key;
  runOnLoggingQueue([&] { CRKUserLoggingWriteKeyValue(keyText.c_str(), value, storage, count); });
}

void CRKUserLoggingRecordUserKeyValue(const char* key, const std::optional<std::string>& value) {
  CRKUserLoggingRecordKeyValue(key, value, &gStores.user, &gStores.userCount);
}

void CRKUserLoggingRecordInternalKeyValue(const char* key, const std::optional<std::string>& value) {
  CRKUserLoggingRecordKeyValue(key, value, &gStores.internal, &gStores.internalCount);
}

void CRKUserLoggingWriteInternalKeyValue(const char* key, const std::optional<std::string>& valueText) {
  CRKUserLoggingWriteKeyValue(key, valueText, &gStores.internal, &gStores.internalCount);
}

void CRKUserLoggingWriteKeyValue(const char* key, const std::optional<std::string>& valueText,
                                 CRKUserLoggingKVStorage* storage, uint32_t* count) {
  if (!storage || !count || !key) {
    CRKLogError("Bad parameters\n");
    return;
  }
  CRKFile file;
  if (!storage->incrementalPath || !CRKFileInitWithPath(&file, storage->incrementalPath, /*bufferEnabled=*/true)) {
    CRKLogError("Unable to open k-v file\n");
    return;
  }
  CRKFileWriteSectionStart(&file, "kv");
  CRKFileWriteHashStart(&file);
  CRKFileWriteHashEntryHexEncodedString(&file, "key", key);
  CRKFileWriteHashEntryHexEncodedString(&file, "value", valueText ? valueText->c_str() : nullptr);
  CRKFileWriteHashEnd(&file);
  CRKFileWriteSectionEnd(&file);
  CRKFileClose(&file);
  *count += 1;
  if (*count == storage->compactionThreshold) {
    if (platform::SerialQueue* queue = CRKLoggingQueue()) {
      queue->async([storage, count] {
        CRKUserLoggingCompactKVEntries(storage);
        *count = 0;
      });
    }
  }
}

std::map<std::string, std::string> CRKUserLoggingReadKeyValueFiles(const char* compactedPath,
                                                                   const char* incrementalPath) {
  std::map<std::string, std::string> pairs;
  applyRecords(compactedPath, &pairs);
  applyRecords(incrementalPath, &pairs);
  return pairs;
}

std::map<std::string, std::string> CRKUserLoggingReadKeyValues(const CRKUserLoggingKVStorage* storage) {
  if (!storage || !CRKContextIsInitialized()) return {};
  return CRKUserLoggingReadKeyValueFiles(storage->compactedPath, storage->incrementalPath);
}

bool CRKUserLoggingWriteSnapshot(const char* path, const std::map<std::string, std::string>& pairs) {
  if (!path) return false;
  // The new snapshot is written beside the old one and renamed over it, so a crash at any
  // moment leaves the old snapshot or the new one, never neither.
  platform::AtomicWriteOptions options;
  options.mode = 0644;
  options.replaceLink = true;
  const std::string name(path);
  options.stagingName = name.substr(name.find_last_of('/') + 1) + ".tmp";
  const auto written = platform::writeFileAtomicallyAtPath(name, [&](const std::string& temporary) {
    CRKFile file;
    if (!CRKFileInitWithPath(&file, temporary.c_str(), /*bufferEnabled=*/true)) {
      CRKLogWarn("Error: Unable to open compacted k-v file\n");
      return false;
    }
    for (const auto& [key, value] : pairs) {
      CRKFileWriteSectionStart(&file, "kv");
      CRKFileWriteHashStart(&file);
      CRKFileWriteHashEntryString(&file, "key", key.c_str());
      CRKFileWriteHashEntryString(&file, "value", value.c_str());
      CRKFileWriteHashEnd(&file);
      CRKFileWriteSectionEnd(&file);
    }
    return CRKFileClose(&file);
  }, options);
  if (written != platform::AtomicWriteResult::Written) {
    CRKLogWarn("Error: Unable to replace the compacted KV store %s\n", CRKErrorText(errno));
    return false;
  }
  return true;
}

void CRKUserLoggingCompactKVEntries(CRKUserLoggingKVStorage* storage) {
  if (!storage || !storage->compactedPath || !storage->incrementalPath) return;
  std::map<std::string, std::string> pairs = CRKUserLoggingReadKeyValues(storage);
  if (pairs.size() > storage->maxEntries) {
    CRKLogWarn("Truncating KV set, which is above max %d\n", static_cast<int>(storage->maxEntries));
    size_t excess = pairs.size() - storage->maxEntries;
    while (excess-- > 0) pairs.erase(pairs.begin());
  }
  // The incremental log goes only once the snapshot holding its pairs is in place.
  if (!CRKUserLoggingWriteSnapshot(storage->compactedPath, pairs)) return;
  if (!CRKUnlinkIfExists(storage->incrementalPath)) {
    CRKLogWarn("Error: Unable to remove incremental KV store after compaction %s\n", CRKErrorText(errno));
  }
}

void CRKUserLoggingWriteAndCheckABFiles(CRKUserLoggingABStorage* storage, const char** activePath,
                                        const CRKUserLoggingWriter& writer) {
  if (!storage || !activePath || !writer) return;
  if (storage->byteLimited ? storage->maxBytes == 0 : storage->maxEntries == 0) return;
  runOnLoggingQueue([&] {
    if (!*activePath) return;
    CRKFile file;
    if (!CRKFileInitWithPath(&file, *activePath, /*bufferEnabled=*/true)) {
      CRKLogWarn("Unable to open log file\n");
      return;
    }
    writer(&file);
    uint64_t size = 0;
    CRKFileCloseWithOffset(&file, &size);
    if (!storage->byteLimited && storage->entryCounter) *storage->entryCounter += 1;
    if (platform::SerialQueue* queue = CRKLoggingQueue()) {
      queue->async([storage, activePath, size] { CRKUserLoggingCheckAndSwapABFiles(storage, activePath, size); });
    }
  });
}

void CRKUserLoggingCheckAndSwapABFiles(CRKUserLoggingABStorage* storage, const char** activePath, uint64_t size) {
  if (!storage || !activePath) return;
  if (storage->byteLimited) {
    if (size <= storage->maxBytes) return;
  } else {
    if (!storage->entryCounter || *storage->entryCounter < storage->maxEntries) return;
    *storage->entryCounter = 0;
  }
  const char* other = *activePath == storage->aPath ? storage->bPath : storage->aPath;
  if (other && *other) CRKUnlinkIfExists(other);
  *activePath = other;
}

void CRKLogWithArguments(const char* format, va_list arguments) {
  if (!format) return;
  va_list copy;
  va_copy(copy, arguments);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (length < 0) return;
  std::vector<char> message(static_cast<size_t>(length) + 1);
  std::vsnprintf(message.data(), message.size(), format, arguments);
  if (!CRKContextIsInitialized()) {
    syslog(LOG_WARNING,
           "[CrashKit:Crash] WARNING: CRKLog has been used before (or concurrently with) CrashKit initialization and "
           "cannot be recorded. The message was: \n%s",
           message.data());
    return;
  }
  timeval now{};
  if (gettimeofday(&now, nullptr) != 0) return;
  const uint64_t milliseconds = static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_usec) / 1000;
  const char* text = message.data();
  CRKUserLoggingWriteAndCheckABFiles(&gStores.log, &gStores.logActive, [text, milliseconds](CRKFile* file) {
    CRKFileWriteSectionStart(file, "log");
    CRKFileWriteHashStart(file);
    CRKFileWriteHashEntryHexEncodedString(file, "msg", text);
    CRKFileWriteHashEntryUint64(file, "time", milliseconds);
    CRKFileWriteHashEnd(file);
    CRKFileWriteSectionEnd(file);
  });
}

void CRKLog(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  CRKLogWithArguments(format, arguments);
  va_end(arguments);
}

void CRKLogToConsoleWithArguments(const char* format, va_list arguments) {
  if (!format) return;
  va_list copy;
  va_copy(copy, arguments);
  CRKLogWithArguments(format, copy);
  va_end(copy);
  vsyslog(LOG_NOTICE, format, arguments);
}

void CRKLogToConsole(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  CRKLogToConsoleWithArguments(format, arguments);
  va_end(arguments);
}

void CRKUserLoggingRecordError(const Error& error, const nlohmann::json& additionalInfo) {
  if (!CRKContextIsInitialized()) return;
  uint64_t frames[kMaxErrorFrames];
  uint32_t frameCount = 0;
  CRKThreadContext state;
  CRKThreadContextCaptureCaller(&state);
  CRKUnwindCursor cursor;
  if (CRKUnwindInitFromReturnAddress(&cursor, &state)) {
    while (frameCount < kMaxErrorFrames && CRKUnwindNextFrame(&cursor)) frames[frameCount++] = CRKUnwindGetPC(&cursor);
  }
  const uint64_t seconds = static_cast<uint64_t>(time(nullptr));
  CRKUserLoggingWriteAndCheckABFiles(&gStores.errors, &gStores.errorsActive, [&](CRKFile* file) {
    CRKFileWriteSectionStart(file, "error");
    CRKFileWriteHashStart(file);
    CRKFileWriteHashEntryHexEncodedString(file, "domain", error.domain.c_str());
    CRKFileWriteHashEntryInt64(file, "code", error.code);
    CRKFileWriteHashEntryUint64(file, "time", seconds);
    CRKFileWriteHashKey(file, "stacktrace");
    CRKFileWriteArrayStart(file);
    for (uint32_t i = 0; i < frameCount; ++i) CRKFileWriteArrayEntryUint64(file, frames[i]);
    CRKFileWriteArrayEnd(file);
    writeInfoPairs(file, "info", error.userInfo);
    writeInfoPairs(file, "extra_info", additionalInfo);
    CRKFileWriteHashEnd(file);
    CRKFileWriteSectionEnd(file);
  });
}

}  // namespace telemetry
