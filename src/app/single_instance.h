#pragma once
// One running Orrery per user. The first instance holds the lock "orrery.lock" and listens on
// the local socket "orrery.socket", both in the runtime folder. A later launch that cannot
// take the lock connects instead, sends its arguments (paths made absolute, file URLs turned
// into paths, sign-in redirects as they are) as one message: a 4-byte big-endian length and a
// UTF-8 JSON array of strings, and waits for the one-byte answer. A lock left by a killed
// instance is taken over (its process is gone). Main thread only.

#include <QByteArray>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QLocalServer;

namespace orrery {

class SingleInstance {
 public:
  static constexpr char kLockName[] = "orrery.lock";
  static constexpr char kSocketName[] = "orrery.socket";
  static constexpr int kHandOffTimeoutMillis = 5000;
  static constexpr qint32 kMaxMessageBytes = 1 << 20;

  // `folder` holds the lock and the socket (the runtime folder).
  explicit SingleInstance(const QString& folder);
  ~SingleInstance();

  // True when this process now holds the lock.
  bool tryToBecomeFirst();
  // The first instance listens; each well-formed message reaches `onArguments`.
  bool listen(std::function<void(const QStringList&)> onArguments);
  // A later launch: sends the arguments and waits for the answer; false (with `error` set)
  // when no instance answered within the time.
  bool handOff(const QStringList& arguments, QString* error, int timeoutMillis = kHandOffTimeoutMillis);

  // Arguments as they travel: paths absolute (against `workingFolder`), file URLs as paths.
  static QStringList normalizedArguments(const QStringList& arguments, const QString& workingFolder);
  static QByteArray encodeMessage(const QStringList& arguments);
  // The arguments of a whole message body (after its length); none when it is not a JSON array
  // of strings.
  static std::optional<QStringList> decodeMessage(const QByteArray& body);

  QString lockPath() const;
  QString socketPath() const;

 private:
  QString mFolder;
  std::unique_ptr<QLockFile> mLock;
  QLocalServer* mServer = nullptr;  // owned here; deleted in the destructor
};

}  // namespace orrery
