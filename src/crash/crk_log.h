#pragma once
// The crash kit's internal log, "sdk.log" in the current report folder. Async-signal-safe:
// no lock, no allocation, no formatted-output routine. Each message is formatted into a
// stack buffer and written with one write() call; while a crash is being recorded,
// messages collect in a buffer of the guarded region instead and reach the file when that
// buffer is full, at each ERROR message and when the crash path flushes it.
//
// Formats understand %p, %s, %u, %x and %d (32-bit); any other "%" sequence is written
// as it stands and takes no argument. Every message starts with its level word and
// "[%s:%d] ", whose function name and line are the first two arguments (the macros below
// pass them).

#include <cstddef>
#include <cstdint>

namespace telemetry {

enum CRKLogLevel : int { kCRKLogDebug = 1, kCRKLogInfo = 2, kCRKLogWarn = 3, kCRKLogError = 4 };

void CRKSDKFileLog(int level, const char* format, ...);

// The level below which messages are dropped (1 at start-up). Answers the previous one.
int CRKSDKLogSetThreshold(int level);
int CRKSDKLogThreshold();

// Crash-time buffering; the crash path brackets its recording with these.
void CRKSDKLogBeginCrashBuffering();
void CRKSDKLogFlushCrashBuffer();

// The system's text for an error number, from a fixed table (no locale, no lock): usable
// while crashing, unlike strerror.
const char* CRKErrorText(int error);

// Unsigned and signed decimal (base 10) or lowercase hexadecimal (base 16) digits of a
// number, written to a descriptor in one call. False when the write fails.
bool CRKSafeWriteUnsigned(int fd, uint64_t value, int base);
bool CRKSafeWriteSigned(int fd, int64_t value);
// The digits of a number into `out` (at least 21 bytes, NUL-terminated); answers their count.
size_t CRKFormatUnsigned(uint64_t value, int base, char* out);

}  // namespace telemetry

#define CRK_LOG_AT(level, word, fmt, ...) \
  ::telemetry::CRKSDKFileLog(level, word "[%s:%d] " fmt, __func__, __LINE__ __VA_OPT__(, ) __VA_ARGS__)
#define CRKLogDebug(fmt, ...) CRK_LOG_AT(::telemetry::kCRKLogDebug, "DEBUG ", fmt __VA_OPT__(, ) __VA_ARGS__)
#define CRKLogInfo(fmt, ...) CRK_LOG_AT(::telemetry::kCRKLogInfo, "INFO  ", fmt __VA_OPT__(, ) __VA_ARGS__)
#define CRKLogWarn(fmt, ...) CRK_LOG_AT(::telemetry::kCRKLogWarn, "WARN  ", fmt __VA_OPT__(, ) __VA_ARGS__)
#define CRKLogError(fmt, ...) CRK_LOG_AT(::telemetry::kCRKLogError, "ERROR ", fmt __VA_OPT__(, ) __VA_ARGS__)
