#pragma once
// The connection layer under the SDK's URL session: one thread per session drives a libcurl
// multi handle, so a session's transfers share its connections and nothing else does. Every
// event of a transfer is reported on that thread; the receiver moves it where it belongs.

#include "sdk/core/error.h"
#include "sdk/net/url_request.h"
#include "sdk/session/server_trust.h"
#include "sdk/session/url_response.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace telemetry {

class CurlTransferClient {
 public:
  virtual ~CurlTransferClient() = default;
  // The final response head (redirects already followed).
  virtual void transferDidReceiveResponse(const URLResponse& response) = 0;
  virtual void transferDidReceiveData(std::vector<std::uint8_t> bytes) = 0;
  // Called once, last. Cancelled transfers complete with a cancellation error.
  virtual void transferDidComplete(const OptionalError& error) = 0;
  // The chain the server presented; the answer decides whether the handshake goes on.
  virtual URLSessionAuthChallengeDisposition transferDidReceiveServerTrust(
      const std::shared_ptr<ServerTrust>& trust, const std::string& host, int port) = 0;
};

class CurlTransferLoop {
 public:
  using TransferID = std::uint64_t;

  // Starts the loop's thread; it ends once this owner is destroyed and every transfer
  // completed.
  static std::shared_ptr<CurlTransferLoop> create(std::string label);
  ~CurlTransferLoop();
  CurlTransferLoop(const CurlTransferLoop&) = delete;
  CurlTransferLoop& operator=(const CurlTransferLoop&) = delete;

  // The client is held until its transfer completes.
  TransferID start(const URLRequest& request, std::shared_ptr<CurlTransferClient> client);
  // The transfer completes with a cancellation error, unless it already completed.
  void cancel(TransferID transfer);

  struct State;

 private:
  explicit CurlTransferLoop(std::shared_ptr<State> state) : mState(std::move(state)) {}
  std::shared_ptr<State> mState;
};

}  // namespace telemetry
