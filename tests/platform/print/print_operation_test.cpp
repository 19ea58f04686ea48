#include "platform/print/print_operation.h"

#include "support/pdf_tools.h"
#include "support/print_to_file.h"
#include "ui_test_env.h"

#include <QPainter>
#include <QPrinter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace platform {
namespace {

// Prints "pageN" near the top-left corner of the printable area of each of its pages.
class NumberedPages : public PrintableView {
 public:
  explicit NumberedPages(int count) : mCount(count) {}
  bool knowsPageRange(const PrintInfo& info, int* first, int* last) override {
    infos.push_back(info);
    *first = 1;
    *last = mCount;
    return true;
  }
  QRectF rectForPage(int page) override {
    mPage = page;
    return infos.back().imageablePageBounds;
  }
  void drawRect(QPainter& painter, const QRectF& rect) override {
    drawn.push_back(mPage);
    painter.save();
    // Text flips locally in a y-up painter.
    painter.translate(rect.left(), rect.bottom() - 30);  // y up: bottom() is the top edge
    painter.scale(1, -1);
    QFont font = painter.font();
    font.setPointSizeF(12);
    painter.setFont(font);
    painter.drawText(QPointF(0, 0), QString("page%1").arg(mPage));
    painter.restore();
  }
  std::vector<PrintInfo> infos;
  std::vector<int> drawn;

 private:
  int mCount;
  int mPage = 0;
};

TEST(PrintOperation, PrintsEveryPageOfThePanelsChoiceInYUpPoints) {
  QTemporaryDir dir;
  uitest::PresenterScope presenter;
  presenter->printAnswers.push_back(testsupport::printToPdfFile(dir.filePath("out.pdf"), QPageLayout::Landscape));
  NumberedPages view(3);
  PrintOperation operation(view);
  QString error;
  ASSERT_EQ(operation.runOperation(&error), PrintOperation::Outcome::Printed) << error.toStdString();
  ASSERT_EQ(view.infos.size(), 1u);
  EXPECT_GT(view.infos[0].paperRect.width(), view.infos[0].paperRect.height()) << "landscape";
  EXPECT_TRUE(view.infos[0].paperRect.contains(view.infos[0].imageablePageBounds));
  EXPECT_EQ(view.drawn, (std::vector<int>{1, 2, 3}));

  EXPECT_EQ(testsupport::pdfPageCount(dir.filePath("out.pdf")), 3);
  const auto words = testsupport::pdfWords(dir.filePath("out.pdf"));
  ASSERT_EQ(words.size(), 3u);
  const QRectF printable = view.infos[0].imageablePageBounds;
  const double top = view.infos[0].paperRect.height() - printable.bottom();  // y down
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(words[i].page, i + 1);
    EXPECT_EQ(words[i].text, QString("page%1").arg(i + 1));
    EXPECT_NEAR(words[i].xMin, printable.left(), 2);
    EXPECT_NEAR(words[i].yMax, top + 30, 6) << "drawn upright, 30 points below the printable top";
  }
}

TEST(PrintOperation, APageRangeOrACancelPrintsOnlyWhatWasChosen) {
  QTemporaryDir dir;
  uitest::PresenterScope presenter;
  presenter->printAnswers.push_back(testsupport::printToPdfFile(dir.filePath("range.pdf"), QPageLayout::Portrait, 2, 3));
  NumberedPages view(4);
  PrintOperation operation(view);
  ASSERT_EQ(operation.runOperation(), PrintOperation::Outcome::Printed);
  EXPECT_EQ(view.drawn, (std::vector<int>{2, 3}));
  EXPECT_EQ(testsupport::pdfPageCount(dir.filePath("range.pdf")), 2);

  NumberedPages cancelled(2);
  PrintOperation second(cancelled);
  EXPECT_EQ(second.runOperation(), PrintOperation::Outcome::Cancelled);
  EXPECT_TRUE(cancelled.infos.empty());
  EXPECT_EQ(presenter->printPanels, 2);

  presenter->printAnswers.push_back(testsupport::printToPdfFile(dir.filePath("none/at/all.pdf"), QPageLayout::Portrait));
  NumberedPages unwritable(1);
  PrintOperation third(unwritable);
  QString error;
  EXPECT_EQ(third.runOperation(&error), PrintOperation::Outcome::Failed);
  EXPECT_FALSE(error.isEmpty());
}

}  // namespace
}  // namespace platform
