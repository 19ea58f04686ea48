#include "app/single_instance.h"

#include "app/local_socket.h"
#include "foundation/logging.h"
#include "platform/services/hand_off_message.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <sys/socket.h>

namespace orrery {
namespace {

constexpr char kAnswer = 'k';
// How long a lock file may stay without the process it names before it counts as left over.
constexpr qint64 kNamelessLockMillis = 2000;

// Reads one message from a connection as its bytes arrive; answers and closes.
class Connection final : public QObject {
 public:
  Connection(int fd, QObject* server, std::function<void(const QStringList&)> onArguments, int idleMillis)
      : QObject(server), mFd(fd), mNotifier(fd, QSocketNotifier::Read, this), mOnArguments(std::move(onArguments)) {
    connect(&mNotifier, &QSocketNotifier::activated, this, [this] { read(); });
    // A connection that never finishes its message would otherwise stay open for the whole run.
    QTimer::singleShot(idleMillis, this, [this] {
      if (mReader.state() != platform::HandOffMessageReader::State::NeedMore) return;
      logLine(QStringLiteral("Hand-off: closed a connection that sent no whole message in time"));
      finish();
    });
  }
  ~Connection() override { localsocket::close(mFd); }

 private:
  void read() {
    using State = platform::HandOffMessageReader::State;
    bool closed = false;
    const QByteArray bytes = localsocket::readAvailable(mFd, &closed);
    // Bytes after the message must not deliver it a second time.
    if (mReader.state() != State::NeedMore) return finish();
    const State state = mReader.append(bytes);
    if (state == State::NeedMore) {
      if (closed) finish();
      return;
    }
    if (state == State::Refused) {
      logLine(QStringLiteral("Hand-off: refused %1").arg(mReader.error()));
      return finish();
    }
    localsocket::writeAll(mFd, QByteArray(1, kAnswer), QDeadlineTimer(1000));
    finish();
    if (mOnArguments) mOnArguments(mReader.arguments());
  }
  void finish() {
    mNotifier.setEnabled(false);
    deleteLater();
  }

  int mFd;
  QSocketNotifier mNotifier;
  std::function<void(const QStringList&)> mOnArguments;
  platform::HandOffMessageReader mReader;
};

}  // namespace

SingleInstance::SingleInstance(const QString& folder) : mFolder(folder) {}

SingleInstance::~SingleInstance() {
  delete mServer;
  localsocket::close(mListening);
  if (mLock) mLock->unlock();
}

QString SingleInstance::lockPath() const { return QDir(mFolder).filePath(QString::fromLatin1(kLockName)); }
QString SingleInstance::socketPath() const { return QDir(mFolder).filePath(QString::fromLatin1(kSocketName)); }

bool SingleInstance::tryToBecomeFirst() {
  if (mFolder.isEmpty()) return true;  // no private folder: nothing to share, run alone
  mLock = std::make_unique<QLockFile>(lockPath());
  // Only a lock whose process is gone is stale; a live instance keeps it however long it runs.
  mLock->setStaleLockTime(0);
  if (mLock->tryLock(0)) return true;
  // A lock file that names no process (cut short by a crash or a full disk while it was written)
  // is never stale to QLockFile and would keep every later start out. The writer of a live lock
  // fills it at once after creating it, so one still nameless after a while is nobody's.
  qint64 pid = 0;
  QString host;
  QString application;
  if (mLock->error() != QLockFile::LockFailedError || mLock->getLockInfo(&pid, &host, &application)) return false;
  const QFileInfo lockFile(lockPath());
  if (!lockFile.exists() || lockFile.lastModified().msecsTo(QDateTime::currentDateTime()) < kNamelessLockMillis)
    return false;
  logLine(QStringLiteral("Hand-off: removed a lock file that names no process"));
  mLock->removeStaleLockFile();
  return mLock->tryLock(0);
}

bool SingleInstance::listen(std::function<void(const QStringList&)> onArguments, int idleMillis) {
  if (mFolder.isEmpty()) return false;
  // We hold the lock, so a socket file left here belongs to a killed instance and is replaced.
  QString error;
  mListening = localsocket::listenAt(socketPath(), &error);
  if (mListening < 0) {
    logLine(QStringLiteral("Hand-off: cannot listen on %1: %2").arg(socketPath(), error));
    return false;
  }
  mServer = new QSocketNotifier(mListening, QSocketNotifier::Read);
  QObject::connect(mServer, &QSocketNotifier::activated, mServer, [this, onArguments, idleMillis] {
    for (int fd; (fd = ::accept4(mListening, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0;)
      new Connection(fd, mServer, onArguments, idleMillis);
  });
  return true;
}

bool SingleInstance::handOff(const QStringList& arguments, QString* error, int timeoutMillis) {
  const QDeadlineTimer deadline(timeoutMillis);
  QStringList dropped;
  const QList<QStringList> messages = platform::handoff::splitIntoMessages(arguments, &dropped);
  for (const QString& argument : dropped)
    logLine(QStringLiteral("Hand-off: left out an argument of %1 characters, too long to be a file").arg(argument.size()));
  // One connection per message, as the instance reads one message per connection.
  for (const QStringList& message : messages) {
    if (!sendOne(message, deadline, error)) return false;
  }
  return true;
}

bool SingleInstance::sendOne(const QStringList& arguments, const QDeadlineTimer& deadline, QString* error) {
  int fd = -1;
  // The first instance may still be starting: try again until it listens or time runs out.
  while (true) {
    QString why;
    fd = localsocket::connectTo(socketPath(), &why);
    if (fd >= 0) break;
    if (deadline.hasExpired()) {
      if (error) *error = QStringLiteral("Orrery is already running but did not answer: %1").arg(why);
      return false;
    }
    QThread::msleep(20);
  }
  bool closed = false;
  const bool answered = localsocket::writeAll(fd, platform::handoff::encodeMessage(arguments), deadline) &&
                        localsocket::waitReadable(fd, deadline) && !localsocket::readAvailable(fd, &closed).isEmpty();
  localsocket::close(fd);
  if (!answered && error) *error = QStringLiteral("Orrery is already running but did not answer in time");
  return answered;
}

}  // namespace orrery
