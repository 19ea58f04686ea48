#include "app/single_instance.h"

#include "foundation/logging.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QUrl>
#include <QtEndian>

namespace orrery {
namespace {

constexpr char kAnswer = 'k';

// Reads one message from a connection as its bytes arrive; answers and closes.
class Connection final : public QObject {
 public:
  Connection(QLocalSocket* socket, std::function<void(const QStringList&)> onArguments)
      : QObject(socket), mSocket(socket), mOnArguments(std::move(onArguments)) {
    connect(socket, &QLocalSocket::readyRead, this, [this] { read(); });
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
  }

 private:
  void read() {
    mBuffer += mSocket->readAll();
    if (mBuffer.size() < 4) return;
    const qint32 length = qFromBigEndian<qint32>(mBuffer.constData());
    if (length < 0 || length > SingleInstance::kMaxMessageBytes) {
      logLine(QStringLiteral("Hand-off: refused a message of %1 bytes").arg(length));
      mSocket->disconnectFromServer();
      return;
    }
    if (mBuffer.size() < 4 + length) return;
    const auto arguments = SingleInstance::decodeMessage(mBuffer.mid(4, length));
    if (!arguments) {
      logLine(QStringLiteral("Hand-off: ignored a message that is not a list of arguments"));
      mSocket->disconnectFromServer();
      return;
    }
    mSocket->write(&kAnswer, 1);
    mSocket->flush();
    mSocket->disconnectFromServer();
    if (mOnArguments) mOnArguments(*arguments);
  }

  QLocalSocket* mSocket;  // our parent
  std::function<void(const QStringList&)> mOnArguments;
  QByteArray mBuffer;
};

}  // namespace

SingleInstance::SingleInstance(const QString& folder) : mFolder(folder) {}

SingleInstance::~SingleInstance() {
  delete mServer;
  if (mLock) mLock->unlock();
}

QString SingleInstance::lockPath() const { return QDir(mFolder).filePath(QString::fromLatin1(kLockName)); }
QString SingleInstance::socketPath() const { return QDir(mFolder).filePath(QString::fromLatin1(kSocketName)); }

bool SingleInstance::tryToBecomeFirst() {
  if (mFolder.isEmpty()) return true;  // no private folder: nothing to share, run alone
  mLock = std::make_unique<QLockFile>(lockPath());
  // Only a lock whose process is gone is stale; a live instance keeps it however long it runs.
  mLock->setStaleLockTime(0);
  return mLock->tryLock(0);
}

bool SingleInstance::listen(std::function<void(const QStringList&)> onArguments) {
  if (mFolder.isEmpty()) return false;
  // We hold the lock, so a socket file left here belongs to a killed instance.
  QLocalServer::removeServer(socketPath());
  mServer = new QLocalServer;
  mServer->setSocketOptions(QLocalServer::UserAccessOption);
  QObject::connect(mServer, &QLocalServer::newConnection, mServer, [this, onArguments] {
    while (QLocalSocket* socket = mServer->nextPendingConnection()) new Connection(socket, onArguments);
  });
  if (!mServer->listen(socketPath())) {
    logLine(QStringLiteral("Hand-off: cannot listen on %1: %2").arg(socketPath(), mServer->errorString()));
    return false;
  }
  return true;
}

bool SingleInstance::handOff(const QStringList& arguments, QString* error, int timeoutMillis) {
  const QDeadlineTimer deadline(timeoutMillis);
  QLocalSocket socket;
  // The first instance may still be starting: try again until it listens or time runs out.
  while (true) {
    socket.connectToServer(socketPath());
    if (socket.waitForConnected(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())))) break;
    if (deadline.hasExpired()) {
      if (error) *error = QStringLiteral("Orrery is already running but did not answer: %1").arg(socket.errorString());
      return false;
    }
    QThread::msleep(20);
  }
  socket.write(encodeMessage(arguments));
  socket.flush();
  while (socket.bytesAvailable() < 1) {
    if (deadline.hasExpired() || !socket.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())))) {
      if (error) *error = QStringLiteral("Orrery is already running but did not answer in time");
      return false;
    }
  }
  return true;
}

QStringList SingleInstance::normalizedArguments(const QStringList& arguments, const QString& workingFolder) {
  QStringList result;
  const QDir base(workingFolder);
  for (const QString& argument : arguments) {
    if (argument.startsWith(QLatin1String("db-"))) {
      result.append(argument);
      continue;
    }
    QString path = argument;
    if (argument.startsWith(QLatin1String("file:"))) path = QUrl(argument).toLocalFile();
    if (path.isEmpty()) continue;
    result.append(QDir::cleanPath(base.absoluteFilePath(path)));
  }
  return result;
}

QByteArray SingleInstance::encodeMessage(const QStringList& arguments) {
  const QByteArray body = QJsonDocument(QJsonArray::fromStringList(arguments)).toJson(QJsonDocument::Compact);
  QByteArray message(4, '\0');
  qToBigEndian<qint32>(static_cast<qint32>(body.size()), message.data());
  return message + body;
}

std::optional<QStringList> SingleInstance::decodeMessage(const QByteArray& body) {
  QJsonParseError parseError;
  const QJsonDocument doc = QJsonDocument::fromJson(body, &parseError);
  if (parseError.error != QJsonParseError::NoError || !doc.isArray()) return std::nullopt;
  QStringList arguments;
  for (const QJsonValue& value : doc.array()) {
    if (!value.isString()) return std::nullopt;
    arguments.append(value.toString());
  }
  return arguments;
}

}  // namespace orrery
