#include "crash/crk_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "crash/crk_log.h"
#include "platform/core/regular_file.h"

namespace telemetry {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

ssize_t writeOnce(void* context, const void* bytes, size_t length) {
  errno = 0;
  return write(*static_cast<int*>(context), bytes, length);
}

bool loop(const void* bytes, size_t length, CRKFileWriteBlock block, void* context, bool logFailures) {
  const auto* p = static_cast<const uint8_t*>(bytes);
  size_t remaining = length;
  for (int calls = 0; remaining > 0;) {
    const ssize_t n = block(context, p, remaining);
    ++calls;
    if (n == static_cast<ssize_t>(remaining)) return true;
    if (n > static_cast<ssize_t>(remaining)) {
      if (logFailures) CRKLogError("Error: length doesn't make sense (%zd, %zu)\n");
      return false;
    }
    if (n < 1 || calls >= kCRKFileMaxWriteCalls) {
      if (logFailures) {
        if (n < 0) CRKLogError("Failed to write: %s\n", CRKErrorText(errno));
        CRKLogError("Error: exited write loop without success\n");
      }
      return false;
    }
    p += n;
    remaining -= static_cast<size_t>(n);
  }
  return true;
}

// Stages escaped text on the stack and writes it in few calls.
struct Stage {
  explicit Stage(CRKFile* f) : file(f) {}
  CRKFile* file;
  char bytes[64];
  size_t length = 0;
  void put(const char* s, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      if (length == sizeof bytes) flush();
      bytes[length++] = s[i];
    }
  }
  void put(char c) { put(&c, 1); }
  void flush() {
    CRKFileWriteWithLength(file, bytes, length);
    length = 0;
  }
};

// Length of a well-formed UTF-8 sequence at s (n bytes left), or 0 when it is not one.
size_t utf8SequenceLength(const uint8_t* s, size_t n) {
  const uint8_t c = s[0];
  auto cont = [&](size_t i, uint8_t lo = 0x80, uint8_t hi = 0xbf) { return i < n && s[i] >= lo && s[i] <= hi; };
  if (c < 0x80) return 1;
  if (c >= 0xc2 && c <= 0xdf) return cont(1) ? 2 : 0;
  if (c == 0xe0) return cont(1, 0xa0) && cont(2) ? 3 : 0;
  if ((c >= 0xe1 && c <= 0xec) || c == 0xee || c == 0xef) return cont(1) && cont(2) ? 3 : 0;
  if (c == 0xed) return cont(1, 0x80, 0x9f) && cont(2) ? 3 : 0;
  if (c == 0xf0) return cont(1, 0x90) && cont(2) && cont(3) ? 4 : 0;
  if (c >= 0xf1 && c <= 0xf3) return cont(1) && cont(2) && cont(3) ? 4 : 0;
  if (c == 0xf4) return cont(1, 0x80, 0x8f) && cont(2) && cont(3) ? 4 : 0;
  return 0;
}

// A JSON string: quotes, backslashes and control bytes escaped, invalid UTF-8 as U+FFFD.
void writeQuoted(CRKFile* file, const char* text, const char* suffix) {
  Stage stage(file);
  stage.put('"');
  const auto* s = reinterpret_cast<const uint8_t*>(text);
  size_t n = std::strlen(text);
  while (n > 0) {
    const uint8_t c = *s;
    if (c == '"' || c == '\\') {
      stage.put('\\');
      stage.put(static_cast<char>(c));
    } else if (c < 0x20) {
      const char escape[6] = {'\\', 'u', '0', '0', kHexDigits[c >> 4], kHexDigits[c & 15]};
      stage.put(escape, sizeof escape);
    } else {
      const size_t len = utf8SequenceLength(s, n);
      if (len == 0) {
        stage.put("\xef\xbf\xbd", 3);
        ++s;
        --n;
        continue;
      }
      stage.put(reinterpret_cast<const char*>(s), len);
      s += len;
      n -= len;
      continue;
    }
    ++s;
    --n;
  }
  stage.put('"');
  stage.put(suffix, std::strlen(suffix));
  stage.flush();
}

void separate(CRKFile* file) {
  if (file->needComma) CRKFileWriteWithLength(file, ",", 1);
}

void collectionStart(CRKFile* file, const char* bracket) {
  separate(file);
  CRKFileWriteWithLength(file, bracket, 1);
  file->collectionDepth++;
  file->needComma = false;
}

void collectionEnd(CRKFile* file, const char* bracket) {
  CRKFileWriteWithLength(file, bracket, 1);
  if (file->collectionDepth > 0) {
    file->collectionDepth--;
    file->needComma = file->collectionDepth > 0;
  }
}

void writeUnsigned(CRKFile* file, uint64_t value) {
  char digits[21];
  CRKFileWriteWithLength(file, digits, CRKFormatUnsigned(value, 10, digits));
}

