#pragma once
// The certificate chain a TLS server presented, and its evaluation against a set of
// anchors: the stand-in for the platform's trust objects. The URL session hands one to its
// delegate in a server-trust challenge; a pinner narrows the anchors to its own roots.

#include "sdk/session/certificate.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace telemetry {

enum class TrustResult : std::uint32_t {
  Invalid = 0,
  Proceed = 1,
  Deny = 3,
  Unspecified = 4,
  RecoverableTrustFailure = 5,
  OtherError = 6,
  FatalTrustFailure = 7,
};

using TrustStatus = std::int32_t;
inline constexpr TrustStatus kTrustStatusSuccess = 0;
inline constexpr TrustStatus kTrustStatusParameterError = -50;

class ServerTrust {
 public:
  // `chain` starts with the server's own certificate; `host` is the name or address asked for.
  ServerTrust(CertificateList chain, std::string host);

  const CertificateList& certificates() const { return mChain; }
  const std::string& host() const { return mHost; }

  // Anchors used in addition to the system's roots, unless anchors-only is set.
  TrustStatus setAnchorCertificates(CertificateList anchors);
  TrustStatus setAnchorCertificatesOnly(bool anchorsOnly);

  // Builds a path from the server's certificate to an anchor, for TLS server use, valid
  // now and naming the host. A status other than success means nothing was evaluated.
  TrustStatus evaluate(TrustResult& result);
  // The reason of the last failed evaluation, for logs.
  std::string lastFailure() const;

 private:
  mutable std::mutex mMutex;
  CertificateList mChain;
  std::string mHost;
  CertificateList mAnchors;
  bool mAnchorsOnly = false;
  std::string mLastFailure;
};

enum class URLSessionAuthChallengeDisposition {
  UseCredential = 0,
  PerformDefaultHandling = 1,
  CancelAuthenticationChallenge = 2,
  RejectProtectionSpace = 3,
};

inline constexpr const char* kAuthenticationMethodServerTrust = "ServerTrust";

struct URLProtectionSpace {
  std::string host;
  int port = 0;
  std::string authenticationMethod;
  std::shared_ptr<ServerTrust> serverTrust;  // only for server-trust challenges
};

struct URLAuthenticationChallenge {
  URLProtectionSpace protectionSpace;
};

struct URLCredential {
  std::shared_ptr<ServerTrust> trust;
  static URLCredential forTrust(std::shared_ptr<ServerTrust> trust) { return URLCredential{std::move(trust)}; }
};

}  // namespace telemetry
