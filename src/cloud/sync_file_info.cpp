#include "cloud/sync_file_info.h"

#include <QHash>

namespace orrery {

namespace {
constexpr char kNameKey[] = "name";
constexpr char kRevKey[] = "rev";
}  // namespace

SyncFileInfoPtr SyncFileInfo::create(const QString& name, const QString& rev) {
  return std::make_shared<const SyncFileInfo>(name, rev);
}

std::shared_ptr<KeyedCodable> SyncFileInfo::createWithCoder(KeyedDecoder& coder) {
  // An absent key reads as a null string: the field stays unset.
  return std::make_shared<SyncFileInfo>(coder.decodeStringForKey(kNameKey), coder.decodeStringForKey(kRevKey));
}

const SyncFileInfoPtr& SyncFileInfo::EMPTY() {
  // A function-local static is initialised once, thread-safely.
  static const SyncFileInfoPtr empty = create(QString(), QString());
  return empty;
}

bool SyncFileInfo::areEqual(const SyncFileInfo* a, const SyncFileInfo* b) {
  if (!a) return !b;
  if (!b) return false;
  return a->isEqual(*b);
}

bool SyncFileInfo::isEqual(const SyncFileInfo& other) const {
  if (this == &other) return true;
  // Null and equal strings: a null field never equals an empty but set one.
  auto same = [](const QString& x, const QString& y) { return x.isNull() == y.isNull() && x == y; };
  return same(mName, other.mName) && same(mRev, other.mRev);
}

std::size_t SyncFileInfo::hash() const {
  return (mName.isNull() ? 0 : qHash(mName)) + (mRev.isNull() ? 0 : qHash(mRev));
}

void SyncFileInfo::encodeWithCoder(KeyedEncoder& coder) const {
  coder.encodeString(mName, kNameKey);
  coder.encodeString(mRev, kRevKey);
}

QString SyncFileInfo::description() const {
  if (isEmpty()) return QStringLiteral("{SyncFileInfo: EMPTY}");
  return QStringLiteral("{SyncFileInfo: name=%1 rev=%2 }")
      .arg(mName.isNull() ? QStringLiteral("(null)") : mName, mRev.isNull() ? QStringLiteral("(null)") : mRev);
}

}  // namespace orrery
