#include "cloud/dropbox_folder_manager_state.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <random>

#include "../foundation/log_capture.h"
#include "cloud/encoded_status_records.h"
#include "support/mirror_files.h"

using namespace orrery;

using orrery::testing::writeFile;

namespace {

QJsonObject parsed(const QByteArray& json) { return QJsonDocument::fromJson(json).object(); }

SyncFileInfoPtr info(const char* name, const char* rev) {
  return SyncFileInfo::create(name ? QString(name) : QString(), rev ? QString(rev) : QString());
}

}  // namespace

TEST(SyncStateFileTest, NewRecordWritesOnlyVersionAndIndex) {
  DropboxFolderManagerState state;
  EXPECT_EQ(parsed(state.exportAsData()),
            parsed(R"({"dropboxFolderManagerState":{"fileFormatVersion":"1","index":{"input":{}}}})"));
  // Records without data are left out, and then no "documents" key at all.
  state.docs().insert("dropbox:/a.orrx", DocumentInfo::create(nullptr, nullptr, nullptr));
  EXPECT_FALSE(parsed(state.exportAsData())["dropboxFolderManagerState"].toObject().contains("documents"));
  state.docs().insert("dropbox:/b.orrx", DocumentInfo::create(SyncFileInfo::EMPTY(), nullptr, nullptr));
  EXPECT_EQ(parsed(state.exportAsData()),
            parsed(R"({"dropboxFolderManagerState":{"fileFormatVersion":"1","index":{"input":{}},
                       "documents":[{"key":"dropbox:/b.orrx","val":{"input":{}}}]}})"));
}

TEST(SyncStateFileTest, WriteThenReadGivesEqualRecordsAndFreshFlags) {
  QTemporaryDir dir;
  const QString path = dir.filePath("orrery.local.status");
  DropboxFolderManagerState state;
  state.setIndexDocumentInfo(DocumentInfo::create(info("orrery.index~1", "a0"), info("orrery.index", "a0"), nullptr));
  state.docs().insert("dropbox:/x.orrx",
                      DocumentInfo::create(SyncFileInfo::EMPTY(), info("x.orrx", "0f"), info("x.orrx~up", "0f")));
  state.docs().insert("dropbox:/gone.orrx", DocumentInfo::create(nullptr, SyncFileInfo::EMPTY(), info(nullptr, "1a")));
  // A text may begin with what looks like a byte-order mark; it is text all the same.
  const QString marked = QStringLiteral("\uFEFF\uFEFFplan.orrx");
  state.docs().insert(marked, DocumentInfo::create(nullptr, SyncFileInfo::create(marked, marked), nullptr));
  state.setPerhapsDropboxConnection(false);
  state.setPollFolderASAP(true);
  state.filesToReallyDelete().insert("junk");
  state.tasksToExecute().append(AsyncFutureRunnable::createWithBlock([](AsyncFutureRunnable&) {}));
  ASSERT_TRUE(state.writeAtomicallyToURL(path));

  const auto back = DropboxFolderManagerState::readFrom(path);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->fileFormatVersion(), "1");
  EXPECT_TRUE(back->perhapsDropboxConnection());
  EXPECT_FALSE(back->pollFolderASAP());
  EXPECT_TRUE(back->filesToReallyDelete().isEmpty());
  EXPECT_TRUE(back->tasksToExecute().isEmpty());
  EXPECT_FALSE(back->isLocalStatusFileLoaded());
  ASSERT_EQ(back->docs().size(), 3);
  ASSERT_TRUE(back->docs().value(marked));
  EXPECT_TRUE(SyncFileInfo::areEqual(back->docs().value(marked)->current(), SyncFileInfo::create(marked, marked)));
  const auto x = back->docs().value("dropbox:/x.orrx");
  ASSERT_TRUE(x);
  EXPECT_TRUE(SyncFileInfo::areEqual(x->input(), SyncFileInfo::EMPTY()));
  EXPECT_TRUE(SyncFileInfo::areEqual(x->current(), info("x.orrx", "0f")));
  EXPECT_TRUE(SyncFileInfo::areEqual(x->output(), info("x.orrx~up", "0f")));
  const auto gone = back->docs().value("dropbox:/gone.orrx");
  ASSERT_TRUE(gone);
  EXPECT_EQ(gone->input(), nullptr);
  EXPECT_TRUE(SyncFileInfo::isEmpty(gone->current()));
  EXPECT_TRUE(SyncFileInfo::areEqual(gone->output(), info(nullptr, "1a")));
  EXPECT_TRUE(SyncFileInfo::areEqual(back->indexDocumentInfo()->input(), info("orrery.index~1", "a0")));
  EXPECT_EQ(back->indexDocumentInfo()->output(), nullptr);
}

