#pragma once
// The one way out for the lines the program logs, Qt-free so that every layer can take it:
// standard error until main sends the lines to the system log, then the system log only, under
// the name main gave. The foundation's log lines and Qt's messages end here as well.

#include <string_view>

namespace platform {

enum class LogLevel { Debug, Info, Notice, Warning, Error, Critical };

// From now on every line goes to the system log (the journal) under `programName`, a literal
// that outlives the process's logging.
void sendLogToSystemLog(const char* programName);

// Writes one line; any thread.
void logLine(std::string_view line, LogLevel level = LogLevel::Notice);

// Writes one line to the system log whichever way lines go now: for notes that belong there
// in any case.
void writeToSystemLog(std::string_view line, LogLevel level);

}  // namespace platform
