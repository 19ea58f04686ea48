// The colour tab over an offscreen window, loaded from a real edit panel: its frames, which
// palette it opens on, the child-colouring choices (including "No change" after returning to
// the tab) and the six child planets a user sees.

#include "ui_test_env.h"

#include "model/color_theme.h"
#include "panels/color_selection_tab_view.h"
#include "panels/edit_idea_view_controller.h"
#include "platform/ui/event.h"
#include "platform/ui/window.h"

#include <gtest/gtest.h>

using orrery::ColorPtr;
using orrery::ColorSelectionTabView;
using orrery::ColorThemeType;

namespace {

struct Changes : orrery::ColorSelectionTabViewDelegate {
  int count = 0;
  void didMakeChanges() override { ++count; }
};

struct ColorTabTest : ::testing::Test {
  ColorTabTest() : window(QSizeF(400, 500)) {
    window.setContentView(std::make_shared<platform::View>(QRectF(0, 0, 400, 500)));
    window.makeKeyAndOrderFront();
    tab = std::make_shared<ColorSelectionTabView>();
    tab->setFrame(QRectF(0, 0, 320, 422));
    tab->setDelegate(&changes);
    window.contentView()->addSubview(tab);
    controller = orrery::EditIdeaViewController::createForPopover(nullptr);
  }
  ~ColorTabTest() override { uitest::advance(0.1); }
  void load(const ColorPtr& colour, ColorThemeType rule, bool initial = true) {
    controller->setSelectedTitleText(QStringLiteral("Sun"));
    controller->setSelectedColor(colour);
    controller->setSelectedColorThemeType(rule);
    tab->reloadFrom(*controller, initial);
    tab->layout();
  }
  void press(orrery::HorizontalSelector& selector, std::size_t element) {
    const auto& button = selector.elements().at(element);
    const QPointF p = button->convertPointToView(button->bounds().center(), nullptr);
    window.sendEvent(platform::Event::mouse(platform::EventType::LeftMouseDown, p));
    window.sendEvent(platform::Event::mouse(platform::EventType::LeftMouseUp, p));
    uitest::advance(0.01);
  }
  void choose(std::size_t option) { press(*tab->childThemeSelector(), option); }
  static ColorPtr classic(int theme, int i) { return orrery::ColorTheme::standardThemes()[theme]->colors()[i]; }
  static ColorPtr bright(int theme, int i) { return orrery::ColorTheme::brightColorThemes()[theme]->colors()[i]; }
  std::vector<ColorPtr> childColours() const {
    std::vector<ColorPtr> out;
    for (const auto& child : tab->childPlanetLayers()) out.push_back(child->baseColor());
    return out;
  }

