#include "https_test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <strings.h>

namespace testsupport {

namespace {

std::string reasonPhrase(int status) {
  switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 408: return "Request Timeout";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
  }
}

bool iequals(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  size_t e = s.find_last_not_of(" \t\r");
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// Reads one request from the TLS stream; `buffer` keeps bytes of a following request.
std::optional<HttpsTestRequest> readRequest(SSL* ssl, std::string& buffer) {
  char chunk[16384];
  size_t headerEnd;
  while ((headerEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
    if (buffer.size() > (1u << 20)) return std::nullopt;
    int n = SSL_read(ssl, chunk, sizeof chunk);
    if (n <= 0) return std::nullopt;
    buffer.append(chunk, static_cast<size_t>(n));
  }
  HttpsTestRequest request;
  std::string head = buffer.substr(0, headerEnd);
  buffer.erase(0, headerEnd + 4);
  size_t lineEnd = head.find("\r\n");
  std::string requestLine = head.substr(0, lineEnd);
  size_t sp1 = requestLine.find(' ');
  size_t sp2 = requestLine.rfind(' ');
  if (sp1 == std::string::npos || sp2 <= sp1) return std::nullopt;
  request.method = requestLine.substr(0, sp1);
  request.target = requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
  size_t q = request.target.find('?');
  request.path = request.target.substr(0, q);
  if (q != std::string::npos) request.query = request.target.substr(q + 1);
  size_t pos = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
  while (pos < head.size()) {
    size_t next = head.find("\r\n", pos);
    if (next == std::string::npos) next = head.size();
    std::string line = head.substr(pos, next - pos);
    size_t colon = line.find(':');
    if (colon != std::string::npos) request.headers.emplace_back(line.substr(0, colon), trim(line.substr(colon + 1)));
    pos = next + 2;
  }
  size_t length = 0;
  if (auto value = request.header("Content-Length")) length = std::stoul(*value);
  if (length > (64u << 20)) return std::nullopt;
  if (auto expect = request.header("Expect"); expect && iequals(*expect, "100-continue")) {
    const char cont[] = "HTTP/1.1 100 Continue\r\n\r\n";
    SSL_write(ssl, cont, sizeof cont - 1);
  }
  while (buffer.size() < length) {
    int n = SSL_read(ssl, chunk, sizeof chunk);
    if (n <= 0) return std::nullopt;
    buffer.append(chunk, static_cast<size_t>(n));
  }
  request.body = buffer.substr(0, length);
  buffer.erase(0, length);
  return request;
}

bool writeAll(SSL* ssl, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    int n = SSL_write(ssl, bytes.data() + done, static_cast<int>(std::min<size_t>(bytes.size() - done, 1 << 20)));
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::optional<std::string> HttpsTestRequest::header(const std::string& name) const {
  for (const auto& [key, value] : headers)
    if (iequals(key, name)) return value;
  return std::nullopt;
}

HttpsTestResponse HttpsTestResponse::ok(std::string body, std::string contentType) {
  HttpsTestResponse r;
  r.body = std::move(body);
  if (!contentType.empty()) r.headers.emplace_back("Content-Type", std::move(contentType));
  return r;
}

HttpsTestResponse HttpsTestResponse::withStatus(int code) {
  HttpsTestResponse r;
  r.status = code;
  return r;
}

HttpsTestResponse HttpsTestResponse::retryAfter(int code, const std::string& seconds) {
  HttpsTestResponse r;
  r.status = code;
  r.headers.emplace_back("Retry-After", seconds);
  return r;
}

HttpsTestResponse HttpsTestResponse::dropped() {
  HttpsTestResponse r;
  r.drop = true;
  return r;
}

HttpsTestResponse HttpsTestResponse::heldUntilReleased(HttpsTestResponse then) {
  then.held = true;
  return then;
}

HttpsTestResponse HttpsTestResponse::slow(std::chrono::milliseconds delay, HttpsTestResponse then) {
  then.delay = delay;
  return then;
}

HttpsTestServer::HttpsTestServer(const TestCertificateAuthority& authority) : HttpsTestServer(authority, Limits()) {}

HttpsTestServer::HttpsTestServer(const TestCertificateAuthority& authority, Limits limits)
    : mLimits(limits), mIdentity(authority.issueServerCertificate("127.0.0.1")) {
  // A client that hangs up mid-answer must not end the process.
  std::signal(SIGPIPE, SIG_IGN);
  mContext = SSL_CTX_new(TLS_server_method());
  if (!mContext || SSL_CTX_use_certificate(mContext, mIdentity->certificate()) != 1 ||
      SSL_CTX_use_PrivateKey(mContext, mIdentity->key()) != 1)
    throw std::runtime_error("test server TLS set-up failed");

  mListenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (mListenFd < 0) throw std::runtime_error("test server socket failed");
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (bind(mListenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(mListenFd, 128) != 0)
    throw std::runtime_error("test server bind failed");
  socklen_t len = sizeof addr;
  getsockname(mListenFd, reinterpret_cast<sockaddr*>(&addr), &len);
  mPort = ntohs(addr.sin_port);
  mDeadline = std::chrono::steady_clock::now() + mLimits.lifetime;
  mAcceptThread = std::thread([this] { acceptLoop(); });
}

HttpsTestServer::~HttpsTestServer() {
  stop();
  SSL_CTX_free(mContext);
}

std::string HttpsTestServer::origin() const { return "https://127.0.0.1:" + std::to_string(mPort); }

void HttpsTestServer::script(const std::string& pathPrefix, std::vector<HttpsTestResponse> answers) {
  std::lock_guard lock(mMutex);
  mHandler = nullptr;
  auto& script = mScripts[pathPrefix];
  script.clear();
  for (auto& answer : answers) script.push_back(std::make_shared<const HttpsTestResponse>(std::move(answer)));
}

void HttpsTestServer::setHandler(std::function<HttpsTestResponse(const HttpsTestRequest&)> handler) {
  std::lock_guard lock(mMutex);
  mScripts.clear();
  mHandler = std::move(handler);
}

std::vector<HttpsTestRequest> HttpsTestServer::requests() const {
  std::lock_guard lock(mMutex);
  return mRequests;
}

std::size_t HttpsTestServer::requestCount() const {
  std::lock_guard lock(mMutex);
  return mRequests.size();
}

std::size_t HttpsTestServer::requestCount(const std::string& pathPrefix) const {
  std::lock_guard lock(mMutex);
  return static_cast<size_t>(std::count_if(mRequests.begin(), mRequests.end(),
                                           [&](const auto& r) { return r.path.rfind(pathPrefix, 0) == 0; }));
}

bool HttpsTestServer::waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mMutex);
  return mCond.wait_for(lock, timeout, [&] { return mRequests.size() >= count; });
}

std::size_t HttpsTestServer::connectionCount() const {
  std::lock_guard lock(mMutex);
  return mConnections;
}

void HttpsTestServer::stop() {
  {
    std::lock_guard lock(mMutex);
    mStopping = true;
    for (int fd : mOpenFds) shutdown(fd, SHUT_RDWR);
    mCond.notify_all();
  }
  if (mAcceptThread.joinable()) mAcceptThread.join();
  std::unique_lock lock(mMutex);
  mCond.wait(lock, [&] { return mLiveConnections == 0; });
  if (mListenFd >= 0) {
    close(mListenFd);
    mListenFd = -1;
  }
}

bool HttpsTestServer::waitForRelease() {
  std::unique_lock lock(mMutex);
  mCond.wait(lock, [&] { return mStopping || mReleased; });
  return !mStopping;
}

void HttpsTestServer::release() {
  std::lock_guard lock(mMutex);
  mReleased = true;
  mCond.notify_all();
}

bool HttpsTestServer::waitUnlessStopping(std::chrono::milliseconds delay) {
  std::unique_lock lock(mMutex);
  return !mCond.wait_for(lock, delay, [&] { return mStopping; });
}

std::shared_ptr<const HttpsTestResponse> HttpsTestServer::answerFor(const HttpsTestRequest& request) {
  std::lock_guard lock(mMutex);
  mRequests.push_back(request);
  mCond.notify_all();
  if (mRequests.size() >= mLimits.maxRequests) mStopping = true;
  if (mHandler) return std::make_shared<const HttpsTestResponse>(mHandler(request));
  std::deque<std::shared_ptr<const HttpsTestResponse>>* best = nullptr;
  size_t bestLength = 0;
  for (auto& [prefix, answers] : mScripts) {
    if (request.path.rfind(prefix, 0) == 0 && (!best || prefix.size() >= bestLength)) {
      best = &answers;
      bestLength = prefix.size();
    }
  }
  if (!best || best->empty()) return std::make_shared<const HttpsTestResponse>(HttpsTestResponse::withStatus(404));
  auto answer = best->front();
  if (best->size() > 1) best->pop_front();
  return answer;
}

void HttpsTestServer::acceptLoop() {
  for (;;) {
    {
      std::lock_guard lock(mMutex);
      if (mStopping) return;
    }
    if (std::chrono::steady_clock::now() >= mDeadline) {
      std::lock_guard lock(mMutex);
      mStopping = true;
      for (int fd : mOpenFds) shutdown(fd, SHUT_RDWR);
      mCond.notify_all();
      return;
    }
    pollfd pfd{mListenFd, POLLIN, 0};
    if (poll(&pfd, 1, 50) <= 0) continue;
    int fd = accept4(mListenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    {
      std::lock_guard lock(mMutex);
      if (mStopping || mLiveConnections >= mLimits.maxConnections) {
        close(fd);
        continue;
      }
      ++mLiveConnections;
      mOpenFds.push_back(fd);
    }
    std::thread([this, fd] { serveConnection(fd); }).detach();
  }
}

void HttpsTestServer::serveConnection(int fd) {
  timeval tv{static_cast<time_t>(mLimits.idleTimeout.count()), 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  SSL* ssl = SSL_new(mContext);
  SSL_set_fd(ssl, fd);
  bool clean = false;
  if (SSL_accept(ssl) == 1) {
    {
      std::lock_guard lock(mMutex);
      ++mConnections;
    }
    std::string buffer;
    for (;;) {
      auto request = readRequest(ssl, buffer);
      if (!request) break;
      {
        std::lock_guard lock(mMutex);
        if (mStopping) break;
      }
      const auto scripted = answerFor(*request);
      const HttpsTestResponse& answer = *scripted;
      if (answer.drop) break;
      if (answer.held && !waitForRelease()) break;
      if (answer.delay.count() > 0 && !waitUnlessStopping(answer.delay)) break;
      bool closeAfter = false;
      if (auto c = request->header("Connection"); c && iequals(*c, "close")) closeAfter = true;
      std::string head = "HTTP/1.1 " + std::to_string(answer.status) + " " + reasonPhrase(answer.status) + "\r\n";
      for (const auto& [key, value] : answer.headers) head += key + ": " + value + "\r\n";
      const bool hasBody = answer.status != 204 && answer.status != 304;
      if (hasBody) head += "Content-Length: " + std::to_string(answer.body.size()) + "\r\n";
      head += closeAfter ? "Connection: close\r\n\r\n" : "Connection: keep-alive\r\n\r\n";
      // The body goes from the script as it stands, never through a copy of its own.
      const std::string_view body =
          hasBody ? std::string_view(answer.body).substr(0, answer.cutAfter.value_or(std::string::npos)) : std::string_view();
      if (!writeAll(ssl, head) || !writeAll(ssl, body) || answer.cutAfter) break;
      if (closeAfter) {
        clean = true;
        break;
      }
    }
  }
  if (clean) SSL_shutdown(ssl);
  SSL_free(ssl);
  ERR_clear_error();
  std::lock_guard lock(mMutex);
  mOpenFds.erase(std::remove(mOpenFds.begin(), mOpenFds.end(), fd), mOpenFds.end());
  close(fd);
  --mLiveConnections;
  mCond.notify_all();
}

}  // namespace testsupport
