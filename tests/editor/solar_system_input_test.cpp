#include "solar_test_support.h"

#include "foundation/views/colored_view.h"
#include "foundation/views/progress_hud.h"
#include "foundation/views/view_extensions.h"

#include <gtest/gtest.h>

#include <limits>

using namespace orrery;
using namespace solartest;
using platform::Cursor;
using platform::Event;
using platform::EventType;

namespace {

Event spaceKey(const QString& plain, uint32_t modifiers = 0) {
  Event e = Event::key(EventType::KeyDown, platform::KeyCode::Space, plain, modifiers, uitest::clock().now());
  e.charactersIgnoringModifiers = plain;
  return e;
}

// Where a planet's note badge is, in window (= view) coordinates.
QPointF noteBadge(Scene& s, std::int64_t i) {
  PlanetLayer* planet = s.view->ideaViewAtIndex(i);
  return planet->frame().topLeft() + planet->planetDrawer()->noteRect().center();
}

}  // namespace

TEST(RadialInput, AClickOnAPlanetDrillsOnce300msLater) {
  Scene s;
  auto root = s.fill(5);
  s.click(s.planetCenter(2));
  uitest::advance(0.29);
  EXPECT_TRUE(s.delegate.drills.empty()) << "waits for a possible second click";
  uitest::advance(0.02);
  ASSERT_EQ(s.delegate.drills.size(), 1u);
  EXPECT_EQ(s.delegate.drills[0], root->ideas()[2]->identifier());

  // A second tap within 300 ms (on another planet) starts no second drill.
  s.delegate.drills.clear();
  s.click(s.planetCenter(1));
  uitest::advance(0.35);  // the detector's tap window has passed: the next is a separate tap
  s.click(s.planetCenter(3));
  uitest::advance(0.1);
  s.click(s.planetCenter(4));
  uitest::advance(1.0);
  EXPECT_EQ(s.delegate.drills, (std::vector<QString>{root->ideas()[1]->identifier(), root->ideas()[3]->identifier()}));
}

TEST(RadialInput, ADoubleClickEditsWithoutDrilling) {
  Scene s;
  auto root = s.fill(4);
  s.click(s.planetCenter(1), 1);
  uitest::advance(0.05);
  s.click(s.planetCenter(1), 2);
  uitest::advance(1.0);
  EXPECT_TRUE(s.delegate.drills.empty());
  EXPECT_EQ(s.delegate.edits, std::vector<QString>{root->ideas()[1]->identifier()});
}

TEST(RadialInput, TheSunEditsTheParentDrillsUpAndAddersAskForIdeas) {
  Scene s;
  auto root = s.fill(3, /*withParent=*/true);
  s.click(viewext::center(*s.view->centralView()));
  EXPECT_EQ(s.delegate.edits, std::vector<QString>{root->identifier()});
  uitest::advance(0.5);
  s.click(QPointF(30, 30));
  EXPECT_EQ(s.delegate.drillUps, 1);
  uitest::advance(0.5);
  s.click(s.adderCenter(2));
  ASSERT_EQ(s.delegate.adds.size(), 1u) << "one click, one request";
  EXPECT_EQ(s.delegate.adds[0].index, 2);
  EXPECT_EQ(s.delegate.adds[0].rect, s.view->ideaAdderViewAtIndex(2)->frame());
  uitest::advance(1.0);
  EXPECT_TRUE(s.delegate.drills.empty());
  EXPECT_EQ(s.delegate.total(), 3u);
}

TEST(RadialInput, SpaceAsksForANewLastIdea) {
  Scene s;
  s.fill(0);
  s.window().makeFirstResponder(s.view.get());
  s.window().sendEvent(spaceKey(QStringLiteral(" ")));
  ASSERT_EQ(s.delegate.adds.size(), 1u);
  EXPECT_EQ(s.delegate.adds[0].index, -1) << "no planets: after -1";
  EXPECT_EQ(s.delegate.adds[0].rect, s.view->ideaAdderViewAtIndex(0)->frame());

  s.fill(3);
  s.window().sendEvent(spaceKey(QStringLiteral(" "), platform::ModifierFlag::Command));
  ASSERT_EQ(s.delegate.adds.size(), 2u) << "only the characters without modifiers count";
  EXPECT_EQ(s.delegate.adds[1].index, 2);
  EXPECT_EQ(s.delegate.adds[1].rect, s.view->ideaAdderViewAtIndex(2)->frame());
  s.window().sendEvent(spaceKey(QStringLiteral("  ")));
  EXPECT_EQ(s.delegate.adds.size(), 2u) << "two characters are not a space";
  EXPECT_TRUE(platform::Application::shared().sendAction(QStringLiteral("cmdAddNewElement")));
  EXPECT_EQ(s.delegate.adds.size(), 3u) << "also an action along the responder chain";
}

