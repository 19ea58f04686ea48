// Starts of the Dropbox engine over what a quit, a kill or a damaged status file left in the
// mirror folder: no map the user has is lost or listed twice, and no deleted map comes back.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <cmath>
#include <random>

#include "cloud/dropbox_folder_manager.h"
#include "cloud/dropbox_sync_rules.h"
#include "cloud/mirror_maps.h"
#include "support/dropbox_engine_fixture.h"

using namespace orrery;
using namespace orrery::testing;
using testsupport::FakeRemote;
using Route = FakeRemote::Route;

TEST_F(DropboxEngineTest, PeerChangesAreDownloadedReportedAndShownInAnOpenDocument) {
  const QString folder = "peer-" + QUuid::createUuid().toString(QUuid::WithoutBraces);
  auto engine = startEngine(folder);
  remote->peerWrite("/id7_1.orrx", documentBytes("theirs"));
  ASSERT_TRUE(settle());
  EXPECT_TRUE(recorders[0]->events.contains("proxy dropbox:/id7_1.orrx theirs"));
  EXPECT_EQ(fetchText(*engine, "dropbox:/id7_1.orrx"), "theirs");

  remote->peerWrite("/id7_1.orrx", documentBytes("newer"));
  main.advance(31);
  ASSERT_TRUE(settle());
  EXPECT_EQ(fetchText(*engine, "dropbox:/id7_1.orrx"), "newer");
  EXPECT_TRUE(recorders[0]->events.contains("proxy dropbox:/id7_1.orrx newer"));

  // A peer delete: reported, and the record is dropped at the next start.
  remote->peerDelete("/id7_1.orrx");
  main.advance(31);
  ASSERT_TRUE(settle());
  EXPECT_TRUE(recorders[0]->events.contains("deleted dropbox:/id7_1.orrx"));

  // Neither the deleted document nor a version the downloads replaced comes back.
  stopEngines(/*atQuit=*/true);
  auto again = startEngine(folder);
  ASSERT_TRUE(settle());
  EXPECT_TRUE(again->state().docs().isEmpty());
  EXPECT_EQ(recorders[0]->events.filter("proxy ").size(), 0);

  // The other installation deletes a map this one saved twice offline and then sent.
  const auto save = [](Script& s) { s.save("71"); };
  checkKillsAtEveryStep({{"the first save, sent", [](Script& s) { s.online(true), s.save("71"); }, false},
                         {"going offline", [](Script& s) { s.online(false); }, false},
                         {"a save offline", save},
                         {"another save offline", save},
                         {"sending them", [](Script& s) { s.online(true); }, false},
                         {"the other installation's delete", [](Script& s) { s.peerDelete("71"); }, false}});
}

TEST_F(DropboxEngineTest, DeleteMadeDuringAnUploadDeletesTheUploadedVersion) {
  const QString folder = "deleted-" + QUuid::createUuid().toString(QUuid::WithoutBraces);
  auto engine = startEngine(folder);
  ASSERT_TRUE(settle());
  // The user deletes the document while its first upload is on its way.
  bool deleted = false;
  remote->beforeAnswer(Route::Upload, [&] {
    engine->deleteDocument("dropbox:/id9_1.orrx", [&](bool) { deleted = true; });
    main.runPending();
  });
  create(*engine, "dropbox:/id9_1.orrx", "doomed");
  ASSERT_TRUE(settle());
  EXPECT_TRUE(deleted);
  EXPECT_FALSE(remote->file("/id9_1.orrx")) << "the document must not come back";
  EXPECT_EQ(remote->deleteParentRevs().size(), 1u);

  // A deleted map stays deleted and is never sent again, whatever step of a save or of the
  // delete a kill lands on.
  const auto save = [](Script& s) { s.save("91"); };
  const auto remove = [](Script& s) { s.remove("91"); };
  const auto up = [](Script& s) { s.online(true); };
  const auto down = [](Script& s) { s.online(false); };
  const std::vector<std::pair<const char*, std::vector<Step>>> scripts{
      {"made offline, saved again and deleted",
       {{"its first save", save}, {"its second save", save}, {"the delete", remove}}},
      {"sent, saved twice offline, sent, deleted and the delete sent",
       {{"going online", up, false},
        {"its first save, sent", [](Script& s) { s.save("91"), s.online(true); }, false},
        {"going offline", down, false},
        {"a save", save},
        {"another save", save},
        {"sending them", up, false},
        {"going offline again", down, false},
        {"the delete", remove},
        {"sending it", up, false}}},
      {"sent, edited offline and deleted",
       {{"going online", up, false},
        {"its first save, sent", [](Script& s) { s.save("91"), s.online(true); }, false},
        {"going offline", down, false},
        {"an edit", save},
        {"the delete", remove}}},
  };
  for (const auto& [what, steps] : scripts) {
    SCOPED_TRACE(what);
    checkKillsAtEveryStep(steps);
  }
}

