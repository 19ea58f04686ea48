#include "platform/cloud/http_routes.h"
#include "platform/cloud/remote_routes.h"

#include "fake_remote_server.h"
#include "platform/services/standard_folders.h"
#include "platform/services/url_opener.h"
#include "route_wait.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace platform;
using testsupport::FakeRemote;
using testsupport::FakeRemoteServer;

namespace {

constexpr char kAppKey[] = "testappkey12345";

class SignInTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mPreviousEndpoints = DropboxClientsManager::setEndpoints(server.endpoints());
    mPreviousOpener = setURLOpener([this](const QUrl& url) {
      opened.push_back(url);
      return true;
    });
    mPreviousClient = DropboxClientsManager::setAuthorizedClient(nullptr);
    DropboxClientsManager::setupWithAppKeyDesktop(kAppKey);
  }
  void TearDown() override {
    DropboxClientsManager::signOut();
    DropboxClientsManager::setAuthorizedClient(mPreviousClient);
    setURLOpener(mPreviousOpener);
    DropboxClientsManager::setEndpoints(mPreviousEndpoints);
  }

  // Starts a sign-in; the server will exchange `code` for the PKCE challenge it was sent.
  QString startSignIn(const QString& code) {
    EXPECT_TRUE(DropboxClientsManager::authorizeInBrowser());
    const QUrlQuery query(opened.back());
    server.expectSignInCode(code, query.queryItemValue("code_challenge"));
    return query.queryItemValue("state");
  }
  std::optional<std::shared_ptr<DropboxOAuthResult>> redirect(const QString& query) {
    std::optional<std::shared_ptr<DropboxOAuthResult>> result;
    DropboxClientsManager::handleRedirectURL(QUrl(QString("db-%1://2/token?%2").arg(kAppKey, query)),
                                             [&](std::shared_ptr<DropboxOAuthResult> r) { result = r; });
    EXPECT_TRUE(testsupport::waitFor(main, [&] { return result.has_value(); }));
    return result;
  }
  QString tokenFile() const { return QDir(configFolder()).filePath(DropboxClientsManager::kTokenFileName); }

  orrery::testing::VirtualMainQueue main;
  std::shared_ptr<FakeRemote> remote = FakeRemote::create();
  FakeRemoteServer server{remote};
  std::vector<QUrl> opened;

 private:
  DropboxEndpoints mPreviousEndpoints;
  URLOpener mPreviousOpener;
  std::shared_ptr<DropboxClient> mPreviousClient;
};

}  // namespace

TEST_F(SignInTest, BrowserSignInWithPkceKeepsTheTokenPrivateAndInstallsAWorkingClient) {
  const QString state = startSignIn("code-1");
  const QUrlQuery query(opened.back());
  EXPECT_EQ(query.queryItemValue("code_challenge_method"), "S256");
  EXPECT_EQ(query.queryItemValue("token_access_type"), "offline");
  EXPECT_EQ(query.queryItemValue("redirect_uri", QUrl::FullyDecoded), QString("db-%1://2/token").arg(kAppKey));
  EXPECT_EQ(query.queryItemValue("client_id"), kAppKey);
  EXPECT_GE(state.size(), 16);

  auto result = redirect("code=code-1&state=" + state);
  ASSERT_TRUE(result && *result);
  EXPECT_TRUE((*result)->isSuccess());
  EXPECT_TRUE((*result)->description().isEmpty()) << "kept: nothing to warn of";
  struct stat info{};
  ASSERT_EQ(::stat(QFile::encodeName(tokenFile()).constData(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  QFile file(tokenFile());
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_TRUE(file.readAll().contains(server.refreshToken().toUtf8()));

  // The installed client reaches the folder.
  remote->peerWrite("/a.orrx", "x");
  auto client = DropboxClientsManager::authorizedClient();
  ASSERT_TRUE(client);
  std::optional<RemoteAnswer<RemoteMetadata>> got;
  client->filesRoutes()->getMetadata("/a.orrx", [&](const auto& a) { got = a; });
  ASSERT_TRUE(testsupport::waitFor(main, [&] { return got.has_value(); }));
  EXPECT_TRUE(got->result);

  // The state was for one use: the same redirect again is no sign-in.
  auto replay = redirect("code=code-1&state=" + state);
  ASSERT_TRUE(replay);
  EXPECT_FALSE(*replay);

  // A later start finds the kept token.
  DropboxClientsManager::setAuthorizedClient(nullptr);
  DropboxClientsManager::setupWithAppKeyDesktop(kAppKey);
  EXPECT_TRUE(DropboxClientsManager::authorizedClient());
}

TEST_F(SignInTest, ASignInThatCannotBeKeptSaysSo) {
  // Something else holds the token file's name: the token cannot be written.
  ASSERT_TRUE(QDir().mkpath(tokenFile()));
  const QString state = startSignIn("code-5");
  auto result = redirect("code=code-5&state=" + state);
  ASSERT_TRUE(result && *result);
  EXPECT_TRUE((*result)->isSuccess()) << "signed in for this run";
  EXPECT_TRUE(DropboxClientsManager::authorizedClient());
  EXPECT_TRUE((*result)->description().contains(tokenFile())) << (*result)->description().toStdString();
  EXPECT_TRUE((*result)->description().contains("sign in again")) << (*result)->description().toStdString();
  QDir(tokenFile()).removeRecursively();
}

TEST_F(SignInTest, ForgedStateIsIgnoredAndLeavesThePendingSignInAlone) {
  const QString state = startSignIn("code-2");
  auto forged = redirect("code=evil&state=not-ours");
  ASSERT_TRUE(forged);
  EXPECT_FALSE(*forged) << "no answer: the user's choice must not be withdrawn";
  EXPECT_FALSE(DropboxClientsManager::authorizedClient());
  auto denied = redirect("error=access_denied&state=forged");
  ASSERT_TRUE(denied);
  EXPECT_FALSE(*denied);
  auto real = redirect("code=code-2&state=" + state);
  ASSERT_TRUE(real && *real);
  EXPECT_TRUE((*real)->isSuccess());

  std::optional<std::shared_ptr<DropboxOAuthResult>> other;
  DropboxClientsManager::handleRedirectURL(QUrl("https://example.com/?code=1"),
                                           [&](std::shared_ptr<DropboxOAuthResult> r) { other = r; });
  ASSERT_TRUE(testsupport::waitFor(main, [&] { return other.has_value(); }));
  EXPECT_FALSE(*other) << "not a sign-in redirect";
}

TEST_F(SignInTest, CancelAndFailedExchangeAreReportedAndKeepNoToken) {
  QString state = startSignIn("code-3");
  auto cancel = redirect("error=access_denied&state=" + state);
  ASSERT_TRUE(cancel && *cancel);
  EXPECT_TRUE((*cancel)->isCancel());

  state = startSignIn("code-4");
  auto failed = redirect("code=wrong-code&state=" + state);
  ASSERT_TRUE(failed && *failed);
  EXPECT_TRUE((*failed)->isError());

  state = startSignIn("code-5");
  auto other = redirect("error=server_error&error_description=down&state=" + state);
  ASSERT_TRUE(other && *other);
  EXPECT_TRUE((*other)->isError());
  EXPECT_FALSE(QFileInfo::exists(tokenFile()));
  EXPECT_FALSE(DropboxClientsManager::authorizedClient());
}
