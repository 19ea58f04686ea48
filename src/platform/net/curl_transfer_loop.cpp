#include "platform/net/curl_transfer_loop.h"

#include "platform/core/clock.h"
#include "platform/core/dispatch.h"
#include "platform/core/regular_file.h"
#include "platform/net/curl_library.h"

#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <limits>
#include <pthread.h>
#include <strings.h>
#include <thread>
#include <unistd.h>

namespace platform {

namespace {

TransferError failed(TransferFailure failure, std::string description) {
  return TransferError{failure, std::move(description)};
}

TransferError errorForCurlCode(const CurlLibrary& curl, CURLcode code, const char* detail, bool trustRefused) {
  std::string text = detail && *detail ? detail : curl.easy_strerror(code);
  using F = TransferFailure;
  if (trustRefused) return failed(F::ServerCertificateUntrusted, "The server's certificate was refused: " + text);
  switch (code) {
    case CURLE_OPERATION_TIMEDOUT: return failed(F::TimedOut, "The request timed out: " + text);
    case CURLE_COULDNT_RESOLVE_HOST: return failed(F::CannotFindHost, text);
    case CURLE_COULDNT_CONNECT: return failed(F::CannotConnectToHost, text);
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE: return failed(F::ConnectionLost, text);
    case CURLE_URL_MALFORMAT: return failed(F::BadURL, text);
    case CURLE_UNSUPPORTED_PROTOCOL: return failed(F::UnsupportedURL, text);
    case CURLE_TOO_MANY_REDIRECTS: return failed(F::TooManyRedirects, text);
    case CURLE_PEER_FAILED_VERIFICATION: return failed(F::ServerCertificateUntrusted, text);
    case CURLE_SSL_CONNECT_ERROR: return failed(F::SecureConnectionFailed, text);
    case CURLE_WEIRD_SERVER_REPLY: return failed(F::BadServerResponse, text);
    case CURLE_READ_ERROR: return failed(F::BodyStreamExhausted, text);
    case CURLE_ABORTED_BY_CALLBACK: return failed(F::Cancelled, "cancelled");
    default: return failed(F::Unknown, text);
  }
}

std::string trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  size_t e = s.find_last_not_of(" \t\r\n");
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

}  // namespace

// One request in flight: its easy handle and what it has heard so far.
struct Transfer {
  CurlTransferLoop::TransferID id = 0;
  // What was asked for, until the loop's thread sets the transfer up.
  HTTPTransferRequest request;
  const CurlLibrary* curl = nullptr;
  CURL* easy = nullptr;
  curl_slist* headerList = nullptr;
  std::vector<std::uint8_t> body;
  std::FILE* bodyFile = nullptr;
  std::shared_ptr<CurlTransferClient> client;
  std::string host;
  int port = 0;
  HTTPResponseHead pending;
  bool pendingIsRedirect = false;
  bool responseSent = false;
  bool trustRefused = false;
  char errorBuffer[CURL_ERROR_SIZE] = {};
  // Idle timeout, on the media clock.
  double timeout = 60.0;
  double lastProgress = 0;
  curl_off_t bytesMoved = -1;

  ~Transfer() {
    if (easy) curl->easy_cleanup(easy);
    if (headerList) curl->slist_free_all(headerList);
    if (bodyFile) std::fclose(bodyFile);
  }

  void sendResponseIfNeeded() {
    if (responseSent) return;
    responseSent = true;
    char* effective = nullptr;
    curl->easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective);
    if (effective) pending.url = effective;
    client->transferDidReceiveResponse(pending);
  }
};

struct CurlTransferLoop::State {
  std::string label;
  CurlLibraryLoader load;
  // Set on the loop's thread once libcurl is loaded (under `mutex`); `unavailable` says why
  // it could not be.
  const CurlLibrary* curl = nullptr;
  CURLM* multi = nullptr;
  std::string unavailable;
  // Wakes the thread while it has no multi handle to wake.
  std::condition_variable wakeWithoutCurl;
  std::mutex mutex;
  std::deque<std::unique_ptr<Transfer>> starting;
  std::vector<TransferID> cancelling;
  bool released = false;
  TransferID nextID = 1;
  std::map<TransferID, std::unique_ptr<Transfer>> running;  // loop thread only

