#include "shell/main_layout_view.h"
#include "shell/top_bar_view.h"

#include "foundation/views/search_text_field.h"
#include "platform/ui/window.h"
#include "ui_test_env.h"

#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

using namespace orrery;
using platform::Event;
using platform::EventType;

namespace {

struct Reports : TopBarViewDelegate {
  std::vector<bool> statuses;
  std::vector<std::pair<TopBarActionKind, QRectF>> actions;
  void topBarSearchStatusDidChange(bool changed) override { statuses.push_back(changed); }
  void topBarAction(TopBarActionKind kind, const QRectF& rect) override { actions.emplace_back(kind, rect); }
};

// A 600-point bar at the top of a window.
struct BarStage {
  platform::Window window{QSizeF(600, 200)};
  std::shared_ptr<TopBarView> bar = std::make_shared<TopBarView>();
  Reports reports;
  BarStage() {
    bar->setDelegate(&reports);
    bar->setFrame(QRectF(0, 0, 600, TopBarView::preferredHeight()));
    window.contentView()->addSubview(bar);
    window.makeKeyAndOrderFront();
  }
  QLineEdit* edit() { return bar->searchTextField()->lineEdit(); }
  QRgb barPixel() {
    window.displayIfNeeded();
    return window.snapshot().pixel(200, 3);
  }
  void type(const char* text) {
    QTest::keyClicks(edit(), text);
    uitest::advance(0);
  }
};

}  // namespace

TEST(TopBarView, TypingHidesTheToggleAndTintsTheBarUntilTheFieldIsEmptyAgain) {
  BarStage s;
  s.bar->setMindmapToggleAction(/*on=*/true, /*toggled=*/false);
  s.bar->setContentAction(true);
  EXPECT_EQ(s.barPixel(), qRgb(232, 232, 233));
  EXPECT_DOUBLE_EQ(s.bar->mindmapToggleButton()->frame().right(), 600 - 14);
  EXPECT_DOUBLE_EQ(s.bar->contentButton()->frame().right(), s.bar->mindmapToggleButton()->frame().left() - 10);

  s.type("a");
  EXPECT_TRUE(s.bar->mindmapToggleButton()->isHidden());
  EXPECT_EQ(s.barPixel(), qRgb(215, 222, 228));
  EXPECT_DOUBLE_EQ(s.bar->contentButton()->frame().right(), 600 - 14) << "the content button takes the edge";

  QTest::keyClick(s.edit(), Qt::Key_Backspace);
  uitest::advance(0);
  EXPECT_FALSE(s.bar->mindmapToggleButton()->isHidden());
  EXPECT_EQ(s.barPixel(), qRgb(232, 232, 233));

  s.bar->setMindmapToggleAction(true, /*toggled=*/true);
  EXPECT_EQ(s.barPixel(), qRgb(215, 222, 228)) << "a toggled graph tints the bar too";
}

TEST(TopBarView, EveryTypedChangeIsReportedAndTheEndOfEditingReportsNoChange) {
  BarStage s;
  s.type("a");
  s.type("b");
  EXPECT_EQ(s.reports.statuses, (std::vector<bool>{true, true}));
  EXPECT_TRUE(s.bar->isEditingSearchText() || s.bar->currentSearchText() == QStringLiteral("ab"));
  s.bar->controlTextDidEndEditing();
  EXPECT_EQ(s.reports.statuses, (std::vector<bool>{true, true, false}));
  EXPECT_FALSE(s.bar->isEditingSearchText());

  // A text set by the screen counts as reported; Escape empties the field and ends editing one
  // turn later, when the screen hears that the search changed.
  s.bar->setCurrentSearchText(QStringLiteral("orbit"));
  EXPECT_EQ(s.reports.statuses.size(), 3u) << "setting the text tells nobody";
  QTest::keyClick(s.edit(), Qt::Key_Escape);
  EXPECT_EQ(s.reports.statuses.size(), 3u) << "deferred by one main-queue turn";
  uitest::advance(0);
  EXPECT_EQ(s.reports.statuses, (std::vector<bool>{true, true, false, true}));
  EXPECT_EQ(s.bar->currentSearchText(), QStringLiteral(""));
  EXPECT_FALSE(s.bar->isEditingSearchText());
  s.bar->setCurrentSearchText(QString());
  EXPECT_EQ(s.bar->currentSearchText(), QStringLiteral(""));
  EXPECT_FALSE(s.bar->currentSearchText().isNull());
}

