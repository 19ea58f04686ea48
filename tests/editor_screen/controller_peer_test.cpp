#include "controller_test_support.h"

#include "platform/services/file_presenter.h"

#include <QDateTime>
#include <QFile>
#include <QProcess>

using namespace controllertest;

namespace {

// Runs the peer program on the same home folder; true when its edit is on disk.
bool runPeer(const QString& file, const QString& command, const QString& argument) {
  QProcess peer;
  peer.setProcessChannelMode(QProcess::ForwardedChannels);
  peer.start(QStringLiteral(ORRERY_CONTROLLER_PEER), {file, command, argument});
  if (!peer.waitForFinished(20000)) {
    peer.kill();
    peer.waitForFinished(2000);
    return false;
  }
  return peer.exitStatus() == QProcess::NormalExit && peer.exitCode() == 0;
}

IdeaPtr childNamed(const IdeaPtr& parent, const QString& text) {
  for (const auto& child : parent->ideas())
    if (child->text() == text) return child;
  return nullptr;
}

using PeerInstance = ControllerTest;

TEST_F(PeerInstance, AnotherInstancesEditsAreShownAndEditedBackIntoTheSameFile) {
  const QString file = path(QStringLiteral("shared.orrery"));
  Opened opened = createLocal(file, makeTree(3));
  const QString shownId = opened.doc->idea()->ideas()[0]->identifier();
  EditorWindow editor(SolarSystemViewController::create(opened.doc, opened.token, shownId), &app);
  auto& c = *editor.controller;
  auto recheck = [] { platform::FilePresenterRegistry::shared().recheckAll(); };

  ASSERT_TRUE(runPeer(file, QStringLiteral("add"), QStringLiteral("theirs")));
  recheck();
  ASSERT_TRUE(waitFor([&] { return childNamed(c.rootIdea(), QStringLiteral("theirs")) != nullptr; }));
  EXPECT_EQ(c.ownIdea()->identifier(), shownId) << "the shown idea stays where it still exists";
  EXPECT_EQ(editor.planets(), editor.children());

  c.addNewIdeaAfterIndex(1, idea(QStringLiteral("mine")), nullptr);
  ASSERT_TRUE(waitFor([&] { return !c.isUpdatingDocument(); }));
  IdeaPtr saved = readTree(file);
  ASSERT_TRUE(saved);
  EXPECT_TRUE(childNamed(saved, QStringLiteral("theirs")));
  EXPECT_TRUE(childNamed(saved->ideas()[0], QStringLiteral("mine")));

  // The peer deletes the idea this window shows: the root is shown.
  ASSERT_TRUE(runPeer(file, QStringLiteral("delete"), shownId));
  recheck();
  ASSERT_TRUE(waitFor([&] { return c.ownIdea() == c.rootIdea(); }));
  EXPECT_FALSE(c.rootIdea()->findIdeaInSubTreeWithIdentifier(shownId));
  EXPECT_EQ(editor.planets(), editor.children());
}

TEST_F(PeerInstance, AnEditWrittenDuringTheEditorsSaveIsNotWrittenOver) {
  const QString file = path(QStringLiteral("racing.orrery"));
  Opened opened = createLocal(file, makeTree(3));
  EditorWindow editor(SolarSystemViewController::create(opened.doc, opened.token, QString()), &app);
  auto& c = *editor.controller;
  {
    QueueGate blocker;
    c.addNewIdeaAfterIndex(2, idea(QStringLiteral("during")), nullptr);
    uitest::loop().runPending();  // the save starts; its write waits behind the blocker
    ASSERT_TRUE(c.isUpdatingDocument());
    ASSERT_TRUE(runPeer(file, QStringLiteral("add"), QStringLiteral("peer")));
    platform::FilePresenterRegistry::shared().recheckAll();
    uitest::loop().runPending();  // the change arrives while the own save is under way
    EXPECT_FALSE(childNamed(c.rootIdea(), QStringLiteral("peer"))) << "applied after the own save";
    blocker.open();
  }
  ASSERT_TRUE(waitFor([&] { return childNamed(c.rootIdea(), QStringLiteral("peer")) != nullptr; }));
  ASSERT_TRUE(waitFor([&] { return !c.isUpdatingDocument(); }));
  IdeaPtr saved = readTree(file);
  ASSERT_TRUE(saved);
  EXPECT_TRUE(childNamed(saved, QStringLiteral("peer"))) << "the own older write did not stay over the peer's edit";

  c.addNewIdeaAfterIndex(0, idea(QStringLiteral("back")), nullptr);
  ASSERT_TRUE(waitFor([&] { return !c.isUpdatingDocument(); }));
  saved = readTree(file);
  ASSERT_TRUE(saved);
  EXPECT_TRUE(childNamed(saved, QStringLiteral("peer")));
  EXPECT_TRUE(childNamed(saved, QStringLiteral("back")));
  EXPECT_EQ(editor.planets(), editor.children());
}

// Both instances change the text of one idea; the peer saves last, so its value wins. This
// window then shows the peer's text, says which idea changed under it, and keeps its own
// version as a document beside the file.
TEST_F(PeerInstance, AnIdeaBothChangedShowsThePeersTextTellsTheUserAndKeepsOursBeside) {
  const QString file = path(QStringLiteral("both.orrery"));
  Opened opened = createLocal(file, makeTree(3));
  const IdeaPtr shared = opened.doc->idea()->ideas()[1];
  const QString sharedId = shared->identifier();
  EditorWindow editor(SolarSystemViewController::create(opened.doc, opened.token, QString()), &app);
  auto& c = *editor.controller;

  QProcess peer;
  peer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  peer.start(QStringLiteral(ORRERY_CONTROLLER_PEER), {file, QStringLiteral("text"), sharedId + QStringLiteral("=theirs")});
  ASSERT_TRUE(peer.waitForReadyRead(20000));
  ASSERT_EQ(peer.readLine().trimmed(), QByteArray("edited")) << "the peer changed the idea before our save";

  c.rootIdea()->findIdeaInSubTreeWithIdentifier(sharedId)->setText(QStringLiteral("mine"));
  c.updateSolarSystemAndSaveDocument();
  ASSERT_TRUE(waitFor([&] { return !c.isUpdatingDocument(); }));
  presenter->alertAnswers = {1000};
  peer.write("save\n");
  peer.closeWriteChannel();
  ASSERT_TRUE(peer.waitForFinished(20000));
  ASSERT_EQ(peer.exitCode(), 0);

  platform::FilePresenterRegistry::shared().recheckAll();
  ASSERT_TRUE(waitFor([&] { return !presenter->alerts.empty(); }));
  EXPECT_EQ(c.rootIdea()->findIdeaInSubTreeWithIdentifier(sharedId)->text(), QStringLiteral("theirs"))
      << "the instance that saved last keeps its value";
  EXPECT_EQ(presenter->alerts[0].messageText, QStringLiteral("Your changes were replaced"));
  EXPECT_TRUE(presenter->alerts[0].informativeText.contains(QStringLiteral("\u201Cmine\u201D")))
      << presenter->alerts[0].informativeText.toStdString();
  const QString copy = path(QStringLiteral("both (replaced changes).orrery"));
  EXPECT_TRUE(presenter->alerts[0].informativeText.contains(QStringLiteral("both (replaced changes)")));
  IdeaPtr kept = readTree(copy);
  ASSERT_TRUE(kept) << "our version lies beside the document";
  EXPECT_TRUE(childNamed(kept, QStringLiteral("mine")));
  EXPECT_EQ(presenter->alerts.size(), 1u);
}

// An earlier process of this installation lost a change to another instance after it had
// quit: the file names the change, with the tree that process last wrote. Opening the
// document tells the user once and keeps that tree beside the document.
TEST_F(PeerInstance, ChangesAnEarlierStartLostAreToldWhenTheDocumentOpens) {
  const QString file = path(QStringLiteral("earlier.orrery"));
  const IdeaPtr now = makeTree(3);
  const QString lostId = now->ideas()[1]->identifier();
  const IdeaPtr earlier = now->snapshotCopy();
  earlier->ideas()[1]->setText(QStringLiteral("lost by an earlier start"));
  const QDateTime date = QDateTime::currentDateTimeUtc();
  orrery::DocumentSnapshot written = orrery::DocumentSnapshot::of(now, date, date, QStringLiteral("MAC_winner"));
  written.replaced = {
      {lostId, QStringLiteral("text"), QStringLiteral("MAC_earlier"), orrery::Globals::appInstallation()}};
  written.replacedTrees = {{QStringLiteral("MAC_earlier"), orrery::Globals::appInstallation(), earlier}};
  {
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    ASSERT_GT(out.write(written.encode(/*compressed=*/true)), 0);
  }
  Opened opened = openAgain(IdeaDocument::createWithFileName(file, orrery::DocumentLocationLocalFile));
  ASSERT_GE(opened.token, 1);
  presenter->alertAnswers = {1000};
  EditorWindow editor(SolarSystemViewController::create(opened.doc, opened.token, QString()), &app);
  ASSERT_TRUE(waitFor([&] { return !presenter->alerts.empty(); }));
  EXPECT_EQ(presenter->alerts[0].messageText, QStringLiteral("Your changes were replaced"));
  EXPECT_TRUE(presenter->alerts[0].informativeText.contains(QStringLiteral("\u201Clost by an earlier start\u201D")))
      << presenter->alerts[0].informativeText.toStdString();
  IdeaPtr kept = readTree(path(QStringLiteral("earlier (replaced changes).orrery")));
  ASSERT_TRUE(kept) << "the earlier start's version lies beside the document";
  EXPECT_TRUE(childNamed(kept, QStringLiteral("lost by an earlier start")));
  // Told once: the document's file stops naming it.
  ASSERT_TRUE(waitFor([&] {
    QFile in(file);
    const auto read = in.open(QIODevice::ReadOnly) ? IdeaDocument::fromFileBytes(in.readAll(), true) : nullptr;
    return read && read->replacedInFile().empty() && read->replacedTreesInFile().empty();
  }));
  EXPECT_EQ(presenter->alerts.size(), 1u);
}

}  // namespace
