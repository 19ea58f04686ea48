// The colour palettes: how the shared grids are built from the themes (short and empty themes
// included), the sizes at a width, the swatches and ring a user sees, and which cell a click
// picks, up to the last pixel and in empty cells.

#include "ui_test_env.h"

#include "model/color_theme.h"
#include "panels/color_matrix.h"
#include "platform/ui/event.h"
#include "platform/ui/window.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>

using orrery::ColorMatrix;
using orrery::ColorMatrixView;
using orrery::ColorPtr;

namespace {

std::shared_ptr<orrery::ColorTheme> themeOf(const QString& name, std::initializer_list<QColor> colours) {
  auto theme = std::make_shared<orrery::ColorTheme>(name);
  int i = 0;
  for (const QColor& c : colours) theme->addColor(std::make_shared<orrery::Color>(name + QString::number(i++), c));
  return theme;
}

QImage draw(ColorMatrixView& view) {
  QImage image(view.bounds().size().toSize(), QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  view.drawRect(painter, view.bounds());
  return image;
}

struct Picks : orrery::ColorMatrixViewDelegate {
  std::vector<ColorPtr> picked;
  void handleColorSelection(const ColorPtr& color) override { picked.push_back(color); }
};

TEST(ColorMatrix, SharedGridsHoldTheThemesRowByRowAndNamesOfTheOtherPaletteAreUnknown) {
  for (const auto* pair : {&orrery::ColorTheme::standardThemes(), &orrery::ColorTheme::brightColorThemes()}) {
    const auto& matrix = pair == &orrery::ColorTheme::standardThemes() ? ColorMatrix::classicColorMatrix()
                                                                         : ColorMatrix::brightColorMatrix();
    ASSERT_EQ(matrix->rows(), 4u);
    ASSERT_EQ(matrix->columns(), 7u);
    for (std::uint64_t r = 0; r < 4; ++r)
      for (std::uint64_t c = 0; c < 7; ++c) EXPECT_EQ(matrix->itemAtRow(r, c)->color, (*pair)[r]->colors()[c]);
  }
  EXPECT_EQ(&ColorMatrix::classicColorMatrix(), &ColorMatrix::classicColorMatrix()) << "built once";
  const ColorPtr bright = orrery::ColorTheme::brightColorThemes()[1]->colors()[3];
  EXPECT_EQ(ColorMatrix::brightColorMatrix()->colorWithName(bright->name()), bright);
  EXPECT_EQ(ColorMatrix::classicColorMatrix()->colorWithName(bright->name()), nullptr);
  EXPECT_EQ(ColorMatrix::classicColorMatrix()->colorWithName(QString()), nullptr);
  EXPECT_EQ(ColorMatrix::classicColorMatrix()->itemAtRow(4, 0), nullptr);
  EXPECT_EQ(ColorMatrix::classicColorMatrix()->itemAtRow(0, 7), nullptr);
}

TEST(ColorMatrix, ShortThemesLeaveEmptyCellsAndEmptyInputsMakeEmptyGrids) {
  auto m = ColorMatrix::fromThemes({themeOf("a", {Qt::red, Qt::green, Qt::blue}), themeOf("b", {Qt::black}),
                                    themeOf("c", {Qt::red, Qt::green, Qt::blue, Qt::yellow})});
  ASSERT_EQ(m->rows(), 3u);
  ASSERT_EQ(m->columns(), 3u);
  EXPECT_NE(m->itemAtRow(1, 0)->color, nullptr);
  EXPECT_EQ(m->itemAtRow(1, 1)->color, nullptr);
  EXPECT_EQ(m->itemAtRow(2, 2)->color->name(), QStringLiteral("c2"));
  EXPECT_EQ(m->colorWithName(QStringLiteral("c3")), nullptr) << "beyond the first theme's width";
  auto none = ColorMatrix::fromThemes({});
  EXPECT_EQ(none->rows(), 0u);
  auto colourless = ColorMatrix::fromThemes({themeOf("empty", {})});
  EXPECT_EQ(colourless->columns(), 0u);
}

TEST(ColorMatrixViewTest, SizesForAWidthWithoutDividingByZero) {
  ColorMatrixView view(ColorMatrix::classicColorMatrix());
  view.setFrameSizeForWidth(320);
  EXPECT_DOUBLE_EQ(view.centerToCenter(), 44);
  EXPECT_EQ(view.frame().size(), QSizeF(320, 198));
  EXPECT_EQ(view.centerOf(0, 0), QPointF(28, 33));
  EXPECT_EQ(view.centerOf(3, 6), QPointF(292, 165));

  ColorMatrixView oneColumn(ColorMatrix::fromThemes({themeOf("a", {Qt::red}), themeOf("b", {Qt::blue})}));
  oneColumn.setFrameSizeForWidth(320);
  EXPECT_TRUE(std::isfinite(oneColumn.centerToCenter()));
  EXPECT_TRUE(std::isfinite(oneColumn.frame().height()));
  EXPECT_EQ(oneColumn.centerOf(0, 0).x(), 160) << "a single column stands in the middle";

  ColorMatrixView empty(ColorMatrix::fromThemes({}));
  empty.setFrameSizeForWidth(320);
  EXPECT_EQ(empty.frame().height(), 66);
  EXPECT_EQ(empty.itemAtPoint(QPointF(10, 10)), nullptr);
  draw(empty);  // nothing to draw, nothing to crash
}

TEST(ColorMatrixViewTest, TheSelectedNameIsRingedInGreyAndAForeignColourIsNot) {
  ColorMatrixView view(ColorMatrix::classicColorMatrix());
  view.setFrameSizeForWidth(320);
  const ColorPtr cell = ColorMatrix::classicColorMatrix()->itemAtRow(1, 2)->color;
  const QPoint center = view.centerOf(1, 2).toPoint();
  const QPoint inRing = center + QPoint(14, 0);  // between the swatch (12.5) and the ring (15)

  QImage plain = draw(view);
  EXPECT_EQ(plain.pixelColor(center).rgb(), cell->uiColor().rgb());
  EXPECT_EQ(plain.pixelColor(inRing).alpha(), 0) << "no ring without a selection";

  // Another object carrying the same name counts as the same colour.
  view.selectColor(std::make_shared<orrery::Color>(cell->name(), QColor(Qt::magenta)));
  QImage ringed = draw(view);
  EXPECT_EQ(ringed.pixelColor(inRing).rgb(), QColor::fromRgbF(0.3f, 0.3f, 0.3f).rgb());
  EXPECT_EQ(ringed.pixelColor(center).rgb(), cell->uiColor().rgb()) << "the swatch keeps the cell's colour";
  EXPECT_EQ(ringed.pixelColor(view.centerOf(1, 3).toPoint() + QPoint(14, 0)).alpha(), 0) << "only one ring";

  view.selectColor(orrery::ColorTheme::brightColorThemes()[0]->colors()[0]);
  EXPECT_EQ(draw(view).pixelColor(inRing).alpha(), 0) << "a colour of the other palette rings nothing";
}

struct MatrixClicks : ::testing::Test {
  MatrixClicks() : window(QSizeF(400, 500)) {
    window.setContentView(std::make_shared<platform::View>(QRectF(0, 0, 400, 500)));
    window.makeKeyAndOrderFront();
  }
  void click(const QPointF& p) {
    window.sendEvent(platform::Event::mouse(platform::EventType::LeftMouseDown, p));
    window.sendEvent(platform::Event::mouse(platform::EventType::LeftMouseUp, p));
  }
  platform::Window window;
  Picks picks;
};

TEST_F(MatrixClicks, CellsAreEqualDivisionsUpToTheLastPixelAndEmptyCellsPickNothing) {
  auto view = std::make_shared<ColorMatrixView>(ColorMatrix::classicColorMatrix());
  view->setFrame(QRectF(10, 20, 0, 0));
  view->setFrameSizeForWidth(320);
  view->setDelegate(&picks);
  window.contentView()->addSubview(view);

  click(QPointF(10 + 319.9, 20 + 197.9));
  ASSERT_EQ(picks.picked.size(), 1u);
  EXPECT_EQ(picks.picked.back(), ColorMatrix::classicColorMatrix()->itemAtRow(3, 6)->color);
  EXPECT_EQ(view->selectedColor(), picks.picked.back());
  click(QPointF(10 + 0.5, 20 + 0.5));
  EXPECT_EQ(picks.picked.back(), ColorMatrix::classicColorMatrix()->itemAtRow(0, 0)->color);
  // Between circles still picks the cell the point falls in.
  click(QPointF(10 + 320.0 / 7 * 2 + 1, 20 + 198.0 / 4 + 1));
  EXPECT_EQ(picks.picked.back(), ColorMatrix::classicColorMatrix()->itemAtRow(1, 2)->color);

  auto sparse = std::make_shared<ColorMatrixView>(
      ColorMatrix::fromThemes({themeOf("a", {Qt::red, Qt::green}), themeOf("b", {Qt::blue})}));
  sparse->setFrame(QRectF(10, 20, 0, 0));
  sparse->setFrameSizeForWidth(320);
  sparse->setDelegate(&picks);
  view->removeFromSuperview();
  window.contentView()->addSubview(sparse);
  sparse->selectColor(ColorMatrix::classicColorMatrix()->itemAtRow(0, 0)->color);
  click(QPointF(10 + 300, 20 + sparse->frame().height() - 1));
  ASSERT_EQ(picks.picked.size(), 4u);
  EXPECT_EQ(picks.picked.back(), nullptr) << "an empty cell reports none";
  EXPECT_EQ(sparse->selectedColor(), nullptr);
}

}  // namespace
