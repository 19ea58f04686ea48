#include "model/index_json_document.h"

#include "model/document_file_writer.h"
#include "model/document_limits.h"
#include "model/icon_image.h"
#include "model/index_file_contents.h"
#include "model/json_decoder.h"
#include "model/json_encoder.h"
#include "model/queued_file_work.h"

#include "platform/core/dispatch.h"
#include "platform/services/qt_regular_file.h"

namespace orrery {

namespace {
constexpr char kProxiesKey[] = "proxies";

DocumentError invalidFormat() {
  return DocumentError{QString::fromLatin1(kDocumentErrorDomain), kDocumentErrorInvalidFormat,
                       QStringLiteral("Invalid index format")};
}
}  // namespace

std::shared_ptr<IndexJSONDocument> IndexJSONDocument::createWithFileURL(const QUrl& fileURL,
                                                                        platform::Queue& workQueue) {
  return std::shared_ptr<IndexJSONDocument>(new IndexJSONDocument(fileURL, workQueue));
}

QByteArray IndexJSONDocument::contentsAsJSONData() const {
  JSONEncoder encoder;
  encoder.encodeTopObject(IndexFileContents(QString::fromLatin1(kProxiesKey), mIdeaProxyList));
  return encoder.data();
}

bool IndexJSONDocument::decodeFromJSON(const QByteArray& data, ProxyList& list, DocumentError* error) {
  auto decoder = JSONDecoder::createWithData(data);
  if (!decoder) {
    if (error) *error = invalidFormat();
    return false;
  }
  decoder->addAlias<IdeaProxy>(QString::fromLatin1(kProxiesKey));
  decoder->addAlias<IconImage>(QStringLiteral("iconImage"));
  ProxyList loaded;
  if (!IndexFileContents::decode(*decoder, QString::fromLatin1(kProxiesKey), DocumentLocationDropbox, loaded, nullptr,
                                 error))
    return false;
  list = std::move(loaded);
  return true;
}

void IndexJSONDocument::writeToLocalFileAt(const QUrl& url, BoolCompletion completion) {
  const QByteArray data = contentsAsJSONData();
  const QString path = url.isLocalFile() ? url.toLocalFile() : QString();
  auto write = [data, path, completion = std::move(completion)](bool) {
    const bool written = !data.isEmpty() && !path.isEmpty() && writeFileReplacing(path, data) == FileWriteResult::Written;
    platform::mainQueue().async([completion, written] {
      if (completion) completion(written);
    });
  };
  QueuedFileWork::async(mWorkQueue, QueuedFileWork::Kind::Write, std::move(write));
}

void IndexJSONDocument::readJSONWithCompletionHandler(ReadCompletion completion) {
  const QString path = mFileURL.isLocalFile() ? mFileURL.toLocalFile() : QString();
  auto self = shared_from_this();
  auto read = [self, path, completion = std::move(completion)](bool proceed) {
    ProxyList list;
    DocumentError error = proceed ? invalidFormat() : DocumentError::cancelled();
    bool loaded = false;
    QByteArray data;
    if (proceed && !path.isEmpty() &&
        platform::readRegularFile(path, DocumentLimits::kMaxIndexFileBytes, &data) == platform::RegularFileRead::Read)
      loaded = decodeFromJSON(data, list, &error);
    platform::mainQueue().async([self, completion, loaded, list = std::move(list), error]() mutable {
      if (loaded) self->mIdeaProxyList = std::move(list);
      if (completion) completion(loaded, loaded ? DocumentError{} : error);
    });
  };
  QueuedFileWork::async(mWorkQueue, QueuedFileWork::Kind::Read, std::move(read));
}

}  // namespace orrery
