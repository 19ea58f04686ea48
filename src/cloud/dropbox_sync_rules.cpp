#include "cloud/dropbox_sync_rules.h"

#include "model/idea_proxy.h"

namespace orrery::dropboxrules {

QString fileURLFromDropboxPath(const QString& path) { return QLatin1String(kKeyPrefix) + path; }

QString dropboxPathFromFileURL(const QString& key) {
  return QLatin1Char('/') + key.section(QLatin1Char('/'), -1);
}

bool isDocumentPath(const QString& pathLower) {
  if (!pathLower.startsWith(QLatin1Char('/')) || !pathLower.endsWith(QLatin1String(".orrx"))) return false;
  return IdeaProxy::isAcceptableStoredFileName(pathLower.mid(1));
}

QString dropboxPathForFile(const QString& name) { return QLatin1Char('/') + name; }

QHash<QString, std::shared_ptr<const FileMetadata>> asFileMap(const FileMetadataList& entries) {
  QHash<QString, std::shared_ptr<const FileMetadata>> map;
  map.reserve(qsizetype(entries.size()));
  for (const auto& entry : entries)
    if (entry && isDocumentPath(entry->path())) map.insert(fileURLFromDropboxPath(entry->path()), entry);
  return map;
}

bool isIndexPath(const QString& pathLower) { return pathLower == QLatin1String(kIndexRemotePath); }

bool revsEqual(const QString& a, const QString& b) { return a.isNull() ? b.isNull() : (!b.isNull() && a == b); }

bool fileInfoMatchesRev(const SyncFileInfoPtr& info, const QString& rev) {
  return info && !rev.isNull() && !info->rev().isNull() && info->rev() == rev;
}

QString localRevFromDocumentInfo(const DocumentInfoPtr& record) {
  if (!record) return {};
  if (record->current()) return record->current()->rev();
  if (record->output()) return record->output()->rev();
  return {};
}

DocumentInfoPtr markForLoadingIfNeeded(const QString& rev, const DocumentInfoPtr& record) {
  if (!record) return DocumentInfo::create(SyncFileInfo::EMPTY(), nullptr, nullptr);
  if (SyncFileInfo::isEmpty(record->input())) return record;
  if (fileInfoMatchesRev(record->input(), rev) || fileInfoMatchesRev(record->current(), rev) ||
      fileInfoMatchesRev(record->output(), rev))
    return record;
  return record->withInput(SyncFileInfo::EMPTY());
}

DocumentInfoPtr markMissingForCheck(const DocumentInfoPtr& record) {
  if (!record) return record;
  if (!SyncFileInfo::hasFile(record->current()) && !SyncFileInfo::hasFile(record->output())) return record;
  if (SyncFileInfo::isEmpty(record->input())) return record;
  return record->withInput(SyncFileInfo::EMPTY());
}

Resolution resolveLoadAndNotifyState(const DocumentInfoPtr& record, const std::function<QString()>& newConflictName) {
  Resolution r;
  r.record = record;
  if (!record || !SyncFileInfo::hasFile(record->input())) return r;
  const SyncFileInfoPtr& input = record->input();
  const SyncFileInfoPtr& output = record->output();
  auto remoteWins = [&] {
    r.load = input;
    r.record = DocumentInfo::create(nullptr, input, nullptr);
  };
  if (!output) {
    if (SyncFileInfo::areEqual(input, record->current()))
      r.record = record->withInput(nullptr);
    else
      remoteWins();
    return r;
  }
  if (SyncFileInfo::isDeleted(output)) {
    if (revsEqual(input->rev(), output->rev()))
      r.record = record->withInput(nullptr);
    else
      remoteWins();
    return r;
  }
  if (SyncFileInfo::hasFile(output)) {
    if (revsEqual(input->rev(), output->rev())) {
      r.record = record->withInput(nullptr);
      return r;
    }
    r.conflictKey = fileURLFromDropboxPath(dropboxPathForFile(newConflictName()));
    r.conflictRecord = DocumentInfo::create(nullptr, nullptr, input);
    r.load = input;
    const SyncFileInfoPtr current = record->current() ? record->current()->withRev(input->rev()) : nullptr;
    r.record = DocumentInfo::create(nullptr, current, output->withRev(input->rev()));
  }
  return r;
}

NotFoundOutcome afterDownloadNotFound(const DocumentInfoPtr& record) {
  if (SyncFileInfo::emptyOrNull(record->output()))
    return {DocumentInfo::create(nullptr, SyncFileInfo::EMPTY(), nullptr), true};
  return {DocumentInfo::create(nullptr, SyncFileInfo::EMPTY(), record->output()->withRev(QString())), false};
}

SyncFileInfoPtr updatedOutputAfterSuccessfulUpload(const SyncFileInfoPtr& uploaded, const QString& newRev,
                                                   const SyncFileInfoPtr& output) {
  if (!output || SyncFileInfo::areEqual(output, uploaded)) return nullptr;
  if (SyncFileInfo::hasFile(output) && uploaded && output->name() == uploaded->name()) return output;
  // A newer edit or a delete made while the upload ran was based on the uploaded rev: it now
  // stands on the new one, or the service would refuse it and bring the document back.
  if (uploaded && revsEqual(output->rev(), uploaded->rev())) return output->withRev(newRev);
  return output;
}

DocumentInfoPtr updatedDocInfoAfterUploadResponse(const SyncFileInfoPtr& uploaded, const UploadResponse& response,
                                                  const DocumentInfoPtr& record) {
  switch (response.result()) {
    case DropboxResultSuccess:
      if (response.rev().isEmpty()) return record;
      return DocumentInfo::create(record->input(), uploaded->withRev(response.rev()),
                                  updatedOutputAfterSuccessfulUpload(uploaded, response.rev(), record->output()));
    case DropboxResultRevisionChanged: return record->withInput(SyncFileInfo::EMPTY());
    case DropboxResultNotFound:
      return DocumentInfo::create(record->input(), SyncFileInfo::EMPTY(),
                                  SyncFileInfo::hasFile(record->output()) ? record->output()->withRev(QString())
                                                                          : nullptr);
    default: return record;
  }
}

DocumentInfoPtr updatedDocInfoAfterDeleteResponse(const DeleteResponse& response, const DocumentInfoPtr& record) {
  switch (response.result()) {
    case DropboxResultSuccess:
    case DropboxResultNotFound:
      return DocumentInfo::create(record->input(), SyncFileInfo::EMPTY(),
                                  SyncFileInfo::hasFile(record->output()) ? record->output()->withRev(QString())
                                                                          : nullptr);
    case DropboxResultRevisionChanged: return record->withInput(SyncFileInfo::EMPTY());
    default: return record;
  }
}

DocumentInfoPtr resolveIndexDocumentState(const DocumentInfoPtr& index) {
  if (!index || !SyncFileInfo::hasFile(index->input())) return index;
  if (!index->output()) return DocumentInfo::create(nullptr, index->input(), nullptr);
  if (revsEqual(index->output()->rev(), index->input()->rev())) return index->withInput(nullptr);
  return DocumentInfo::create(nullptr, index->input(), nullptr);
}

bool isDeletedRecord(const DocumentInfoPtr& record) {
  return !record || (!record->input() && !record->output() && SyncFileInfo::emptyOrNull(record->current()));
}

bool isPlainMirrorName(const QString& name) {
  return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
         !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

bool hasOnlyPlainNames(const DocumentInfoPtr& record) {
  if (!record) return true;
  for (const SyncFileInfoPtr* info : {&record->input(), &record->current(), &record->output()})
    if (SyncFileInfo::hasFile(*info) && !isPlainMirrorName((*info)->name())) return false;
  return true;
}

QHash<QString, DocumentInfoPtr> filterOutDeletedDocuments(const QHash<QString, DocumentInfoPtr>& docs) {
  QHash<QString, DocumentInfoPtr> kept;
  kept.reserve(docs.size());
  for (auto it = docs.cbegin(); it != docs.cend(); ++it)
    if (!isDeletedRecord(it.value())) kept.insert(it.key(), it.value());
  return kept;
}

}  // namespace orrery::dropboxrules
