#include "export/mind_map_to_pdf.h"

#include "export_test_support.h"
#include "support/pdf_tools.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <map>
#include <optional>
#include <set>

#include <gtest/gtest.h>

namespace orrery {
namespace {

QStringList wordsOf(const QString& path) {
  QStringList words;
  for (const auto& w : testsupport::pdfWords(path)) words << w.text;
  return words;
}

TEST(MindMapToPDF, OnePageWithoutNotesThenNumberedNotePagesAllA4WithEmbeddedFonts) {
  QTemporaryDir dir;
  const IdeaPtr root = exporttest::fanMap("Holiday", 40, 2);  // 20 notes
  root->ideas()[1]->setNote(QString(3000, 'x').replace(QRegularExpression("x{50}"), "longword "));
  const QDateTime date(QDate(2024, 3, 5), QTime(14, 7), Qt::UTC);

  MindMapToPDF plain(root, date);
  ASSERT_TRUE(plain.writePDFNow(dir.filePath("plain.pdf"))->isOK());
  EXPECT_EQ(testsupport::pdfPageCount(dir.filePath("plain.pdf")), 1);
  EXPECT_TRUE(testsupport::pdfInfo(dir.filePath("plain.pdf"), "Page size").contains("595 x 842"));

  MindMapToPDF noted(root, date);
  noted.setShowNotes(true);
  ASSERT_TRUE(noted.writePDFNow(dir.filePath("notes.pdf"))->isOK());
  const int pages = testsupport::pdfPageCount(dir.filePath("notes.pdf"));
  EXPECT_GE(pages, 2);
  const QStringList words = wordsOf(dir.filePath("notes.pdf"));
  const qsizetype title = words.indexOf("Holiday");
  const qsizetype header = words.indexOf("NOTES");
  EXPECT_LT(words.indexOf("001"), header) << "the map page shows numbered note badges";
  const qsizetype first = words.indexOf("001", header);
  ASSERT_GE(title, 0);
  EXPECT_LT(title, header);
  EXPECT_LT(header, first);
  EXPECT_LT(first, words.indexOf("002", header));
  EXPECT_LT(first, words.indexOf("note", header));
  EXPECT_TRUE(words.contains("020"));
  EXPECT_FALSE(words.contains("021"));

  ASSERT_TRUE(testsupport::requireTool("pdffonts", "poppler-utils"));
  const QStringList fonts = testsupport::runTool("pdffonts", {dir.filePath("notes.pdf")}).split('\n').mid(2);
  for (const QString& line : fonts)
    if (!line.trimmed().isEmpty()) {
      EXPECT_TRUE(line.contains(" yes ")) << "not embedded: " << line.toStdString();
    }
  ASSERT_TRUE(testsupport::requireTool("qpdf", "qpdf"));
  int code = -1;
  const QString check = testsupport::runTool("qpdf", {"--check", dir.filePath("notes.pdf")}, &code);
  EXPECT_EQ(code, 0) << check.toStdString();

  MindMapToPDF none(exporttest::fanMap("Bare", 3), date);
  none.setShowNotes(true);
  ASSERT_TRUE(none.writePDFNow(dir.filePath("none.pdf"))->isOK());
  EXPECT_EQ(testsupport::pdfPageCount(dir.filePath("none.pdf")), 1);
}

TEST(MindMapToPDF, NotesKeepEveryKindOfLineBreak) {
  QTemporaryDir dir;
  const IdeaPtr root = exporttest::fanMap("Breaks", 3);
  root->ideas()[0]->setNote(QString("First note\nsecond line\r\nthird line\rfourth line") + QChar::ParagraphSeparator +
                            "last line");
  MindMapToPDF pdf(root, QDateTime());
  pdf.setShowNotes(true);
  ASSERT_TRUE(pdf.writePDFNow(dir.filePath("breaks.pdf"))->isOK());
  std::map<QString, testsupport::PdfWord> words;
  for (const auto& w : testsupport::pdfWords(dir.filePath("breaks.pdf")))
    if (w.page == 2) words.try_emplace(w.text, w);
  const QStringList starts = {"First", "second", "third", "fourth", "last"};
  for (qsizetype i = 0; i < starts.size(); ++i) {
    ASSERT_TRUE(words.count(starts[i])) << starts[i].toStdString();
    if (i == 0) continue;
    const auto& above = words[starts[i - 1]];
    const auto& line = words[starts[i]];
    EXPECT_GT(line.yMin, above.yMax - 1) << starts[i].toStdString() << " does not start a new line";
    EXPECT_NEAR(line.xMin, above.xMin, 1) << starts[i].toStdString();
  }
  EXPECT_FALSE(testsupport::pdfText(dir.filePath("breaks.pdf")).contains("notesecond"));
}

TEST(MindMapToPDF, AnEditAfterTheCallIsNotWrittenAndAFailedWriteKeepsTheOldFile) {
  QTemporaryDir dir;
  const IdeaPtr root = exporttest::fanMap("Before", 2);
  MindMapToPDF pdf(root, QDateTime());
  root->setText("After");
  std::optional<MyResultPtr> result;
  pdf.writePDFIntoURL(dir.filePath("map.pdf"), [&](const MyResultPtr& r) { result = r; });
  ASSERT_TRUE(exporttest::waitFor([&] { return result.has_value(); }));
  ASSERT_TRUE((*result)->isOK());
  const QStringList words = wordsOf(dir.filePath("map.pdf"));
  EXPECT_TRUE(words.contains("Before"));
  EXPECT_FALSE(words.contains("After"));

  result.reset();
  pdf.writePDFIntoURL(dir.filePath("gone/map.pdf"), [&](const MyResultPtr& r) { result = r; });
  ASSERT_TRUE(exporttest::waitFor([&] { return result.has_value(); }));
  EXPECT_TRUE((*result)->isError());
  EXPECT_TRUE((*result)->description().contains("gone/map.pdf")) << (*result)->description().toStdString();
}

}  // namespace
}  // namespace orrery

