#include "https_test_ca.h"

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <stdexcept>

namespace testsupport {

namespace {

EVP_PKEY* newKey() {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  if (!key) throw std::runtime_error("test key generation failed");
  return key;
}

void addExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
  if (!ext) throw std::runtime_error("test certificate extension failed");
  X509_add_ext(cert, ext, -1);
  X509_EXTENSION_free(ext);
}

X509* newCertificate(const std::string& commonName, EVP_PKEY* key) {
  X509* cert = X509_new();
  X509_set_version(cert, 2);
  unsigned char serial[16];
  RAND_bytes(serial, sizeof serial);
  serial[0] &= 0x7f;
  BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
  BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert));
  BN_free(bn);
  X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert), 3 * 24 * 3600);
  X509_set_pubkey(cert, key);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Orrery Tests"), -1, -1, 0);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName.c_str()), -1,
                             -1, 0);
  return cert;
}

}  // namespace

TestIdentity::TestIdentity(X509* cert, EVP_PKEY* key) : mCert(cert), mKey(key) {}

TestIdentity::~TestIdentity() {
  X509_free(mCert);
  EVP_PKEY_free(mKey);
}

std::vector<std::uint8_t> TestIdentity::der() const {
  unsigned char* out = nullptr;
  int len = i2d_X509(mCert, &out);
  if (len <= 0) return {};
  std::vector<std::uint8_t> bytes(out, out + len);
  OPENSSL_free(out);
  return bytes;
}

TestCertificateAuthority::TestCertificateAuthority(const std::string& commonName) {
  EVP_PKEY* key = newKey();
  X509* cert = newCertificate(commonName, key);
  X509_set_issuer_name(cert, X509_get_subject_name(cert));
  addExtension(cert, cert, NID_basic_constraints, "critical,CA:TRUE");
  addExtension(cert, cert, NID_key_usage, "critical,keyCertSign,cRLSign");
  addExtension(cert, cert, NID_subject_key_identifier, "hash");
  if (!X509_sign(cert, key, EVP_sha256())) throw std::runtime_error("test root signing failed");
  mRoot = std::make_shared<TestIdentity>(cert, key);
}

std::shared_ptr<TestIdentity> TestCertificateAuthority::issueServerCertificate(const std::string& ipAddress) const {
  EVP_PKEY* key = newKey();
  X509* cert = newCertificate(ipAddress, key);
  X509_set_issuer_name(cert, X509_get_subject_name(mRoot->certificate()));
  addExtension(cert, mRoot->certificate(), NID_basic_constraints, "critical,CA:FALSE");
  addExtension(cert, mRoot->certificate(), NID_key_usage, "critical,digitalSignature,keyEncipherment");
  addExtension(cert, mRoot->certificate(), NID_ext_key_usage, "serverAuth");
  addExtension(cert, mRoot->certificate(), NID_authority_key_identifier, "keyid:always");
  addExtension(cert, mRoot->certificate(), NID_subject_alt_name, ("IP:" + ipAddress).c_str());
  if (!X509_sign(cert, mRoot->key(), EVP_sha256())) throw std::runtime_error("test leaf signing failed");
  return std::make_shared<TestIdentity>(cert, key);
}

}  // namespace testsupport
