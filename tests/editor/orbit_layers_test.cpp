#include "editor/line_layer.h"
#include "editor/solar_system_layer.h"
#include "editor_test_support.h"
#include "platform/ui/compositor.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace orrery;

namespace {

// A plain 1100 × 1100 layer holding the line, rendered at `k`.
QImage renderLine(const std::shared_ptr<LineLayer>& line, double k = 1.0) {
  auto host = platform::Layer::layer();
  host->setAnchorPoint(QPointF(0, 0));
  host->setBounds(QRectF(0, 0, 1100, 1100));
  host->addSublayer(line);
  QImage image = platform::compositor::renderToImage(*host, k);
  line->removeFromSuperlayer();
  return image;
}

int alphaAt(const QImage& image, const QPointF& p, double k = 1.0) {
  return image.pixelColor(static_cast<int>(std::floor(p.x() * k)), static_cast<int>(std::floor(p.y() * k))).alpha();
}

}  // namespace

TEST(OrbitRing, StrokesTheCircleOfItsRadiusAroundTheBoundsCentre) {
  for (double k : {1.0, 2.0}) {
    SolarSystemLayer ring;
    ring.setContentsScale(k);
    ring.setFrame(QRectF(0, 0, 300, 300));
    ring.setRadius(100);
    const QImage image = platform::compositor::renderToImage(ring, k);
    EXPECT_GT(alphaAt(image, QPointF(150 + 100, 150), k) + alphaAt(image, QPointF(150 + 99.5, 150), k), 40) << k;
    EXPECT_GT(alphaAt(image, QPointF(150, 150 - 100), k) + alphaAt(image, QPointF(150, 150 - 100.5), k), 40) << k;
    EXPECT_EQ(alphaAt(image, QPointF(150, 150), k), 0) << "nothing is filled";
    EXPECT_EQ(alphaAt(image, QPointF(150 + 103, 150), k), 0);
    EXPECT_EQ(alphaAt(image, QPointF(150 + 97, 150), k), 0);
  }
  EXPECT_EQ(SolarSystemLayer::naturalRadius(), 202);
}

TEST(OrbitRing, KeepsAPictureOfTheRingOnlyNotOfItsWholeLayer) {
  // Every rotation frame composes this picture: a window-sized one costs several milliseconds.
  for (double k : {1.0, 2.0}) {
    for (double radius : {202.0, 315.0, 57.5}) {
      SolarSystemLayer ring;
      ring.setContentsScale(k);
      ring.setFrame(QRectF(-80.25, 10, 1260, 1260));
      ring.setRadius(radius);
      ring.displayIfNeeded();
      const double side = (2 * radius + 6) * k;
      EXPECT_LE(ring.contents().width(), side) << k << " " << radius;
      EXPECT_LE(ring.contents().height(), side) << k << " " << radius;
      // Still the same ring where it was, blitted pixel for pixel.
      const QImage image = platform::compositor::renderToImage(ring, k);
      const QPointF centre(630, 630);
      for (const QPointF& dir : {QPointF(1, 0), QPointF(0, -1), QPointF(-1, 0)}) {
        const QPointF on = centre + radius * dir;
        EXPECT_GT(alphaAt(image, on, k) + alphaAt(image, on - 0.5 * dir, k), 40) << k << " " << radius;
        EXPECT_EQ(alphaAt(image, centre + (radius + 3) * dir, k), 0) << k << " " << radius;
        EXPECT_EQ(alphaAt(image, centre + (radius - 3) * dir, k), 0) << k << " " << radius;
      }
    }
  }
}

TEST(OrbitRing, OnlyANewRadiusRedrawsTheRing) {
  SolarSystemLayer ring;
  ring.setFrame(QRectF(0, 0, 1260, 1260));
  ring.setRadius(202);
  ring.displayIfNeeded();
  const int drawn = ring.displayCount();
  for (int frame = 0; frame < 30; ++frame) {
    ring.setRadius(202);
    ring.displayIfNeeded();
  }
  EXPECT_EQ(ring.displayCount(), drawn) << "each layout pass sets the same radius";
  ring.setRadius(235.6);
  ring.displayIfNeeded();
  EXPECT_EQ(ring.displayCount(), drawn + 1);
}

