#include "export/note_renderer.h"

#include "export/mind_map_to_pdf.h"
#include "export/printed_view.h"
#include "export_test_support.h"
#include "model/idea.h"
#include "support/pdf_tools.h"
#include "support/print_to_file.h"
#include "support/recording_device.h"

#include <QPainter>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

namespace orrery {
namespace {

using exporttest::DrawnText;
using exporttest::RecordingDevice;

// Hands out pages of a given layout area, y up, each recorded on its own device.
class RecordingDelegate : public NoteRendererDelegate {
 public:
  explicit RecordingDelegate(QSizeF area) : mArea(area) {}
  QPainter* startNotePage(QRectF* pageRect) override {
    EXPECT_FALSE(mPainter) << "a page begun while another is open";
    pages.push_back(std::make_unique<RecordingDevice>(int(mArea.width()), int(mArea.height())));
    mPainter = std::make_unique<QPainter>(pages.back().get());
    mPainter->translate(0, mArea.height());
    mPainter->scale(1, -1);
    *pageRect = QRectF(QPointF(0, 0), mArea);
    return mPainter.get();
  }
  void endNotePage() override {
    EXPECT_TRUE(mPainter);
    mPainter.reset();
  }
  const std::vector<DrawnText>& texts(size_t page) { return pages[page]->engine().texts; }
  // Note numbers drawn on a page, with their baselines (y down).
  std::vector<DrawnText> numbers(size_t page) {
    std::vector<DrawnText> found;
    for (const DrawnText& t : texts(page))
      if (t.text.size() >= 3 && t.text.toLongLong() > 0 && t.text == t.text.trimmed()) found.push_back(t);
    return found;
  }
  bool open() const { return bool(mPainter); }

  std::vector<std::unique_ptr<RecordingDevice>> pages;

