// The dock well: what it shows, the scale of its planet and what a press does.

#include "ui_test_env.h"

#include "editor/dock_area_view.h"
#include "model/color_theme.h"
#include "platform/ui/window.h"

#include <gtest/gtest.h>

using orrery::DockAreaView;

namespace {

struct TakingDelegate : orrery::DockAreaViewDelegate {
  std::vector<std::shared_ptr<orrery::SimpleIdeaView>> taken;
  void dragFromDockAreaWithIdeaView(const std::shared_ptr<orrery::SimpleIdeaView>& view,
                                    const platform::Event& /*event*/) override {
    taken.push_back(view);
  }
};

struct DockWell : ::testing::Test {
  DockWell() : window(QSizeF(200, 200)) {
    window.setContentView(std::make_shared<platform::View>(QRectF(0, 0, 200, 200)));
    well = std::make_shared<DockAreaView>();
    well->setFrameOrigin(QPointF(80, 80));
    window.contentView()->addSubview(well);
    well->setDelegate(&delegate);
  }
  void press() {
    window.sendEvent(platform::Event::mouse(platform::EventType::LeftMouseDown, QPointF(100, 100)));
    window.sendEvent(platform::Event::mouse(platform::EventType::LeftMouseUp, QPointF(100, 100)));
  }
  platform::Window window;
  std::shared_ptr<DockAreaView> well;
  TakingDelegate delegate;
};

TEST_F(DockWell, ShowsOneDragCopyPlanetCentredAndScaledToTheWell) {
  EXPECT_EQ(well->frame().size(), QSizeF(40, 40));
  auto tall = std::make_shared<platform::View>(QRectF(0, 0, 90, 120));
  EXPECT_FLOAT_EQ(well->scaleForView(*tall), 0.4f) << "40 / 120 x 1.2";

  const QImage empty = well->snapshot();
  auto parked = orrery::Idea::createWithText(QStringLiteral("first"));
  parked->setColor(orrery::ColorTheme::standardThemes().front()->colors().front());
  well->takeIdeaInside(parked, QStringLiteral("doc"));
  window.displayIfNeeded();
  const QImage showing = well->snapshot();
  ASSERT_EQ(showing.size(), QSize(40, 40));
  EXPECT_NE(showing.pixelColor(20, 20), empty.pixelColor(20, 20)) << "the planet is drawn in the well";
  auto first = well->ideaView();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->role(), 3u) << "the drag-copy role";
  EXPECT_EQ(first->superview(), well.get());
  EXPECT_EQ(first->frame().center(), QPointF(20, 20));

  well->takeIdeaInside(orrery::Idea::createWithText(QStringLiteral("second")), QString());
  EXPECT_NE(well->ideaView(), first);
  EXPECT_EQ(first->superview(), nullptr) << "the new planet replaces the old";
  well->takeIdeaInside(nullptr, QString());
  EXPECT_FALSE(well->ideaView());
  EXPECT_TRUE(well->subviews().empty());
}

TEST_F(DockWell, APressTakesThePlanetOutForADragOnlyWhenThereIsOneAndInputIsOn) {
  press();
  EXPECT_TRUE(delegate.taken.empty()) << "an empty well starts nothing";

  well->takeIdeaInside(orrery::Idea::createWithText(QStringLiteral("x")), QString());
  well->setUserInteractionEnabled(false);
  press();
  EXPECT_TRUE(delegate.taken.empty()) << "input off: no drag";
  EXPECT_TRUE(well->ideaView());

  well->setUserInteractionEnabled(true);
  auto shown = well->ideaView();
  press();
  ASSERT_EQ(delegate.taken.size(), 1u);
  EXPECT_EQ(delegate.taken.front(), shown);
  EXPECT_FALSE(well->ideaView()) << "the planet left the well";
  EXPECT_EQ(shown->superview(), nullptr);
}

}  // namespace
