#include "foundation/logging.h"

#include <QtGlobal>

#include <cstdio>
#include <mutex>

#include <syslog.h>

namespace orrery {

namespace {

std::mutex gSinkMutex;
LogSink gSink;

int systemLogPriority(QtMsgType type) {
  switch (type) {
    case QtDebugMsg: return LOG_DEBUG;
    case QtInfoMsg: return LOG_INFO;
    case QtWarningMsg: return LOG_WARNING;
    case QtCriticalMsg: return LOG_ERR;
    case QtFatalMsg: return LOG_CRIT;
  }
  return LOG_NOTICE;
}

void writeToSystemLog(int priority, const QString& line) {
  ::syslog(priority, "%s", line.toUtf8().constData());
}

void qtMessageToSystemLog(QtMsgType type, const QMessageLogContext& /*context*/, const QString& message) {
  writeToSystemLog(systemLogPriority(type), message);
  // Qt aborts next: whoever started the program learns why there and then.
  if (type == QtFatalMsg) std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

}  // namespace

LogSink setLogSink(LogSink sink) {
  std::lock_guard lock(gSinkMutex);
  LogSink old = std::move(gSink);
  gSink = std::move(sink);
  return old;
}

void logToSystemLog(const char* programName) {
  ::openlog(programName, LOG_PID, LOG_USER);
  setLogSink([](const QString& line) { writeToSystemLog(LOG_NOTICE, line); });
  qInstallMessageHandler(qtMessageToSystemLog);
}

void logLine(const QString& line) {
  std::lock_guard lock(gSinkMutex);
  if (gSink) {
    gSink(line);
    return;
  }
  const QByteArray utf8 = line.toUtf8();
  std::fprintf(stderr, "%s\n", utf8.constData());
}

void softAssertionFailed(int line, const char* operation) {
  logLine(QString::asprintf("ERROR: Assertion failure, line: %.3i %s", line, operation ? operation : ""));
}

}  // namespace orrery
