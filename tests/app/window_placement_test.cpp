#include "app/version_check.h"
#include "app/window_placement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace orrery;
using namespace orrery::placement;

TEST(WindowPlacement, NewWindowsTakeTheirSizeFromTheAreaAndSitCentredAndRaised) {
  // Top-left coordinates: "raised 26 points" is 26 points nearer the top.
  EXPECT_EQ(newWindowFrame(QRectF(0, 0, 1440, 877)), QRectF(134, 32.5, 1172, 760));
  EXPECT_EQ(newWindowFrame(QRectF(0, 0, 1024, 600)), QRectF(0, 4, 1024, 540));
  EXPECT_EQ(newWindowFrame(QRectF(0, 0, 600, 500)), QRectF(-20, -36, 640, 520)) << "partly off the left edge";
  // The area's origin counts: a second screen, or a panel at the top.
  EXPECT_EQ(newWindowFrame(QRectF(1440, 28, 1440, 877)), QRectF(1574, 60.5, 1172, 760));
  EXPECT_EQ(newWindowFrame(QRectF()), QRectF(0, 0, 640, 520));
}

TEST(WindowPlacement, WindowsOpenedOverAMainWindowNearTheTopCascade) {
  const QRectF screen(0, 0, 1440, 900);
  const QRectF fresh(134, 40, 1000, 700);
  // The main window's top 250 points below the screen's top: 30 right and 30 down.
  auto moved = cascadedFrame(screen, QRectF(100, 250, 1000, 600), fresh);
  ASSERT_TRUE(moved.has_value());
  EXPECT_EQ(*moved, QRectF(130, 195, 1000, 700)) << "kept 5 points above the screen's bottom";
  moved = cascadedFrame(screen, QRectF(100, 50, 900, 600), QRectF(0, 0, 900, 600));
  EXPECT_EQ(*moved, QRectF(130, 80, 900, 600));
  // At 350 points it keeps its centred frame.
  EXPECT_FALSE(cascadedFrame(screen, QRectF(100, 350, 1000, 500), fresh).has_value());
  // Never past the right edge, never above the top.
  moved = cascadedFrame(screen, QRectF(900, 10, 600, 600), QRectF(0, 0, 600, 1000));
  EXPECT_EQ(*moved, QRectF(835, 0, 600, 1000));
  // A window as wide as the screen starts at its left edge rather than past it.
  moved = cascadedFrame(QRectF(0, 0, 1024, 720), QRectF(0, 34, 1024, 679), QRectF(0, 0, 1024, 679));
  EXPECT_EQ(*moved, QRectF(0, 36, 1024, 679));
}

TEST(WindowPlacement, StoredFramesAreFittedOntoTheScreensThereAreNow) {
  const QList<QRectF> areas{QRectF(0, 28, 1440, 872), QRectF(1440, 0, 1920, 1080)};
  const QSizeF minimum(640, 520);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(fittedStoredFrame(QRectF(100, 100, 800, 600), areas, minimum), QRectF(100, 100, 800, 600));
  EXPECT_EQ(fittedStoredFrame(QRectF(), areas, minimum), QRectF(0, 28, 640, 520)) << "the zero rectangle";
  EXPECT_EQ(fittedStoredFrame(QRectF(nan, nan, nan, nan), areas, minimum), QRectF(0, 28, 640, 520));
  EXPECT_EQ(fittedStoredFrame(QRectF(5000, 5000, 800, 600), areas, minimum), QRectF(640, 300, 800, 600))
      << "a screen that is gone: onto the primary";
  EXPECT_EQ(fittedStoredFrame(QRectF(2000, 500, 800, 700), areas, minimum), QRectF(2000, 380, 800, 700))
      << "the second screen holds its centre";
  EXPECT_EQ(fittedStoredFrame(QRectF(0, 0, 5000, 5000), areas, minimum), QRectF(0, 28, 1440, 872));
  EXPECT_EQ(fittedStoredFrame(QRectF(10, 40, 100, 100), areas, minimum), QRectF(10, 40, 640, 520));
}

TEST(WindowPlacement, AWindowOverAnotherSteps30PointsAndWrapsInsideTheArea) {
  const QRectF area(0, 28, 1440, 872);
  struct Case {
    const char* name;
    QRectF frame;
    QList<QRectF> others;
    QPointF expected;
  };
  const Case cases[] = {
      {"free", QRectF(100, 100, 800, 600), {QRectF(300, 300, 800, 600)}, QPointF(100, 100)},
      {"over one", QRectF(100, 100, 800, 600), {QRectF(100, 100, 500, 500)}, QPointF(130, 130)},
      {"within two points", QRectF(100, 100, 800, 600), {QRectF(101, 99, 800, 600)}, QPointF(130, 130)},
      {"over a cascade of two",
       QRectF(100, 100, 800, 600),
       {QRectF(100, 100, 1, 1), QRectF(130, 130, 1, 1)},
       QPointF(160, 160)},
      {"at the bottom: back to the top", QRectF(100, 300, 800, 600), {QRectF(100, 300, 800, 600)}, QPointF(130, 28)},
      {"as wide as the area: down only", QRectF(0, 28, 1440, 600), {QRectF(0, 28, 1440, 600)}, QPointF(0, 58)},
      {"as large as the area: stays", QRectF(0, 28, 1440, 872), {QRectF(0, 28, 1440, 872)}, QPointF(0, 28)},
  };
  for (const Case& c : cases) {
    const QRectF placed = uncoveredFrame(c.frame, c.others, area);
    EXPECT_EQ(placed.topLeft(), c.expected) << c.name;
    EXPECT_EQ(placed.size(), c.frame.size()) << c.name;
  }
  // Twenty windows on one place all find places of their own inside the area.
  QList<QRectF> placed;
  for (int i = 0; i < 20; ++i) {
    const QRectF frame = uncoveredFrame(QRectF(300, 200, 900, 600), placed, area);
    EXPECT_TRUE(area.contains(frame)) << i;
    for (const QRectF& other : placed) EXPECT_NE(other.topLeft(), frame.topLeft()) << i;
    placed.append(frame);
  }
  EXPECT_EQ(fittedFrame(QRectF(200, 156, 1172, 779), QRectF(0, 0, 1440, 900), QSizeF(640, 520)),
            QRectF(200, 121, 1172, 779));
  EXPECT_EQ(fittedFrame(QRectF(0, 40, 1024, 720), QRectF(0, 0, 1024, 720), QSizeF(640, 520)), QRectF(0, 0, 1024, 720));
}

TEST(VersionCheck, ComponentsCompareAsNumbersAndGarbageCountsAsZero) {
  EXPECT_LT(compareVersions("1.4", "1.5"), 0);
  EXPECT_GT(compareVersions("1.10", "1.5"), 0) << "not as decimals";
  EXPECT_EQ(compareVersions("1.5", "1.5.0.0"), 0);
  EXPECT_LT(compareVersions("", "1.5"), 0);
  EXPECT_LT(compareVersions("garbage", "1.5"), 0);
  EXPECT_GT(compareVersions("2.0rc1", "1.9"), 0);
  EXPECT_GT(compareVersions("99999999999999999999.1", "1.5"), 0);
  EXPECT_EQ(compareVersions("1..5", "1.0.5"), 0);
}
