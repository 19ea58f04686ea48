#include "platform/ui/compositor.h"
#include "platform/ui/layer.h"
#include "platform/ui/transaction.h"

#include <QPainter>

#include <functional>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

using namespace platform;

namespace {

std::shared_ptr<Layer> box(const QRectF& frame, QColor color) {
  auto layer = Layer::layer();
  layer->setFrame(frame);
  layer->setBackgroundColor(color);
  return layer;
}

QColor at(const QImage& image, int x, int y) { return image.pixelColor(x, y); }

QPainterPath triangle(QPointF a, QPointF b, QPointF c) {
  QPainterPath path;
  path.moveTo(a);
  path.lineTo(b);
  path.lineTo(c);
  path.closeSubpath();
  return path;
}

// Counts its redraws.
class CountingLayer : public Layer {
 public:
  bool drawsContent() const override { return true; }
  void drawInContext(QPainter& p) override { p.fillRect(bounds(), Qt::blue); }
};

// Counts the compositions asked for.
struct CountingHost : LayerHost {
  int asked = 0;
  void layerTreeNeedsDisplay() override { ++asked; }
};

}  // namespace

TEST(Compositor, TransformsOpacityAndOrder) {
  auto root = box(QRectF(0, 0, 100, 100), Qt::white);
  auto red = box(QRectF(0, 0, 40, 40), Qt::red);
  red->setTransform(QTransform::fromScale(0.5, 0.5));  // about its centre: covers 10..30
  auto green = box(QRectF(50, 50, 40, 40), QColor(0, 255, 0));
  green->setOpacity(0.5);
  auto blue = box(QRectF(60, 0, 30, 30), Qt::blue);
  auto yellow = box(QRectF(70, 10, 30, 30), Qt::yellow);
  blue->setZPosition(1);  // drawn above the later sibling
  root->addSublayer(red);
  root->addSublayer(green);
  root->addSublayer(blue);
  root->addSublayer(yellow);

  const QImage image = compositor::renderToImage(*root);
  EXPECT_EQ(at(image, 5, 5), QColor(Qt::white));
  EXPECT_EQ(at(image, 20, 20), QColor(Qt::red));
  EXPECT_EQ(at(image, 32, 20), QColor(Qt::white));
  const QColor half = at(image, 70, 70);
  EXPECT_NEAR(half.red(), 128, 2);
  EXPECT_EQ(half.green(), 255);
  EXPECT_EQ(at(image, 80, 20), QColor(Qt::blue));

  root->setHidden(false);
  green->setHidden(true);
  EXPECT_EQ(at(compositor::renderToImage(*root), 70, 70), QColor(Qt::white));
  withoutActions([&] { red->setTransform(QTransform()); });  // back to its frame: 0..40
  EXPECT_EQ(at(compositor::renderToImage(*root), 32, 20), QColor(Qt::red));

  // A turn leaves the layers before its run where they are.
  root->rotateSublayers(1, 3);
  const std::vector<const Layer*> turned{red.get(), yellow.get(), green.get(), blue.get()};
  std::vector<const Layer*> order;
  for (const auto& sublayer : root->sublayers()) order.push_back(sublayer.get());
  EXPECT_EQ(order, turned);
}

TEST(Compositor, CornerRadiusMaskAndDoubleScale) {
  auto rounded = box(QRectF(0, 0, 40, 40), Qt::red);
  rounded->setCornerRadius(15);
  const QImage image = compositor::renderToImage(*rounded, 2.0);
  ASSERT_EQ(image.size(), QSize(80, 80));
  EXPECT_EQ(at(image, 1, 1).alpha(), 0);     // outside the rounded corner
  EXPECT_EQ(at(image, 40, 40), QColor(Qt::red));

  auto clipped = box(QRectF(0, 0, 40, 40), Qt::green);
  QPainterPath circle;
  circle.addEllipse(QRectF(0, 0, 40, 40));
  clipped->setMaskPath(circle);
  auto child = box(QRectF(-20, -20, 80, 80), Qt::blue);  // the mask cuts sublayers too
  clipped->addSublayer(child);
  const QImage masked = compositor::renderToImage(*clipped);
  EXPECT_EQ(at(masked, 2, 2).alpha(), 0);
  EXPECT_EQ(at(masked, 20, 20), QColor(Qt::blue));
  clipped->setMaskPath(std::nullopt);  // the mask gone, the child shows whole
  EXPECT_EQ(at(compositor::renderToImage(*clipped), 2, 2), QColor(Qt::blue));
}

