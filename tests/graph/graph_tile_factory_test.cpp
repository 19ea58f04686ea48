#include "graph_test_support.h"

#include "editor/editor_test_support.h"
#include "editor/planet_drawer.h"
#include "graph/graph_tile_factory.h"

#include <QPaintEngine>
#include <QPainter>

#include <gtest/gtest.h>

using namespace orrery;
using editortest::channelDistance;
using editortest::inkBox;
using editortest::themeColor;
using graphtest::idea;

namespace {

// The content rectangle around a point, at zoom 1.
QRectF square(const QPointF& c, double half) { return QRectF(c.x() - half, c.y() - half, 2 * half, 2 * half); }

QImage tile(const GraphTileFactory& factory, const QRectF& region, double zoom) {
  return factory.createTile(region, QSize(static_cast<int>(region.width() * zoom), static_cast<int>(region.height() * zoom)));
}

int differingPixels(const QImage& a, const QImage& b, int threshold) {
  int count = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x)
      if (channelDistance(a.pixelColor(x, y), b.pixelColor(x, y)) > threshold) ++count;
  return count;
}

IdeaPtr coloured(const QString& id, bool bright = false) {
  IdeaPtr i = idea(id);
  i->setColor(themeColor(bright));
  return i;
}

// A paint device that only keeps the text a drawing sets.
class TextCountingEngine : public QPaintEngine {
 public:
  TextCountingEngine() : QPaintEngine(QPaintEngine::AllFeatures) {}
  bool begin(QPaintDevice*) override { return true; }
  bool end() override { return true; }
  void updateState(const QPaintEngineState&) override {}
  void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
  void drawImage(const QRectF&, const QImage&, const QRectF&, Qt::ImageConversionFlags) override {}
  void drawPath(const QPainterPath&) override {}
  void drawPolygon(const QPointF*, int, PolygonDrawMode) override {}
  void drawTextItem(const QPointF&, const QTextItem& item) override {
    ++texts;
    words += item.text().split(QLatin1Char(' '), Qt::SkipEmptyParts);
  }
  Type type() const override { return QPaintEngine::User; }
  int texts = 0;
  QStringList words;
};

class TextCountingDevice : public QPaintDevice {
 public:
  QPaintEngine* paintEngine() const override { return &engine; }
  int metric(PaintDeviceMetric m) const override {
    switch (m) {
      case PdmWidth: case PdmHeight: return 4000;
      case PdmWidthMM: case PdmHeightMM: return 1000;
      case PdmDpiX: case PdmDpiY: case PdmPhysicalDpiX: case PdmPhysicalDpiY: return 96;
      case PdmDepth: return 32;
      case PdmDevicePixelRatio: return 1;
      case PdmDevicePixelRatioScaled: return static_cast<int>(devicePixelRatioFScale());
      default: return 1;
    }
  }
  mutable TextCountingEngine engine;
};

}  // namespace

TEST(GraphTileFactory, LoneRootDrawsItsRingAndDisc) {
  GraphTileFactory factory(coloured(QStringLiteral("root")), nullptr, /*centerToRoot=*/false);
  EXPECT_EQ(factory.contentSize(), QSizeF(896, 896));
  const QPointF root = factory.locationOfIdeaIndex(0);
  EXPECT_EQ(root, QPointF(448, 448));
  const QImage image = tile(factory, square(root, 300), 1);
  EXPECT_GT(image.pixelColor(300 + 280, 300).alpha(), 60) << "the ring of radius 280";
  EXPECT_GT(image.pixelColor(300, 300 - 280).alpha(), 60);
  EXPECT_EQ(image.pixelColor(300 + 200, 300).alpha(), 0) << "between disc and ring";
  const QRect disc = inkBox(image.copy(QRect(300 - 150, 300 - 150, 300, 300)));
  EXPECT_NEAR(disc.width(), 2 * 76, 8) << "the root's disc of radius 76";
  // At half zoom everything halves.
  const QImage half = tile(factory, square(root, 300), 0.5);
  EXPECT_GT(half.pixelColor(150 + 140, 150).alpha(), 20);
}

