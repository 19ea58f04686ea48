#include "cloud/dropbox_folder_manager_state.h"

#include <vector>

#include "cloud/map_entry.h"
#include "cloud/mirror_maps.h"
#include "cloud/regular_file.h"
#include "foundation/logging.h"
#include "model/document_file_writer.h"
#include "model/json_decoder.h"
#include "model/json_encoder.h"

namespace orrery {

namespace {

constexpr char kVersionKey[] = "fileFormatVersion";
constexpr char kIndexKey[] = "index";

}  // namespace

DropboxFolderManagerState::DropboxFolderManagerState() { initialize(); }

void DropboxFolderManagerState::initialize() {
  mPerhapsDropboxConnection = true;
  mDoWeHaveInitialDropboxFolderListing = false;
  mPollFolderASAP = false;
  mDoWeHaveInitialDropboxFileStatus = false;
  mHasPendingGeneralOperation = false;
  mHasPendingDropboxOperation = false;
  mIsLocalStatusFileLoaded = false;
  mIsIndexDocumentAvailable = false;
  mIndexDocumentInfo = DocumentInfo::create(SyncFileInfo::EMPTY(), nullptr, nullptr);
  mFileFormatVersion = QStringLiteral("1");
  mFilesBeingAccessedByLoad.clear();
  mTasksToExecute.clear();
  mDocumentsToLoadAsProxies.clear();
  mFilesToReallyDelete.clear();
  mLastMade = -1;
  mLetGo.clear();
  mSetAside.clear();
  mEarlierSaves.clear();
  mDocs.clear();
}

std::shared_ptr<DropboxFolderManagerState> DropboxFolderManagerState::initByCopying(
    const DropboxFolderManagerState& other) {
  // Copying a Qt container shares its data until one side changes it.
  return std::make_shared<DropboxFolderManagerState>(other);
}

std::shared_ptr<KeyedCodable> DropboxFolderManagerState::createWithCoder(KeyedDecoder& coder) {
  auto state = std::make_shared<DropboxFolderManagerState>();
  state->mFileFormatVersion = coder.decodeStringForKey(kVersionKey);
  state->mIndexDocumentInfo = coder.decodeObjectOfClassForKey<DocumentInfo>(kIndexKey);
  if (coder.containsValueForKey(kLastMadeKey)) {
    bool number = false;
    const qint64 made = coder.decodeStringForKey(kLastMadeKey).toLongLong(&number);
    // A damaged number still says the lists are the engine's; only the count starts lower, from
    // the mirror's own names. One that leaves no number for the next save's name is damaged too.
    state->mLastMade = number && made >= 0 && made < kHighestSaveNumber ? made : 0;
    state->mLetGo = coder.decodeStringsForKey(kLetGoKey);
    state->mSetAside = coder.decodeStringsForKey(kSetAsideKey);
    const QStringList earlier = coder.decodeStringsForKey(kEarlierSavesKey);
    for (qsizetype i = 0; i + 1 < earlier.size(); i += 2)
      if (!earlier[i].isEmpty() && !earlier[i + 1].isEmpty()) state->mEarlierSaves.append({earlier[i], earlier[i + 1]});
  }
  qsizetype damaged = 0;
  for (const auto& entry : coder.decodeObjectsOfClassForKey<MapEntry>(kDocumentsKey)) {
    // An entry without its key or its record cannot be placed; the rest of the file still counts.
    if (entry->key().isEmpty() || !entry->val()) {
      ++damaged;
      continue;
    }
    state->mDocs.insert(entry->key(), entry->val());
  }
  if (damaged > 0)
    logLine(QStringLiteral("DropboxFolderManagerState: %1 damaged document entries skipped").arg(damaged));
  return state;
}

void DropboxFolderManagerState::encodeWithCoder(KeyedEncoder& coder) const {
  coder.encodeString(mFileFormatVersion, kVersionKey);
  coder.encodeObject(mIndexDocumentInfo, kIndexKey);
  if (mLastMade >= 0) {
    coder.encodeString(QString::number(mLastMade), kLastMadeKey);
    coder.encodeStrings(mLetGo, kLetGoKey);
    coder.encodeStrings(mSetAside, kSetAsideKey);
    QStringList earlier;
    earlier.reserve(2 * mEarlierSaves.size());
    for (const auto& [key, name] : mEarlierSaves) earlier << key << name;
    coder.encodeStrings(earlier, kEarlierSavesKey);
  }
  // The records come last: EncodedStatusRecords appends them after the members above.
  std::vector<MapEntry> entries;
  entries.reserve(std::size_t(mDocs.size()));
  for (auto it = mDocs.cbegin(); it != mDocs.cend(); ++it)
    if (it.value() && it.value()->containsData()) entries.emplace_back(it.key(), it.value());
  std::vector<const KeyedCodable*> plain;
  plain.reserve(entries.size());
  for (const MapEntry& entry : entries) plain.push_back(&entry);
  coder.encodeObjects(std::span<const KeyedCodable* const>(plain), kDocumentsKey);
}

QByteArray DropboxFolderManagerState::exportAsData() const {
  JSONEncoder encoder;
  encoder.encodeObject(*this);
  return encoder.data();
}

bool DropboxFolderManagerState::writeAtomicallyToURL(const QString& path) const {
  return writeDataAtomically(exportAsData(), path);
}

bool DropboxFolderManagerState::writeDataAtomically(const QByteArray& data, const QString& path) {
  if (data.isEmpty()) {
    logLine(QStringLiteral("DropboxFolderManagerState: the sync state could not be encoded for %1").arg(path));
    return false;
  }
  return writeFileReplacing(path, data) == FileWriteResult::Written;
}

std::shared_ptr<DropboxFolderManagerState> DropboxFolderManagerState::readFrom(const QString& path) {
  QByteArray data;
  QString why;
  switch (readRegularFile(path, kMaxStatusFileSize, &data, &why)) {
    case RegularFileRead::Read: return readFromData(data);
    case RegularFileRead::Missing: return nullptr;
    case RegularFileRead::Refused:
    case RegularFileRead::Failed: break;
  }
  logLine(QStringLiteral("DropboxFolderManagerState: cannot read %1: %2").arg(path, why));
  return nullptr;
}

std::shared_ptr<DropboxFolderManagerState> DropboxFolderManagerState::readFromData(const QByteArray& data) {
  registerSyncCodedClasses();
  auto decoder = JSONDecoder::createWithData(data);
  if (!decoder) return nullptr;
  decoder->addAlias<DocumentInfo>(QStringLiteral("index"));
  decoder->addAlias<SyncFileInfo>(QStringLiteral("input"));
  decoder->addAlias<SyncFileInfo>(QStringLiteral("current"));
  decoder->addAlias<SyncFileInfo>(QStringLiteral("output"));
  decoder->addAlias<MapEntry>(QStringLiteral("documents"));
  decoder->addAlias<DocumentInfo>(QStringLiteral("val"));
  return decoder->decodeObjectOfClass<DropboxFolderManagerState>();
}

}  // namespace orrery
