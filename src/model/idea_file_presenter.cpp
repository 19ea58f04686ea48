#include "model/idea_file_presenter.h"

#include "model/idea_document.h"

#include "foundation/data_extensions.h"
#include "foundation/globals.h"
#include "foundation/logging.h"
#include "platform/core/dispatch.h"
#include "platform/core/notification_center.h"
#include "platform/services/file_coordinator.h"

#include <QFile>
#include <QFileInfo>

namespace orrery {

namespace {

enum class Codec { OPML, PlainJSON, Compressed };

Codec codecFor(const QUrl& url, const IdeaDocument& owner) {
  const QString name = QFileInfo(url.toLocalFile()).fileName().toLower();
  if (name.endsWith(".opml")) return Codec::OPML;
  if (name.endsWith(".orrx") && owner.location() == DocumentLocationICloud) return Codec::PlainJSON;
  return Codec::Compressed;
}

// Accesses off the main thread are logged and carried out all the same.
void checkMainThread(int line, const char* operation) {
  if (!platform::mainQueue().isCurrent()) softAssertionFailed(line, operation);
}

}  // namespace

IdeaFilePresenter::IdeaFilePresenter(const QUrl& fileURL, std::weak_ptr<IdeaDocument> owner)
    : mFileURL(fileURL), mOwner(std::move(owner)) {
  platform::FileCoordinator::addFilePresenter(this);
  mRegistered = true;
}

IdeaFilePresenter::~IdeaFilePresenter() { close(); }

void IdeaFilePresenter::close() {
  if (mRegistered) platform::FileCoordinator::removeFilePresenter(this);
  mRegistered = false;
  mOwner.reset();
  mFileURL = QUrl();
}

bool IdeaFilePresenter::readInto(const QString& path) {
  auto owner = mOwner.lock();
  if (!owner) return false;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  // No document holds more than the largest JSON text we inflate; reading a bigger file
  // whole could take more memory than there is.
  if (file.size() > dataext::kMaxInflatedSize) return false;
  const QByteArray bytes = file.readAll();
  if (file.error() != QFileDevice::NoError) return false;
  switch (codecFor(mFileURL, *owner)) {
    case Codec::OPML: return owner->loadFromOPMLData(bytes);
    case Codec::PlainJSON: return owner->loadFromJSONData(bytes);
    case Codec::Compressed: return owner->loadFromOrreryData(bytes);
  }
  return false;
}

void IdeaFilePresenter::readWithCompletionHandler(std::function<void(bool)> completion) {
  bool result = false;
  platform::FileCoordinator coordinator(this);
  const bool granted = coordinator.coordinateReading(presentedItemPath(), [&](const QString& path) {
    checkMainThread(190, "-[IdeaFilePresenter readWithCompletionHandler:]");
    result = readInto(path);
  });
  if (!granted) {
    if (completion) completion(false);
    return;
  }
  platform::mainQueue().async([completion = std::move(completion), result] {
    if (completion) completion(result);
  });
}

FileWriteResult IdeaFilePresenter::doWriteToURL(const QUrl& url, bool exclusive) {
  auto owner = mOwner.lock();
  if (!owner) return FileWriteResult::Failed;
  const Codec codec = codecFor(url, *owner);
  // An OPML file is the user's outline, imported, never overwritten with a document.
  if (codec == Codec::OPML) return FileWriteResult::Failed;
  const QByteArray bytes =
      codec == Codec::PlainJSON ? owner->exportAsPureJSONData() : owner->exportAsOrreryData();
  if (bytes.isEmpty()) return FileWriteResult::Failed;
  const QString path = url.toLocalFile();
  return exclusive ? writeFileExclusively(path, bytes) : writeFileReplacing(path, bytes);
}

void IdeaFilePresenter::coordinatedWrite(bool exclusive, std::function<void(FileWriteResult)> completion) {
  FileWriteResult result = FileWriteResult::Failed;
  platform::FileCoordinator coordinator(this);
  const bool granted = coordinator.coordinateWriting(presentedItemPath(), [&](const QString& path) {
    result = doWriteToURL(QUrl::fromLocalFile(path), exclusive);
  });
  if (!granted) {
    if (completion) completion(FileWriteResult::Failed);
    return;
  }
  platform::mainQueue().async([completion = std::move(completion), result] {
    if (completion) completion(result);
  });
}

void IdeaFilePresenter::createWithCompletionHandler(bool exclusive, std::function<void(FileWriteResult)> completion) {
  coordinatedWrite(exclusive, std::move(completion));
}

void IdeaFilePresenter::updateWithCompletionHandler(std::function<void(bool)> completion) {
  coordinatedWrite(false, [completion = std::move(completion)](FileWriteResult result) {
    if (completion) completion(result == FileWriteResult::Written);
  });
}

void IdeaFilePresenter::presentedItemDidChange() {
  // Delivered on the main queue by the registry; re-read there and tell the editor only when
  // someone else wrote the file.
  std::weak_ptr<IdeaDocument> weakOwner = mOwner;
  readWithCompletionHandler([weakOwner](bool success) {
    if (!success) return;
    checkMainThread(148, "-[IdeaFilePresenter presentedItemDidChange]");
    auto owner = weakOwner.lock();
    if (!owner) return;
    if (owner->appInstance() != Globals::appInstance())
      platform::NotificationCenter::defaultCenter().post(IdeaDocumentChangedNotification, owner.get());
  });
}

}  // namespace orrery