namespace orrery {
namespace {

TEST(MindMapToPDF, EmojiTitlesAHundredThousandCharacterNoteAndALongLineGiveACompleteDocument) {
  QTemporaryDir dir;
  IdeaPtr root = Idea::createWithText(QStringLiteral("Party 🎉😀"));
  IdeaPtr child = Idea::createWithText(QStringLiteral("🎂 cake"));
  QString note;
  while (note.size() < 100000) note += QStringLiteral("word%1 ").arg(note.size());
  child->setNote(note.left(100000));
  root->addIdea(child);
  // A few short words, then a key too long for any line.
  QString key(25000, QLatin1Char('k'));
  for (qsizetype i = 0; i < key.size(); ++i) key[i] = QLatin1Char("abcdefghijklmnopqrstuvwxyzABCDEF0123456789"[i % 42]);
  IdeaPtr keyed = Idea::createWithText(QStringLiteral("API key for staging: ") + key);
  keyed->setNote(QStringLiteral("Rotated monthly"));
  root->addIdea(keyed);
  // A word, then a line of letters without a space: the word wrap took seconds on it.
  IdeaPtr unbroken = Idea::createWithText(QStringLiteral("Unbroken"));
  QString line(200000, QChar('a'));
  for (qsizetype i = 0; i < line.size(); ++i) line[i] = QLatin1Char(char('a' + i % 26));
  unbroken->setNote(QStringLiteral("Start ") + line);
  root->addIdea(unbroken);
  MindMapToPDF pdf(root, QDateTime());
  pdf.setShowNotes(true);
  ASSERT_TRUE(pdf.writePDFNow(dir.filePath("big.pdf"))->isOK());
  EXPECT_GT(testsupport::pdfPageCount(dir.filePath("big.pdf")), 5);
  int code = -1;
  testsupport::runTool("qpdf", {"--check", dir.filePath("big.pdf")}, &code);
  EXPECT_EQ(code, 0);
  const QString text = testsupport::pdfText(dir.filePath("big.pdf"));
  EXPECT_TRUE(text.contains("Party"));
  EXPECT_TRUE(text.contains(note.left(100000).trimmed().split(' ').last())) << "the note's last word is printed";

  // The line's pieces, column after column, hold every letter in order; it wraps anywhere as a
  // whole, so its first piece shares the word's line.
  const std::vector<testsupport::PdfWord> words = testsupport::pdfWords(dir.filePath("big.pdf"));
  const auto start = std::find_if(words.begin(), words.end(), [](const auto& w) { return w.text == "Start"; });
  ASSERT_NE(start, words.end());
  static const QRegularExpression letters("^[a-z]+$");
  QString printed;
  for (auto w = start; w != words.end(); ++w) {
    if (!letters.match(w->text).hasMatch()) continue;
    if (printed.isEmpty()) {
      EXPECT_NEAR(w->yMin, start->yMin, 1) << "the line starts beside the word";
    }
    printed += w->text;
  }
  EXPECT_EQ(printed.size(), line.size());
  EXPECT_TRUE(printed == line) << "the one-line note is printed whole and in order";

  // The keyed title breaks between its words only, on its disc and over its note, where its
  // first line alone shows: the words, without a piece of the key.
  std::set<int> pages;
  for (const auto& w : words)
    if (w.text == "staging:") pages.insert(w.page);
  ASSERT_EQ(pages.size(), 2u) << "on the map page and on a note page";
  for (const int page : pages) {
    for (const char* word : {"API", "key", "for"}) {
      EXPECT_TRUE(std::any_of(words.begin(), words.end(), [&](const auto& w) { return w.page == page && w.text == word; }))
          << word << " on page " << page;
    }
  }
  const auto last = std::find_if(words.begin(), words.end(),
                                 [&](const auto& w) { return w.page == *pages.rbegin() && w.text == "staging:"; });
  EXPECT_FALSE(std::any_of(words.begin(), words.end(), [&](const auto& w) {
    return w.page == last->page && std::abs(w.yMin - last->yMin) < 1 && w.xMin > last->xMax && w.xMin < last->xMax + 20;
  })) << "the note's title line ends with the words";
}

}  // namespace
}  // namespace orrery
