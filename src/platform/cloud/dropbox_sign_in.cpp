// Sign-in to the cloud service in the system browser (authorisation code with PKCE), the kept
// refresh token and the client made from it.

#include "platform/cloud/dropbox_wire.h"
#include "platform/cloud/http_routes.h"
#include "platform/cloud/remote_routes.h"
#include "platform/core/atomic_file.h"
#include "platform/core/dispatch.h"
#include "platform/net/curl_transfer_loop.h"
#include "platform/services/program_log.h"
#include "platform/services/qt_regular_file.h"
#include "platform/services/standard_folders.h"
#include "platform/services/url_opener.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QUrlQuery>

#include <cerrno>
#include <cstring>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

struct Pending {
  QString state;
  QString verifier;
};

struct SignIn {
  QString appKey;
  DropboxEndpoints endpoints;
  std::optional<Pending> pending;
};

SignIn& signIn() {
  static SignIn s;
  return s;
}

void log(const QString& line) { qCWarning(platform::programLog, "%s", qPrintable(line)); }

QString randomToken(int bytes) {
  QByteArray raw(bytes, Qt::Uninitialized);
  QRandomGenerator::system()->generate(reinterpret_cast<quint32*>(raw.data()),
                                       reinterpret_cast<quint32*>(raw.data() + (bytes / 4) * 4));
  return QString::fromLatin1(raw.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QString tokenFilePath() { return QDir(configFolder()).filePath(QLatin1String(DropboxClientsManager::kTokenFileName)); }

// Readable by the user only from its first byte, and complete or not there at all. Empty when
// kept, else why not.
QString writeTokenFile(const QString& refreshToken) {
  const QByteArray data = QJsonDocument(QJsonObject{{"refresh_token", refreshToken}}).toJson(QJsonDocument::Compact);
  QDir().mkpath(configFolder());
  AtomicWriteOptions options;
  options.mode = S_IRUSR | S_IWUSR;
  options.replaceLink = true;  // a planted link must not carry the token elsewhere
  AtomicWriteFailure failure;
  if (writeFileAtomically(QFile::encodeName(tokenFilePath()).toStdString(),
                          std::string_view(data.constData(), size_t(data.size())), options,
                          &failure) == AtomicWriteResult::Written)
    return {};
  const QString reason = QString::fromLocal8Bit(std::strerror(failure.error));
  log(QStringLiteral("Dropbox: cannot keep the sign-in in %1: %2").arg(tokenFilePath(), QString::fromStdString(failure.text())));
  return reason;
}

QString readTokenFile() {
  QFile file;
  if (openRegularFile(file, tokenFilePath()) != RegularFileRead::Read) return {};
  const QByteArray data = file.read(64 * 1024);
  return QJsonDocument::fromJson(data).object().value(QStringLiteral("refresh_token")).toString();
}

void installClient(const QString& refreshToken, const QString& accessToken) {
  auto& s = signIn();
  auto routes = HttpRoutes::create(s.endpoints, DropboxCredentials{s.appKey, refreshToken, accessToken});
  DropboxClientsManager::setAuthorizedClient(std::make_shared<DropboxClient>(std::move(routes)));
}

void answer(std::function<void(std::shared_ptr<DropboxOAuthResult>)> completion,
            std::shared_ptr<DropboxOAuthResult> result) {
  mainQueue().async([completion = std::move(completion), result = std::move(result)] {
    if (completion) completion(result);
  });
}

}  // namespace

QString DropboxClientsManager::redirectURI() { return QStringLiteral("db-%1://2/token").arg(signIn().appKey); }

DropboxEndpoints DropboxClientsManager::setEndpoints(const DropboxEndpoints& endpoints) {
  return std::exchange(signIn().endpoints, endpoints);
}

DropboxEndpoints DropboxClientsManager::endpoints() { return signIn().endpoints; }

void DropboxClientsManager::setupWithAppKeyDesktop(const QString& appKey) {
  signIn().appKey = appKey;
  const QString refreshToken = readTokenFile();
  if (!refreshToken.isEmpty()) installClient(refreshToken, QString());
}

bool DropboxClientsManager::authorizeInBrowser() {
  auto& s = signIn();
  if (s.appKey.isEmpty()) return false;
  const QString verifier = randomToken(48);
  const QString challenge = QString::fromLatin1(
      QCryptographicHash::hash(verifier.toLatin1(), QCryptographicHash::Sha256)
          .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
  // A new sign-in replaces any earlier one: only the latest state is accepted.
  s.pending = Pending{randomToken(24), verifier};
  QUrl url(s.endpoints.authorizeURL);
  QUrlQuery query;
  query.addQueryItem(QStringLiteral("client_id"), s.appKey);
  query.addQueryItem(QStringLiteral("response_type"), QStringLiteral("code"));
  query.addQueryItem(QStringLiteral("code_challenge"), challenge);
  query.addQueryItem(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
  query.addQueryItem(QStringLiteral("token_access_type"), QStringLiteral("offline"));
  query.addQueryItem(QStringLiteral("state"), s.pending->state);
  query.addQueryItem(QStringLiteral("redirect_uri"), redirectURI());
  url.setQuery(query);
  return openURL(url);
}

void DropboxClientsManager::handleRedirectURL(const QUrl& url,
                                              std::function<void(std::shared_ptr<DropboxOAuthResult>)> completion) {
  auto& s = signIn();
  const bool isRedirect = !s.appKey.isEmpty() && url.scheme().compare(QStringLiteral("db-") + s.appKey, Qt::CaseInsensitive) == 0 &&
                          // QUrl reads the host "2" as an IPv4 number.
                          (url.host() == QLatin1String("2") || url.host() == QLatin1String("0.0.0.2")) &&
                          url.path() == QLatin1String("/token");
  if (!isRedirect) return answer(std::move(completion), nullptr);
  const QUrlQuery query(url);
  const QString state = query.queryItemValue(QStringLiteral("state"), QUrl::FullyDecoded);
  if (!s.pending || state.isEmpty() || state != s.pending->state) {
    // Any local program can launch us with such a URL: it must not end the user's sign-in.
    log(QStringLiteral("Dropbox: a sign-in redirect with a state we did not send was ignored"));
    return answer(std::move(completion), nullptr);
  }
  const QString verifier = s.pending->verifier;
  s.pending.reset();
  using Kind = DropboxOAuthResult::Kind;
  const QString error = query.queryItemValue(QStringLiteral("error"), QUrl::FullyDecoded);
  if (error == QLatin1String("access_denied"))
    return answer(std::move(completion), std::make_shared<DropboxOAuthResult>(Kind::Cancel, error));
  const QString code = query.queryItemValue(QStringLiteral("code"), QUrl::FullyDecoded);
  if (!error.isEmpty() || code.isEmpty()) {
    const QString description = query.queryItemValue(QStringLiteral("error_description"), QUrl::FullyDecoded);
    return answer(std::move(completion),
                  std::make_shared<DropboxOAuthResult>(Kind::Error, error.isEmpty() ? QStringLiteral("no code") : error + ": " + description));
  }
  // The exchange's loop lives as long as its answer is awaited, not until the process ends.
  auto loop = CurlTransferLoop::create("orrery.dropbox.signin");
  HttpRoutes::postForm(loop, s.endpoints, s.endpoints.apiBase + QStringLiteral("/oauth2/token"),
                       {{"code", code},
                        {"grant_type", "authorization_code"},
                        {"client_id", s.appKey},
                        {"code_verifier", verifier},
                        {"redirect_uri", redirectURI()}},
                       [completion, loop](const HttpRoutes::Reply& reply) mutable {
                         loop.reset();
                         const auto token = reply.error || reply.status != 200
                                                ? std::nullopt
                                                : dropboxwire::parseTokenAnswer(reply.body);
                         if (!token || token->refreshToken.isEmpty()) {
                           const QString why = reply.error ? QString::fromStdString(reply.error->description)
                                                           : QStringLiteral("HTTP %1").arg(reply.status);
                           log(QStringLiteral("Dropbox: the sign-in code could not be exchanged: %1").arg(why));
                           if (completion) completion(std::make_shared<DropboxOAuthResult>(Kind::Error, why));
                           return;
                         }
                         const QString notKept = writeTokenFile(token->refreshToken);
                         installClient(token->refreshToken, token->accessToken);
                         const QString warning =
                             notKept.isEmpty()
                                 ? QString()
                                 : QStringLiteral("You are signed in to Dropbox, but the sign-in could not be kept "
                                                  "(%1: %2). You will have to sign in again at the next start.")
                                       .arg(tokenFilePath(), notKept);
                         if (completion) completion(std::make_shared<DropboxOAuthResult>(Kind::Success, warning));
                       });
}

void DropboxClientsManager::signOut() {
  QFile::remove(tokenFilePath());
  signIn().pending.reset();
  setAuthorizedClient(nullptr);
}

}  // namespace platform
