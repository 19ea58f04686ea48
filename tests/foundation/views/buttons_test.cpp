#include "foundation/globals.h"
#include "foundation/logging.h"
#include "foundation/views/base_view.h"
#include "foundation/views/button_view.h"
#include "foundation/views/horizontal_selector.h"
#include "foundation/views/kit_font.h"
#include "foundation/views/rounded_text_button.h"
#include "platform/ui/window.h"
#include "ui_test_env.h"

#include <QFontMetricsF>

#include <gtest/gtest.h>

using namespace orrery;
using platform::Event;
using platform::EventType;

namespace {

QImage filled(QColor color, int w = 20, int h = 20) {
  QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
  image.fill(color);
  return image;
}

struct Presses : ButtonViewDelegate, RoundedTextButtonDelegate, HorizontalSelectorDelegate {
  int buttons = 0;
  int rounded = 0;
  std::vector<std::int64_t> indices;
  std::function<void(ButtonView&)> onButton;
  void buttonPressed(ButtonView& b) override {
    ++buttons;
    if (onButton) onButton(b);
  }
  void roundedTextButtonPressed(RoundedTextButton&) override { ++rounded; }
  void horizontalSelectorSelectedElementAtIndex(HorizontalSelector&, std::int64_t i) override {
    indices.push_back(i);
  }
};

// A window whose content view holds the view under test at (10, 10).
struct Stage {
  platform::Window window{QSizeF(400, 200)};
  std::shared_ptr<BaseView> content = std::make_shared<BaseView>();
  explicit Stage(const std::shared_ptr<platform::View>& view) {
    window.setContentView(content);
    view->setFrameOrigin(QPointF(10, 10));
    content->addSubview(view);
  }
  void down(QPointF p) { window.sendEvent(Event::mouse(EventType::LeftMouseDown, p)); }
  void up(QPointF p) { window.sendEvent(Event::mouse(EventType::LeftMouseUp, p)); }
  void click(QPointF p) {
    down(p);
    up(p);
  }
};

bool showsNormal(const ButtonView& b) { return !b.parts()[1].view->isHidden(); }
bool showsActive(const ButtonView& b) { return !b.parts()[0].view->isHidden(); }

// Logs soft assertions into a list for the life of the object.
struct ButtonsLogCapture {
  std::vector<QString> lines;
  LogSink previous = setLogSink([this](const QString& l) { lines.push_back(l); });
  ~ButtonsLogCapture() { setLogSink(previous); }
};

}  // namespace

TEST(KitFonts, PointsAreLogicalPixelsInLayerImages) {
  QFont pixels = Globals::fontAvenirMedium(16);
  pixels.setPixelSize(16);
  const QFont sized = kitFont(Globals::fontAvenirMedium(16), 16);
  QImage image(10, 10, QImage::Format_ARGB32_Premultiplied);
  EXPECT_NEAR(QFontMetricsF(sized, &image).height(), QFontMetricsF(pixels, &image).height(), 0.6);
  EXPECT_NEAR(QFontMetricsF(sized).height(), QFontMetricsF(pixels, &image).height(), 0.6)
      << "labels measure without a device; the measure must agree with the drawing";
  EXPECT_DOUBLE_EQ(kitFontSize(sized), 16);
}

TEST(ButtonView, PushButtonShowsItsActivePartWhilePressedAndReportsOnce100msAfterRelease) {
  Presses presses;
  auto button = std::make_shared<ButtonView>(filled(Qt::red), filled(Qt::blue));
  button->setDelegate(&presses);
  EXPECT_EQ(button->frame().size(), QSizeF(20, 20));
  ASSERT_EQ(button->parts().size(), 2u);  // the active image is the lower part
  Stage stage(button);
  EXPECT_TRUE(showsNormal(*button));
  EXPECT_FALSE(showsActive(*button));

  stage.down(QPointF(15, 15));
  EXPECT_EQ(button->snapshot().pixelColor(5, 5), QColor(Qt::blue));
  stage.up(QPointF(300, 150));  // released away from the button: still reported
  uitest::advance(0.099);
  EXPECT_EQ(presses.buttons, 0);
  EXPECT_TRUE(showsActive(*button));
  uitest::advance(0.002);
  EXPECT_EQ(presses.buttons, 1);
  EXPECT_EQ(button->snapshot().pixelColor(5, 5), QColor(Qt::red));
  ASSERT_TRUE(button->lastEvent().has_value());
  EXPECT_EQ(button->lastEvent()->type, EventType::LeftMouseUp);

  // Two clicks within 100 ms: the second release drops the first report.
  stage.click(QPointF(15, 15));
  uitest::advance(0.05);
  stage.click(QPointF(15, 15));
  uitest::advance(0.3);
  EXPECT_EQ(presses.buttons, 2);

  // A release without a press, and setToggled while a report is pending.
  stage.up(QPointF(15, 15));
  uitest::advance(0.2);
  EXPECT_EQ(presses.buttons, 2);
  stage.click(QPointF(15, 15));
  button->setToggled(false);
  uitest::advance(0.2);
  EXPECT_EQ(presses.buttons, 2);
}

