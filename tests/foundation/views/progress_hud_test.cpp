#include "foundation/globals.h"
#include "foundation/views/base_view.h"
#include "foundation/views/kit_font.h"
#include "foundation/views/progress_hud.h"
#include "foundation/views/progress_views.h"
#include "foundation/views/spinning_progress_indicator.h"
#include "platform/core/dispatch.h"
#include "platform/ui/window.h"
#include "ui_test_env.h"

#include <QFontMetricsF>

#include <gtest/gtest.h>

#include <thread>

using namespace orrery;
using platform::Event;
using platform::EventType;

namespace {

struct Container : BaseView {
  int downs = 0;
  void mouseDown(const Event&) override { ++downs; }
};

struct HudStage {
  platform::Window window{QSizeF(600, 400)};
  std::shared_ptr<Container> content = std::make_shared<Container>();
  HudStage() { window.setContentView(content); }
  std::vector<std::shared_ptr<ProgressHUD>> huds() const {
    std::vector<std::shared_ptr<ProgressHUD>> result;
    for (const auto& v : content->subviews())
      if (auto h = std::dynamic_pointer_cast<ProgressHUD>(v)) result.push_back(h);
    return result;
  }
  void click() {
    window.sendEvent(Event::mouse(EventType::LeftMouseDown, QPointF(20, 20)));
    window.sendEvent(Event::mouse(EventType::LeftMouseUp, QPointF(20, 20)));
  }
};

// What the window's notice does: a text-only HUD 0.2 s after the request, hidden 1.1 s later.
void requestNotice(HudStage& stage, const QString& message, bool removeOnHide) {
  platform::mainQueue().after(platform::Millis(200), [&stage, message, removeOnHide] {
    auto hud = ProgressHUD::showHUDAddedTo(*stage.content, true);
    hud->setRemoveFromSuperViewOnHide(removeOnHide);
    hud->setMode(ProgressHUD::Text);
    hud->setLabelText(message);
    platform::mainQueue().after(platform::Millis(1100), [hud] { hud->hide(true); });
  });
}

double shownOpacity(const ProgressHUD& hud) { return hud.layer()->presentation().opacity; }

}  // namespace

TEST(ProgressHUD, NoticeAppearsAt200msAndFadesFrom1300ms) {
  HudStage stage;
  requestNotice(stage, "Failed to update document", false);
  uitest::advance(0.19);
  EXPECT_TRUE(stage.huds().empty());
  uitest::advance(0.02);
  ASSERT_EQ(stage.huds().size(), 1u);
  auto hud = stage.huds()[0];
  EXPECT_FALSE(hud->isHidden());
  uitest::advance(0.15);
  EXPECT_GT(shownOpacity(*hud), 0.05);
  EXPECT_LT(shownOpacity(*hud), 0.95);
  requestNotice(stage, "Second", true);  // a second notice meanwhile: a second box over the first
  uitest::advance(0.3);
  EXPECT_DOUBLE_EQ(shownOpacity(*hud), 1.0);
  ASSERT_EQ(stage.huds().size(), 2u);
  const QImage picture = stage.window.snapshot();
  EXPECT_EQ(picture.pixelColor(300, 200 - 20).rgb(), Globals::colorGray95().rgb()) << "the box, centred";
  EXPECT_EQ(picture.pixelColor(5, 5).rgb(), QColor(Qt::white).rgb()) << "nothing drawn around the box";

  uitest::advance(1.3 - 0.66 + 0.1);  // 1.4 s after the request
  EXPECT_LT(shownOpacity(*hud), 0.95);
  EXPECT_GT(shownOpacity(*hud), 0.2);
  EXPECT_FALSE(hud->isFinished());
  uitest::advance(0.25);
  EXPECT_TRUE(hud->isFinished());
  EXPECT_TRUE(hud->isHidden());
  EXPECT_EQ(hud->superview(), stage.content.get()) << "by default a finished HUD stays";
  uitest::advance(0.5);
  ASSERT_EQ(stage.huds().size(), 1u) << "the second notice, set to leave, has left";
  EXPECT_EQ(stage.huds()[0], hud);
}