  ~State() {
    running.clear();
    if (multi) curl->multi_cleanup(multi);
  }

  // Caller holds `mutex`.
  void wake() {
    if (multi) curl->multi_wakeup(multi);
    wakeWithoutCurl.notify_all();
  }
  // The loop's thread: loads libcurl for the first transfer, then runs transfers, or fails
  // each with the reason.
  void main(long maxConnectionsPerHost);
  void run();
  void failEveryTransfer();
  void begin(std::unique_ptr<Transfer> transfer);
  void finish(TransferID id, const std::optional<TransferError>& error);
  // Ends the transfers idle for longer than their timeout; the next deadline, or infinity.
  double expireIdleTransfers();
};

namespace {

size_t onHeader(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  std::string line(data, size * count);
  t->lastProgress = mediaTime();
  if (line.rfind("HTTP/", 0) == 0) {
    t->pending = HTTPResponseHead();
    t->pendingIsRedirect = false;
    size_t sp = line.find(' ');
    if (sp != std::string::npos) t->pending.statusCode = std::atoi(line.c_str() + sp + 1);
  } else if (line == "\r\n" || line == "\n") {
    // Redirects are followed, so their heads are not the response.
    bool redirect = t->pending.statusCode >= 300 && t->pending.statusCode < 400 && t->pendingIsRedirect;
    if (t->pending.statusCode >= 200 && !redirect) t->sendResponseIfNeeded();
  } else {
    size_t colon = line.find(':');
    if (colon != std::string::npos) {
      std::string name = trimmed(line.substr(0, colon));
      if (strcasecmp(name.c_str(), "Location") == 0) t->pendingIsRedirect = true;
      t->pending.headers.emplace_back(std::move(name), trimmed(line.substr(colon + 1)));
    }
  }
  return size * count;
}

size_t onData(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  t->sendResponseIfNeeded();
  // Through unsigned bytes, so the copy is one memcpy rather than a loop converting each char.
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(data);
  t->client->transferDidReceiveData(std::vector<std::uint8_t>(bytes, bytes + size * count));
  return size * count;
}

size_t onReadBody(char* buffer, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  size_t n = std::fread(buffer, 1, size * count, t->bodyFile);
  if (n == 0 && std::ferror(t->bodyFile)) return CURL_READFUNC_ABORT;
  return n;
}

int onProgress(void* user, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded) {
  auto* t = static_cast<Transfer*>(user);
  if (downloaded + uploaded != t->bytesMoved) {
    t->bytesMoved = downloaded + uploaded;
    t->lastProgress = mediaTime();
  }
  return 0;
}

// Hands the presented chain to the transfer's client in place of OpenSSL's own check.
int verifyPresentedChain(X509_STORE_CTX* ctx, void* user) {
  auto* t = static_cast<Transfer*>(user);
  std::vector<X509*> chain;
  X509* leaf = X509_STORE_CTX_get0_cert(ctx);
  if (leaf) chain.push_back(leaf);
  if (STACK_OF(X509)* untrusted = X509_STORE_CTX_get0_untrusted(ctx)) {
    for (int i = 0; i < sk_X509_num(untrusted); ++i) {
      X509* c = sk_X509_value(untrusted, i);
      if (c == leaf || (leaf && X509_cmp(c, leaf) == 0)) continue;
      chain.push_back(c);
    }
  }
  if (t->client->transferShouldTrustServer(chain, t->host, t->port)) {
    X509_STORE_CTX_set_error(ctx, X509_V_OK);
    return 1;
  }
  t->trustRefused = true;
  X509_STORE_CTX_set_error(ctx, X509_V_ERR_APPLICATION_VERIFICATION);
  return 0;
}

CURLcode onSSLContext(CURL*, void* sslContext, void* user) {
  SSL_CTX_set_cert_verify_callback(static_cast<SSL_CTX*>(sslContext), verifyPresentedChain, user);
  return CURLE_OK;
}

// Fills in method, headers and body; false when the body file cannot be opened.
bool configure(Transfer& t, const HTTPTransferRequest& request) {
  const CurlLibrary& curl = *t.curl;
  CURL* e = t.easy;
  curl.easy_setopt(e, CURLOPT_URL, request.url.c_str());
  curl.easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  // A redirect may never leave TLS.
  curl.easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "https");
  curl.easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
  curl.easy_setopt(e, CURLOPT_MAXREDIRS, 16L);
  curl.easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl.easy_setopt(e, CURLOPT_TCP_NODELAY, 1L);
  curl.easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "");
  curl.easy_setopt(e, CURLOPT_ERRORBUFFER, t.errorBuffer);
  curl.easy_setopt(e, CURLOPT_PRIVATE, &t);
  curl.easy_setopt(e, CURLOPT_HEADERFUNCTION, onHeader);
  curl.easy_setopt(e, CURLOPT_HEADERDATA, &t);
  curl.easy_setopt(e, CURLOPT_WRITEFUNCTION, onData);
  curl.easy_setopt(e, CURLOPT_WRITEDATA, &t);
  curl.easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
  curl.easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
  if (t.client->decidesServerTrust()) {
    // Trust is decided in verifyPresentedChain; loading the whole system bundle for every
    // connection would only cost time.
    curl.easy_setopt(e, CURLOPT_CAINFO, nullptr);
    curl.easy_setopt(e, CURLOPT_CAPATH, nullptr);
    curl.easy_setopt(e, CURLOPT_SSL_CTX_FUNCTION, onSSLContext);
    curl.easy_setopt(e, CURLOPT_SSL_CTX_DATA, &t);
  }

  // An idle timeout (no progress for that long ends the transfer), kept by the loop itself
  // so that it runs on the media clock.
  t.timeout = request.timeoutInterval > 0 ? std::min(request.timeoutInterval, 86400.0) : 60.0;
  curl.easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
  curl.easy_setopt(e, CURLOPT_XFERINFOFUNCTION, onProgress);
  curl.easy_setopt(e, CURLOPT_XFERINFODATA, &t);

  bool hasContentType = false;
  for (const auto& [name, value] : request.headers) {
    // The body's real length is sent; a stated one could disagree with it.
    if (strcasecmp(name.c_str(), "Content-Length") == 0) continue;
    // A line break would end the header early and let the rest pass as headers of its own.
    if (name.empty() || name.find_first_of(":\r\n") != std::string::npos ||
        value.find_first_of("\r\n") != std::string::npos)
      continue;
    if (strcasecmp(name.c_str(), "Content-Type") == 0) hasContentType = true;
    std::string line = value.empty() ? name + ";" : name + ": " + value;
    t.headerList = curl.slist_append(t.headerList, line.c_str());
  }
  t.headerList = curl.slist_append(t.headerList, "Expect:");

  const std::string method = request.method.empty() ? std::string("GET") : request.method;
  bool hasBody = request.bodyFilePath.has_value() || !request.body.empty();
  if (hasBody) {
    if (!hasContentType) t.headerList = curl.slist_append(t.headerList, "Content-Type:");
    curl.easy_setopt(e, CURLOPT_POST, 1L);
    if (request.bodyFilePath) {
      // A body file is sent only when it is a regular file: a FIFO in its place must not hold
      // the loop's thread.
      const int fd = openRegularFile(*request.bodyFilePath, /*maxBytes=*/-1);
      t.bodyFile = fd >= 0 ? ::fdopen(fd, "rb") : nullptr;
      if (!t.bodyFile) {
        if (fd >= 0) ::close(fd);
        return false;
      }
      std::fseek(t.bodyFile, 0, SEEK_END);
      long size = std::ftell(t.bodyFile);
      std::fseek(t.bodyFile, 0, SEEK_SET);
      curl.easy_setopt(e, CURLOPT_READFUNCTION, onReadBody);
      curl.easy_setopt(e, CURLOPT_READDATA, &t);
      curl.easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(std::max(0L, size)));
    } else {
      t.body = request.body;
      curl.easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(t.body.size()));
      curl.easy_setopt(e, CURLOPT_POSTFIELDS, t.body.data());
    }
    if (method != "POST") curl.easy_setopt(e, CURLOPT_CUSTOMREQUEST, method.c_str());
  } else if (method == "HEAD") {
    curl.easy_setopt(e, CURLOPT_NOBODY, 1L);
  } else if (method != "GET") {
    curl.easy_setopt(e, CURLOPT_CUSTOMREQUEST, method.c_str());
  }
  curl.easy_setopt(e, CURLOPT_HTTPHEADER, t.headerList);

  if (CURLU* url = curl.url()) {
    if (curl.url_set(url, CURLUPART_URL, request.url.c_str(), 0) == CURLUE_OK) {
      char* host = nullptr;
      char* port = nullptr;
      if (curl.url_get(url, CURLUPART_HOST, &host, 0) == CURLUE_OK && host) {
        t.host = host;
        if (t.host.size() > 2 && t.host.front() == '[' && t.host.back() == ']') t.host = t.host.substr(1, t.host.size() - 2);
      }
      if (curl.url_get(url, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK && port) t.port = std::atoi(port);
      curl.free(host);
      curl.free(port);
    }
    curl.url_cleanup(url);
  }
  return true;
}

}  // namespace