TEST(ButtonView, DisabledButtonsChangeNothingAndPartsWithOtherMasksAlwaysShow) {
  Presses presses;
  auto button = std::make_shared<ButtonView>(filled(Qt::red), filled(Qt::blue));
  button->setDelegate(&presses);
  auto always0 = std::make_shared<platform::View>();
  auto always3 = std::make_shared<platform::View>();
  QRectF placed;
  button->addView(always0, 0);
  button->addView(always3, 3, [&](platform::View& v, const QRectF& b) {
    placed = b;
    v.setFrame(QRectF(2, 2, 4, 4));
  });
  Stage stage(button);
  stage.window.displayIfNeeded();
  EXPECT_EQ(placed, QRectF(0, 0, 20, 20));
  EXPECT_EQ(always3->frame(), QRectF(2, 2, 4, 4));
  EXPECT_EQ(always0->frame(), QRectF(0, 0, 20, 20));

  button->setUserInteractionEnabled(false);
  stage.click(QPointF(15, 15));
  EXPECT_TRUE(showsNormal(*button));
  uitest::advance(0.2);
  EXPECT_EQ(presses.buttons, 0);
  button->setUserInteractionEnabled(true);

  for (bool toggled : {false, true}) {
    button->setToggled(toggled);
    EXPECT_EQ(showsActive(*button), toggled);
    EXPECT_FALSE(always0->isHidden());
    EXPECT_FALSE(always3->isHidden());
  }
  // A click on a part (the small one at 2, 2) is the button's.
  button->setToggled(false);
  stage.click(QPointF(13, 13));
  uitest::advance(0.2);
  EXPECT_EQ(presses.buttons, 1);
}

TEST(ButtonView, ToggleButtonReportsAtThePressAndTheDelegateDecidesTheState) {
  Presses presses;
  auto button = std::make_shared<ButtonView>(filled(Qt::red), filled(Qt::blue));
  button->setIsToggleButton(true);
  button->setDelegate(&presses);
  presses.onButton = [](ButtonView& b) { b.setToggled(!b.toggled()); };
  Stage stage(button);

  stage.down(QPointF(15, 15));
  EXPECT_EQ(presses.buttons, 1);
  EXPECT_TRUE(button->toggled());
  ASSERT_TRUE(button->lastEvent().has_value());
  EXPECT_EQ(button->lastEvent()->type, EventType::LeftMouseDown);
  stage.up(QPointF(15, 15));
  uitest::advance(0.2);
  EXPECT_EQ(presses.buttons, 1);
  EXPECT_TRUE(showsActive(*button));
  EXPECT_FALSE(showsNormal(*button));

  // A delegate that keeps the state: the pressed look goes back after the release.
  presses.onButton = nullptr;
  stage.down(QPointF(15, 15));
  EXPECT_TRUE(showsNormal(*button)) << "pressing a toggled button shows the opposite look";
  stage.up(QPointF(15, 15));
  uitest::advance(0.2);
  EXPECT_TRUE(showsActive(*button));
  EXPECT_EQ(presses.buttons, 2);
}

TEST(RoundedTextButton, HighlightsWhilePressedReportsOnceAndSizesToItsTitle) {
  Presses presses;
  auto button = std::make_shared<RoundedTextButton>(&presses, 3);
  button->setButtonTitle("Cancel");
  button->sizeToFit();
  const double labelWidth = button->buttonLabel()->frame().width();
  EXPECT_GT(labelWidth, 20);
  EXPECT_EQ(button->frame().size(), QSizeF(labelWidth + 20, 28));
  EXPECT_EQ(button->buttonLabel()->textColor(), Globals::colorWhite());
  Stage stage(button);
  EXPECT_EQ(button->snapshot().pixelColor(4, 14).rgb(), Globals::colorDollarGreen().rgb());

  stage.down(QPointF(15, 20));
  EXPECT_EQ(button->snapshot().pixelColor(4, 14).rgb(), Globals::colorNiceGreen().rgb());
  stage.up(QPointF(15, 20));
  uitest::advance(0.05);
  stage.up(QPointF(15, 20));  // a second release within 100 ms: one report
  uitest::advance(0.2);
  EXPECT_EQ(presses.rounded, 1);
  EXPECT_FALSE(button->toggled());
  EXPECT_EQ(button->snapshot().pixelColor(4, 14).rgb(), Globals::colorDollarGreen().rgb());

  button->setEnabled(false);
  stage.click(QPointF(15, 20));
  uitest::advance(0.2);
  EXPECT_EQ(presses.rounded, 1);
  EXPECT_FALSE(button->toggled());

  RoundedTextButton small(nullptr, 2);
  small.setButtonTitle("Export ...");
  small.sizeToFit();
  EXPECT_EQ(small.frame().height(), 22);
  EXPECT_EQ(small.buttonLabel()->textColor(), Globals::colorBlack());
  const QImage outline = small.snapshot();
  EXPECT_EQ(outline.pixelColor(4, 11).alpha(), 0) << "the outlined looks are not filled";
  EXPECT_GT(outline.pixelColor(0, 11).alpha(), 0);
}

