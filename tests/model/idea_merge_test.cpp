// Two instances editing one document: idea-level merges of this instance's changes into the
// other's version, at save time and when the other's save arrives, and two processes saving
// one file in turn without losing either's edits.

#include "document_test_support.h"
#include "rerun_this_program.h"

#include "foundation/globals.h"
#include "model/document_file_writer.h"
#include "model/idea_document.h"
#include "model/idea_merge.h"
#include "model/color.h"
#include "model/icon_image.h"
#include "model/persistence_controller.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <QImage>

#include <functional>
#include <random>

using namespace orrery;
using testsupport::spinUntil;

namespace {

constexpr char kPathVariable[] = "ORRERY_TEST_MERGE_PATH";
constexpr char kRoleVariable[] = "ORRERY_TEST_MERGE_ROLE";
constexpr int kRounds = 25;

// root ─ a ─ a1
//      ├ b
//      └ c (link to a)
IdeaPtr sampleTree() {
  IdeaPtr root = Idea::createWithText("root", "r");
  IdeaPtr a = Idea::createWithText("a", "a");
  a->addIdea(Idea::createWithText("a1", "a1"));
  root->addIdea(a);
  root->addIdea(Idea::createWithText("b", "b"));
  IdeaPtr link = Idea::createWithLinkToIdea("a");
  root->addIdea(link);
  return root;
}

IdeaPtr find(const IdeaPtr& root, const QString& id) { return root->findIdeaInSubTreeWithIdentifier(id); }

// The loss of value `what` of idea `id` as `tree` holds it, by an instance not named.
IdeaMergeConflict lostOf(const IdeaPtr& tree, const QString& id, const QString& what) {
  return {id, what, {}, {}, ideaValueFingerprint(*find(tree, id), what)};
}

std::string shape(const IdeaPtr& root) {
  QString out;
  root->traverseNaturally(
      [&](const IdeaPtr& idea, qint64 depth) {
        out += QString(int(depth), '.') + (idea->isLink() ? "@" + idea->linkedIdentifier() : idea->identifier()) + "=" +
               idea->text() + " ";
      },
      0);
  return out.toStdString();
}

}  // namespace

TEST(IdeaMerge, EachSidesChangesSurviveAndOursWinWhereBothChangedAValue) {
  const IdeaPtr base = sampleTree();
  const IdeaPtr ours = base->snapshotCopy();
  const IdeaPtr theirs = base->snapshotCopy();
  find(ours, "a")->setText("a by us");
  find(ours, "b")->setNote("our note");
  find(ours, "a1")->setText("a1 by us");
  find(theirs, "a1")->setText("a1 by them");
  find(theirs, "b")->setText("b by them");
  find(ours, "a")->addIdea(Idea::createWithText("new of ours", "n1"));
  theirs->addIdea(Idea::createWithText("new of theirs", "n2"));

  const IdeaMergeResult merged = mergeIdeaTrees(base, ours, theirs);
  EXPECT_EQ(shape(merged.idea), "r=root .a=a by us ..a1=a1 by us ..n1=new of ours .b=b by them .@a=a by us .n2=new of theirs ");
  EXPECT_EQ(find(merged.idea, "b")->note(), "our note");
  EXPECT_EQ(merged.conflicts, std::vector{lostOf(theirs, "a1", "text")});
  // The three trees are left as they were.
  EXPECT_EQ(find(theirs, "a1")->text(), "a1 by them");
  EXPECT_EQ(find(base, "a")->ideas().size(), 1u);
}