 private:
  QSizeF mArea;
  std::unique_ptr<QPainter> mPainter;
};

IdeaPtr mapWithNotes(int count, const QString& note) {
  IdeaPtr root = Idea::createWithText("root");
  for (int i = 0; i < count; ++i) {
    IdeaPtr child = Idea::createWithText(QString("idea %1").arg(i + 1));
    child->setNote(note);
    root->addIdea(child);
  }
  return root;
}

std::int64_t render(RecordingDelegate& delegate, const Idea& root, std::int64_t first = 1) {
  NoteRenderer renderer(&delegate);
  const std::int64_t next = renderer.renderIdeaNotesRecursively(root, first);
  renderer.finishRendering();
  EXPECT_FALSE(delegate.open());
  return next;
}

TEST(NoteRenderer, PortraitHasThreeColumnsAndLandscapeFourEachPageWithItsHeader) {
  for (const auto& [area, columns] : {std::pair{QSizeF(746, 1090), 3}, std::pair{QSizeF(1090, 746), 4}}) {
    RecordingDelegate delegate(area);
    const IdeaPtr root = mapWithNotes(120, "A short note.");
    EXPECT_EQ(render(delegate, *root), 121);
    ASSERT_GE(delegate.pages.size(), 2u);
    std::set<int> xs;
    int numbered = 0;
    for (size_t page = 0; page < delegate.pages.size(); ++page) {
      EXPECT_EQ(delegate.texts(page).front().text, "NOTES");
      EXPECT_NEAR(delegate.texts(page).front().origin.y(), 8, 0.5) << "header 8 below the page top";
      for (const DrawnText& n : delegate.numbers(page)) {
        xs.insert(int(std::lround(n.origin.x())));
        ++numbered;
      }
    }
    EXPECT_EQ(numbered, 120);
    std::set<int> expected;
    for (int c = 0; c < columns; ++c) expected.insert(8 + 240 * c);
    EXPECT_EQ(xs, expected);
  }
}

TEST(NoteRenderer, EntriesStartWithAHundredPointsOfRoomAndLongNotesContinueInTheNextColumn) {
  RecordingDelegate delegate(QSizeF(746, 1090));
  QString longNote;
  for (int i = 0; i < 400; ++i) longNote += QString("word%1 ").arg(i);
  const IdeaPtr root = mapWithNotes(6, longNote);
  render(delegate, *root);
  const double columnAreaBottom = 1090;  // y down: the column area spans 50 … 1090
  for (size_t page = 0; page < delegate.pages.size(); ++page) {
    for (const DrawnText& n : delegate.numbers(page)) {
      // The number's baseline is 13 below where its entry starts (14 down, 1 up).
      const double entryStart = n.origin.y() - 13;
      EXPECT_GT(columnAreaBottom - entryStart, 100) << n.text.toStdString();
    }
  }
  // Every note's text ends with its last word, once, and no title is repeated.
  int lastWords = 0, titles = 0, numbers = 0;
  for (size_t page = 0; page < delegate.pages.size(); ++page) {
    for (const DrawnText& t : delegate.texts(page)) {
      lastWords += t.text.contains("word399");
      titles += t.text.startsWith("idea ");
    }
    numbers += int(delegate.numbers(page).size());
  }
  EXPECT_EQ(lastWords, 6);
  EXPECT_EQ(titles, 6);
  EXPECT_EQ(numbers, 6);
  // A continued note starts at the top of its next column: some note line sits just below
  // the column area's top (50, y down) with no number beside it.
  bool continued = false;
  for (const DrawnText& t : delegate.texts(0))
    if (t.text.startsWith("word") && t.origin.y() < 50 + 20 && t.origin.x() > 248) continued = true;
  EXPECT_TRUE(continued);
}

TEST(NoteRenderer, LinksAreSkippedAndNumbersKeepTheirDigits) {
  IdeaPtr root = Idea::createWithText("root");
  IdeaPtr target = Idea::createWithText("target");
  target->setNote("target note");
  IdeaPtr untitled = Idea::createWithText("");
  untitled->setNote("untitled note");
  root->addIdea(Idea::createWithLinkToIdea(target->identifier()));
  root->addIdea(target);
  root->addIdea(untitled);
  EXPECT_TRUE(NoteRenderer::hasNotes(*root));
  EXPECT_FALSE(NoteRenderer::hasNotes(*root->ideas()[0])) << "a link never has notes of its own";

  RecordingDelegate delegate(QSizeF(746, 1090));
  EXPECT_EQ(render(delegate, *root, 1234), 1236);
  QStringList texts;
  for (const DrawnText& t : delegate.texts(0)) texts << t.text;
  EXPECT_EQ(texts, (QStringList{"NOTES", "1234", "target", "target note", "1235", "untitled note"}));

  RecordingDelegate small(QSizeF(746, 1090));
  render(small, *mapWithNotes(1, "n"), 7);
  EXPECT_EQ(small.numbers(0).front().text, "007");
}

// A title of `length` characters made of numbered words ("t7w001 t7w002 …" for tag 7).
QString longTitle(int tag, int length) {
  QString title;
  for (int word = 1; title.size() < length; ++word) title += QString("t%1w%2 ").arg(tag).arg(word, 3, 10, QChar('0'));
  return title.left(length);
}

// Checks every word of the note pages against its column (the 240-point strip its left edge
// stands in, below the 50-point header band) and the page's foot; answers the lines each title
// word was drawn on, by title tag. The page's scale and place come from the first note page:
// its entry numbers mark where the columns start and where the first entry's top is.
std::map<int, std::set<int>> checkNotePages(const QString& pdf, QSizeF layout, const std::string& name) {
  const auto words = testsupport::pdfWords(pdf);
  static const QRegularExpression number("^\\d{3,}$");
  std::set<double> lefts;
  double firstTop = 1e9;
  for (const auto& w : words)
    if (w.page == 2 && number.match(w.text).hasMatch()) {
      lefts.insert(w.xMin);
      firstTop = std::min(firstTop, w.yMin);
    }
  std::map<int, std::set<int>> titleLines;
  if (lefts.size() < 2 || *lefts.rbegin() - *lefts.begin() < 100) {
    ADD_FAILURE() << name << ": the first note page has fewer than two columns";
    return titleLines;
  }
  const double left0 = *lefts.begin();
  const double scale = *std::find_if(lefts.begin(), lefts.end(), [&](double x) { return x > left0 + 100; });
  const double s = (scale - left0) / 240;
  const int columns = int(layout.width() - 8) / 240;
  for (const auto& w : words) {
    if (w.page < 2 || w.text == "NOTES") continue;
    const double left = 8 + (w.xMin - left0) / s, right = 8 + (w.xMax - left0) / s;
    const double top = 50 + (w.yMin - firstTop) / s, bottom = 50 + (w.yMax - firstTop) / s;
    const int column = int(std::floor((left - 8 + 0.5) / 240));
    const std::string where = name + ": \"" + w.text.toStdString() + "\" on page " + std::to_string(w.page);
    EXPECT_TRUE(column >= 0 && column < columns) << where;
    EXPECT_LE(right, 8 + 240.0 * (column + 1)) << where << " reaches into the next column";
    // A word's box is as tall as its font's ascent, a little above its ink.
    EXPECT_GE(top, 50 - 4) << where << " rises into the header band";
    EXPECT_LE(bottom, layout.height() + 0.5) << where << " runs past the foot of the page";
    static const QRegularExpression titleWord("^t(\\d+)w\\d+$");
    if (const auto m = titleWord.match(w.text); m.hasMatch())
      titleLines[m.captured(1).toInt()].insert(int(std::lround(w.yMin)));
  }
  return titleLines;
}

TEST(NoteRenderer, ALongTitleShowsItsFirstLineOnlyAndEveryPageKeepsToItsColumns) {
  // The long titles stand low in a column: after twelve entries, and at the foot of the last
  // column, where a whole title would run off the page.
  IdeaPtr root = Idea::createWithText("root");
  std::map<int, QString> notes;
  auto add = [&](const QString& title, int tag) {
    IdeaPtr idea = Idea::createWithText(title);
    notes[tag] = QString("Note %1").arg(tag) + QString(" and more words").repeated(12 + tag % 5) + QString(" last%1x").arg(tag);
    idea->setNote(notes[tag]);
    root->addIdea(idea);
  };
  add(longTitle(1, 2000), 1);
  for (int tag = 2; tag <= 13; ++tag) add(QString("entry %1").arg(tag), tag);
  add(longTitle(14, 400), 14);
  for (int tag = 15; tag <= 40; ++tag) add(tag % 9 == 0 ? longTitle(tag, 2000) : QString("entry %1").arg(tag), tag);

  QTemporaryDir dir;
  struct Written {
    std::string name;
    QString pdf;
    QSizeF layout;
  };
  std::vector<Written> written;
  MindMapToPDF pdf(root, QDateTime());
  pdf.setShowNotes(true);
  ASSERT_TRUE(pdf.writePDFNow(dir.filePath("notes.pdf"))->isOK());
  written.push_back({"PDF", dir.filePath("notes.pdf"), QSizeF(746, 1090)});
  for (const auto orientation : {QPageLayout::Portrait, QPageLayout::Landscape}) {
    const QString file = dir.filePath(QString("printed%1.pdf").arg(int(orientation)));
    uitest::PresenterScope presenter;
    PrintedView view(root, QDateTime());
    presenter->printAnswers.push_back(testsupport::printToPdfFile(file, orientation));
    platform::PrintOperation operation(view);
    ASSERT_EQ(operation.runOperation(), platform::PrintOperation::Outcome::Printed);
    written.push_back(
        {orientation == QPageLayout::Portrait ? "printed portrait" : "printed landscape", file, view.layoutArea()});
  }
  for (const Written& w : written) {
    const std::map<int, std::set<int>> titleLines = checkNotePages(w.pdf, w.layout, w.name);
    for (const int tag : {1, 14, 18, 27, 36}) {
      ASSERT_TRUE(titleLines.count(tag)) << w.name << ": title " << tag << " is missing";
      EXPECT_EQ(titleLines.at(tag).size(), 1u) << w.name << ": title " << tag << " shows more than its first line";
    }
    // Every note after a long title is still there to its last word.
    const QString text = testsupport::pdfText(w.pdf);
    for (const auto& [tag, note] : notes)
      EXPECT_TRUE(text.contains(QString("last%1x").arg(tag))) << w.name << ": note " << tag;
  }
}

TEST(NoteRenderer, AMapWithoutNotesBeginsNoPage) {
  IdeaPtr root = mapWithNotes(3, "");
  EXPECT_FALSE(NoteRenderer::hasNotes(*root));
  RecordingDelegate delegate(QSizeF(746, 1090));
  render(delegate, *root);
  EXPECT_TRUE(delegate.pages.empty());
}

TEST(NoteRenderer, ALineThatFitsNoColumnIsDrawnCutAndThePassEnds) {
  // Columns 10 points tall: no line of 12-point text fits any of them.
  RecordingDelegate delegate(QSizeF(500, 60));
  const IdeaPtr root = mapWithNotes(2, "first line of the note\nsecond line\nthird");
  EXPECT_EQ(render(delegate, *root), 3);
  ASSERT_FALSE(delegate.pages.empty());
  EXPECT_LT(delegate.pages.size(), 20u);
  int drawn = 0;
  for (size_t page = 0; page < delegate.pages.size(); ++page)
    for (const DrawnText& t : delegate.texts(page)) drawn += t.text.contains("third");
  EXPECT_EQ(drawn, 2);
}

}  // namespace
}  // namespace orrery