void writeSigned(CRKFile* file, int64_t value) {
  if (value >= 0) return writeUnsigned(file, static_cast<uint64_t>(value));
  char digits[22] = {'-'};
  const size_t n = CRKFormatUnsigned(~static_cast<uint64_t>(value) + 1, 10, digits + 1);
  CRKFileWriteWithLength(file, digits, n + 1);
}

void writeHex(CRKFile* file, const char* value) {
  if (!value) {
    CRKFileWriteWithLength(file, "null", 4);
    return;
  }
  char stage[34];
  stage[0] = '"';
  size_t used = 1;
  for (const auto* s = reinterpret_cast<const uint8_t*>(value); *s; ++s) {
    if (used + 2 > sizeof stage) {
      CRKFileWriteWithLength(file, stage, used);
      used = 0;
    }
    CRKByteToHex(*s, stage + used);
    used += 2;
  }
  if (used + 1 > sizeof stage) {
    CRKFileWriteWithLength(file, stage, used);
    used = 0;
  }
  stage[used++] = '"';
  CRKFileWriteWithLength(file, stage, used);
}

void writePlain(CRKFile* file, const char* value) {
  if (!value) {
    CRKFileWriteWithLength(file, "null", 4);
    return;
  }
  writeQuoted(file, value, "");
}

}  // namespace

bool CRKFileLoopWithWriteBlock(const void* bytes, size_t length, CRKFileWriteBlock block, void* context) {
  return loop(bytes, length, block, context, /*logFailures=*/true);
}

bool CRKFileWriteWithRetries(int fd, const void* bytes, size_t length) {
  return loop(bytes, length, writeOnce, &fd, /*logFailures=*/true);
}

bool CRKFileWriteWithRetriesQuietly(int fd, const void* bytes, size_t length) {
  return loop(bytes, length, writeOnce, &fd, /*logFailures=*/false);
}

bool CRKFileInitWithPathMode(CRKFile* file, const char* path, bool append, bool bufferEnabled) {
  if (!file) {
    CRKLogWarn("Error: file is null\n");
    return false;
  }
  *file = CRKFile{};
  const int flags = O_WRONLY | O_CREAT | (append ? O_APPEND : O_TRUNC);
  const char* refusal = nullptr;
  const int fd = path ? platform::openRegularFileForWriting(path, flags, 0644, &refusal) : -1;
  if (fd < 0) {
    CRKLogWarn("Error: Unable to open file %s\n", refusal ? refusal : CRKErrorText(errno));
    CRKLogWarn("Error: file descriptor invalid\n");
    return false;
  }
  file->fd = fd;
  if (append) {
    struct stat st;
    if (fstat(fd, &st) == 0 && st.st_size > 0) file->bytesWritten = static_cast<uint64_t>(st.st_size);
  }
  if (bufferEnabled) {
    file->writeBuffer = static_cast<char*>(std::calloc(1, kCRKFileWriteBufferSize));
    file->writeBufferCapacity = file->writeBuffer ? kCRKFileWriteBufferSize : 0;
    file->bufferEnabled = file->writeBuffer != nullptr;
  }
  return true;
}

bool CRKFileInitWithPath(CRKFile* file, const char* path, bool bufferEnabled) {
  return CRKFileInitWithPathMode(file, path, /*append=*/true, bufferEnabled);
}

bool CRKFileInitWithPathAndBuffer(CRKFile* file, const char* path, char* buffer, size_t capacity) {
  if (!CRKFileInitWithPathMode(file, path, /*append=*/true, /*bufferEnabled=*/false)) return false;
  if (buffer && capacity >= 2) {
    file->writeBuffer = buffer;
    file->writeBufferCapacity = capacity;
    file->bufferEnabled = true;
    file->externalBuffer = true;
  }
  return true;
}

bool CRKFileIsOpen(const CRKFile* file) { return file && file->fd >= 0; }

bool CRKFileWriteWithLength(CRKFile* file, const void* bytes, size_t length) {
  if (!file || file->fd < 0) return false;
  if (!file->bufferEnabled) {
    if (!CRKFileWriteWithRetries(file->fd, bytes, length)) return false;
    file->bytesWritten += length;
    return true;
  }
  // The buffer holds at most capacity - 1 bytes and a NUL after them.
  const auto* p = static_cast<const char*>(bytes);
  const uint64_t room = file->writeBufferCapacity - 1;
  while (file->writeBufferLength + length >= file->writeBufferCapacity) {
    const size_t take = room - file->writeBufferLength;
    std::memcpy(file->writeBuffer + file->writeBufferLength, p, take);
    file->writeBufferLength += take;
    file->writeBuffer[file->writeBufferLength] = '\0';
    CRKFileFlushWriteBuffer(file);
    p += take;
    length -= take;
  }
  std::memcpy(file->writeBuffer + file->writeBufferLength, p, length);
  file->writeBufferLength += length;
  file->writeBuffer[file->writeBufferLength] = '\0';
  return true;
}

bool CRKFileFlushWriteBuffer(CRKFile* file) {
  if (!file || !file->bufferEnabled || file->writeBufferLength == 0) return true;
  const bool ok = CRKFileWriteWithRetries(file->fd, file->writeBuffer, file->writeBufferLength);
  if (ok) file->bytesWritten += file->writeBufferLength;
  file->writeBufferLength = 0;
  file->writeBuffer[0] = '\0';
  return ok;
}

