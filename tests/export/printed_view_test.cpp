#include "export/printed_view.h"

#include "export_test_support.h"
#include "support/pdf_tools.h"
#include "support/print_to_file.h"

#include <QPrinter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace orrery {
namespace {

// The x positions (rounded to 10 points) of the note numbers on a page after the first.
std::set<int> numberColumns(const QString& pdf, int page) {
  std::set<int> xs;
  for (const auto& w : testsupport::pdfWords(pdf))
    if (w.page == page && w.text.size() == 3 && w.text.toInt() > 0) xs.insert(int(w.xMin / 10));
  return xs;
}

TEST(PrintedView, PrintsTheMapThenOnePagePerNotePageInTheChosenOrientation) {
  QTemporaryDir dir;
  uitest::PresenterScope presenter;
  const IdeaPtr root = exporttest::fanMap("Printed", 150, 1);
  PrintedView view(root, QDateTime());
  presenter->printAnswers.push_back(testsupport::printToPdfFile(dir.filePath("portrait.pdf"), QPageLayout::Portrait));
  platform::PrintOperation portrait(view);
  ASSERT_EQ(portrait.runOperation(), platform::PrintOperation::Outcome::Printed);
  const int portraitNotes = view.ensureNotePDF();
  EXPECT_GE(portraitNotes, 2);
  EXPECT_EQ(testsupport::pdfPageCount(dir.filePath("portrait.pdf")), 1 + portraitNotes);
  EXPECT_EQ(numberColumns(dir.filePath("portrait.pdf"), 2).size(), 3u);

  // The same view printed again in landscape lays its notes out again, in four columns.
  presenter->printAnswers.push_back(testsupport::printToPdfFile(dir.filePath("landscape.pdf"), QPageLayout::Landscape));
  platform::PrintOperation landscape(view);
  ASSERT_EQ(landscape.runOperation(), platform::PrintOperation::Outcome::Printed);
  EXPECT_EQ(view.layoutArea(), QSizeF(1090, 746));
  EXPECT_EQ(numberColumns(dir.filePath("landscape.pdf"), 2).size(), 4u);
  EXPECT_EQ(testsupport::pdfPageCount(dir.filePath("landscape.pdf")), 1 + view.ensureNotePDF());

  // Pages 2 to 2 only: the first note page.
  presenter->printAnswers.push_back(testsupport::printToPdfFile(dir.filePath("range.pdf"), QPageLayout::Portrait, 2, 2));
  platform::PrintOperation range(view);
  ASSERT_EQ(range.runOperation(), platform::PrintOperation::Outcome::Printed);
  EXPECT_EQ(testsupport::pdfPageCount(dir.filePath("range.pdf")), 1);
  const auto words = testsupport::pdfWords(dir.filePath("range.pdf"));
  ASSERT_FALSE(words.empty());
  EXPECT_EQ(words.front().text, "NOTES");
}

TEST(PrintedView, AMapWithoutNotesIsOnePageAndTheMapFitsThePrintableTop) {
  QTemporaryDir dir;
  uitest::PresenterScope presenter;
  PrintedView view(exporttest::fanMap("Lonely", 3), QDateTime());
  presenter->printAnswers.push_back(testsupport::printToPdfFile(dir.filePath("one.pdf"), QPageLayout::Portrait));
  platform::PrintOperation operation(view);
  ASSERT_EQ(operation.runOperation(), platform::PrintOperation::Outcome::Printed);
  EXPECT_EQ(testsupport::pdfPageCount(dir.filePath("one.pdf")), 1);
  const auto words = testsupport::pdfWords(dir.filePath("one.pdf"));
  bool title = false;
  for (const auto& w : words) {
    if (w.text != "Lonely" || title) continue;
    title = true;  // the header's, before the disc's
    // The layout area's top meets the printable area's top; the title sits 38 layout points
    // (scaled) below it.
    const platform::PrintInfo info = operation.printInfo();
    const double top = info.paperRect.height() - info.imageablePageBounds.bottom();
    const QRectF area = info.imageablePageBounds;
    const double scale = std::min(area.width() / 746, area.height() / 1090);
    EXPECT_GT(w.yMin, top);
    EXPECT_LT(w.yMax, top + 60 * scale) << "the header stays at the printable area's top";
  }
  EXPECT_TRUE(title);
}

TEST(PrintedView, NotePagesFillThePrintableAreaFromItsTopAndKeepLineBreaks) {
  QTemporaryDir dir;
  uitest::PresenterScope presenter;
  const IdeaPtr root = exporttest::fanMap("Notes", 60, 1);
  root->ideas()[0]->setNote("First note\nsecond line");
  PrintedView view(root, QDateTime());
  presenter->printAnswers.push_back(testsupport::printToPdfFile(dir.filePath("notes.pdf"), QPageLayout::Portrait));
  platform::PrintOperation operation(view);
  ASSERT_EQ(operation.runOperation(), platform::PrintOperation::Outcome::Printed);
  const platform::PrintInfo info = operation.printInfo();
  const QRectF area = info.imageablePageBounds;
  const double top = info.paperRect.height() - area.bottom();
  const double scale = std::min(area.width() / 746, area.height() / 1090);

  std::map<QString, testsupport::PdfWord> firstOnPage2;
  double rightmostNumber = 0;
  for (const auto& w : testsupport::pdfWords(dir.filePath("notes.pdf"))) {
    if (w.page != 2) continue;
    firstOnPage2.try_emplace(w.text, w);
    if (w.text.size() == 3 && w.text.toInt() > 0) rightmostNumber = std::max(rightmostNumber, w.xMin);
  }
  ASSERT_TRUE(firstOnPage2.count("NOTES"));
  const auto& header = firstOnPage2["NOTES"];
  EXPECT_GT(header.yMin, top - 1);
  EXPECT_LT(header.yMax, top + 30 * scale) << "the header sits in the printable area's top, not " << header.yMin;
  // Full size: the third column starts about two thirds across the printable width.
  EXPECT_GT(rightmostNumber, area.left() + 0.6 * area.width());
  // The note's line break is kept: "second" starts a line of its own below "First".
  ASSERT_TRUE(firstOnPage2.count("First") && firstOnPage2.count("second"));
  EXPECT_GT(firstOnPage2["second"].yMin, firstOnPage2["First"].yMax - 1);
  EXPECT_NEAR(firstOnPage2["second"].xMin, firstOnPage2["First"].xMin, 1);
}

}  // namespace
}  // namespace orrery
