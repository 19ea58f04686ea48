#include "editor/planet_layer.h"
#include "editor_test_support.h"
#include "foundation/log_capture.h"
#include "model/color_theme.h"
#include "platform/core/notification_center.h"
#include "platform/ui/compositor.h"

#include <gtest/gtest.h>

using namespace orrery;

namespace {

// A radial view's planets: layers filled from ideas, drawn once.
struct Orbit {
  std::vector<IdeaPtr> ideas;
  std::vector<std::shared_ptr<PlanetLayer>> planets;

  explicit Orbit(int count) {
    const ColorPtr colour = editortest::themeColor(false);
    for (int i = 0; i < count; ++i) {
      auto idea = Idea::createWithText(QStringLiteral("Idea %1").arg(i));
      idea->setColor(colour);
      ideas.push_back(idea);
      auto layer = std::make_shared<PlanetLayer>(0);
      layer->updateWithIdea(idea, QStringLiteral("doc"));
      planets.push_back(layer);
    }
    display();
  }
  void refresh() {
    for (size_t i = 0; i < ideas.size(); ++i) planets[i]->updateWithIdea(ideas[i], QStringLiteral("doc"));
  }
  void display() {
    for (auto& p : planets) p->displayIfNeeded();
  }
  std::vector<int> counts() const {
    std::vector<int> c;
    for (const auto& p : planets) c.push_back(p->displayCount());
    return c;
  }
};

}  // namespace

TEST(PlanetLayer, SetRadiusScalesTheDrawerAndPlacesTheFrameAtTheOrigin) {
  PlanetLayer layer(0);
  EXPECT_EQ(layer.frame(), QRectF(0, 0, 140, 140));
  layer.setFrame(QRectF(30, 40, 140, 140));
  layer.setRadius(28);
  EXPECT_DOUBLE_EQ(layer.scale(), 0.5);
  EXPECT_EQ(layer.frame(), QRectF(0, 0, 70, 70));
  EXPECT_FLOAT_EQ(layer.radius(), 28);

  layer.displayIfNeeded();
  const int drawn = layer.displayCount();
  layer.setScale(0.5);
  EXPECT_FALSE(layer.needsDisplay()) << "the same scale changes nothing";
  layer.setScale(1.0);
  EXPECT_TRUE(layer.needsDisplay());
  EXPECT_EQ(layer.frame(), QRectF(0, 0, 70, 70)) << "setScale leaves the frame";
  layer.resizeToScale();
  EXPECT_EQ(layer.frame(), QRectF(0, 0, 140, 140));
  layer.displayIfNeeded();
  EXPECT_EQ(layer.displayCount(), drawn + 1);
}

TEST(PlanetLayer, PictureIdeaShowsThePictureWithItsWebLinkBadge) {
  QImage picture(64, 64, QImage::Format_ARGB32_Premultiplied);
  picture.fill(Qt::red);
  auto idea = Idea::createWithURL(QStringLiteral("https://example.org"), KitImage(picture));
  idea->setColor(editortest::themeColor(false));
  idea->addIdea(Idea::createWithText(QStringLiteral("child")));
  PlanetLayer layer(0);
  layer.updateWithIdea(idea, QStringLiteral("doc-1"));
  EXPECT_FALSE(layer.image().isNull());
  EXPECT_EQ(layer.baseColor(), nullptr) << "the picture, set after the colour, drops it";
  EXPECT_TRUE(layer.showWebLink());
  EXPECT_TRUE(layer.showOrbit());
  EXPECT_EQ(layer.ideaIdentifier(), idea->identifier());
  EXPECT_EQ(layer.docIdentifier(), QStringLiteral("doc-1"));
  const QImage image = platform::compositor::renderToImage(layer);
  const QColor shown = image.pixelColor(70, 80);
  EXPECT_GT(shown.red(), 120);
  EXPECT_LT(shown.green(), shown.red() / 2) << "the picture, not a colour";
}

