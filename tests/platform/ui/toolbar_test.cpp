#include "platform/ui/toolbar.h"

#include "platform/ui/application.h"
#include "platform/ui/menu.h"
#include "platform/ui/view.h"
#include "platform/ui/window.h"
#include "ui_test_env.h"

#include <QAction>
#include <QMainWindow>
#include <QToolBar>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace platform;

namespace {

// Two selectable tabs around a flexible space, and a "Share" item sent along the chain.
class TabsDelegate : public ToolbarDelegate {
 public:
  QStringList toolbarAllowedItemIdentifiers(Toolbar&) override {
    return {"one", kToolbarFlexibleSpaceItemIdentifier, "two", "share"};
  }
  QStringList toolbarDefaultItemIdentifiers(Toolbar&) override {
    return {"one", kToolbarFlexibleSpaceItemIdentifier, "two"};
  }
  QStringList toolbarSelectableItemIdentifiers(Toolbar&) override { return {"one", "two"}; }
  std::shared_ptr<ToolbarItem> toolbarItemForItemIdentifier(Toolbar&, const QString& identifier, bool) override {
    auto item = std::make_shared<ToolbarItem>(identifier);
    item->setLabel(identifier.toUpper());
    if (identifier == "share")
      item->setAction("cmdShare");
    else
      item->setHandler([this](ToolbarItem& clicked) { clicks.push_back(clicked.itemIdentifier()); });
    return item;
  }
  QStringList clicks;
};

class ShareView : public View {
 public:
  ShareView() : View(QRectF(0, 0, 50, 50)) {
    setActionHandler("cmdShare", [this](const ActionSender& sender) {
      ++shares;
      lastSender = sender.toolbarItem;
    });
  }
  bool acceptsFirstResponder() const override { return true; }
  bool validateToolbarItem(const ToolbarItem& item) override {
    ++validations;
    return enabled && item.itemIdentifier() == "share";
  }
  bool enabled = true;
  int shares = 0;
  int validations = 0;
  ToolbarItem* lastSender = nullptr;
};

QToolButton* buttonOf(const Toolbar& toolbar, const ToolbarItem& item) {
  return qobject_cast<QToolButton*>(toolbar.widget()->widgetForAction(item.qAction()));
}

QStringList identifiers(const Toolbar& toolbar) {
  QStringList all;
  for (const auto& item : toolbar.items()) all << item->itemIdentifier();
  return all;
}

}  // namespace

