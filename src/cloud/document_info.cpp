#include "cloud/document_info.h"

namespace orrery {

namespace {

constexpr char kInputKey[] = "input";
constexpr char kCurrentKey[] = "current";
constexpr char kOutputKey[] = "output";

QString describe(const SyncFileInfoPtr& info) { return info ? info->description() : QStringLiteral("(null)"); }

}  // namespace

DocumentInfoPtr DocumentInfo::create(SyncFileInfoPtr input, SyncFileInfoPtr current, SyncFileInfoPtr output) {
  return std::make_shared<const DocumentInfo>(std::move(input), std::move(current), std::move(output));
}

std::shared_ptr<KeyedCodable> DocumentInfo::createWithCoder(KeyedDecoder& coder) {
  return std::make_shared<DocumentInfo>(coder.decodeObjectOfClassForKey<SyncFileInfo>(kInputKey),
                                        coder.decodeObjectOfClassForKey<SyncFileInfo>(kCurrentKey),
                                        coder.decodeObjectOfClassForKey<SyncFileInfo>(kOutputKey));
}

void DocumentInfo::encodeWithCoder(KeyedEncoder& coder) const {
  coder.encodeObject(mInput, kInputKey);
  coder.encodeObject(mCurrent, kCurrentKey);
  coder.encodeObject(mOutput, kOutputKey);
}

QString DocumentInfo::description() const {
  return QStringLiteral("{DocumentInfo: input=%1 current=%2 output=%3}")
      .arg(describe(mInput), describe(mCurrent), describe(mOutput));
}

}  // namespace orrery
