#include "app/local_socket.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace orrery::localsocket {
namespace {

QString systemError() { return QString::fromLocal8Bit(std::strerror(errno)); }

// The address for `path`; false when it does not fit in one.
bool addressFor(const QString& path, sockaddr_un* address, QString* error) {
  const QByteArray encoded = path.toLocal8Bit();
  *address = sockaddr_un{};
  address->sun_family = AF_UNIX;
  if (encoded.isEmpty() || std::size_t(encoded.size()) >= sizeof(address->sun_path)) {
    if (error) *error = QStringLiteral("the socket path is too long: %1").arg(path);
    return false;
  }
  std::memcpy(address->sun_path, encoded.constData(), std::size_t(encoded.size()));
  return true;
}

int pollFor(int fd, short events, const QDeadlineTimer& deadline) {
  for (;;) {
    pollfd entry{fd, events, 0};
    const qint64 left = deadline.remainingTime();
    const int n = ::poll(&entry, 1, left < 0 ? -1 : int(std::min<qint64>(left, 1 << 30)));
    if (n < 0 && errno == EINTR) continue;
    return n > 0 ? entry.revents : 0;
  }
}

}  // namespace

int listenAt(const QString& path, QString* error) {
  sockaddr_un address;
  if (!addressFor(path, &address, error)) return -1;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    if (error) *error = systemError();
    return -1;
  }
  ::unlink(address.sun_path);
  // Nobody can connect before listen(), so tightening the mode in between leaves no gap.
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::chmod(address.sun_path, S_IRUSR | S_IWUSR | S_IXUSR) != 0 || ::listen(fd, 16) != 0) {
    if (error) *error = systemError();
    ::close(fd);
    return -1;
  }
  return fd;
}

int connectTo(const QString& path, QString* error) {
  sockaddr_un address;
  if (!addressFor(path, &address, error)) return -1;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (error) *error = systemError();
    if (fd >= 0) ::close(fd);
    return -1;
  }
  return fd;
}

bool writeAll(int fd, const QByteArray& bytes, const QDeadlineTimer& deadline) {
  qsizetype written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.constData() + written, std::size_t(bytes.size() - written),
                             MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      written += n;
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!(pollFor(fd, POLLOUT, deadline) & POLLOUT)) return false;
    } else {
      return false;
    }
  }
  return true;
}

QByteArray readAvailable(int fd, bool* closed) {
  QByteArray bytes;
  *closed = false;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n > 0) {
      bytes.append(buffer, n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      *closed = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
      return bytes;
    }
  }
}

bool waitReadable(int fd, const QDeadlineTimer& deadline) { return pollFor(fd, POLLIN, deadline) != 0; }

void close(int fd) {
  if (fd >= 0) ::close(fd);
}

}  // namespace orrery::localsocket