TEST(Compositor, ContentsAreDrawnOnceAndReusedWhenMoved) {
  CountingHost host;
  auto root = box(QRectF(0, 0, 100, 100), Qt::white);
  root->setHost(&host);
  auto layer = std::make_shared<CountingLayer>();
  layer->setFrame(QRectF(0, 0, 20, 20));
  layer->setNeedsDisplay();
  root->addSublayer(layer);
  const int asked = host.asked;
  compositor::renderToImage(*root);
  EXPECT_EQ(host.asked, asked) << "a picture drawn for the composition that shows it asks for another";
  withoutActions([&] {
    layer->setPosition(QPointF(60, 60));
    layer->setOpacity(0.9);
  });
  const QImage moved = compositor::renderToImage(*root);
  EXPECT_EQ(layer->displayCount(), 1);
  EXPECT_EQ(at(moved, 60, 60).blue(), 255);
  EXPECT_EQ(at(moved, 5, 5), QColor(Qt::white));
}

namespace {

// A change made without animation, then the colour the next frame shows at some points.
struct Step {
  const char* what;
  std::function<void()> change;
  std::vector<std::pair<QPoint, QColor>> expected;
};

// Runs the steps in order on one tree; every frame is composed anew, so a kept drawing that
// misses a change shows the old pixels.
void expectFrames(Layer& root, const std::vector<Step>& steps) {
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    withoutActions(step.change);
    const QImage image = compositor::renderToImage(root);
    for (const auto& [point, colour] : step.expected) {
      const QColor found = at(image, point.x(), point.y());
      if (colour == Qt::black)  // a shadow: dark, whatever its edge blending
        EXPECT_LT(found.lightness(), 50) << point.x() << "," << point.y();
      else
        EXPECT_EQ(found, colour) << point.x() << "," << point.y();
    }
  }
}

}  // namespace

// The shadow follows the shape and offset it has now: a changed outline of the same size, or a
// changed corner radius, casts a new shadow rather than the one drawn before.
TEST(Compositor, ShadowsFollowTheCurrentShapeOffsetAndOpacity) {
  auto root = box(QRectF(0, 0, 120, 120), Qt::white);
  auto card = Layer::layer();
  card->setFrame(QRectF(30, 30, 60, 60));
  card->setShadowOpacity(1.0);
  card->setShadowColor(Qt::black);
  card->setShadowRadius(0);
  card->setShadowOffset(QPointF(10, 10));
  root->addSublayer(card);
  const QColor shadow(Qt::black), none(Qt::white);
  expectFrames(*root, {
      {"a triangle pointing down darkens below-left, not bottom-right",
       [&] { card->setShadowPath(triangle({0, 0}, {60, 0}, {30, 60})); }, {{{50, 45}, shadow}, {{98, 95}, none}}},
      {"one pointing up, same bounds and element count: the new outline's shadow only",
       [&] { card->setShadowPath(triangle({30, 0}, {60, 60}, {0, 60})); }, {{{95, 95}, shadow}, {{45, 42}, none}}},
      {"without a path the rounded bounds cast it",
       [&] {
         card->setShadowPath(std::nullopt);
         card->setCornerRadius(2);
       },
       {{{98, 98}, shadow}}},
      {"a larger radius rounds the shadow's corner", [&] { card->setCornerRadius(25); }, {{{98, 98}, none}}},
      {"no opacity, no shadow", [&] { card->setShadowOpacity(0); }, {{{95, 60}, none}}},
  });
}