TEST(IdeaMerge, DeletionsAndMovesFollowTheSideThatMadeThem) {
  const IdeaPtr base = sampleTree();
  // We move a1 under b and delete a; they change a's text and a1's.
  IdeaPtr ours = base->snapshotCopy();
  IdeaPtr theirs = base->snapshotCopy();
  IdeaPtr a1 = find(ours, "a1");
  find(ours, "a")->detachIdea("a1");
  find(ours, "b")->addIdea(a1);
  ours->removeIdea("a");
  find(theirs, "a")->setText("a by them");
  find(theirs, "a1")->setText("a1 by them");
  IdeaMergeResult merged = mergeIdeaTrees(base, ours, theirs);
  // a is gone (and the link to it with it), a1 moved with their new text.
  EXPECT_EQ(shape(merged.idea), "r=root .b=b ..a1=a1 by them ");
  EXPECT_EQ(merged.conflicts, std::vector{lostOf(theirs, "a", "changed")});

  // They delete b, we changed it: it comes back; they delete a1, which we left alone: it goes.
  ours = base->snapshotCopy();
  theirs = base->snapshotCopy();
  find(ours, "b")->setText("b by us");
  theirs->removeIdea("b");
  find(theirs, "a")->removeIdea("a1");
  merged = mergeIdeaTrees(base, ours, theirs);
  EXPECT_EQ(shape(merged.idea), "r=root .a=a .b=b by us .@a=a ");
  EXPECT_EQ(merged.conflicts, std::vector{lostOf(base, "b", "deleted")});
  QStringList deleted = merged.theirDeletions;
  deleted.sort();
  EXPECT_EQ(deleted, QStringList({"a1", "b"}));
}

// Each value the merge compares, set to variant `n` made anew at every call: two calls with
// one `n` give equal values that are never the same object, as two reads of one file do.
struct FieldCase {
  const char* what;
  std::function<void(Idea&, int)> set;
  std::function<QByteArray(const Idea&)> value;  // as the file stores it
};

const std::vector<FieldCase>& fieldCases() {
  static const std::vector<FieldCase> cases = {
      {"text", [](Idea& i, int n) { i.setText(QString("text %1").arg(n)); }, [](const Idea& i) { return i.text().toUtf8(); }},
      {"URL", [](Idea& i, int n) { i.setURL(QString("https://example.org/%1").arg(n)); },
       [](const Idea& i) { return i.URL().toUtf8(); }},
      {"note", [](Idea& i, int n) { i.setNote(QString("note %1").arg(n)); }, [](const Idea& i) { return i.note().toUtf8(); }},
      {"color",
       [](Idea& i, int n) { i.setColor(std::make_shared<const Color>(QString("colour %1").arg(n), QColor(n, 0, 0))); },
       [](const Idea& i) { return i.color() ? i.color()->name().toUtf8() : QByteArray(); }},
      {"icon",
       [](Idea& i, int n) {
         i.setIconImage(std::make_shared<IconImage>(QString("icon %1").arg(n), "Travel", QString(QChar(0x2600 + n))));
       },
       [](const Idea& i) { return i.iconImage() ? i.iconImage()->description().toUtf8() : QByteArray(); }},
      {"image",
       [](Idea& i, int n) {
         QImage pixels(8, 8, QImage::Format_ARGB32);
         pixels.fill(QColor(0, 40 * n, 0));
         i.replaceWithOriginalImage(KitImage(pixels));
       },
       [](const Idea& i) { return i.bigImageData() + i.image().pngData(); }},
      {"theme", [](Idea& i, int n) { i.setColorThemeType(static_cast<ColorThemeType>(n - 1)); },
       [](const Idea& i) { return QByteArray::number(int(i.colorThemeType())); }},
  };
  return cases;
}

TEST(IdeaMerge, EveryValueIsComparedByWhatItHoldsNotByWhichObjectHoldsIt) {
  for (const FieldCase& field : fieldCases()) {
    SCOPED_TRACE(field.what);
    // base, ours, theirs: the variant each sets on idea "a" (0 for none); the merged variant;
    // whether the merge reports their change lost.
    struct Row {
      int base, ours, theirs, merged;
      bool lost;
    };
    const Row rows[] = {
        {1, 1, 1, 1, false},  // nobody changed it: equal values in new objects
        {1, 2, 2, 2, false},  // both changed it alike
        {1, 1, 2, 2, false},  // only they changed it
        {1, 2, 1, 2, false},  // only we did
        {1, 2, 3, 2, true},   // both, differently: ours is kept, theirs is lost
    };
    auto tree = [&](int n) {
      IdeaPtr root = sampleTree();
      field.set(*find(root, "a"), n);
      return root;
    };
    for (const Row& row : rows) {
      SCOPED_TRACE(testing::Message() << row.base << row.ours << row.theirs);
      const IdeaMergeResult merged = mergeIdeaTrees(tree(row.base), tree(row.ours), tree(row.theirs));
      EXPECT_EQ(field.value(*find(merged.idea, "a")), field.value(*find(tree(row.merged), "a")));
      const std::vector<IdeaMergeConflict> lost = {lostOf(tree(row.theirs), "a", field.what)};
      EXPECT_EQ(merged.conflicts, row.lost ? lost : std::vector<IdeaMergeConflict>{});
    }
    // A loss is told apart from another by the value lost.
    EXPECT_NE(lostOf(tree(2), "a", field.what), lostOf(tree(3), "a", field.what));
  }
}