std::shared_ptr<CurlTransferLoop> CurlTransferLoop::create(std::string label, long maxConnectionsPerHost,
                                                          CurlLibraryLoader load) {
  auto state = std::make_shared<State>();
  state->label = std::move(label);
  state->load = load ? std::move(load) : CurlLibraryLoader(curlLibrary);
  std::thread([state, maxConnectionsPerHost] {
    platform::nameCurrentThread(state->label);
    state->main(maxConnectionsPerHost);
  }).detach();
  return std::shared_ptr<CurlTransferLoop>(new CurlTransferLoop(state));
}

CurlTransferLoop::~CurlTransferLoop() {
  std::lock_guard lock(mState->mutex);
  mState->released = true;
  mState->wake();
}

CurlTransferLoop::TransferID CurlTransferLoop::start(const HTTPTransferRequest& request, std::shared_ptr<CurlTransferClient> client) {
  auto transfer = std::make_unique<Transfer>();
  transfer->client = std::move(client);
  transfer->request = request;
  std::lock_guard lock(mState->mutex);
  transfer->id = mState->nextID++;
  TransferID id = transfer->id;
  mState->starting.push_back(std::move(transfer));
  mState->wake();
  return id;
}

void CurlTransferLoop::cancel(TransferID transfer) {
  std::lock_guard lock(mState->mutex);
  mState->cancelling.push_back(transfer);
  mState->wake();
}

