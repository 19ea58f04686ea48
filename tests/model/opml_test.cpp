#include "document_test_support.h"

#include "model/document_limits.h"
#include "model/opml_parser.h"
#include "model/opml_writer.h"

#include <gtest/gtest.h>

#include <vector>

using namespace orrery;

namespace {

QByteArray fixture(const char* name) { return testsupport::readAll(QString(ORRERY_TEST_DATA) + "/opml/" + name); }

ColorPtr themeColor(size_t theme, size_t index) { return ColorTheme::standardThemes()[theme]->colors()[index]; }

// "text|note" of every idea in pre-order, indented by depth.
QString shape(const IdeaPtr& root) {
  QString out;
  root->traverseNaturally(
      [&](const IdeaPtr& idea, qint64 depth) {
        out += QString(int(depth) * 2, ' ') + (idea->text().isNull() ? "<none>" : idea->text());
        if (!idea->note().isNull()) out += " | " + idea->note();
        out += '\n';
      },
      0);
  return out;
}

}  // namespace

TEST(OPMLParser, ReadsHeadTitleNestingNotesAndEntities) {
  IdeaPtr root = OPMLParser().parseIdeaFromOPMLData(fixture("basic.opml"));
  ASSERT_TRUE(root);
  EXPECT_EQ(shape(root),
            "Trip & Plans\n"
            "  Packing | Check the weather\nbefore leaving\n"
            "    Clothes\n"
            "      Socks\n"
            "      Jacket\n"
            "    Papers <important>\n"
            "  Route | http://example.org/\n"
            "  <none> | An outline without text\n"
            "  Budget\n"
            "    été — ümlaut ✓\n");
  // Colours are made up: the root's children walk through the standard themes from the
  // second on, deeper ideas through their parent's theme from its second colour on.
  EXPECT_EQ(root->color(), themeColor(0, 0));
  const auto& top = root->ideas();
  EXPECT_EQ(top[0]->color(), themeColor(1, 0));
  EXPECT_EQ(top[1]->color(), themeColor(2, 0));
  EXPECT_EQ(top[2]->color(), themeColor(3, 0));
  EXPECT_EQ(top[3]->color(), themeColor(0, 0));
  EXPECT_EQ(top[0]->ideas()[0]->color(), themeColor(1, 1));
  EXPECT_EQ(top[0]->ideas()[1]->color(), themeColor(1, 2));
  EXPECT_EQ(top[0]->ideas()[0]->ideas()[1]->color(), themeColor(1, 2));
  EXPECT_EQ(top[0]->colorThemeType(), ColorThemeTypeVaryingColors);
}