TEST(SyncStateFileTest, ReaderTakesAnyKeyOrderWhiteSpaceAndVersion) {
  const auto back = DropboxFolderManagerState::readFromData(R"(
    { "dropboxFolderManagerState" : {
        "documents" : [ { "val" : { "current" : { "rev" : "9", "name" : "a.orrx" } }, "key" : "dropbox:/a.orrx" } ],
        "fileFormatVersion" : "7" } })");
  ASSERT_TRUE(back);
  EXPECT_EQ(back->fileFormatVersion(), "7");
  EXPECT_EQ(back->indexDocumentInfo(), nullptr) << "no \"index\": none, not the initial triple";
  ASSERT_TRUE(back->docs().value("dropbox:/a.orrx"));
  EXPECT_EQ(back->docs().value("dropbox:/a.orrx")->current()->rev(), "9");
  // The version is kept on the next write.
  EXPECT_EQ(parsed(back->exportAsData())["dropboxFolderManagerState"].toObject()["fileFormatVersion"], "7");
}

TEST(SyncStateFileTest, DamagedDocumentElementsAreSkippedAndTheRestKept) {
  LogCapture log;
  // The damaged element comes first, where it could be mistaken for a wrapped array.
  const auto back = DropboxFolderManagerState::readFromData(R"({"dropboxFolderManagerState":{"documents":[
      {"key":"dropbox:/nokey-val.orrx"}, {}, 5, null, {"val":{"input":{}}},
      {"key":"dropbox:/ok.orrx","val":{"input":{}}}, {"key":7,"val":{"input":{}}},
      {"key":"dropbox:/dup.orrx","val":{"current":{"name":"old"}}},
      {"key":"dropbox:/dup.orrx","val":{"current":{"name":"new"}}},
      {"key":"dropbox:/badval.orrx","val":"text"}]}})");
  ASSERT_TRUE(back);
  EXPECT_EQ(back->docs().keys().size(), 2);
  EXPECT_TRUE(back->docs().contains("dropbox:/ok.orrx"));
  ASSERT_TRUE(back->docs().contains("dropbox:/dup.orrx"));
  EXPECT_EQ(back->docs().value("dropbox:/dup.orrx")->current()->name(), "new") << "a later element replaces";
  EXPECT_TRUE(log.lines().join('\n').contains("damaged document entries skipped"));
}

TEST(SyncStateFileTest, UnreadableFilesGiveNoneAndAFailedWriteKeepsTheOldFile) {
  QTemporaryDir dir;
  EXPECT_FALSE(DropboxFolderManagerState::readFrom(dir.filePath("missing")));
  const QString path = dir.filePath("orrery.local.status");
  LogCapture log;
  ASSERT_TRUE(writeFile(path, "{\"dropboxFolderManagerState\": {\"documents\": ["));
  EXPECT_FALSE(DropboxFolderManagerState::readFrom(path));
  EXPECT_TRUE(log.lines().join('\n').contains("NSJSONSerialization: Error"));
  ASSERT_TRUE(writeFile(path, R"({"idea": {"text": "not a sync state"}})"));
  EXPECT_FALSE(DropboxFolderManagerState::readFrom(path));
  ASSERT_TRUE(writeFile(path, "[1, 2]"));
  EXPECT_FALSE(DropboxFolderManagerState::readFrom(path));

  // A folder in the way of the file: the write fails, says so, and replaces nothing.
  DropboxFolderManagerState state;
  const QString blocked = dir.filePath("blocked");
  ASSERT_TRUE(QDir().mkpath(blocked + "/inside"));
  EXPECT_FALSE(state.writeAtomicallyToURL(blocked));
  EXPECT_TRUE(QFileInfo(blocked + "/inside").isDir());
}

// The JSON of a status file with its records keyed, so record order does not count.
QJsonObject withRecordsByKey(const QByteArray& json) {
  QJsonObject top = parsed(json);
  QJsonObject state = top["dropboxFolderManagerState"].toObject();
  if (state.contains("documents")) {
    QJsonObject byKey;
    for (const auto& entry : state["documents"].toArray()) byKey[entry.toObject()["key"].toString()] = entry;
    state["documents"] = byKey;
  }
  top["dropboxFolderManagerState"] = state;
  return top;
}