void CurlTransferLoop::State::main(long maxConnectionsPerHost) {
  pthread_setname_np(pthread_self(), label.substr(0, 15).c_str());
  {
    // A loop made at start costs no library until something is sent.
    std::unique_lock lock(mutex);
    wakeWithoutCurl.wait(lock, [this] { return released || !starting.empty(); });
    if (starting.empty()) return;
  }
  std::string why;
  const CurlLibrary* library = load(&why);
  CURLM* handle = library ? library->multi_init() : nullptr;
  if (library && !handle) why = "Network transfers are unavailable: libcurl could not start a transfer loop";
  if (handle) {
    // Keep idle connections for reuse even while few transfers run.
    library->multi_setopt(handle, CURLMOPT_MAXCONNECTS, 32L);
    if (maxConnectionsPerHost > 0) library->multi_setopt(handle, CURLMOPT_MAX_HOST_CONNECTIONS, maxConnectionsPerHost);
  }
  {
    std::lock_guard lock(mutex);
    curl = handle ? library : nullptr;
    multi = handle;
    unavailable = why;
  }
  if (multi) run();
  else failEveryTransfer();
}

// Without libcurl every transfer still completes, with the reason, so no caller waits forever.
void CurlTransferLoop::State::failEveryTransfer() {
  std::unique_lock lock(mutex);
  for (;;) {
    wakeWithoutCurl.wait(lock, [this] { return released || !starting.empty(); });
    std::deque<std::unique_ptr<Transfer>> toFail;
    toFail.swap(starting);
    cancelling.clear();
    const bool ownerGone = released;
    lock.unlock();
    for (auto& t : toFail) t->client->transferDidComplete(failed(TransferFailure::Unknown, unavailable));
    toFail.clear();
    lock.lock();
    if (ownerGone && starting.empty()) return;
  }
}