TEST(IdeaMerge, TreesReadFromOneFileMergeWithoutLossAndKeepEachSidesChange) {
  IdeaPtr written = sampleTree();
  for (const FieldCase& field : fieldCases()) field.set(*find(written, "a"), 1);
  find(written, "b")->setIconImage(std::make_shared<IconImage>("planet", "Travel", QString(QChar(0x2604))));
  const QByteArray bytes =
      DocumentSnapshot::of(written, QDateTime::currentDateTimeUtc(), QDateTime::currentDateTimeUtc()).encode(true);
  auto read = [&] { return IdeaDocument::treeFromFileBytes(bytes, true); };
  const IdeaPtr base = read(), ours = read(), theirs = read();
  find(ours, "b")->setText("b by us");
  find(theirs, "a1")->setText("a1 by them");
  const IdeaMergeResult merged = mergeIdeaTrees(base, ours, theirs);
  EXPECT_TRUE(merged.conflicts.empty());
  EXPECT_EQ(find(merged.idea, "b")->text(), "b by us");
  EXPECT_EQ(find(merged.idea, "a1")->text(), "a1 by them");
  EXPECT_EQ(find(merged.idea, "b")->iconImage()->name(), "planet");
  EXPECT_FALSE(find(merged.idea, "a")->image().isNull());
}

// Two instances may make an idea of one identifier (made of the second and a counter).
TEST(IdeaMerge, AnIdeaBothMadeKeepsOurValuesAndReportsTheirsLost) {
  const IdeaPtr base = sampleTree();
  const IdeaPtr ours = base->snapshotCopy(), theirs = base->snapshotCopy();
  IdeaPtr mine = Idea::createWithText("ours", "n");
  mine->setNote("our note");
  ours->addIdea(mine);
  IdeaPtr other = Idea::createWithText("theirs", "n");
  other->setURL("https://example.org/theirs");
  theirs->addIdea(other);
  const IdeaMergeResult merged = mergeIdeaTrees(base, ours, theirs);
  const IdeaPtr both = find(merged.idea, "n");
  ASSERT_TRUE(both);
  EXPECT_EQ(both->text(), "ours");
  EXPECT_EQ(both->note(), "our note");
  EXPECT_EQ(both->URL(), "https://example.org/theirs") << "a value only they gave it";
  EXPECT_EQ(merged.conflicts, std::vector{lostOf(theirs, "n", "text")});
}

