#include "cloud/dropbox_sync_rules.h"

#include <gtest/gtest.h>

using namespace orrery;
using namespace orrery::dropboxrules;

namespace {

SyncFileInfoPtr f(const char* name, const char* rev) {
  return SyncFileInfo::create(name ? QString(name) : QString(), rev ? QString(rev) : QString());
}
DocumentInfoPtr rec(SyncFileInfoPtr in, SyncFileInfoPtr cur, SyncFileInfoPtr out) {
  return DocumentInfo::create(std::move(in), std::move(cur), std::move(out));
}
QString show(const SyncFileInfoPtr& i) {
  if (!i) return "-";
  return QString("%1@%2").arg(i->name().isNull() ? "_" : i->name(), i->rev().isNull() ? "_" : i->rev());
}
QString show(const DocumentInfoPtr& r) {
  return r ? show(r->input()) + " " + show(r->current()) + " " + show(r->output()) : "none";
}
QString conflictName() { return "id5_7.orrx"; }

}  // namespace

TEST(DropboxSyncRules, ListingMarksOnlyWhatChangedAndOnlyRootDocumentsAndTheRootIndex) {
  EXPECT_EQ(show(markForLoadingIfNeeded("r1", nullptr)), "_@_ - -") << "a new remote file is downloaded";
  const auto own = rec(nullptr, f("a", "r1"), nullptr);
  EXPECT_EQ(markForLoadingIfNeeded("r1", own), own) << "our own upload's rev changes nothing";
  EXPECT_EQ(show(markForLoadingIfNeeded("r2", own)), "_@_ a@r1 -");
  const auto waiting = rec(SyncFileInfo::EMPTY(), f("a", "r1"), nullptr);
  EXPECT_EQ(markForLoadingIfNeeded("r9", waiting), waiting);
  EXPECT_EQ(markForLoadingIfNeeded("r3", rec(nullptr, f("a", "r1"), f("b", "r3")))->input(), nullptr);

  EXPECT_TRUE(isIndexPath("/orrery.index"));
  EXPECT_FALSE(isIndexPath("/old-orrery.index")) << "only the root index is the index";
  EXPECT_FALSE(isIndexPath("/sub/orrery.index"));
  EXPECT_TRUE(isDocumentPath("/id1_2.orrx"));
  for (const char* odd : {"/sub/a.orrx", "a.orrx", "/.orrx", "/../a.orrx", "/a.txt", "/"})
    EXPECT_FALSE(isDocumentPath(odd)) << odd;
  EXPECT_EQ(dropboxPathFromFileURL(fileURLFromDropboxPath("/id1_2.orrx")), "/id1_2.orrx");
  EXPECT_EQ(dropboxPathForFile("orrery.index"), "/orrery.index");

  const auto doc = std::make_shared<const FileMetadata>("/id1_2.orrx", "r1");
  const FileMetadataList listing{doc, nullptr, std::make_shared<const FileMetadata>("/orrery.index", "r2"),
                                 std::make_shared<const FileMetadata>("/sub/id3.orrx", "r3")};
  const auto map = asFileMap(listing);
  EXPECT_EQ(map.size(), 1) << "only root documents count as listed";
  EXPECT_EQ(map.value("dropbox:/id1_2.orrx"), doc);

  EXPECT_EQ(show(markMissingForCheck(rec(nullptr, f("a", "r1"), nullptr))), "_@_ a@r1 -");
  const auto gone = rec(nullptr, SyncFileInfo::EMPTY(), nullptr);
  EXPECT_EQ(markMissingForCheck(gone), gone) << "nothing local to check";
}

TEST(DropboxSyncRules, ResolutionTakesTheRemoteVersionKeepsBasedEditsAndSplitsConflicts) {
  // No local change: the remote version is loaded; the same version only loses its input.
  auto r = resolveLoadAndNotifyState(rec(f("n", "r2"), f("a", "r1"), nullptr), conflictName);
  EXPECT_EQ(show(r.record), "- n@r2 -");
  EXPECT_EQ(show(r.load), "n@r2");
  r = resolveLoadAndNotifyState(rec(f("a", "r1"), f("a", "r1"), nullptr), conflictName);
  EXPECT_EQ(show(r.record), "- a@r1 -");
  EXPECT_FALSE(r.load);

  // An edit based on the downloaded rev is uploaded over it.
  r = resolveLoadAndNotifyState(rec(f("n", "r2"), f("a", "r1"), f("b", "r2")), conflictName);
  EXPECT_EQ(show(r.record), "- a@r1 b@r2");
  EXPECT_TRUE(r.conflictKey.isEmpty());

  // An edit based on an older rev: the remote version becomes a new document.
  r = resolveLoadAndNotifyState(rec(f("n", "r2"), f("a", "r1"), f("b", "r1")), conflictName);
  EXPECT_EQ(r.conflictKey, "dropbox:/id5_7.orrx");
  EXPECT_EQ(show(r.conflictRecord), "- - n@r2");
  EXPECT_EQ(show(r.load), "n@r2");
  EXPECT_EQ(show(r.record), "- a@r2 b@r2") << "the local edit is re-based and overwrites the remote version";

  // A delete of the rev that is still remote stands; a delete of an older one is forgotten.
  r = resolveLoadAndNotifyState(rec(f("n", "r1"), f("a", "r1"), f(nullptr, "r1")), conflictName);
  EXPECT_EQ(show(r.record), "- a@r1 _@r1");
  r = resolveLoadAndNotifyState(rec(f("n", "r2"), f("a", "r1"), f(nullptr, "r1")), conflictName);
  EXPECT_EQ(show(r.record), "- n@r2 -");
  EXPECT_EQ(show(r.load), "n@r2");

  const auto pending = rec(SyncFileInfo::EMPTY(), f("a", "r1"), nullptr);
  EXPECT_EQ(resolveLoadAndNotifyState(pending, conflictName).record, pending);
}

