#include "fake_remote_server.h"

#include "platform/core/dispatch.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QUrlQuery>

#include <chrono>
#include <future>

namespace testsupport {

using platform::RemoteAnswer;
using platform::RemoteMetadata;
using platform::RemoteNetworkError;
using platform::RemoteRouteError;

namespace {

QJsonObject object(const std::string& text) {
  return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
}

std::string json(const QJsonObject& o) { return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString(); }

QJsonObject metadataJSON(const RemoteMetadata& m) {
  const char* tag = m.kind == RemoteMetadata::Kind::File     ? "file"
                    : m.kind == RemoteMetadata::Kind::Folder ? "folder"
                                                             : "deleted";
  QJsonObject o{{".tag", tag}, {"path_lower", m.pathLower}, {"name", m.pathLower.section('/', -1)}};
  if (m.kind == RemoteMetadata::Kind::File) o.insert("rev", m.rev);
  return o;
}

HttpsTestResponse errorAnswer(const RemoteRouteError& e, const char* route) {
  const QString inner = e.tag == 1 ? (e.isPathWrite() || QLatin1String(route) == QLatin1String("upload")
                                          ? QStringLiteral("conflict")
                                          : QStringLiteral("not_found"))
                                   : QStringLiteral("other");
  QJsonObject error;
  switch (e.kind) {
    case RemoteRouteError::Kind::Path:
      if (QLatin1String(route) == QLatin1String("upload"))
        error = {{".tag", "path"}, {"path", QJsonObject{{"reason", QJsonObject{{".tag", inner}}}}}};
      else
        error = {{".tag", "path"}, {"path", QJsonObject{{".tag", inner}}}};
      break;
    case RemoteRouteError::Kind::PathLookup: error = {{".tag", "path_lookup"}, {"path_lookup", QJsonObject{{".tag", inner}}}}; break;
    case RemoteRouteError::Kind::PathWrite: error = {{".tag", "path_write"}, {"path_write", QJsonObject{{".tag", inner}}}}; break;
    case RemoteRouteError::Kind::Other: error = {{".tag", "reset"}}; break;
  }
  HttpsTestResponse r;
  r.status = 409;
  r.body = json({{"error_summary", e.summary}, {"error", error}});
  r.headers = {{"Content-Type", "application/json"}};
  return r;
}

}  // namespace

FakeRemoteServer::FakeRemoteServer(std::shared_ptr<FakeRemote> remote) : mRemote(std::move(remote)) {
  mServer = std::make_unique<HttpsTestServer>(mAuthority);
  mServer->setHandler([this](const HttpsTestRequest& request) { return handle(request); });
}

FakeRemoteServer::~FakeRemoteServer() {
  *mAlive = false;
  mServer->stop();
}

platform::DropboxEndpoints FakeRemoteServer::endpoints() const {
  platform::DropboxEndpoints e;
  const QString origin = QString::fromStdString(mServer->origin());
  e.apiBase = origin;
  e.contentBase = origin;
  e.authorizeURL = origin + "/oauth2/authorize";
  const auto der = mAuthority.rootDER();
  e.anchorsDER = {QByteArray(reinterpret_cast<const char*>(der.data()), qsizetype(der.size()))};
  return e;
}

QString FakeRemoteServer::accessToken() const {
  std::lock_guard lock(mMutex);
  return mAccessToken;
}

void FakeRemoteServer::expireAccessToken() {
  std::lock_guard lock(mMutex);
  mAccessToken = QStringLiteral("access-%1").arg(++mTokenCounter);
}

void FakeRemoteServer::expectSignInCode(const QString& code, const QString& challenge) {
  std::lock_guard lock(mMutex);
  mCode = code;
  mChallenge = challenge;
}

HttpsTestResponse FakeRemoteServer::token(const HttpsTestRequest& request) {
  const QUrlQuery form(QString::fromStdString(request.body));
  const QString grant = form.queryItemValue("grant_type", QUrl::FullyDecoded);
  std::lock_guard lock(mMutex);
  if (grant == "refresh_token" && form.queryItemValue("refresh_token", QUrl::FullyDecoded) == refreshToken()) {
    ++mRefreshes;
    return HttpsTestResponse::ok(json({{"access_token", mAccessToken}, {"token_type", "bearer"}, {"expires_in", 14400}}));
  }
  if (grant == "authorization_code" && !mCode.isEmpty() && form.queryItemValue("code", QUrl::FullyDecoded) == mCode) {
    const QByteArray verifier = form.queryItemValue("code_verifier", QUrl::FullyDecoded).toLatin1();
    const QString challenge = QString::fromLatin1(QCryptographicHash::hash(verifier, QCryptographicHash::Sha256)
                                                      .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
    if (challenge == mChallenge) {
      mCode.clear();
      return HttpsTestResponse::ok(json({{"access_token", mAccessToken}, {"refresh_token", refreshToken()}, {"token_type", "bearer"}}));
    }
  }
  HttpsTestResponse r;
  r.status = 400;
  r.body = json({{"error", "invalid_grant"}});
  return r;
}

HttpsTestResponse FakeRemoteServer::handle(const HttpsTestRequest& request) {
  if (request.path == "/oauth2/token") return token(request);
  if (request.header("Authorization").value_or("") != "Bearer " + accessToken().toStdString()) {
    HttpsTestResponse r;
    r.status = 401;
    r.body = json({{"error_summary", "expired_access_token/"}, {"error", QJsonObject{{".tag", "expired_access_token"}}}});
    return r;
  }
  // The folder belongs to the main thread: the request is answered there.
  auto promise = std::make_shared<std::promise<HttpsTestResponse>>();
  auto future = promise->get_future();
  platform::mainQueue().async([this, alive = mAlive, request, promise] {
    if (!*alive) return promise->set_value(HttpsTestResponse::withStatus(503));
    serve(request, [promise](HttpsTestResponse r) { promise->set_value(std::move(r)); });
  });
  if (future.wait_for(std::chrono::seconds(30)) != std::future_status::ready) return HttpsTestResponse::withStatus(503);
  return future.get();
}

template <class Result>
HttpsTestResponse FakeRemoteServer::wireAnswer(const RemoteAnswer<Result>& answer, const char* route,
                                               const std::function<HttpsTestResponse(const Result&)>& ok) {
  if (answer.result) return ok(*answer.result);
  if (answer.routeError) return errorAnswer(*answer.routeError, route);
  const RemoteNetworkError e = answer.networkError.value_or(RemoteNetworkError{});
  HttpsTestResponse r;
  switch (e.kind) {
    case RemoteNetworkError::Kind::Auth: r.status = 401; break;
    case RemoteNetworkError::Kind::RateLimited:
      r.status = 429;
      if (!mRetryAfter.empty()) r.headers.push_back({"Retry-After", mRetryAfter});
      break;
    case RemoteNetworkError::Kind::ServerError: r.status = 503; break;
    case RemoteNetworkError::Kind::NoConnection:
    case RemoteNetworkError::Kind::TimedOut: return HttpsTestResponse::dropped();
  }
  r.body = json({{"error_summary", e.summary}});
  return r;
}

void FakeRemoteServer::serve(const HttpsTestRequest& request, std::function<void(HttpsTestResponse)> reply) {
  const QJsonObject body = object(request.body);
  const QJsonObject arg = object(request.header("Dropbox-API-Arg").value_or("{}"));
  const std::string& path = request.path;
  auto metadataReply = [this, reply](const char* route) {
    return [this, reply, route](const RemoteAnswer<RemoteMetadata>& a) {
      reply(wireAnswer<RemoteMetadata>(a, route, [](const RemoteMetadata& m) {
        return HttpsTestResponse::ok(json(metadataJSON(m)));
      }));
    };
  };
  auto listReply = [this, reply](const RemoteAnswer<platform::RemoteListResult>& a) {
    reply(wireAnswer<platform::RemoteListResult>(a, "list", [](const platform::RemoteListResult& l) {
      QJsonArray entries;
      for (const auto& m : l.entries) entries.append(metadataJSON(m));
      return HttpsTestResponse::ok(json({{"entries", entries}, {"cursor", l.cursor}, {"has_more", l.hasMore}}));
    }));
  };
  if (path == "/2/files/list_folder") {
    mRemote->listFolder(body.value("path").toString(), listReply);
  } else if (path == "/2/files/list_folder/continue") {
    mRemote->listFolderContinue(body.value("cursor").toString(), listReply);
  } else if (path == "/2/files/get_metadata") {
    mRemote->getMetadata(body.value("path").toString(), metadataReply("lookup"));
  } else if (path == "/2/files/delete_v2") {
    mRemote->delete_(body.value("path").toString(), body.value("parent_rev").toString(),
                     [this, reply](const RemoteAnswer<RemoteMetadata>& a) {
                       reply(wireAnswer<RemoteMetadata>(a, "delete", [](const RemoteMetadata& m) {
                         return HttpsTestResponse::ok(json({{"metadata", metadataJSON(m)}}));
                       }));
                     });
  } else if (path == "/2/files/upload") {
    auto dir = std::make_shared<QTemporaryDir>();
    const QString input = dir->filePath("body");
    QFile file(input);
    file.open(QIODevice::WriteOnly);
    file.write(QByteArray::fromStdString(request.body));
    file.close();
    const QJsonValue mode = arg.value("mode");
    const auto writeMode = mode.isObject() ? platform::RemoteWriteMode::update(mode.toObject().value("update").toString())
                                           : platform::RemoteWriteMode::add();
    lastUploadPath = arg.value("path").toString();
    mRemote->uploadUrl(arg.value("path").toString(), writeMode, false, {}, true, input,
                       [dir, respond = metadataReply("upload")](const RemoteAnswer<RemoteMetadata>& a) { respond(a); });
  } else if (path == "/2/files/download") {
    auto dir = std::make_shared<QTemporaryDir>();
    const QString out = dir->filePath("content");
    mRemote->downloadUrl(arg.value("path").toString(), true, out, [this, dir, out, reply](const RemoteAnswer<RemoteMetadata>& a) {
      reply(wireAnswer<RemoteMetadata>(a, "lookup", [out](const RemoteMetadata& m) {
        QFile file(out);
        file.open(QIODevice::ReadOnly);
        HttpsTestResponse r = HttpsTestResponse::ok(file.readAll().toStdString(), "application/octet-stream");
        r.headers.push_back({"Dropbox-API-Result", json(metadataJSON(m))});
        return r;
      }));
    });
  } else {
    reply(HttpsTestResponse::withStatus(404));
  }
}

}  // namespace testsupport