// What the file says about replaced changes reaches the instance that made them, and only it:
// that instance gets the ideas and its tree from before; the writer announces what its own
// unsaved changes replaced in its next save.
TEST(IdeaMerge, ReplacedChangesTravelInTheFileToTheInstanceThatMadeThem) {
  const QString me = Globals::appInstance();
  auto fileBytes = [](const IdeaPtr& tree, const QString& writer, std::vector<IdeaMergeConflict> replaced) {
    DocumentSnapshot snapshot =
        DocumentSnapshot::of(tree, QDateTime::currentDateTimeUtc(), QDateTime::currentDateTimeUtc(), writer);
    snapshot.replaced = std::move(replaced);
    return snapshot.encode(false);
  };
  const QByteArray base = fileBytes(sampleTree(), me, {});
  IdeaPtr theirs = sampleTree();
  find(theirs, "a")->setText("a by them");
  for (const bool addressedToUs : {true, false}) {
    auto doc = IdeaDocument::createWithFileName("ours.orrx", DocumentLocationDropbox);
    ASSERT_TRUE(doc->loadFromJSONData(base));
    doc->noteFileRead(base, false, {});
    find(doc->idea(), "a")->setText("a by us");
    auto read = IdeaDocument::createWithFileName("read.orrx", DocumentLocationDropbox);
    ASSERT_TRUE(read->loadFromJSONData(
        fileBytes(theirs, "MAC_other", {{"a", "text", addressedToUs ? me : QStringLiteral("MAC_third"), QString()}})));
    doc->takeChangedFile(*read, true, {});
    const auto replaced = doc->takeReplacedChanges();
    if (addressedToUs) {
      EXPECT_EQ(replaced.changes, (std::vector<IdeaMergeConflict>{{"a", "text", me, QString()}}));
      ASSERT_TRUE(replaced.formerTree);
      EXPECT_EQ(find(replaced.formerTree, "a")->text(), "a by us") << "the values as this instance had them";
    } else {
      EXPECT_TRUE(replaced.changes.empty());
      EXPECT_FALSE(replaced.formerTree);
    }
    EXPECT_TRUE(doc->takeReplacedChanges().changes.empty()) << "told once";
    // Our unsaved value won over theirs: the next save tells the other instance.
    EXPECT_EQ(find(doc->idea(), "a")->text(), "a by us");
    EXPECT_EQ(doc->snapshot().replaced,
              (std::vector<IdeaMergeConflict>{
                  {"a", "text", "MAC_other", Globals::appInstallation(), lostOf(theirs, "a", "text").lostValue}}));
    doc->noteWritten(nullptr, nullptr, {}, {}, true, {}, doc->snapshot().allReplaced());
    EXPECT_TRUE(doc->snapshot().replaced.empty()) << "announced once written";
    // Named in the file until the instances they are for take them: every save names them.
    EXPECT_EQ(doc->snapshot().allReplaced().size(), addressedToUs ? 1u : 2u);
  }
}

// Another instance replaces this one's value of one idea's title again and again: each value
// lost is told once, with this instance's tree holding it, however often that instance's
// later files still name it (it saved again before it read ours); our saves never name it.
TEST(IdeaMerge, EachValueLostIsToldOnceWithATreeHoldingItHoweverManyFilesNameIt) {
  const QString me = Globals::appInstance();
  auto fileBytes = [](const IdeaPtr& tree, std::vector<IdeaMergeConflict> replaced, std::vector<ReplacedTree> trees) {
    DocumentSnapshot snapshot =
        DocumentSnapshot::of(tree, QDateTime::currentDateTimeUtc(), QDateTime::currentDateTimeUtc(), "MAC_other");
    snapshot.replaced = std::move(replaced);
    snapshot.replacedTrees = std::move(trees);
    return snapshot.encode(false);
  };
  auto doc = IdeaDocument::createWithFileName("ours.orrx", DocumentLocationDropbox);
  IdeaPtr theirs = sampleTree();
  const QByteArray base = fileBytes(theirs, {}, {});
  ASSERT_TRUE(doc->loadFromJSONData(base));
  doc->noteFileRead(base, false, {});
  std::vector<IdeaMergeConflict> named;
  std::vector<ReplacedTree> namedTrees;
  // Our title, written and then lost to theirs, changed before ours arrived; none: they save
  // again, still naming the last loss, or an earlier version carries it (without its value).
  const struct {
    const char* ours;
    const char* theirs;
    bool earlierVersion;
  } steps[] = {{"ours 1", "theirs 1", false}, {nullptr, nullptr, false},     {nullptr, nullptr, true},
               {"ours 2", "theirs 2", false}, {"ours 3", "theirs 3", false}, {nullptr, nullptr, false},
               {"ours 1", "theirs 4", false}};
  int saves = 0;
  for (const auto& step : steps) {
    SCOPED_TRACE(step.ours ? step.ours : "saved again");
    if (step.earlierVersion)
      for (IdeaMergeConflict& entry : named) entry.lostValue.clear();
    if (step.ours) {
      find(doc->idea(), "a")->setText(step.ours);
      const DocumentSnapshot ours = doc->snapshot();
      const QByteArray written = ours.encode(false);
      doc->noteWritten(nullptr, nullptr, {}, written, false, {}, ours.allReplaced());
      IdeaPtr changed = theirs->snapshotCopy();
      find(changed, "a")->setText(step.theirs);
      IdeaMergeResult merged = mergeIdeaTrees(theirs, changed, IdeaDocument::treeFromFileBytes(written, false));
      ASSERT_EQ(merged.conflicts.size(), 1u);
      for (IdeaMergeConflict& lost : merged.conflicts) {
        lost.instance = me;
        lost.installation = Globals::appInstallation();
      }
      named = merged.conflicts;
      namedTrees = {{me, Globals::appInstallation(), ours.idea}};
      theirs = merged.idea;
    }
    // Each of their files differs from the one before.
    find(theirs, "b")->setText(QString("b %1").arg(++saves));
    auto read = IdeaDocument::createWithFileName("read.orrx", DocumentLocationDropbox);
    const QByteArray bytes = fileBytes(theirs, named, namedTrees);
    ASSERT_TRUE(read->loadFromJSONData(bytes));
    read->noteFileRead(bytes, false, {});
    ASSERT_TRUE(doc->takeChangedFile(*read, true, {}));
    const auto told = doc->takeReplacedChanges();
    EXPECT_EQ(told.changes.size(), step.ours ? 1u : 0u);
    if (step.ours) {
      ASSERT_TRUE(told.formerTree);
      EXPECT_EQ(find(told.formerTree, "a")->text(), step.ours) << "kept";
    }
    EXPECT_EQ(find(doc->idea(), "a")->text(), step.ours ? step.theirs : find(theirs, "a")->text());
    EXPECT_TRUE(doc->snapshot().allReplaced().empty()) << "our next save stops naming it";
  }
}

