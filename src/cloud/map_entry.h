#pragma once
// One key-value pair of the sync state's document map, as it is written in the "documents"
// array of the sync-state file.

#include "cloud/document_info.h"

#include "model/keyed_coding.h"

#include <QString>

namespace orrery {

class MapEntry final : public KeyedCodable {
 public:
  static constexpr char kClassName[] = "MapEntry";

  MapEntry(QString key, DocumentInfoPtr val) : mKey(std::move(key)), mVal(std::move(val)) {}
  static std::shared_ptr<KeyedCodable> createWithCoder(KeyedDecoder& coder);

  const QString& key() const { return mKey; }
  const DocumentInfoPtr& val() const { return mVal; }

  QString className() const override { return QString::fromLatin1(kClassName); }
  void encodeWithCoder(KeyedEncoder& coder) const override;

 private:
  QString mKey;
  DocumentInfoPtr mVal;
};

// Registers the classes of the sync-state file with the keyed coder; safe to call often.
void registerSyncCodedClasses();

}  // namespace orrery
