#pragma once
// Answers server-trust challenges: a server is trusted only when its chain leads to one of
// the pinner's certificates, never to a root the system trusts on its own.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "sdk/session/certificate.h"
#include "sdk/session/server_trust.h"
#include "sdk/session/url_session_delegate.h"

namespace telemetry {

class CRKURLSession;

class TELCertificatePinner {
 public:
  explicit TELCertificatePinner(CertificateList certificates);

  // A certificate from DER bytes, or nothing when they do not parse.
  static std::shared_ptr<const Certificate> createCertificationWithData(const uint8_t* bytes, size_t length);

  const CertificateList& certificates() const { return mCertificates; }

  // Evaluates the trust with the pinned certificates as its only anchors. Zero on success
  // (the evaluation's own result then stands); with no pinned certificates the result is
  // Invalid and the status zero.
  TrustStatus evaluateTrust(ServerTrust& trust, TrustResult& result) const;

  // Uses a credential for the trust when it evaluates to Proceed or Unspecified (true);
  // cancels the challenge in every other case, a challenge without a server trust included.
  bool handleChallenge(const URLAuthenticationChallenge& challenge, const CRKURLSession* session,
                       const URLSessionDelegate::ChallengeCompletion& completion) const;

 private:
  const CertificateList mCertificates;
};

}  // namespace telemetry