TEST(IdeaMerge, ASaveAfterAnotherInstancesWriteMergesAndReportsWhatItReplaced) {
  testsupport::QtMainQueueScope mainQueue;
  QTemporaryDir dir;
  const QString path = dir.filePath("shared.orrery");
  auto doc = PersistenceController::singleton().documentForIdentifier("file://" + path);
  doc->setIdea(sampleTree());
  DocumentToken token = -1;
  PersistenceController::singleton().createDocument(doc, [&](DocumentToken t) { token = t; });
  ASSERT_TRUE(spinUntil([&] { return token >= 0; }));
  ASSERT_GE(token, 1);

  // The other instance writes its version behind our back.
  auto other = IdeaDocument::createWithFileName("other.orrx", DocumentLocationDropbox);
  ASSERT_TRUE(other->loadFromOrreryData(testsupport::readAll(path)));
  find(other->idea(), "b")->setText("b by them");
  find(other->idea(), "a")->setText("a by them");
  ASSERT_EQ(writeFileReplacing(path, other->exportAsOrreryData()), FileWriteResult::Written);
  // And we save our edits before hearing of it.
  find(doc->idea(), "a")->setText("a by us");
  find(doc->idea(), "a1")->setText("a1 by us");
  int saved = -1;
  PersistenceController::singleton().saveDocument(doc, token, [&](bool ok) { saved = ok; });
  ASSERT_TRUE(spinUntil([&] { return saved >= 0; }));
  EXPECT_EQ(saved, 1);

  auto onDisk = IdeaDocument::createWithFileName("check.orrx", DocumentLocationDropbox);
  ASSERT_TRUE(onDisk->loadFromOrreryData(testsupport::readAll(path)));
  EXPECT_EQ(shape(onDisk->idea()), "r=root .a=a by us ..a1=a1 by us .b=b by them .@a=a by us ");
  // What we show is what was written.
  EXPECT_EQ(shape(doc->idea()), shape(onDisk->idea()));
  const std::vector<IdeaMergeConflict> conflicts = doc->takeMergeConflicts();
  ASSERT_EQ(conflicts.size(), 1u);
  const IdeaMergeConflict lost = conflicts.front();
  EXPECT_EQ(lost, (IdeaMergeConflict{"a", "text", other->appInstance(), Globals::appInstallation(), lost.lostValue}));
  EXPECT_FALSE(lost.lostValue.isEmpty());
  // The file names the change it replaced for the instance that made it.
  auto reader = IdeaDocument::createWithFileName("reader.orrx", DocumentLocationDropbox);
  ASSERT_TRUE(reader->loadFromJSONData(other->exportAsPureJSONData()));
  reader->noteFileRead(other->exportAsPureJSONData(), false, {});
  reader->takeChangedFile(*onDisk, true, {});
  EXPECT_EQ(reader->takeReplacedChanges().changes, std::vector<IdeaMergeConflict>{lost});
  testsupport::drainEvents();
  EXPECT_TRUE(doc->takeMergeConflicts().empty());
  PersistenceController::singleton().releaseDocument(doc, token, nullptr);
}