TEST(TopBarView, TheClearButtonReportsTheEmptiedFieldLikeTyping) {
  BarStage s;
  s.type("moon");
  ASSERT_EQ(s.bar->currentSearchText(), QStringLiteral("moon"));
  s.reports.statuses.clear();
  const auto& field = s.bar->searchTextField();
  const QRectF cancel = field->cell().cancelButtonRectForBounds(field->bounds());
  const QPointF click = field->convertPointToView(cancel.center(), nullptr);
  s.window.sendEvent(Event::mouse(EventType::LeftMouseDown, click));
  s.window.sendEvent(Event::mouse(EventType::LeftMouseUp, click));
  uitest::advance(0);
  EXPECT_EQ(s.bar->currentSearchText(), QStringLiteral(""));
  EXPECT_EQ(s.reports.statuses, (std::vector<bool>{true})) << "the screen drops its filter";
  EXPECT_FALSE(s.bar->hasSearchContent());
}

TEST(TopBarView, StartEditingPutsTheCaretAtTheEndAndMakesTheFieldFirstResponder) {
  BarStage s;
  s.bar->setCurrentSearchText(QStringLiteral("sun"));
  s.bar->startEditingSearchText();
  EXPECT_EQ(s.window.firstResponder(), s.bar->searchTextField()->hostedField().get());
  EXPECT_EQ(s.edit()->cursorPosition(), 3);
  EXPECT_FALSE(s.edit()->hasSelectedText());
  uitest::advance(0);
  EXPECT_TRUE(s.bar->isEditingSearchText()) << "gaining focus begins editing";
}

TEST(TopBarView, ButtonsReportTheirKindAndFrameAndABarWithoutButtonsShowsOnlyTheField) {
  BarStage s;
  EXPECT_EQ(s.bar->subviews().size(), 1u);
  const QRectF field = s.bar->searchTextField()->frame();
  EXPECT_DOUBLE_EQ(field.center().x(), 300);
  EXPECT_DOUBLE_EQ(field.width(), 326);

  s.bar->setHomeAction(true);
  s.bar->setHomeAction(true);
  s.bar->setMindmapToggleAction(true, false);
  s.bar->setContentAction(true);
  EXPECT_EQ(s.bar->subviews().size(), 4u) << "an existing button stays";
  EXPECT_DOUBLE_EQ(s.bar->homeButton()->frame().left(), 14);
  EXPECT_DOUBLE_EQ(s.bar->homeButton()->frame().center().y(), 20);

  const QPointF home = s.bar->homeButton()->frame().center();
  s.window.sendEvent(Event::mouse(EventType::LeftMouseDown, home));
  s.window.sendEvent(Event::mouse(EventType::LeftMouseUp, home));
  uitest::advance(0.2);
  const QPointF toggle = s.bar->mindmapToggleButton()->frame().center();
  s.window.sendEvent(Event::mouse(EventType::LeftMouseDown, toggle));
  s.window.sendEvent(Event::mouse(EventType::LeftMouseUp, toggle));
  const QPointF content = s.bar->contentButton()->frame().center();
  s.window.sendEvent(Event::mouse(EventType::LeftMouseDown, content));
  s.window.sendEvent(Event::mouse(EventType::LeftMouseUp, content));
  uitest::advance(0.2);
  ASSERT_EQ(s.reports.actions.size(), 3u);
  EXPECT_EQ(s.reports.actions[0].first, kTopBarActionHome);
  EXPECT_EQ(s.reports.actions[0].second, s.bar->homeButton()->frame());
  EXPECT_EQ(s.reports.actions[1].first, kTopBarActionMindmapToggle);
  EXPECT_EQ(s.reports.actions[2].first, kTopBarActionContent);
  EXPECT_TRUE(s.bar->lastEvent().has_value());

  s.bar->setHomeAction(false);
  s.bar->setMindmapToggleAction(false, false);
  s.bar->setContentAction(false);
  EXPECT_EQ(s.bar->subviews().size(), 1u);
  EXPECT_EQ(s.bar->homeButton(), nullptr);
}

TEST(MainLayoutView, TheBarTakesTheTopAtItsHeightAndTheContentTheRest) {
  platform::Window window(QSizeF(500, 400));
  auto layout = std::make_shared<MainLayoutView>();
  window.setContentView(layout);
  auto content = std::make_shared<platform::View>();
  layout->setContentView(content);
  EXPECT_EQ(content->frame(), QRectF(0, 0, 500, 400)) << "without a bar the content gets everything";
  auto bar = std::make_shared<TopBarView>();
  layout->setTopBar(bar);
  layout->setContentView(content);
  EXPECT_EQ(bar->frame(), QRectF(0, 0, 500, 40));
  EXPECT_EQ(content->frame(), QRectF(0, 40, 500, 360));
  EXPECT_DOUBLE_EQ(bar->bottomFrameLine(), 40);
  layout->setTopBar(nullptr);
  EXPECT_EQ(bar->superview(), nullptr);
  window.displayIfNeeded();
  EXPECT_EQ(window.snapshot().pixel(250, 200), qRgb(255, 255, 255));
}
