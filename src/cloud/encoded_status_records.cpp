#include "cloud/encoded_status_records.h"

#include "cloud/dropbox_folder_manager_state.h"
#include "cloud/map_entry.h"
#include "model/json_encoder.h"

namespace orrery {

void EncodedStatusRecords::store(const QString& key, const DocumentInfoPtr& record) {
  if (auto it = mEncoded.constFind(key); it != mEncoded.cend()) {
    mBytes -= it.value().size();
    mEncoded.erase(it);
  }
  if (!record || !record->containsData()) return;
  JSONEncoder encoder;
  encoder.encodeTopObject(MapEntry(key, record));
  const QByteArray text = encoder.data();
  if (text.isEmpty()) return;
  // A copy: the encoder's buffer keeps tens of kilobytes of room behind a record of a hundred bytes.
  QByteArray kept(text.constData(), text.size());
  mBytes += kept.size();
  mEncoded.insert(key, std::move(kept));
}

QByteArray EncodedStatusRecords::exportWith(const QString& fileFormatVersion, const DocumentInfoPtr& index) const {
  DropboxFolderManagerState header;
  header.setFileFormatVersion(fileFormatVersion);
  header.setIndexDocumentInfo(index);
  return exportWith(header);
}

QByteArray EncodedStatusRecords::exportWith(const DropboxFolderManagerState& header) const {
  QByteArray text = header.exportAsData();
  if (text.isEmpty() || mEncoded.isEmpty()) return text;
  // The records are the last member of the state object: {"<class>":{...,"documents":[...]}}.
  if (!text.endsWith("}}")) return {};
  text.reserve(text.size() + mBytes + mEncoded.size() + 32);
  text.chop(2);
  if (!text.endsWith('{')) text.append(',');
  JSONEncoder::appendString(text, QString::fromLatin1(DropboxFolderManagerState::kDocumentsKey));
  text.append(":[");
  bool first = true;
  for (const QByteArray& record : mEncoded) {
    if (!first) text.append(',');
    first = false;
    text.append(record);
  }
  text.append("]}}");
  return text;
}

}  // namespace orrery
