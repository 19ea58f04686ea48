#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <algorithm>
#include <cmath>

#include "editor_test_support.h"
#include "foundation/kit_image.h"
#include "foundation/views/view_extensions.h"
#include "solar_test_support.h"
#include "solid_image.h"

using namespace orrery;
using namespace solartest;

namespace {

using testsupport::solid;

}  // namespace

// What a user sees of a whole radial view: the parent in the corner with its dashed link
// line, the sun, coloured planets, a picture planet and note badges. The picture is kept
// beside the test binary for a look by eye.
TEST(RadialPixels, AWholeScreenShowsDiscsWhereTheLayoutPutsThem) {
  Scene s(QSizeF(1440, 900));
  auto parent = idea(QStringLiteral("Parent"), 2);
  auto shown = idea(QString(), 5);
  parent->addIdea(shown);
  s.view->setParentIdea(parent, /*asLink=*/true);
  s.view->startUpdate();
  s.view->setCentralIdea(shown);
  std::vector<IdeaPtr> children;
  for (int i = 0; i < 7; ++i) {
    IdeaPtr child = i == 4 ? Idea::createWithOriginalImage(KitImage(solid(300, 300, QColor(20, 200, 40))))
                           : idea(QString(), 10 + i);
    if (i % 3 == 0) child->setNote(QStringLiteral("note %1").arg(i));
    shown->addIdea(child);
    children.push_back(child);
    s.view->addIdea(child);
  }
  s.view->endUpdate();
  s.view->applyLayout();
  const QImage picture = s.window().snapshot();
  const QString path =
      QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("radial_view_1440x900.png"));
  EXPECT_TRUE(picture.save(path));

  const QPointF sun = viewext::center(*s.view->centralView());
  EXPECT_EQ(sun, QPointF(720, 450));
  EXPECT_LE(editortest::channelDistance(picture.pixelColor(sun.toPoint()), shown->color()->uiColor()), 24);
  for (int i = 0; i < 7; ++i) {
    const QPoint c = s.planetCenter(i).toPoint();
    const QColor seen = picture.pixelColor(c);
    if (i == 4) {
      EXPECT_TRUE(seen.green() > seen.red() + 80 && seen.green() > seen.blue() + 80) << "the green picture planet";
    } else {
      EXPECT_LE(editortest::channelDistance(seen, children[static_cast<size_t>(i)]->color()->uiColor()), 24)
          << "planet " << i << " at " << c.x() << "," << c.y();
    }
  }
  // The ring: light grey pixels on the orbit away from discs and adders.
  const double r = s.view->radius();
  const float gapAngle = s.view->currentAngleForAdderAtIndex(0) + 0.12f;
  const QPoint onRing = (sun + QPointF(r * std::cos(gapAngle), r * std::sin(gapAngle))).toPoint();
  bool ringInk = false;
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx) ringInk |= picture.pixelColor(onRing + QPoint(dx, dy)).lightness() < 250;
  EXPECT_TRUE(ringInk) << "the orbit ring is drawn";
  // The parent's artwork shows in the corner; the dashed line runs toward the sun.
  EXPECT_LE(editortest::channelDistance(picture.pixelColor(60, 60), parent->color()->uiColor()), 60);
  int lineInk = 0;
  for (int k = 150; k < 500; ++k) {
    const QPointF p = sun * (k / 720.0);
    if (picture.pixelColor(p.toPoint()).lightness() < 245) ++lineInk;
  }
  EXPECT_GT(lineInk, 20) << "the connector line";
  EXPECT_LT(lineInk, 340) << "dashed, not solid";
  // Note badges of planets 0, 3 and 6 are drawn inside their discs: the pixel there differs
  // from the plain colour.
  PlanetLayer* withNote = s.view->ideaViewAtIndex(3);
  const QPointF badge = withNote->frame().topLeft() + withNote->planetDrawer()->noteRect().center();
  EXPECT_GT(editortest::channelDistance(picture.pixelColor(badge.toPoint()), children[3]->color()->uiColor()), 40);
}

// The radial view stands below the top bar: the parent disc in its corner, whose centre lies
// beyond it, and planets carried far out are cut at the view's edges.
TEST(RadialPixels, NothingIsDrawnOutsideTheView) {
  Scene s(QSizeF(1000, 800));
  s.view->setFrame(QRectF(0, 60, 1000, 740));
  s.fill(9, /*withParent=*/true);
  s.view->setCurrentAngle(0.3f);
  s.view->updateView();
  // A planet carried past the top edge, as a drill frame can.
  s.view->ideaViewAtIndex(0)->setPosition(QPointF(500, -20));
  s.window().displayIfNeeded();
  const QImage with = s.window().snapshot();
  s.view->setHidden(true);
  s.window().displayIfNeeded();
  const QImage without = s.window().snapshot();
  s.view->setHidden(false);
  const double k = with.width() / 1000.0;
  int above = 0, inside = 0;
  for (int y = 0; y < with.height(); ++y)
    for (int x = 0; x < with.width(); ++x) {
      if (with.pixel(x, y) == without.pixel(x, y)) continue;
      (y < 60 * k ? above : inside) += 1;
    }
  EXPECT_EQ(above, 0) << "pixels drawn over the top bar's place";
  EXPECT_GT(inside, 1000) << "the view drew its discs";
  EXPECT_NE(with.pixel(QPoint(10, 70) * k), without.pixel(QPoint(10, 70) * k)) << "the parent disc in the corner";
  EXPECT_NE(with.pixel(QPoint(500, 62) * k), without.pixel(QPoint(500, 62) * k)) << "the planet's lower half";
}

// A crowded orbit piles its planets up before the ring's turn. Those wholly under a disc at the
// same place are left out of the picture and keep none of their own: the pile shows the same
// discs as when every planet is drawn, differing only on the rims of the discs on top, where
// the hidden discs' soft rims no longer show through.
TEST(RadialPixels, APileShowsTheDiscsOnTopAsWhenEveryPlanetIsDrawn) {
  Scene s(QSizeF(1000, 800));
  s.fill(3000);
  s.window().displayIfNeeded();
  const QImage shown = s.window().snapshot();
  std::vector<QPointF> rims;
  for (std::int64_t i = 0; i < s.view->ideaViewCount(); ++i) {
    PlanetLayer* planet = s.view->ideaViewAtIndex(i);
    if (planet->isCovered())
      EXPECT_TRUE(planet->contents().isNull()) << "covered planet " << i << " keeps a picture";
    else
      rims.push_back(planet->position());
    planet->setCovered(false);
  }
  EXPECT_LT(rims.size(), 100u) << "planets drawn of 3000";
  s.window().displayIfNeeded();
  const QImage all = s.window().snapshot();
  const double k = all.width() / 1000.0;
  const double r = s.view->ideaViewAtIndex(0)->radius();
  int elsewhere = 0;
  for (int y = 0; y < all.height(); ++y)
    for (int x = 0; x < all.width(); ++x) {
      if (shown.pixel(x, y) == all.pixel(x, y)) continue;
      const QPointF p(x / k, y / k);
      const bool onRim = std::any_of(rims.begin(), rims.end(), [&](const QPointF& c) {
        return std::abs(std::hypot(p.x() - c.x(), p.y() - c.y()) - r) < 2.5;
      });
      elsewhere += !onRim;
    }
  EXPECT_EQ(elsewhere, 0) << "pixels that differ away from the rims of the discs on top";
}
