// Files holding several ideas of one identifier (written before two processes could no longer
// make the same one): every idea is read, each with an identifier of its own, the same in
// every reader, so that links, saves and merges between instances find the idea they mean.

#include "document_test_support.h"
#include "../foundation/qt_printers.h"

#include "model/idea.h"
#include "model/idea_document.h"
#include "model/idea_merge.h"

#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

using namespace orrery;

namespace {

QByteArray fileWithTree(const QString& idea) {
  return QString(R"({"ideaDocumentDataObject":{"fileFormatVersion":3,"idea":%1}})").arg(idea).toUtf8();
}

// A text idea's JSON, `children` already JSON.
QString textIdea(const char* identifier, const char* text, const QString& children = QString()) {
  return QString(R"({"identifier":"%1","ideaType":1,"text":"%2","ideas":[%3]})").arg(identifier, text, children);
}

QString linkIdea(const char* identifier, const char* target) {
  return QString(R"({"identifier":"%1","ideaType":4,"linkedIdea":"%2"})").arg(identifier, target);
}

IdeaPtr readTree(const QByteArray& file) {
  auto doc = IdeaDocument::createWithFileName("read.orrx", DocumentLocationTemp);
  return doc->loadFromJSONData(file) ? doc->idea() : nullptr;
}

// The tree as the user sees it, in pre-order: depth dots and texts, a link as "@" and what it
// shows.
QString shown(const IdeaPtr& root) {
  QStringList out;
  root->traverseNaturally(
      [&](const IdeaPtr& idea, qint64 depth) {
        out << QString(int(depth), '.') + (idea->isLink() ? "@" : "") + idea->text();
      },
      /*depth=*/0);
  return out.join(' ');
}

QStringList identifiers(const IdeaPtr& root) {
  QStringList out;
  root->traverseNaturally([&](const IdeaPtr& idea, qint64) { out << idea->identifier(); }, /*depth=*/0);
  return out;
}

// The idea of the tree whose text is `text` (the first), links left out.
IdeaPtr withText(const IdeaPtr& root, const QString& text) {
  IdeaPtr found;
  root->traverseNaturally(
      [&](const IdeaPtr& idea, qint64) {
        if (!found && !idea->isLink() && idea->text() == text) found = idea;
      },
      /*depth=*/0);
  return found;
}

}  // namespace

TEST(RepeatedIdentifiers, EveryIdeaIsReadWithItsOwnIdentifierTheSameInEveryReaderAndAfterASave) {
  constexpr char kX[] = "id1500000000_1";
  struct Case {
    const char* name;
    QString tree;
    QString shown;       // what the user sees, nothing dropped
    const char* keeper;  // the text of the idea that keeps the identifier
    const char* other;   // the text of an idea that gets a new one
  };
  const Case cases[] = {
      {"siblings", textIdea("r", "root", textIdea(kX, "A's planet") + "," + textIdea(kX, "B's planet")),
       "root .A's planet .B's planet", "A's planet", "B's planet"},
      {"three of one", textIdea("r", "root", textIdea(kX, "one") + "," + textIdea(kX, "two") + "," + textIdea(kX, "three")),
       "root .one .two .three", "one", "three"},
      {"parent and child", textIdea("r", "root", textIdea(kX, "parent", textIdea(kX, "child"))),
       "root .parent ..child", "parent", "child"},
      {"the root and a child", textIdea(kX, "root", textIdea(kX, "child")), "root .child", "root", "child"},
      // A link shows the first idea of its target's identifier, as it did before.
      {"a link's target",
       textIdea("r", "root", textIdea(kX, "first") + "," + linkIdea("l", kX) + "," + textIdea("p", "p", textIdea(kX, "second"))),
       "root .first .@first .p ..second", "first", "second"},
      // Links point at ideas only: the idea keeps the identifier, the link before it does not,
      // and links to it show the idea.
      {"a link and an idea", textIdea("r", "root", linkIdea(kX, kX) + "," + textIdea(kX, "target") + "," + linkIdea("l", kX)),
       "root .@target .target .@target", "target", ""},
      {"a hand-made identifier", textIdea("r", "root", textIdea("a", "one") + "," + textIdea("a", "two")), "root .one .two",
       "one", "two"},
  };
  static const QRegularExpression form(QStringLiteral("^id\\d+_\\d+$"));
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    const QByteArray file = fileWithTree(row.tree);
    const IdeaPtr read = readTree(file);
    ASSERT_TRUE(read);
    EXPECT_EQ(shown(read), row.shown);
    const QStringList ids = identifiers(read);
    EXPECT_EQ(QSet<QString>(ids.begin(), ids.end()).size(), ids.size()) << ids.join(' ').toStdString();
    const QString kept = withText(read, row.keeper)->identifier();
    EXPECT_TRUE(kept == kX || kept == "a") << kept.toStdString();
    if (*row.other) {
      const QString made = withText(read, row.other)->identifier();
      EXPECT_TRUE(form.match(made).hasMatch()) << made.toStdString();
      if (kept == kX) {
        EXPECT_TRUE(made.startsWith("id1500000000_")) << "the seconds stay";
      }
    }

    // Another instance reading the file, and a merge reading it as its base, give the same.
    EXPECT_EQ(identifiers(readTree(file)), ids);
    auto doc = IdeaDocument::createWithFileName("saved.orrx", DocumentLocationTemp);
    doc->setIdea(read);
    const IdeaPtr reopened = IdeaDocument::treeFromFileBytes(doc->exportAsOrreryData(), /*compressed=*/true);
    ASSERT_TRUE(reopened);
    EXPECT_EQ(testsupport::treeSignature(reopened), testsupport::treeSignature(read));
  }
}

// Two instances with the file open each edit one of the ideas that shared an identifier: each
// edit stays on its own idea, through the merge of either save.
TEST(RepeatedIdentifiers, EditsOfIdeasThatSharedAnIdentifierMergeOntoTheirOwnIdeas) {
  const QByteArray file = fileWithTree(
      textIdea("r", "root", textIdea("id1500000000_1", "A's planet") + "," + textIdea("id1500000000_1", "B's planet") +
                                "," + linkIdea("l", "id1500000000_1")));
  const IdeaPtr base = readTree(file), ours = readTree(file), theirs = readTree(file);
  ASSERT_TRUE(base && ours && theirs);
  withText(ours, "B's planet")->setText("B's planet renamed");
  withText(theirs, "A's planet")->setNote("A's note");
  for (const bool oursFirst : {true, false}) {
    SCOPED_TRACE(oursFirst ? "our save" : "their save");
    const IdeaMergeResult merged = oursFirst ? mergeIdeaTrees(base, ours, theirs) : mergeIdeaTrees(base, theirs, ours);
    EXPECT_TRUE(merged.conflicts.empty());
    EXPECT_EQ(shown(merged.idea), "root .A's planet .B's planet renamed .@A's planet");
    EXPECT_EQ(withText(merged.idea, "A's planet")->note(), "A's note");
    EXPECT_TRUE(withText(merged.idea, "B's planet renamed")->note().isNull());
  }
}
