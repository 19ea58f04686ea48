#include "model/index_document.h"

#include "model/document_file_writer.h"
#include "model/document_limits.h"
#include "model/icon_image.h"
#include "model/index_file_contents.h"
#include "model/index_keyed_archiver.h"
#include "model/index_keyed_unarchiver.h"
#include "model/index_portable_image.h"
#include "model/persistence_controller.h"
#include "model/queued_file_work.h"

#include "foundation/globals.h"
#include "platform/core/dispatch.h"
#include "platform/core/notification_center.h"
#include "platform/services/file_coordinator.h"
#include "platform/services/qt_regular_file.h"

namespace orrery {

namespace {
constexpr char kProxyListKey[] = "proxyList";
}  // namespace

IndexDocument::IndexDocument(const QUrl& fileURL) : mFileURL(fileURL) {
  platform::FileCoordinator::addFilePresenter(this);
}

IndexDocument::~IndexDocument() { platform::FileCoordinator::removeFilePresenter(this); }

namespace {

QByteArray archiveOf(const ProxyList& list) {
  KeyedArchiver archiver;
  archiver.encodeRootObject(IndexFileContents(QString::fromLatin1(kProxyListKey), list));
  return archiver.encodedData();
}

bool decodeList(const QByteArray& data, DocumentError* error, bool onlyIfChanged, ProxyList& list) {
  static const QSet<QString> kAllowedClasses{QString::fromLatin1(IdeaProxy::kClassName),
                                             QString::fromLatin1(PortableImage::kClassName),
                                             QString::fromLatin1(IconImage::kClassName)};
  auto unarchiver = KeyedUnarchiver::createWithData(data, kAllowedClasses);
  if (!unarchiver) {
    if (error)
      *error = DocumentError{QString::fromLatin1(kDocumentErrorDomain), kDocumentErrorInvalidFormat,
                             QStringLiteral("Invalid index format")};
    return false;
  }
  ProxyList loaded;
  QString writer;
  if (!IndexFileContents::decode(*unarchiver, QString::fromLatin1(kProxyListKey), DocumentLocationICloud, loaded,
                                 &writer, error))
    return false;
  if (unarchiver->failed()) return false;
  // The file holds this process's own last write: nothing new to take.
  if (onlyIfChanged && writer == Globals::appInstance()) return false;
  list = std::move(loaded);
  return true;
}

}  // namespace

QByteArray IndexDocument::contentsAsBinaryData() const { return archiveOf(mIdeaProxyList); }

bool IndexDocument::loadFromContents(const QByteArray& data, DocumentError* error, bool onlyIfChanged) {
  return decodeList(data, error, onlyIfChanged, mIdeaProxyList);
}

bool IndexDocument::listFromContents(const QByteArray& data, ProxyList& list) {
  return decodeList(data, nullptr, false, list);
}

bool IndexDocument::writeListToFile(const QString& path, const platform::FilePresenter* presenter,
                                    const ProxyList& list, QString* failure) {
  const QByteArray data = archiveOf(list);
  if (data.isEmpty()) {
    if (failure) *failure = QStringLiteral("the index could not be encoded");
    return false;
  }
  FileWriteResult result = FileWriteResult::Failed;
  QString reason;
  platform::FileCoordinator coordinator(presenter);
  const bool granted = coordinator.coordinateWriting(
      path, [&](const QString& p) { result = writeFileReplacing(p, data, &reason); }, &reason);
  if (failure) *failure = reason;
  return granted && result == FileWriteResult::Written;
}

void IndexDocument::saveBinaryToURL(const QUrl& url, BoolCompletion completion) {
  const bool written = writeListToFile(url.toLocalFile(), this, mIdeaProxyList);
  if (completion) completion(written);
}

bool IndexDocument::readListFromFile(const QString& path, const platform::FilePresenter* presenter, ProxyList& list,
                                     bool onlyIfChanged) {
  bool loaded = false;
  platform::FileCoordinator coordinator(presenter);
  const bool granted = coordinator.coordinateReading(path, [&](const QString& p) {
    QByteArray data;
    if (platform::readRegularFile(p, DocumentLimits::kMaxIndexFileBytes, &data) != platform::RegularFileRead::Read)
      return;
    loaded = decodeList(data, nullptr, onlyIfChanged, list);
  });
  return granted && loaded;
}

void IndexDocument::readBinaryWithCompletionHandler(BoolCompletion completion, bool onlyIfChanged) {
  const bool loaded = readListFromFile(presentedItemPath(), this, mIdeaProxyList, onlyIfChanged);
  if (completion) completion(loaded);
}

void IndexDocument::presentedItemDidChange() {
  // Delivered on the main queue. A big index takes a good part of a second to read: on the
  // work queue, and only what another instance wrote is taken and announced.
  std::weak_ptr<IndexDocument*> alive = mLiveness;
  QueuedFileWork::async(
      PersistenceController::singleton().workQueue(), QueuedFileWork::Kind::Read,
      [alive, path = presentedItemPath(), identity = static_cast<const platform::FilePresenter*>(this)](bool proceed) {
        if (!proceed) return;
        auto list = std::make_shared<ProxyList>();
        const bool loaded = readListFromFile(path, identity, *list, /*onlyIfChanged=*/true);
        if (!loaded) return;
        platform::mainQueue().async([alive, list] {
          auto self = alive.lock();
          if (!self) return;
          IndexDocument* index = *self;
          index->mIdeaProxyList = std::move(*list);
          platform::NotificationCenter::defaultCenter().post(IndexDocumentChangedNotification, index);
        });
      });
}

}  // namespace orrery