TEST(DropboxSyncRules, DownloadNotFoundDeletesOrResendsTheEdit) {
  auto o = afterDownloadNotFound(rec(SyncFileInfo::EMPTY(), f("a", "r1"), nullptr));
  EXPECT_TRUE(o.reportDeleted);
  EXPECT_EQ(show(o.record), "- _@_ -");
  EXPECT_TRUE(isDeletedRecord(o.record));
  o = afterDownloadNotFound(rec(SyncFileInfo::EMPTY(), f("a", "r1"), f("b", "r1")));
  EXPECT_FALSE(o.reportDeleted);
  EXPECT_EQ(show(o.record), "- _@_ b@_") << "the edit is sent again as a new file";

  QHash<QString, DocumentInfoPtr> docs{{"gone", o.record}, {"dead", rec(nullptr, SyncFileInfo::EMPTY(), nullptr)},
                                       {"none", rec(nullptr, nullptr, nullptr)}};
  const auto kept = filterOutDeletedDocuments(docs);
  EXPECT_EQ(kept.keys(), QStringList({"gone"}));
}

TEST(DropboxSyncRules, UploadAndDeleteAnswersMoveTheRecordOn) {
  const auto U = f("b", "r1");
  auto after = updatedDocInfoAfterUploadResponse(U, UploadResponse(0, "r2"), rec(nullptr, f("a", "r1"), U));
  EXPECT_EQ(show(after), "- b@r2 -");
  // A newer edit based on the same rev is re-based; one based elsewhere is left.
  after = updatedDocInfoAfterUploadResponse(U, UploadResponse(0, "r2"), rec(nullptr, f("a", "r1"), f("c", "r1")));
  EXPECT_EQ(show(after), "- b@r2 c@r2");
  after = updatedDocInfoAfterUploadResponse(U, UploadResponse(0, "r2"), rec(nullptr, f("a", "r1"), f("c", "r0")));
  EXPECT_EQ(show(after), "- b@r2 c@r0");
  // A delete made while the upload ran now deletes the uploaded version, not the old one.
  after = updatedDocInfoAfterUploadResponse(U, UploadResponse(0, "r2"), rec(nullptr, f("a", "r1"), f(nullptr, "r1")));
  EXPECT_EQ(show(after), "- b@r2 _@r2");
  after = updatedDocInfoAfterUploadResponse(f("b", nullptr), UploadResponse(0, "r5"),
                                            rec(nullptr, nullptr, SyncFileInfo::EMPTY()));
  EXPECT_EQ(show(after), "- b@r5 _@r5") << "a new document deleted during its first upload";

  const auto base = rec(nullptr, f("a", "r1"), U);
  EXPECT_EQ(show(updatedDocInfoAfterUploadResponse(U, UploadResponse(2, {}), base)), "_@_ a@r1 b@r1");
  EXPECT_EQ(show(updatedDocInfoAfterUploadResponse(U, UploadResponse(1, {}), base)), "- _@_ b@_");
  EXPECT_EQ(updatedDocInfoAfterUploadResponse(U, UploadResponse(3, {}), base), base);
  EXPECT_EQ(updatedDocInfoAfterUploadResponse(U, UploadResponse(0, {}), base), base) << "no rev: tried again";

  const auto del = rec(nullptr, f("a", "r1"), f(nullptr, "r1"));
  EXPECT_EQ(show(updatedDocInfoAfterDeleteResponse(DeleteResponse(0), del)), "- _@_ -");
  EXPECT_EQ(show(updatedDocInfoAfterDeleteResponse(DeleteResponse(1), rec(nullptr, f("a", "r1"), f("c", "r1")))),
            "- _@_ c@_");
  EXPECT_EQ(show(updatedDocInfoAfterDeleteResponse(DeleteResponse(2), del)), "_@_ a@r1 _@r1");
  EXPECT_EQ(updatedDocInfoAfterDeleteResponse(DeleteResponse(3), del), del);
}

TEST(DropboxSyncRules, IndexTakesTheRemoteListUnlessTheLocalOneIsBasedOnIt) {
  EXPECT_EQ(show(resolveIndexDocumentState(rec(f("i2", "r2"), f("i1", "r1"), f("i3", "r2")))), "- i1@r1 i3@r2");
  EXPECT_EQ(show(resolveIndexDocumentState(rec(f("i2", "r2"), f("i1", "r1"), f("i3", "r1")))), "- i2@r2 -");
  EXPECT_EQ(show(resolveIndexDocumentState(rec(f("i2", "r2"), nullptr, nullptr))), "- i2@r2 -");
  const auto waiting = rec(SyncFileInfo::EMPTY(), f("i1", "r1"), nullptr);
  EXPECT_EQ(resolveIndexDocumentState(waiting), waiting);
  EXPECT_EQ(localRevFromDocumentInfo(rec(nullptr, f("a", "r1"), f("b", "r0"))), "r1");
  EXPECT_EQ(localRevFromDocumentInfo(rec(nullptr, nullptr, f("b", "r0"))), "r0");
  EXPECT_TRUE(localRevFromDocumentInfo(nullptr).isNull());
}
