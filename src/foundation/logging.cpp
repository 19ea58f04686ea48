#include "foundation/logging.h"

#include "platform/core/system_log.h"

#include <QtGlobal>

#include <cstdio>
#include <mutex>

namespace orrery {

namespace {

std::mutex gSinkMutex;
LogSink gSink;

platform::LogLevel levelOf(QtMsgType type) {
  switch (type) {
    case QtDebugMsg: return platform::LogLevel::Debug;
    case QtInfoMsg: return platform::LogLevel::Info;
    case QtWarningMsg: return platform::LogLevel::Warning;
    case QtCriticalMsg: return platform::LogLevel::Error;
    case QtFatalMsg: return platform::LogLevel::Critical;
  }
  return platform::LogLevel::Notice;
}

void qtMessageToSystemLog(QtMsgType type, const QMessageLogContext& /*context*/, const QString& message) {
  platform::logLine(message.toUtf8().toStdString(), levelOf(type));
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
  platform::sendLogToSystemLog(programName);
  qInstallMessageHandler(qtMessageToSystemLog);
}

void logLine(const QString& line) {
  std::lock_guard lock(gSinkMutex);
  if (gSink) {
    gSink(line);
    return;
  }
  platform::logLine(line.toUtf8().toStdString());
}

void softAssertionFailed(int line, const char* operation) {
  logLine(QString::asprintf("ERROR: Assertion failure, line: %.3i %s", line, operation ? operation : ""));
}

}  // namespace orrery
