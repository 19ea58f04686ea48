#include "foundation/views/base_view.h"
#include "foundation/views/blur_view.h"
#include "foundation/views/progress_hud.h"
#include "foundation/views/screenshot.h"
#include "foundation/views/search_text_field.h"
#include "platform/ui/window.h"
#include "ui_test_env.h"

#include <QLineEdit>

#include <gtest/gtest.h>

using namespace orrery;
using platform::Event;
using platform::EventType;

namespace {

KitImage solid(QColor color, int w, int h) {
  QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
  image.fill(color);
  return KitImage(image);
}

struct Counter : BaseView {
  int downs = 0;
  void mouseDown(const Event&) override { ++downs; }
};

struct Clicks : ScreenProtectorViewDelegate {
  int count = 0;
  void screenProtectorWasClicked() override { ++count; }
};

// The darkest red channel inside `rect` of a picture.
int darkest(const QImage& image, const QRect& rect) {
  int result = 255;
  for (int y = rect.top(); y <= rect.bottom(); ++y)
    for (int x = rect.left(); x <= rect.right(); ++x) result = std::min(result, image.pixelColor(x, y).red());
  return result;
}

}  // namespace

TEST(BlurView, PictureKeepsTheScreenshotSizeAndTurnsWhiteIntoUniformLightGrey) {
  auto source = std::make_shared<BaseView>(QRectF(0, 0, 300, 200));
  source->layer()->setBackgroundColor(Qt::white);
  const KitImage shot = kitImageByCapturingScreenshot(*source);
  ASSERT_EQ(shot.pixelSize(), QSizeF(300, 200));

  BlurView cover(shot);
  EXPECT_EQ(cover.pictureSize(), QSizeF(300, 200));
  cover.setFrame(QRectF(0, 0, 300, 200));
  const QImage picture = cover.snapshot();
  ASSERT_EQ(picture.size(), QSize(300, 200));
  int low = 255, high = 0;
  for (int y = 60; y < 140; y += 7)
    for (int x = 60; x < 240; x += 7) {
      const QColor c = picture.pixelColor(x, y);
      EXPECT_EQ(c.red(), c.green());
      EXPECT_EQ(c.green(), c.blue());
      low = std::min(low, c.red());
      high = std::max(high, c.red());
    }
  EXPECT_LE(high - low, 1) << "uniform";
  EXPECT_NEAR(low, 0.9 * 255, 2) << "black at alpha 0.1 multiplied: a light grey";

  BlurView grey(solid(QColor(90, 90, 90), 200, 200));
  grey.setFrame(QRectF(0, 0, 200, 200));
  const QColor g = grey.snapshot().pixelColor(100, 100);
  EXPECT_EQ(g.red(), g.green()) << "saturation leaves greys grey";
  EXPECT_EQ(g.red(), g.blue());
  EXPECT_NEAR(g.red(), 0.9 * 90, 2);

  // Colours get stronger: a muted red moves away from grey.
  BlurView muted(solid(QColor(160, 100, 100), 200, 200));
  muted.setFrame(QRectF(0, 0, 200, 200));
  const QColor m = muted.snapshot().pixelColor(100, 100);
  EXPECT_GT(m.red() - m.green(), int(0.9 * 60) + 10);
}

TEST(BlurView, EmptyOrTinyScreenshotsNeverFailAndShowTheBackground) {
  auto empty = std::make_shared<BaseView>(QRectF(0, 0, 0, 40));
  EXPECT_TRUE(kitImageByCapturingScreenshot(*empty).isNull());
  BlurView nothing{KitImage()};
  nothing.setFrame(QRectF(0, 0, 30, 30));
  const QColor c = nothing.snapshot().pixelColor(15, 15);
  EXPECT_NEAR(c.alphaF(), 0.7, 0.01);
  EXPECT_NEAR(c.redF(), 0.8, 0.02);

  for (QSize size : {QSize(1, 1), QSize(3, 500), QSize(7, 2)}) {
    BlurView tiny(solid(Qt::blue, size.width(), size.height()));
    EXPECT_EQ(tiny.pictureSize(), QSizeF(size));
    tiny.setFrame(QRectF(0, 0, 10, 10));
    EXPECT_FALSE(tiny.snapshot().isNull());
  }
}

TEST(ScreenProtectorView, ReportsEachClickOnceAndNothingBeneathHearsIt) {
  platform::Window window(QSizeF(300, 200));
  auto below = std::make_shared<Counter>();
  window.setContentView(below);
  auto cover = std::make_shared<ScreenProtectorView>(kitImageByCapturingScreenshot(*below));
  Clicks clicks;
  cover->setDelegate(&clicks);
  below->addHostedView(cover);
  EXPECT_EQ(cover->frame(), QRectF(0, 0, 300, 200));
  for (QPointF p : {QPointF(1, 1), QPointF(299, 199)}) {
    window.sendEvent(Event::mouse(EventType::LeftMouseDown, p));
    window.sendEvent(Event::mouse(EventType::LeftMouseUp, p));
  }
  EXPECT_EQ(clicks.count, 2);
  EXPECT_EQ(below->downs, 0);
  cover->setDelegate(nullptr);
  window.sendEvent(Event::mouse(EventType::LeftMouseDown, QPointF(5, 5)));
  EXPECT_EQ(below->downs, 0) << "without a delegate the click is swallowed";
  EXPECT_TRUE(cover->acceptsFirstResponder());
}

TEST(NativeControlCover, ASearchFieldUnderACoverOrANoticeGivesWayToItsPicture) {
  platform::Window window(QSizeF(600, 400));
  auto content = std::make_shared<BaseView>();
  content->layer()->setBackgroundColor(Qt::red);
  window.setContentView(content);
  const KitImage redScreen = kitImageByCapturingScreenshot(*content);
  auto field = std::make_shared<SearchTextField>(1);
  field->setFrameOrigin(QPointF(140, 190));
  content->addSubview(field);
  field->setStringValue("WWWWWWWWWWWW");
  window.displayIfNeeded();
  QLineEdit* edit = field->lineEdit();
  const QRect text(172, 194, 100, 12);
  EXPECT_FALSE(field->hostedField()->showsPictureInLayer());
  EXPECT_LT(darkest(window.snapshot(), text), 80) << "the typed text shows";

  auto cover = std::make_shared<BlurView>(redScreen);
  content->addHostedView(cover);
  window.displayIfNeeded();
  EXPECT_TRUE(edit->isHidden()) << "a native widget would draw above the cover";
  EXPECT_TRUE(field->hostedField()->showsPictureInLayer());
  EXPECT_GT(darkest(window.snapshot(), text), 150) << "only the blurred red screen shows";

  cover->removeFromSuperview();
  window.displayIfNeeded();
  EXPECT_FALSE(edit->isHidden());
  EXPECT_LT(darkest(window.snapshot(), text), 80);

  // A notice box over the field; a finished notice gives the field back.
  auto hud = ProgressHUD::showHUDAddedTo(*content, false);
  hud->setMode(ProgressHUD::Text);
  hud->setLabelText(QString("x").repeated(60));
  window.displayIfNeeded();
  EXPECT_TRUE(edit->isHidden());
  hud->hide(false);
  window.displayIfNeeded();
  EXPECT_FALSE(edit->isHidden());
}
