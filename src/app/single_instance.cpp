#include "app/single_instance.h"

#include "app/local_socket.h"
#include "foundation/logging.h"
#include "platform/core/regular_file.h"
#include "platform/services/hand_off_message.h"
#include "platform/services/standard_folders.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <QSysInfo>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orrery {
namespace {

constexpr char kAnswer = 'k';

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
  if (mLock < 0) return;
  // A clean exit leaves nothing behind. The files go while the lock is still held; a later start
  // that opened the old lock file meanwhile sees that it is no longer the one at the path.
  if (mListening >= 0) ::unlink(QFile::encodeName(socketPath()).constData());
  ::unlink(QFile::encodeName(lockPath()).constData());
  ::close(mLock);
  platform::removeEmptyPrivateTemporaryFolders();
}

QString SingleInstance::lockPath() const { return QDir(mFolder).filePath(QString::fromLatin1(kLockName)); }
QString SingleInstance::socketPath() const { return QDir(mFolder).filePath(QString::fromLatin1(kSocketName)); }

bool SingleInstance::tryToBecomeFirst() {
  if (mFolder.isEmpty()) return true;  // no private folder: nothing to share, run alone
  if (mLock >= 0 || !mUnusable.isEmpty()) return true;
  // The kernel's lock on the file decides: it ends with its process however that ends, so a file
  // left by a killed instance or cut short never keeps a start out, and taking it waits for no
  // disk. Qt's lock files, which earlier versions hold, take the same lock.
  const QByteArray path = QFile::encodeName(lockPath());
  int fd = -1;
  // A holder removes the file as it ends: a lock won on a file no longer at the path guards
  // nothing, and the file there now is tried instead.
  for (int attempt = 0; fd < 0 && attempt < 3; ++attempt) {
    // Only a lock file of its own: what a link points to is never written, and what cannot be
    // opened as one (a folder, a socket there) is no sign of another instance.
    std::string why;
    fd = platform::openRegularFileForWriting(path.toStdString(), O_RDWR | O_CREAT, 0644, &why);
    if (fd < 0) return runAlone(QString::fromStdString(why));
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      ::close(fd);
      if (error == EWOULDBLOCK) return false;
      return runAlone(QString::fromLocal8Bit(std::strerror(error)));
    }
    struct stat locked {};
    struct stat named {};
    if (::fstat(fd, &locked) != 0 || ::stat(path.constData(), &named) != 0 || locked.st_dev != named.st_dev ||
        locked.st_ino != named.st_ino) {
      ::close(fd);
      fd = -1;
    }
  }
  if (fd < 0) return false;
  // Who holds it, in the layout of Qt's lock files, for earlier versions to read: they take a
  // file over only once the process it names is gone.
  QString application = QCoreApplication::applicationName();
  if (application.isEmpty()) application = QStringLiteral("orrery");
  const QByteArray holder = QByteArray::number(QCoreApplication::applicationPid()) + '\n' + application.toUtf8() +
                            '\n' + QSysInfo::machineHostName().toUtf8() + '\n' + QSysInfo::machineUniqueId() + '\n';
  if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, holder.constData(), std::size_t(holder.size()), 0) != holder.size())
    logLine(QStringLiteral("Hand-off: could not write the lock file's holder"));
  mLock = fd;
  return true;
}

bool SingleInstance::runAlone(const QString& why) {
  mUnusable = why;
  logLine(QStringLiteral("Hand-off: cannot use the lock file %1: %2; this instance runs alone").arg(lockPath(), why));
  return true;
}

bool SingleInstance::listen(std::function<void(const QStringList&)> onArguments, int idleMillis) {
  if (mFolder.isEmpty() || mLock < 0) return false;
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