TEST(RadialInput, AHeldPressStartsADragWithThePressEventAndAMovedPressNothing) {
  Scene s;
  auto root = s.fill(4);
  const QPointF p = s.planetCenter(0);
  s.send(EventType::LeftMouseDown, p);
  uitest::advance(0.2);
  ASSERT_EQ(s.delegate.drags.size(), 1u);
  EXPECT_EQ(s.delegate.drags[0].identifier, root->ideas()[0]->identifier());
  EXPECT_EQ(s.delegate.drags[0].rect, s.view->ideaViewAtIndex(0)->frame());
  ASSERT_TRUE(s.delegate.drags[0].event.has_value());
  EXPECT_EQ(s.delegate.drags[0].event->type, EventType::LeftMouseDown);
  EXPECT_EQ(s.delegate.drags[0].event->locationInWindow, p);
  s.send(EventType::LeftMouseUp, p);
  uitest::advance(0.5);

  s.send(EventType::LeftMouseDown, s.planetCenter(1));
  s.send(EventType::LeftMouseDragged, s.planetCenter(1) + QPointF(1, 0));
  s.send(EventType::LeftMouseUp, s.planetCenter(1) + QPointF(1, 0));
  uitest::advance(1.0);
  EXPECT_EQ(s.delegate.total(), 1u) << "press, one-point move, release: nothing";
}

TEST(RadialInput, RightClicksAskForMenusOfIdeasOnly) {
  Scene s;
  auto root = s.fill(3, /*withParent=*/true);
  s.send(EventType::RightMouseDown, s.planetCenter(1), 1, 1);
  s.send(EventType::RightMouseDown, viewext::center(*s.view->centralView()), 1, 1);
  s.send(EventType::RightMouseDown, QPointF(20, 20), 1, 1);
  s.send(EventType::RightMouseDown, QPointF(990, 790), 1, 1);
  EXPECT_EQ(s.delegate.rightClicks, (std::vector<QString>{root->ideas()[1]->identifier(), root->identifier(),
                                                          s.parent->identifier()}));
  uitest::advance(1.0);
  EXPECT_EQ(s.delegate.total(), 3u) << "right clicks neither drill nor edit";
}

TEST(RadialInput, WithInputOffNothingIsReported) {
  Scene s;
  s.fill(3, true);
  s.click(s.planetCenter(0));  // a drill is pending when input goes off
  s.view->setUserInteractionEnabled(false);
  EXPECT_FALSE(s.view->userInteractionEnabled());
  uitest::advance(0.5);
  s.click(s.planetCenter(1));
  s.click(viewext::center(*s.view->centralView()));
  s.click(s.adderCenter(0));
  s.send(EventType::LeftMouseDown, s.planetCenter(2));
  uitest::advance(0.5);
  s.send(EventType::LeftMouseUp, s.planetCenter(2));
  uitest::advance(1.0);
  EXPECT_EQ(s.delegate.total(), 0u);
}

TEST(RadialInput, CursorsFollowWhatIsUnderThePointerUnlessAnOverlayCovers) {
  Scene s;
  s.fill(4);
  auto move = [&](QPointF p) {
    s.send(EventType::MouseMoved, p, 0);
    return s.window().currentCursor();
  };
  // The container already holds the hidden example view; a finished notice stays hidden too.
  ASSERT_TRUE(s.shown.containerView->exampleView());
  auto hud = ProgressHUD::showHUDAddedTo(*s.shown.containerView, false);
  hud->hide(false);
  uitest::advance(2.0);
  ASSERT_TRUE(hud->isHidden());
  EXPECT_EQ(move(s.planetCenter(0)), Cursor::PointingHand);
  EXPECT_EQ(move(viewext::center(*s.view->centralView()) + QPointF(0, 90)), Cursor::OpenHand) << "on the ring band";
  EXPECT_EQ(move(s.adderCenter(1)), Cursor::PointingHand);
  EXPECT_EQ(move(QPointF(5, 790)), Cursor::Arrow) << "beyond twice the orbit radius";

  auto overlay = std::make_shared<ColoredView>(QBrush(Qt::white));
  overlay->setFrame(QRectF(0, 0, 100, 100));
  s.shown.containerView->addSubview(overlay);
  EXPECT_EQ(move(s.planetCenter(0)), Cursor::Arrow) << "an overlay leaves the cursor alone";
  overlay->setHidden(true);
  EXPECT_EQ(move(s.planetCenter(0)), Cursor::PointingHand);
}

TEST(RadialInput, ResttingOnANoteBadgeOpensTheNoteAndLeavingTheWindowClosesIt) {
  Scene s;
  s.fill(0);
  auto child = idea(QStringLiteral("with note"));
  child->setNote(QStringLiteral("the note"));
  s.view->addIdea(child);
  s.view->addIdea(idea(QStringLiteral("other")));
  s.send(EventType::MouseMoved, noteBadge(s, 0), 0);
  EXPECT_EQ(s.window().currentCursor(), Cursor::ContextualMenu);
  uitest::advance(0.55);
  auto popover = s.view->noteHoverUtility().notePopover();
  ASSERT_TRUE(popover && popover->isShown());
  EXPECT_EQ(popover->shownEdge(), platform::RectEdge::MaxY);

  // A drill replaces the view: the popover must not stay behind pointing at nothing.
  s.view->removeFromSuperview();
  EXPECT_FALSE(popover->isShown());
  EXPECT_EQ(s.view->noteHoverUtility().notePopover(), nullptr);
}

