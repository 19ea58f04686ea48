#pragma once
// X.509 certificates as the SDK's trust decisions see them: made from DER bytes,
// immutable, shared between threads.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

typedef struct x509_st X509;

namespace telemetry {

class Certificate {
 public:
  // Nothing when the bytes are not one DER certificate.
  static std::shared_ptr<const Certificate> createWithData(const std::uint8_t* der, std::size_t length);
  static std::shared_ptr<const Certificate> createWithData(const std::vector<std::uint8_t>& der) {
    return createWithData(der.data(), der.size());
  }
  // Takes a reference of its own to the certificate.
  static std::shared_ptr<const Certificate> createWithX509(X509* cert);

  ~Certificate();
  Certificate(const Certificate&) = delete;
  Certificate& operator=(const Certificate&) = delete;

  const std::vector<std::uint8_t>& data() const { return mDER; }
  X509* x509() const { return mCert; }
  // The subject's one-line form, for logs.
  std::string subjectSummary() const;

 private:
  Certificate(X509* cert, std::vector<std::uint8_t> der) : mCert(cert), mDER(std::move(der)) {}
  X509* mCert;
  std::vector<std::uint8_t> mDER;
};

using CertificateList = std::vector<std::shared_ptr<const Certificate>>;

}  // namespace telemetry
