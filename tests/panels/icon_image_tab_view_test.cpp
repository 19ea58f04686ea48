// The icon tab over an offscreen window with the program's icon catalogue: the category list
// with and without its "Remove Icon" row, short categories, the grid's places and toggles,
// picks and removal as the panel reads them, and clicks that must not fall through the grid.

#include "icon_pictures.h"
#include "ui_test_env.h"

#include "model/icon_image_collection.h"
#include "panels/edit_idea_view_controller.h"
#include "panels/icon_image_tab_view.h"
#include "platform/ui/event.h"
#include "platform/ui/window.h"

#include <gtest/gtest.h>

using orrery::IconImagePtr;
using orrery::IconImageTabView;

namespace {

struct IconChanges : orrery::IconImageTabViewDelegate {
  int count = 0;
  void didMakeChanges() override { ++count; }
};

QString categoryWithAtLeast(std::size_t n) {
  auto& catalogue = orrery::IconImageCollection::instance();
  for (const QString& c : catalogue.categories())
    if (catalogue.iconImagesByCategory(c).size() >= n) return c;
  return QString();
}

struct IconTabTest : ::testing::Test {
  IconTabTest() : window(QSizeF(400, 500)) {
    window.setContentView(std::make_shared<platform::View>(QRectF(0, 0, 400, 500)));
    window.makeKeyAndOrderFront();
    tab = std::make_shared<IconImageTabView>();
    tab->setFrame(QRectF(0, 0, 320, 422));
    tab->setDelegate(&changes);
    window.contentView()->addSubview(tab);
    controller = orrery::EditIdeaViewController::createForPopover(nullptr);
  }
  ~IconTabTest() override {
    uitest::advance(0.5);
    waitForIconPictures();
  }
  void load(const IconImagePtr& icon) {
    controller->setSelectedTitleText(QStringLiteral("Moon"));
    controller->setSelectedIconImage(icon);
    tab->reloadFrom(*controller, true);
    tab->layout();
  }
  void click(platform::View& view, QPointF local = QPointF(-1, -1)) {
    if (local.x() < 0) local = view.bounds().center();
    const QPointF p = view.convertPointToView(local, nullptr);
    window.sendEvent(platform::Event::mouse(platform::EventType::LeftMouseDown, p));
    window.sendEvent(platform::Event::mouse(platform::EventType::LeftMouseUp, p));
    uitest::advance(0.3);  // button release, slide
    window.contentView()->layout();
    tab->layout();
  }
  std::size_t categoryCount() const { return orrery::IconImageCollection::instance().categories().size(); }

