// The edit popover's panel in a real popover over an offscreen window: what it hands back,
// when it counts as changed, and the keys that close it or open the note.

#include "icon_pictures.h"
#include "ui_test_env.h"

#include "foundation/text_wrap.h"
#include "model/color_theme.h"
#include "model/document_limits.h"
#include "model/icon_image_collection.h"
#include "panels/edit_idea_view_controller.h"
#include "panels/note_text_edit.h"
#include "platform/ui/popover.h"
#include "platform/ui/window.h"
#include "support/window_manager_child.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QMainWindow>
#include <QMimeData>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QTextLayout>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

using orrery::EditIdeaViewController;

namespace {

struct CountingDelegate : orrery::EditIdeaViewControllerDelegate {
  int closes = 0;
  QString titleAtClose;
  EditIdeaViewController* panel = nullptr;
  void editIdeaViewDidClose() override {
    ++closes;
    if (panel) titleAtClose = panel->selectedTitleText();
  }
};

struct PanelTest : ::testing::Test {
  PanelTest() : window(QSizeF(600, 400)) {
    window.setContentView(std::make_shared<platform::View>(QRectF(0, 0, 600, 400)));
    window.makeKeyAndOrderFront();
  }
  ~PanelTest() override {
    if (popover && popover->isShown()) popover->close();
    uitest::advance(0.5);
  }
  std::shared_ptr<EditIdeaViewController> show(const QString& title, const QString& note) {
    popover = platform::Popover::create();
    popover->setBehavior(platform::Popover::Semitransient);
    auto panel = EditIdeaViewController::createForPopover(popover);
    panel->setSelectedTitleText(title);
    panel->setSelectedNoteText(note);
    panel->setSelectedColor(colour(0));
    panel->setSelectedColorThemeType(orrery::ColorThemeTypeLighterColor);
    panel->setSelectedIconImage(nullptr);
    delegate.panel = panel.get();
    panel->setDelegate(&delegate);
    popover->showRelativeToRect(QRectF(100, 100, 50, 50), window.contentView().get(), platform::RectEdge::MaxY);
    return panel;
  }
  static orrery::ColorPtr colour(int i) { return orrery::ColorTheme::standardThemes().front()->colors()[i]; }
  void select(orrery::EditViewTabBar& bar, std::size_t tab) {
    auto& button = *bar.tabControls().at(tab);
    const QPointF p = button.convertPointToView(button.bounds().center(), nullptr);
    popover->window()->sendEvent(platform::Event::mouse(platform::EventType::LeftMouseDown, p));
    popover->window()->sendEvent(platform::Event::mouse(platform::EventType::LeftMouseUp, p));
    uitest::advance(0.3);  // a button reports its press after its release shows
  }
  QLineEdit* title(EditIdeaViewController& panel) {
    return panel.textTabView()->titleTextField()->field()->lineEdit();
  }
  // Run as another program: copies `text` from its title as the user does and holds the
  // clipboard until ended.
  void copyTitleForAnotherProgram(const QString& text) {
    auto panel = show(text, QString());
    title(*panel)->selectAll();
    QTest::keyClick(title(*panel), Qt::Key_C, Qt::ControlModifier);
    std::printf("COPIED\n");
    std::fflush(stdout);
    (void)QTest::qWaitFor([] { return false; }, 60000);
  }

