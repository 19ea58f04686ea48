#pragma once
// The sync engine's only road to the remote app folder. Each operation makes one library call
// (a listing one per page, a delete a peek and then the delete), turns the answer into one
// result record with a coded result, and posts one of three notifications by which the engine
// follows connectivity and authorisation. The library client is taken once, at creation;
// without one every request still completes (with 3, or a peek without success) and
// "DropboxInvalidAccessTokenNotification" is posted. Main thread only: calls, completions
// (each exactly once, on a main-queue turn) and notifications.

#include "cloud/remote_results.h"

#include "platform/cloud/remote_routes.h"

#include <QString>

#include <functional>
#include <memory>

namespace orrery {

inline constexpr char DropboxGotSomeDataNotification[] = "DropboxGotSomeDataNotification";
inline constexpr char DropboxNoConnectionNotification[] = "DropboxNoConnectionNotification";
inline constexpr char DropboxInvalidAccessTokenNotification[] = "DropboxInvalidAccessTokenNotification";

class RemoteFolderClient : public std::enable_shared_from_this<RemoteFolderClient> {
 public:
  using ListCompletion = std::function<void(const ListFolderResponse&)>;
  using UploadCompletion = std::function<void(const UploadResponse&)>;
  using DownloadCompletion = std::function<void(const DownloadResponse&)>;
  using PeekCompletion = std::function<void(const PeekFileResponse&)>;
  using DeleteCompletion = std::function<void(const DeleteResponse&)>;

  // Takes DropboxClientsManager's authorised client now.
  static std::shared_ptr<RemoteFolderClient> create();

  // The file entries of the folder (not recursive), answered once after the last page.
  void listFolderContents(const QString& path, ListCompletion completion);
  void listFolderContinue(const QString& cursor, std::shared_ptr<FileMetadataList> entries, ListCompletion completion);
  // Without `rev` the file is added (refused when one exists), with it the remote file must be
  // at that revision.
  void uploadFile(const QString& localPath, const QString& rev, const QString& remotePath, UploadCompletion completion);
  void downloadFile(const QString& remotePath, const QString& targetPath, DownloadCompletion completion);
  void peekFile(const QString& remotePath, PeekCompletion completion);
  // Deletes the file only while it is at `rev`: 0 deleted or already gone, 2 at another rev.
  void deleteFile(const QString& remotePath, const QString& rev, DeleteCompletion completion);
  // Deletes the file; with a `parentRev` only while it is at that revision (else 2).
  void doDeleteFile(const QString& remotePath, const QString& parentRev, DeleteCompletion completion);

  void noteGeneralExceptionInMainQueue(const platform::RemoteNetworkError* error);
  void noteSuccessfulResponseInMainQueue();

 private:
  struct Tag {};

 public:
  RemoteFolderClient(Tag, std::shared_ptr<platform::DropboxClient> client) : mClient(std::move(client)) {}

 private:
  platform::RemoteRoutes* routes() const { return mClient ? mClient->filesRoutes().get() : nullptr; }
  // Completes a request made without an authorised client, on a later turn.
  void answerUnauthorised(std::function<void()> answer);
  void handleListPage(const platform::RemoteAnswer<platform::RemoteListResult>& answer,
                      std::shared_ptr<FileMetadataList> entries, bool firstPage, ListCompletion completion);

  std::shared_ptr<platform::DropboxClient> mClient;
};

}  // namespace orrery
