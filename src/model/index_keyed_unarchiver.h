#pragma once
// Reads archives written by KeyedArchiver. Only the classes the caller allows are rebuilt, so
// a crafted archive cannot make the reader build objects it does not expect; every member is
// type-checked and a value of the wrong kind reads as absent. One unarchiver serves one
// archive on one thread.

#include "model/keyed_coding.h"

#include <QCborMap>
#include <QSet>

#include <memory>
#include <vector>

namespace orrery {

class KeyedUnarchiver final : public KeyedDecoder {
 public:
  // Null when the bytes are no archive of ours. The archive's top object is then the current
  // object, read with the ...ForKey calls.
  static std::unique_ptr<KeyedUnarchiver> createWithData(const QByteArray& data, QSet<QString> allowedClasses);

  // Set once an object nested too deep was met: the archive is then to be refused whole.
  bool failed() const { return mFailed; }

  bool containsValueForKey(CoderKey key) const override;
  QString decodeStringForKey(CoderKey key) override;
  QStringList decodeStringsForKey(CoderKey key) override;
  int32_t decodeIntForKey(CoderKey key) override;
  bool decodeBoolForKey(CoderKey key) override;
  QByteArray decodeDataForKey(CoderKey key) override;
  QDateTime decodeDateForKey(CoderKey key) override;
  std::shared_ptr<KeyedCodable> decodeObjectForKey(CoderKey key) override;
  std::vector<std::shared_ptr<KeyedCodable>> decodeObjectsForKey(CoderKey key) override;

 private:
  KeyedUnarchiver(QCborMap top, QSet<QString> allowedClasses);
  QCborValue member(CoderKey key) const;
  std::shared_ptr<KeyedCodable> decodeValue(const QCborValue& value);

  std::vector<QCborMap> mMapStack;
  QSet<QString> mAllowedClasses;
  bool mFailed = false;
};

}  // namespace orrery
