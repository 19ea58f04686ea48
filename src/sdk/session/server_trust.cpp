#include "sdk/session/server_trust.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

namespace telemetry {

namespace {

// A certificate of this evaluation's own, decoded afresh: OpenSSL fills a certificate's caches
// lazily as it verifies, so the shared objects (the pinned roots above all) must not be handed
// to two evaluations at once.
X509* privateCopy(const Certificate& certificate) {
  const unsigned char* p = certificate.data().data();
  return d2i_X509(nullptr, &p, static_cast<long>(certificate.data().size()));
}

bool isIPAddress(const std::string& host) {
  unsigned char buf[16];
  return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

}  // namespace

ServerTrust::ServerTrust(CertificateList chain, std::string host) : mChain(std::move(chain)), mHost(std::move(host)) {}

TrustStatus ServerTrust::setAnchorCertificates(CertificateList anchors) {
  std::lock_guard lock(mMutex);
  for (const auto& anchor : anchors)
    if (!anchor) return kTrustStatusParameterError;
  mAnchors = std::move(anchors);
  return kTrustStatusSuccess;
}

TrustStatus ServerTrust::setAnchorCertificatesOnly(bool anchorsOnly) {
  std::lock_guard lock(mMutex);
  mAnchorsOnly = anchorsOnly;
  return kTrustStatusSuccess;
}

std::string ServerTrust::lastFailure() const {
  std::lock_guard lock(mMutex);
  return mLastFailure;
}

TrustStatus ServerTrust::evaluate(TrustResult& result) {
  std::lock_guard lock(mMutex);
  result = TrustResult::Invalid;
  if (mChain.empty() || !mChain.front()) return kTrustStatusParameterError;

  X509_STORE* store = X509_STORE_new();
  STACK_OF(X509)* untrusted = sk_X509_new_null();
  X509_STORE_CTX* ctx = X509_STORE_CTX_new();
  X509* leaf = privateCopy(*mChain.front());
  TrustStatus status = kTrustStatusSuccess;
  if (!store || !untrusted || !ctx || !leaf) {
    status = kTrustStatusParameterError;
  } else {
    for (const auto& anchor : mAnchors) {
      X509* copy = privateCopy(*anchor);
      X509_STORE_add_cert(store, copy);  // the store holds its own reference
      X509_free(copy);
    }
    if (!mAnchorsOnly) X509_STORE_set_default_paths(store);
    for (size_t i = 1; i < mChain.size(); ++i)
      if (mChain[i])
        if (X509* copy = privateCopy(*mChain[i]); copy && !sk_X509_push(untrusted, copy)) X509_free(copy);
    if (X509_STORE_CTX_init(ctx, store, leaf, untrusted) != 1) {
      status = kTrustStatusParameterError;
    } else {
      X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx);
      X509_VERIFY_PARAM_set_purpose(param, X509_PURPOSE_SSL_SERVER);
      if (!mHost.empty()) {
        if (isIPAddress(mHost))
          X509_VERIFY_PARAM_set1_ip_asc(param, mHost.c_str());
        else
          X509_VERIFY_PARAM_set1_host(param, mHost.c_str(), mHost.size());
      }
      if (X509_verify_cert(ctx) == 1) {
        result = TrustResult::Unspecified;
        mLastFailure.clear();
      } else {
        int err = X509_STORE_CTX_get_error(ctx);
        mLastFailure = X509_verify_cert_error_string(err);
        result = TrustResult::RecoverableTrustFailure;
      }
    }
  }
  X509_STORE_CTX_free(ctx);
  X509_free(leaf);
  sk_X509_pop_free(untrusted, X509_free);
  X509_STORE_free(store);
  ERR_clear_error();
  return status;
}

}  // namespace telemetry