// One of the two instances of the race below: edits its own idea and saves, round after
// round, hearing of the other's saves in between.
TEST(IdeaMergeProcess, Run) {
  const QString path = qEnvironmentVariable(kPathVariable);
  if (path.isEmpty()) GTEST_SKIP() << "runs only as one of the two processes of the race";
  const QString role = qEnvironmentVariable(kRoleVariable);
  testsupport::QtMainQueueScope mainQueue;
  auto doc = PersistenceController::singleton().documentForIdentifier("file://" + path);
  DocumentToken token = -1;
  PersistenceController::singleton().openDocument(doc, [&](DocumentToken t) { token = t; });
  ASSERT_TRUE(spinUntil([&] { return token >= 0; }));
  ASSERT_GE(token, 1);
  std::mt19937 rng(role == "a" ? 1 : 2);
  for (int round = 1; round <= kRounds; ++round) {
    IdeaPtr mine = find(doc->idea(), role);
    ASSERT_TRUE(mine) << shape(doc->idea());
    mine->setText(QString("%1 round %2").arg(role).arg(round));
    mine->addIdea(Idea::createWithText(QString("%1 child %2").arg(role).arg(round), QString("%1%2").arg(role).arg(round)));
    int saved = -1;
    PersistenceController::singleton().saveDocument(doc, token, [&](bool ok) { saved = ok; });
    ASSERT_TRUE(spinUntil([&] { return saved >= 0; }));
    ASSERT_EQ(saved, 1);
    // Let the other's saves arrive now and then.
    QDeadlineTimer pause(int(rng() % 8));
    while (!pause.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
  }
  PersistenceController::singleton().releaseDocument(doc, token, nullptr);
}

TEST(IdeaMerge, TwoProcessesSavingOneFileInTurnKeepEveryEdit) {
  SKIP_CHILD_PROCESS_UNDER_THREAD_SANITIZER();
  testsupport::QtMainQueueScope mainQueue;
  QTemporaryDir dir;
  const QString path = dir.filePath("raced.orrery");
  auto seed = IdeaDocument::createWithFileName("seed.orrx", DocumentLocationDropbox);
  seed->setIdea(sampleTree());
  ASSERT_EQ(writeFileReplacing(path, seed->exportAsOrreryData()), FileWriteResult::Written);
  std::vector<std::unique_ptr<QProcess>> writers;
  for (const char* role : {"a", "b"}) {
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(kPathVariable, path);
    env.insert(kRoleVariable, role);
    // The child runs one test by name: a shard of the parent's run could leave it out.
    env.remove("GTEST_TOTAL_SHARDS");
    env.remove("GTEST_SHARD_INDEX");
    process->setProcessEnvironment(env);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(QCoreApplication::applicationFilePath(), {"--gtest_filter=IdeaMergeProcess.Run"});
    writers.push_back(std::move(process));
  }
  for (auto& writer : writers) {
    ASSERT_TRUE(writer->waitForFinished(120000));
    EXPECT_EQ(writer->exitCode(), 0);
  }
  auto onDisk = IdeaDocument::createWithFileName("check.orrx", DocumentLocationDropbox);
  ASSERT_TRUE(onDisk->loadFromOrreryData(testsupport::readAll(path)));
  for (const QString role : {"a", "b"}) {
    const IdeaPtr idea = find(onDisk->idea(), role);
    ASSERT_TRUE(idea);
    EXPECT_EQ(idea->text(), QString("%1 round %2").arg(role).arg(kRounds));
    // Every child either added in any round is there.
    for (int round = 1; round <= kRounds; ++round)
      EXPECT_TRUE(find(onDisk->idea(), QString("%1%2").arg(role).arg(round))) << role.toStdString() << round;
  }
}
