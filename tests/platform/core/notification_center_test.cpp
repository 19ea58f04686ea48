#include "platform/core/notification_center.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(NotificationCenter, MatchesByNameAndObject) {
  NotificationCenter center;
  int a = 0, b = 0, any = 0;
  int objA = 0, objB = 0;
  center.addObserver(&a, "Changed", &objA, [&](const Notification&) { a++; });
  center.addObserver(&b, "Changed", nullptr, [&](const Notification&) { b++; });
  center.addObserver(&any, "", nullptr, [&](const Notification&) { any++; });
  center.post("Changed", &objA);
  center.post("Changed", &objB);
  center.post("Other", &objA);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 2);
  EXPECT_EQ(any, 3);
  center.removeObserver(&b);
  center.post("Changed", &objA);
  EXPECT_EQ(b, 2);
  EXPECT_EQ(a, 2);
}

TEST(NotificationCenter, RemovalDuringDeliveryStopsLaterObservers) {
  NotificationCenter center;
  int first = 0, second = 0, added = 0;
  int secondKey;
  center.addObserver(&first, "N", nullptr, [&](const Notification&) {
    first++;
    center.removeObserver(&secondKey);
    center.addObserver(&added, "N", nullptr, [&](const Notification&) { added++; });
  });
  center.addObserver(&secondKey, "N", nullptr, [&](const Notification&) { second++; });
  center.post("N");
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 0);
  EXPECT_EQ(added, 0);  // registered during delivery: from the next post on
  center.post("N");
  EXPECT_EQ(added, 1);
}

TEST(NotificationCenter, ObserverScopeUnregistersOnDestructionAndCarriesUserInfo) {
  NotificationCenter center;
  std::string got;
  {
    ObserverScope scope(center);
    scope.observe("N", nullptr, [&](const Notification& n) { got = std::any_cast<std::string>(n.userInfo.at("k")); });
    center.post("N", nullptr, {{"k", std::string("v")}});
    EXPECT_EQ(center.observerCount(), 1u);
  }
  EXPECT_EQ(got, "v");
  EXPECT_EQ(center.observerCount(), 0u);
  center.post("N");  // no dangling handler
}