TEST(OPMLParser, EveryOutlineShapeKeepsAllItsIdeasUnderOneNamedRoot) {
  struct Case {
    const char* what;
    QByteArray xml;
    const char* shape;
  };
  const Case cases[] = {
      {"no head, several outlines: nothing is dropped, the root is named after the file",
       "<opml><body><outline text=\"A\"><outline text=\"A1\"/></outline><outline text=\"B\"/>"
       "<outline text=\"C\"/></body></opml>",
       "Feeds\n  A\n    A1\n  B\n  C\n"},
      {"no head, one outline: it is the root",
       "<opml><body><outline text=\"Only\" _note=\"n\"><outline text=\"x\"/></outline></body></opml>",
       "Only | n\n  x\n"},
      {"a head without title and one outline: no blank root above it",
       "<opml version=\"2.0\"><head><ownerEmail>me@example.org</ownerEmail></head><body>"
       "<outline text=\"Real root\"><outline text=\"a\"/><outline text=\"b\"/></outline></body></opml>",
       "Real root\n  a\n  b\n"},
      {"a blank head title counts as none",
       "<opml><head><title> \n </title></head><body><outline text=\"R\"/></body></opml>", "R\n"},
      {"a head without title and several outlines",
       "<opml><head/><body><outline text=\"a\"/><outline text=\"b\"/></body></opml>", "Feeds\n  a\n  b\n"},
      {"a head without title and no outline", "<opml><head></head><body/></opml>", "Feeds\n"},
      {"a titled head keeps naming the root of a lone outline",
       "<opml><head><title>Doc</title></head><body><outline text=\"Only\"/></body></opml>", "Doc\n  Only\n"},
      {"a head after the body still names the root",
       "<opml><body><outline text=\"a\"/><outline text=\"b\"/></body><head><title>Late</title></head></opml>",
       "Late\n  a\n  b\n"},
      {"title where text is missing; text wins, even empty",
       "<opml><body><outline title=\"Feed name\"><outline text=\"t\" title=\"ignored\"/>"
       "<outline text=\"\" title=\"ignored too\"/><outline/></outline></body></opml>",
       "Feed name\n  t\n  \n  <none>\n"},
      {"links go into the note, one a line, after its text",
       "<opml><head><title>Links</title></head><body>"
       "<outline text=\"Site\" type=\"link\" url=\"https://example.org/\"/>"
       "<outline text=\"Blog\" type=\"rss\" xmlUrl=\"https://b.example/feed\" htmlUrl=\"https://b.example/\"/>"
       "<outline text=\"Noted\" _note=\"read later\" url=\" https://n.example \"/>"
       "<outline text=\"Twice\" _note=\"see https://t.example\" url=\"https://t.example\" "
       "htmlUrl=\"https://t.example\"/><outline text=\"Empty\" url=\"\"/>"
       "<outline text=\"Prefix\" url=\"https://p.example/feed\" htmlUrl=\"https://p.example/\"/></body></opml>",
       "Links\n  Site | https://example.org/\n  Blog | https://b.example/\nhttps://b.example/feed\n"
       "  Noted | read later\nhttps://n.example\n  Twice | see https://t.example\n  Empty\n"
       "  Prefix | https://p.example/feed\nhttps://p.example/\n"},
  };
  OPMLParser parser;  // one parser reads every file from scratch
  for (const Case& c : cases) {
    IdeaPtr root = parser.parseIdeaFromOPMLData(c.xml, "Feeds");
    ASSERT_TRUE(root) << c.what;
    EXPECT_EQ(shape(root).toStdString(), c.shape) << c.what;
    EXPECT_FALSE(root->parent()) << c.what;
    // Colours follow the position in the tree that was settled on.
    EXPECT_EQ(root->color(), themeColor(0, 0)) << c.what;
    for (size_t i = 0; i < root->ideas().size(); ++i)
      EXPECT_EQ(root->ideas()[i]->color(), themeColor((i + 1) % ColorTheme::standardThemes().size(), 0)) << c.what;
  }

  IdeaPtr fixtureRoot = parser.parseIdeaFromOPMLData(fixture("no_head.opml"), "no_head");
  ASSERT_TRUE(fixtureRoot);
  EXPECT_EQ(shape(fixtureRoot),
            "no_head\n  First root\n    Child A\n    Child B\n      Grandchild\n  Second top-level outline\n");
  IdeaPtr again = parser.parseIdeaFromOPMLData(fixture("mixed_case.opml"));
  ASSERT_TRUE(again);
  EXPECT_EQ(shape(again), "Upper Case\n  Element names in capitals\n  <none>\n");
}

TEST(OPMLParser, AnImportedFileNamesItsRootAfterItself) {
  auto doc = IdeaDocument::createWithIdentifier("file:///tmp/outlines/My feeds.2024.opml");
  ASSERT_TRUE(doc->loadFromOPMLData("<opml><head/><body><outline title=\"a\"/><outline title=\"b\"/></body></opml>"));
  EXPECT_EQ(shape(doc->idea()), "My feeds.2024\n  a\n  b\n");
}

TEST(OPMLParser, ReadsTheEncodingsOutlinersWrite) {
  IdeaPtr latin1 = OPMLParser().parseIdeaFromOPMLData(fixture("latin1.opml"));
  ASSERT_TRUE(latin1);
  EXPECT_EQ(shape(latin1), "Café Menü\n  Crème brûlée | à la française\n");
  IdeaPtr wide = OPMLParser().parseIdeaFromOPMLData(fixture("utf16.opml"));
  ASSERT_TRUE(wide);
  EXPECT_EQ(shape(wide), "Wide ü\n  日本語のアイデア | Zeile 1\nZeile 2\n");
  IdeaPtr windows = OPMLParser().parseIdeaFromOPMLData(fixture("windows1252.opml"));
  ASSERT_TRUE(windows);
  EXPECT_EQ(shape(windows), "Budget € 2019\n  “Quoted” – dash | Price: 5€\n");
}

