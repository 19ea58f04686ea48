#pragma once
// A FakeRemote served over loopback HTTPS in the service's wire format, with a throw-away
// certificate authority, for tests and benchmarks of the HTTPS routes and the sign-in. Each
// request is answered by the FakeRemote on the main queue (the test keeps the main loop
// running); its scripted faults become what the service would send: 401, 429, 503 or a
// dropped connection. Access tokens are checked; "/oauth2/token" refreshes them and
// exchanges the one sign-in code the test names.

#include "fake_remote.h"
#include "https_test_server.h"

#include "platform/cloud/http_routes.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

namespace testsupport {

class FakeRemoteServer {
 public:
  explicit FakeRemoteServer(std::shared_ptr<FakeRemote> remote);
  ~FakeRemoteServer();

  // The server's base addresses and its authority as the only trusted root.
  platform::DropboxEndpoints endpoints() const;
  HttpsTestServer& https() { return *mServer; }
  const TestCertificateAuthority& authority() const { return mAuthority; }

  // Credentials the server accepts.
  QString accessToken() const;
  QString refreshToken() const { return QStringLiteral("refresh-1"); }
  // Refuses the current access token from now on; a refresh issues a new one.
  void expireAccessToken();
  int refreshes() const { return mRefreshes; }
  // The sign-in code that the token endpoint exchanges, with the PKCE challenge it must match.
  void expectSignInCode(const QString& code, const QString& challenge);
  // Answers to 429 carry this Retry-After value (empty: none).
  void setRetryAfter(const std::string& seconds) { mRetryAfter = seconds; }
  // The path of the last upload as the service read it from its argument header.
  QString lastUploadPath;

 private:
  HttpsTestResponse handle(const HttpsTestRequest& request);
  // Main thread: asks the folder and replies once it answered.
  void serve(const HttpsTestRequest& request, std::function<void(HttpsTestResponse)> reply);
  template <class Result>
  HttpsTestResponse wireAnswer(const platform::RemoteAnswer<Result>& answer, const char* route,
                               const std::function<HttpsTestResponse(const Result&)>& ok);
  HttpsTestResponse token(const HttpsTestRequest& request);

  std::shared_ptr<FakeRemote> mRemote;
  TestCertificateAuthority mAuthority{"Orrery Fake Remote CA"};
  std::unique_ptr<HttpsTestServer> mServer;
  mutable std::mutex mMutex;  // guards the tokens and the expected code
  QString mAccessToken = QStringLiteral("access-1");
  int mTokenCounter = 1;
  QString mCode;
  QString mChallenge;
  std::atomic<int> mRefreshes{0};
  std::string mRetryAfter;
  std::shared_ptr<std::atomic<bool>> mAlive = std::make_shared<std::atomic<bool>>(true);
};

}  // namespace testsupport
