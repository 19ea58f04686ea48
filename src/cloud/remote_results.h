#pragma once
// The small immutable answers of RemoteFolderClient, each with a coded result.

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

namespace orrery {

using DropboxResult = std::uint64_t;
inline constexpr DropboxResult DropboxResultSuccess = 0;  // for a delete also: already gone
inline constexpr DropboxResult DropboxResultNotFound = 1;
inline constexpr DropboxResult DropboxResultRevisionChanged = 2;
inline constexpr DropboxResult DropboxResultFailed = 3;

class Metadata {
 public:
  explicit Metadata(QString path) : mPath(std::move(path)) {}
  virtual ~Metadata() = default;
  const QString& path() const { return mPath; }
  virtual QString description() const;

 private:
  QString mPath;
};

// One remote file of a listing; the path is lower-cased.
class FileMetadata final : public Metadata {
 public:
  FileMetadata(QString path, QString rev) : Metadata(std::move(path)), mRev(std::move(rev)) {}
  const QString& rev() const { return mRev; }
  QString description() const override;

 private:
  QString mRev;
};

using FileMetadataList = std::vector<std::shared_ptr<const FileMetadata>>;

class ListFolderResponse {
 public:
  ListFolderResponse(DropboxResult result, std::shared_ptr<const FileMetadataList> entries)
      : mResult(result), mEntries(std::move(entries)) {}
  DropboxResult result() const { return mResult; }
  // None unless the result is 0.
  const std::shared_ptr<const FileMetadataList>& entries() const { return mEntries; }
  QString description() const;

 private:
  DropboxResult mResult;
  std::shared_ptr<const FileMetadataList> mEntries;
};

// Upload and download answers: the new or downloaded revision, none unless the result is 0.
class RevisionResponse {
 public:
  RevisionResponse(DropboxResult result, QString rev) : mResult(result), mRev(std::move(rev)) {}
  DropboxResult result() const { return mResult; }
  const QString& rev() const { return mRev; }

 protected:
  QString describe(const char* className) const;

 private:
  DropboxResult mResult;
  QString mRev;
};

class UploadResponse : public RevisionResponse {
 public:
  using RevisionResponse::RevisionResponse;
  QString description() const { return describe("UploadResponse"); }
};

class DownloadResponse : public RevisionResponse {
 public:
  using RevisionResponse::RevisionResponse;
  QString description() const { return describe("DownloadResponse"); }
};

class DeleteResponse {
 public:
  explicit DeleteResponse(DropboxResult result) : mResult(result) {}
  DropboxResult result() const { return mResult; }
  QString description() const;

 private:
  DropboxResult mResult;
};

// success with a rev: the file is at that revision; success without: no such file; no
// success: the question could not be answered.
class PeekFileResponse {
 public:
  PeekFileResponse(bool success, QString rev) : mSuccess(success), mRev(std::move(rev)) {}
  bool success() const { return mSuccess; }
  const QString& rev() const { return mRev; }
  QString description() const;

 private:
  bool mSuccess;
  QString mRev;
};

}  // namespace orrery