TEST(OPMLParser, BrokenFilesYieldNothingRatherThanPartOfATree) {
  for (const char* name : {"malformed_truncated.opml", "malformed_mismatched.opml", "not_xml.opml"})
    EXPECT_FALSE(OPMLParser().parseIdeaFromOPMLData(fixture(name))) << name;
  EXPECT_FALSE(OPMLParser().parseIdeaFromOPMLData(QByteArray()));
  EXPECT_FALSE(OPMLParser().parseIdeaFromOPMLData("<opml><body></body></opml>")) << "no idea at all";
  // A second head is a text-less child of the current idea.
  IdeaPtr twoHeads = OPMLParser().parseIdeaFromOPMLData("<opml><head><title>T</title></head><head/><body/></opml>");
  ASSERT_TRUE(twoHeads);
  EXPECT_EQ(shape(twoHeads), "T\n  <none>\n");
}

TEST(OPMLParser, DeepOutlinesAreReadUpToWhatADocumentCanHoldAndRefusedBeyond) {
  auto nested = [](int depth) {
    QByteArray xml = "<opml><body>";
    for (int i = 0; i < depth; ++i) xml += "<outline text=\"level\">";
    for (int i = 0; i < depth; ++i) xml += "</outline>";
    return xml + "</body></opml>";
  };
  EXPECT_FALSE(OPMLParser().parseIdeaFromOPMLData(nested(200000)));
  EXPECT_FALSE(OPMLParser().parseIdeaFromOPMLData(nested(OPMLParser::kMaxOutlineDepth + 2)));
  IdeaPtr deepest = OPMLParser().parseIdeaFromOPMLData(nested(OPMLParser::kMaxOutlineDepth + 1));
  ASSERT_TRUE(deepest);
  // What was imported can be saved and read back.
  auto doc = IdeaDocument::createWithFileName("deep.orrx", DocumentLocationTemp);
  doc->setIdea(deepest);
  auto back = IdeaDocument::createWithFileName("deep2.orrx", DocumentLocationTemp);
  ASSERT_TRUE(back->loadFromOrreryData(doc->exportAsOrreryData()));
  EXPECT_EQ(back->idea()->calculateWholeTreeSize(), OPMLParser::kMaxOutlineDepth + 1);
}

// An outline imports as a map only when the map it makes can be written and opened again:
// beyond a limit the import is refused as such a map would be, saying which limit.
TEST(OPMLParser, AnOutlineBeyondWhatAMapHoldsIsRefusedAsTooLarge) {
  const qsizetype limit = DocumentLimits::kMaxTextLength;
  auto outline = [](const QByteArray& attributes) {
    return "<opml><head><title>Log</title></head><body><outline " + attributes + "/></body></opml>";
  };
  struct Case {
    const char* what;
    QByteArray file;
    QString refusal;  // none: imports, and the map opens again
  };
  std::vector<Case> cases = {
      {"a note at the text limit", outline("text=\"a\" _note=\"" + QByteArray(limit, 'n') + "\""), {}},
      {"a note one character longer", outline("text=\"a\" _note=\"" + QByteArray(limit + 1, 'n') + "\""),
       "a text of 1000001 characters"},
      {"a title one character longer", outline("text=\"" + QByteArray(limit + 1, 't') + "\""),
       "a text of 1000001 characters"},
      {"a note its links take beyond it",
       outline("_note=\"" + QByteArray(limit - 10, 'n') + "\" url=\"https://example.org/\""),
       "a text of 1000011 characters"},
      {"outlines one level deeper than a map holds",
       "<opml><head><title>Deep</title></head><body>" +
           QByteArray("<outline>").repeated(OPMLParser::kMaxOutlineDepth + 1) +
           QByteArray("</outline>").repeated(OPMLParser::kMaxOutlineDepth + 1) + "</body></opml>",
       "its ideas go deeper than the 498 levels a map can hold"},
  };
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // A few megabytes of empty outlines would make millions of ideas: reading stops past the limit.
  {
    QByteArray many = "<opml><body><outline text=\"root\">";
    for (qint64 i = 0; i < 2 * DocumentLimits::kMaxObjects; ++i) many += "<outline/>";
    cases.push_back({"two million outlines", many + "</outline></body></opml>",
                     "it holds more than the 999999 ideas and icons a map can hold"});
  }
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto doc = IdeaDocument::createWithFileName("outline.opml", DocumentLocationTemp);
    DocumentError error;
    const bool imported = doc->loadFromOPMLData(c.file, &error);
    EXPECT_EQ(imported, c.refusal.isEmpty());
    if (!imported) {
      EXPECT_EQ(error.code, kDocumentErrorTooLarge);
      EXPECT_TRUE(error.description.startsWith("The document is too large to open") &&
                  error.description.contains(c.refusal))
          << error.description.toStdString();
      EXPECT_EQ(doc->lastUserFriendlyError(), error.description);
      continue;
    }
    auto back = IdeaDocument::createWithFileName("back.orrx", DocumentLocationTemp);
    ASSERT_TRUE(back->loadFromOrreryData(doc->exportAsOrreryData())) << "the imported map opens again";
    EXPECT_EQ(back->idea()->ideas().at(0)->note().size(), limit);
  }
}

