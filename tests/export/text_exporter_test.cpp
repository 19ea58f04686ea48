#include "export/text_exporter.h"

#include "model/idea.h"
#include "support/required_tool.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace orrery {
namespace {

IdeaPtr textIdea(const QString& title, const QString& note = {}) {
  IdeaPtr idea = Idea::createWithText(title);
  if (!note.isEmpty()) idea->setNote(note);
  return idea;
}

// Runs a checker over the HTML in a file; answers its exit code and output.
std::pair<int, QString> check(const QString& program, QStringList arguments, const QString& html) {
  QTemporaryDir dir;
  QFile file(dir.filePath("list.html"));
  EXPECT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(html.toUtf8());
  file.close();
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  arguments << file.fileName();
  process.start(program, arguments);
  process.waitForFinished(30000);
  return {process.exitCode(), QString::fromUtf8(process.readAll())};
}

TEST(TextExporter, OutlineWithNotesMatchesTheWrittenExample) {
  IdeaPtr root = textIdea("Plan");
  root->addIdea(textIdea("A", "x"));
  root->addIdea(textIdea("B"));
  EXPECT_EQ(TextExporter::ideaAsTextOutline(*root, true), "Plan\n\tA\n\t\t(Note 1)\n\tB\n\n\nNote 1: A\n\nx");
  EXPECT_EQ(TextExporter::ideaAsTextOutline(*root, false), "Plan\n\tA\n\tB");
}

TEST(TextExporter, NotesOnlyFromTextIdeasAndLinkTargetsNumberedInPreOrder) {
  IdeaPtr root = textIdea("  \n Root", "r");
  IdeaPtr target = textIdea("Target", "t");
  IdeaPtr web = Idea::createWithURL("https://example.org", KitImage());
  web->setNote("hidden web note");
  root->addIdea(target);
  root->addIdea(web);
  root->addIdea(Idea::createWithLinkToIdea(target->identifier()));
  const QString outline = TextExporter::ideaAsTextOutline(*root, true);
  EXPECT_EQ(outline,
            "Root\n\t(Note 1)\n\tTarget\n\t\t(Note 2)\n\thttps://example.org\n\tTarget\n\t\t(Note 3)\n\n"
            "\nNote 1: Root\n\nr\n\nNote 2: Target\n\nt\n\nNote 3: Target\n\nt");
  EXPECT_FALSE(outline.contains("hidden"));

  const QString html = TextExporter::ideaAsNestedHTMLList(*root, true);
  EXPECT_TRUE(html.contains("<p>  \n Root</p>\n<pre>r</pre>")) << "HTML keeps leading white space";
  EXPECT_EQ(html.count("<pre>t</pre>"), 2) << "a link shows its target's note";
  EXPECT_FALSE(html.contains("hidden"));
}

TEST(TextExporter, NotesAskedForButNoneGivesThePlainOutline) {
  IdeaPtr root = textIdea("Only");
  EXPECT_EQ(TextExporter::ideaAsTextOutline(*root, true), "Only");
  EXPECT_EQ(TextExporter::ideaAsNestedHTMLList(*root, true),
            "<!DOCTYPE html><html><head><meta charset=utf-8><title>Orrery document</title></head><body>"
            "<p>Only</p></body></html>");
}

TEST(TextExporter, HostileTitlesAreEscapedInHTMLAndKeptInTheOutline) {
  const QString hostile = QStringLiteral("<script>a&b \"q\" 'x'</script>") + QChar(0x1) + QChar(0xD800) + "\tend";
  IdeaPtr root = textIdea(hostile, QStringLiteral("</pre><b>") + QChar(0x7));
  root->addIdea(textIdea("child"));
  EXPECT_TRUE(TextExporter::ideaAsTextOutline(*root, false).startsWith(hostile));

  const QString html = TextExporter::ideaAsNestedHTMLList(*root, true);
  EXPECT_TRUE(html.contains("<p>&lt;script&gt;a&amp;b &quot;q&quot; &#x27;x&#x27;&lt;/script&gt;\tend</p>"));
  EXPECT_TRUE(html.contains("<pre>&lt;/pre&gt;&lt;b&gt;</pre>\n<ul>\n<li><p>child</p></li></ul>"));
  EXPECT_FALSE(html.contains(QChar(0x1)));
  EXPECT_FALSE(html.contains(QChar(0xD800)));

  ASSERT_TRUE(testsupport::requireTool("xmllint", "libxml2-utils"));
  ASSERT_TRUE(testsupport::requireTool("tidy", "tidy"));
  const auto [lintCode, lintOutput] = check("xmllint", {"--html", "--noout"}, html);
  EXPECT_EQ(lintCode, 0) << lintOutput.toStdString();
  EXPECT_TRUE(lintOutput.isEmpty()) << lintOutput.toStdString();
  // tidy: 0 clean, 1 warnings only, 2 errors.
  const auto [tidyCode, tidyOutput] = check("tidy", {"-q", "-e", "-utf8"}, html);
  EXPECT_LT(tidyCode, 2) << tidyOutput.toStdString();
}

TEST(TextExporter, EveryLineOfATitleStaysAtItsIdeasIndentation) {
  struct Case {
    const char* what;
    QString title;
    QStringList lines;  // the title's lines as an outliner should read them, without indentation
  };
  const Case cases[] = {
      {"line feeds", "first\nsecond\nthird", {"first", "second", "third"}},
      {"Windows and old Mac breaks", "a\r\nb\rc", {"a", "b", "c"}},
      {"Unicode separators",
       QString("a") + QChar::LineSeparator + "b" + QChar::ParagraphSeparator + "c",
       {"a", "b", "c"}},
      {"later lines with indentation of their own", "head\n\t\tdeeper\n   spaced", {"head", "deeper", "spaced"}},
      {"an empty line inside", "top\n\nbottom", {"top", "", "bottom"}},
      {"leading breaks go as before", "\n\n  text\nmore", {"text", "more"}},
  };
  for (const Case& c : cases) {
    for (const int depth : {0, 1, 3}) {
      IdeaPtr root = textIdea("root");
      IdeaPtr parent = root;
      for (int level = 1; level < depth; ++level) {
        IdeaPtr step = textIdea(QString("level %1").arg(level));
        parent->addIdea(step);
        parent = step;
      }
      IdeaPtr titled = depth == 0 ? root : textIdea(c.title, "n");
      if (depth == 0) {
        root->setText(c.title);
        root->setNote("n");
      } else {
        parent->addIdea(titled);
      }
      titled->addIdea(textIdea("child"));
      // What an outliner sees: every line split at any break, its depth its leading tabs.
      const QString outline = TextExporter::ideaAsTextOutline(*root, true);
      const QStringList lines = outline.split(QRegularExpression(R"(\r\n|[\n\r\x{2028}\x{2029}])"));
      QStringList expected;
      for (int level = 0; level < depth; ++level)
        expected << QString(level, '\t') + (level ? QString("level %1").arg(level) : "root");
      for (const QString& line : c.lines) expected << QString(depth, '\t') + line;
      expected << QString(depth + 1, '\t') + "(Note 1)" << QString(depth + 1, '\t') + "child";
      EXPECT_EQ(lines.mid(0, expected.size()), expected) << c.what << " at depth " << depth;
      EXPECT_EQ(lines.at(expected.size()), "") << c.what << " at depth " << depth;
    }
  }
}

TEST(TextExporter, AVeryDeepTreeIsWrittenWithoutRecursion) {
  IdeaPtr root = textIdea("0");
  IdeaPtr current = root;
  for (int i = 1; i < 20000; ++i) {
    IdeaPtr child = textIdea(QString::number(i));
    current->addIdea(child);
    current = child;
  }
  const QString html = TextExporter::ideaAsNestedHTMLList(*root, false);
  EXPECT_EQ(html.count("<ul>"), 19999);
  EXPECT_EQ(html.count("</ul>"), 19999);
  EXPECT_TRUE(TextExporter::ideaAsTextOutline(*root, false).endsWith(QString(19999, '\t') + "19999"));
}

}  // namespace
}  // namespace orrery
