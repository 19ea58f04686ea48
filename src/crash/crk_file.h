#pragma once
// Record files: plain text, one record per line, each line a JSON object with one key (the
// section name) and a newline. The writer works inside a signal handler: it uses only
// open, write, close and fstat, formats numbers itself, and never allocates except for the
// 1000-byte buffer of an ordinary buffered file. Keys and strings are written JSON-escaped
// (a quote, backslash or control byte never breaks a line) and invalid UTF-8 becomes
// U+FFFD, so every line the writer finishes parses.
//
// Three ways to open: unbuffered (every piece is one write), buffered through a 1000-byte
// heap buffer (ordinary code), and the crash-time mode, buffered through a caller's
// pre-allocated buffer and flushed at every section end.
//
// A handle has no lock; one thread uses it at a time.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include <sys/types.h>

namespace telemetry {

inline constexpr size_t kCRKFileWriteBufferSize = 1000;
inline constexpr int kCRKFileMaxWriteCalls = 50;

struct CRKFile {
  int32_t fd = -1;
  int32_t collectionDepth = 0;
  bool needComma = false;
  bool bufferEnabled = false;
  // The buffer belongs to someone else (crash-time mode): never freed, flushed per section.
  bool externalBuffer = false;
  char* writeBuffer = nullptr;
  uint64_t writeBufferCapacity = 0;
  uint64_t writeBufferLength = 0;
  uint64_t bytesWritten = 0;
};

// Opening and closing.
bool CRKFileInitWithPathMode(CRKFile* file, const char* path, bool append, bool bufferEnabled);
bool CRKFileInitWithPath(CRKFile* file, const char* path, bool bufferEnabled);
// Crash-time mode: append, buffered through `buffer` (capacity bytes, at least 2).
bool CRKFileInitWithPathAndBuffer(CRKFile* file, const char* path, char* buffer, size_t capacity);
bool CRKFileCloseWithOffset(CRKFile* file, uint64_t* offsetOut);
bool CRKFileClose(CRKFile* file);
bool CRKFileIsOpen(const CRKFile* file);

// Raw writes.
bool CRKFileWriteWithLength(CRKFile* file, const void* bytes, size_t length);
bool CRKFileFlushWriteBuffer(CRKFile* file);
// Calls `block` with the remaining range until all of it is written; at most 50 calls.
// The block answers the bytes it wrote (negative on error).
using CRKFileWriteBlock = ssize_t (*)(void* context, const void* bytes, size_t length);
bool CRKFileLoopWithWriteBlock(const void* bytes, size_t length, CRKFileWriteBlock block, void* context);
bool CRKFileWriteWithRetries(int fd, const void* bytes, size_t length);
// The same loop without logging its failures (the SDK log's own writes).
bool CRKFileWriteWithRetriesQuietly(int fd, const void* bytes, size_t length);

// Record structure.
void CRKFileWriteSectionStart(CRKFile* file, const char* section);
void CRKFileWriteSectionEnd(CRKFile* file);
void CRKFileWriteHashStart(CRKFile* file);
void CRKFileWriteHashEnd(CRKFile* file);
void CRKFileWriteArrayStart(CRKFile* file);
void CRKFileWriteArrayEnd(CRKFile* file);
void CRKFileWriteHashKey(CRKFile* file, const char* key);
void CRKFileWriteHashEntryUint64(CRKFile* file, const char* key, uint64_t value);
void CRKFileWriteHashEntryInt64(CRKFile* file, const char* key, int64_t value);
void CRKFileWriteHashEntryString(CRKFile* file, const char* key, const char* value);
void CRKFileWriteHashEntryHexEncodedString(CRKFile* file, const char* key, const char* value);
void CRKFileWriteHashEntryBoolean(CRKFile* file, const char* key, bool value);
void CRKFileWriteArrayEntryUint64(CRKFile* file, uint64_t value);
void CRKFileWriteArrayEntryString(CRKFile* file, const char* value);
void CRKFileWriteArrayEntryHexEncodedString(CRKFile* file, const char* value);
// Ordinary code only.
void CRKFileWriteHashEntryNSString(CRKFile* file, const char* key, const std::optional<std::string>& value);
void CRKFileWriteHashEntryNonEmptyNSString(CRKFile* file, const char* key, const std::optional<std::string>& value);

// Hex.
void CRKByteToHex(uint8_t byte, char out[2]);
// Fills `out` (2·length + 1 bytes, zeroed first) with the digits of every byte.
void CRKBytesToHexString(const void* bytes, size_t length, char* out);
std::string CRKHexEncodeCString(const char* string);

}  // namespace telemetry
