#include "shell/drag_overlay_view.h"
#include "shell/my_window.h"

#include "drag_test_fixtures.h"
#include "drag_test_support.h"
#include "foundation/application_delegate.h"
#include "foundation/globals.h"
#include "foundation/logging.h"
#include "model/idea_document.h"
#include "platform/ui/application.h"
#include "ui_test_env.h"

#include <QCoreApplication>
#include <QDropEvent>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeData>
#include <QThread>

#include <gtest/gtest.h>

using namespace orrery;
using namespace dragtest;
using platform::Event;
using platform::EventType;

namespace {

// Two windows side by side, each hosting a recording screen and a view that starts drags; the
// dragged idea is parked in its window's dock (an idea of no document).
struct TwoWindows {
  QuietApp app;
  ApplicationDelegate* previousApp = Globals::app();
  uitest::DragSeams seams;
  std::shared_ptr<DragSupportWindow> a = std::make_shared<DragSupportWindow>(QSizeF(500, 400));
  std::shared_ptr<DragSupportWindow> b = std::make_shared<DragSupportWindow>(QSizeF(500, 400));
  std::shared_ptr<Screen> sa = std::make_shared<Screen>(), sb = std::make_shared<Screen>();
  std::shared_ptr<SourceView> srcA = std::make_shared<SourceView>(*a, QRectF(20, 20, 100, 100));
  std::shared_ptr<SourceView> srcB = std::make_shared<SourceView>(*b, QRectF(20, 20, 100, 100));
  IdeaPtr ideaA = Idea::createWithText(QStringLiteral("My great idea"));
  IdeaPtr ideaB = Idea::createWithText(QStringLiteral("From B"));

  TwoWindows() {
    Globals::setApp(&app);
    a->switchToViewController(sa, nullptr);
    b->switchToViewController(sb, nullptr);
    a->containerView()->addSubview(srcA);
    b->containerView()->addSubview(srcB);
    uitest::place(*a, QPoint(0, 0));
    uitest::place(*b, QPoint(700, 0));
    ideaA->addIdea(Idea::createWithText(QStringLiteral("child")));
    a->setDockedIdea(ideaA, QString());
    b->setDockedIdea(ideaB, QString());
    srcA->planet = std::make_shared<TestPlanet>(ideaA->identifier(), QString(), ideaA->text());
    srcA->back = {kDragTargetStart, QRectF(20, 20, 100, 100), 0};
    srcB->planet = std::make_shared<TestPlanet>(ideaB->identifier(), QString(), ideaB->text());
    srcB->back = {kDragTargetStart, QRectF(20, 20, 100, 100), 0};
  }
  ~TwoWindows() {
    if (platform::DraggingSession::current())
      a->sendEvent(Event::key(EventType::KeyDown, platform::KeyCode::Escape, QStringLiteral("\x1b")));
    uitest::advance(1.5);
    Globals::setApp(previousApp);
  }
  static void send(DragSupportWindow& w, EventType type, QPointF p) { w.sendEvent(Event::mouse(type, p)); }
  QPointF inB(QPointF p) const { return uitest::pointIn(*a, *b, p); }
  QPointF inA(QPointF p) const { return uitest::pointIn(*b, *a, p); }
};

}  // namespace

TEST(DragSupportWindow, ADropInItsOwnWindowIsHandedToTheControllerOnceAndTheCopyGoes) {
  TwoWindows w;
  w.sa->target = [](const DragInfo&) { return DragReturnTarget{kDragTargetContent, QRectF(180, 180, 40, 40), 0}; };
  TwoWindows::send(*w.a, EventType::LeftMouseDown, QPointF(60, 60));
  ASSERT_TRUE(w.a->floatingCopy());
  EXPECT_EQ(w.a->floatingCopy()->planetView().frame().center(), QPointF(60, 60));
  EXPECT_DOUBLE_EQ(w.a->floatingCopyScale(), 0.75);
  ASSERT_EQ(w.sa->startedWith.size(), 1u);
  EXPECT_EQ(w.sa->startedWith[0].source, kDragSourceThisWindow);
  EXPECT_EQ(w.sa->startedWith[0].ideaIdentifier, w.ideaA->identifier());
  EXPECT_EQ(w.sa->startedWith[0].returnTarget.object, kDragTargetStart);
  TwoWindows::send(*w.a, EventType::LeftMouseDragged, QPointF(200, 200));
  EXPECT_EQ(w.sa->lastLocation, QPointF(200, 200));
  TwoWindows::send(*w.a, EventType::LeftMouseUp, QPointF(200, 200));
  EXPECT_EQ(w.sa->dropped, w.ideaA) << "an idea of no document comes straight from the dock";
  ASSERT_TRUE(w.sa->pending);
  EXPECT_TRUE(w.a->floatingCopy()) << "the copy waits for the decision";
  EXPECT_EQ(w.a->floatingCopy()->planetView().frame().center(), QPointF(200, 200)) << "settled on the area";
  w.sa->pending(kDragResultMoved);
  EXPECT_FALSE(w.a->floatingCopy());
  EXPECT_EQ(w.a->sourceSessionNumber(), DragSupportWindow::kNoSession);
  EXPECT_EQ(w.a->targetSessionNumber(), DragSupportWindow::kNoSession);
  EXPECT_EQ(w.sa->ends(), 1) << "the acceptance is the controller's one end";
  EXPECT_EQ(w.sa->log, (std::vector<std::string>{"started", "update", "update", "update", "accept"}));
}

