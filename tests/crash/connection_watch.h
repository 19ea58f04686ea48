#pragma once
// Every attempt of this process to reach another machine: a connect() on a network socket
// and each host-name look-up. The test executable defines these calls, so they stand in for
// the C library's in every library loaded (libcurl's resolver and sockets included) and pass
// on to it after recording.

#include <string>
#include <vector>

namespace connectionwatch {

// "connect <address>" or "getaddrinfo <host>", in order.
std::vector<std::string> attempts();

}  // namespace connectionwatch
