#include "model/index_document.h"

#include "model/document_file_writer.h"
#include "model/icon_image.h"
#include "model/index_file_contents.h"
#include "model/index_keyed_archiver.h"
#include "model/index_keyed_unarchiver.h"
#include "model/index_portable_image.h"

#include "foundation/globals.h"
#include "platform/core/notification_center.h"
#include "platform/services/file_coordinator.h"

#include <QFile>

namespace orrery {

namespace {
constexpr char kProxyListKey[] = "proxyList";
}  // namespace

IndexDocument::IndexDocument(const QUrl& fileURL) : mFileURL(fileURL) {
  platform::FileCoordinator::addFilePresenter(this);
}

IndexDocument::~IndexDocument() { platform::FileCoordinator::removeFilePresenter(this); }

QByteArray IndexDocument::contentsAsBinaryData() const {
  KeyedArchiver archiver;
  archiver.encodeRootObject(IndexFileContents(QString::fromLatin1(kProxyListKey), mIdeaProxyList));
  return archiver.encodedData();
}

bool IndexDocument::loadFromContents(const QByteArray& data, DocumentError* error, bool onlyIfChanged) {
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
  mIdeaProxyList = std::move(loaded);
  return true;
}

void IndexDocument::saveBinaryToURL(const QUrl& url, BoolCompletion completion) {
  const QByteArray data = contentsAsBinaryData();
  bool written = false;
  platform::FileCoordinator coordinator(this);
  const bool granted = coordinator.coordinateWriting(url.toLocalFile(), [&](const QString& path) {
    written = !data.isEmpty() && writeFileReplacing(path, data) == FileWriteResult::Written;
  });
  if (completion) completion(granted && written);
}

void IndexDocument::readBinaryWithCompletionHandler(BoolCompletion completion, bool onlyIfChanged) {
  bool loaded = false;
  platform::FileCoordinator coordinator(this);
  const bool granted = coordinator.coordinateReading(presentedItemPath(), [&](const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return;
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError) return;
    loaded = loadFromContents(data, nullptr, onlyIfChanged);
  });
  if (completion) completion(granted && loaded);
}

void IndexDocument::presentedItemDidChange() {
  // Delivered on the main queue: re-read there, and announce only what another instance wrote.
  bool loaded = false;
  readBinaryWithCompletionHandler([&loaded](bool success) { loaded = success; }, true);
  if (loaded) platform::NotificationCenter::defaultCenter().post(IndexDocumentChangedNotification, this);
}

}  // namespace orrery
