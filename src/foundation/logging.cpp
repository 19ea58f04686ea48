#include "foundation/logging.h"

#include <cstdio>
#include <mutex>

namespace orrery {

namespace {

std::mutex gSinkMutex;
LogSink gSink;

}  // namespace

LogSink setLogSink(LogSink sink) {
  std::lock_guard lock(gSinkMutex);
  LogSink old = std::move(gSink);
  gSink = std::move(sink);
  return old;
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
