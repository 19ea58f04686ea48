#include "sdk/pinning/tel_certificate_pinner.h"

namespace telemetry {

TELCertificatePinner::TELCertificatePinner(CertificateList certificates) : mCertificates(std::move(certificates)) {}

std::shared_ptr<const Certificate> TELCertificatePinner::createCertificationWithData(const uint8_t* bytes, size_t length) {
  return Certificate::createWithData(bytes, length);
}

TrustStatus TELCertificatePinner::evaluateTrust(ServerTrust& trust, TrustResult& result) const {
  if (mCertificates.empty()) {
    result = TrustResult::Invalid;
    return kTrustStatusSuccess;
  }
  TrustStatus status = trust.setAnchorCertificates(mCertificates);
  if (status != kTrustStatusSuccess) {
    result = TrustResult::OtherError;
    return status;
  }
  status = trust.setAnchorCertificatesOnly(true);
  if (status != kTrustStatusSuccess) {
    result = TrustResult::OtherError;
    return status;
  }
  TrustResult evaluated = TrustResult::Invalid;
  status = trust.evaluate(evaluated);
  if (status != kTrustStatusSuccess) {
    result = TrustResult::Invalid;
    return status;
  }
  result = evaluated;
  return kTrustStatusSuccess;
}

bool TELCertificatePinner::handleChallenge(const URLAuthenticationChallenge& challenge, const CRKURLSession*,
                                           const URLSessionDelegate::ChallengeCompletion& completion) const {
  const std::shared_ptr<ServerTrust>& trust = challenge.protectionSpace.serverTrust;
  bool accepted = false;
  if (trust) {
    TrustResult result = TrustResult::Invalid;
    const TrustStatus status = evaluateTrust(*trust, result);
    accepted = status == kTrustStatusSuccess && (result == TrustResult::Proceed || result == TrustResult::Unspecified);
  }
  if (completion) {
    if (accepted)
      completion(URLSessionAuthChallengeDisposition::UseCredential, URLCredential::forTrust(trust));
    else
      completion(URLSessionAuthChallengeDisposition::CancelAuthenticationChallenge, std::nullopt);
  }
  return accepted;
}

}  // namespace telemetry
