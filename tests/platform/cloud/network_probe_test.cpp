#include "platform/cloud/network_probe.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(NetworkProbe, DefaultRouteIsFoundOnlyOnARealInterfaceThatIsUp) {
  const std::string heading = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
  EXPECT_TRUE(routeTableHasDefaultRoute(heading + "eth0\t00000000\t0102A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"));
  EXPECT_FALSE(routeTableHasDefaultRoute(heading + "eth0\t0002A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n"))
      << "a local subnet only";
  EXPECT_FALSE(routeTableHasDefaultRoute(heading + "eth0\t00000000\t0102A8C0\t0002\t0\t0\t100\t00000000\t0\t0\t0\n"))
      << "a route that is down";
  EXPECT_FALSE(routeTableHasDefaultRoute(heading + "lo\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n"));
  EXPECT_FALSE(routeTableHasDefaultRoute(heading + "eth0\t00000000\tzz\tnothex\n"));
  EXPECT_FALSE(routeTableHasDefaultRoute(""));

  const std::string zero(32, '0');
  EXPECT_TRUE(ipv6RouteTableHasDefaultRoute(zero + " 00 " + zero + " 00 fe800000000000000000000000000001 00000400 "
                                            "00000001 00000000 00450003 wlan0\n"));
  EXPECT_FALSE(ipv6RouteTableHasDefaultRoute("fe800000000000000000000000000000 40 " + zero + " 00 " + zero +
                                             " 00000100 00000001 00000000 00000001 eth0\n"));
  EXPECT_FALSE(ipv6RouteTableHasDefaultRoute(zero + " 00 " + zero + " 00 " + zero + " ffffffff 00000001 00000000 00200200 lo\n"));
}