TEST(DragSupportWindow, TheCopyShrinksTowardsAPullingTargetUnderTheMouseWithoutRedrawing) {
  TwoWindows w;
  const QRectF well(300, 100, 40, 40);
  w.sa->target = [&](const DragInfo&) { return DragReturnTarget{kDragTargetDock, well, 80}; };
  TwoWindows::send(*w.a, EventType::LeftMouseDown, QPointF(60, 60));
  w.a->displayIfNeeded();
  auto* copy = dynamic_cast<TestPlanet*>(&w.a->floatingCopy()->planetView());
  ASSERT_TRUE(copy);
  const int draws = copy->draws;
  const double fit = 40.0 / (TestPlanet::kSide * 0.75);
  TwoWindows::send(*w.a, EventType::LeftMouseDragged, QPointF(320, 220));  // 100 away
  EXPECT_NEAR(w.a->floatingCopyScale(), 0.75, 1e-6);
  TwoWindows::send(*w.a, EventType::LeftMouseDragged, QPointF(320, 160));  // 40 away: halfway
  EXPECT_NEAR(w.a->floatingCopyScale(), (fit + 0.75) / 2, 1e-4);
  EXPECT_EQ(copy->frame().center(), QPointF(320, 160)) << "it never leaves the mouse";
  TwoWindows::send(*w.a, EventType::LeftMouseDragged, QPointF(320, 120));  // on the centre
  EXPECT_NEAR(w.a->floatingCopyScale(), fit, 1e-4);
  w.a->displayIfNeeded();
  EXPECT_EQ(copy->draws, draws) << "moving and pulling only transform the copy";
}

TEST(DragSupportWindow, ARefusedDropFliesBackToItsReturnTargetAndTheControllerHearsZero) {
  TwoWindows w;
  w.srcA->back = {kDragTargetStart, QRectF(20, 20, 40, 40), 0};
  TwoWindows::send(*w.a, EventType::LeftMouseDown, QPointF(60, 60));
  TwoWindows::send(*w.a, EventType::LeftMouseDragged, QPointF(300, 300));
  std::shared_ptr<BaseView> copy = w.a->floatingCopy()->sharedPlanetView();
  TwoWindows::send(*w.a, EventType::LeftMouseUp, QPointF(300, 300));
  EXPECT_EQ(w.sa->log.back(), "ended 0");
  EXPECT_EQ(w.sa->ends(), 1);
  EXPECT_FALSE(w.a->floatingCopy());
  EXPECT_EQ(copy->superview(), w.a->containerView().get()) << "still flying";
  EXPECT_TRUE(copy->layer()->hasAnimations());
  // Steps that add up exactly keep the shared virtual clock on whole milliseconds.
  uitest::advance(0.125);
  EXPECT_EQ(copy->superview(), w.a->containerView().get());
  // Just before it lands: over the return area's centre at min(0.75, 40 / its 105-point side).
  const platform::Layer::State landing = copy->layer()->presentationAt(uitest::clock().now() + 0.0749);
  EXPECT_NEAR(landing.transform.value().m11() * 0.75, 40.0 / 105.0, 0.01);
  EXPECT_NEAR(landing.frame().center().x(), 40, 0.5);
  EXPECT_NEAR(landing.frame().center().y(), 40, 0.5);
  uitest::advance(0.125);
  EXPECT_EQ(copy->superview(), nullptr) << "gone after 0.2 s";
}

TEST(DragSupportWindow, BetweenWindowsEachControllerHearsOneEndWithTheReceiversResult) {
  TwoWindows w;
  w.sa->target = [](const DragInfo&) { return DragReturnTarget{kDragTargetContent, QRectF(100, 100, 40, 40), 0}; };
  w.sa->answerAtOnce = kDragResultKept;
  TwoWindows::send(*w.b, EventType::LeftMouseDown, QPointF(60, 60));
  TwoWindows::send(*w.b, EventType::LeftMouseDragged, w.inA(QPointF(100, 100)));
  EXPECT_EQ(w.sb->log, (std::vector<std::string>{"started", "update", "exited"}));
  EXPECT_FALSE(w.b->floatingCopy());
  ASSERT_TRUE(w.a->floatingCopy());
  EXPECT_EQ(w.sa->startedWith.at(0).source, kDragSourceOtherWindow);
  EXPECT_EQ(w.sa->startedWith.at(0).ideaIdentifier, w.ideaB->identifier());
  TwoWindows::send(*w.b, EventType::LeftMouseUp, w.inA(QPointF(110, 110)));
  EXPECT_EQ(w.sa->dropped, w.ideaB) << "taken straight from the starting window's dock";
  EXPECT_EQ(w.sa->ends(), 1);
  EXPECT_EQ(w.sa->endedWith.size(), 0u) << "the receiver is not told a result besides its own";
  EXPECT_EQ(w.sb->ends(), 1);
  EXPECT_EQ(w.sb->endedWith, (std::vector<DragResult>{kDragResultKept}));
  EXPECT_FALSE(w.a->floatingCopy());
  EXPECT_EQ(w.b->sourceSessionNumber(), DragSupportWindow::kNoSession);
}