// A picture drawn at another scale is resampled on the frame that first shows it, kept on the
// next and reused after: whatever changes (the picture, its pixels in place, the scale, the
// position) must show at once, and the picture lands where a resampling draw puts it.
TEST(Compositor, ScaledPicturesFollowEveryChange) {
  auto root = box(QRectF(0, 0, 100, 100), Qt::white);
  auto picture = Layer::layer();
  picture->setFrame(QRectF(10, 10, 40, 40));
  root->addSublayer(picture);
  auto filled = [](QColor color) {
    QImage image(40, 40, QImage::Format_ARGB32_Premultiplied);
    image.fill(color);
    return image;
  };
  const QColor red(Qt::red), blue(Qt::blue), green(Qt::green), white(Qt::white);
  const std::vector<std::pair<QPoint, QColor>> redAtThreeQuarters = {
      {{30, 30}, red}, {{16, 16}, red}, {{13, 13}, white}, {{47, 47}, white}};
  expectFrames(*root, {
      {"resampled",
       [&] {
         picture->setContents(filled(Qt::red));
         picture->setTransform(QTransform::fromScale(0.75, 0.75));  // about its centre: covers 15..45
       },
       redAtThreeQuarters},
      {"kept", [] {}, redAtThreeQuarters},
      {"drawn from what was kept", [] {}, redAtThreeQuarters},
      {"a new picture", [&] { picture->setContents(filled(Qt::blue)); }, {{{30, 30}, blue}}},
      {"the same picture changed in place",
       [&] {
         QImage same = picture->contents();
         same.fill(Qt::green);
         picture->setContents(same);
       },
       {{{30, 30}, green}}},
      {"kept again", [] {}, {{{30, 30}, green}, {{16, 16}, green}, {{47, 47}, white}}},
      {"a smaller scale, covering 20..40", [&] { picture->setTransform(QTransform::fromScale(0.5, 0.5)); },
       {{{30, 30}, green}, {{17, 17}, white}, {{43, 43}, white}}},
      {"moved, covering 50..70", [&] { picture->setPosition(QPointF(60, 60)); },
       {{{30, 30}, white}, {{60, 60}, green}}},
  });
}

// A picture drawn for bounds a fraction of a pixel off a whole size is that whole size: it is
// shown pixel for pixel, never resampled (which blurs it and costs a resample every frame).
TEST(Compositor, PicturesOfFractionalBoundsAreShownPixelForPixel) {
  class Checkers : public Layer {
   public:
    bool drawsContent() const override { return true; }
    void drawInContext(QPainter& p) override {
      const double px = 1 / contentsScale();
      for (int y = 0; y * px < bounds().height(); ++y)
        for (int x = 0; x < bounds().width() / px; ++x)
          p.fillRect(QRectF(x * px, y * px, px, px), (x + y) % 2 ? Qt::black : Qt::white);
    }
  };
  for (double k : {1.0, 2.0}) {
    auto root = box(QRectF(0, 0, 120, 120), Qt::red);
    auto layer = std::make_shared<Checkers>();
    layer->setContentsScale(k);
    layer->setFrame(QRectF(10, 10, 96.62, 50.4));
    layer->setNeedsDisplay();
    root->addSublayer(layer);
    const QImage image = compositor::renderToImage(*root, k);
    int greys = 0;
    for (int y = 0; y < 50 * k; ++y)
      for (int x = 0; x < 96 * k; ++x) {
        const QColor c = at(image, static_cast<int>(10 * k) + x, static_cast<int>(10 * k) + y);
        greys += c != QColor(x % 2 == y % 2 ? Qt::white : Qt::black);
      }
    EXPECT_EQ(greys, 0) << k;
  }
}

// A layer that strokes into each composition keeps no picture, follows every change of its
// geometry without a redraw, and is drawn where a picture would be.
TEST(Compositor, LayersDrawnIntoEachCompositionKeepNoPicture) {
  class Stroke : public Layer {
   public:
    bool drawsContent() const override { return true; }
    bool drawsEachComposition() const override { return true; }
    void drawInContext(QPainter& p) override {
      ++strokes;
      p.fillRect(QRectF(0, 0, 10, 2), Qt::blue);
    }
    int strokes = 0;
  };
  auto root = box(QRectF(0, 0, 100, 100), Qt::white);
  auto stroke = std::make_shared<Stroke>();
  stroke->setAnchorPoint(QPointF(0, 0));
  stroke->setBounds(QRectF(0, 0, 10, 2));
  stroke->setPosition(QPointF(20, 20));
  stroke->setNeedsDisplay();
  root->addSublayer(stroke);
  QImage image = compositor::renderToImage(*root);
  EXPECT_TRUE(stroke->contents().isNull());
  EXPECT_EQ(stroke->displayCount(), 0);
  EXPECT_EQ(at(image, 25, 20), QColor(Qt::blue));
  withoutActions([&] { stroke->setTransform(QTransform::fromScale(3, 3)); });
  image = compositor::renderToImage(*root);
  EXPECT_EQ(at(image, 45, 24), QColor(Qt::blue)) << "the stroke follows its transform";
  EXPECT_EQ(at(image, 25, 27), QColor(Qt::white));
  EXPECT_EQ(stroke->strokes, 2);
  EXPECT_TRUE(stroke->contents().isNull());
}
