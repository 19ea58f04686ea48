#include "export/note_renderer.h"

#include "model/idea.h"
#include "support/recording_device.h"

#include <QPainter>

#include <gtest/gtest.h>

#include <algorithm>
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

TEST(NoteRenderer, ALongTitleIsShownWholeAboveItsNote) {
  const QString title = "A title long enough to need three or four lines in its column of the notes page";
  IdeaPtr root = Idea::createWithText("root");
  IdeaPtr child = Idea::createWithText(title);
  child->setNote("the note");
  root->addIdea(child);
  RecordingDelegate delegate(QSizeF(746, 1090));
  render(delegate, *root);
  ASSERT_EQ(delegate.pages.size(), 1u);
  QStringList words;
  double lowestTitleLine = 0, noteLine = 0;
  for (const DrawnText& t : delegate.texts(0)) {
    if (t.text == "the note") {
      noteLine = t.origin.y();
    } else if (t.text != "NOTES" && t.text != "001") {
      words += t.text.split(' ', Qt::SkipEmptyParts);
      lowestTitleLine = std::max(lowestTitleLine, t.origin.y());
    }
  }
  EXPECT_EQ(words.join(' '), title) << "every word of the title, in order";
  EXPECT_GT(noteLine, lowestTitleLine + 12) << "the note starts below the title's last line";
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
