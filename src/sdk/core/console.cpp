#include "sdk/core/console.h"

#include "platform/core/system_log.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

namespace telemetry {

namespace {
std::atomic<bool> gDebug{false};
std::atomic<bool> gToSystemLog{false};
std::mutex gSinkMutex;
ConsoleSink& sinkSlot() {
  static ConsoleSink* sink = new ConsoleSink();  // outlives static destructors
  return *sink;
}
ConsoleSink currentSink() {
  std::lock_guard lock(gSinkMutex);
  return sinkSlot();
}
void writeToStandardError(const std::string& line) {
  std::string out = line;
  if (out.empty() || out.back() != '\n') out.push_back('\n');
  std::fwrite(out.data(), 1, out.size(), stderr);
}
}  // namespace

void consoleLog(const std::string& line) {
  if (const ConsoleSink sink = currentSink()) {
    sink(line);
    return;
  }
  if (gToSystemLog.load(std::memory_order_relaxed))
    platform::writeToSystemLog(line, platform::LogLevel::Notice);
  else
    writeToStandardError(line);
}

void debugLog(const std::string& line) {
  if (isDebugEnabled()) consoleLog(line);
}

void systemLog(const std::string& line) {
  if (const ConsoleSink sink = currentSink()) {
    sink(line);
    return;
  }
  if (isDebugEnabled() && !gToSystemLog.load(std::memory_order_relaxed)) writeToStandardError(line);
  platform::writeToSystemLog(line, platform::LogLevel::Info);
}

void consoleToSystemLog() { gToSystemLog.store(true, std::memory_order_relaxed); }

bool isDebugEnabled() { return gDebug.load(std::memory_order_relaxed); }

void setDebugEnabled(bool enabled) { gDebug.store(enabled, std::memory_order_relaxed); }

ConsoleSink setConsoleSink(ConsoleSink sink) {
  std::lock_guard lock(gSinkMutex);
  ConsoleSink old = std::move(sinkSlot());
  sinkSlot() = std::move(sink);
  return old;
}

std::string vstrformat(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[256];
  int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return {};
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
  std::vector<char> big(static_cast<size_t>(n) + 1);
  std::vsnprintf(big.data(), big.size(), format, args);
  return std::string(big.data(), static_cast<size_t>(n));
}

std::string strformat(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string s = vstrformat(format, args);
  va_end(args);
  return s;
}

}  // namespace telemetry
