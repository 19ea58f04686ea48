// The Dropbox engine's start: the status file read, and what becomes of every mirror file
// (mirror_maps.h): what the engine let go of goes, every map stays.

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "cloud/dropbox_folder_manager.h"
#include "cloud/dropbox_sync_rules.h"
#include "cloud/mirror_maps.h"
#include "cloud/regular_file.h"
#include "foundation/logging.h"
#include "model/concurrent_parts.h"
#include "model/document_limits.h"
#include "model/index_json_document.h"

namespace orrery {

namespace rules = dropboxrules;

namespace {

QSet<QString> namesOf(const DocumentInfoPtr& record) {
  QSet<QString> names;
  if (!record) return names;
  for (const SyncFileInfoPtr* info : {&record->input(), &record->current(), &record->output()})
    if (SyncFileInfo::hasFile(*info)) names.insert((*info)->name());
  return names;
}

// Kept for a later look, whatever it is: renamed, never opened or copied, so a FIFO does not
// hold the queue and a folder keeps what it holds.
void setStatusFileAside(const QString& path) {
  const QString backup = QFileInfo(path).dir().filePath(QLatin1String(DropboxFolderManager::kStatusBackupName));
  const QByteArray from = QFile::encodeName(path), to = QFile::encodeName(backup);
  struct stat st {};
  if (::lstat(to.constData(), &st) == 0 && !S_ISDIR(st.st_mode)) ::unlink(to.constData());
  const bool kept = ::rename(from.constData(), to.constData()) == 0;
  const int error = errno;
  logLine(QStringLiteral("Dropbox: the sync state %1 is unreadable; %2")
              .arg(path, kept ? QStringLiteral("kept as ") + backup
                              : QStringLiteral("it could not be set aside: ") +
                                    QString::fromLocal8Bit(std::strerror(error))));
}

}  // namespace

bool DropboxFolderManager::action_initializeFolderStatus() {
  auto& s = *mState;
  if (s.hasPendingGeneralOperation() || s.isLocalStatusFileLoaded()) return false;
  if (!ensureLocalManagedFolder())
    logLine(QStringLiteral("Dropbox: cannot make the mirror folder %1").arg(localManagedFolder()));
  s.setHasPendingGeneralOperation(true);
  const QString path = localManagedFile(QLatin1String(DropboxFolderManagerState::kStatusFileName));
  loadLocalStatus(path, [weak = weak_from_this()](const StatusRead& read) {
    auto self = weak.lock();
    if (!self) return;
    if (read.unreadable) softAssertionFailed(__LINE__, "-[DropboxFolderManager action_initializeFolderStatus]");
    self->finishStartUp(read);
    // A status that holds the engine's word and that the start left as it was is not written
    // again; what the start changed in a readable one is written once the home lists the maps,
    // which need not wait for it (the listing's own write carries it).
    const auto& maps = read.maps;
    if (read.state) {
      self->mStatusWriteAfterListing = read.state->lastMade() < 0 || !maps.taken.isEmpty() ||
                                       !maps.withoutRecord.isEmpty() || !maps.setAside.isEmpty() ||
                                       !maps.dropped.isEmpty();
      self->ensureRunnable();
      return;
    }
    self->saveOrCreateLocalStatus([weak](bool ok) {
      auto self = weak.lock();
      if (!self) return;
      // Either way the flag goes: a failed first write is tried again by the next pass.
      self->mState->setHasPendingGeneralOperation(false);
      if (ok)
        self->mState->setIsLocalStatusFileLoaded(true);
      else
        softAssertionFailed(__LINE__, "-[DropboxFolderManager action_initializeFolderStatus]");
    });
  });
  return true;
}

void DropboxFolderManager::loadLocalStatus(const QString& path, std::function<void(const StatusRead&)> completion) {
  mStatusReadInFlight = true;
  mStatusQueue->async([weak = weak_from_this(), path, completion = std::move(completion), counted = mMirrorCounted] {
    const QFileInfo at(path);
    StatusRead read;
    const bool present = at.exists() || at.isSymLink();
    if (present) read.state = DropboxFolderManagerState::readFrom(path);
    if (!read.state) {
      read.unreadable = present;
      if (present) setStatusFileAside(path);
    }
    // Without records no mirror file is known for what it is; the maps among them stay.
    sortMirrorFiles(at.absolutePath(), read);
    // Counted from the start's own listing, so that the main thread need not list the folder.
    noteSaveNumbers(read.highestSaveNumber);
    counted->store(true, std::memory_order_release);
    platform::mainQueue().async([weak, read = std::move(read), completion] {
      auto self = weak.lock();
      if (!self) return;
      self->mStatusReadInFlight = false;
      completion(read);
    });
  });
}

void DropboxFolderManager::sortMirrorFiles(const QString& folder, StatusRead& read) {
  const auto& state = read.state;
  if (state) read.records = rules::filterOutDeletedDocuments(state->docs());
  // A status file naming files outside the mirror folder is damaged or hostile: such records
  // are dropped rather than read or uploaded; a map of the mirror among their files is kept
  // like any other no record names.
  qsizetype refused = 0;
  for (auto it = read.records.begin(); it != read.records.end();) {
    if (rules::hasOnlyPlainNames(it.value()) && rules::isDocumentPath(rules::dropboxPathFromFileURL(it.key())) &&
        it.key() == rules::fileURLFromDropboxPath(rules::dropboxPathFromFileURL(it.key()))) {
      ++it;
    } else {
      ++refused;
      it = read.records.erase(it);
    }
  }
  if (refused > 0)
    logLine(QStringLiteral("Dropbox: %1 records of the sync state name no usable file; dropped").arg(refused));

  // Names referred to are gathered once; each mirror file is then one lookup.
  // The index's input is looked at again at every start (finishStartUp): its file is not kept.
  const DocumentInfoPtr index = state ? state->indexDocumentInfo() : nullptr;
  const QSet<QString> indexNames =
      index && rules::hasOnlyPlainNames(index) ? namesOf(index->withInput(SyncFileInfo::EMPTY())) : QSet<QString>();
  QSet<QString> documentNames;
  documentNames.reserve(read.records.size());
  for (const auto& record : read.records) documentNames.unite(namesOf(record));
  const bool word = state && state->lastMade() >= 0;
  const QSet<QString> letGo = word ? QSet<QString>(state->letGo().cbegin(), state->letGo().cend()) : QSet<QString>();
  const QSet<QString> setAside =
      word ? QSet<QString>(state->setAside().cbegin(), state->setAside().cend()) : QSet<QString>();
  // Earlier saves of maps whose records stay; those of a lost record are files like any other.
  QHash<QString, QString> earlierOf;
  if (word) earlierOf.reserve(qsizetype(state->earlierSaves().size()));
  if (word)
    for (const auto& [key, name] : state->earlierSaves())
      if (read.records.contains(key)) earlierOf.insert(name, key);
  QHash<QString, QStringList> earlier;
  earlier.reserve(earlierOf.size());
  read.highestSaveNumber = state ? state->lastMade() : -1;
  const QDir dir(folder);
  // The local index says which map each listed document holds, for records whose file is
  // gone; it and the unnamed maps are read by helpers while the listing goes on, as soon as
  // the first unnamed map shows that they are needed.
  const SyncFileInfoPtr indexFile = index ? SyncFileInfo::firstNonNull(index->output(), index->current()) : nullptr;
  const bool indexKnown = SyncFileInfo::hasFile(indexFile) && indexNames.contains(indexFile->name());
  struct IndexRead {
    QString path;
    bool ok = false;
    ProxyList proxies;
  };
  auto indexRead = std::make_shared<IndexRead>();
  if (indexKnown) indexRead->path = dir.filePath(indexFile->name());
  // Names are numbered in the order they were made: an edit numbered above the index was saved
  // after the index was last written, and a kill may have kept it from being written again.
  // (A download numbered so is listed as the other installation wrote the index.)
  if (const qint64 indexNumber = indexKnown ? saveNumberOf(indexFile->name()) : -1; indexNumber >= 0)
    for (auto it = read.records.cbegin(); it != read.records.cend(); ++it)
      if (const SyncFileInfoPtr& edit = it.value()->output();
          SyncFileInfo::hasFile(edit) && saveNumberOf(edit->name()) > indexNumber)
        read.savedAfterIndex.insert(it.key(), edit->name());
  PartsAsTheyCome reading(usableCores() - 1);
  UnnamedMapReads unnamed(folder, reading);
  QSet<QString> present;
  qsizetype earlierFound = 0;
  const auto entries = mirrorEntries(folder);
  present.reserve(qsizetype(entries.size()));
  for (const auto& [name, link] : entries) {
    present.insert(name);
    read.highestSaveNumber = std::max(read.highestSaveNumber, saveNumberOf(name));
    if (indexNames.contains(name) || documentNames.contains(name)) continue;
    if (const auto it = earlierOf.constFind(name); it != earlierOf.cend() && !link) {
      earlier[it.value()] << name;
      ++earlierFound;
    } else if (letGo.contains(name)) {
      read.letGo << name;
      read.filesToDelete.insert(dir.filePath(name), QStringLiteral("the sync state lets it go"));
    } else if (setAside.contains(name)) {
      read.setAside << name;
    } else if (name.endsWith(QLatin1String(".orrx")) && !link) {
      // A map file that no record names may be a save whose status never landed, or a map
      // whose record was lost: it is read. A link is no file of the mirror and is never read.
      if (unnamed.isEmpty() && indexKnown)
        reading.add([indexRead] {
          QByteArray bytes;
          QString why;
          indexRead->ok = readRegularFile(indexRead->path, DocumentLimits::kMaxIndexFileBytes, &bytes, &why) ==
                              RegularFileRead::Read &&
                          IndexJSONDocument::decodeFromJSON(bytes, indexRead->proxies, nullptr);
        });
      unnamed.add(name);
    } else if (state && !shouldFileBeKept(name, indexNames, documentNames)) {
      read.filesToDelete.insert(dir.filePath(name), QStringLiteral("no record names it and it holds no map"));
    }
  }
  unnamed.flush();
  reading.finish();
  // The index read is kept, as the home lists what it holds.
  QHash<QString, QString> indexMaps;
  if (indexRead->ok) {
    indexMaps = mapsOfIndex(indexRead->proxies);
    read.index.emplace(indexFile->name(), std::move(indexRead->proxies));
  }
  read.maps = sortUnnamedMapFiles(unnamed, present, read.records, indexMaps, earlier, word);
  // Read now, so that the home lists them as they are: seldom any but after a kill.
  QStringList newer;
  for (auto it = read.savedAfterIndex.cbegin(); it != read.savedAfterIndex.cend(); ++it)
    if (!read.maps.taken.contains(it.key()) && present.contains(it.value())) newer << it.value();
  if (!newer.isEmpty()) read.maps.maps.insert(readMaps(folder, newer));
  for (const QString& name : read.maps.earlierGo) {
    read.letGo << name;
    read.filesToDelete.insert(dir.filePath(name), QStringLiteral("an earlier save the sync state lets go"));
  }
  // What the engine keeps of it, made here rather than on the main queue, which shows the home:
  // each earlier save still to be looked at with its record, and what goes now.
  if (earlierFound == earlierOf.size()) {
    // Every earlier save the status names is here: the list is the status's own, less those of
    // records the sort has settled.
    read.letGoAtStart = earlierOf;
    for (auto it = earlier.cbegin(); it != earlier.cend(); ++it)
      if (!read.maps.unchecked.contains(it.key()))
        for (const QString& name : it.value()) read.letGoAtStart.remove(name);
  } else {
    read.letGoAtStart.reserve(read.letGo.size() + earlierOf.size());
    for (auto it = read.maps.unchecked.cbegin(); it != read.maps.unchecked.cend(); ++it)
      for (const QString& name : it.value()) read.letGoAtStart.insert(name, it.key());
  }
  for (const QString& name : read.letGo) read.letGoAtStart.insert(name, QString());
}

void DropboxFolderManager::giveRecordsTo(const QStringList& names,
                                         const QHash<QString, std::shared_ptr<IdeaDocument>>& maps) {
  mMapsReadAtStart.reserve(mMapsReadAtStart.size() + names.size());
  for (const QString& name : names) {
    const QString key = rules::fileURLFromDropboxPath(rules::dropboxPathForFile(createDropboxORRXFileName()));
    storeRecord(key, DocumentInfo::create(nullptr, nullptr, SyncFileInfo::create(name, QString())));
    if (const auto map = maps.value(name)) mMapsReadAtStart.insert(key, {name, map});
    report([&](PersistenceStateDelegate& d) { d.foundIdeaDocument(key, this); });
  }
  if (!names.isEmpty())
    logLine(QStringLiteral("Dropbox: maps in %1 without a record: %2; each is kept and sent as a new document")
                .arg(localManagedFolder())
                .arg(names.size()));
}

void DropboxFolderManager::listFromItsFile(const QString& key, const QString& name,
                                           const QHash<QString, std::shared_ptr<IdeaDocument>>& maps) {
  if (const auto map = maps.value(name)) {
    mMapsReadAtStart.insert(key, {name, map});
  } else {
    mState->documentsToLoadAsProxies().insert(key);
    mRelistAtStart.insert(key);
  }
}

void DropboxFolderManager::finishStartUp(const StatusRead& read) {
  auto& s = *mState;
  mIndexReadAtStart = read.index;
  if (read.state) {
    s.setHasPendingGeneralOperation(false);
    s.setIsLocalStatusFileLoaded(true);
  }
  // Only an earlier try of this start, whose first write failed, can have left records.
  for (const QString& key : s.docs().keys()) storeRecord(key, nullptr);
  mLetGo = read.letGoAtStart;
  mEarlierSaves.clear();
  s.filesToReallyDelete().clear();
  // Sized once for every record the start keeps, instead of growing through each size.
  const qsizetype records = read.records.size() + read.maps.withoutRecord.size();
  s.docs().reserve(records);
  mUnwrittenRecords.reserve(records);
  mFileUses.reserve(records);
  for (auto it = read.records.cbegin(); it != read.records.cend(); ++it) storeRecord(it.key(), it.value());
  for (auto it = read.savedAfterIndex.cbegin(); it != read.savedAfterIndex.cend(); ++it)
    if (!read.maps.taken.contains(it.key())) listFromItsFile(it.key(), it.value(), read.maps.maps);
  if (const auto& index = read.state ? read.state->indexDocumentInfo() : nullptr;
      index && rules::hasOnlyPlainNames(index))
    s.setIndexDocumentInfo(index->withInput(SyncFileInfo::EMPTY()));
  // What the engine let go of goes now; the list names each file until it is gone.
  mRemovalReasons = read.filesToDelete;
  for (auto it = read.filesToDelete.cbegin(); it != read.filesToDelete.cend(); ++it)
    s.filesToReallyDelete().insert(it.key());
  mSetAside = QSet<QString>(read.setAside.cbegin(), read.setAside.cend());
  for (const QString& name : read.maps.setAside) {
    logLine(QStringLiteral("Dropbox: %1 is kept aside: an earlier save, or another installation's version, of a map "
                           "that is kept")
                .arg(localManagedFile(name)));
    mSetAside.insert(name);
  }
  for (auto it = read.maps.taken.cbegin(); it != read.maps.taken.cend(); ++it) {
    const DocumentInfoPtr record = s.docs().value(it.key());
    const SyncFileInfoPtr earlier = SyncFileInfo::hasFile(record->output()) ? record->output() : nullptr;
    storeRecord(it.key(), record->withOutput(SyncFileInfo::create(it->name, rules::localRevFromDocumentInfo(record))));
    QString what = QStringLiteral("nothing else");
    if (earlier && earlier->name() != it->name) {
      if (it->earlierGoes) {
        what = earlier->name() + QStringLiteral(" is let go");
        mRemovalReasons.insert(localManagedFile(earlier->name()),
                               QStringLiteral("an earlier save of a map whose record took a later one"));
      } else {
        // Only a guess, or a file that is gone or unreadable: nothing is removed for it.
        mLetGo.remove(earlier->name());
        if (hasLocalManagedFile(earlier->name())) {
          mSetAside.insert(earlier->name());
          what = earlier->name() + QStringLiteral(" is kept aside");
        }
      }
    }
    logLine(QStringLiteral("Dropbox: the record of %1 takes %2, a later save of its map; %3")
                .arg(it.key(), it->name, what));
    // The home, and the local index, show the map as it now is.
    listFromItsFile(it.key(), it->name, read.maps.maps);
  }
  for (const QString& key : read.maps.dropped) {
    logLine(QStringLiteral("Dropbox: the record of %1 names only files that are gone and was never sent; dropped")
                .arg(key));
    storeRecord(key, nullptr);
    report([&](PersistenceStateDelegate& d) { d.ideaDocumentDeleted(key, this); });
  }
  for (auto it = read.records.cbegin(); it != read.records.cend(); ++it)
    if (s.docs().contains(it.key())) report([&](PersistenceStateDelegate& d) { d.foundIdeaDocument(it.key(), this); });
  giveRecordsTo(read.maps.withoutRecord, read.maps.maps);
  // Looked at once the home shows the maps, which need not wait for it; their names wait in
  // mLetGo (read.letGoAtStart) for their record, as letGo leaves them.
  mEarlierSavesToLookAt = {read.maps.unchecked, read.records};
  if (mEarlierSaves.isEmpty())
    mEarlierSaves = read.maps.unchecked;
  else
    for (auto it = read.maps.unchecked.cbegin(); it != read.maps.unchecked.cend(); ++it)
      mEarlierSaves[it.key()].append(it.value());
}

void DropboxFolderManager::lookAtEarlierSaves(const EarlierSavesToLookAt& earlier) {
  if (earlier.saves.isEmpty()) return;
  mEarlierSavesLookInFlight = true;
  mStatusQueue->async([weak = weak_from_this(), folder = localManagedFolder(), earlier]() mutable {
    // Each record's newest file as the start found it; a record that moved on since keeps its saves.
    QHash<QString, EarlierSavesOf> asked;
    for (auto it = earlier.saves.cbegin(); it != earlier.saves.cend(); ++it) {
      const DocumentInfoPtr record = earlier.records.value(it.key());
      if (!record) continue;
      const SyncFileInfoPtr& newest = SyncFileInfo::hasFile(record->output()) ? record->output() : record->current();
      if (SyncFileInfo::hasFile(newest)) asked.insert(it.key(), {newest->name(), it.value()});
    }
    EarlierSavesLookedAt looked = orrery::lookAtEarlierSaves(folder, asked);
    // The copy shares the engine's lists: it goes on the main queue (see startStatusWrite).
    platform::mainQueue().async([weak, asked, looked = std::move(looked), earlier = std::move(earlier)] {
      if (auto self = weak.lock()) self->applyEarlierSavesLookedAt(asked, looked);
    });
  });
}

void DropboxFolderManager::applyEarlierSavesLookedAt(const QHash<QString, EarlierSavesOf>& asked,
                                                     const EarlierSavesLookedAt& looked) {
  mEarlierSavesLookInFlight = false;
  // A record that moved on meanwhile keeps what it has; its earlier saves wait for the next start.
  const auto standsOn = [&](const QString& key) {
    const DocumentInfoPtr record = mState->docs().value(key);
    const QString newest = asked.value(key).newest;
    return record && (SyncFileInfo::refers(record->output(), newest) ||
                      (!SyncFileInfo::hasFile(record->output()) && SyncFileInfo::refers(record->current(), newest)));
  };
  for (const QString& name : looked.go)
    if (auto it = mLetGo.find(name); it != mLetGo.end() && (it.value().isEmpty() || standsOn(it.value()))) {
      it.value().clear();
      mRemovalReasons.insert(localManagedFile(name), QStringLiteral("an earlier save the sync state lets go"));
    }
  for (auto it = looked.fallBack.cbegin(); it != looked.fallBack.cend(); ++it) {
    if (!standsOn(it.key())) continue;
    const DocumentInfoPtr record = mState->docs().value(it.key());
    const QString unreadable = asked.value(it.key()).newest;
    storeRecord(it.key(),
                record->withOutput(SyncFileInfo::create(it.value(), rules::localRevFromDocumentInfo(record))));
    mLetGo.remove(unreadable);
    if (hasLocalManagedFile(unreadable)) mSetAside.insert(unreadable);
    logLine(QStringLiteral("Dropbox: the record of %1 takes %2, an earlier save of its map, as %3 holds none; %3 is "
                           "kept aside")
                .arg(it.key(), it.value(), unreadable));
    mState->documentsToLoadAsProxies().insert(it.key());
    mRelistAtStart.insert(it.key());
  }
  // The status lets the earlier saves go; they are removed once it is written.
  saveOrCreateLocalStatus();
}

}  // namespace orrery
