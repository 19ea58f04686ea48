// Files and drags: a file from another program parked in the dock, an idea dragged out of the
// program written as a document file for the receiver.

#include "shell/my_window.h"

#include "foundation/globals.h"
#include "foundation/kit_image.h"
#include "foundation/string_extensions.h"
#include "foundation/views/container_view.h"
#include "foundation/views/screenshot.h"
#include "foundation/views/custom_alert_view.h"
#include "model/document_open_failure.h"
#include "model/idea.h"
#include "model/idea_document.h"
#include "platform/core/dispatch.h"
#include "shell/drag_overlay_view.h"
#include "shell/promised_file.h"

#include <QDir>
#include <QUrl>


#include <filesystem>

namespace orrery {

namespace {

using namespace platform::DragOperationBits;

bool endsWithAny(const QString& path, std::initializer_list<const char*> extensions) {
  const QString lower = path.toLower();
  for (const char* ext : extensions)
    if (lower.endsWith(QLatin1String(ext))) return true;
  return false;
}

QString localized(const char* text) {
  return Globals::normalLocalizedStringForKey(QString(), QString::fromLatin1(text));
}

// Only plain files are read: a FIFO or device named like a document would block the read.
bool isRegularFile(const QString& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(std::filesystem::path(path.toStdString()), ec);
}

}  // namespace

bool DragSupportWindow::isPathReferringToSupportedImage(const QString& path) {
  return endsWithAny(path, {".png", ".jpg", ".jpeg"});
}

bool DragSupportWindow::isPathReferringToIdeaDocumentFile(const QString& path) {
  return endsWithAny(path, {".orrery", ".opml"});
}

bool DragSupportWindow::isPathReferringToSupportedFileType(const QString& path) {
  return isPathReferringToSupportedImage(path) || isPathReferringToIdeaDocumentFile(path);
}

QString DragSupportWindow::supportedFilePathFromPasteboard(const platform::Pasteboard& pasteboard) {
  if (!pasteboard.hasType(QString::fromLatin1(platform::kPasteboardTypeURIList))) return {};
  const QStringList paths = pasteboard.localFilePaths();
  if (paths.size() != 1 || !isPathReferringToSupportedFileType(paths.front())) return {};
  return paths.front();
}

void DragSupportWindow::handleDataFromFile(
    const QString& path, std::function<void(std::shared_ptr<Idea>, const MyResultPtr& refusal)> completion) {
  auto later = [completion](std::shared_ptr<Idea> idea, MyResultPtr refusal = nullptr) {
    platform::mainQueue().async([completion, idea, refusal] { completion(idea, refusal); });
  };
  if (path.isEmpty() || !isRegularFile(path)) {
    later(nullptr);
    return;
  }
  if (isPathReferringToIdeaDocumentFile(path)) {
    auto doc = IdeaDocument::createWithFileName(path, DocumentLocationLocalFile);
    doc->readFromURL(QUrl::fromLocalFile(path), [doc, path, later](bool ok) {
      if (ok && doc->idea()) return later(doc->idea());
      later(nullptr, documentOpenFailure(path, doc->lastError(), doc->lastUserFriendlyError()));
    });
    return;
  }
  if (isPathReferringToSupportedImage(path)) {
    // Decoding a big picture takes a while: off the main thread, the drop waits meanwhile.
    platform::globalQueue().async([path, completion] {
      KitImage picture = KitImage::readFromURL(path);
      platform::mainQueue().async([picture, completion] {
        completion(picture.isNull() ? nullptr : Idea::createWithOriginalImage(picture), nullptr);
      });
    });
    return;
  }
  later(nullptr);
}

platform::DragOperation DragSupportWindow::fileDragEntered(const platform::DraggingInfo& info) {
  const QString path = supportedFilePathFromPasteboard(info.draggingPasteboard());
  mDragTargetSourceWindow.reset();
  auto target = std::make_shared<DragInfo>();
  target->source = kDragSourceOutside;
  target->objectType = kDragObjectFile;
  target->returnTarget = {kDragTargetContent, QRectF(), 0};
  target->location = info.draggingLocation();
  mDragTargetInfo = target;
  const KitImage screenshot = kitImageByCapturingScreenshot(*containerView());
  mDragTargetOverlay = std::make_shared<DragOverlayView>(screenshot, !path.isEmpty());
  containerView()->addHostedView(mDragTargetOverlay);
  DragSupportDelegate* delegate = dragSupportDelegate();
  if (!delegate || !delegate->dragOperationStarted(*mDragTargetInfo)) {
    refuseTargetSide();
    return None;
  }
  // Taken even when the overlay refuses, so that the rest of the drag (moves, drop, leave)
  // still comes here and ends the overlay; the refusal goes with every move.
  return Every;
}

platform::DragOperation DragSupportWindow::fileDragOperation() const {
  // The other program learns the outcome from the answers to its moves, not from the drop:
  // what the overlay refuses is refused to it too.
  return mDragTargetOverlay && mDragTargetOverlay->accepts() ? Every : None;
}

bool DragSupportWindow::performFileDrop(const platform::DraggingInfo& info) {
  const QString path = supportedFilePathFromPasteboard(info.draggingPasteboard());
  if (path.isEmpty()) {
    handleDragEndingForSource(true, true, kDragResultRefused);
    // The overlay that said so has gone with the drop: the notice says it once more.
    showShortNotificationToUser(localized("File type not supported"));
    return false;
  }
  if (!(info.draggingSourceOperationMask() & (Copy | Generic | Move))) {
    handleDragEndingForSource(true, true, kDragResultRefused);
    return true;
  }
  mDelayDragEnding = true;
  platform::WeakRef<DragSupportWindow> weak(this);
  handleDataFromFile(path, [weak](std::shared_ptr<Idea> idea, const MyResultPtr& refusal) {
    DragSupportWindow* self = weak.get();
    if (!self) return;
    if (refusal) {
      // A map the reader refused says which and why; a short notice could not.
      self->mDelayDragEnding = false;
      self->handleDragEndingForSource(true, true, kDragResultRefused);
      if (refusal->isError()) CustomAlertView::showErrorResult(refusal);
      return;
    }
    self->mDelayDragEnding = false;
    if (idea) {
      self->setDockedIdea(idea, QString());
      self->showShortNotificationToUser(localized("Copied to clipboard"));
      self->handleDragEndingForSource(true, true, kDragResultKept);
    } else {
      self->showShortNotificationToUser(localized("Error importing contents"));
      self->handleDragEndingForSource(true, true, kDragResultRefused);
    }
  });
  return true;
}

// Out of the program.

QStringList DragSupportWindow::namesOfPromisedFilesDroppedAtDestination(const QString& folder) {
  const QString title = mDragExampleView ? mDragExampleView->representativeTitle() : QString();
  // The folder is fresh, so the name is free there; the receiver settles clashes in its own.
  const QString chosen = PromisedFile::fileNameForTitle(title);
  QDir destination(folder);
  platform::WeakRef<DragSupportWindow> weak(this);
  // Written too late for the reader is as good as not written: the user hears the same.
  mPromisedFile = PromisedFile::create(folder.isEmpty() ? QString() : destination.filePath(chosen), [weak] {
    if (DragSupportWindow* self = weak.get())
      self->showShortNotificationToUser(Globals::normalLocalizedStringForKey(
          QStringLiteral("mac:Error:FailedToWriteFile"), QStringLiteral("Failed to save file")));
  });
  std::shared_ptr<PromisedFile> promise = mPromisedFile;
  afterLoadingDraggedIdea([promise](std::shared_ptr<Idea> idea) { promise->fulfil(idea); });
  return {chosen};
}

void DragSupportWindow::draggingSessionWillHandOver(platform::DraggingSession& session) {
  namesOfPromisedFilesDroppedAtDestination(PromisedFile::createFreshFolder());
  session.pasteboard().setDataProvider(QString::fromLatin1(platform::kPasteboardTypeURIList),
                                       [promise = mPromisedFile] {
                                         const QUrl url = promise->waitForURL();
                                         return url.isEmpty() ? QByteArray() : url.toEncoded() + "\r\n";
                                       });
}

}  // namespace orrery
