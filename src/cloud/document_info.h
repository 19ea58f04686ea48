#pragma once
// The sync engine's record of one synchronised file: the remote version not yet taken in
// (input), the version the local copy stands on (current) and the local change waiting to go
// up (output). Immutable; the with… operations build a new record. Two records are equal only
// when they are the same object.

#include "cloud/sync_file_info.h"

#include "model/keyed_coding.h"

#include <memory>

namespace orrery {

class DocumentInfo;
using DocumentInfoPtr = std::shared_ptr<const DocumentInfo>;

class DocumentInfo final : public KeyedCodable {
 public:
  static constexpr char kClassName[] = "DocumentInfo";

  DocumentInfo(SyncFileInfoPtr input, SyncFileInfoPtr current, SyncFileInfoPtr output)
      : mInput(std::move(input)), mCurrent(std::move(current)), mOutput(std::move(output)) {}
  static DocumentInfoPtr create(SyncFileInfoPtr input, SyncFileInfoPtr current, SyncFileInfoPtr output);
  static std::shared_ptr<KeyedCodable> createWithCoder(KeyedDecoder& coder);

  const SyncFileInfoPtr& input() const { return mInput; }
  const SyncFileInfoPtr& current() const { return mCurrent; }
  const SyncFileInfoPtr& output() const { return mOutput; }

  DocumentInfoPtr withInput(SyncFileInfoPtr input) const { return create(std::move(input), mCurrent, mOutput); }
  DocumentInfoPtr withCurrent(SyncFileInfoPtr current) const { return create(mInput, std::move(current), mOutput); }
  DocumentInfoPtr withOutput(SyncFileInfoPtr output) const { return create(mInput, mCurrent, std::move(output)); }

  // A downloaded remote version waits while a local change waits too.
  bool inConflict() const { return mInput && !mInput->isEmpty() && mOutput; }
  // Some field is set (EMPTY counts as set).
  bool containsData() const { return mInput || mCurrent || mOutput; }

  QString className() const override { return QString::fromLatin1(kClassName); }
  void encodeWithCoder(KeyedEncoder& coder) const override;
  QString description() const override;

 private:
  SyncFileInfoPtr mInput;
  SyncFileInfoPtr mCurrent;
  SyncFileInfoPtr mOutput;
};

}  // namespace orrery
