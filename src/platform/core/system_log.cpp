#include "platform/core/system_log.h"

#include <atomic>
#include <cstdio>
#include <string>

#include <syslog.h>

namespace platform {

namespace {

std::atomic<bool> gToSystemLog{false};

int priorityOf(LogLevel level) {
  switch (level) {
    case LogLevel::Debug: return LOG_DEBUG;
    case LogLevel::Info: return LOG_INFO;
    case LogLevel::Notice: return LOG_NOTICE;
    case LogLevel::Warning: return LOG_WARNING;
    case LogLevel::Error: return LOG_ERR;
    case LogLevel::Critical: return LOG_CRIT;
  }
  return LOG_NOTICE;
}

}  // namespace

void sendLogToSystemLog(const char* programName) {
  ::openlog(programName, LOG_PID, LOG_USER);
  gToSystemLog.store(true, std::memory_order_release);
}

void writeToSystemLog(std::string_view line, LogLevel level) {
  ::syslog(priorityOf(level), "%.*s", static_cast<int>(line.size()), line.data());
}

void logLine(std::string_view line, LogLevel level) {
  if (gToSystemLog.load(std::memory_order_acquire)) {
    writeToSystemLog(line, level);
    return;
  }
  std::string out(line);
  out.push_back('\n');
  std::fwrite(out.data(), 1, out.size(), stderr);
}

}  // namespace platform
