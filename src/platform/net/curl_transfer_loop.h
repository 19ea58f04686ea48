#pragma once
// HTTP(S) transfers on libcurl. One thread per loop drives a libcurl multi handle, so a
// loop's transfers share its connections and nothing else does. Every event of a transfer
// is reported on that thread; the receiver moves it where it belongs.
//
// Idle timeouts are measured on the media clock (`platform::mediaTime()`), so tests end a
// stalled transfer by advancing a VirtualClock instead of waiting.

#include "platform/net/http_transfer.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

typedef struct x509_st X509;

namespace platform {

struct CurlLibrary;
// Answers the libcurl to use, or null with the reason (platform/net/curl_library.h).
using CurlLibraryLoader = std::function<const CurlLibrary*(std::string* error)>;

class CurlTransferClient {
 public:
  virtual ~CurlTransferClient() = default;
  // The final response head (redirects already followed).
  virtual void transferDidReceiveResponse(const HTTPResponseHead& response) = 0;
  virtual void transferDidReceiveData(std::vector<std::uint8_t> bytes) = 0;
  // Called once, last. Cancelled transfers complete with TransferFailure::Cancelled.
  virtual void transferDidComplete(const std::optional<TransferError>& error) = 0;

  // A client that decides trust itself is asked about every chain a server presents; any
  // other client's servers are checked against the system's roots.
  virtual bool decidesServerTrust() const { return false; }
  // `chain` starts with the server's own certificate and lives only during the call;
  // true lets the handshake go on.
  virtual bool transferShouldTrustServer(const std::vector<X509*>& /*chain*/, const std::string& /*host*/,
                                         int /*port*/) {
    return false;
  }
};

class CurlTransferLoop {
 public:
  using TransferID = std::uint64_t;

  // Starts the loop's thread (named after `label`); it ends once this owner is destroyed
  // and every transfer completed. The thread loads libcurl through `load` (by default the
  // process's one, `curlLibrary`) before its first transfer; when that fails, every transfer
  // completes with the reason.
  // With `maxConnectionsPerHost` above zero, transfers beyond it wait for a free connection
  // instead of opening one each.
  static std::shared_ptr<CurlTransferLoop> create(std::string label, long maxConnectionsPerHost = 0,
                                                  CurlLibraryLoader load = {});
  ~CurlTransferLoop();
  CurlTransferLoop(const CurlTransferLoop&) = delete;
  CurlTransferLoop& operator=(const CurlTransferLoop&) = delete;

  // The client is held until its transfer completes.
  TransferID start(const HTTPTransferRequest& request, std::shared_ptr<CurlTransferClient> client);
  // The transfer completes as cancelled, unless it already completed.
  void cancel(TransferID transfer);

  struct State;

 private:
  explicit CurlTransferLoop(std::shared_ptr<State> state) : mState(std::move(state)) {}
  std::shared_ptr<State> mState;
};

}  // namespace platform
