#pragma once
// A loopback HTTPS server for tests and benchmarks. It listens on a free port of
// 127.0.0.1 only, answers from a script (status, headers, body, a delay, or a dropped
// connection), records every request, and stops by itself: when destroyed, after its
// lifetime, or after its request budget.

#include "https_test_ca.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

typedef struct ssl_ctx_st SSL_CTX;

namespace testsupport {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

struct HttpsTestRequest {
  std::string method;
  std::string target;  // path and query as sent
  std::string path;
  std::string query;
  HeaderList headers;
  std::string body;

  // First header of that name, compared without regard to case.
  std::optional<std::string> header(const std::string& name) const;
};

struct HttpsTestResponse {
  int status = 200;
  HeaderList headers;
  std::string body;
  // Waits this long before answering (the wait ends early when the server stops).
  std::chrono::milliseconds delay{0};
  // Closes the connection after reading the request, without answering.
  bool drop = false;
  // Answers only once the test calls release() (or the server stops): a stalled server
  // whose stall ends on the test's signal rather than after real time.
  bool held = false;
  // Announces the whole body but sends only this many bytes of it, then closes the
  // connection: a transfer cut off midway.
  std::optional<std::size_t> cutAfter;

  static HttpsTestResponse ok(std::string body, std::string contentType = "application/json");
  static HttpsTestResponse withStatus(int code);
  static HttpsTestResponse retryAfter(int code, const std::string& seconds);
  static HttpsTestResponse dropped();
  static HttpsTestResponse slow(std::chrono::milliseconds delay, HttpsTestResponse then);
  static HttpsTestResponse heldUntilReleased(HttpsTestResponse then);
};

class HttpsTestServer {
 public:
  struct Limits {
    std::chrono::seconds lifetime{300};
    std::size_t maxRequests = 200000;
    std::size_t maxConnections = 64;
    std::chrono::seconds idleTimeout{5};
  };

  // Serves with a certificate for 127.0.0.1 issued by `authority`.
  explicit HttpsTestServer(const TestCertificateAuthority& authority);
  HttpsTestServer(const TestCertificateAuthority& authority, Limits limits);
  ~HttpsTestServer();
  HttpsTestServer(const HttpsTestServer&) = delete;
  HttpsTestServer& operator=(const HttpsTestServer&) = delete;

  std::uint16_t port() const { return mPort; }
  // "https://127.0.0.1:<port>"
  std::string origin() const;

  // Requests whose path starts with `pathPrefix` take the scripted answers in order; the
  // last one repeats. The longest matching prefix wins. Unscripted paths get 404.
  void script(const std::string& pathPrefix, std::vector<HttpsTestResponse> answers);
  // Replaces the script with a handler that answers every request.
  void setHandler(std::function<HttpsTestResponse(const HttpsTestRequest&)> handler);

  std::vector<HttpsTestRequest> requests() const;
  std::size_t requestCount() const;
  std::size_t requestCount(const std::string& pathPrefix) const;
  // Waits until at least `count` requests arrived; false after `timeout`.
  bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;
  // TLS handshakes completed; a refused certificate shows as a connection without request.
  std::size_t connectionCount() const;

  // Lets every held answer, present and future, go out.
  void release();
  void stop();

 private:
  void acceptLoop();
  void serveConnection(int fd);
  // Shared, not copied: a scripted body of many megabytes costs nothing per request.
  std::shared_ptr<const HttpsTestResponse> answerFor(const HttpsTestRequest& request);
  bool waitUnlessStopping(std::chrono::milliseconds delay);
  bool waitForRelease();

  Limits mLimits;
  std::shared_ptr<TestIdentity> mIdentity;
  SSL_CTX* mContext = nullptr;
  int mListenFd = -1;
  std::uint16_t mPort = 0;
  std::chrono::steady_clock::time_point mDeadline;

  mutable std::mutex mMutex;
  mutable std::condition_variable mCond;
  bool mStopping = false;
  bool mReleased = false;
  std::map<std::string, std::deque<std::shared_ptr<const HttpsTestResponse>>> mScripts;
  std::function<HttpsTestResponse(const HttpsTestRequest&)> mHandler;
  std::vector<HttpsTestRequest> mRequests;
  std::size_t mConnections = 0;
  std::size_t mLiveConnections = 0;
  std::vector<int> mOpenFds;
  std::thread mAcceptThread;
};

}  // namespace testsupport
