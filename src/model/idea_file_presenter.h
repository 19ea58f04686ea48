#pragma once
// Connects one open IdeaDocument to its file: performs its coordinated read, create and
// update with the codec its name and location call for, and re-reads the file when another
// process changed it, posting IdeaDocumentChangedNotification when the file now carries
// another application instance's mark.

#include "model/document_file_writer.h"
#include "model/idea_document.h"

#include "platform/services/file_presenter.h"

#include <QUrl>

#include <functional>
#include <memory>

namespace orrery {

class IdeaDocument;

class IdeaFilePresenter final : public platform::FilePresenter {
 public:
  // Registers with the file coordinator at once.
  IdeaFilePresenter(const QUrl& fileURL, std::weak_ptr<IdeaDocument> owner);
  ~IdeaFilePresenter() override;
  IdeaFilePresenter(const IdeaFilePresenter&) = delete;
  IdeaFilePresenter& operator=(const IdeaFilePresenter&) = delete;

  // Unregisters and forgets the file and the owner.
  void close();

  const QUrl& presentedItemURL() const { return mFileURL; }
  QString presentedItemPath() const override { return mFileURL.toLocalFile(); }
  void presentedItemDidChange() override;

  // Each completes on the main queue; false (or Failed) when coordination is refused. A read
  // reads and decodes on the owner's work queue and hands the result to the owner on the main
  // queue. Writes take a snapshot of the owner here and encode and write it on the owner's
  // work queue; a failed write leaves its reason in the owner's lastUserFriendlyError.
  void readWithCompletionHandler(std::function<void(bool)> completion);
  // With `exclusive`, an existing file is left alone and the result is AlreadyExists. Without
  // `waitForDisk` the completion comes once the file is whole and in place, and the work queue
  // syncs it to the disk after.
  void createWithCompletionHandler(bool exclusive, bool waitForDisk, std::function<void(FileWriteResult)> completion);
  // The write queued, which saves asked for before it begins may join (none when refused).
  std::shared_ptr<QueuedSave> updateWithCompletionHandler(std::function<void(bool)> completion);
  // Writes the bytes to the file atomically (any thread, inside the coordination).
  static FileWriteResult doWriteToURL(const QString& path, const QByteArray& bytes, bool exclusive, QString* reason,
                                      bool waitForDisk = true);

 private:
  void readFile(bool changedByOthers, std::function<void(bool)> completion);
  // An update merges with another instance's version when the file changed since the owner
  // last read or wrote it; a create replaces whatever is there.
  std::shared_ptr<QueuedSave> coordinatedWrite(bool exclusive, bool update, bool waitForDisk,
                                               std::function<void(FileWriteResult)> completion);
  // Inside the write: when another instance changed the file, `written` becomes the merge of
  // this instance's changes into its version (no bytes when the merge is beyond the limits:
  // nothing is written then); the merge is answered (no tree when none), and `snapshot` names
  // what the merged file tells other instances.
  static IdeaMergeResult mergeWithOtherInstance(const QString& path, DocumentSnapshot& snapshot, bool compressed,
                                                EncodedDocument& file);

  QUrl mFileURL;
  std::weak_ptr<IdeaDocument> mOwner;
  bool mRegistered = false;
};

}  // namespace orrery
