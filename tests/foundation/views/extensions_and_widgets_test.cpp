#include "foundation/globals.h"
#include "foundation/logging.h"
#include "foundation/views/base_layer.h"
#include "foundation/views/base_view.h"
#include "foundation/views/delete_area_view.h"
#include "foundation/views/text_label.h"
#include "foundation/views/kit_font.h"
#include "foundation/views/text_view.h"
#include "foundation/views/view_extensions.h"
#include "platform/ui/compositor.h"
#include "platform/ui/transaction.h"
#include "platform/ui/window.h"
#include "ui_test_env.h"

#include <QFontMetricsF>

#include <gtest/gtest.h>

using namespace orrery;

namespace {

std::shared_ptr<platform::View> viewOfSize(double w, double h) {
  return std::make_shared<platform::View>(QRectF(0, 0, w, h));
}

}  // namespace

TEST(ViewExtensions, NamedPointsIntegralFramesAndHeightSteps) {
  auto v = viewOfSize(40, 20);
  viewext::setCenter(*v, QPointF(100, 50));
  EXPECT_EQ(v->frame(), QRectF(80, 40, 40, 20));
  auto r = viewOfSize(50, 30);
  viewext::setMiddleRightPosition(*r, QPointF(200, 100));
  EXPECT_EQ(viewext::topLeftCorner(*r), QPointF(150, 85));
  viewext::setBottomLeftCorner(*r, QPointF(0, 100));
  EXPECT_FLOAT_EQ(viewext::bottomFrameLine(*r), 100.0f);
  EXPECT_EQ(viewext::middleBottomPosition(*r), QPointF(25, 100));

  auto h = viewOfSize(10, 25);
  viewext::ensureFrameHeightAsMultipleOf(*h, 12);
  EXPECT_EQ(h->frame().height(), 36);
  viewext::ensureFrameHeightAsMultipleOf(*h, 12);
  EXPECT_EQ(h->frame().height(), 36);

  auto i = std::make_shared<platform::View>(QRectF(10.3, 20.7, 33.2, 10.1));
  viewext::ensureIntegralFrame(*i, 2.0);
  EXPECT_EQ(i->frame(), QRectF(10.0, 20.5, 34, 11));

  BaseLayer scaled;
  scaled.setFrame(QRectF(0.4, 0.4, 10.2, 10.2));
  scaled.setTransform(QTransform::fromScale(2, 2));
  const QRectF before = scaled.frame();
  layerext::ensureIntegralFrame(scaled);
  EXPECT_EQ(scaled.frame(), before);
}

TEST(ViewExtensions, ScaleTransformsKeepTheVisualCentreWhateverTheAnchor) {
  BaseLayer centred;
  centred.setFrame(QRectF(0, 0, 100, 100));
  layerext::transformToScale(centred, 0.5);
  EXPECT_EQ(centred.transform(), QTransform::fromScale(0.5, 0.5));  // d = 0: a plain scale
  EXPECT_EQ(centred.frame(), QRectF(25, 25, 50, 50));

  platform::Layer corner;
  corner.setAnchorPoint(QPointF(0, 0));
  corner.setFrame(QRectF(0, 0, 100, 100));
  layerext::transformToScale(corner, 0.5);
  EXPECT_EQ(corner.frame(), QRectF(25, 25, 50, 50));

  // The form with a rotation argument keeps the visual centre too, whatever the anchor.
  for (const QPointF anchor : {QPointF(0.5, 0.5), QPointF(0, 0), QPointF(1, 0.25)}) {
    auto view = std::make_shared<BaseView>(QRectF(0, 0, 184, 184));
    view->layer()->setAnchorPoint(anchor);
    const QRectF before = view->layer()->frame();
    viewext::transformToScale(*view, 0.5, 0);
    EXPECT_EQ(view->layer()->frame(), QRectF(before.center() - QPointF(46, 46), QSizeF(92, 92))) << anchor.x() << "," << anchor.y();
  }

  // A view's backing layer (anchor 0, 0) moved to a point at a scale.
  auto view = std::make_shared<platform::View>(QRectF(0, 0, 100, 100));
  layerext::transformToPoint(*view->layer(), QPointF(300, 200), 2.0);
  EXPECT_EQ(view->layer()->frame(), QRectF(200, 100, 200, 200));
  EXPECT_EQ(view->frame(), QRectF(0, 0, 100, 100));  // the view's frame is unchanged

  // Pixels: a red view scaled to half about its centre.
  auto root = std::make_shared<platform::View>(QRectF(0, 0, 100, 100));
  auto red = std::make_shared<BaseView>(QRectF(0, 0, 100, 100));
  red->layer()->setBackgroundColor(Qt::red);
  root->addSubview(red);
  viewext::setScale(*red, 0.5);
  const QImage image = root->snapshot();
  EXPECT_EQ(image.pixelColor(50, 50), QColor(Qt::red));
  EXPECT_EQ(image.pixelColor(10, 10).alpha(), 0);
}

// A call with a flag finds no form that would take the flag as a scale.
template <class L>
concept TakesAFlagAsAScale = requires(L& layer) { layerext::transformToPoint(layer, QPointF(), 1.0, true); };
static_assert(!TakesAFlagAsAScale<platform::Layer>);

