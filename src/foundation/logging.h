#pragma once
// Logging and soft assertions. A broken invariant never stops the program: it logs
// "ERROR: Assertion failure, line: %.3i %s" and the caller goes on with its neutral value.

#include <QString>

#include <functional>

namespace orrery {

using LogSink = std::function<void(const QString& line)>;

// Where log lines go (the program's one route of platform/core/system_log.h until replaced); an
// empty sink restores that route. Returns the previous sink. Tests install one to read what was
// logged.
LogSink setLogSink(LogSink sink);

// The program's lines go to the system log (the journal) under `programName`, a literal that
// outlives the process's logging, and so do Qt's messages: a terminal that starts the program
// shows none of them. A fatal Qt message is also written to standard error before Qt aborts.
void logToSystemLog(const char* programName);

// From now on Qt's messages go where the program's lines go, under their category, without what
// a user may have typed: Qt quotes the address it failed to open, a file or a window's name, so
// quoted text and web addresses become "…" ("Unable to detect a web browser to launch '…'").
// The lower layers' own lines (platform/services/program_log.h) go as they are.
void logQtMessages();

// Writes one line to the current sink; callable from any thread.
void logLine(const QString& line);

// Logs the soft-assertion line for a check at `line` in `operation`
// (e.g. "+[Globals fontAvenirMedium:]").
void softAssertionFailed(int line, const char* operation);

}  // namespace orrery

// Evaluates to the condition; when it does not hold, logs the soft-assertion line first.
//   if (!ORRERY_SOFT_ASSERT(font, "+[Globals fontAvenirMedium:]")) return fallback;
#define ORRERY_SOFT_ASSERT(condition, operation) \
  (static_cast<bool>(condition) ? true : (::orrery::softAssertionFailed(__LINE__, operation), false))