  platform::Window window;
  std::shared_ptr<ColorSelectionTabView> tab;
  std::shared_ptr<orrery::EditIdeaViewController> controller;
  Changes changes;
};

TEST_F(ColorTabTest, FramesAt320By422) {
  load(classic(0, 0), orrery::ColorThemeTypeLighterColor);
  EXPECT_EQ(tab->childThemeSelector()->frame(), QRectF(15, 370, 290, 27));
  EXPECT_EQ(tab->colorSelector()->frame(), QRectF(0, 172, 320, 198));
  EXPECT_EQ(tab->ownThemeSelector()->frame(), QRectF(15, 145, 290, 27));
  EXPECT_EQ(tab->subPlanetLayer()->frame(), QRectF(0, 0, 320, 145));
  EXPECT_NEAR(tab->mainPlanetLayer()->frame().center().x(), 160, 0.5);
  EXPECT_NEAR(tab->mainPlanetLayer()->frame().center().y(), 72.5, 0.5);
  EXPECT_EQ(tab->childPlanetLayers()[1]->position(), QPointF(220, 72.5)) << "child 1 at 0 degrees";
  EXPECT_EQ(tab->childPlanetLayers()[0]->position(), QPointF(190, 72.5 - 52)) << "child 0 at -60 degrees";
  EXPECT_EQ(tab->mainPlanetLayer()->text(), QStringLiteral("Sun"));
}

TEST_F(ColorTabTest, OpensOnThePaletteHoldingTheColourAndRingsItOnlyThere) {
  const ColorPtr b = bright(2, 4);
  load(b, orrery::ColorThemeTypeLighterColor);
  EXPECT_EQ(tab->colorSelector()->matrix(), orrery::ColorMatrix::brightColorMatrix());
  EXPECT_TRUE(tab->ownThemeSelector()->elements()[1]->toggled());
  EXPECT_EQ(tab->colorSelector()->selectedColor(), b);

  press(*tab->ownThemeSelector(), 0);
  EXPECT_EQ(tab->colorSelector()->matrix(), orrery::ColorMatrix::classicColorMatrix());
  EXPECT_EQ(tab->colorSelector()->selectedColor(), nullptr) << "not ringed on the other palette";
  EXPECT_EQ(tab->selectedColor(), b) << "switching palettes keeps the colour";
  EXPECT_EQ(changes.count, 0) << "a palette switch is no change";

  for (const ColorPtr& c : {classic(1, 1), ColorPtr(), std::make_shared<const orrery::Color>(QStringLiteral("x"), QColor(Qt::red))}) {
    load(c, orrery::ColorThemeTypeLighterColor);
    EXPECT_EQ(tab->colorSelector()->matrix(), orrery::ColorMatrix::classicColorMatrix());
    EXPECT_TRUE(tab->ownThemeSelector()->elements()[0]->toggled());
  }
}

TEST_F(ColorTabTest, DefineChildThemeReportsAChangeButChangesNothing) {
  load(classic(0, 2), orrery::ColorThemeTypeLighterColor);
  ASSERT_EQ(tab->childThemeSelector()->numElements(), 1);
  choose(0);
  EXPECT_EQ(changes.count, 1);
  EXPECT_EQ(tab->childThemeSelector()->numElements(), 3);
  EXPECT_TRUE(tab->childThemeSelector()->elements()[0]->toggled()) << "No change shows as chosen";
  EXPECT_FALSE(tab->didRecolor());
  EXPECT_EQ(tab->selectedColorThemeType(), orrery::ColorThemeTypeLighterColor);
  EXPECT_EQ(tab->selectedColor(), classic(0, 2));
}

TEST_F(ColorTabTest, NoChangeAfterReturningRestoresThePresentedRule) {
  load(classic(0, 2), orrery::ColorThemeTypeLighterColor);
  choose(0);
  choose(1);  // Varying
  EXPECT_TRUE(tab->didRecolor());
  EXPECT_EQ(tab->selectedColorThemeType(), orrery::ColorThemeTypeVaryingColors);
  // The panel reads the tab back when the user leaves it; returning reloads from those values.
  load(classic(0, 2), tab->selectedColorThemeType(), /*initial=*/false);
  EXPECT_EQ(tab->childThemeSelector()->numElements(), 3) << "a later load keeps the choices open";
  EXPECT_EQ(tab->selectedColorThemeType(), orrery::ColorThemeTypeVaryingColors) << "shows the current rule";
  choose(0);
  EXPECT_FALSE(tab->didRecolor());
  EXPECT_EQ(tab->selectedColorThemeType(), orrery::ColorThemeTypeLighterColor);
  // A new presentation collapses the choices again.
  load(classic(0, 2), orrery::ColorThemeTypeSameColor);
  EXPECT_EQ(tab->childThemeSelector()->numElements(), 1);
}

TEST_F(ColorTabTest, ChildPlanetsShowOnlyWhileRecolouringInTheChosenRule) {
  load(classic(1, 3), orrery::ColorThemeTypeLighterColor);
  EXPECT_TRUE(tab->subPlanetLayer()->isHidden());
  // A colour picked on the grid (row 2, column 5) changes the colour, not the recolouring.
  const auto& grid = tab->colorSelector();
  const QPointF cell = grid->convertPointToView(grid->centerOf(2, 5), nullptr);
  window.sendEvent(platform::Event::mouse(platform::EventType::LeftMouseDown, cell));
  window.sendEvent(platform::Event::mouse(platform::EventType::LeftMouseUp, cell));
  const ColorPtr picked = classic(2, 5);
  EXPECT_EQ(tab->selectedColor(), picked);
  EXPECT_EQ(tab->mainPlanetLayer()->baseColor(), picked);
  EXPECT_FALSE(tab->didRecolor());
  EXPECT_EQ(changes.count, 1);

  choose(0);
  choose(2);  // Same color
  EXPECT_FALSE(tab->subPlanetLayer()->isHidden());
  EXPECT_EQ(tab->selectedColorThemeType(), orrery::ColorThemeTypeSameColor);
  for (const ColorPtr& c : childColours()) EXPECT_EQ(c, picked);

  choose(1);  // Varying: the colour's theme in order
  const auto& colours = picked->theme()->colors();
  const auto children = childColours();
  for (std::size_t i = 0; i < children.size(); ++i) EXPECT_EQ(children[i], colours[i % colours.size()]) << i;
  EXPECT_EQ(changes.count, 4);

  choose(0);
  EXPECT_TRUE(tab->subPlanetLayer()->isHidden());
}

TEST_F(ColorTabTest, NoColourOrAColourWithoutThemeLeavesTheChildrenUncoloured) {
  load(std::make_shared<const orrery::Color>(QStringLiteral("loose"), QColor(Qt::red)), orrery::ColorThemeTypeVaryingColors);
  for (const ColorPtr& c : childColours()) EXPECT_EQ(c, nullptr);
  load(nullptr, orrery::ColorThemeTypeSameColor);
  for (const ColorPtr& c : childColours()) EXPECT_EQ(c, nullptr);
  EXPECT_EQ(tab->mainPlanetLayer()->baseColor(), nullptr);
}

}  // namespace
