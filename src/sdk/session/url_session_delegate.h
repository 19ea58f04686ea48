#pragma once
// What a URL session tells its delegate, on the session's delegate queue. Every call has a
// neutral default, so a delegate overrides only what it handles.

#include "sdk/core/error.h"
#include "sdk/session/server_trust.h"
#include "sdk/session/url_response.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace telemetry {

class CRKURLSession;
class CRKURLSessionTask;
class CRKURLSessionDataTask;
class CRKURLSessionDownloadTask;

class URLSessionDelegate {
 public:
  using ChallengeCompletion =
      std::function<void(URLSessionAuthChallengeDisposition disposition, std::optional<URLCredential> credential)>;

  virtual ~URLSessionDelegate() = default;

  virtual void URLSessionDidBecomeInvalidWithError(CRKURLSession&, const OptionalError&) {}
  // A server-trust challenge of a TLS handshake. The completion must be called before
  // returning or soon after: the handshake waits for it.
  virtual void URLSessionDidReceiveChallenge(CRKURLSession&, const URLAuthenticationChallenge&,
                                             ChallengeCompletion completion) {
    completion(URLSessionAuthChallengeDisposition::PerformDefaultHandling, std::nullopt);
  }

  virtual void URLSessionTaskDidCompleteWithError(CRKURLSession&, CRKURLSessionTask&, const OptionalError&) {}
  // The answer given to the completion is ignored: the transfer always goes on.
  virtual void URLSessionDataTaskDidReceiveResponse(CRKURLSession&, CRKURLSessionDataTask&, const URLResponse&,
                                                    std::function<void(int)> completion) {
    completion(0);
  }
  virtual void URLSessionDataTaskDidReceiveData(CRKURLSession&, CRKURLSessionDataTask&,
                                                const std::vector<std::uint8_t>&) {}
  // The file is removed after this returns: move or read it here.
  virtual void URLSessionDownloadTaskDidFinishDownloadingToURL(CRKURLSession&, CRKURLSessionDownloadTask&,
                                                               const std::string&) {}
};

}  // namespace telemetry
