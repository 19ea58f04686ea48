#include "sdk/session/certificate.h"

#include <openssl/x509.h>

namespace telemetry {

std::shared_ptr<const Certificate> Certificate::createWithData(const std::uint8_t* der, std::size_t length) {
  if (!der || length == 0) return nullptr;
  const unsigned char* p = der;
  X509* cert = d2i_X509(nullptr, &p, static_cast<long>(length));
  if (!cert) return nullptr;
  if (p != der + length) {  // trailing bytes: not exactly one certificate
    X509_free(cert);
    return nullptr;
  }
  return std::shared_ptr<const Certificate>(new Certificate(cert, std::vector<std::uint8_t>(der, der + length)));
}

std::shared_ptr<const Certificate> Certificate::createWithX509(X509* cert) {
  if (!cert) return nullptr;
  unsigned char* out = nullptr;
  int len = i2d_X509(cert, &out);
  if (len <= 0) return nullptr;
  std::vector<std::uint8_t> der(out, out + len);
  OPENSSL_free(out);
  X509_up_ref(cert);
  return std::shared_ptr<const Certificate>(new Certificate(cert, std::move(der)));
}

Certificate::~Certificate() { X509_free(mCert); }

std::string Certificate::subjectSummary() const {
  char buf[512];
  X509_NAME_oneline(X509_get_subject_name(mCert), buf, sizeof buf);
  return buf;
}

}  // namespace telemetry