TEST(GraphTileFactory, CullsPlanetsByRectangleButDrawsTheirLines) {
  IdeaPtr root = coloured(QStringLiteral("root"));
  root->addIdea(coloured(QStringLiteral("a")));
  root->addIdea(coloured(QStringLiteral("b")));
  GraphTileFactory factory(root, nullptr, false);
  const QPointF a = factory.locationOfIdeaIndex(1);
  // Regions whose right edge is exactly at, then just short of, the left edge of a's square.
  const double left = a.x() - 1.25 * 56;
  auto inkRightOf = [&](double edge) {
    const QRectF region(edge - 200, a.y() - 100, 200, 200);
    QImage canvas(600, 200, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    painter.translate(-region.x(), -region.y());  // no clip: a drawn planet shows beyond the region
    factory.drawTile(region, 1, painter);
    painter.end();
    return inkBox(canvas.copy(QRect(200, 0, 400, 200)));
  };
  EXPECT_FALSE(inkRightOf(left).isEmpty()) << "a square touching the border is drawn";
  EXPECT_TRUE(inkRightOf(left - 1).isEmpty()) << "one point away it is not";
  // The first ring passes through a's centre: a region on the ring but far from every planet
  // still shows the line.
  const QPointF onRing = factory.locationOfIdeaIndex(0) + QPointF(0, 168);
  EXPECT_GT(inkBox(tile(factory, square(onRing, 20), 1)).height(), 0);
}

TEST(GraphTileFactory, FilterFadesRejectedIdeasRootIncluded) {
  IdeaPtr root = coloured(QStringLiteral("root"), true);
  root->addIdea(coloured(QStringLiteral("child"), true));
  GraphTileFactory plain(root, nullptr, false);
  GraphTileFactory none(root, [](const IdeaSnapshotNode&) { return false; }, false);
  GraphTileFactory onlyChild(root, [](const IdeaSnapshotNode& i) { return i.identifier == QStringLiteral("child"); }, false);
  const QRectF region(QPointF(0, 0), plain.contentSize());
  const QImage clear = tile(plain, region, 0.5), faded = tile(none, region, 0.5), mixed = tile(onlyChild, region, 0.5);
  auto at = [&](const QImage& image, std::int32_t index) {
    const QPointF p = plain.locationOfIdeaIndex(index) * 0.5;
    return image.pixelColor(static_cast<int>(p.x()), static_cast<int>(p.y()) + 10);
  };
  EXPECT_GT(channelDistance(at(clear, 0), at(faded, 0)), 40) << "the root fades too";
  EXPECT_GT(channelDistance(at(clear, 1), at(faded, 1)), 40);
  EXPECT_EQ(at(clear, 1), at(mixed, 1)) << "an accepted idea stays as it is";
  EXPECT_EQ(at(faded, 0), at(mixed, 0));
}

TEST(GraphTileFactory, TitlesAppearFromZoomFiveHundredths) {
  IdeaPtr root = coloured(QStringLiteral("root"));
  root->addIdea(coloured(QStringLiteral("child")));
  GraphTileFactory factory(root, nullptr, false);
  const QRectF region(QPointF(0, 0), factory.contentSize());
  auto texts = [&](double zoom) {
    TextCountingDevice device;
    QPainter painter(&device);
    factory.drawTile(region, zoom, painter);
    painter.end();
    return device.engine.texts;
  };
  EXPECT_GT(texts(1), 0);
  // The threshold is the single-precision 0.05, a hair above the double 0.05.
  EXPECT_GT(texts(static_cast<double>(0.05f)), 0) << "titles from a float zoom of 0.05 on";
  EXPECT_EQ(texts(0.05), 0) << "bare discs below";
}

TEST(GraphTileFactory, TitlesBreakAtWordBoundariesWhateverTheirRuns) {
  IdeaPtr root = coloured(QStringLiteral("root"));
  root->setText(QStringLiteral("Keys"));
  QString key(25000, QLatin1Char('k'));
  for (qsizetype i = 0; i < key.size(); ++i) key[i] = QLatin1Char("abcdefghijklmnopqrstuvwxyzABCDEF0123456789"[i % 42]);
  IdeaPtr child = coloured(QStringLiteral("child"));
  child->setText(QStringLiteral("API key for staging: ") + key);
  root->addIdea(child);
  GraphTileFactory factory(root, nullptr, false);
  TextCountingDevice device;
  QPainter painter(&device);
  factory.drawTile(QRectF(QPointF(0, 0), factory.contentSize()), 1, painter);
  painter.end();
  const QStringList& words = device.engine.words;
  for (const char* word : {"Keys", "API", "key", "for", "staging:"})
    EXPECT_TRUE(words.contains(QLatin1String(word))) << word << " in " << words.join(QLatin1Char('|')).left(300).toStdString();
  const qsizetype at = words.indexOf(QStringLiteral("staging:"));
  ASSERT_TRUE(at >= 0 && at + 1 < words.size());
  EXPECT_TRUE(key.startsWith(words[at + 1])) << "the key follows, broken within itself";
}

TEST(GraphTileFactory, NoteStylesShowIndicatorsOrNumbers) {
  IdeaPtr root = coloured(QStringLiteral("root"));
  for (const char* id : {"a", "b"}) {
    IdeaPtr child = coloured(QString::fromLatin1(id));
    child->setText(QStringLiteral("same"));
    child->setNote(QStringLiteral("a note"));
    root->addIdea(child);
  }
  GraphTileFactory factory(root, nullptr, false);
  // The badge's corner of each planet (drawn at zoom 2 into its own 280-pixel square).
  PlanetDrawer badge(5);
  badge.setScale(2);
  badge.setNoteNumber(1);
  const QRect badgeArea = badge.noteRect().adjusted(-12, -4, 12, 4).toAlignedRect();
  auto planet = [&](std::uint64_t style, std::int32_t index) {
    factory.setNoteStyle(style);
    return tile(factory, square(factory.locationOfIdeaIndex(index), 70), 2).copy(badgeArea);
  };
  EXPECT_GT(differingPixels(planet(0, 1), planet(1, 1), 30), 10) << "style 1 adds a marker";
  EXPECT_EQ(differingPixels(planet(1, 1), planet(1, 2), 30), 0) << "the marker carries no number";
  EXPECT_GT(differingPixels(planet(2, 1), planet(2, 2), 30), 5) << "style 2 numbers 001 and 002";
  EXPECT_GT(differingPixels(planet(2, 1), planet(1, 1), 30), 5);
  factory.setNoteStyle(1);
  const QPointF a = factory.locationOfIdeaIndex(1);
  bool anyNoteHit = false;
  for (double dx = -70; dx <= 70; dx += 2)
    for (double dy = -70; dy <= 70; dy += 2) anyNoteHit |= factory.noteAtPoint(a + QPointF(dx, dy));
  EXPECT_TRUE(anyNoteHit);
  EXPECT_FALSE(factory.noteAtPoint(factory.locationOfIdeaIndex(0))) << "the root has no note";
}

TEST(GraphTileFactory, HitsReachSeventySixForTheRootAndFiftySixElsewhere) {
  IdeaPtr root = idea(QStringLiteral("root"));
  IdeaPtr a = idea(QStringLiteral("a"));
  root->addIdea(a);
  root->addIdea(idea(QStringLiteral("b")));
  root->addIdea(idea(QStringLiteral("c")));
  GraphTileFactory factory(root, nullptr, false);
  const QPointF r = factory.locationOfIdeaIndex(0), pa = factory.locationOfIdeaIndex(1);
  const QPointF outward = (pa - r) / std::hypot(pa.x() - r.x(), pa.y() - r.y());
  EXPECT_EQ(factory.ideaAtPoint(r - outward * 60), root);
  EXPECT_EQ(factory.ideaAtPoint(pa + outward * 60), nullptr);
  EXPECT_EQ(factory.ideaAtPoint(pa + outward * 50), a);
  // The root's reach and a's overlap half-way along the 168-point spoke: the root wins.
  EXPECT_EQ(factory.ideaAtPoint(r + outward * 70), root);
  EXPECT_EQ(factory.ideaAtPoint(r + outward * 120), a);
  EXPECT_EQ(factory.ideaLocation(idea(QStringLiteral("a"))), QPointF(0, 0)) << "an idea not in the graph";
  EXPECT_EQ(factory.ideaLocation(a), pa);
}

TEST(GraphTileFactory, DuplicateIdentifiersAreFoundAsThemselves) {
  IdeaPtr root = idea(QStringLiteral("root"));
  IdeaPtr first = idea(QStringLiteral("twin")), second = idea(QStringLiteral("twin"));
  root->addIdea(first);
  root->addIdea(second);
  GraphTileFactory factory(root, nullptr, false);
  EXPECT_NE(factory.ideaLocation(first), factory.ideaLocation(second));
  EXPECT_EQ(factory.ideaAtPoint(factory.ideaLocation(second)), second);
}

TEST(GraphTileFactory, StitchedTilesEqualTheWhole) {
  IdeaPtr root = graphtest::randomTree(300, 11);
  int i = 0;
  root->traverseNaturally([&](const IdeaPtr& each, qint64) { if (i++ % 3 == 0) each->setColor(themeColor(i % 2)); }, 0);
  GraphTileFactory factory(root, nullptr, false);
  const double zoom = 0.125;
  const QRectF whole(QPointF(0, 0), factory.contentSize());
  const int side = 256;  // pixels of one tile
  const double span = side / zoom;
  const int cols = static_cast<int>(std::ceil(whole.width() / span)), rows = static_cast<int>(std::ceil(whole.height() / span));
  QImage stitched(cols * side, rows * side, QImage::Format_ARGB32_Premultiplied);
  stitched.fill(Qt::transparent);
  {
    QPainter painter(&stitched);
    for (int r = 0; r < rows; ++r)
      for (int c = 0; c < cols; ++c)
        painter.drawImage(c * side, r * side, factory.createTile(QRectF(c * span, r * span, span, span), QSize(side, side)));
  }
  const QImage one = factory.createTile(QRectF(0, 0, cols * span, rows * span), stitched.size());
  ASSERT_EQ(one.size(), stitched.size());
  EXPECT_LE(differingPixels(one, stitched, 24), stitched.width() * stitched.height() / 2000)
      << "tiles draw what the whole draws";
  EXPECT_GT(inkBox(one).width(), stitched.width() / 2);
}

TEST(GraphTileFactory, TilesKeepTheSnapshotWhileTheTreeChanges) {
  IdeaPtr root = coloured(QStringLiteral("root"));
  IdeaPtr child = coloured(QStringLiteral("child"));
  root->addIdea(child);
  GraphTileFactory factory(root, nullptr, false);
  const QRectF region(QPointF(0, 0), factory.contentSize());
  const QImage before = tile(factory, region, 0.5);
  root->setColor(themeColor(true));
  root->removeIdea(QStringLiteral("child"));
  const QPointF where = factory.locationOfIdeaIndex(1);
  child.reset();
  EXPECT_EQ(differingPixels(before, tile(factory, region, 0.5), 0), 0);
  EXPECT_EQ(factory.ideaAtPoint(where), nullptr) << "a gone idea is not answered";
  EXPECT_EQ(factory.ideaIndexAtPoint(where), 1);
}