TEST(ProgressHUD, BoxFitsTheMessageInItsFontWithinTheContainer) {
  HudStage stage;
  auto hud = ProgressHUD::showHUDAddedTo(*stage.content, false);
  hud->setMode(ProgressHUD::Text);
  const QString message = "Failed to update document";
  hud->setLabelText(message);
  const QFontMetricsF metrics(kitFont(Globals::fontAvenirMedium(16), 16));
  const double w = metrics.horizontalAdvance(message);
  EXPECT_NEAR(hud->size().width(), w + 10 + 40, 0.01);
  EXPECT_NEAR(hud->size().height(), metrics.height() + 40, 0.01);
  EXPECT_LT(metrics.height(), 16 * 1.5) << "Avenir Medium 16 is 16 logical pixels, not 16 points at 96 dpi";
  const QRectF box = hud->boxRect();
  EXPECT_NEAR(box.center().x(), 300, 0.5);
  EXPECT_NEAR(box.center().y(), 200, 0.5);
  EXPECT_NEAR(hud->label()->frame().width(), w + 10, 0.01);

  hud->setLabelText(QString("wide ").repeated(100));
  EXPECT_DOUBLE_EQ(hud->label()->frame().width(), 600 - 80);
  EXPECT_DOUBLE_EQ(hud->size().width(), 600 - 40);

  hud->setLabelText("");
  EXPECT_EQ(hud->size(), QSizeF(40, 40));

  // A view narrower than four margins: no negative sizes.
  auto narrow = std::make_shared<BaseView>(QRectF(0, 0, 50, 50));
  stage.content->addSubview(narrow);
  auto small = ProgressHUD::showHUDAddedTo(*narrow, false);
  small->setMode(ProgressHUD::Indeterminate);
  small->setLabelText(message);
  EXPECT_EQ(small->label()->frame().width(), 0);
  EXPECT_EQ(small->indicator()->frame().width(), 0);
  EXPECT_EQ(small->size().width(), 40);
  EXPECT_FALSE(small->snapshot().isNull());
}

TEST(ProgressHUD, MinimumShowTimeDelaysTheFadeAndGraceTimeKeepsItHidden) {
  HudStage stage;
  auto hud = std::make_shared<ProgressHUD>(*stage.content);
  stage.content->addSubview(hud);
  hud->setMinShowTime(2);
  hud->setMode(ProgressHUD::Text);
  hud->show(false);
  uitest::advance(0.5);
  hud->hide(true);
  uitest::advance(1.49);
  EXPECT_TRUE(hud->isShowing());
  EXPECT_DOUBLE_EQ(shownOpacity(*hud), 1.0);
  uitest::advance(0.02);
  EXPECT_FALSE(hud->isShowing()) << "the fade-out starts 1.5 s after the hide";
  uitest::advance(0.4);
  EXPECT_TRUE(hud->isFinished());

  auto late = std::make_shared<ProgressHUD>(*stage.content);
  stage.content->addSubview(late);
  late->setGraceTime(0.5);
  late->show(true);
  uitest::advance(3);
  EXPECT_FALSE(late->isShowing());
  EXPECT_EQ(late->alphaValue(), 0.0);
}

TEST(ProgressHUD, SwallowsClicksOnlyWhileShownAndRemovesItselfWhenAsked) {
  HudStage stage;
  auto hud = ProgressHUD::showHUDAddedTo(*stage.content, false);
  hud->setMode(ProgressHUD::Text);
  hud->setLabelText("Busy");
  stage.click();
  EXPECT_EQ(stage.content->downs, 0);
  int completions = 0;
  hud->setCompletionBlock([&] { ++completions; });
  hud->setRemoveFromSuperViewOnHide(true);
  hud->hide(false);
  EXPECT_EQ(completions, 1);
  EXPECT_EQ(hud->superview(), nullptr);
  stage.click();
  EXPECT_EQ(stage.content->downs, 1);

  auto stays = ProgressHUD::showHUDAddedTo(*stage.content, false);
  stays->hide(false);
  stage.click();
  EXPECT_EQ(stage.content->downs, 2) << "a finished HUD is hidden and lets clicks through";
}

TEST(ProgressHUD, ModesSwapIndicatorsAndChangesFromOtherThreadsArriveOnTheMainQueue) {
  HudStage stage;
  auto hud = ProgressHUD::showHUDAddedTo(*stage.content, false);
  auto spinner = std::dynamic_pointer_cast<SpinningProgressIndicator>(hud->indicator());
  ASSERT_NE(spinner, nullptr);
  EXPECT_EQ(spinner->frame().size(), QSizeF(60, 60));
  EXPECT_TRUE(spinner->isAnimating());
  EXPECT_FALSE(spinner->usesThreadedAnimation());
  EXPECT_EQ(spinner->color(), QColor(Qt::white));

  hud->setMode(ProgressHUD::Determinate);
  auto round = std::dynamic_pointer_cast<RoundProgressView>(hud->indicator());
  ASSERT_NE(round, nullptr);
  EXPECT_EQ(spinner->superview(), nullptr);
  EXPECT_FALSE(round->isAnnular());
  hud->setProgress(0.25f);
  EXPECT_FLOAT_EQ(round->progress(), 0.25f);
  hud->setMode(ProgressHUD::AnnularDeterminate);
  EXPECT_EQ(hud->indicator(), round);
  EXPECT_TRUE(round->isAnnular());
  hud->setMode(ProgressHUD::DeterminateHorizontalBar);
  auto bar = std::dynamic_pointer_cast<BarProgressView>(hud->indicator());
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->frame().size(), QSizeF(120, 20));
  auto custom = std::make_shared<platform::View>(QRectF(0, 0, 30, 10));
  hud->setCustomView(custom);
  hud->setMode(ProgressHUD::CustomView);
  EXPECT_EQ(hud->indicator(), custom);
  hud->setMode(ProgressHUD::Text);
  EXPECT_EQ(hud->indicator(), nullptr);
  EXPECT_EQ(custom->superview(), nullptr);

  std::thread worker([&] {
    hud->setLabelText("From a worker");
    hud->setMode(ProgressHUD::Determinate);
  });
  worker.join();
  EXPECT_EQ(hud->labelText(), "");
  uitest::loop().runPending();
  EXPECT_EQ(hud->labelText(), "From a worker");
  EXPECT_EQ(hud->label()->stringValue(), "From a worker");
  EXPECT_NE(std::dynamic_pointer_cast<RoundProgressView>(hud->indicator()), nullptr);
}

