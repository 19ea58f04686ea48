#include "sdk/core/console.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

#include <syslog.h>

namespace telemetry {

namespace {
std::atomic<bool> gDebug{false};
std::mutex gSinkMutex;
ConsoleSink& sinkSlot() {
  static ConsoleSink* sink = new ConsoleSink();  // outlives static destructors
  return *sink;
}
}  // namespace

void consoleLog(const std::string& line) {
  ConsoleSink sink;
  {
    std::lock_guard lock(gSinkMutex);
    sink = sinkSlot();
  }
  if (sink) {
    sink(line);
    return;
  }
  std::string out = line;
  if (out.empty() || out.back() != '\n') out.push_back('\n');
  std::fwrite(out.data(), 1, out.size(), stderr);
}

void debugLog(const std::string& line) {
  if (isDebugEnabled()) consoleLog(line);
}

void systemLog(const std::string& line) {
  bool hasSink = false;
  {
    std::lock_guard lock(gSinkMutex);
    hasSink = static_cast<bool>(sinkSlot());
  }
  if (hasSink || isDebugEnabled()) {
    consoleLog(line);
    if (hasSink) return;
  }
  ::syslog(LOG_USER | LOG_INFO, "%s", line.c_str());
}

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
