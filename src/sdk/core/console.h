#pragma once
// The SDK's console. Lines carry their component prefix ("[Telemetry]", "[CrashKit]" ...)
// in the text itself. Failure lines are always written; progress lines only in debug mode;
// notes of every start go to the system's log, and so does every line once the program asks.

#include <cstdarg>
#include <functional>
#include <string>

namespace telemetry {

using ConsoleSink = std::function<void(const std::string& line)>;

// Writes one line (on standard error a newline is added when missing).
void consoleLog(const std::string& line);
// Writes the line only while debug mode is on.
void debugLog(const std::string& line);
// A line for the system's log (syslog, so the journal), not the terminal: what every start
// notes, which a user at a terminal need not read. Debug mode writes it to standard error too
// (unless console lines go to the system log already); a sink, when one is set, takes it instead.
void systemLog(const std::string& line);

bool isDebugEnabled();
void setDebugEnabled(bool enabled);

// From now on console lines go to the system log instead of standard error, under the name the
// program opened it with (openlog), as the program's own lines do. A sink still takes them all.
void consoleToSystemLog();

// Replaces where lines go (standard error by default); an empty sink restores the default.
// Returns the previous sink. Meant for tests and for hosts with their own log.
ConsoleSink setConsoleSink(ConsoleSink sink);

// printf-style formatting into a std::string.
std::string strformat(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string vstrformat(const char* format, va_list args);

}  // namespace telemetry
