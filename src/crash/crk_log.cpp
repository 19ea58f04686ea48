#include "crash/crk_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstring>

#include "crash/crk_context.h"
#include "crash/crk_file.h"
#include "platform/core/regular_file.h"

namespace telemetry {

namespace {

constexpr size_t kMessageBufferSize = 512;

// Collects one message on the stack and hands full chunks to `sink`.
struct MessageBuffer {
  char bytes[kMessageBufferSize];
  size_t length = 0;
  CRKWritableState* state = nullptr;

  void put(const char* s, size_t n) {
    while (n > 0) {
      if (length == sizeof bytes) flush();
      const size_t take = n < sizeof bytes - length ? n : sizeof bytes - length;
      std::memcpy(bytes + length, s, take);
      length += take;
      s += take;
      n -= take;
    }
  }
  void put(char c) { put(&c, 1); }
  void flush();
};

void writeToLog(CRKWritableState* state, const char* bytes, size_t length) {
  const int fd = __atomic_load_n(&state->sdkLogFd, __ATOMIC_ACQUIRE);
  if (length == 0 || fd < 0) return;
  // Quietly: a failure here must not log itself again.
  CRKFileWriteWithRetriesQuietly(fd, bytes, length);
}

void flushCrashBuffer(CRKWritableState* state) {
  CRKSDKLogBuffer& b = state->sdkLogBuffer;
  writeToLog(state, b.bytes, b.length);
  b.length = 0;
}

void MessageBuffer::flush() {
  if (length == 0) return;
  CRKSDKLogBuffer& b = state->sdkLogBuffer;
  if (!__atomic_load_n(&b.active, __ATOMIC_ACQUIRE)) {
    writeToLog(state, bytes, length);
  } else {
    size_t at = 0;
    while (at < length) {
      if (b.length == sizeof b.bytes) flushCrashBuffer(state);
      size_t take = length - at;
      if (take > sizeof b.bytes - b.length) take = sizeof b.bytes - b.length;
      std::memcpy(b.bytes + b.length, bytes + at, take);
      b.length += take;
      at += take;
    }
  }
  length = 0;
}

// The descriptor is shared without a lock: the first opener wins, a second one closes its own.
int logDescriptor(CRKContext* context, CRKWritableState* state) {
  int fd = __atomic_load_n(&state->sdkLogFd, __ATOMIC_ACQUIRE);
  if (fd >= 0) return fd;
  const int opened = platform::openRegularFileForWriting(context->sdkLogPath, O_WRONLY | O_APPEND | O_CREAT, 0644);
  if (opened < 0) return -1;  // tried again with the next message
  int expected = -1;
  if (__atomic_compare_exchange_n(&state->sdkLogFd, &expected, opened, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) {
    return opened;
  }
  close(opened);
  return expected;
}

}  // namespace

const char* CRKErrorText(int error) {
  const char* text = strerrordesc_np(error);
  return text ? text : "Unknown error";
}

size_t CRKFormatUnsigned(uint64_t value, int base, char* out) {
  char digits[21] = {};
  size_t n = 0;
  do {
    const unsigned d = static_cast<unsigned>(value % static_cast<unsigned>(base));
    digits[n++] = static_cast<char>(d < 10 ? '0' + d : 'a' + d - 10);
    value /= static_cast<unsigned>(base);
  } while (value != 0 && n < 20);
  for (size_t i = 0; i < n; ++i) out[i] = digits[n - 1 - i];
  out[n] = '\0';
  return n;
}

bool CRKSafeWriteUnsigned(int fd, uint64_t value, int base) {
  char digits[21];
  const size_t n = CRKFormatUnsigned(value, base, digits);
  return CRKFileWriteWithRetries(fd, digits, n);
}

bool CRKSafeWriteSigned(int fd, int64_t value) {
  if (value < 0) {
    if (!CRKFileWriteWithRetries(fd, "-", 1)) return false;
    // Negating in unsigned arithmetic keeps the most negative value right.
    return CRKSafeWriteUnsigned(fd, ~static_cast<uint64_t>(value) + 1, 10);
  }
  return CRKSafeWriteUnsigned(fd, static_cast<uint64_t>(value), 10);
}

void CRKSDKFileLog(int level, const char* format, ...) {
  CRKContext* context = CRKContextGet();
  CRKWritableState* state = CRKContextWritable();
  if (!context || !state || !context->sdkLogPath || !format) return;
  if (level < __atomic_load_n(&state->sdkLogThreshold, __ATOMIC_RELAXED)) return;
  if (logDescriptor(context, state) < 0) return;

  MessageBuffer out;
  out.state = state;
  va_list args;
  va_start(args, format);
  char digits[24];
  for (const char* p = format; *p; ++p) {
    if (*p != '%' || p[1] == '\0') {
      out.put(*p);
      continue;
    }
    const char spec = *++p;
    switch (spec) {
      case 'p': {
        const auto v = reinterpret_cast<uintptr_t>(va_arg(args, void*));
        out.put("0x", 2);
        out.put(digits, CRKFormatUnsigned(v, 16, digits));
        break;
      }
      case 's': {
        const char* s = va_arg(args, const char*);
        if (!s) s = "(null)";
        out.put(s, std::strlen(s));
        break;
      }
      case 'u':
        out.put(digits, CRKFormatUnsigned(va_arg(args, unsigned), 10, digits));
        break;
      case 'x':
        out.put(digits, CRKFormatUnsigned(va_arg(args, unsigned), 16, digits));
        break;
      case 'd': {
        const int v = va_arg(args, int);
        if (v < 0) out.put('-');
        const uint64_t magnitude = v < 0 ? ~static_cast<uint64_t>(static_cast<int64_t>(v)) + 1 : static_cast<uint64_t>(v);
        out.put(digits, CRKFormatUnsigned(magnitude, 10, digits));
        break;
      }
      default:
        out.put('%');
        out.put(spec);
        break;
    }
  }
  va_end(args);
  // One message, one line.
  if (out.length == 0 || out.bytes[out.length - 1] != '\n') out.put('\n');
  out.flush();
  if (__atomic_load_n(&state->sdkLogBuffer.active, __ATOMIC_ACQUIRE) && level >= kCRKLogError) flushCrashBuffer(state);
}

int CRKSDKLogSetThreshold(int level) {
  CRKWritableState* state = CRKContextWritable();
  if (!state) return 1;
  return __atomic_exchange_n(&state->sdkLogThreshold, level, __ATOMIC_RELAXED);
}

int CRKSDKLogThreshold() {
  CRKWritableState* state = CRKContextWritable();
  return state ? __atomic_load_n(&state->sdkLogThreshold, __ATOMIC_RELAXED) : 1;
}

void CRKSDKLogBeginCrashBuffering() {
  CRKWritableState* state = CRKContextWritable();
  if (!state) return;
  state->sdkLogBuffer.length = 0;
  __atomic_store_n(&state->sdkLogBuffer.active, true, __ATOMIC_RELEASE);
}

void CRKSDKLogFlushCrashBuffer() {
  CRKWritableState* state = CRKContextWritable();
  if (!state) return;
  flushCrashBuffer(state);
}

}  // namespace telemetry
