#include "editor/simple_idea_view.h"
#include "editor_test_support.h"
#include "foundation/log_capture.h"
#include "foundation/views/view_extensions.h"
#include "platform/core/notification_center.h"
#include "platform/ui/compositor.h"
#include "platform/ui/transaction.h"
#include "ui_test_env.h"

#include <gtest/gtest.h>

using namespace orrery;

namespace {

// A disc view inside a container, centred at (200, 200).
struct Stage {
  std::shared_ptr<BaseView> root = std::make_shared<BaseView>(QRectF(0, 0, 400, 400));
  std::shared_ptr<SimpleIdeaView> disc;

  explicit Stage(IdeaViewRole role) : disc(std::make_shared<SimpleIdeaView>(QStringLiteral("Sun"), role)) {
    root->addSubview(disc);
    viewext::setCenter(*disc, QPointF(200, 200));
  }
};

void commitLayers() {
  platform::Transaction::flush();
  uitest::loop().runPending();
}

}  // namespace

TEST(IdeaViews, RadiiAndSidesByRole) {
  EXPECT_EQ(IdeaView::radiusForRole(1), 76);
  EXPECT_EQ(IdeaView::radiusForRole(2), 93);
  for (IdeaViewRole role : {0, 3, 9}) EXPECT_EQ(IdeaView::radiusForRole(role), 56) << role;
  EXPECT_EQ(IdeaView::sideLengthForRole(1), 190);
  SimpleIdeaView tile(2);
  EXPECT_EQ(tile.frame(), QRectF(0, 0, 232.5, 232.5));
  EXPECT_EQ(tile.planetLayer().planetType(), 6u);
  EXPECT_EQ(SimpleIdeaView(3).planetLayer().approximateRendering(), true);
  EXPECT_EQ(SimpleIdeaView(1).planetLayer().planetType(), 1u);
}

TEST(IdeaViews, HitsOnlyInsideTheDiscAndNeverForRoleThree) {
  Stage sun(1);
  EXPECT_EQ(sun.root->hitTest(QPointF(200 + 76, 200)), sun.root.get()) << "exactly at the radius misses";
  EXPECT_EQ(sun.disc->hitTest(QPointF(200, 200 - 76)), nullptr);
  EXPECT_EQ(sun.root->hitTest(QPointF(200 + 75.9, 200)), sun.disc.get());
  EXPECT_EQ(sun.root->hitTest(QPointF(200 - 60, 200 - 60)), sun.root.get()) << "the square's corner";

  Stage copy(3);
  for (const QPointF& p : {QPointF(200, 200), QPointF(210, 190)})
    EXPECT_EQ(copy.disc->hitTest(p), nullptr);
  EXPECT_EQ(copy.root->hitTest(QPointF(200, 200)), copy.root.get()) << "clicks reach the views below";
}

TEST(IdeaViews, ScaledSunKeepsItsCentreAndItsHitRadius) {
  Stage sun(1);
  sun.disc->setScale(0.75);
  EXPECT_EQ(sun.disc->frame().size(), QSizeF(142.5, 142.5));
  EXPECT_EQ(viewext::center(*sun.disc), QPointF(200, 200));
  EXPECT_FLOAT_EQ(sun.disc->planetLayer().radius(), 57);
  EXPECT_EQ(sun.root->hitTest(QPointF(200, 200 + 75)), sun.disc.get()) << "the hit radius stays 76";
  EXPECT_EQ(sun.root->hitTest(QPointF(200, 200 + 77)), sun.root.get());

  // The disc is drawn with radius 57 in the smaller square.
  const QImage image = sun.root->snapshot();
  EXPECT_GT(image.pixelColor(200 + 50, 200).alpha(), 200);
  EXPECT_EQ(image.pixelColor(200 + 62, 200).alpha(), 0);
}

TEST(IdeaViews, TapAnimationReturnsToIdentityAlsoWhenTheViewIsGone) {
  auto root = std::make_shared<BaseView>(QRectF(0, 0, 300, 300));
  auto view = std::make_shared<IdeaView>(0, std::make_shared<BaseLayer>());
  root->addSubview(view);
  commitLayers();
  view->startTapAnimation();
  EXPECT_NEAR(view->layer()->transform().m11(), 0.95, 1e-9);
  uitest::advance(0.25);
  EXPECT_NEAR(view->layer()->presentation().transform.value().m11(), 0.95, 1e-6);
  view->stopTapAnimation();
  EXPECT_TRUE(view->layer()->transform().isIdentity());
  uitest::advance(0.35);
  uitest::advance(2.5);
  EXPECT_TRUE(view->layer()->presentation().transform.isIdentity());

  // The late step holds the view weakly: it is skipped once the view has gone.
  std::weak_ptr<IdeaView> weak = view;
  view->startTapAnimation();
  view->stopTapAnimation();
  view->removeFromSuperview();
  view.reset();
  EXPECT_TRUE(weak.expired());
  uitest::advance(0.5);
  uitest::advance(3.0);

  // A view nobody holds through a shared pointer still gets its first step.
  IdeaView local(0, std::make_shared<BaseLayer>());
  local.startTapAnimation();
  local.stopTapAnimation();
  uitest::advance(0.5);
  EXPECT_TRUE(local.layer()->transform().isIdentity());
}

