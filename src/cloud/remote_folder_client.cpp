#include "cloud/remote_folder_client.h"

#include "platform/core/dispatch.h"
#include "platform/core/notification_center.h"

namespace orrery {

namespace {

using platform::RemoteAnswer;
using platform::RemoteMetadata;
using platform::RemoteRouteError;

bool isPathWith(const std::optional<RemoteRouteError>& error, int tag) {
  return error && error->isPath() && error->tag == tag;
}

const platform::RemoteNetworkError* networkErrorOf(const auto& answer) {
  return answer.networkError ? &*answer.networkError : nullptr;
}

void post(const char* name) { platform::NotificationCenter::defaultCenter().post(name); }

}  // namespace

std::shared_ptr<RemoteFolderClient> RemoteFolderClient::create() {
  auto client = std::make_shared<RemoteFolderClient>(Tag{}, platform::DropboxClientsManager::authorizedClient());
  // On a later turn, so that an observer registered right after creation hears it.
  if (!client->mClient) platform::mainQueue().async([] { post(DropboxInvalidAccessTokenNotification); });
  return client;
}

void RemoteFolderClient::answerUnauthorised(std::function<void()> answer) {
  platform::mainQueue().async([answer = std::move(answer)] {
    post(DropboxInvalidAccessTokenNotification);
    answer();
  });
}

void RemoteFolderClient::noteGeneralExceptionInMainQueue(const platform::RemoteNetworkError* error) {
  post(error && error->isAuthError() ? DropboxInvalidAccessTokenNotification : DropboxNoConnectionNotification);
}

void RemoteFolderClient::noteSuccessfulResponseInMainQueue() { post(DropboxGotSomeDataNotification); }

// ---- listing

void RemoteFolderClient::listFolderContents(const QString& path, ListCompletion completion) {
  if (!routes()) {
    answerUnauthorised([completion] {
      if (completion) completion(ListFolderResponse(DropboxResultFailed, nullptr));
    });
    return;
  }
  auto entries = std::make_shared<FileMetadataList>();
  routes()->listFolder(path, [self = shared_from_this(), entries, completion](const auto& answer) {
    self->handleListPage(answer, entries, /*firstPage=*/true, completion);
  });
}

void RemoteFolderClient::listFolderContinue(const QString& cursor, std::shared_ptr<FileMetadataList> entries,
                                            ListCompletion completion) {
  if (!routes()) {
    answerUnauthorised([completion] {
      if (completion) completion(ListFolderResponse(DropboxResultFailed, nullptr));
    });
    return;
  }
  if (!entries) entries = std::make_shared<FileMetadataList>();
  routes()->listFolderContinue(cursor, [self = shared_from_this(), entries, completion](const auto& answer) {
    self->handleListPage(answer, entries, /*firstPage=*/false, completion);
  });
}

void RemoteFolderClient::handleListPage(const RemoteAnswer<platform::RemoteListResult>& answer,
                                        std::shared_ptr<FileMetadataList> entries, bool firstPage,
                                        ListCompletion completion) {
  if (answer.result) {
    for (const RemoteMetadata& entry : answer.result->entries)
      if (entry.kind == RemoteMetadata::Kind::File)
        entries->push_back(std::make_shared<const FileMetadata>(entry.pathLower, entry.rev));
    if (answer.result->hasMore) {
      listFolderContinue(answer.result->cursor, std::move(entries), std::move(completion));
      return;
    }
    noteSuccessfulResponseInMainQueue();
    if (completion) completion(ListFolderResponse(DropboxResultSuccess, std::move(entries)));
    return;
  }
  if (firstPage && isPathWith(answer.routeError, RemoteRouteError::kNotFoundTag)) {
    if (completion) completion(ListFolderResponse(DropboxResultNotFound, nullptr));
    return;
  }
  // A failed first page is told like a failed continuation: an expired token must reach the
  // engine, which would otherwise list again and again.
  noteGeneralExceptionInMainQueue(networkErrorOf(answer));
  if (completion) completion(ListFolderResponse(DropboxResultFailed, nullptr));
}

// ---- files

void RemoteFolderClient::uploadFile(const QString& localPath, const QString& rev, const QString& remotePath,
                                    UploadCompletion completion) {
  if (!routes()) {
    answerUnauthorised([completion] {
      if (completion) completion(UploadResponse(DropboxResultFailed, {}));
    });
    return;
  }
  const auto mode = rev.isEmpty() ? platform::RemoteWriteMode::add() : platform::RemoteWriteMode::update(rev);
  routes()->uploadUrl(remotePath, mode, /*autorename=*/false, QDateTime::currentDateTimeUtc(), /*mute=*/true, localPath,
                      [self = shared_from_this(), completion](const RemoteAnswer<RemoteMetadata>& answer) {
                        if (answer.result) {
                          self->noteSuccessfulResponseInMainQueue();
                          if (completion) completion(UploadResponse(DropboxResultSuccess, answer.result->rev));
                        } else if (isPathWith(answer.routeError, RemoteRouteError::kConflictTag)) {
                          if (completion) completion(UploadResponse(DropboxResultRevisionChanged, {}));
                        } else {
                          self->noteGeneralExceptionInMainQueue(networkErrorOf(answer));
                          if (completion) completion(UploadResponse(DropboxResultFailed, {}));
                        }
                      });
}

void RemoteFolderClient::downloadFile(const QString& remotePath, const QString& targetPath,
                                      DownloadCompletion completion) {
  if (!routes()) {
    answerUnauthorised([completion] {
      if (completion) completion(DownloadResponse(DropboxResultFailed, {}));
    });
    return;
  }
  routes()->downloadUrl(remotePath, /*overwrite=*/true, targetPath,
                        [self = shared_from_this(), completion](const RemoteAnswer<RemoteMetadata>& answer) {
                          if (answer.result) {
                            self->noteSuccessfulResponseInMainQueue();
                            if (completion) completion(DownloadResponse(DropboxResultSuccess, answer.result->rev));
                          } else if (isPathWith(answer.routeError, RemoteRouteError::kNotFoundTag)) {
                            if (completion) completion(DownloadResponse(DropboxResultNotFound, {}));
                          } else {
                            self->noteGeneralExceptionInMainQueue(networkErrorOf(answer));
                            if (completion) completion(DownloadResponse(DropboxResultFailed, {}));
                          }
                        });
}

void RemoteFolderClient::peekFile(const QString& remotePath, PeekCompletion completion) {
  if (!routes()) {
    answerUnauthorised([completion] {
      if (completion) completion(PeekFileResponse(false, {}));
    });
    return;
  }
  routes()->getMetadata(
      remotePath, [self = shared_from_this(), completion](const RemoteAnswer<RemoteMetadata>& answer) {
        if (answer.result) {
          self->noteSuccessfulResponseInMainQueue();
          const bool isFile = answer.result->kind == RemoteMetadata::Kind::File;
          if (completion) completion(isFile ? PeekFileResponse(true, answer.result->rev) : PeekFileResponse(false, {}));
        } else if (isPathWith(answer.routeError, RemoteRouteError::kNotFoundTag)) {
          if (completion) completion(PeekFileResponse(true, {}));
        } else {
          self->noteGeneralExceptionInMainQueue(networkErrorOf(answer));
          if (completion) completion(PeekFileResponse(false, {}));
        }
      });
}

void RemoteFolderClient::deleteFile(const QString& remotePath, const QString& rev, DeleteCompletion completion) {
  peekFile(remotePath, [self = shared_from_this(), remotePath, rev, completion](const PeekFileResponse& peek) {
    auto later = [completion](DropboxResult result) {
      platform::mainQueue().async([completion, result] {
        if (completion) completion(DeleteResponse(result));
      });
    };
    if (!peek.success()) return later(DropboxResultFailed);
    if (peek.rev().isNull()) return later(DropboxResultSuccess);
    if (rev.isNull() || peek.rev() != rev) return later(DropboxResultRevisionChanged);
    // The peeked rev goes with the delete: a version uploaded since is refused, not deleted.
    self->doDeleteFile(remotePath, peek.rev(), completion);
  });
}

void RemoteFolderClient::doDeleteFile(const QString& remotePath, const QString& parentRev,
                                      DeleteCompletion completion) {
  if (!routes()) {
    answerUnauthorised([completion] {
      if (completion) completion(DeleteResponse(DropboxResultFailed));
    });
    return;
  }
  routes()->delete_(remotePath, parentRev,
                    [self = shared_from_this(), completion](const RemoteAnswer<RemoteMetadata>& answer) {
                      DropboxResult result = DropboxResultFailed;
                      if (answer.result) {
                        self->noteSuccessfulResponseInMainQueue();
                        result = DropboxResultSuccess;
                      } else if (answer.routeError && answer.routeError->isPathLookup() &&
                                 answer.routeError->tag == RemoteRouteError::kNotFoundTag) {
                        result = DropboxResultSuccess;
                      } else if (answer.routeError && answer.routeError->isPathWrite() &&
                                 answer.routeError->tag == RemoteRouteError::kConflictTag) {
                        result = DropboxResultRevisionChanged;
                      } else {
                        self->noteGeneralExceptionInMainQueue(networkErrorOf(answer));
                      }
                      if (completion) completion(DeleteResponse(result));
                    });
}

}  // namespace orrery
