#pragma once
// Whether the machine could reach the internet now, asked without a lookup or a packet: a
// network interface other than loopback is up and has an address, and the routing table has
// a default route. Any thread.

#include <string>

namespace platform {

bool hasNetworkConnection();

// The text of /proc/net/route (IPv4) or /proc/net/ipv6_route names a default route on an
// interface that is not loopback.
bool routeTableHasDefaultRoute(const std::string& ipv4Routes);
bool ipv6RouteTableHasDefaultRoute(const std::string& ipv6Routes);

}  // namespace platform