TEST(Toolbar, SelectableItemsKeepExactlyOneCheckedWhateverTheUserClicks) {
  TabsDelegate delegate;
  auto toolbar = std::make_shared<Toolbar>("tabs");
  toolbar->setDelegate(&delegate);
  ASSERT_EQ(identifiers(*toolbar), QStringList({"one", kToolbarFlexibleSpaceItemIdentifier, "two"}));
  Window window(QSizeF(300, 200));
  window.setToolbar(toolbar);
  window.makeKeyAndOrderFront();
  EXPECT_EQ(window.contentSize(), QSizeF(300, 200)) << "the toolbar sits above the content, not over it";
  EXPECT_EQ(toolbar->widget()->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
  EXPECT_FALSE(toolbar->widget()->isMovable());
  EXPECT_EQ(window.widget()->toolBarArea(toolbar->widget()), Qt::TopToolBarArea);

  auto& one = *toolbar->items()[0];
  auto& two = *toolbar->items()[2];
  EXPECT_TRUE(toolbar->selectedItemIdentifier().isEmpty());
  buttonOf(*toolbar, two)->click();
  EXPECT_EQ(toolbar->selectedItemIdentifier(), "two");
  EXPECT_TRUE(two.qAction()->isChecked());
  EXPECT_FALSE(one.qAction()->isChecked());
  // A second click on the selected tab leaves it selected instead of unchecking it.
  buttonOf(*toolbar, two)->click();
  EXPECT_TRUE(two.qAction()->isChecked());
  EXPECT_EQ(delegate.clicks, QStringList({"two", "two"}));

  // Code may move the selection back (a pane that refuses to go); a non-selectable identifier
  // changes nothing.
  toolbar->setSelectedItemIdentifier("one");
  EXPECT_TRUE(one.qAction()->isChecked());
  EXPECT_FALSE(two.qAction()->isChecked());
  toolbar->setSelectedItemIdentifier(kToolbarFlexibleSpaceItemIdentifier);
  EXPECT_EQ(toolbar->selectedItemIdentifier(), "one");

  // The flexible space pushes the second tab to the right edge.
  const QRect oneRect = buttonOf(*toolbar, one)->geometry();
  const QRect twoRect = buttonOf(*toolbar, two)->geometry();
  EXPECT_GT(twoRect.left() - oneRect.right(), 150);
}

TEST(Toolbar, InsertionFollowsTheDelegateAndKeepsTheSelection) {
  TabsDelegate delegate;
  Toolbar toolbar("tabs");
  toolbar.setDelegate(&delegate);
  toolbar.setSelectedItemIdentifier("two");
  toolbar.insertItemWithItemIdentifier("share", 1);
  toolbar.insertItemWithItemIdentifier("unknown", 0);  // not allowed: refused
  toolbar.insertItemWithItemIdentifier("one", 99);     // past the end: appended
  EXPECT_EQ(identifiers(toolbar), QStringList({"one", "share", kToolbarFlexibleSpaceItemIdentifier, "two", "one"}));
  EXPECT_EQ(toolbar.widget()->actions().size(), 5);
  EXPECT_EQ(toolbar.widget()->actions()[1], toolbar.items()[1]->qAction()) << "Qt shows the model's order";
  EXPECT_TRUE(toolbar.items()[3]->qAction()->isChecked());
  EXPECT_FALSE(toolbar.items()[1]->qAction()->isCheckable());
  toolbar.removeItemAtIndex(1);
  toolbar.removeItemAtIndex(42);
  EXPECT_EQ(identifiers(toolbar), QStringList({"one", kToolbarFlexibleSpaceItemIdentifier, "two", "one"}));
  EXPECT_EQ(toolbar.widget()->actions().size(), 4);
}

TEST(Toolbar, ActionItemsAreValidatedAlongTheChainLikeMenuItems) {
  TabsDelegate delegate;
  auto toolbar = std::make_shared<Toolbar>("tabs");
  toolbar->setDelegate(&delegate);
  toolbar->insertItemWithItemIdentifier("share", 3);
  ToolbarItem& share = *toolbar->items()[3];
  Window window(QSizeF(300, 200));
  window.setToolbar(toolbar);
  window.makeKeyAndOrderFront();
  EXPECT_FALSE(share.isEnabled()) << "nobody on the chain shares";

  auto view = std::make_shared<ShareView>();
  window.contentView()->addSubview(view);
  window.makeFirstResponder(view.get());
  EXPECT_TRUE(share.isEnabled()) << "a new first responder revalidates";
  buttonOf(*toolbar, share)->click();
  EXPECT_EQ(view->shares, 1);
  EXPECT_EQ(view->lastSender, &share);

  view->enabled = false;
  toolbar->validateVisibleItems();
  EXPECT_FALSE(share.isEnabled());
  buttonOf(*toolbar, share)->click();
  share.qAction()->trigger();
  EXPECT_EQ(view->shares, 1) << "a disabled item does nothing";

  // Validation at the moment of the click: a state that changed since the last validation
  // refuses the action even though the button still looked enabled.
  view->enabled = true;
  toolbar->validateVisibleItems();
  view->enabled = false;
  share.qAction()->trigger();
  EXPECT_EQ(view->shares, 1);

  // An explicit target wins over the chain, even when it is not first responder.
  view->enabled = true;
  auto other = std::make_shared<ShareView>();
  share.setTarget(other.get());
  window.makeFirstResponder(nullptr);
  EXPECT_TRUE(share.isEnabled());
  share.qAction()->trigger();
  EXPECT_EQ(other->shares, 1);
  EXPECT_EQ(view->shares, 1);
  other.reset();
  toolbar->validateVisibleItems();
  EXPECT_FALSE(share.isEnabled()) << "a target that went away disables the item";
}

TEST(Toolbar, AWindowWithoutMenuBarStillAnswersKeyEquivalents) {
  auto menu = std::make_shared<Menu>();
  auto file = std::make_shared<Menu>("File");
  int closes = 0;
  file->addItem("Close", [&closes](MenuItem&) { ++closes; }, "w")->setKeyEquivalentModifierMask(ModifierFlag::Command);
  auto fileItem = std::make_shared<MenuItem>();
  fileItem->setSubmenu(file);
  menu->addItem(fileItem);
  const auto previous = Application::shared().mainMenu();
  Application::shared().setMainMenu(menu);
  {
    Window window(QSizeF(200, 100), Window::Titled | Window::Closable);
    EXPECT_NE(window.menuBar(), nullptr);
    window.setShowsMenuBar(false);
    EXPECT_EQ(window.menuBar(), nullptr);
    EXPECT_EQ(window.contentSize(), QSizeF(200, 100));
    Application::shared().setMainMenu(menu);  // a rebuilt menu brings no bar back
    EXPECT_EQ(window.menuBar(), nullptr);
    window.makeKeyAndOrderFront();
    window.sendEvent(Event::key(EventType::KeyDown, KeyCode::Unknown, "w", ModifierFlag::Command));
    EXPECT_EQ(closes, 1);
  }
  Application::shared().setMainMenu(previous);
}

TEST(Toolbar, ContentLimitsAndResizability) {
  Window window(QSizeF(300, 200), Window::Titled | Window::Closable | Window::Resizable);
  window.setMinSize(QSizeF(100, 80));
  window.setContentMaxSize(QSizeF(QWIDGETSIZE_MAX, 200));
  window.makeKeyAndOrderFront();
  window.setContentSize(QSizeF(500, 600));
  EXPECT_EQ(window.contentSize(), QSizeF(500, 200)) << "height capped, width free";
  EXPECT_EQ(window.widget()->height(), window.canvas()->geometry().bottom() + 1) << "no empty band below the content";
  window.setContentSize(QSizeF(10, 10));
  EXPECT_EQ(window.contentSize(), QSizeF(100, 80));
  window.setResizable(false);
  EXPECT_FALSE(window.isResizable());
  window.widget()->resize(window.widget()->size() + QSize(50, 0));
  EXPECT_EQ(window.contentSize(), QSizeF(100, 80)) << "the user cannot resize it";
  window.setContentSize(QSizeF(150, 90));
  EXPECT_EQ(window.contentSize(), QSizeF(150, 90)) << "code still can";
}