TEST(ProgressHUD, ProgressViewsAndTheDimBackgroundOnPixels) {
  RoundProgressView pie(QRectF(0, 0, 60, 60));
  pie.setBackgroundTintColor(Qt::transparent);
  pie.setProgress(0.25f);
  QImage image = pie.snapshot();
  EXPECT_EQ(image.pixelColor(40, 20), QColor(Qt::white)) << "a quarter from twelve o'clock clockwise";
  EXPECT_EQ(image.pixelColor(20, 20).alpha(), 0);
  pie.setAnnular(true);
  pie.setProgressTintColor(Qt::green);
  pie.setProgress(0.5f);
  image = pie.snapshot();
  EXPECT_EQ(image.pixelColor(57, 30), QColor(Qt::green)) << "the ring reaches three o'clock";
  EXPECT_EQ(image.pixelColor(3, 30).alpha(), 0);

  BarProgressView bar;
  bar.setProgress(0.5f);
  image = bar.snapshot();
  EXPECT_EQ(image.pixelColor(30, 10), QColor(Qt::white));
  EXPECT_EQ(image.pixelColor(90, 10).alpha(), 0);
  bar.setProgress(7.0f);  // beyond the end: full
  EXPECT_EQ(bar.snapshot().pixelColor(110, 10), QColor(Qt::white));

  HudStage stage;
  auto hud = ProgressHUD::showHUDAddedTo(*stage.content, false);
  hud->setDimBackground(true);
  hud->setColor(QColor());
  hud->setMode(ProgressHUD::Text);
  const QImage dimmed = stage.window.snapshot();
  EXPECT_LT(dimmed.pixelColor(2, 2).red(), dimmed.pixelColor(300, 60).red());
  EXPECT_LT(dimmed.pixelColor(300, 200).red(), 255 * 0.3) << "an unset colour: black at 0.8";
}

TEST(ProgressHUD, StacksIndicatorLabelAndDetailsUpwardsAndHonoursOffsetsSquareAndMinimum) {
  HudStage stage;
  auto hud = ProgressHUD::showHUDAddedTo(*stage.content, false);
  hud->setMode(ProgressHUD::Determinate);
  hud->setLabelText("Label");
  hud->setDetailsLabelText("Details");
  const QRectF indicator = hud->indicator()->frame();
  const QRectF label = hud->label()->frame();
  const QRectF details = hud->detailsLabel()->frame();
  // y grows upwards: the details at the bottom, the label on them, the indicator on top.
  EXPECT_DOUBLE_EQ(label.y(), details.bottom());
  EXPECT_DOUBLE_EQ(indicator.y(), label.bottom());
  EXPECT_EQ(indicator.size(), QSizeF(60, 60));
  EXPECT_NEAR(indicator.center().x(), 300, 0.5);
  const double contentHeight = indicator.height() + label.height() + details.height();
  EXPECT_DOUBLE_EQ(hud->size().height(), contentHeight + 40);
  EXPECT_DOUBLE_EQ(details.y(), std::round((400 - hud->size().height()) / 2) + 20);
  // On screen the indicator is above the label.
  EXPECT_LT(hud->indicator()->convertRectToView(hud->indicator()->bounds(), nullptr).top(),
            hud->label()->convertRectToView(hud->label()->bounds(), nullptr).top());

  const QRectF before = hud->boxRect();
  hud->setXOffset(15);
  hud->setYOffset(10);
  EXPECT_EQ(hud->boxRect(), before.translated(15, -10)) << "y offsets move the box down the screen";
  EXPECT_DOUBLE_EQ(hud->detailsLabel()->frame().y(), details.y() - 10);

  hud->setSquare(true);
  EXPECT_DOUBLE_EQ(hud->size().width(), hud->size().height());
  hud->setMinSize(QSizeF(400, 10));
  EXPECT_DOUBLE_EQ(hud->size().width(), 400);
}
