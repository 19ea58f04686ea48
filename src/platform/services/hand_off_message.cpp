#include "platform/services/hand_off_message.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QUrl>
#include <QtEndian>

namespace platform {

namespace handoff {

QStringList normalizedArguments(const QStringList& arguments, const QString& workingFolder) {
  QStringList result;
  const QDir base(workingFolder);
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
    QString path = argument;
    if (argument.startsWith(QLatin1String("file:"))) {
      QUrl url(argument);
      // "localhost" names this machine, as no host does.
      if (url.host().compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0) url.setHost(QString());
      path = url.toLocalFile();
    }
    if (path.isEmpty()) continue;
    result.append(QDir::cleanPath(base.absoluteFilePath(path)));
  }
  return result;
}

bool isRedirectURL(const QString& argument) {
  static const QRegularExpression redirect(QStringLiteral("^db-[A-Za-z0-9+.-]*://"));
  return redirect.match(argument).hasMatch();
}

bool isAcceptableArgument(const QString& argument) {
  if (argument.contains(QChar(0))) return false;
  return isRedirectURL(argument) || QDir::isAbsolutePath(argument);
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
