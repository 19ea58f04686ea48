#pragma once
// Local stream sockets for the hand-off between launches, on the system's own calls. Qt's
// local sockets live in Qt Network, whose libraries (Kerberos, the proxy resolver and theirs)
// every start would otherwise map before its first window. Descriptors are close-on-exec.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>

namespace orrery::localsocket {

// A socket listening at `path` (a file left there is replaced) that only this user may connect
// to, non-blocking; -1 with `error` set.
int listenAt(const QString& path, QString* error);
// Connects to the socket at `path`; -1 with `error` set (nobody listens, no such file).
int connectTo(const QString& path, QString* error);
// Writes all of `bytes` before `deadline`.
bool writeAll(int fd, const QByteArray& bytes, const QDeadlineTimer& deadline);
// Reads what is there without waiting; `closed` when the peer has closed its end.
QByteArray readAvailable(int fd, bool* closed);
// Waits until `fd` has something to read (or the peer closed) before `deadline`.
bool waitReadable(int fd, const QDeadlineTimer& deadline);
void close(int fd);

}  // namespace orrery::localsocket
