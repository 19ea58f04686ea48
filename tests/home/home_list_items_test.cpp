#include "editor/simple_idea_view.h"
#include "foundation/views/view_extensions.h"
#include "home/home_list_items.h"
#include "home_test_support.h"
#include "platform/ui/event.h"
#include "support/virtual_main_queue.h"

#include <QPainter>

#include <gtest/gtest.h>

using namespace orrery;
using hometest::proxy;

namespace {

struct CountingDelegate : BigAdderForIPadDelegate {
  int creates = 0;
  void pleaseCreateNewIdea() override { ++creates; }
};

platform::Event mouse(platform::EventType type) { return platform::Event::mouse(type, QPointF(93, 93)); }

}  // namespace

TEST(HomeItems, DockingScalesTheDiscByFocusAndShowsTheMarker) {
  NormalIdeaListItemForIPad item;
  item.setIdeaProxy(proxy("doc-1", QStringLiteral("A"), 4));
  EXPECT_EQ(item.key(), QStringLiteral("doc-1"));
  EXPECT_TRUE(item.smallDock().isHidden());
  const QPointF centre = viewext::center(item.ideaView());
  EXPECT_NEAR(centre.x(), 125, 0.5);
  EXPECT_NEAR(centre.y(), 125, 0.5);

  item.updateDockingMode(true, 1.0f);
  EXPECT_FALSE(item.smallDock().isHidden());
  EXPECT_NEAR(item.ideaView().layer()->transform().m11(), 0.85, 1e-6);
  EXPECT_EQ(viewext::center(item.smallDock()), QPointF(16, 125));
  EXPECT_EQ(viewext::center(item.ideaView()), centre) << "scaled about its centre";
  item.setFocusStrength(0.5f);
  EXPECT_NEAR(item.ideaView().layer()->transform().m11(), 0.8, 1e-6);

  item.setDockingMode(false);
  EXPECT_TRUE(item.smallDock().isHidden());
  EXPECT_FLOAT_EQ(item.focusStrength(), 0.0f);
  EXPECT_NEAR(item.ideaView().layer()->transform().m11(), 1.0, 1e-6);
}

TEST(HomeItems, OnlyTheDiscTakesClicks) {
  NormalIdeaListItemForIPad item;
  item.setFrame(QRectF(100, 100, 250, 250));
  EXPECT_EQ(item.hitTest(QPointF(225, 225)), &item.ideaView());
  EXPECT_EQ(item.hitTest(QPointF(225 + 92, 225)), &item.ideaView());
  EXPECT_EQ(item.hitTest(QPointF(225 + 94, 225)), nullptr);
  EXPECT_EQ(item.hitTest(QPointF(105, 105)), nullptr) << "the corner";
  item.setDockingMode(true);
  EXPECT_EQ(item.hitTest(QPointF(116, 225)), nullptr) << "the dock marker";
}

TEST(HomeItems, AddButtonAsksOncePerReleaseAndThePressedLookFollowsTheLastRelease) {
  telemetry::test::VirtualMainQueue queue;
  auto adder = std::make_shared<BigAdderView>();
  CountingDelegate delegate;
  adder->setDelegate(&delegate);
  EXPECT_EQ(adder->frame().size(), QSizeF(186, 186));

  adder->mouseDown(mouse(platform::EventType::LeftMouseDown));
  EXPECT_TRUE(adder->adderLayer().pressed());
  adder->mouseUp(mouse(platform::EventType::LeftMouseUp));
  EXPECT_EQ(delegate.creates, 1) << "at once";
  queue.loop->advance(0.05);
  adder->mouseDown(mouse(platform::EventType::LeftMouseDown));
  adder->mouseUp(mouse(platform::EventType::LeftMouseUp));
  EXPECT_EQ(delegate.creates, 2);
  queue.loop->advance(0.07);
  EXPECT_TRUE(adder->adderLayer().pressed()) << "the first release's step does not end the look";
  queue.loop->advance(0.04);
  EXPECT_FALSE(adder->adderLayer().pressed());

  adder->setUserInteractionEnabled(false);
  adder->mouseDown(mouse(platform::EventType::LeftMouseDown));
  adder->mouseUp(mouse(platform::EventType::LeftMouseUp));
  EXPECT_EQ(delegate.creates, 2);
  EXPECT_FALSE(adder->adderLayer().pressed());

  adder->mouseDown(mouse(platform::EventType::LeftMouseDown));
  adder.reset();
  queue.loop->advance(0.2);  // a late step for a gone button does nothing
}

// A picture drawn larger than it was made smears its edges over several pixels.
TEST(HomeItems, TheAddButtonIsSharpAtItsSizeOnEveryScreenScale) {
  for (const bool pressed : {false, true}) {
    for (const double scale : {1.0, 2.0}) {
      BigAdderView adder;
      adder.adderLayer().setPressed(pressed);
      const int side = int(186 * scale);
      QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
      image.fill(Qt::transparent);
      QPainter painter(&image);
      painter.scale(scale, scale);
      adder.adderLayer().drawInContext(painter);
      painter.end();
      // The ring's outer edge on the middle row: from clear to solid within two pixels.
      int soft = 0, x = 0;
      for (; x < side / 2 && qAlpha(image.pixel(x, side / 2)) < 250; ++x)
        if (qAlpha(image.pixel(x, side / 2)) > 5) ++soft;
      EXPECT_LT(x, side / 2) << "the ring is drawn";
      EXPECT_LE(soft, 2) << (pressed ? "pressed" : "normal") << " at " << scale << "x";
    }
  }
}

TEST(HomeItems, DragCopyShowsTheOrbitOnlyForTwoIdeasOrMore) {
  IdeaViewForIPadListItem disc;
  auto p = proxy("doc-9", QStringLiteral("Trip"), 1);
  p->setHasNote(true);
  disc.updateWithProxy(p);
  EXPECT_EQ(disc.docIdentifier(), QStringLiteral("doc-9"));
  auto copy = std::dynamic_pointer_cast<SimpleIdeaView>(disc.copyForDragging());
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->role(), 3u);
  EXPECT_FALSE(copy->showOrbit());
  EXPECT_TRUE(copy->hasNote());
  EXPECT_EQ(copy->text(), QStringLiteral("Trip"));
  EXPECT_EQ(copy->docIdentifier(), QStringLiteral("doc-9"));
  EXPECT_TRUE(copy->ideaIdentifier().isEmpty());
  p->setItemCount(2);
  p->setHasNote(false);
  disc.updateWithProxy(p);
  copy = std::dynamic_pointer_cast<SimpleIdeaView>(disc.copyForDragging());
  EXPECT_TRUE(copy->showOrbit());
  EXPECT_FALSE(copy->hasNote());

  disc.setShadowMode(true);
  EXPECT_DOUBLE_EQ(disc.homePlanetLayer().opacity(), 0.5);
  disc.setShadowMode(false);
  EXPECT_DOUBLE_EQ(disc.homePlanetLayer().opacity(), 1.0);
}