void CurlTransferLoop::State::begin(std::unique_ptr<Transfer> transfer) {
  TransferID id = transfer->id;
  transfer->curl = curl;
  transfer->easy = curl->easy_init();
  const bool unusable = !(transfer->easy && configure(*transfer, transfer->request));
  transfer->request = HTTPTransferRequest();
  transfer->lastProgress = mediaTime();
  running[id] = std::move(transfer);
  if (unusable) {
    finish(id, failed(TransferFailure::CannotOpenBodyFile, "The request's body could not be read"));
    return;
  }
  if (curl->multi_add_handle(multi, running[id]->easy) != CURLM_OK)
    finish(id, failed(TransferFailure::Unknown, "The transfer could not be started"));
}

double CurlTransferLoop::State::expireIdleTransfers() {
  double now = mediaTime();
  double next = std::numeric_limits<double>::infinity();
  std::vector<TransferID> expired;
  for (const auto& [id, t] : running) {
    double due = t->lastProgress + t->timeout;
    if (now >= due) expired.push_back(id);
    else next = std::min(next, due);
  }
  for (TransferID id : expired) finish(id, failed(TransferFailure::TimedOut, "The request timed out"));
  return next - now;
}

void CurlTransferLoop::State::finish(TransferID id, const std::optional<TransferError>& error) {
  auto it = running.find(id);
  if (it == running.end()) return;
  std::unique_ptr<Transfer> transfer = std::move(it->second);
  running.erase(it);
  if (transfer->easy) curl->multi_remove_handle(multi, transfer->easy);
  if (!error) transfer->sendResponseIfNeeded();
  transfer->client->transferDidComplete(error);
}

void CurlTransferLoop::State::run() {
  for (;;) {
    std::deque<std::unique_ptr<Transfer>> toStart;
    std::vector<TransferID> toCancel;
    bool ownerGone;
    {
      std::lock_guard lock(mutex);
      toStart.swap(starting);
      toCancel.swap(cancelling);
      ownerGone = released;
    }
    for (auto& t : toStart) begin(std::move(t));
    for (TransferID id : toCancel) finish(id, failed(TransferFailure::Cancelled, "cancelled"));

    int stillRunning = 0;
    curl->multi_perform(multi, &stillRunning);
    int queued = 0;
    while (CURLMsg* msg = curl->multi_info_read(multi, &queued)) {
      if (msg->msg != CURLMSG_DONE) continue;
      Transfer* t = nullptr;
      curl->easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, &t);
      if (!t) continue;
      CURLcode code = msg->data.result;
      if (code == CURLE_OK)
        finish(t->id, std::nullopt);
      else
        finish(t->id, errorForCurlCode(*curl, code, t->errorBuffer, t->trustRefused));
    }
    double untilDeadline = expireIdleTransfers();
    if (ownerGone && running.empty()) {
      std::lock_guard lock(mutex);
      if (starting.empty() && cancelling.empty()) return;
      continue;
    }
    // While transfers run, deadlines are looked at often enough that a media clock moved
    // by a test is noticed soon.
    int waitMs = running.empty() ? 1000 : static_cast<int>(std::clamp(std::ceil(untilDeadline * 1000.0), 1.0, 250.0));
    curl->multi_poll(multi, nullptr, 0, waitMs, nullptr);
  }
}

}  // namespace platform
