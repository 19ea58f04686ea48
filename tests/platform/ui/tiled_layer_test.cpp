#include "platform/ui/layer.h"
#include "platform/ui/scroll_view.h"
#include "platform/ui/view.h"
#include "platform/ui/window.h"
#include "ui_test_env.h"

#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace platform;

namespace {

constexpr QSizeF kShown(300, 400);

QColor bandColour(int band) { return QColor::fromHsv((band * 37) % 360, 90 + band % 100, 230); }

// A document far taller than one contents image: 100-point bands coloured by their index,
// antialiased diagonals and numbers that cross every tile edge.
class TallView : public View {
 public:
  explicit TallView(double height) : View(QRectF(0, 0, kShown.width(), height)) {}
  void drawRect(QPainter& painter, const QRectF& dirty) override {
    ++draws;
    largestDirty = std::max(largestDirty, dirty.height());
    const int first = std::max(0, static_cast<int>(std::floor(dirty.top() / 100)) - 2);
    const int last = static_cast<int>(std::ceil(dirty.bottom() / 100));
    for (int band = first; band <= last; ++band)
      painter.fillRect(QRectF(0, band * 100.0, kShown.width(), 100), bandColour(band));
    painter.setPen(QPen(Qt::black, 1.5));
    for (int band = first; band <= last; ++band) {
      painter.drawLine(QPointF(0, band * 100.0), QPointF(kShown.width(), band * 100.0 + 170));
      painter.drawText(QPointF(10, band * 100.0 + 50), QString::number(band));
    }
  }
  int draws = 0;
  double largestDirty = 0;
};

struct Scene {
  explicit Scene(double height) : window(kShown) {
    scroll = std::make_shared<ScrollView>(QRectF(QPointF(), kShown));
    document = std::make_shared<TallView>(height);
    scroll->setDocumentView(document);
    window.setContentView(scroll);
  }
  QImage shownAt(double y, double scale) {
    document->layer()->setContentsScale(scale);
    scroll->scrollToPoint(QPointF(0, y));
    return window.snapshot(scale);
  }
  // What the view draws for that part of the document, in one piece.
  QImage expectedAt(double y, double scale) {
    QImage image((kShown * scale).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform | QPainter::TextAntialiasing);
    painter.translate(0, -y);
    const QRectF part(0, y, kShown.width(), kShown.height());
    painter.setClipRect(part);
    document->drawRect(painter, part);
    return image;
  }
  Window window;
  std::shared_ptr<ScrollView> scroll;
  std::shared_ptr<TallView> document;
};

// Antialiased edges drawn through a tile and drawn at once differ by a few levels; a seam, a gap
// or a shifted tile differs by far more.
constexpr int kTolerance = 12;

int differingPixels(const QImage& a, const QImage& b) {
  if (a.size() != b.size()) return -1;
  const QImage left = a.convertToFormat(QImage::Format_ARGB32);
  const QImage right = b.convertToFormat(QImage::Format_ARGB32);
  int differing = 0;
  for (int y = 0; y < left.height(); ++y)
    for (int x = 0; x < left.width(); ++x) {
      const QRgb p = left.pixel(x, y), q = right.pixel(x, y);
      if (std::abs(qRed(p) - qRed(q)) > kTolerance || std::abs(qGreen(p) - qGreen(q)) > kTolerance ||
          std::abs(qBlue(p) - qBlue(q)) > kTolerance) {
        ++differing;
      }
    }
  return differing;
}

}  // namespace

TEST(TiledLayer, TileEdgesDrawNoSeamAtOneAndTwoTimes) {
  Scene scene(40000);
  for (const double scale : {1.0, 2.0}) {
    SCOPED_TRACE(scale);
    // A tile edge (every 512 pixels) runs through the middle of what is shown.
    const double edge = 20 * Layer::kTileSide / scale;
    const QImage shown = scene.shownAt(edge - 200, scale);
    EXPECT_TRUE(scene.document->layer()->isTiled());
    EXPECT_EQ(differingPixels(shown, scene.expectedAt(edge - 200, scale)), 0);
    // A scroll position between pixels moves both tiles alike: no pale line where they meet.
    const QImage between = scene.shownAt(edge - 133.25, scale);
    int pale = 0;
    for (int y = 0; y < between.height(); ++y) pale += qGray(between.pixel(between.width() - 4, y)) > 235;
    EXPECT_EQ(pale, 0);
  }
}

TEST(TiledLayer, OnlyTilesInViewAreDrawnAndFarOnesDropped) {
  Scene scene(60000);
  Layer& layer = *scene.document->layer();
  scene.shownAt(0, 1.0);
  ASSERT_TRUE(layer.isTiled());
  EXPECT_TRUE(layer.contents().isNull()) << "no single image past the size limit";
  EXPECT_EQ(layer.tileDrawCount(), 1) << "400 points at the top: one tile";
  EXPECT_LE(scene.document->largestDirty, Layer::kTileSide) << "each draw asked for a tile, not the document";

  // Scrolling far down draws the right part of the document, and lets the top go.
  for (const double y : {25000.0, 59600.0}) {
    const QImage shown = scene.shownAt(y, 1.0);
    for (int row = 0; row < kShown.height(); row += 50) {
      const int band = static_cast<int>((y + row) / 100);
      const double bandTop = band * 100 - y;
      if (bandTop + 5 < 0) continue;
      EXPECT_EQ(QColor(shown.pixel(290, static_cast<int>(bandTop) + 5)).name(), bandColour(band).name())
          << "band " << band;
    }
  }
  EXPECT_LE(layer.tileCount(), 4) << "what is shown, and a screen either way";
  EXPECT_GE(layer.tileCount(), 1);

  // Coming back draws the top again; a small scroll inside kept tiles draws nothing new.
  const int before = layer.tileDrawCount();
  scene.shownAt(0, 1.0);
  EXPECT_EQ(layer.tileDrawCount(), before + 1);
  scene.shownAt(50, 1.0);
  EXPECT_EQ(layer.tileDrawCount(), before + 1);

  // A covered layer lets its tiles go; shown again, it draws what is shown.
  layer.setCovered(true);
  EXPECT_EQ(layer.tileCount(), 0);
  layer.setCovered(false);
  scene.shownAt(0, 1.0);
  EXPECT_EQ(layer.tileCount(), 1);

  // New contents throw every tile away; a document that fits again is one image.
  scene.document->setNeedsDisplay();
  scene.shownAt(0, 1.0);
  EXPECT_EQ(layer.tileCount(), 1);
  scene.document->setFrame(QRectF(0, 0, kShown.width(), 2000));
  scene.document->setNeedsDisplay();
  scene.shownAt(0, 1.0);
  EXPECT_FALSE(layer.isTiled());
  EXPECT_EQ(layer.tileCount(), 0);
  EXPECT_FALSE(layer.contents().isNull());
}

TEST(TiledLayer, AContainerOfUnlimitedHeightDrawsOnlyWhatIsShown) {
  Scene scene(std::numeric_limits<float>::max());
  const QImage shown = scene.shownAt(0, 2.0);
  EXPECT_TRUE(scene.document->layer()->isTiled());
  EXPECT_EQ(QColor(shown.pixel(290 * 2, 5 * 2)).name(), bandColour(0).name());
  EXPECT_LE(scene.document->layer()->tileCount(), 4) << "two columns, two rows";
}