TEST(ConnectorLine, EndsOnePercentInsideBothEndsAtAnyAngle) {
  const QPointF a(550, 550);
  for (double degrees : {0.0, 45.0, 90.0, 135.0, 200.0, 300.0}) {
    const double rad = degrees * M_PI / 180;
    const QPointF dir(std::cos(rad), std::sin(rad));
    const QPointF b = a + 500 * dir;
    auto line = LineLayer::create(a, b, /*dashed=*/false);
    // The drawn ends land 1 % of the segment from A and B.
    const QTransform toHost = line->model().toSuperlayer();
    const QPointF start = toHost.map(QPointF(10, 2));
    const QPointF end = toHost.map(QPointF(990, 2));
    EXPECT_NEAR(start.x(), (a + 5 * dir).x(), 1e-3) << degrees;
    EXPECT_NEAR(start.y(), (a + 5 * dir).y(), 1e-3) << degrees;
    EXPECT_NEAR(end.x(), (b - 5 * dir).x(), 1e-3) << degrees;
    EXPECT_NEAR(end.y(), (b - 5 * dir).y(), 1e-3) << degrees;

    const QImage image = renderLine(line, 2.0);
    EXPECT_EQ(alphaAt(image, a + 1.5 * dir, 2.0), 0) << degrees;
    EXPECT_EQ(alphaAt(image, b - 1.5 * dir, 2.0), 0) << degrees;
    int inked = 0;
    for (int i = 10; i <= 490; i += 10)
      if (alphaAt(image, a + i * dir, 2.0) > 0) ++inked;
    EXPECT_EQ(inked, 49) << "a solid line along the whole segment at " << degrees;
  }
}

TEST(ConnectorLine, DashedDiffersOnlyInItsDashPattern) {
  const QPointF a(50, 60), b(1050, 60);
  const QImage solid = renderLine(LineLayer::create(a, b, false));
  const QImage dashed = renderLine(LineLayer::create(a, b, true));
  int solidInk = 0, dashedInk = 0, extra = 0;
  for (int x = 70; x < 1030; ++x) {
    const bool s = alphaAt(solid, QPointF(x + 0.5, 60)) > 100 || alphaAt(solid, QPointF(x + 0.5, 59)) > 100;
    const bool d = alphaAt(dashed, QPointF(x + 0.5, 60)) > 100 || alphaAt(dashed, QPointF(x + 0.5, 59)) > 100;
    solidInk += s;
    dashedInk += d;
    extra += d && !s;
  }
  EXPECT_EQ(solidInk, 960);
  EXPECT_NEAR(dashedInk, 480, 40) << "2 on, 2 off";
  EXPECT_EQ(extra, 0);
}

TEST(ConnectorLine, MovesByItsTransformWithoutRedrawing) {
  auto line = LineLayer::create(QPointF(0, 0), QPointF(300, 400), false);
  line->displayIfNeeded();
  const int drawn = line->displayCount();
  line->animateToLine(QPointF(10, 10), QPointF(600, 20), /*immediate=*/true);
  line->animateToLine(QPointF(10, 10), QPointF(20, 600), /*immediate=*/false);
  EXPECT_FALSE(line->hasAnimations()) << "immediate either way";
  line->transformToLine(QPointF(5, 5), QPointF(100, 100));
  line->displayIfNeeded();
  EXPECT_EQ(line->displayCount(), drawn);
  EXPECT_EQ(line->bounds(), QRectF(0, 0, 1000, 4));
  EXPECT_EQ(line->anchorPoint(), QPointF(0, 0.5));
}

TEST(ConnectorLine, AZeroLengthSegmentDrawsNothingAndBreaksNoHitTest) {
  const QPointF a(300, 300);
  auto line = LineLayer::create(a, a, true);
  const QImage image = renderLine(line);
  EXPECT_TRUE(editortest::inkBox(image).isNull());
  auto host = platform::Layer::layer();
  host->setAnchorPoint(QPointF(0, 0));
  host->setBounds(QRectF(0, 0, 1100, 1100));
  host->addSublayer(line);
  EXPECT_EQ(host->hitTest(a), host.get());
  EXPECT_EQ(host->hitTest(QPointF(800, 300)), host.get());
  line->transformToLine(a, QPointF(800, 300));
  EXPECT_EQ(host->hitTest(QPointF(700, 300)), line.get()) << "laid on a real segment it is found again";
}
