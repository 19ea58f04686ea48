#include "connection_watch.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <netdb.h>
#include <sys/socket.h>

#include <mutex>

namespace connectionwatch {
namespace {

std::mutex& guard() {
  static std::mutex* mutex = new std::mutex;
  return *mutex;
}

std::vector<std::string>& recorded() {
  static auto* list = new std::vector<std::string>;
  return *list;
}

void record(std::string what) {
  std::lock_guard lock(guard());
  recorded().push_back(std::move(what));
}

std::string describe(const sockaddr* address) {
  char text[INET6_ADDRSTRLEN] = "?";
  if (address->sa_family == AF_INET)
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
  else
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text, sizeof text);
  return text;
}

template <typename Function>
Function next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

std::vector<std::string> attempts() {
  std::lock_guard lock(guard());
  return recorded();
}

}  // namespace connectionwatch

extern "C" int connect(int fd, const sockaddr* address, socklen_t length) {
  using Connect = int (*)(int, const sockaddr*, socklen_t);
  static const Connect real = connectionwatch::next<Connect>("connect");
  // Local sockets (the test's own helpers) are no way out of the machine.
  if (address && (address->sa_family == AF_INET || address->sa_family == AF_INET6))
    connectionwatch::record("connect " + connectionwatch::describe(address));
  return real(fd, address, length);
}

extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** result) {
  using GetAddrInfo = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
  static const GetAddrInfo real = connectionwatch::next<GetAddrInfo>("getaddrinfo");
  connectionwatch::record(std::string("getaddrinfo ") + (node ? node : "(none)"));
  return real(node, service, hints, result);
}
