#pragma once
// Certificates made at test time: a throw-away certificate authority and the server
// certificates it issues, so certificate pinning and TLS clients can be exercised against loopback servers.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

typedef struct x509_st X509;
typedef struct evp_pkey_st EVP_PKEY;

namespace testsupport {

// A key and a certificate; owns both.
class TestIdentity {
 public:
  TestIdentity(X509* cert, EVP_PKEY* key);
  ~TestIdentity();
  TestIdentity(const TestIdentity&) = delete;
  TestIdentity& operator=(const TestIdentity&) = delete;

  X509* certificate() const { return mCert; }
  EVP_PKEY* key() const { return mKey; }
  std::vector<std::uint8_t> der() const;

 private:
  X509* mCert;
  EVP_PKEY* mKey;
};

class TestCertificateAuthority {
 public:
  // A self-signed root with the given common name.
  explicit TestCertificateAuthority(const std::string& commonName);

  const TestIdentity& root() const { return *mRoot; }
  std::vector<std::uint8_t> rootDER() const { return mRoot->der(); }
  // A leaf for TLS servers at the given IP address, signed by this root.
  std::shared_ptr<TestIdentity> issueServerCertificate(const std::string& ipAddress = "127.0.0.1") const;

 private:
  std::shared_ptr<TestIdentity> mRoot;
};

}  // namespace testsupport