TEST(OPMLWriter, WritesTheFileByteForByte) {
  IdeaPtr lonely = Idea::createWithText("Alone");
  EXPECT_EQ(OPMLWriter::ideaAsOPML(*lonely),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<opml version=\"1.0\"><head><title>Alone</title></head><body>\n"
            "</body></opml>");
  // A root's note can only be read on an outline element: the root becomes the one outline.
  lonely->setNote("the root's note");
  lonely->addIdea(Idea::createWithText("child"));
  EXPECT_EQ(OPMLWriter::ideaAsOPML(*lonely),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<opml version=\"1.0\"><head></head><body>\n"
            "\t<outline text=\"Alone\" _note=\"the root&#x27;s note\">\n"
            "\t\t<outline text=\"child\" />\n"
            "\t</outline>\n"
            "</body></opml>");

  IdeaPtr root = Idea::createWithText("Tom & \"Jerry\"");
  IdeaPtr a = Idea::createWithText("a <b> 'c'");
  a->setNote("note");
  IdeaPtr b = Idea::createWithText("b");
  IdeaPtr c = Idea::createWithText("c");
  b->addIdea(c);
  root->addIdea(a);
  root->addIdea(b);
  root->addIdea(Idea::createWithLinkToIdea(c->identifier()));
  EXPECT_EQ(OPMLWriter::ideaAsOPML(*root),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<opml version=\"1.0\"><head><title>Tom &amp; &quot;Jerry&quot;</title></head><body>\n"
            "\t<outline text=\"a &lt;b&gt; &#x27;c&#x27;\" _note=\"note\" />\n"
            "\t<outline text=\"b\">\n"
            "\t\t<outline text=\"c\" />\n"
            "\t</outline>\n"
            "\t<outline text=\"c\" />\n"
            "</body></opml>");
}

TEST(OPMLWriter, EscapesBreaksAndDropsWhatXMLCannotCarry) {
  EXPECT_EQ(OPMLWriter::escape(QString("a\nb\r\nc\td & <e>")), "a&#10;b&#13;&#10;c&#9;d &amp; &lt;e&gt;");
  EXPECT_EQ(OPMLWriter::escape(QString("bell\x07, nul") + QChar(0) + QChar(0xFFFE) + QChar(0xD800) + "end"),
            "bell, nulend");
  EXPECT_EQ(OPMLWriter::escape("😀 ü"), "😀 ü");
}

