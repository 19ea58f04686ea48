#include "platform/services/hand_off_message.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QUrl>
#include <QtEndian>

#include <climits>
#include <cstdlib>

namespace platform {

namespace handoff {

namespace {

// Where the last ".." of `path` ends, or -1.
qsizetype endOfLastUp(const QString& path) {
  for (qsizetype at = path.lastIndexOf(QLatin1String("/..")); at >= 0;
       at = at == 0 ? -1 : path.lastIndexOf(QLatin1String("/.."), at - 1))
    if (at + 3 == path.size() || path.at(at + 3) == QLatin1Char('/')) return at + 3;
  return -1;
}

}  // namespace

QStringList normalizedArguments(const QStringList& arguments, const QString& workingFolder) {
  QStringList result;
  bool optionsEnded = false;
  for (const QString& argument : arguments) {
    // The first "--" only ends the options; a later one is a name.
    if (!optionsEnded && argument == QLatin1String("--")) {
      optionsEnded = true;
      continue;
    }
    if (isRedirectURL(argument)) {
      result.append(argument);
      continue;
    }
    const QString path = localPathNamed(argument, workingFolder);
    if (!path.isEmpty()) result.append(path);
  }
  return result;
}

QString localPathNamed(const QString& name, const QString& workingFolder) {
  QString path = name;
  if (name.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
    QUrl url(name);
    // "localhost" names this machine, as no host does.
    if (url.host().compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0) url.setHost(QString());
    if (!url.isValid() || !url.host().isEmpty()) return {};
    path = url.toLocalFile();
  }
  if (path.isEmpty() || path.contains(QChar(0))) return {};
  // Only "/" makes a path absolute: QDir takes a name that starts with ":" for a Qt resource.
  if (!path.startsWith(QLatin1Char('/'))) path = QDir(workingFolder).absolutePath() + QLatin1Char('/') + path;
  // Cleaning the text would take "link/.." for the folder that holds the link; the system goes up
  // from where the link leads.
  if (const qsizetype up = endOfLastUp(path); up > 0) {
    char resolved[PATH_MAX];
    if (::realpath(QFile::encodeName(path.left(up)).constData(), resolved))
      path = QFile::decodeName(resolved) + path.mid(up);
  }
  return QDir::cleanPath(path);
}

bool isRedirectURL(const QString& argument) {
  static const QRegularExpression redirect(QStringLiteral("^db-[A-Za-z0-9+.-]*://"));
  return redirect.match(argument).hasMatch();
}

bool isAcceptableArgument(const QString& argument) {
  if (argument.contains(QChar(0))) return false;
  return isRedirectURL(argument) || argument.startsWith(QLatin1Char('/'));
}

QList<QStringList> splitIntoMessages(const QStringList& arguments, QStringList* dropped) {
  QList<QStringList> messages{QStringList()};
  qint64 bodyBytes = 2;  // "[]"
  for (const QString& argument : arguments) {
    // Its size in the array: the encoded string and a comma.
    const qint64 bytes = QJsonDocument(QJsonArray{argument}).toJson(QJsonDocument::Compact).size() - 2 + 1;
    if (2 + bytes > kMaxMessageBytes) {
      if (dropped) dropped->append(argument);
      continue;
    }
    if (bodyBytes + bytes > kMaxMessageBytes) {
      messages.append(QStringList());
      bodyBytes = 2;
    }
    messages.back().append(argument);
    bodyBytes += bytes;
  }
  return messages;
}

QByteArray encodeMessage(const QStringList& arguments) {
  const QByteArray body = QJsonDocument(QJsonArray::fromStringList(arguments)).toJson(QJsonDocument::Compact);
  QByteArray message(kHeaderBytes, '\0');
  qToBigEndian<qint32>(static_cast<qint32>(body.size()), message.data());
  return message + body;
}

std::optional<QStringList> decodeMessage(const QByteArray& body, QString* error) {
  const auto fail = [error](const QString& why) -> std::optional<QStringList> {
    if (error) *error = why;
    return std::nullopt;
  };
  QJsonParseError parseError;
  const QJsonDocument doc = QJsonDocument::fromJson(body, &parseError);
  if (parseError.error != QJsonParseError::NoError)
    return fail(QStringLiteral("not JSON (%1 at byte %2)").arg(parseError.errorString()).arg(parseError.offset));
  if (!doc.isArray()) return fail(QStringLiteral("not a JSON array"));
  QStringList arguments;
  const QJsonArray array = doc.array();
  for (qsizetype i = 0; i < array.size(); ++i) {
    const QJsonValue value = array.at(i);
    if (!value.isString()) return fail(QStringLiteral("argument %1 is not a string").arg(i));
    const QString argument = value.toString();
    if (!isAcceptableArgument(argument))
      return fail(QStringLiteral("argument %1 is neither an absolute path nor a sign-in redirect").arg(i));
    arguments.append(argument);
  }
  return arguments;
}

}  // namespace handoff

HandOffMessageReader::State HandOffMessageReader::append(const QByteArray& bytes) {
  if (mState != State::NeedMore) return mState;
  mBuffer += bytes;
  if (mLength < 0) {
    if (mBuffer.size() < handoff::kHeaderBytes) return mState;
    const qint32 length = qFromBigEndian<qint32>(mBuffer.constData());
    if (length < 0 || length > handoff::kMaxMessageBytes)
      return refuse(QStringLiteral("a message of %1 bytes").arg(length));
    mLength = length;
    mBuffer.remove(0, handoff::kHeaderBytes);
  }
  if (mBuffer.size() < mLength) return mState;
  // One message per connection: what a sender writes after it is never read.
  QString why;
  auto arguments = handoff::decodeMessage(mBuffer.left(mLength), &why);
  mBuffer.clear();
  if (!arguments) return refuse(why);
  mArguments = std::move(*arguments);
  mState = State::Complete;
  return mState;
}

HandOffMessageReader::State HandOffMessageReader::refuse(const QString& why) {
  mBuffer.clear();
  mError = why;
  mState = State::Refused;
  return mState;
}

}  // namespace platform