// A map made while the app folder cannot be reached waits in the mirror for its first upload.
// Whatever became of the status file, the map stays listed through the next two starts, as its
// newest readable version only, and reaches the app folder once the network is back.
TEST_F(DropboxEngineTest, AMapNotYetSentOutlivesADamagedOrMissingStatusFileAndIsSentLater) {
  std::mt19937 random(17);
  QByteArray noise(4096, '\0');
  for (char& c : noise) c = char(random());
  QByteArray otherShape = "[";
  for (int i = 0; i < 40000; ++i) otherShape += R"({"key":"dropbox:/id1_1.orrx","rows":[1,2,3]},)";
  otherShape.back() = ']';
  // Per row: the status file as it was before the map was made and after its first save, and
  // the map's newest file.
  QByteArray before, firstSave;
  QString newest;
  struct Row {
    const char* what;
    std::function<bool(const QString&)> damage;
    bool newestUnreadable = false;  // the map comes back one save older
    bool savedAgain = false;        // saved after the first start, the save's status write cut off by a kill
  };
  // A "lastMade" past which no name carries a number: the next save is numbered from the mirror.
  const auto lastMade = [](const char* made) {
    return [made](const QString& p) { return editStatus(p, [made](QJsonObject& s) { s["lastMade"] = made; }); };
  };
  const std::vector<Row> rows{
      {"random bytes", [&](const QString& p) { return writeFile(p, noise); }},
      {"empty", [](const QString& p) { return writeFile(p, {}); }},
      {"JSON of another shape", [&](const QString& p) { return writeFile(p, otherShape); }},
      {"a folder",
       [](const QString& p) { return QFile::remove(p) && QDir().mkpath(p) && writeFile(p + "/inside", "x"); }},
      {"removed", [](const QString& p) { return QFile::remove(p); }},
      {"a FIFO", [](const QString& p) { return makeFifo(p); }},
      // A status file that still reads but names the map's file no more.
      {"an older copy", [&](const QString& p) { return !before.isEmpty() && writeFile(p, before); }},
      {"an older copy naming the first save",
       [&](const QString& p) { return !firstSave.isEmpty() && writeFile(p, firstSave); }},
      {"one character of the file name changed",
       [&](const QString& p) {
         // The last digit, to one that names no file.
         QString changed = newest;
         const qsizetype digit = changed.size() - QString(".orrx").size() - 1;
         const QDir dir = QFileInfo(p).dir();
         for (char c = '0'; c <= '9' && (changed == newest || dir.exists(changed)); ++c) changed[digit] = QChar(c);
         QByteArray bytes = readFile(p);
         return bytes.contains(newest.toUtf8()) && writeFile(p, bytes.replace(newest.toUtf8(), changed.toUtf8()));
       }},
      {"an empty key",
       [](const QString& p) {
         QByteArray bytes = readFile(p);
         return bytes.contains(R"("key":"dropbox:/id1_1.orrx")") &&
                writeFile(p, bytes.replace(R"("key":"dropbox:/id1_1.orrx")", R"("key":"")"));
       }},
      {"documents of another shape",
       [](const QString& p) { return editStatus(p, [](QJsonObject& state) { state["documents"] = "broken"; }); }},
      {"a record naming no usable file",
       [](const QString& p) {
         QByteArray bytes = readFile(p);
         return bytes.contains("dropbox:/id1_1.orrx") &&
                writeFile(p, bytes.replace("dropbox:/id1_1.orrx", "dropbox:/a/id1_1.orrx"));
       }},
      {"unreadable, and the newest version truncated",
       [&](const QString& p) {
         const QString file = QFileInfo(p).dir().filePath(newest);
         return writeFile(p, noise) && writeFile(file, readFile(file).left(40));
       },
       /*newestUnreadable=*/true},
      {"the newest version truncated",
       [&](const QString& p) {
         const QString file = QFileInfo(p).dir().filePath(newest);
         return writeFile(file, readFile(file).left(40));
       },
       /*newestUnreadable=*/true},
      {"the newest version a FIFO", [&](const QString& p) { return makeFifo(QFileInfo(p).dir().filePath(newest)); },
       /*newestUnreadable=*/true},
      {"lastMade 2^63-1", lastMade("9223372036854775807"), false, /*savedAgain=*/true},
      {"lastMade 10^18", lastMade("1000000000000000000"), false, /*savedAgain=*/true},
      {"lastMade 18 nines", lastMade("999999999999999999"), false, /*savedAgain=*/true},
      {"one character of the file name lost",
       [&](const QString& p) {
         QByteArray bytes = readFile(p);
         return bytes.contains(newest.toUtf8()) && writeFile(p, bytes.replace(newest.toUtf8(), newest.mid(1).toUtf8()));
       }},
  };
  // A tile of the home: a map's own list entry, or the local index's.
  static const QRegularExpression tile("^(proxy|listed) ");
  auto proxiesWith = [](const QStringList& events, const QString& text) {
    return std::count_if(events.begin(), events.end(),
                         [&](const QString& e) { return e.contains(tile) && e.endsWith(" " + text); });
  };
  for (std::size_t row = 0; row < rows.size(); ++row) {
    const Row& r = rows[row];
    SCOPED_TRACE(r.what);
    const QString draft = QString("draft %1").arg(row), mine = QString("mine %1").arg(row);
    QString kept = r.newestUnreadable ? draft : mine;
    QStringList lost{r.newestUnreadable ? mine : draft};
    QByteArray cutOff;  // the status as the kill left it
    const QString folder = "damaged-" + QUuid::createUuid().toString(QUuid::WithoutBraces);
    networkUp = false;
    auto engine = startEngine(folder);
    const QString dir = engine->localManagedFolder(), status = dir + "/orrery.local.status";
    const auto started = [&] { return engine->state().isIndexDocumentAvailable() && !engine->isBusyOffMainThread(); };
    ASSERT_TRUE(pump(started, 60, /*fileWork=*/true));
    before = readFile(status);
    auto doc = documentWithText("dropbox:/id1_1.orrx", draft);
    DocumentToken token = -1;
    engine->createDocument(doc, [&](DocumentToken t) { token = t; });
    ASSERT_TRUE(pump([&] { return token >= 0; }, 60, /*fileWork=*/true));
    firstSave = readFile(status);
    doc->idea()->setText(mine);
    int saved = -1;
    engine->updateDocument(doc, token, [&](bool ok) { saved = ok; });
    ASSERT_TRUE(pump([&] { return saved >= 0; }, 60, /*fileWork=*/true));
    ASSERT_EQ(saved, 1);
    newest = engine->state().docs().value("dropbox:/id1_1.orrx")->output()->name();
    for (int start = 0; start < 3; ++start) {
      stopEngines(/*atQuit=*/true);
      if (start == 0) {
        ASSERT_TRUE(r.damage(status));
        ASSERT_TRUE(makeFifo(dir + "/file1_1.orrx")) << "a FIFO among the mirror files is no map";
      }
      if (!cutOff.isEmpty()) {
        ASSERT_TRUE(writeFile(status, std::exchange(cutOff, {})));
      }
      networkUp = start == 2;
      engine = startEngine(folder);
      const bool listed = pump([&] { return proxiesWith(recorders[0]->events, kept) > 0; }, 60, /*fileWork=*/true);
      releaseFifoReader(status);
      ASSERT_TRUE(listed) << "start " << start;
      for (const QString& older : lost)
        EXPECT_EQ(proxiesWith(recorders[0]->events, older), 0) << "an older version is no map of its own";
      if (start == 0 && r.savedAgain) {
        ASSERT_TRUE(pump([&] { return !engine->isBusyOffMainThread(); }, 60, /*fileWork=*/true));
        cutOff = readFile(status);
        doc->idea()->setText(QString("later %1").arg(row));
        saved = -1;
        engine->updateDocument(doc, token, [&](bool ok) { saved = ok; });
        ASSERT_TRUE(pump([&] { return saved >= 0; }, 60, /*fileWork=*/true));
        lost << std::exchange(kept, doc->idea()->text());
      }
    }
    ASSERT_TRUE(settle());
    QSet<QString> listings;
    for (const QString& e : recorders[0]->events)
      if (e.contains(tile) && e.endsWith(" " + kept)) listings.insert(e.section(' ', 1, 1));
    EXPECT_EQ(listings.size(), 1) << "the map is listed once";
    int sent = 0;
    for (const QString& path : remote->livePaths()) sent += textOfDocumentBytes(remote->contentOf(path)) == kept;
    EXPECT_EQ(sent, 1) << "the map reaches the app folder once";
    if (r.newestUnreadable) {
      EXPECT_TRUE(QFileInfo::exists(dir + "/" + newest)) << "a file that holds no readable map is left in place";
    }
    // The app folder holds the earlier rows' maps too.
    QStringList texts;
    for (const QString& key : engine->state().docs().keys())
      if (const QString text = fetchText(*engine, key); text.isEmpty() || text.endsWith(QString(" %1").arg(row)))
        texts << text;
    EXPECT_EQ(texts, QStringList{kept}) << "the map is listed once, and every listed map opens";
    if (QString(r.what) == "a folder") {
      EXPECT_TRUE(QFileInfo::exists(dir + "/orrery.local.status.bak/inside")) << "the folder keeps its content";
    }
    stopEngines(/*atQuit=*/false);
  }

  // Maps enough to be read on several threads at a start, their status file gone: each comes
  // back once, as its last save.
  {
    const QString folder = "many-" + QUuid::createUuid().toString(QUuid::WithoutBraces);
    networkUp = false;
    auto engine = startEngine(folder);
    ASSERT_TRUE(pump([&] { return engine->state().isIndexDocumentAvailable() && !engine->isBusyOffMainThread(); },
                     60, /*fileWork=*/true));
    constexpr int kMaps = 30;
    for (int i = 0; i < kMaps; ++i) {
      auto doc = documentWithText(QString("dropbox:/many%1_1.orrx").arg(i), QString("draft of many %1").arg(i));
      DocumentToken token = -1;
      engine->createDocument(doc, [&](DocumentToken t) { token = t; });
      ASSERT_TRUE(pump([&] { return token >= 0; }, 60, /*fileWork=*/true));
      doc->idea()->setText(QString("many %1").arg(i));
      int saved = -1;
      engine->updateDocument(doc, token, [&](bool ok) { saved = ok; });
      ASSERT_TRUE(pump([&] { return saved >= 0; }, 60, /*fileWork=*/true));
    }
    const QString status = engine->localManagedFolder() + "/orrery.local.status";
    stopEngines(/*atQuit=*/true);
    ASSERT_TRUE(QFile::remove(status));
    engine = startEngine(folder);
    const auto listed = [&] {
      for (int i = 0; i < kMaps; ++i)
        if (proxiesWith(recorders[0]->events, QString("many %1").arg(i)) == 0) return false;
      return true;
    };
    ASSERT_TRUE(pump(listed, 60, /*fileWork=*/true)) << "every map is listed";
    ASSERT_TRUE(pump([&] { return !engine->isBusyOffMainThread(); }, 60, /*fileWork=*/true));
    QStringList texts;
    for (const QString& key : engine->state().docs().keys()) texts << fetchText(*engine, key);
    texts.sort();
    QStringList expected;
    for (int i = 0; i < kMaps; ++i) expected << QString("many %1").arg(i);
    expected.sort();
    EXPECT_EQ(texts, expected) << "each map is listed once, as its last save, and opens";
    stopEngines(/*atQuit=*/false);
  }

  // The README's limit: a hand copy of an older save, named as a later save, is taken for the
  // map's next save and sent; the last save goes, or is kept aside if changed a minute later.
  for (const bool laterMinute : {true, false}) {
    SCOPED_TRACE(laterMinute ? "the last save a minute later" : "the last save in the same minute");
    const QString folder = "hand-" + QUuid::createUuid().toString(QUuid::WithoutBraces);
    remote = FakeRemote::create();
    platform::DropboxClientsManager::setAuthorizedClient(remote->client());
    networkUp = false;
    auto engine = startEngine(folder);
    const QString dir = engine->localManagedFolder();
    const auto started = [&] { return engine->state().isIndexDocumentAvailable() && !engine->isBusyOffMainThread(); };
    ASSERT_TRUE(pump(started, 60, /*fileWork=*/true));
    auto doc = documentWithText("dropbox:/hand_1.orrx", "hand 1");
    QStringList saves;
    main.advance(60 - std::fmod(Globals::currentTimeMillis() / 1000.0, 60.0));
    for (const QString text : {"hand 1", "hand 2"}) {
      main.advance(laterMinute ? 60 : 5);
      doc->idea()->setText(text);
      doc->setDateModified(QDateTime::fromMSecsSinceEpoch(Globals::currentTimeMillis()));
      int saved = -1;
      engine->updateDocument(doc, 1, [&](bool ok) { saved = ok; });
      ASSERT_TRUE(pump([&] { return saved >= 0; }, 60, /*fileWork=*/true));
      saves << engine->state().docs().value("dropbox:/hand_1.orrx")->output()->name();
    }
    const QString copy = QString("file1_%1.orrx").arg(saveNumberOf(saves[1]) + 7);
    ASSERT_TRUE(writeFile(dir + "/" + copy, readFile(dir + "/" + saves[0])));
    for (int start = 0; start < 2; ++start) {
      stopEngines(/*atQuit=*/true);
      networkUp = start == 1;
      engine = startEngine(folder);
      ASSERT_TRUE(networkUp ? settle() : pump(started, 60, /*fileWork=*/true));
      EXPECT_EQ(engine->state().docs().keys(), QStringList{"dropbox:/hand_1.orrx"});
      EXPECT_EQ(fetchText(*engine, "dropbox:/hand_1.orrx"), "hand 1") << "the copy is the map's next save";
    }
    EXPECT_EQ(QFileInfo::exists(dir + "/" + saves[1]), laterMinute) << "the last save is kept aside, or goes";
    EXPECT_EQ(textOfDocumentBytes(remote->contentOf("/hand_1.orrx")), "hand 1") << "the copy is sent as the map";
    stopEngines(/*atQuit=*/false);
  }

  // The order of two saves is the order they were made in, whatever the clock did; a copy put
  // into the mirror by hand is kept as a map of its own.
  const auto save = [](Script& s) { s.save("11"); };
  checkKillsAtEveryStep({{"its first save", save},
                         {"the clock set back", [](Script& s) { s.clockBack(); }, false},
                         {"its second save", save}});
  checkKillsAtEveryStep({{"its first save", save},
                         {"its second save", save},
                         {"a copy by hand", [](Script& s) { s.copyByHand("11"); }, false}});
}
