#include "platform/cloud/http_routes.h"

#include "platform/cloud/download_file.h"
#include "platform/cloud/dropbox_wire.h"
#include "platform/core/dispatch.h"
#include "platform/net/curl_transfer_loop.h"

#include <QFile>
#include <QJsonObject>
#include <QUrl>

#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <cmath>
#include <cstdio>
#include <strings.h>

namespace platform {

namespace wire = dropboxwire;

namespace {

constexpr char kResultHeader[] = "Dropbox-API-Result";
constexpr char kArgHeader[] = "Dropbox-API-Arg";

std::optional<std::string> headerValue(const HTTPHeaderList& headers, const char* name) {
  for (const auto& [key, value] : headers)
    if (strcasecmp(key.c_str(), name) == 0) return value;
  return std::nullopt;
}

// One transfer: the answer's body goes to memory, or for a download answered 200 into a
// temporary file beside the destination. Runs on the loop's thread; the reply hops to the
// main queue.
class RoutesTransfer final : public CurlTransferClient {
 public:
  RoutesTransfer(const std::vector<QByteArray>& anchors, QString downloadTo,
                 std::function<void(const HttpRoutes::Reply&)> done)
      : mAnchors(anchors), mDownloadTo(std::move(downloadTo)), mDone(std::move(done)) {}

  void transferDidReceiveResponse(const HTTPResponseHead& response) override {
    mReply.status = response.statusCode;
    mReply.headers = response.headers;
    if (mDownloadTo.isEmpty() || response.statusCode != 200) return;
    mFile = DownloadFile::createBeside(mDownloadTo, mWriteFailure);
  }