TEST(OPMLWriter, KeepsOnlyWholeSurrogatePairsAndTheEdgesOfWhatXMLAllows) {
  const QChar high(0xD83D), low(0xDE00);
  // A low half before its high half, two highs in a row, a high half at the very end.
  EXPECT_EQ(OPMLWriter::escape(QString(low) + high + low + "x" + high + high + low + "'" + high),
            QString(high) + low + "x" + high + low + "&#x27;");
  EXPECT_EQ(OPMLWriter::escape(QString(QChar(0x1F)) + QChar(0x20) + QChar(0xD7FF) + QChar(0xE000) + QChar(0xFFFD) +
                               QChar(0xFFFF) + "\""),
            QString(QChar(0x20)) + QChar(0xD7FF) + QChar(0xE000) + QChar(0xFFFD) + "&quot;");
  EXPECT_EQ(OPMLWriter::escape(QString()), QString(""));

  // Appending keeps what the buffer held; element content keeps its breaks and tabs.
  QString buffer = "<p>";
  OPMLWriter::appendEscaped(QString("a\r\n\tb<") + QChar(0x0) + low, false, buffer);
  EXPECT_EQ(buffer, "<p>a\r\n\tb&lt;");
}

TEST(OPMLRoundTrip, TitlesNotesAndShapeSurvive) {
  IdeaPtr root = Idea::createWithText("Map title");
  IdeaPtr first = Idea::createWithText("Line one\nline two");
  first->setNote("A note\r\nwith Windows breaks\tand a tab\nand <markup> & \"quotes\"");
  root->addIdea(first);
  IdeaPtr current = first;
  for (int depth = 0; depth < 5000; ++depth) {
    IdeaPtr next = Idea::createWithText(QString("depth %1").arg(depth));
    current->addIdea(next);
    current = next;
  }
  root->addIdea(Idea::createWithText(QString()));
  const QString exported = OPMLWriter::ideaAsOPML(*root);
  // Two header lines, an open and a close line for each of the 5000 ideas with children,
  // one line each for the two leaves: breaks inside texts and notes are escaped.
  EXPECT_EQ(exported.count("\n"), 2 + 2 * 5000 + 2);
  // Deeper than a document holds: the import refuses it; the shallower part travels intact.
  EXPECT_FALSE(OPMLParser().parseIdeaFromOPMLData(exported.toUtf8()));
  IdeaPtr shallow = root->ideaByRestrictingDepth(40);
  IdeaPtr back = OPMLParser().parseIdeaFromOPMLData(OPMLWriter::ideaAsOPML(*shallow).toUtf8());
  ASSERT_TRUE(back);
  EXPECT_EQ(shape(back), shape(shallow).replace("<none>", ""));
  EXPECT_EQ(back->ideas()[0]->note(), first->note());
  EXPECT_EQ(back->ideas()[0]->text(), first->text());
  EXPECT_NE(back->ideas()[0]->identifier(), first->identifier());
}

TEST(OPMLRoundTrip, EveryRootShapeReadsBackAsWritten) {
  auto tree = [](const QString& rootText, const QString& rootNote, std::initializer_list<const char*> children) {
    IdeaPtr root = Idea::createWithText(rootText);
    root->setNote(rootNote);
    for (const char* child : children) root->addIdea(Idea::createWithText(child));
    return root;
  };
  IdeaPtr nested = tree("Same", {}, {"Same"});
  nested->ideas()[0]->addIdea(Idea::createWithText("below"));
  nested->ideas()[0]->setNote("child's note");
  const struct {
    const char* what;
    IdeaPtr root;
  } cases[] = {
      {"a root with a note and children", tree("Root", "root note\nsecond line", {"a", "b"})},
      {"a root with a note alone", tree("Root", "n", {})},
      {"an empty root title and one child", tree("", {}, {"only"})},
      {"a blank root title and several children", tree(" \t", {}, {"a", "b"})},
      {"a blank root title alone", tree("", {}, {})},
      {"a root without note and one child", tree("Root", {}, {"only"})},
      {"a child titled as the root", nested},
  };
  for (const auto& c : cases) {
    const QString written = OPMLWriter::ideaAsOPML(*c.root);
    IdeaPtr back = OPMLParser().parseIdeaFromOPMLData(written.toUtf8(), "file name");
    ASSERT_TRUE(back) << c.what;
    EXPECT_EQ(shape(back).toStdString(), shape(c.root).toStdString()) << c.what;
    EXPECT_EQ(OPMLWriter::ideaAsOPML(*back), written) << c.what;
  }
}
