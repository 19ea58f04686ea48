#include "model/idea_file_presenter.h"

#include "model/idea_document.h"
#include "model/main_queue_completion.h"

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
  removeStaleSaveTemporaries(path);
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

FileWriteResult IdeaFilePresenter::doWriteToURL(const QString& path, const QByteArray& bytes, bool exclusive,
                                                QString* reason) {
  // Whatever a killed writer of this file left behind goes first.
  removeStaleSaveTemporaries(path);
  return exclusive ? writeFileExclusively(path, bytes, reason) : writeFileReplacing(path, bytes, reason);
}

void IdeaFilePresenter::coordinatedWrite(bool exclusive, std::function<void(FileWriteResult)> completion) {
  auto owner = mOwner.lock();
  const QString path = presentedItemPath();
  const Codec codec = owner ? codecFor(mFileURL, *owner) : Codec::OPML;
  // An OPML file is the user's outline, imported, never overwritten with a document.
  if (!owner || path.isEmpty() || codec == Codec::OPML) {
    if (completion) completion(FileWriteResult::Failed);
    return;
  }
  // The main thread only copies the tree; encoding, compressing, waiting for the folder lock
  // and writing happen on the work queue.
  auto write = [snapshot = owner->snapshot(), compressed = codec == Codec::Compressed, path, exclusive,
                identity = static_cast<const platform::FilePresenter*>(this), weakOwner = mOwner,
                completion = std::move(completion)]() mutable {
    FileWriteResult result = FileWriteResult::Failed;
    QString reason;
    const QByteArray bytes = snapshot.encode(compressed);
    if (bytes.isEmpty()) {
      reason = QStringLiteral("the document could not be encoded");
      logLine(QStringLiteral("Could not write %1: %2").arg(path, reason));
    } else {
      // Tied to this presenter (by identity only), so our own write is not reported back.
      platform::FileCoordinator coordinator(identity);
      QString refusal;
      const bool granted = coordinator.coordinateWriting(
          path, [&](const QString& p) { result = doWriteToURL(p, bytes, exclusive, &reason); }, &refusal);
      if (!granted) reason = refusal;
    }
    auto report = [weakOwner, reason, completion = std::move(completion)](FileWriteResult result) {
      if (result == FileWriteResult::Failed)
        if (auto owner = weakOwner.lock()) owner->noteWriteFailure(reason);
      if (completion) completion(result);
    };
    completeOnMainQueue(std::function<void(FileWriteResult)>(std::move(report)), result);
  };
  owner->workQueue().async(std::move(write));
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