TEST(HorizontalSelector, PillsOverlapBy24PointsAndTheSelectedOneIsOnTop) {
  HorizontalSelector three;
  three.setFrame(QRectF(0, 0, 300, 28));
  for (const char* t : {"A", "B", "C"}) three.addElement(t);
  EXPECT_EQ(three.columnVisibleWidth(), 116);
  EXPECT_EQ(three.elements()[0]->frame(), QRectF(0, 0, 116, 28));
  EXPECT_EQ(three.elements()[1]->frame(), QRectF(150 - 58, 0, 116, 28));
  EXPECT_EQ(three.elements()[2]->frame(), QRectF(242 - 58, 0, 116, 28));
  EXPECT_TRUE(three.elements()[0]->toggled());

  HorizontalSelector two;
  two.setFrame(QRectF(0, 0, 300, 28));
  two.addElement("Left");
  two.addElement("Right");
  EXPECT_EQ(two.columnVisibleWidth(), 162);
  EXPECT_EQ(two.centerForColumn(0), 81);
  EXPECT_EQ(two.centerForColumn(1), 219);

  HorizontalSelector four;
  four.setFrame(QRectF(0, 0, 400, 28));
  for (const char* t : {"A", "B", "C", "D"}) four.addElement(t);
  four.selectElement(2);
  std::vector<platform::View*> order;
  for (const auto& v : four.subviews()) order.push_back(v.get());
  const auto& e = four.elements();
  EXPECT_EQ(order, (std::vector<platform::View*>{e[1].get(), e[0].get(), e[3].get(), e[2].get()}));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(e[size_t(i)]->toggled(), i == 2);
  // The selected pill draws green over its neighbours.
  const QImage picture = four.snapshot();
  EXPECT_EQ(picture.pixelColor(int(four.centerForColumn(2)) - 40, 14).rgb(), Globals::colorNiceGreen().rgb());
  EXPECT_EQ(picture.pixelColor(int(four.centerForColumn(3)), 14).rgb(), Globals::colorGray91().rgb());
}

TEST(HorizontalSelector, ClicksSelectAndReportAndBadInputChangesNothing) {
  Presses presses;
  auto selector = std::make_shared<HorizontalSelector>();
  selector->setFrame(QRectF(0, 0, 300, 28));
  selector->setDelegate(&presses);
  for (const char* t : {"A", "B", "C"}) selector->addElement(t);
  Stage stage(selector);
  const auto& e = selector->elements();

  stage.click(QPointF(10 + 242, 20));
  EXPECT_EQ(presses.indices, std::vector<std::int64_t>{2});
  EXPECT_TRUE(e[2]->toggled());
  EXPECT_FALSE(e[0]->toggled());
  stage.click(QPointF(10 + 242, 20));  // the selected pill again: stays selected, reported
  EXPECT_EQ(presses.indices, (std::vector<std::int64_t>{2, 2}));
  EXPECT_TRUE(e[2]->toggled());

  ButtonsLogCapture log;
  selector->selectElement(3);
  selector->selectElement(-1);
  EXPECT_EQ(log.lines.size(), 2u);
  EXPECT_TRUE(e[2]->toggled());

  selector->reset();
  EXPECT_EQ(selector->numElements(), 0);
  EXPECT_EQ(selector->columnVisibleWidth(), 0);
  selector->applyLayout();  // nothing to lay out
  selector->addElement("only");
  stage.click(QPointF(150, 20));
  EXPECT_EQ(presses.indices.back(), 0);
  EXPECT_FALSE(selector->elements()[0]->toggled()) << "a single pill is never shown selected";
  EXPECT_EQ(selector->elements()[0]->frame(), QRectF(0, 0, 300, 28));

  selector->reset();
  selector->addElement("x");
  selector->addElement("y");
  EXPECT_TRUE(selector->elements()[0]->toggled());
  EXPECT_FALSE(selector->elements()[1]->toggled());
}
