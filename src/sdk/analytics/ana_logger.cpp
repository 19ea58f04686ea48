#include "sdk/analytics/ana_logger.h"

#include <cstdarg>

#include "sdk/core/console.h"

namespace telemetry {

ANALogger& ANALogger::sharedLogger() {
  static ANALogger* logger = new ANALogger();  // used by queues that may outlive static destructors
  return *logger;
}

void ANALogger::log(const char* format, ...) {
  if (!debugMode()) return;
  va_list args;
  va_start(args, format);
  std::string text = vstrformat(format, args);
  va_end(args);
  consoleLog("[Analytics] " + text);
}

void ANALogger::logWithLabel(const std::string& label, const char* format, ...) {
  if (!debugMode()) return;
  // A label is text, never a conversion of the caller's format.
  std::string escapedLabel;
  for (char c : label) {
    escapedLabel += c;
    if (c == '%') escapedLabel += '%';
  }
  std::string combined = "[Analytics:" + escapedLabel + "] " + format;
  va_list args;
  va_start(args, format);
  std::string text = vstrformat(combined.c_str(), args);
  va_end(args);
  consoleLog(text);
}

}  // namespace telemetry
