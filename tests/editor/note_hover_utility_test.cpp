#include "editor/note_hover_utility.h"

#include "foundation/views/base_view.h"
#include "foundation/views/container_window.h"
#include "foundation/views/text_view.h"
#include "platform/ui/view_controller.h"
#include "platform/ui/window.h"
#include "ui_test_env.h"

#include <QWidget>

#include <gtest/gtest.h>

using namespace orrery;
using platform::Event;
using platform::EventType;

namespace {

struct HoverHost : NoteHoverUtilityDelegate {
  bool allowed = true;
  platform::View* view = nullptr;
  int asked = 0;
  bool isNoteHoverDisplayAllowed() override {
    ++asked;
    return allowed;
  }
  platform::View* hostViewForNoteHoverDisplay() override { return view; }
};

struct Fixture {
  Fixture() {
    shown = showContainerWindow(QStringLiteral("notes"), QSizeF(800, 600));
    view = std::make_shared<BaseView>(QRectF(0, 0, 800, 600));
    shown.containerView->addSubview(view);
    host.view = view.get();
    utility = std::make_unique<NoteHoverUtility>(&host);
  }
  ~Fixture() {
    utility.reset();
    uitest::advance(0.1);
    shown.window->close();
  }
  bool open() const { return utility->notePopover() && utility->notePopover()->isShown(); }
  void report(const std::optional<QString>& note, double x = 200, double y = 150) {
    utility->observeCursorHoveringOver(note, QPointF(x, y));
  }

  ContainerWindow shown;
  std::shared_ptr<BaseView> view;
  HoverHost host;
  std::unique_ptr<NoteHoverUtility> utility;
};

const QString kNoteA = QStringLiteral("first note");

}  // namespace

TEST(NoteHover, OpensHalfASecondAfterThePointerRestsBelowTheBadge) {
  Fixture f;
  f.report(kNoteA);
  uitest::advance(0.5);
  EXPECT_FALSE(f.open()) << "not before 0.5 s";
  uitest::advance(0.05);
  ASSERT_TRUE(f.open()) << "by 0.55 s";
  auto popover = f.utility->notePopover();
  EXPECT_EQ(popover->behavior(), platform::Popover::Semitransient);
  EXPECT_EQ(popover->shownEdge(), platform::RectEdge::MaxY);
  const QPointF origin = f.shown.window->canvas()->mapToGlobal(QPointF(0, 0));
  EXPECT_EQ(popover->arrowTip(), origin + QPointF(200, 160)) << "below the 20-point square round the point";
  EXPECT_EQ(popover->frame().size(), QSizeF(320, 254 + platform::Popover::kArrowLength));
  auto* text = dynamic_cast<TextView*>(popover->contentViewController()->view().get());
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->text(), kNoteA);
  uitest::advance(0.05);
  EXPECT_FALSE(f.utility->hasNoteHoverDispatch()) << "polling stops once open";

  // Reports with the same note text (a new string of equal value) keep it.
  f.report(QString("first ") + "note", 205, 150);
  uitest::advance(0.3);
  EXPECT_TRUE(f.open());
}

TEST(NoteHover, MovingBetweenNotesNeverOpensAndLeavingClosesOnlyAfterALaterReport) {
  Fixture f;
  for (int i = 0; i < 6; ++i) {
    f.report(i % 2 ? kNoteA : QStringLiteral("second"));
    uitest::advance(0.3);
  }
  EXPECT_FALSE(f.open()) << "each change of note restarts the hover clock";
  uitest::advance(0.3);
  ASSERT_TRUE(f.open());

  // Straight onto another badge: the first stays open.
  f.report(QStringLiteral("second"), 300, 300);
  uitest::advance(1.0);
  EXPECT_TRUE(f.open());
  EXPECT_EQ(dynamic_cast<TextView*>(f.utility->notePopover()->contentViewController()->view().get())->text(), kNoteA);

  // Leaving and stopping keeps it; a later report without note closes it.
  f.report(std::nullopt);
  uitest::advance(0.5);
  EXPECT_TRUE(f.open());
  f.report(std::nullopt);
  EXPECT_EQ(f.utility->notePopover(), nullptr);
}

TEST(NoteHover, ARefusingHostSuppressesThePopoverWhilePollingGoesOn) {
  Fixture f;
  f.host.allowed = false;
  f.report(kNoteA);
  uitest::advance(0.6);
  EXPECT_FALSE(f.open());
  const int asked = f.host.asked;
  uitest::advance(0.1);
  EXPECT_GT(f.host.asked, asked) << "retried every 50 ms";
  f.host.allowed = true;
  uitest::advance(0.06);
  EXPECT_TRUE(f.open());
}

TEST(NoteHover, AnOutsideClickOrEscapeClosesItAndItStaysClosedOnTheSameBadge) {
  for (bool escape : {false, true}) {
    Fixture f;
    f.report(kNoteA);
    uitest::advance(0.6);
    ASSERT_TRUE(f.open());
    if (escape)
      f.shown.window->sendEvent(Event::key(EventType::KeyDown, platform::KeyCode::Escape, "\x1b"));
    else
      f.shown.window->sendEvent(Event::mouse(EventType::LeftMouseDown, QPointF(700, 500)));
    EXPECT_FALSE(f.open());
    f.report(kNoteA, 201, 150);
    uitest::advance(1.0);
    EXPECT_FALSE(f.open()) << "not again until the pointer leaves the badge";
    f.report(std::nullopt);
    uitest::advance(0.2);
    f.report(std::nullopt);
    f.report(kNoteA);
    uitest::advance(0.6);
    EXPECT_TRUE(f.open());
  }
}

TEST(NoteHover, CloseIfOpenForgetsAndAGoneUtilityPollsNoMore) {
  Fixture f;
  f.report(kNoteA);
  f.utility->closeIfOpen();
  EXPECT_FALSE(f.utility->noteBeingHovered().has_value());
  uitest::advance(0.6);
  EXPECT_FALSE(f.open());

  f.report(kNoteA);
  uitest::advance(0.6);
  ASSERT_TRUE(f.open());
  auto popover = f.utility->notePopover();
  f.utility->closeIfOpen();
  EXPECT_FALSE(popover->isShown());

  f.report(kNoteA);
  f.utility.reset();  // a pending poll must find nothing
  uitest::advance(0.6);
  EXPECT_EQ(f.host.asked, 1);
}

TEST(NoteHover, TheContentFactoryCanBeReplaced) {
  Fixture f;
  QString seen;
  auto previous = NoteHoverUtility::setNoteDisplayFactory(
      [&](const std::shared_ptr<platform::Popover>& popover, const QString& note) {
        seen = note;
        popover->setContentSize(QSizeF(100, 50));
        auto c = std::make_shared<platform::ViewController>();
        c->setView(std::make_shared<platform::View>(QRectF(0, 0, 100, 50)));
        return c;
      });
  f.report(kNoteA);
  uitest::advance(0.6);
  NoteHoverUtility::setNoteDisplayFactory(previous);
  ASSERT_TRUE(f.open());
  EXPECT_EQ(seen, kNoteA);
  EXPECT_EQ(f.utility->notePopover()->frame().size(), QSizeF(100, 50 + platform::Popover::kArrowLength));
}
