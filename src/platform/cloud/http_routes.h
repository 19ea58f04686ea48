#pragma once
// The remote routes over the service's HTTPS v2 API, on a libcurl transfer loop of their own:
// uploads stream from their mirror file and downloads stream into a temporary file beside
// their destination on the loop's thread, so neither holds a file in memory nor needs a Qt
// event loop. Every answer hops to the main queue.
//
// Failures: a 409 is a route error read from the answer's ".tag"s; a 401 refreshes the
// access token once and repeats the request, then answers an authorisation error; 429 and
// 5xx are tried three times in all, waiting a capped doubling delay or the server's
// Retry-After (at most 60 s), then answer a network error; a dropped connection, a timeout,
// an untrusted certificate or a garbled answer are network errors at once.
//
// Calls are made on the main thread; completions run there, each exactly once.

#include "platform/cloud/remote_routes.h"
#include "platform/net/http_transfer.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace platform {

class CurlTransferLoop;

struct DropboxEndpoints {
  QString apiBase = QStringLiteral("https://api.dropboxapi.com");
  QString contentBase = QStringLiteral("https://content.dropboxapi.com");
  QString authorizeURL = QStringLiteral("https://www.dropbox.com/oauth2/authorize");
  // Certificates (DER) trusted in place of the system's roots; empty: the system's roots.
  std::vector<QByteArray> anchorsDER;
};

struct DropboxCredentials {
  QString appKey;
  QString refreshToken;
  QString accessToken;  // empty: one is fetched with the refresh token before the first call
};

class HttpRoutes final : public RemoteRoutes, public std::enable_shared_from_this<HttpRoutes> {
 public:
  static constexpr int kMaxTries = 3;
  static constexpr double kFirstRetrySeconds = 1.0;
  static constexpr double kMaxRetrySeconds = 60.0;
  static constexpr double kTimeoutSeconds = 60.0;
  // Error bodies and JSON answers larger than this are garbled answers.
  static constexpr qsizetype kMaxAnswerBytes = 16 * 1024 * 1024;

  static std::shared_ptr<HttpRoutes> create(DropboxEndpoints endpoints, DropboxCredentials credentials);
  ~HttpRoutes() override;

  void listFolder(const QString& path, RemoteResponse<RemoteListResult> response) override;
  void listFolderContinue(const QString& cursor, RemoteResponse<RemoteListResult> response) override;
  void uploadUrl(const QString& path, const RemoteWriteMode& mode, bool autorename, const QDateTime& clientModified,
                 bool mute, const QString& inputPath, RemoteResponse<RemoteMetadata> response) override;
  void downloadUrl(const QString& path, bool overwrite, const QString& destination,
                   RemoteResponse<RemoteMetadata> response) override;
  void getMetadata(const QString& path, RemoteResponse<RemoteMetadata> response) override;
  void delete_(const QString& path, const QString& parentRev, RemoteResponse<RemoteMetadata> response) override;

  const DropboxCredentials& credentials() const { return mCredentials; }

  // One exchange at the token endpoint ("/oauth2/token", form fields), for sign-in and
  // refresh; the answer's JSON body, or an error.
  struct Reply {
    int status = 0;
    HTTPHeaderList headers;
    QByteArray body;
    std::optional<TransferError> error;
    QString downloadedFile;  // the temporary file of a download answered 200
  };
  static void postForm(const std::shared_ptr<CurlTransferLoop>& loop, const DropboxEndpoints& endpoints,
                       const QString& url, const QList<std::pair<QString, QString>>& fields,
                       std::function<void(const Reply&)> done);

 private:
  struct Tag {};

 public:
  HttpRoutes(Tag, DropboxEndpoints endpoints, DropboxCredentials credentials);

 private:
  struct Call {
    QString url;
    HTTPHeaderList headers;  // besides Authorization
    QByteArray body;
    QString bodyFile;
    QString downloadTo;  // a download: the answer's body goes to a temporary file beside it
  };
  using Done = std::function<void(const Reply& reply, std::optional<RemoteNetworkError> failure)>;

  void perform(std::shared_ptr<Call> call, int attempt, bool refreshed, Done done);
  void refreshToken(std::function<void(bool ok)> done);
  void postJSON(const QString& route, const QByteArray& json, Done done);
  // Answers even when the routes are gone: every call answers exactly once.
  template <class Result>
  static void answer(const Reply& reply, const std::optional<RemoteNetworkError>& failure, int routeKind,
              std::function<std::optional<Result>(const Reply&)> parse, RemoteResponse<Result> response);

  DropboxEndpoints mEndpoints;
  DropboxCredentials mCredentials;
  std::shared_ptr<CurlTransferLoop> mLoop;
};

}  // namespace platform
