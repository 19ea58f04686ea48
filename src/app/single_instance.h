#pragma once
// One running Orrery per user. The first instance holds the lock "orrery.lock" and listens on
// the local socket "orrery.socket", both in the runtime folder. A later launch that cannot
// take the lock connects instead, sends its arguments as one message
// (platform/services/hand_off_message.h) and waits for the one-byte answer. The lock is the
// kernel's lock on the file, so it goes with its process; the first instance removes both files
// (and the empty private temporary folders) as it ends. Main thread only.

#include <QDeadlineTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QSocketNotifier;

namespace orrery {

class SingleInstance {
 public:
  static constexpr char kLockName[] = "orrery.lock";
  static constexpr char kSocketName[] = "orrery.socket";
  static constexpr int kHandOffTimeoutMillis = 5000;

  // `folder` holds the lock and the socket (the runtime folder).
  explicit SingleInstance(const QString& folder);
  ~SingleInstance();

  // True when this process now holds the lock, or when the lock file cannot be used (a folder,
  // a link or a socket at its name): then the instance runs alone, neither handing off nor
  // listening, and unusableLock() says why.
  bool tryToBecomeFirst();
  QString unusableLock() const { return mUnusable; }
  // The first instance listens; each well-formed message reaches `onArguments`. A connection
  // without a whole message after `idleMillis` is closed.
  bool listen(std::function<void(const QStringList&)> onArguments, int idleMillis = kHandOffTimeoutMillis);
  // A later launch: sends the arguments (in several messages when they are many) and waits for
  // the answers; false (with `error` set) when no instance answered within the time.
  bool handOff(const QStringList& arguments, QString* error, int timeoutMillis = kHandOffTimeoutMillis);

  QString lockPath() const;
  QString socketPath() const;

 private:
  bool sendOne(const QStringList& arguments, const QDeadlineTimer& deadline, QString* error);
  bool runAlone(const QString& why);

  QString mFolder;
  QString mUnusable;  // why the lock file cannot be used; empty when it can
  int mLock = -1;  // the lock file, locked while open
  int mListening = -1;
  QSocketNotifier* mServer = nullptr;  // owned here, with the connections; deleted in the destructor
};

}  // namespace orrery