  platform::Window window;
  std::shared_ptr<platform::Popover> popover;
  CountingDelegate delegate;
};

TEST(EditIdeaPanel, EmptyAndNilTextsAreEqualOthersCompareAsTheyAre) {
  EXPECT_TRUE(EditIdeaViewController::textEquality(QString(), QStringLiteral("")));
  EXPECT_TRUE(EditIdeaViewController::textEquality(QStringLiteral("a"), QStringLiteral("a")));
  EXPECT_FALSE(EditIdeaViewController::textEquality(QStringLiteral("a"), QString()));
  EXPECT_FALSE(EditIdeaViewController::textEquality(QString(), QStringLiteral("a")));
  EXPECT_FALSE(EditIdeaViewController::textEquality(QStringLiteral("a"), QStringLiteral("A")));
}

TEST_F(PanelTest, UntouchedItIsUnchangedAndEachValueCountsAsAChange) {
  auto panel = show(QStringLiteral("Sun"), QString());
  ASSERT_TRUE(popover->isShown());
  EXPECT_TRUE(popover->takesKeyboardFocus()) << "a panel with a field takes the keys";
  popover->performClose();
  EXPECT_EQ(delegate.closes, 1);
  EXPECT_FALSE(panel->didChange()) << "opened and closed untouched";

  panel->setSelectedNoteText(QStringLiteral(""));
  EXPECT_FALSE(panel->didChange()) << "an empty note equals none";
  panel->setSelectedColor(colour(1));
  EXPECT_TRUE(panel->didChange());
  panel->setSelectedColor(colour(0));
  EXPECT_FALSE(panel->didChange()) << "the colour it had again";
  panel->setSelectedColorThemeType(orrery::ColorThemeType(orrery::ColorThemeTypeLighterColor + 1));
  EXPECT_TRUE(panel->didChange()) << "the rule";
  panel->setSelectedColorThemeType(orrery::ColorThemeTypeLighterColor);
  panel->setSelectedTitleText(QString());
  EXPECT_TRUE(panel->didChange()) << "a cleared title";
  panel->setSelectedTitleText(QStringLiteral("Sun"));
  panel->setSelectedNoteText(QStringLiteral("n"));
  EXPECT_TRUE(panel->didChange()) << "a note";
  EXPECT_FALSE(panel->didRecolor());
}

TEST_F(PanelTest, ReturnInTheTitleClosesOnceWithTheTypedTitle) {
  auto panel = show(QString(), QString());
  QLineEdit* edit = title(*panel);
  EXPECT_EQ(edit->text(), QString()) << "a nil title shows an empty field";
  EXPECT_EQ(edit->placeholderText(), QStringLiteral("Title")) << "the placeholder is a text, not its key";
  QTest::keyClicks(edit, QStringLiteral("Jupiter"));
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_FALSE(popover->isShown());
  EXPECT_EQ(delegate.closes, 1);
  EXPECT_EQ(delegate.titleAtClose, QStringLiteral("Jupiter")) << "values are refreshed before the delegate hears";
  EXPECT_TRUE(panel->didChange());
  EXPECT_EQ(panel->selectedNoteText(), QString()) << "a closed note area hands back no note";
}

// A title longer than a line edit holds by default, up to the most a map holds, is handed back
// whole from an untouched field; an edit that would take it beyond is refused whole, saying why.
TEST_F(PanelTest, ATitleKeepsAllAMapHoldsAndAnEditBeyondIsRefusedSayingWhy) {
  uitest::PresenterScope presenter;
  const QString beyondTheDefault(32768, QLatin1Char('t'));
  auto panel = show(beyondTheDefault, QString());
  QTest::keyClick(title(*panel), Qt::Key_Return);
  EXPECT_EQ(delegate.titleAtClose, beyondTheDefault);
  EXPECT_FALSE(panel->didChange());

  const QString most(orrery::DocumentLimits::kMaxTextLength, QLatin1Char('t'));
  panel = show(most, QString());
  QLineEdit* edit = title(*panel);
  QTest::keyClick(edit, Qt::Key_A);
  QGuiApplication::clipboard()->setText(QStringLiteral("more"));
  QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
  uitest::advance(0.05);
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(delegate.titleAtClose, most) << "neither a letter nor a paste beyond the limit goes in";
  ASSERT_EQ(presenter->alerts.size(), 1u) << "one alert for the key and the paste refused together";
  EXPECT_EQ(presenter->alerts[0].informativeText, orrery::DocumentLimits::textTooLongMessage());
}

TEST_F(PanelTest, EscapeAndAClickElsewhereCloseIt) {
  auto panel = show(QStringLiteral("a"), QString());
  QTest::keyClick(title(*panel), Qt::Key_Escape);
  EXPECT_FALSE(popover->isShown()) << "Escape in the field";
  EXPECT_EQ(delegate.closes, 1);
  panel = show(QStringLiteral("a"), QString());
  window.sendEvent(platform::Event::mouse(platform::EventType::LeftMouseDown, QPointF(500, 350)));
  window.sendEvent(platform::Event::mouse(platform::EventType::LeftMouseUp, QPointF(500, 350)));
  EXPECT_FALSE(popover->isShown()) << "a click in the window it points into";
  EXPECT_EQ(delegate.closes, 2);
}

TEST_F(PanelTest, TheNoteAreaOpensForANoteOrOnTabAndGrowsThePopover) {
  auto panel = show(QStringLiteral("t"), QStringLiteral("remember"));
  ASSERT_TRUE(panel->textTabView()->isExtended()) << "an idea with a note opens extended";
  EXPECT_EQ(panel->textTabView()->noteEdit()->toPlainText(), QStringLiteral("remember"));
  EXPECT_DOUBLE_EQ(popover->contentSize().height(), 381) << "bar 61 over the extended 320";
  popover->performClose();

  panel = show(QStringLiteral("t"), QString());
  EXPECT_FALSE(panel->textTabView()->isExtended());
  EXPECT_DOUBLE_EQ(popover->contentSize().height(), 123) << "bar 61 over the compact 62";
  QTest::keyClick(title(*panel), Qt::Key_Tab);
  uitest::advance(0.01);
  ASSERT_TRUE(panel->textTabView()->isExtended()) << "Tab opens the note";
  EXPECT_TRUE(popover->isShown());
  EXPECT_DOUBLE_EQ(popover->contentSize().height(), 381);
  QTextEdit* note = panel->textTabView()->noteEdit();
  QTest::keyClicks(note, QStringLiteral("line"));
  QTest::keyClick(note, Qt::Key_Return);
  EXPECT_TRUE(popover->isShown()) << "Return in the note is a new line";
  QTest::keyClicks(note, QStringLiteral("two"));
  popover->performClose();
  EXPECT_EQ(panel->selectedNoteText(), QStringLiteral("line\ntwo"));
  EXPECT_TRUE(panel->didChange());

  // Tab and a close in the same turn: the note never opens behind the closed popover.
  panel = show(QStringLiteral("t"), QString());
  QTest::keyClick(title(*panel), Qt::Key_Tab);
  popover->performClose();
  uitest::advance(0.01);
  EXPECT_FALSE(panel->textTabView()->isExtended());
  EXPECT_DOUBLE_EQ(panel->currentDesiredHeight(), 123);
  EXPECT_FALSE(popover->isShown());
}

TEST_F(PanelTest, TabsSwitchWithTheirSizesAndTheColourPreviewShowsTheTypedTitle) {
  auto panel = show(QStringLiteral("Sun"), QString());
  QTest::keyClicks(title(*panel), QStringLiteral("ny"));
  auto* bar = panel->tabBar();
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(panel->currentTab(), orrery::EditIdeaTabText);
  EXPECT_TRUE(bar->tabControls()[0]->toggled());

  select(*bar, 1);
  ASSERT_NE(panel->colorTabView(), nullptr);
  EXPECT_EQ(panel->currentTab(), orrery::EditIdeaTabColor);
  EXPECT_TRUE(bar->tabControls()[1]->toggled());
  EXPECT_FALSE(bar->tabControls()[0]->toggled());
  EXPECT_DOUBLE_EQ(popover->contentSize().height(), 483);
  EXPECT_EQ(panel->colorTabView()->frame(), QRectF(0, 61, 320, 422));
  EXPECT_EQ(panel->colorTabView()->mainPlanetLayer()->text(), QStringLiteral("Sunny"));
  EXPECT_EQ(panel->textTabView()->superview(), nullptr) << "only the current tab is shown";

  // The shown tab chosen again reloads nothing and keeps the size.
  panel->colorTabView()->setSelectedColor(colour(3));
  select(*bar, 1);
  EXPECT_EQ(panel->colorTabView()->selectedColor(), colour(3));
  EXPECT_DOUBLE_EQ(popover->contentSize().height(), 483);

  select(*bar, 0);
  EXPECT_DOUBLE_EQ(popover->contentSize().height(), 123);
  EXPECT_EQ(title(*panel)->text(), QStringLiteral("Sunny")) << "the kept text tab keeps its typing";
  popover->performClose();
  EXPECT_EQ(delegate.closes, 1);
  EXPECT_EQ(panel->selectedColor(), colour(3));
  EXPECT_EQ(panel->selectedTitleText(), QStringLiteral("Sunny"));
  EXPECT_TRUE(panel->didChange());
}

TEST_F(PanelTest, AColourAwayAndBackIsNoChangeButARecolourAloneIs) {
  auto panel = show(QStringLiteral("Sun"), QString());
  select(*panel->tabBar(), 1);
  auto* tab = panel->colorTabView();
  tab->handleColorSelection(colour(4));
  EXPECT_TRUE(panel->didChange());
  tab->handleColorSelection(colour(0));
  EXPECT_FALSE(panel->didChange()) << "back to the colour it had";
  tab->horizontalSelectorSelectedElementAtIndex(*tab->childThemeSelector(), 0);  // Define child theme
  tab->horizontalSelectorSelectedElementAtIndex(*tab->childThemeSelector(), 2);  // Same color
  EXPECT_TRUE(panel->didRecolor());
  EXPECT_TRUE(panel->didChange());
  // The done button closes once, after the pull.
  auto& done = *panel->tabBar()->doneButton();
  const QPointF p = done.convertPointToView(done.bounds().center(), nullptr);
  popover->window()->sendEvent(platform::Event::mouse(platform::EventType::LeftMouseDown, p));
  popover->window()->sendEvent(platform::Event::mouse(platform::EventType::LeftMouseUp, p));
  uitest::advance(0.3);
  EXPECT_FALSE(popover->isShown());
  EXPECT_EQ(delegate.closes, 1);
  EXPECT_EQ(panel->selectedColorThemeType(), orrery::ColorThemeTypeSameColor);

  // Presented again, the kept colour tab reloads and "No change" restores the new rule.
  panel->setSelectedColorThemeType(orrery::ColorThemeTypeVaryingColors);
  popover->showRelativeToRect(QRectF(100, 100, 50, 50), window.contentView().get(), platform::RectEdge::MaxY);
  EXPECT_EQ(panel->currentTab(), orrery::EditIdeaTabText);
  EXPECT_FALSE(panel->didChange()) << "a new presentation starts unchanged";
  select(*panel->tabBar(), 1);
  EXPECT_EQ(panel->colorTabView()->childThemeSelector()->numElements(), 1) << "collapsed again";
  EXPECT_EQ(panel->colorTabView()->selectedColorThemeType(), orrery::ColorThemeTypeVaryingColors);
}

TEST_F(PanelTest, TheIconTabPicksAndRemovesAndThePanelReadsIt) {
  auto& catalogue = orrery::IconImageCollection::instance();
  ASSERT_FALSE(catalogue.categories().isEmpty());
  const auto icon = catalogue.iconImagesByCategory(catalogue.categories().front()).front();
  auto panel = show(QStringLiteral("Sun"), QString());
  select(*panel->tabBar(), 2);
  ASSERT_NE(panel->iconTabView(), nullptr);
  EXPECT_DOUBLE_EQ(popover->contentSize().height(), 483);
  panel->iconTabView()->handleIconSelection(icon);
  EXPECT_EQ(panel->selectedIconImage(), icon) << "pulled on the change";
  EXPECT_TRUE(panel->didChange());
  popover->performClose();
  EXPECT_EQ(panel->selectedIconImage(), icon);

  // Presented again with the icon: the kept tab reloads, and removing it reads back as none.
  popover->showRelativeToRect(QRectF(100, 100, 50, 50), window.contentView().get(), platform::RectEdge::MaxY);
  select(*panel->tabBar(), 2);
  auto& list = *panel->iconTabView()->iconCategoryTableView();
  ASSERT_NE(dynamic_cast<orrery::RemoveIconCell*>(list.rows()[0].get()), nullptr);
  auto& remove = *list.rows()[0];
  const QPointF p = remove.convertPointToView(remove.bounds().center(), nullptr);
  popover->window()->sendEvent(platform::Event::mouse(platform::EventType::LeftMouseDown, p));
  popover->window()->sendEvent(platform::Event::mouse(platform::EventType::LeftMouseUp, p));
  uitest::advance(0.3);
  popover->performClose();
  EXPECT_EQ(delegate.closes, 2);
  EXPECT_EQ(panel->selectedIconImage(), nullptr);
  EXPECT_TRUE(panel->didChange());
  waitForIconPictures();
}

TEST_F(PanelTest, TheNoteSitsInsideItsBorderAndAnEmptyNoteAreaClosesOnReturn) {
  auto panel = show(QStringLiteral("t"), QStringLiteral("first\nsecond"));
  auto* tab = panel->textTabView();
  ASSERT_TRUE(tab->isExtended());
  tab->layout();
  EXPECT_EQ(tab->noteScrollView()->frame(), QRectF(10, 56, 300, 254)) << "below the title, 254 high";
  EXPECT_EQ(tab->noteHost()->frame(), QRectF(1, 1, 298, 252)) << "1 point inside the border";
  QTextEdit* note = tab->noteEdit();
  EXPECT_EQ(note->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(note->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(note->frameShape(), QFrame::NoFrame);
  const QRect caret = note->cursorRect(QTextCursor(note->document()));
  EXPECT_NEAR(caret.left(), 5, 1);
  EXPECT_EQ(caret.top(), 3) << "the inset survives a reload of the text";
  popover->performClose();

  // Tab opens an empty note with the caret at its start; left empty, a return to the tab closes it.
  panel = show(QStringLiteral("t"), QString());
  QTest::keyClick(title(*panel), Qt::Key_Tab);
  uitest::advance(0.01);
  ASSERT_TRUE(panel->textTabView()->isExtended());
  EXPECT_EQ(panel->textTabView()->noteEdit()->textCursor().position(), 0);
  EXPECT_EQ(title(*panel)->text(), QStringLiteral("t")) << "Tab is not typed into the title";
  select(*panel->tabBar(), 1);
  select(*panel->tabBar(), 0);
  EXPECT_FALSE(panel->textTabView()->isExtended());
  EXPECT_DOUBLE_EQ(popover->contentSize().height(), 123);
  popover->performClose();
  EXPECT_FALSE(panel->didChange()) << "an empty note equals no note";
}

// Whether every line of the note's first paragraph but its last ends at a space.
bool wrapsAtWords(QTextEdit* note) {
  note->document()->documentLayout()->documentSize();  // lays the whole note out
  const QTextBlock block = note->document()->firstBlock();
  const QTextLayout* layout = block.layout();
  if (layout->lineCount() < 2) return false;
  for (int i = 0; i + 1 < layout->lineCount(); ++i) {
    const QTextLine line = layout->lineAt(i);
    if (block.text().at(line.textStart() + line.textLength() - 1) != QLatin1Char(' ')) return false;
  }
  return true;
}

void paste(QTextEdit* note, const QString& text) {
  QGuiApplication::clipboard()->setText(text);
  note->selectAll();
  QTest::keyClick(note, Qt::Key_V, Qt::ControlModifier);
}

TEST_F(PanelTest, ANoteOfOneLongLineIsKeptAsPastedAndWordsStillWrapAtTheirBoundaries) {
  const QString words = QStringLiteral("alpha beta gamma delta epsilon ").repeated(20);
  auto panel = show(QStringLiteral("t"), words);
  QTextEdit* note = panel->textTabView()->noteEdit();
  EXPECT_TRUE(wrapsAtWords(note));

  // The most a map holds, without a space or a break: kept as pasted, and a key typed after it.
  const QString line(orrery::DocumentLimits::kMaxTextLength - 1, QLatin1Char('x'));
  paste(note, line);
  QTest::keyClick(note, Qt::Key_Y);
  EXPECT_EQ(note->toPlainText(), line + QLatin1Char('y'));
  EXPECT_GT(note->document()->firstBlock().layout()->lineCount(), 1000) << "the line wraps";

  // Words again in its place wrap at their boundaries once more; an undo brings the line back.
  paste(note, words);
  uitest::advance(0.01);
  EXPECT_TRUE(wrapsAtWords(note));
  QTest::keyClick(note, Qt::Key_Z, Qt::ControlModifier);
  EXPECT_EQ(note->toPlainText(), line + QLatin1Char('y'));
  note->redo();
  popover->performClose();
  EXPECT_EQ(panel->selectedNoteText(), words);
}

// Counts the note's layouts, and those whose wrap or shaping did not fit the text laid out.
struct LayoutWatch {
  explicit LayoutWatch(QTextEdit* note) {
    QObject::connect(note->document()->documentLayout(), &QAbstractTextDocumentLayout::update, &guard, [this, note] {
      ++layouts;
      const bool needed = orrery::textwrap::needsWrapAnywhere(orrery::noteTextOf(*note->document()));
      const bool unshaped = note->document()->defaultFont().styleStrategy() & QFont::PreferNoShaping;
      if ((note->wordWrapMode() == QTextOption::WrapAnywhere) != needed || unshaped != needed) ++misfits;
    });
  }
  QObject guard;
  int layouts = 0;
  int misfits = 0;
};

void sendDrop(QTextEdit* note, const QString& text) {
  QMimeData data;
  data.setText(text);
  const QPoint at(10, 10);
  QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(note->viewport(), &enter);
  QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(note->viewport(), &drop);
}

// Another program's text as the clipboard or a drag holds it: UTF-8 bytes.
QMimeData* utf8Text(const QString& text) {
  auto* data = new QMimeData;
  for (const char* type : {"text/plain;charset=utf-8", "text/plain"}) data->setData(QLatin1String(type), text.toUtf8());
  return data;
}

// The title and the note hand back every character as it is: a note the editor holds otherwise
// (U+2029, "\r\n") comes back as loaded while untouched, and what is typed, pasted or dropped
// goes in as the keys, the clipboard or the drag have it (Qt's reading drops a leading U+FEFF).
TEST_F(PanelTest, TheTitleAndTheNoteHandBackEveryCharacterAsItIs) {
  const QString price = QStringLiteral("Prix\u00a0: 10\u00a0€"), marked = QStringLiteral("\uFEFF\uFEFFplan");
  static constexpr char kCopier[] = "ORRERY_COPY_MARKED_TITLE";
  if (qEnvironmentVariableIsSet(kCopier)) return copyTitleForAnotherProgram(marked);
  const QString note = price + QStringLiteral("\u2028deux\u2029trois\r\nquatre\nfin"), t = QStringLiteral("t");
  const auto pasteAtEnd = [](QWidget* into, QMimeData* data) {
    if (data) QGuiApplication::clipboard()->setMimeData(data);
    if (auto* note = qobject_cast<QTextEdit*>(into)) note->moveCursor(QTextCursor::End);
    QTest::keyClick(into, Qt::Key_V, Qt::ControlModifier);
  };
  const struct {
    const char* way;
    QString title, note;
    std::function<void(QLineEdit*, QTextEdit*)> act;
    QString wantTitle, wantNote;
    bool betweenPrograms = false;  // only a real screen has a clipboard programs share
  } rows[] = {
      {"untouched", price, note, [](QLineEdit*, QTextEdit*) {}, price, note},
      {"only the title edited", price, note, [](QLineEdit* l, QTextEdit*) { QTest::keyClick(l, Qt::Key_X); },
       price + QLatin1Char('x'), note},
      {"typed, pasted from another program, copied and pasted", t, QStringLiteral("a"),
       [&](QLineEdit*, QTextEdit* n) {
         QKeyEvent nbsp(QEvent::KeyPress, Qt::Key_nobreakspace, Qt::NoModifier, QStringLiteral("\u00a0"));
         n->moveCursor(QTextCursor::End);
         QApplication::sendEvent(n, &nbsp);
         QTest::keyClick(n, Qt::Key_Return, Qt::ShiftModifier);
         pasteAtEnd(n, utf8Text(QStringLiteral("\u00a0\u2028")));
         n->selectAll();
         n->copy();
         pasteAtEnd(n, nullptr);
       },
       t, QStringLiteral("a\u00a0\u2028\u00a0\u2028").repeated(2)},
      {"marks pasted into both", t, QStringLiteral("n"),
       [&](QLineEdit* l, QTextEdit* n) {
         QTest::keyClick(l, Qt::Key_X);
         pasteAtEnd(l, utf8Text(marked));
         l->undo();
         EXPECT_EQ(l->text(), QStringLiteral("tx")) << "the paste is an undo step of its own";
         l->redo();
         pasteAtEnd(n, nullptr);
       },
       QStringLiteral("tx") + marked, QStringLiteral("n") + marked},
      {"marks dropped on the title", t, QString(),
       [&](QLineEdit* l, QTextEdit*) {
         const std::unique_ptr<QMimeData> data(utf8Text(marked));
         const QPoint at(l->width() - 2, l->height() / 2);
         QDragEnterEvent enter(at, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
         QApplication::sendEvent(l, &enter);
         QDropEvent drop(at, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
         QApplication::sendEvent(l, &drop);
       },
       t + marked, QString()},
      {"marks copied in another program and pasted", t, QString(),
       [&](QLineEdit* l, QTextEdit*) {
         QProcess copier;
         testsupport::startThisProgramAgain(copier, "PanelTest.TheTitleAndTheNoteHandBackEveryCharacterAsItIs",
                                            {{kCopier, "1"}});
         QByteArray said;
         const bool copied = QTest::qWaitFor(
                                 [&] {
                                   said += copier.readAll();
                                   return said.contains("COPIED") || copier.state() == QProcess::NotRunning;
                                 },
                                 30000) &&
                             said.contains("COPIED");
         EXPECT_TRUE(copied) << "the other program did not copy: " << said.toStdString();
         pasteAtEnd(l, nullptr);
         testsupport::endProcess(copier);
       },
       t + marked, QString(), true},
  };
  for (const auto& row : rows) {
    if (row.betweenPrograms && !testsupport::inWindowManagerChild()) continue;
    SCOPED_TRACE(row.way);
    auto panel = show(row.title, row.note);
    row.act(title(*panel), panel->textTabView()->noteEdit());
    popover->performClose();
    EXPECT_EQ(panel->selectedTitleText(), row.wantTitle);
    EXPECT_EQ(panel->selectedNoteText(), row.wantNote);
    EXPECT_EQ(panel->didChange(), row.wantTitle != row.title || row.wantNote != row.note) << "only a change is saved";
  }
  if (!testsupport::inWindowManagerChild()) testsupport::runInWindowManagerChild({false});
}

// Every way a text comes into the note lays it out in the wrap it needs from its first layout:
// the word wrap laid over a long line of letters would take seconds.
TEST_F(PanelTest, EveryWayATextComesInLaysItOutInTheWrapItNeeds) {
  const QString words = QStringLiteral("alpha beta gamma delta epsilon ").repeated(20);
  const QString line(25000, QLatin1Char('x')), justWordWrapped(20000, QLatin1Char('x'));
  const QString joined = QStringLiteral("x\u00a0").repeated(12500);  // no place to break either
  auto panel = show(QStringLiteral("t"), words);
  orrery::IdeaTextEditTabView* tab = panel->textTabView();
  QTextEdit* note = tab->noteEdit();
  const struct {
    const char* way;
    std::function<void()> bring;
    bool anywhere;
  } steps[] = {
      {"loaded from the map", [&] { tab->reloadFrom(QStringLiteral("t"), line); }, true},
      {"loaded again", [&] { tab->reloadFrom(QStringLiteral("t"), words); }, false},
      {"letters joined by no-break spaces", [&] { tab->reloadFrom(QStringLiteral("t"), joined); }, true},
      {"words once more", [&] { tab->reloadFrom(QStringLiteral("t"), words); }, false},
      {"pasted", [&] { paste(note, line); }, true},
      {"pasted over", [&] { paste(note, words); }, false},
      {"undone", [&] { QTest::keyClick(note, Qt::Key_Z, Qt::ControlModifier); }, true},
      {"redone", [&] { note->redo(); }, false},
      {"dropped", [&] { note->clear(); sendDrop(note, line); }, true},
      {"as much typed by a key",
       [&] {
         paste(note, justWordWrapped);
         QTest::keyClick(note, Qt::Key_X);
       },
       true},
      {"erased by a key", [&] { QTest::keyClick(note, Qt::Key_Backspace); }, false},
      {"composed",
       [&] {
         note->clear();
         QInputMethodEvent composed;
         composed.setCommitString(line);
         QApplication::sendEvent(note, &composed);
       },
       true},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.way);
    LayoutWatch watch(note);
    step.bring();
    uitest::advance(0.01);
    note->document()->documentLayout()->documentSize();
    EXPECT_EQ(watch.misfits, 0) << "of " << watch.layouts << " layouts";
    EXPECT_GE(watch.layouts, 1);
    EXPECT_EQ(note->wordWrapMode() == QTextOption::WrapAnywhere, step.anywhere);
  }
}

TEST_F(PanelTest, TheNoteMenuIsReducedToTheClipboardItemsAndActsOnTheNote) {
  uitest::PresenterScope presenter;
  auto panel = show(QStringLiteral("t"), QStringLiteral("alpha beta"));
  QTextEdit* note = panel->textTabView()->noteEdit();
  note->selectAll();
  auto menu = orrery::IdeaTextEditTabView::noteMenuFor(note);
  ASSERT_NE(menu, nullptr);
  QStringList actions;
  int cut = -1;
  for (int i = 0; i < menu->numberOfItems(); ++i) {
    const auto& item = menu->items()[static_cast<size_t>(i)];
    if (item->isSeparator()) continue;
    actions << item->action();
    if (item->action() == QStringLiteral("cut")) cut = i;
  }
  EXPECT_FALSE(actions.contains(QStringLiteral("undo"))) << actions.join(QLatin1Char(',')).toStdString();
  EXPECT_TRUE(actions.contains(QStringLiteral("copy")));
  ASSERT_GE(cut, 0);
  // Chosen through the real request, the cut empties the note.
  presenter->menuAnswers.push_back(cut);
  emit note->customContextMenuRequested(QPoint(5, 5));
  uitest::advance(0.01);
  EXPECT_EQ(presenter->menuLocations.size(), 1u);
  EXPECT_TRUE(note->toPlainText().isEmpty());
}

TEST_F(PanelTest, AReadOnlyPopoverStillLeavesTheKeysToItsOwner) {
  auto content = std::make_shared<platform::ViewController>();
  content->setView(std::make_shared<platform::View>(QRectF(0, 0, 100, 50)));
  popover = platform::Popover::create();
  popover->setContentViewController(content);
  popover->showRelativeToRect(QRectF(10, 10, 10, 10), window.contentView().get(), platform::RectEdge::MaxY);
  EXPECT_FALSE(popover->takesKeyboardFocus());
  EXPECT_TRUE(popover->window()->widget()->testAttribute(Qt::WA_ShowWithoutActivating));
}

}  // namespace