  platform::Window window;
  std::shared_ptr<IconImageTabView> tab;
  std::shared_ptr<orrery::EditIdeaViewController> controller;
  IconChanges changes;
};

TEST_F(IconTabTest, TheRemoveRowHeadsTheListOnlyWhileThereIsAnIcon) {
  const QString category = categoryWithAtLeast(1);
  ASSERT_FALSE(category.isEmpty()) << "the catalogue has icons";
  load(nullptr);
  const auto& list = *tab->iconCategoryTableView();
  ASSERT_EQ(list.rows().size(), categoryCount());
  EXPECT_NE(dynamic_cast<orrery::IconCategoryCell*>(list.rows()[0].get()), nullptr);
  EXPECT_EQ(list.frame(), QRectF(0, 147, 320, 275));
  EXPECT_EQ(list.rows()[1]->frame().y(), 48);

  load(orrery::IconImageCollection::instance().iconImagesByCategory(category)[0]);
  ASSERT_EQ(list.rows().size(), categoryCount() + 1);
  auto* remove = dynamic_cast<orrery::RemoveIconCell*>(list.rows()[0].get());
  ASSERT_NE(remove, nullptr);
  EXPECT_EQ(remove->textLabel()->text(), QStringLiteral("REMOVE ICON"));
}

TEST_F(IconTabTest, CategoryRowsShowUpToThreeOfTheIconsTheyHave) {
  const auto& icons = orrery::IconImageCollection::instance().iconImagesByCategory(categoryWithAtLeast(3));
  ASSERT_GE(icons.size(), 3u);
  orrery::IconCategoryCell cell(nullptr);
  cell.setFrame(QRectF(0, 0, 320, 48));
  for (std::size_t n : {0u, 1u, 2u, 3u}) {
    cell.configureForCategory(QStringLiteral("  Short  "), std::vector<IconImagePtr>(icons.begin(), icons.begin() + n));
    cell.layout();
    ASSERT_EQ(cell.imageViews().size(), n);
    if (n > 0) {
      EXPECT_EQ(cell.imageViews().back()->frame(), QRectF(264, 8, 32, 32)) << "24 from the right edge";
    }
    EXPECT_EQ(cell.categoryNameLabel()->text(), QStringLiteral("Short"));
  }
  cell.configureForCategory(QStringLiteral("All"), icons);
  EXPECT_EQ(cell.imageViews().size(), 3u) << "never more than three";
}

TEST_F(IconTabTest, TheGridPlacesSevenARowAndTogglesByNameAndCategory) {
  const QString category = categoryWithAtLeast(8);
  ASSERT_FALSE(category.isEmpty());
  const auto& icons = orrery::IconImageCollection::instance().iconImagesByCategory(category);
  load(icons[2]);
  tab->categorySelected(category);
  uitest::advance(0.3);
  tab->layout();
  const auto& selector = tab->iconSelectorView();
  ASSERT_NE(selector, nullptr);
  EXPECT_EQ(selector->frame(), QRectF(0, 147, 320, 275)) << "slid over the list";
  selector->layout();
  const auto& buttons = selector->iconButtons();
  ASSERT_EQ(buttons.size(), icons.size());
  EXPECT_EQ(buttons[0]->frame().topLeft(), QPointF(15, 20));
  EXPECT_NEAR(buttons[1]->frame().x(), 15 + 42.67, 0.5);
  EXPECT_EQ(buttons[6]->frame().right(), 320 - 15);
  EXPECT_EQ(buttons[7]->frame().topLeft(), QPointF(15, 67)) << "the eighth starts the second row";
  for (std::size_t i = 0; i < buttons.size(); ++i) EXPECT_EQ(buttons[i]->toggled(), i == 2) << i;

  // The same name in another category is not the current icon.
  auto other = std::make_shared<orrery::IconImage>(icons[2]->name(), QStringLiteral("Elsewhere"), QStringLiteral("x"));
  load(other);
  tab->categorySelected(category);
  for (const auto& b : tab->iconSelectorView()->iconButtons()) EXPECT_FALSE(b->toggled());
}

TEST_F(IconTabTest, APickTogglesOnlyItsButtonKeepsTheGridAndEmptyPlacesSwallowClicks) {
  const QString category = categoryWithAtLeast(4);
  const auto& icons = orrery::IconImageCollection::instance().iconImagesByCategory(category);
  load(nullptr);
  tab->categorySelected(category);
  uitest::advance(0.3);
  tab->layout();
  auto selector = tab->iconSelectorView();
  selector->layout();
  click(*selector->iconButtons()[3]);
  EXPECT_EQ(tab->selectedIconImage(), icons[3]);
  EXPECT_EQ(tab->mainPlanetLayer()->iconImage(), icons[3]);
  EXPECT_EQ(changes.count, 1);
  EXPECT_EQ(tab->iconSelectorView(), selector) << "the grid stays open";
  for (std::size_t i = 0; i < selector->iconButtons().size(); ++i) EXPECT_EQ(selector->iconButtons()[i]->toggled(), i == 3);
  EXPECT_NE(dynamic_cast<orrery::RemoveIconCell*>(tab->iconCategoryTableView()->rows()[0].get()), nullptr);

  // Between the first two icons: nothing beneath hears it.
  click(*selector, QPointF(53, orrery::IconSelectorView::kTitleHeight + 20 + 17));
  EXPECT_EQ(changes.count, 1);
  EXPECT_EQ(tab->iconSelectorView(), selector);
  EXPECT_EQ(tab->selectedIconImage(), icons[3]);

  click(*selector->titleRow()->button());
  EXPECT_EQ(tab->iconSelectorView(), nullptr) << "the back arrow closes the grid";
  EXPECT_EQ(selector->superview(), nullptr);
}

TEST_F(IconTabTest, RemoveClearsTheIconAndItsRowLeavesAtOnce) {
  const QString category = categoryWithAtLeast(1);
  load(orrery::IconImageCollection::instance().iconImagesByCategory(category)[0]);
  auto list = tab->iconCategoryTableView();
  auto removeRow = list->rows()[0];
  click(*removeRow);
  EXPECT_EQ(tab->selectedIconImage(), nullptr);
  EXPECT_EQ(changes.count, 1);
  EXPECT_EQ(list->rows().size(), categoryCount()) << "the row left the list";
  EXPECT_EQ(list->rows()[0]->frame().y(), 0);
  uitest::advance(0.5);
  EXPECT_EQ(removeRow->superview(), nullptr) << "its picture went after the fade";
}

}  // namespace

namespace {

TEST_F(IconTabTest, AnEmptyOrUnknownCategoryAndABlankIconShowWithoutHarm) {
  // An icon whose symbol draws nothing: the preview shows the planet without it.
  auto blank = std::make_shared<orrery::IconImage>(QStringLiteral("Blank"), QStringLiteral("Nowhere"), QString());
  load(blank);
  EXPECT_EQ(tab->selectedIconImage(), blank);
  const QImage withBlank = window.snapshot();
  EXPECT_FALSE(withBlank.isNull());
  EXPECT_EQ(tab->iconCategoryTableView()->categoryOffset(), 1) << "a blank icon can still be removed";

  for (const QString& category : {QString(), QStringLiteral("No such category")}) {
    tab->categorySelected(category);
    uitest::advance(0.3);
    tab->layout();
    const auto selector = tab->iconSelectorView();
    ASSERT_NE(selector, nullptr);
    EXPECT_TRUE(selector->iconButtons().empty());
    EXPECT_EQ(selector->frame(), tab->iconCategoryTableView()->frame()) << "the empty grid slides in";
    click(*selector, QPointF(100, 120));
    EXPECT_EQ(tab->selectedIconImage(), blank) << "a click on nothing picks nothing";
    EXPECT_EQ(changes.count, 0);
    EXPECT_FALSE(window.snapshot().isNull());
  }
}

}  // namespace