  void transferDidReceiveData(std::vector<std::uint8_t> bytes) override {
    if (mFile) return mFile->append(std::move(bytes));
    if (!mDownloadTo.isEmpty() && mReply.status == 200) return;  // the temporary file could not be made
    if (mReply.body.size() + qsizetype(bytes.size()) > HttpRoutes::kMaxAnswerBytes) {
      mTooLarge = true;
      return;
    }
    mReply.body.append(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
  }

  void transferDidComplete(const std::optional<TransferError>& error) override {
    mReply.error = error;
    if (!error && !mWriteFailure.empty()) mReply.error = TransferError{TransferFailure::Unknown, mWriteFailure};
    if (!error && mTooLarge) mReply.error = TransferError{TransferFailure::BadServerResponse, "answer too large"};
    if (!mFile) {
      mainQueue().async([done = std::move(mDone), reply = std::move(mReply)] { done(reply); });
      return;
    }
    // The answer waits until the file is whole on disk, or gone.
    auto file = std::move(mFile);
    file->finish(!mReply.error, [path = file->path(), done = std::move(mDone), reply = std::move(mReply)](const std::string& failure) mutable {
      if (!reply.error && !failure.empty()) reply.error = TransferError{TransferFailure::Unknown, failure};
      if (!reply.error) reply.downloadedFile = path;
      mainQueue().async([done = std::move(done), reply = std::move(reply)] { done(reply); });
    });
  }

  bool decidesServerTrust() const override { return !mAnchors.empty(); }

  bool transferShouldTrustServer(const std::vector<X509*>& chain, const std::string& host, int /*port*/) override {
    if (chain.empty()) return false;
    X509_STORE* store = X509_STORE_new();
    for (const QByteArray& der : mAnchors) {
      const unsigned char* p = reinterpret_cast<const unsigned char*>(der.constData());
      if (X509* anchor = d2i_X509(nullptr, &p, long(der.size()))) {
        X509_STORE_add_cert(store, anchor);
        X509_free(anchor);
      }
    }
    STACK_OF(X509)* untrusted = sk_X509_new_null();
    for (std::size_t i = 1; i < chain.size(); ++i) sk_X509_push(untrusted, chain[i]);
    X509_STORE_CTX* ctx = X509_STORE_CTX_new();
    bool trusted = X509_STORE_CTX_init(ctx, store, chain[0], untrusted) == 1 && X509_verify_cert(ctx) == 1;
    X509_STORE_CTX_free(ctx);
    sk_X509_free(untrusted);
    X509_STORE_free(store);
    if (trusted)
      trusted = X509_check_ip_asc(chain[0], host.c_str(), 0) == 1 ||
                X509_check_host(chain[0], host.c_str(), host.size(), 0, nullptr) == 1;
    return trusted;
  }

 private:
  std::vector<QByteArray> mAnchors;
  QString mDownloadTo;
  std::function<void(const HttpRoutes::Reply&)> mDone;
  HttpRoutes::Reply mReply;
  std::shared_ptr<DownloadFile> mFile;
  std::string mWriteFailure;
  bool mTooLarge = false;
};

RemoteNetworkError networkError(RemoteNetworkError::Kind kind, int status, const QString& summary) {
  return {kind, status, summary};
}

}  // namespace

std::shared_ptr<HttpRoutes> HttpRoutes::create(DropboxEndpoints endpoints, DropboxCredentials credentials) {
  return std::make_shared<HttpRoutes>(Tag{}, std::move(endpoints), std::move(credentials));
}

HttpRoutes::HttpRoutes(Tag, DropboxEndpoints endpoints, DropboxCredentials credentials)
    : mEndpoints(std::move(endpoints)),
      mCredentials(std::move(credentials)),
      mLoop(CurlTransferLoop::create("orrery.dropbox.http")) {}

HttpRoutes::~HttpRoutes() = default;

void HttpRoutes::postForm(const std::shared_ptr<CurlTransferLoop>& loop, const DropboxEndpoints& endpoints,
                          const QString& url, const QList<std::pair<QString, QString>>& fields,
                          std::function<void(const Reply&)> done) {
  QByteArray body;
  for (const auto& [name, value] : fields) {
    if (!body.isEmpty()) body.append('&');
    body.append(QUrl::toPercentEncoding(name) + '=' + QUrl::toPercentEncoding(value));
  }
  HTTPTransferRequest request;
  request.url = url.toStdString();
  request.method = "POST";
  request.headers = {{"Content-Type", "application/x-www-form-urlencoded"}};
  request.body.assign(body.begin(), body.end());
  request.timeoutInterval = kTimeoutSeconds;
  if (!loop) {
    mainQueue().async([done] { done(Reply{0, {}, {}, TransferError{TransferFailure::Unknown, "no transfer loop"}, {}}); });
    return;
  }
  loop->start(request, std::make_shared<RoutesTransfer>(endpoints.anchorsDER, QString(), std::move(done)));
}

void HttpRoutes::refreshToken(std::function<void(bool ok)> done) {
  if (mCredentials.refreshToken.isEmpty()) {
    mainQueue().async([done] { done(false); });
    return;
  }
  postForm(mLoop, mEndpoints, mEndpoints.apiBase + QStringLiteral("/oauth2/token"),
           {{"grant_type", "refresh_token"}, {"refresh_token", mCredentials.refreshToken}, {"client_id", mCredentials.appKey}},
           [weak = weak_from_this(), done](const Reply& reply) {
             auto self = weak.lock();
             const auto token = reply.error || reply.status != 200 ? std::nullopt : wire::parseTokenAnswer(reply.body);
             if (self && token) self->mCredentials.accessToken = token->accessToken;
             done(self && token);
           });
}

void HttpRoutes::perform(std::shared_ptr<Call> call, int attempt, bool refreshed, Done done) {
  if (mCredentials.accessToken.isEmpty() && !refreshed) {
    refreshToken([weak = weak_from_this(), call, attempt, done](bool ok) {
      auto self = weak.lock();
      if (ok && self) return self->perform(call, attempt, /*refreshed=*/true, done);
      done({}, networkError(RemoteNetworkError::Kind::Auth, 401, QStringLiteral("no access token")));
    });
    return;
  }
  HTTPTransferRequest request;
  request.url = call->url.toStdString();
  request.method = "POST";
  request.headers = call->headers;
  request.headers.insert(request.headers.begin(),
                         {"Authorization", "Bearer " + mCredentials.accessToken.toStdString()});
  request.body.assign(call->body.begin(), call->body.end());
  if (!call->bodyFile.isEmpty()) request.bodyFilePath = QFile::encodeName(call->bodyFile).toStdString();
  request.timeoutInterval = kTimeoutSeconds;
  auto handle = [weak = weak_from_this(), call, attempt, refreshed, done](const Reply& reply) {
    auto self = weak.lock();
    if (reply.error || !self) {
      if (!reply.downloadedFile.isEmpty()) QFile::remove(reply.downloadedFile);
      const bool timedOut = reply.error && reply.error->failure == TransferFailure::TimedOut;
      done(reply, networkError(timedOut ? RemoteNetworkError::Kind::TimedOut : RemoteNetworkError::Kind::NoConnection,
                               0, QString::fromStdString(reply.error ? reply.error->description : "closed")));
      return;
    }
    if (reply.status == 401) {
      if (refreshed) return done(reply, networkError(RemoteNetworkError::Kind::Auth, 401, QString::fromUtf8(reply.body)));
      // One refresh, then the request once more.
      self->refreshToken([weak, call, attempt, done, reply](bool ok) {
        auto self = weak.lock();
        if (ok && self) return self->perform(call, attempt, /*refreshed=*/true, done);
        done(reply, networkError(RemoteNetworkError::Kind::Auth, 401, QString::fromUtf8(reply.body)));
      });
      return;
    }
    if (reply.status == 429 || reply.status >= 500) {
      const auto kind = reply.status == 429 ? RemoteNetworkError::Kind::RateLimited : RemoteNetworkError::Kind::ServerError;
      if (attempt >= kMaxTries) return done(reply, networkError(kind, reply.status, QString::fromUtf8(reply.body.left(200))));
      double wait = std::min(kFirstRetrySeconds * std::pow(2.0, attempt - 1), kMaxRetrySeconds);
      if (auto header = headerValue(reply.headers, "Retry-After"))
        if (auto asked = wire::parseRetryAfter(QByteArray::fromStdString(*header), kMaxRetrySeconds)) wait = *asked;
      mainQueue().afterSeconds(wait, [weak, call, attempt, refreshed, done] {
        if (auto self = weak.lock())
          self->perform(call, attempt + 1, refreshed, done);
        else
          done({}, networkError(RemoteNetworkError::Kind::NoConnection, 0, QStringLiteral("closed")));
      });
      return;
    }
    done(reply, std::nullopt);
  };
  mLoop->start(request, std::make_shared<RoutesTransfer>(mEndpoints.anchorsDER, call->downloadTo, std::move(handle)));
}

void HttpRoutes::postJSON(const QString& route, const QByteArray& json, Done done) {
  auto call = std::make_shared<Call>();
  call->url = mEndpoints.apiBase + route;
  call->headers = {{"Content-Type", "application/json"}};
  call->body = json;
  perform(std::move(call), /*attempt=*/1, /*refreshed=*/false, std::move(done));
}

template <class Result>
void HttpRoutes::answer(const Reply& reply, const std::optional<RemoteNetworkError>& failure, int routeKind,
                        std::function<std::optional<Result>(const Reply&)> parse, RemoteResponse<Result> response) {
  RemoteAnswer<Result> out;
  if (failure) {
    out.networkError = failure;
  } else if (reply.status == 409) {
    out.routeError = wire::parseRouteError(reply.body, wire::RouteKind(routeKind));
  } else if (reply.status == 200) {
    out.result = parse(reply);
    if (!out.result)
      out.networkError = networkError(RemoteNetworkError::Kind::ServerError, 200, QStringLiteral("garbled answer"));
  } else {
    out.networkError = networkError(RemoteNetworkError::Kind::ServerError, reply.status, QString::fromUtf8(reply.body.left(200)));
  }
  if (!reply.downloadedFile.isEmpty() && !out.result) QFile::remove(reply.downloadedFile);
  response(out);
}

void HttpRoutes::listFolder(const QString& path, RemoteResponse<RemoteListResult> response) {
  const QByteArray json = wire::asciiJSON({{"path", path}, {"recursive", false}});
  postJSON(QStringLiteral("/2/files/list_folder"), json,
           [response](const Reply& reply, std::optional<RemoteNetworkError> failure) {
             auto parse = [](const Reply& r) { return wire::parseListResult(r.body); };
             answer<RemoteListResult>(reply, failure, int(wire::RouteKind::Lookup), parse, response);
           });
}

void HttpRoutes::listFolderContinue(const QString& cursor, RemoteResponse<RemoteListResult> response) {
  postJSON(QStringLiteral("/2/files/list_folder/continue"), wire::asciiJSON({{"cursor", cursor}}),
           [response](const Reply& reply, std::optional<RemoteNetworkError> failure) {
             auto parse = [](const Reply& r) { return wire::parseListResult(r.body); };
             answer<RemoteListResult>(reply, failure, int(wire::RouteKind::Other), parse, response);
           });
}

void HttpRoutes::getMetadata(const QString& path, RemoteResponse<RemoteMetadata> response) {
  postJSON(QStringLiteral("/2/files/get_metadata"), wire::asciiJSON({{"path", path}}),
           [response](const Reply& reply, std::optional<RemoteNetworkError> failure) {
             auto parse = [](const Reply& r) { return wire::parseMetadata(r.body); };
             answer<RemoteMetadata>(reply, failure, int(wire::RouteKind::Lookup), parse, response);
           });
}

void HttpRoutes::delete_(const QString& path, const QString& parentRev, RemoteResponse<RemoteMetadata> response) {
  QJsonObject arg{{"path", path}};
  if (!parentRev.isEmpty()) arg.insert(QStringLiteral("parent_rev"), parentRev);
  postJSON(QStringLiteral("/2/files/delete_v2"), wire::asciiJSON(arg),
           [response](const Reply& reply, std::optional<RemoteNetworkError> failure) {
             auto parse = [](const Reply& r) { return wire::parseDeleteResult(r.body); };
             answer<RemoteMetadata>(reply, failure, int(wire::RouteKind::Delete), parse, response);
           });
}

void HttpRoutes::uploadUrl(const QString& path, const RemoteWriteMode& mode, bool autorename,
                           const QDateTime& clientModified, bool mute, const QString& inputPath,
                           RemoteResponse<RemoteMetadata> response) {
  QJsonObject arg{{"path", path}, {"autorename", autorename}, {"mute", mute}};
  if (mode.isAdd())
    arg.insert(QStringLiteral("mode"), QStringLiteral("add"));
  else
    arg.insert(QStringLiteral("mode"), QJsonObject{{".tag", "update"}, {"update", mode.updateRev}});
  if (clientModified.isValid())
    arg.insert(QStringLiteral("client_modified"), clientModified.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ")));
  auto call = std::make_shared<Call>();
  call->url = mEndpoints.contentBase + QStringLiteral("/2/files/upload");
  call->headers = {{kArgHeader, wire::asciiJSON(arg).toStdString()}, {"Content-Type", "application/octet-stream"}};
  call->bodyFile = inputPath;
  perform(std::move(call), 1, false,
          [response](const Reply& reply, std::optional<RemoteNetworkError> failure) {
            auto parse = [](const Reply& r) { return wire::parseMetadata(r.body); };
            answer<RemoteMetadata>(reply, failure, int(wire::RouteKind::Upload), parse, response);
          });
}

void HttpRoutes::downloadUrl(const QString& path, bool /*overwrite*/, const QString& destination,
                             RemoteResponse<RemoteMetadata> response) {
  auto call = std::make_shared<Call>();
  call->url = mEndpoints.contentBase + QStringLiteral("/2/files/download");
  call->headers = {{kArgHeader, wire::asciiJSON({{"path", path}}).toStdString()}};
  call->downloadTo = destination;
  perform(std::move(call), 1, false,
          [response, destination](const Reply& reply, std::optional<RemoteNetworkError> failure) {
            auto parse = [destination](const Reply& r) -> std::optional<RemoteMetadata> {
              const auto header = headerValue(r.headers, kResultHeader);
              if (!header || r.downloadedFile.isEmpty()) return std::nullopt;
              auto meta = wire::parseMetadata(QByteArray::fromStdString(*header));
              if (!meta || meta->kind != RemoteMetadata::Kind::File) return std::nullopt;
              // The whole file, or none: the temporary one takes the destination's name.
              if (::rename(QFile::encodeName(r.downloadedFile).constData(), QFile::encodeName(destination).constData()) != 0)
                return std::nullopt;
              return meta;
            };
            answer<RemoteMetadata>(reply, failure, int(wire::RouteKind::Lookup), parse, response);
          });
}

}  // namespace platform