TEST(IdeaViews, DragCopyIsARoleThreeDiscOfTheSameIdea) {
  auto idea = Idea::createWithText(QStringLiteral("Dragged"));
  idea->setColor(editortest::themeColor(false));
  idea->setNote(QStringLiteral("note"));
  SimpleIdeaView sun(1);
  sun.updateWithIdea(idea, QStringLiteral("doc"));
  sun.setShowOrbit(true);
  sun.setScale(0.75);
  auto copy = std::dynamic_pointer_cast<SimpleIdeaView>(sun.copyForDragging());
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->role(), 3u);
  EXPECT_EQ(copy->text(), QStringLiteral("Dragged"));
  EXPECT_EQ(copy->representativeTitle(), QStringLiteral("Dragged"));
  EXPECT_EQ(copy->baseColor(), idea->color());
  EXPECT_TRUE(copy->hasNote());
  EXPECT_TRUE(copy->showOrbit());
  EXPECT_EQ(copy->ideaIdentifier(), idea->identifier());
  EXPECT_EQ(copy->docIdentifier(), QStringLiteral("doc"));
  EXPECT_DOUBLE_EQ(copy->layer()->zPosition(), 1.0);
  EXPECT_DOUBLE_EQ(copy->scale(), 1.0);
  EXPECT_EQ(copy->hitTest(QPointF(70, 70)), nullptr);
}

TEST(IdeaViews, UpdateWithoutIdeaLogsLine206AndLeavesNeitherColourNorPicture) {
  QImage picture(8, 8, QImage::Format_ARGB32_Premultiplied);
  picture.fill(Qt::red);
  auto idea = Idea::createWithURL(QStringLiteral("https://example.org"), KitImage(picture));
  SimpleIdeaView view(0);
  view.updateWithIdea(idea, QStringLiteral("doc"));
  EXPECT_TRUE(view.hasWebLink());
  LogCapture log;
  view.updateWithIdea(nullptr, QStringLiteral("doc"));
  ASSERT_EQ(log.lines().size(), 1);
  EXPECT_EQ(log.lines()[0],
            QStringLiteral("ERROR: Assertion failure, line: 206 -[SimpleIdeaView updateWithIdea:inDocument:]"));
  EXPECT_TRUE(view.text().isNull());
  EXPECT_EQ(view.baseColor(), nullptr);
  EXPECT_TRUE(view.image().isNull());
  EXPECT_FALSE(view.hasWebLink());
  EXPECT_FALSE(view.hasNote());
  EXPECT_TRUE(view.ideaIdentifier().isEmpty());
  const QImage image = view.snapshot();
  EXPECT_LT(editortest::channelDistance(image.pixelColor(70, 70), Globals::colorLightGray()), 6);
}

TEST(IdeaViews, NotesHitInTheViewsOwnCoordinates) {
  SimpleIdeaView view(0);
  EXPECT_FALSE(view.hitsNote(QPointF(70, 100)));
  view.setNote(QStringLiteral("note"));
  const QRectF badge = view.planetLayer().planetDrawer()->noteRect();
  EXPECT_TRUE(view.hitsNote(badge.center()));
  EXPECT_FALSE(view.hitsNote(QPointF(70, 20)));
}

TEST(IdeaViewsAppearance, DiscsFollowTheSettingsThroughTheNotification) {
  editortest::AppearanceScope restore;
  Globals::setHighContrastText(false);
  const ColorPtr bright = editortest::themeColor(true);
  std::vector<std::shared_ptr<SimpleIdeaView>> views;
  for (int i = 0; i < 3; ++i) {
    auto v = std::make_shared<SimpleIdeaView>(QStringLiteral("MMMM"), 1);
    v->setBaseColor(bright);
    v->layer()->displayIfNeeded();
    views.push_back(v);
  }
  std::vector<int> before;
  for (auto& v : views) before.push_back(v->layer()->displayCount());

  Globals::setHighContrastText(true);
  for (size_t i = 0; i < views.size(); ++i) {
    EXPECT_EQ(views[i]->planetLayer().textColor(), QColor::fromRgbF(0.33f, 0.33f, 0.33f, 1.0f));
    views[i]->layer()->displayIfNeeded();
    EXPECT_EQ(views[i]->layer()->displayCount(), before[i] + 1) << "every disc is redrawn";
  }
  Globals::setHighContrastText(false);
  EXPECT_EQ(views[0]->planetLayer().textColor(), QColor(Qt::white)) << "white again";

  // Without a change of what it shows, a posted notification redraws nothing.
  views[0]->layer()->displayIfNeeded();
  platform::NotificationCenter::defaultCenter().post(GlobalsAppearanceSettingsChangedNotification);
  EXPECT_FALSE(views[0]->layer()->needsDisplay());
}