TEST(PlanetLayer, NoteBadgeFollowsTheNoteAndItsHitArea) {
  PlanetLayer layer(0);
  layer.setNote(QStringLiteral("remember"));
  EXPECT_TRUE(layer.showNote());
  const QRectF note = layer.planetDrawer()->noteRect();
  EXPECT_TRUE(layer.hitsNote(note.center()));
  layer.setNote(QString());
  EXPECT_FALSE(layer.showNote());
  EXPECT_FALSE(layer.hitsNote(note.center()));
  for (int y = 0; y < 140; y += 5)
    for (int x = 0; x < 140; x += 5) ASSERT_FALSE(layer.hitsNote(QPointF(x, y)));
}

TEST(PlanetLayer, ShadowModeHalvesTheOpacityOnce) {
  PlanetLayer layer(0);
  layer.setShadowMode(true);
  EXPECT_DOUBLE_EQ(layer.opacity(), 0.5);
  layer.setOpacity(0.8);
  layer.setShadowMode(true);
  EXPECT_DOUBLE_EQ(layer.opacity(), 0.8) << "the same value does nothing";
  layer.setShadowMode(false);
  EXPECT_DOUBLE_EQ(layer.opacity(), 1.0);
}

TEST(PlanetLayer, DragCopyStartsAsAnOrbitPlanetAtScaleOne) {
  auto idea = Idea::createWithText(QStringLiteral("Title"));
  idea->setColor(editortest::themeColor(true));
  idea->setNote(QStringLiteral("n"));
  idea->addIdea(Idea::createWithText(QStringLiteral("child")));
  PlanetLayer sun(1);
  sun.setScale(0.75);
  sun.updateWithIdea(idea, QStringLiteral("doc"));
  sun.setIsLink(true);
  const auto copy = sun.copyForDragging();
  EXPECT_EQ(copy->planetType(), 0u);
  EXPECT_DOUBLE_EQ(copy->scale(), 1.0);
  EXPECT_EQ(copy->frame(), QRectF(0, 0, 140, 140));
  EXPECT_DOUBLE_EQ(copy->zPosition(), 1.0);
  EXPECT_EQ(copy->baseColor(), idea->color());
  EXPECT_EQ(copy->note(), QStringLiteral("n"));
  EXPECT_TRUE(copy->showOrbit());
  EXPECT_TRUE(copy->isLink());
  EXPECT_EQ(copy->ideaIdentifier(), idea->identifier());
  EXPECT_EQ(copy->docIdentifier(), QStringLiteral("doc"));
}

TEST(PlanetLayer, ASecondPlanetTypeIsRefused) {
  LogCapture log;
  PlanetLayer layer(2);
  PlanetDrawer* drawer = layer.planetDrawer();
  layer.setPlanetType(6);
  EXPECT_EQ(layer.planetType(), 2u);
  EXPECT_EQ(layer.planetDrawer(), drawer);
  ASSERT_EQ(log.lines().size(), 1);
  EXPECT_TRUE(log.lines()[0].contains("-[PlanetLayer setPlanetType:]"));

  PlanetLayer bare;
  EXPECT_EQ(bare.planetDrawer(), nullptr);
  bare.setText(QStringLiteral("ignored"));
  bare.displayIfNeeded();
  EXPECT_FALSE(bare.hitsNote(QPointF(10, 10)));
}

