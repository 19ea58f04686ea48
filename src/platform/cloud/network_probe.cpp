#include "platform/cloud/network_probe.h"

#include <fstream>
#include <sstream>

#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>

namespace platform {

namespace {

std::string readSmallFile(const char* path) {
  std::ifstream in(path);
  std::string text;
  char buffer[4096];
  // Route tables are small; a runaway file is cut off rather than read whole.
  while (in && text.size() < (1u << 20)) {
    in.read(buffer, sizeof buffer);
    text.append(buffer, std::size_t(in.gcount()));
  }
  return text;
}

bool interfaceIsUp() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return false;
  bool up = false;
  for (ifaddrs* it = list; it && !up; it = it->ifa_next) {
    if (!it->ifa_addr || (it->ifa_flags & IFF_LOOPBACK)) continue;
    const int family = it->ifa_addr->sa_family;
    up = (family == AF_INET || family == AF_INET6) && (it->ifa_flags & IFF_UP) && (it->ifa_flags & IFF_RUNNING);
  }
  freeifaddrs(list);
  return up;
}

}  // namespace

bool routeTableHasDefaultRoute(const std::string& ipv4Routes) {
  std::istringstream lines(ipv4Routes);
  std::string line;
  std::getline(lines, line);  // the heading
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string iface, destination, gateway, flags, refCnt, use, metric, mask;
    if (!(fields >> iface >> destination >> gateway >> flags >> refCnt >> use >> metric >> mask)) continue;
    unsigned long flagBits = 0;
    try {
      flagBits = std::stoul(flags, nullptr, 16);
    } catch (...) {
      continue;
    }
    const bool routeUp = flagBits & 0x1;
    if (iface != "lo" && destination == "00000000" && mask == "00000000" && routeUp) return true;
  }
  return false;
}

bool ipv6RouteTableHasDefaultRoute(const std::string& ipv6Routes) {
  std::istringstream lines(ipv6Routes);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string destination, destPrefix, source, sourcePrefix, nextHop, metric, refCnt, use, flags, iface;
    if (!(fields >> destination >> destPrefix >> source >> sourcePrefix >> nextHop >> metric >> refCnt >> use >> flags >>
          iface))
      continue;
    if (iface != "lo" && destination == std::string(32, '0') && destPrefix == "00") return true;
  }
  return false;
}

bool hasNetworkConnection() {
  if (!interfaceIsUp()) return false;
  return routeTableHasDefaultRoute(readSmallFile("/proc/net/route")) ||
         ipv6RouteTableHasDefaultRoute(readSmallFile("/proc/net/ipv6_route"));
}

}  // namespace platform