TEST(DragSupportWindow, ADragFromElsewhereLeavingAWindowIsAnEndThereAndAFailedLoadEndsBothWithZero) {
  {
    TwoWindows w;
    TwoWindows::send(*w.b, EventType::LeftMouseDown, QPointF(60, 60));
    TwoWindows::send(*w.b, EventType::LeftMouseDragged, w.inA(QPointF(100, 100)));
    TwoWindows::send(*w.b, EventType::LeftMouseDragged, QPointF(200, 200));  // back over B
    EXPECT_EQ(w.sa->log, (std::vector<std::string>{"started", "update", "ended 0"}));
    TwoWindows::send(*w.b, EventType::LeftMouseUp, QPointF(200, 200));
    EXPECT_EQ(w.sa->ends(), 1);
    EXPECT_EQ(w.sb->ends(), 1);
  }
  {
    TwoWindows w;
    w.srcB->planet = std::make_shared<TestPlanet>(QStringLiteral("gone"), QStringLiteral("temp:/nowhere.orrery"),
                                                  QStringLiteral("x"));
    w.sa->target = [](const DragInfo&) { return DragReturnTarget{kDragTargetContent, QRectF(100, 100, 40, 40), 0}; };
    TwoWindows::send(*w.b, EventType::LeftMouseDown, QPointF(60, 60));
    TwoWindows::send(*w.b, EventType::LeftMouseUp, w.inA(QPointF(110, 110)));
    const bool done = runUntil([&] { return w.sa->ends() == 1 && w.sb->ends() == 1; });
    ASSERT_TRUE(done);
    EXPECT_EQ(w.sa->endedWith, (std::vector<DragResult>{kDragResultRefused}));
    EXPECT_EQ(w.sb->endedWith, (std::vector<DragResult>{kDragResultRefused}));
    EXPECT_FALSE(w.sa->dropped);
  }
}

TEST(DragSupportWindow, StartsAreRefusedAtOnceWhileBusyWithoutAnExampleOrWithoutADelegate) {
  TwoWindows w;
  w.sa->target = [](const DragInfo&) { return DragReturnTarget{kDragTargetContent, QRectF(100, 100, 40, 40), 0}; };
  TwoWindows::send(*w.a, EventType::LeftMouseDown, QPointF(60, 60));
  TwoWindows::send(*w.a, EventType::LeftMouseUp, QPointF(100, 100));
  ASSERT_TRUE(w.sa->pending) << "the drop is being applied";
  TwoWindows::send(*w.a, EventType::LeftMouseDown, QPointF(60, 60));
  EXPECT_EQ(w.sa->log.back(), "ended 0");
  EXPECT_EQ(platform::DraggingSession::current(), nullptr);
  w.sa->pending(kDragResultKept);
  EXPECT_EQ(w.sa->ends(), 2);

  std::vector<QString> logged;
  auto previous = setLogSink([&](const QString& line) { logged.push_back(line); });
  w.srcA->planet = nullptr;
  TwoWindows::send(*w.a, EventType::LeftMouseDown, QPointF(60, 60));
  setLogSink(previous);
  EXPECT_EQ(w.sa->log.back(), "ended 0");
  EXPECT_EQ(platform::DraggingSession::current(), nullptr);
  ASSERT_FALSE(logged.empty());
  EXPECT_TRUE(logged.front().contains("Assertion failure"));

  // A window whose controller takes no drags refuses them and reports nothing.
  auto plain = std::make_shared<BaseViewController>();
  w.b->switchToViewController(plain, nullptr);
  w.srcA->planet = std::make_shared<TestPlanet>(w.ideaA->identifier(), QString(), w.ideaA->text());
  TwoWindows::send(*w.a, EventType::LeftMouseDown, QPointF(60, 60));
  TwoWindows::send(*w.a, EventType::LeftMouseDragged, w.inB(QPointF(100, 100)));
  EXPECT_FALSE(w.b->floatingCopy());
  EXPECT_EQ(w.b->targetSessionNumber(), DragSupportWindow::kNoSession);
  TwoWindows::send(*w.a, EventType::LeftMouseUp, w.inB(QPointF(100, 100)));
  EXPECT_EQ(w.sa->log.back(), "ended 0");
}
