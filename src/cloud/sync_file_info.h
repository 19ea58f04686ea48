#pragma once
// What the Dropbox folder synchronisation knows of one version of a file: the local file that
// holds it and the remote revision it stands for. Immutable: every change builds a new value,
// so values may be handed between threads freely. Equal by value, so a value with both fields
// empty equals EMPTY wherever it came from (a file read back included).

#include "model/keyed_coding.h"

#include <QString>

#include <memory>

namespace orrery {

class SyncFileInfo;
using SyncFileInfoPtr = std::shared_ptr<const SyncFileInfo>;

class SyncFileInfo final : public KeyedCodable {
 public:
  static constexpr char kClassName[] = "SyncFileInfo";

  // Either field may be null.
  SyncFileInfo(QString name, QString rev) : mName(std::move(name)), mRev(std::move(rev)) {}
  static SyncFileInfoPtr create(const QString& name, const QString& rev);
  static std::shared_ptr<KeyedCodable> createWithCoder(KeyedDecoder& coder);

  // Nothing known: the file must be looked at. One shared value, made once.
  static const SyncFileInfoPtr& EMPTY();

  static bool emptyOrNull(const SyncFileInfo* info) { return !info || info->isEmpty(); }
  static bool isEmpty(const SyncFileInfo* info) { return info && info->isEmpty(); }
  // A deletion marker: a value without a file (EMPTY included).
  static bool isDeleted(const SyncFileInfo* info) { return info && info->mName.isNull(); }
  static bool hasFile(const SyncFileInfo* info) { return info && !info->mName.isNull(); }
  static const SyncFileInfoPtr& firstNonNull(const SyncFileInfoPtr& a, const SyncFileInfoPtr& b) { return a ? a : b; }
  static bool refers(const SyncFileInfo* info, const QString& fileName) {
    return hasFile(info) && info->mName == fileName;
  }
  static bool areEqual(const SyncFileInfo* a, const SyncFileInfo* b);

  static bool emptyOrNull(const SyncFileInfoPtr& info) { return emptyOrNull(info.get()); }
  static bool isEmpty(const SyncFileInfoPtr& info) { return isEmpty(info.get()); }
  static bool isDeleted(const SyncFileInfoPtr& info) { return isDeleted(info.get()); }
  static bool hasFile(const SyncFileInfoPtr& info) { return hasFile(info.get()); }
  static bool refers(const SyncFileInfoPtr& info, const QString& fileName) { return refers(info.get(), fileName); }
  static bool areEqual(const SyncFileInfoPtr& a, const SyncFileInfoPtr& b) { return areEqual(a.get(), b.get()); }

  const QString& name() const { return mName; }
  const QString& rev() const { return mRev; }
  bool isEmpty() const { return mName.isNull() && mRev.isNull(); }
  SyncFileInfoPtr withRev(const QString& rev) const { return create(mName, rev); }
  bool isEqual(const SyncFileInfo& other) const;
  bool operator==(const SyncFileInfo& other) const { return isEqual(other); }
  std::size_t hash() const;

  QString className() const override { return QString::fromLatin1(kClassName); }
  void encodeWithCoder(KeyedEncoder& coder) const override;
  QString description() const override;

 private:
  QString mName;
  QString mRev;
};

}  // namespace orrery
