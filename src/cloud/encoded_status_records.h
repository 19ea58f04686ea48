#pragma once
// The document records of the status file kept as their JSON, for a writer that writes the
// file again after every few changes: a record is encoded once, when it changes, and a write
// joins the pieces, so it costs a copy of the file instead of an encoding of every record.
// The joined text is what DropboxFolderManagerState::exportAsData() makes of the same records
// (listed in this map's order). One thread at a time.

#include <QByteArray>
#include <QHash>
#include <QString>

#include "cloud/document_info.h"

namespace orrery {

class DropboxFolderManagerState;

class EncodedStatusRecords {
 public:
  // Keeps the record's JSON under the key; null, or a record with no data, removes the key.
  void store(const QString& key, const DocumentInfoPtr& record);
  qsizetype size() const { return mEncoded.size(); }
  // The whole status file with these records and the members of `header` but its records;
  // null when it cannot be made.
  QByteArray exportWith(const DropboxFolderManagerState& header) const;
  QByteArray exportWith(const QString& fileFormatVersion, const DocumentInfoPtr& index) const;

 private:
  QHash<QString, QByteArray> mEncoded;
  qsizetype mBytes = 0;
};

}  // namespace orrery
