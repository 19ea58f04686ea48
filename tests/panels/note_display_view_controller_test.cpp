// The note hover's read-only panel in real popovers over an offscreen window: its size for
// short and long notes, where the text starts, that keys leave the note alone, and that the
// hover shows it, one popover at a time.

#include "ui_test_env.h"

#include "editor/note_hover_utility.h"
#include "model/document_limits.h"
#include "panels/note_display_view_controller.h"
#include "platform/ui/popover.h"
#include "platform/ui/window.h"

#include <QScrollBar>
#include <QTest>
#include <QTextEdit>

#include <gtest/gtest.h>

using orrery::NoteDisplayViewController;

namespace {

struct ClosingDelegate : orrery::NoteDisplayViewControllerDelegate {
  int closes = 0;
  void noteDisplayViewDidClose() override { ++closes; }
};

struct HoverHost : orrery::NoteHoverUtilityDelegate {
  platform::View* host = nullptr;
  bool isNoteHoverDisplayAllowed() override { return true; }
  platform::View* hostViewForNoteHoverDisplay() override { return host; }
};

struct NoteDisplayTest : ::testing::Test {
  NoteDisplayTest() : window(QSizeF(800, 700)) {
    window.setContentView(std::make_shared<platform::View>(QRectF(0, 0, 800, 700)));
    window.makeKeyAndOrderFront();
  }
  ~NoteDisplayTest() override {
    if (popover && popover->isShown()) popover->close();
    uitest::advance(0.5);
  }
  std::shared_ptr<NoteDisplayViewController> show(const QString& note) {
    popover = platform::Popover::create();
    popover->setBehavior(platform::Popover::Semitransient);
    auto panel = NoteDisplayViewController::createForPopover(popover);
    panel->setNoteText(note);
    panel->setDelegate(&delegate);
    popover->showRelativeToRect(QRectF(300, 100, 20, 20), window.contentView().get(), platform::RectEdge::MaxY);
    uitest::advance(0.3);
    return panel;
  }
  static void expectFixedSize(const std::shared_ptr<platform::Popover>& popover, NoteDisplayViewController& panel) {
    EXPECT_EQ(popover->contentSize(), QSizeF(320, 254));
    EXPECT_EQ(panel.view()->frame().size(), QSizeF(320, 254));
    QTextEdit* edit = panel.noteEdit();
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(panel.noteScrollView()->documentView()->frame(), QRectF(1, 1, 318, 252));
    EXPECT_TRUE(edit->isReadOnly());
    EXPECT_EQ(edit->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(edit->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  }

  platform::Window window;
  std::shared_ptr<platform::Popover> popover;
  ClosingDelegate delegate;
};

TEST_F(NoteDisplayTest, OneLineSitsAtTheInsetTopLeftOfAFullSizedPopover) {
  auto panel = show(QStringLiteral("One line"));
  ASSERT_TRUE(popover->isShown());
  expectFixedSize(popover, *panel);
  QTextEdit* edit = panel->noteEdit();
  EXPECT_EQ(edit->toPlainText(), QStringLiteral("One line"));
  const QRect caret = edit->cursorRect(QTextCursor(edit->document()));
  EXPECT_NEAR(caret.left(), 5, 1) << "inset 5 across";
  EXPECT_EQ(caret.top(), 3) << "inset 3 down, the line at the top";
  EXPECT_EQ(edit->verticalScrollBar()->maximum(), 0) << "nothing to scroll";
}

TEST_F(NoteDisplayTest, AHundredLinesScrollInsideTheSameSizeAndKeysChangeNothing) {
  QStringList lines;
  for (int i = 0; i < 100; ++i) lines << QStringLiteral("Line %1 of a long note").arg(i);
  const QString note = lines.join(QLatin1Char('\n'));
  auto panel = show(note);
  expectFixedSize(popover, *panel);
  QTextEdit* edit = panel->noteEdit();
  EXPECT_GT(edit->verticalScrollBar()->maximum(), 0) << "the long note scrolls";
  edit->setFocus();
  QTest::keyClicks(edit, QStringLiteral("typed"));
  QTest::keyClick(edit, Qt::Key_Backspace);
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(edit->toPlainText(), note);
  panel->setNoteText(QStringLiteral("later"));
  EXPECT_EQ(edit->toPlainText(), note) << "a shown popover keeps its text";
}

TEST_F(NoteDisplayTest, ANoteOfOneLineAsLongAsAMapHoldsIsShownWhole) {
  const QString note(orrery::DocumentLimits::kMaxTextLength, QLatin1Char('x'));
  auto panel = show(note);
  expectFixedSize(popover, *panel);
  EXPECT_EQ(panel->noteEdit()->toPlainText(), note);
  EXPECT_GT(panel->noteEdit()->verticalScrollBar()->maximum(), 0) << "one long word wraps and scrolls";
}

TEST_F(NoteDisplayTest, EmptyNoteShowsAnEmptyPanelAndClosingTellsTheDelegateOnce) {
  auto panel = show(QString());
  expectFixedSize(popover, *panel);
  EXPECT_TRUE(panel->noteEdit()->toPlainText().isEmpty());
  panel->closeButtonPressed();
  EXPECT_FALSE(popover->isShown());
  EXPECT_EQ(delegate.closes, 1);
}

TEST_F(NoteDisplayTest, TheHoverShowsThisPanelAndASecondNoteClosesTheFirst) {
  NoteDisplayViewController::installAsNoteDisplay();
  HoverHost host;
  host.host = window.contentView().get();
  {
    orrery::NoteHoverUtility hover(&host);
    hover.observeCursorHoveringOver(QStringLiteral("first"), QPointF(100, 100));
    hover.showNotePopoverFromRect(QRectF(90, 90, 20, 20));
    auto first = hover.notePopover();
    ASSERT_TRUE(first && first->isShown());
    auto* firstPanel = dynamic_cast<NoteDisplayViewController*>(first->contentViewController().get());
    ASSERT_NE(firstPanel, nullptr);
    ASSERT_NE(firstPanel->noteEdit(), nullptr);
    EXPECT_EQ(firstPanel->noteEdit()->toPlainText(), QStringLiteral("first"));

    hover.observeCursorHoveringOver(QStringLiteral("second"), QPointF(400, 100));
    hover.showNotePopoverFromRect(QRectF(390, 90, 20, 20));
    EXPECT_FALSE(first->isShown()) << "the first popover closed before the second showed";
    auto second = hover.notePopover();
    ASSERT_TRUE(second && second->isShown());
    auto* secondPanel = dynamic_cast<NoteDisplayViewController*>(second->contentViewController().get());
    ASSERT_NE(secondPanel, nullptr);
    EXPECT_EQ(secondPanel->noteEdit()->toPlainText(), QStringLiteral("second"));
    EXPECT_EQ(second->contentSize(), QSizeF(320, 254));
    hover.closeIfOpen();
  }
  orrery::NoteHoverUtility::setNoteDisplayFactory({});
  uitest::advance(0.3);
}

}  // namespace