TEST(ViewExtensions, AnimatedMoveLeavesTheModalAndBitmapsOfEmptyLayersAreRefused) {
  std::vector<QString> lines;
  auto previous = setLogSink([&](const QString& l) { lines.push_back(l); });
  platform::Layer layer;
  layer.setFrame(QRectF(0, 0, 20, 20));
  layerext::animateTransformToPoint(layer, QPointF(100, 100), 1.0, false);
  EXPECT_EQ(lines.size(), 1u);  // only the animated form exists
  EXPECT_TRUE(layer.transform().isIdentity());
  EXPECT_EQ(layer.animationKeys(), QStringList{"transformToPoint:finalScale:animated"});
  uitest::advance(0.3);
  EXPECT_FALSE(layer.hasAnimations());
  EXPECT_TRUE(layer.presentation().transform.isIdentity());  // back to the model state

  platform::Layer empty;
  EXPECT_TRUE(layerext::createBitmap(empty).isNull());
  EXPECT_EQ(lines.size(), 2u);
  EXPECT_TRUE(lines.back().startsWith("ERROR: Assertion failure, line: "));
  layer.setBackgroundColor(Qt::blue);
  EXPECT_EQ(layerext::createImage(layer).pixelColor(5, 5), QColor(Qt::blue));
  setLogSink(previous);
}

TEST(TextWidgets, LabelIsClickThroughAndKeepsItsFaceWhenResized) {
  struct Behind : platform::View {
    using View::View;
    int downs = 0;
    void mouseDown(const platform::Event&) override { ++downs; }
  };
  platform::Window window(QSizeF(200, 200));
  auto behind = std::make_shared<Behind>();
  window.setContentView(behind);
  auto label = std::make_shared<TextLabel>(QRectF(0, 0, 200, 40));
  label->setText("Title");
  behind->addSubview(label);
  window.sendEvent(platform::Event::mouse(platform::EventType::LeftMouseDown, QPointF(10, 10)));
  EXPECT_EQ(behind->downs, 1);
  EXPECT_FALSE(label->acceptsFirstResponder());

  QFont font = Globals::fontAvenirHeavy(10);
  label->setFont(font);
  label->setFontSize(20);
  EXPECT_EQ(label->font().family(), font.family());
  EXPECT_EQ(label->font().weight(), font.weight());
  EXPECT_DOUBLE_EQ(label->fontSize(), 20);
}

TEST(TextWidgets, TextViewSizesToItsTextOrToAWidth) {
  TextView empty;
  EXPECT_EQ(empty.intrinsicContentSize(), QSizeF(0, 0));
  empty.setFrame(QRectF(5, 5, 80, 30));
  empty.sizeToFitWidth(300);  // nothing laid out yet: no size
  EXPECT_EQ(empty.frame(), QRectF(5, 5, 0, 0));

  TextView shortText;
  shortText.setInset(QSizeF(5, 3));
  shortText.setText("Short");
  const double natural = shortText.intrinsicContentSize().width();
  EXPECT_GT(natural, 0);
  shortText.sizeToFitWidth(300);
  // The inset lies on both sides: with one side only, the text would wrap in its own frame.
  EXPECT_NEAR(shortText.frame().width(), natural + 10, 0.01);
  EXPECT_NEAR(shortText.frame().height(), shortText.intrinsicContentSize().height() + 6, 0.01);
  EXPECT_NEAR(shortText.intrinsicContentSize().width(), natural, 0.01) << "still one line";

  TextView longText;
  longText.setText(QString("word ").repeated(100));
  longText.sizeToFitWidth(300);
  EXPECT_DOUBLE_EQ(longText.frame().width(), 300);
  const double line = QFontMetricsF(Globals::fontAvenirBook(12)).height();
  EXPECT_GT(longText.frame().height(), 3 * line);

  // The font set after the text shows only once the text is set again.
  TextView later;
  later.setText("Hello");
  const auto& runs = later.innerTextView()->attributedString().runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].attributes.font->family(), Globals::fontAvenirBook(12).family());
  EXPECT_EQ(*runs[0].attributes.color, QColor(Qt::black));
  later.setFont(Globals::fontAvenirHeavy(30));
  // The default is 12 logical pixels, like every size the kit is given.
  EXPECT_NEAR(kitFontSize(*later.innerTextView()->attributedString().runs()[0].attributes.font), 12, 1e-9);
  later.setText("Hello");
  EXPECT_DOUBLE_EQ(later.innerTextView()->attributedString().runs()[0].attributes.font->pointSizeF(), 30);
}

TEST(DeleteArea, FortyPointsAtTheOriginShowingTheScaledPicture) {
  auto area = std::make_shared<DeleteAreaView>();
  EXPECT_EQ(area->frame(), QRectF(0, 0, 40, 40));
  EXPECT_FALSE(area->image().isNull());
  EXPECT_EQ(area->imageRect(), QRectF(0, 0, 40, 40));
  const QImage picture = area->snapshot();
  EXPECT_EQ(picture.size(), QSize(40, 40));
  EXPECT_GT(picture.pixelColor(20, 20).alpha(), 200);  // the dark core
  EXPECT_EQ(picture.pixelColor(0, 0).alpha(), 0);
}
