#pragma once
// How the Dropbox engine's records change: what a folder listing marks, what download,
// upload and delete answers do, how a downloaded version is taken in (the conflict rule), how
// the index is taken in and which records survive a start. Plain functions of record values:
// they store nothing and report nothing; the engine stores the results and performs the
// effects a resolution names. Any thread.

#include "cloud/document_info.h"
#include "cloud/remote_results.h"

#include <QHash>
#include <QString>

#include <functional>

namespace orrery {

namespace dropboxrules {

inline constexpr char kIndexFileName[] = "orrery.index";
inline constexpr char kIndexRemotePath[] = "/orrery.index";
inline constexpr char kKeyPrefix[] = "dropbox:";

// "dropbox:" + remote path.
QString fileURLFromDropboxPath(const QString& path);
// "/" + the key's last path component.
QString dropboxPathFromFileURL(const QString& key);
// The remote path of a file at the root of the app folder: "/" + name.
QString dropboxPathForFile(const QString& name);
// The listing's documents by key ("dropbox:" + path); the index and other files are left out.
QHash<QString, std::shared_ptr<const FileMetadata>> asFileMap(const FileMetadataList& entries);
// A listing path the engine keeps as a document: "/<name>.orrx" at the root, a plain name
// that can be joined to the mirror folder safely.
bool isDocumentPath(const QString& pathLower);
// Only the root index is the index; "/old-orrery.index" is just another file.
bool isIndexPath(const QString& pathLower);

// Both null, or equal.
bool revsEqual(const QString& a, const QString& b);
// The value is present and carries this (present) rev.
bool fileInfoMatchesRev(const SyncFileInfoPtr& info, const QString& rev);
// The remote rev a new local edit is based on: current's, else output's.
QString localRevFromDocumentInfo(const DocumentInfoPtr& record);

// ---- listing
// The record after a listing named the file at `rev` (null record: none yet).
DocumentInfoPtr markForLoadingIfNeeded(const QString& rev, const DocumentInfoPtr& record);
// A record with a local file whose remote file the listing lacks: checked again.
DocumentInfoPtr markMissingForCheck(const DocumentInfoPtr& record);

// ---- downloads and their resolution
struct Resolution {
  DocumentInfoPtr record;  // the new record under the key
  // Load this file's document and report its proxy: under the key, or under conflictKey.
  SyncFileInfoPtr load;
  // A conflict: the remote version becomes a new document under this key with this record.
  QString conflictKey;
  DocumentInfoPtr conflictRecord;
};
// `newConflictName` makes the remote name of a conflict copy ("id…_….orrx").
Resolution resolveLoadAndNotifyState(const DocumentInfoPtr& record, const std::function<QString()>& newConflictName);

struct NotFoundOutcome {
  DocumentInfoPtr record;
  bool reportDeleted = false;
};
// A download answered "not found" for an existing record.
NotFoundOutcome afterDownloadNotFound(const DocumentInfoPtr& record);

// ---- uploads and deletes
SyncFileInfoPtr updatedOutputAfterSuccessfulUpload(const SyncFileInfoPtr& uploaded, const QString& newRev,
                                                   const SyncFileInfoPtr& output);
DocumentInfoPtr updatedDocInfoAfterUploadResponse(const SyncFileInfoPtr& uploaded, const UploadResponse& response,
                                                  const DocumentInfoPtr& record);
DocumentInfoPtr updatedDocInfoAfterDeleteResponse(const DeleteResponse& response, const DocumentInfoPtr& record);

// ---- index and start-up
DocumentInfoPtr resolveIndexDocumentState(const DocumentInfoPtr& index);
QHash<QString, DocumentInfoPtr> filterOutDeletedDocuments(const QHash<QString, DocumentInfoPtr>& docs);
// Nothing pending and nothing known but that the file is gone.
bool isDeletedRecord(const DocumentInfoPtr& record);
// A name that can only reach a file inside the mirror folder.
bool isPlainMirrorName(const QString& name);
// Every file name the record holds is a plain mirror name.
bool hasOnlyPlainNames(const DocumentInfoPtr& record);

}  // namespace dropboxrules

}  // namespace orrery