TEST(SyncStateFileTest, RecordsEncodedOneByOneJoinIntoWhatTheWholeRecordWrites) {
  DropboxFolderManagerState whole;
  EncodedStatusRecords pieces;
  auto same = [&] { return pieces.exportWith(whole.fileFormatVersion(), whole.indexDocumentInfo()); };
  EXPECT_EQ(same(), whole.exportAsData()) << "no records";
  std::mt19937 random(11);
  const QStringList keys = {"dropbox:/a.orrx", "dropbox:/\"quoted\\ and \u00e9\u4e2d.orrx", "dropbox:/b.orrx",
                            "dropbox:/c.orrx", "dropbox:/\U0001F600.orrx"};
  for (int step = 0; step < 300; ++step) {
    const QString& key = keys[qsizetype(random() % std::uint32_t(keys.size()))];
    DocumentInfoPtr record;
    switch (random() % 4) {
      case 0: break;                                                            // removed
      case 1: record = DocumentInfo::create(nullptr, nullptr, nullptr); break;  // no data: left out
      case 2: record = DocumentInfo::create(SyncFileInfo::EMPTY(), nullptr, info(nullptr, "1a")); break;
      default: record = DocumentInfo::create(nullptr, info("f\"1.orrx", "0f"), info("g.orrx", nullptr));
    }
    if (record)
      whole.docs().insert(key, record);
    else
      whole.docs().remove(key);
    pieces.store(key, record);
    if (step % 50 == 0)
      whole.setIndexDocumentInfo(step % 100 ? nullptr : DocumentInfo::create(info("i", "2"), nullptr, nullptr));
    ASSERT_EQ(withRecordsByKey(same()), withRecordsByKey(whole.exportAsData())) << "step " << step;
    ASSERT_TRUE(DropboxFolderManagerState::readFromData(same())) << "step " << step;
  }
  // One record or none: the very same bytes.
  for (const QString& key : keys) {
    whole.docs().remove(key);
    pieces.store(key, nullptr);
  }
  whole.docs().insert(keys[1], DocumentInfo::create(SyncFileInfo::EMPTY(), nullptr, nullptr));
  pieces.store(keys[1], whole.docs().value(keys[1]));
  EXPECT_EQ(same(), whole.exportAsData());
  whole.setIndexDocumentInfo(nullptr);
  whole.setFileFormatVersion(QString());
  EXPECT_EQ(same(), whole.exportAsData()) << "a state object with no other member";
}

TEST(SyncStateFileTest, SnapshotIsUnmovedByLaterChangesOfTheLiveRecord) {
  DropboxFolderManagerState live;
  live.docs().insert("dropbox:/a.orrx", DocumentInfo::create(SyncFileInfo::EMPTY(), nullptr, nullptr));
  live.filesToReallyDelete().insert("f");
  const auto snapshot = DropboxFolderManagerState::initByCopying(live);
  live.docs().insert("dropbox:/b.orrx", DocumentInfo::create(SyncFileInfo::EMPTY(), nullptr, nullptr));
  live.docs().remove("dropbox:/a.orrx");
  live.filesToReallyDelete().clear();
  EXPECT_EQ(snapshot->docs().keys(), QStringList({"dropbox:/a.orrx"}));
  EXPECT_TRUE(snapshot->filesToReallyDelete().contains("f"));
  EXPECT_EQ(snapshot->indexDocumentInfo(), live.indexDocumentInfo()) << "immutable records are shared";
}

TEST(SyncStateFileTest, CutAndScrambledFilesGiveARecordOrNoneAndNeverCrash) {
  LogCapture quiet;
  DropboxFolderManagerState state;
  for (int i = 0; i < 20; ++i)
    state.docs().insert(
        QString("dropbox:/d%1.orrx").arg(i),
        DocumentInfo::create(SyncFileInfo::EMPTY(), info("d.orrx", "0f"), i % 2 ? info(nullptr, "1a") : nullptr));
  const QByteArray good = state.exportAsData();
  std::mt19937 random(7);
  int read = 0;
  for (int round = 0; round < 1500; ++round) {
    QByteArray bytes = good;
    if (round % 3 == 0) bytes.truncate(qsizetype(random() % std::uint32_t(bytes.size())));
    const int flips = 1 + int(random() % 4);
    for (int f = 0; f < flips && !bytes.isEmpty(); ++f)
      bytes[qsizetype(random() % std::uint32_t(bytes.size()))] = "{}[]\":,0a \x00\xff"[random() % 12];
    const auto back = DropboxFolderManagerState::readFromData(bytes);
    if (!back) continue;
    ++read;
    for (auto it = back->docs().cbegin(); it != back->docs().cend(); ++it) EXPECT_TRUE(it.value());
    EXPECT_FALSE(back->exportAsData().isEmpty());
  }
  EXPECT_GT(read, 0) << "some damage leaves a readable record";
}
