#pragma once
// The calls of the cloud-storage client library that the sync engine relies on, over a
// backend of our choice: the Dropbox engine's HTTPS routes in the application, an in-memory
// folder in tests and benchmarks. Every answer arrives once, on the main queue, as a result,
// a route error (what the server said about the path) or a network error (no answer, refused
// authorisation, throttling, server failure). Paths are remote paths in the app folder: "" for
// its root, "/" and a name for a file.

#include <QDateTime>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace platform {

struct RemoteMetadata {
  enum class Kind { File, Folder, Deleted };
  Kind kind = Kind::File;
  QString pathLower;
  QString rev;  // files only
};

struct RemoteListResult {
  std::vector<RemoteMetadata> entries;
  QString cursor;
  bool hasMore = false;
};

// What the server said about the request's path.
struct RemoteRouteError {
  enum class Kind {
    Path,        // a lookup (listing, download, metadata) or an upload's write failed at the path
    PathLookup,  // a delete's lookup failed
    PathWrite,   // a delete's write failed (the expected revision is not the remote one)
    Other,       // anything else (an unknown cursor, a malformed path)
  };
  static constexpr int kNotFoundTag = 1;  // of a lookup error
  static constexpr int kConflictTag = 1;  // of a write error

  Kind kind = Kind::Other;
  int tag = 0;
  QString summary;

  bool isPath() const { return kind == Kind::Path; }
  bool isPathLookup() const { return kind == Kind::PathLookup; }
  bool isPathWrite() const { return kind == Kind::PathWrite; }
};

// Why no usable answer came.
struct RemoteNetworkError {
  enum class Kind { NoConnection, TimedOut, Auth, RateLimited, ServerError };
  Kind kind = Kind::NoConnection;
  int statusCode = 0;  // the HTTP status when there was one
  QString summary;

  bool isAuthError() const { return kind == Kind::Auth; }
};

template <class Result>
struct RemoteAnswer {
  std::optional<Result> result;
  std::optional<RemoteRouteError> routeError;
  std::optional<RemoteNetworkError> networkError;
};

template <class Result>
using RemoteResponse = std::function<void(const RemoteAnswer<Result>& answer)>;

// How an upload meets an existing file: add only where none is, update only the expected rev.
struct RemoteWriteMode {
  static RemoteWriteMode add() { return {}; }
  static RemoteWriteMode update(const QString& rev) { return {rev}; }
  QString updateRev;  // empty: add mode
  bool isAdd() const { return updateRev.isEmpty(); }
};

// The files routes of one authorised client. Every call answers exactly once.
class RemoteRoutes {
 public:
  virtual ~RemoteRoutes() = default;
  virtual void listFolder(const QString& path, RemoteResponse<RemoteListResult> response) = 0;
  virtual void listFolderContinue(const QString& cursor, RemoteResponse<RemoteListResult> response) = 0;
  virtual void uploadUrl(const QString& path, const RemoteWriteMode& mode, bool autorename,
                         const QDateTime& clientModified, bool mute, const QString& inputPath,
                         RemoteResponse<RemoteMetadata> response) = 0;
  // Writes the file's content to `destination` (replaced when `overwrite`).
  virtual void downloadUrl(const QString& path, bool overwrite, const QString& destination,
                           RemoteResponse<RemoteMetadata> response) = 0;
  virtual void getMetadata(const QString& path, RemoteResponse<RemoteMetadata> response) = 0;
  // With a `parentRev`, the file is deleted only while it is at that revision.
  virtual void delete_(const QString& path, const QString& parentRev, RemoteResponse<RemoteMetadata> response) = 0;
};

class DropboxClient {
 public:
  explicit DropboxClient(std::shared_ptr<RemoteRoutes> routes) : mFilesRoutes(std::move(routes)) {}
  const std::shared_ptr<RemoteRoutes>& filesRoutes() const { return mFilesRoutes; }

 private:
  std::shared_ptr<RemoteRoutes> mFilesRoutes;
};

struct DropboxEndpoints;

// The answer to a sign-in redirect. A success with a description signed in for this run only:
// the description says why the sign-in could not be kept, for the user.
class DropboxOAuthResult {
 public:
  enum class Kind { Success, Cancel, Error };
  DropboxOAuthResult(Kind kind, QString description) : mKind(kind), mDescription(std::move(description)) {}
  bool isSuccess() const { return mKind == Kind::Success; }
  bool isCancel() const { return mKind == Kind::Cancel; }
  bool isError() const { return mKind == Kind::Error; }
  const QString& description() const { return mDescription; }

 private:
  Kind mKind;
  QString mDescription;
};

// The process's authorised client: installed by the sign-in (or from the kept token at set-up),
// none before it or after sign-out. Main thread only.
class DropboxClientsManager {
 public:
  static constexpr char kTokenFileName[] = "dropbox-token";

  static std::shared_ptr<DropboxClient> authorizedClient();
  // Installs a client (null: none); returns the previous one.
  static std::shared_ptr<DropboxClient> setAuthorizedClient(std::shared_ptr<DropboxClient> client);

  // Remembers the application key and, when a refresh token is kept in
  // <config>/dropbox-token, installs a client with it.
  static void setupWithAppKeyDesktop(const QString& appKey);
  // Where the service is (tests: a loopback server and its authority); returns the previous.
  static DropboxEndpoints setEndpoints(const DropboxEndpoints& endpoints);
  static DropboxEndpoints endpoints();
  // Opens the system browser on the sign-in page: PKCE (S256), a new single-use state,
  // offline access, redirect "db-<app key>://2/token". False without an app key or when no
  // browser took the URL.
  static bool authorizeInBrowser();
  // The redirect that ends a sign-in. The completion runs on the main queue with success
  // (token kept, client installed), cancel (the user refused), error (any other error or a
  // failed code exchange), or none: not a sign-in redirect, or a state that is not the one
  // pending, which is logged and ignored and leaves the pending sign-in as it was.
  static void handleRedirectURL(const QUrl& url,
                                std::function<void(std::shared_ptr<DropboxOAuthResult>)> completion);
  // Forgets the kept token and the client.
  static void signOut();
  // The redirect address of this application key.
  static QString redirectURI();
};

}  // namespace platform