TEST(RadialFocus, TheNearestTargetWithinSixtyPointsTakesTheFocus) {
  Scene s;
  s.fill(4, /*withParent=*/true);
  const QPointF adder = s.adderCenter(1);
  float d = s.view->updateFocusBasedOnPoint(adder + QPointF(60, 0), s.view.get());
  ASSERT_TRUE(s.view->currentFocusObject());
  EXPECT_NEAR(d, 60, 1e-3);
  EXPECT_EQ(s.view->currentFocusObject()->focusType(), SolarFocusObject::kAdder);
  EXPECT_EQ(s.view->currentFocusObject()->index(), 1);
  EXPECT_TRUE(s.view->ideaAdderViewAtIndex(1)->inFocus());

  // 61 points out from the adder, farther still from everything else.
  const QPointF sun = viewext::center(*s.view->centralView());
  const QPointF out = (adder - sun) / std::hypot(adder.x() - sun.x(), adder.y() - sun.y());
  EXPECT_NEAR(s.view->updateFocusBasedOnPoint(adder + out * 60, s.view.get()), 60, 1e-3);
  d = s.view->updateFocusBasedOnPoint(adder + out * 61, s.view.get());
  EXPECT_FALSE(s.view->currentFocusObject());
  EXPECT_EQ(d, std::numeric_limits<float>::max());

  d = s.view->updateFocusBasedOnPoint(sun, s.view.get());
  EXPECT_FALSE(s.view->currentFocusObject()) << "the sun is never a target";
  EXPECT_EQ(d, std::numeric_limits<float>::max());
  for (int i = 0; i < 4; ++i) EXPECT_FALSE(s.view->ideaAdderViewAtIndex(i)->inFocus());

  const QPointF planet = s.planetCenter(2);
  const QPointF outward = planet + (planet - sun) / std::hypot(planet.x() - sun.x(), planet.y() - sun.y()) * 40;
  d = s.view->updateFocusBasedOnPoint(outward, s.view.get());
  ASSERT_TRUE(s.view->currentFocusObject());
  EXPECT_EQ(s.view->currentFocusObject()->focusType(), SolarFocusObject::kPlanet);
  EXPECT_NEAR(s.view->ideaViewAtIndex(2)->transform().m11(), 1.05, 1e-3) << "1.1 at 0, 1.0 from 80 points";
  const QRectF f = s.view->ideaViewAtIndex(2)->frame();
  EXPECT_EQ(s.view->currentFocusObject()->focusRect(),
            f.adjusted(f.width() * 0.2f, f.height() * 0.2f, -f.width() * 0.2f, -f.height() * 0.2f));
  s.view->updateFocusBasedOnPoint(planet, s.view.get());
  EXPECT_NEAR(s.view->ideaViewAtIndex(2)->transform().m11(), 1.1, 1e-3);

  // Up and left of the parent's centre the parent is at distance 0.
  d = s.view->updateFocusBasedOnPoint(QPointF(10, 10), s.view.get());
  EXPECT_EQ(d, 0);
  EXPECT_EQ(s.view->currentFocusObject()->focusType(), SolarFocusObject::kParent);

  s.view->stopFocusing();
  EXPECT_FALSE(s.view->currentFocusObject());
  EXPECT_TRUE(s.view->ideaViewAtIndex(2)->transform().isIdentity());
}

TEST(RadialFocus, TiesKeepTheEarlierCandidateAndLinksAreNoTargets) {
  Scene s;
  s.fill(0);
  auto target = idea(QStringLiteral("target"));
  s.view->addIdea(Idea::createWithLinkToIdea(target->identifier()));
  s.view->addIdea(idea(QStringLiteral("plain")));
  float d = 0;
  auto focus = s.view->closestViewToPoint(s.planetCenter(0), s.view.get(), &d);
  ASSERT_TRUE(focus);
  EXPECT_NE(focus->focusType(), SolarFocusObject::kPlanet) << "a link planet is never a drop target";

  // Without planets or a parent only adders compete, lower index first.
  Scene empty;
  empty.fill(0);
  const QPointF a0 = empty.adderCenter(0), a1 = empty.adderCenter(1);
  const QPointF between((a0.x() + a1.x()) / 2, a0.y());  // the adders share a row
  ASSERT_EQ(a0.y(), a1.y());
  focus = empty.view->closestViewToPoint(between, empty.view.get(), &d);
  ASSERT_TRUE(focus);
  EXPECT_EQ(focus->index(), 0);
}

TEST(RadialInput, APendingDrillOfAViewThatWentAwayDoesNothing) {
  Scene s;
  s.fill(3);
  s.click(s.planetCenter(0));
  s.view->removeFromSuperview();
  s.view = SolarSystem::create(QRectF(0, 0, 10, 10), QString());  // the last owner lets go
  uitest::advance(0.5);
  EXPECT_TRUE(s.delegate.drills.empty());
}