bool CRKFileCloseWithOffset(CRKFile* file, uint64_t* offsetOut) {
  if (!file) return false;
  if (file->bufferEnabled) {
    CRKFileFlushWriteBuffer(file);
    if (!file->externalBuffer) std::free(file->writeBuffer);
    file->writeBuffer = nullptr;
    file->bufferEnabled = false;
  }
  if (offsetOut) *offsetOut = file->bytesWritten;
  if (file->fd >= 0 && close(file->fd) != 0) {
    CRKLogWarn("Error: Unable to close file %s\n", CRKErrorText(errno));
    return false;
  }
  *file = CRKFile{};
  return true;
}

bool CRKFileClose(CRKFile* file) { return CRKFileCloseWithOffset(file, nullptr); }

void CRKFileWriteSectionStart(CRKFile* file, const char* section) {
  collectionStart(file, "{");
  CRKFileWriteHashKey(file, section);
}

void CRKFileWriteSectionEnd(CRKFile* file) {
  collectionEnd(file, "}");
  CRKFileWriteWithLength(file, "\n", 1);
  if (file) {
    file->collectionDepth = 0;
    file->needComma = false;
    if (file->externalBuffer) CRKFileFlushWriteBuffer(file);
  }
}

void CRKFileWriteHashStart(CRKFile* file) { collectionStart(file, "{"); }
void CRKFileWriteHashEnd(CRKFile* file) { collectionEnd(file, "}"); }
void CRKFileWriteArrayStart(CRKFile* file) { collectionStart(file, "["); }
void CRKFileWriteArrayEnd(CRKFile* file) { collectionEnd(file, "]"); }

void CRKFileWriteHashKey(CRKFile* file, const char* key) {
  if (!file) return;
  separate(file);
  writeQuoted(file, key ? key : "", ":");
  file->needComma = false;
}

void CRKFileWriteHashEntryUint64(CRKFile* file, const char* key, uint64_t value) {
  CRKFileWriteHashKey(file, key);
  writeUnsigned(file, value);
  if (file) file->needComma = true;
}

void CRKFileWriteHashEntryInt64(CRKFile* file, const char* key, int64_t value) {
  CRKFileWriteHashKey(file, key);
  writeSigned(file, value);
  if (file) file->needComma = true;
}

void CRKFileWriteHashEntryString(CRKFile* file, const char* key, const char* value) {
  CRKFileWriteHashKey(file, key);
  writePlain(file, value);
  if (file) file->needComma = true;
}

void CRKFileWriteHashEntryHexEncodedString(CRKFile* file, const char* key, const char* value) {
  CRKFileWriteHashKey(file, key);
  writeHex(file, value);
  if (file) file->needComma = true;
}

void CRKFileWriteHashEntryBoolean(CRKFile* file, const char* key, bool value) {
  CRKFileWriteHashKey(file, key);
  CRKFileWriteWithLength(file, value ? "true" : "false", value ? 4 : 5);
  if (file) file->needComma = true;
}

void CRKFileWriteArrayEntryUint64(CRKFile* file, uint64_t value) {
  if (!file) return;
  separate(file);
  writeUnsigned(file, value);
  file->needComma = true;
}

void CRKFileWriteArrayEntryString(CRKFile* file, const char* value) {
  if (!file) return;
  separate(file);
  writePlain(file, value);
  file->needComma = true;
}

void CRKFileWriteArrayEntryHexEncodedString(CRKFile* file, const char* value) {
  if (!file) return;
  separate(file);
  writeHex(file, value);
  file->needComma = true;
}

void CRKFileWriteHashEntryNSString(CRKFile* file, const char* key, const std::optional<std::string>& value) {
  CRKFileWriteHashEntryString(file, key, value ? value->c_str() : nullptr);
}

void CRKFileWriteHashEntryNonEmptyNSString(CRKFile* file, const char* key, const std::optional<std::string>& value) {
  if (!value || value->empty()) return;
  CRKFileWriteHashEntryString(file, key, value->c_str());
}

void CRKByteToHex(uint8_t byte, char out[2]) {
  out[0] = kHexDigits[byte >> 4];
  out[1] = kHexDigits[byte & 15];
}

void CRKBytesToHexString(const void* bytes, size_t length, char* out) {
  if (!out) return;
  std::memset(out, 0, 2 * length + 1);
  if (!bytes) return;
  const auto* b = static_cast<const uint8_t*>(bytes);
  for (size_t i = 0; i < length; ++i) CRKByteToHex(b[i], out + 2 * i);
}

std::string CRKHexEncodeCString(const char* string) {
  if (!string) return {};
  std::string out(std::strlen(string) * 2, '\0');
  for (size_t i = 0; string[i]; ++i) CRKByteToHex(static_cast<uint8_t>(string[i]), out.data() + 2 * i);
  return out;
}

}  // namespace telemetry
