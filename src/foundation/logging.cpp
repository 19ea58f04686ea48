#include "foundation/logging.h"

#include "platform/core/system_log.h"
#include "platform/services/program_log.h"

#include <QRegularExpression>
#include <QtGlobal>

#include <cstdio>
#include <cstring>
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

constexpr QChar kElided(0x2026);

bool isWordChar(QChar c) { return c.isLetterOrNumber() || c == u'_'; }

// Qt quotes what it was handed ('…' or "…"): an address to open, a file or object name, a window
// title. Any of it may be what the user typed, so the quoted text goes and the quotes stay. A
// quote after a letter is an apostrophe; an unclosed one hides the rest of the message.
QString withoutQuotedText(const QString& message) {
  QString out;
  out.reserve(message.size());
  for (qsizetype i = 0; i < message.size(); ++i) {
    const QChar c = message.at(i);
    const bool opens = (c == u'\'' || c == u'"') && (i == 0 || !isWordChar(message.at(i - 1)));
    if (!opens) {
      out += c;
      continue;
    }
    qsizetype close = i + 1;
    while (close < message.size() &&
           !(message.at(close) == c && (close + 1 == message.size() || !isWordChar(message.at(close + 1)))))
      ++close;
    out += c;
    if (close == message.size()) return out + kElided;
    if (close > i + 1) out += kElided;
    out += c;
    i = close;
  }
  return out;
}

// A Qt message as the system log may keep it: without quoted text, and without a web address
// even where Qt did not quote one (file: and mailto: ones too: an idea's address may be either).
QString withoutUserText(const QString& message) {
  static const QRegularExpression kAddress(
      QStringLiteral(R"((?<![\w.+-])(?:[A-Za-z][A-Za-z0-9+.-]*://\S*|(?:mailto|file|data|javascript|tel|sms|news):\S+))"),
      QRegularExpression::CaseInsensitiveOption);
  return withoutQuotedText(message).replace(kAddress, QString(kElided));
}

// A Qt message as the system log keeps it: the program's own lines whole; Qt's under their
// category, as Qt's own handler writes them ("qt.qpa.xcb: …"), without what a user may have typed.
QString lineOfQtMessage(const char* category, const QString& message) {
  if (category && std::strcmp(category, platform::programLog().categoryName()) == 0) return message;
  const QString line = withoutUserText(message);
  if (!category || std::strcmp(category, "default") == 0) return line;
  return QString::fromLatin1(category) + QStringLiteral(": ") + line;
}

void qtMessageToLog(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  const QString line = lineOfQtMessage(context.category, message);
  {
    std::lock_guard lock(gSinkMutex);
    if (gSink) gSink(line);
    else platform::logLine(line.toUtf8().toStdString(), levelOf(type));
  }
  // Qt aborts next: whoever started the program learns why there and then, in Qt's own words.
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
  logQtMessages();
}

void logQtMessages() { qInstallMessageHandler(qtMessageToLog); }

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
