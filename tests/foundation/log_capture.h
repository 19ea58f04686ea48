#pragma once
// Collects the log lines written while it lives.

#include "foundation/logging.h"

#include <QStringList>

class LogCapture {
 public:
  LogCapture() {
    mPrevious = orrery::setLogSink([this](const QString& line) { mLines << line; });
  }
  ~LogCapture() { orrery::setLogSink(std::move(mPrevious)); }
  const QStringList& lines() const { return mLines; }

 private:
  QStringList mLines;
  orrery::LogSink mPrevious;
};