TEST(PlanetLayer, UpdateWithoutIdeaLogsAndClearsTheDisc) {
  QImage picture(8, 8, QImage::Format_ARGB32_Premultiplied);
  picture.fill(Qt::red);
  auto idea = Idea::createWithURL(QStringLiteral("https://example.org"), KitImage(picture));
  idea->setNote(QStringLiteral("note"));
  PlanetLayer layer(0);
  layer.updateWithIdea(idea, QStringLiteral("doc"));
  LogCapture log;
  layer.updateWithIdea(nullptr, QStringLiteral("doc"));
  ASSERT_EQ(log.lines().size(), 1);
  EXPECT_TRUE(log.lines()[0].startsWith("ERROR: Assertion failure, line: "));
  EXPECT_TRUE(layer.image().isNull());
  EXPECT_EQ(layer.baseColor(), nullptr);
  EXPECT_TRUE(layer.text().isNull());
  EXPECT_FALSE(layer.showNote());
  EXPECT_FALSE(layer.showWebLink());
  EXPECT_TRUE(layer.ideaIdentifier().isEmpty());
  const QImage image = platform::compositor::renderToImage(layer);
  EXPECT_LT(editortest::channelDistance(image.pixelColor(70, 70), Globals::colorLightGray()), 6)
      << "a cleared disc is light grey";
}

TEST(PlanetLayerRedraw, AnUnchangedRefreshRedrawsNothing) {
  Orbit orbit(5);
  const auto before = orbit.counts();
  orbit.refresh();
  for (const auto& p : orbit.planets) EXPECT_FALSE(p->needsDisplay());
  orbit.display();
  EXPECT_EQ(orbit.counts(), before);

  // A picture idea given again (a new KitImage of the same bitmap) is no change either.
  QImage picture(16, 16, QImage::Format_ARGB32_Premultiplied);
  picture.fill(Qt::green);
  auto pictureIdea = Idea::createWithOriginalImage(KitImage(picture));
  PlanetLayer layer(0);
  layer.updateWithIdea(pictureIdea, "doc");
  layer.displayIfNeeded();
  layer.updateWithIdea(pictureIdea, "doc");
  EXPECT_FALSE(layer.needsDisplay());
}

TEST(PlanetLayerRedraw, OneChangedFieldRedrawsThatDiscOnly) {
  Orbit orbit(4);
  const ColorPtr other = editortest::themeColor(true);
  auto icon = std::make_shared<IconImage>("star", "nature", QStringLiteral("★"));
  using Change = std::function<void(Idea&)>;
  const Change changes[] = {
      [](Idea& i) { i.setText(QStringLiteral("renamed")); },
      [&](Idea& i) { i.setColor(other); },
      [&](Idea& i) { i.setIconImage(icon); },
      [](Idea& i) { i.setNote(QStringLiteral("a note")); },
      [](Idea& i) { i.addIdea(Idea::createWithText(QStringLiteral("child"))); },
  };
  int index = 0;
  for (const Change& change : changes) {
    const size_t which = static_cast<size_t>(index++ % 4);
    const auto before = orbit.counts();
    change(*orbit.ideas[which]);
    orbit.refresh();
    orbit.display();
    auto expected = before;
    ++expected[which];
    EXPECT_EQ(orbit.counts(), expected) << "change " << index;
  }
  // The flags the caller sets: link and sub-ideas markers, font size and text colour.
  const auto before = orbit.counts();
  orbit.planets[0]->setIsLink(true);
  orbit.planets[1]->setFontSize(30);
  orbit.planets[2]->setTextColor(Qt::black);
  orbit.planets[3]->setApproximateRendering(true);
  orbit.display();
  EXPECT_EQ(orbit.counts(), (std::vector<int>{before[0] + 1, before[1] + 1, before[2] + 1, before[3]}));
}

TEST(PlanetLayerRedraw, AnAppearanceChangeRedrawsEveryDisc) {
  editortest::AppearanceScope restore;
  Orbit orbit(3);
  const auto before = orbit.counts();
  Globals::changeFontSizeFactor(Globals::fontSizeFactor() == 7 ? 3 : 7);
  for (auto& p : orbit.planets) p->updateAppearance();
  orbit.display();
  for (size_t i = 0; i < before.size(); ++i) EXPECT_EQ(orbit.counts()[i], before[i] + 1);
  for (auto& p : orbit.planets) p->updateAppearance();
  orbit.display();
  for (size_t i = 0; i < before.size(); ++i) EXPECT_EQ(orbit.counts()[i], before[i] + 1) << "nothing new";
}
