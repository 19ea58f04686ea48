#include "sdk/identity/encoding.h"

// The one-shot SHA1() and RAND_bytes() of OpenSSL 3 go through its provider machinery, whose
// first use reads the system's OpenSSL configuration and seeds a generator: about 2 ms on the
// main thread at every start, for identifiers made before the first window. The digest's own
// functions and the kernel's generator need neither.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>
#include <sys/random.h>

#include <cerrno>
#include <cstring>
#include <random>

namespace telemetry {

void TELHexEncodeBytes(const void* bytes, size_t n, char* out) {
  static constexpr char kHex[] = "0123456789abcdef";
  if (!out) return;
  std::memset(out, 0, 2 * n + 1);
  if (!bytes || n == 0) return;
  const auto* p = static_cast<const uint8_t*>(bytes);
  for (size_t i = 0; i < n; ++i) {
    out[2 * i] = kHex[p[i] >> 4];
    out[2 * i + 1] = kHex[p[i] & 0x0f];
  }
}

std::string TELHexStringFromData(const std::vector<uint8_t>& data) {
  std::string out(2 * data.size() + 1, '\0');
  TELHexEncodeBytes(data.data(), data.size(), out.data());
  out.resize(2 * data.size());
  return out;
}

std::string TELSHA1HexStringFromBytes(const void* bytes, uint32_t count) {
  unsigned char digest[SHA_DIGEST_LENGTH];
  static const unsigned char kNothing = 0;
  SHA_CTX context;
  SHA1_Init(&context);
  SHA1_Update(&context, bytes ? static_cast<const unsigned char*>(bytes) : &kNothing, bytes ? count : 0);
  SHA1_Final(digest, &context);
  char out[2 * SHA_DIGEST_LENGTH + 1];
  TELHexEncodeBytes(digest, sizeof digest, out);
  return out;
}

std::string TELSHA1HexStringFromData(const std::vector<uint8_t>& data) {
  return TELSHA1HexStringFromBytes(data.data(), static_cast<uint32_t>(data.size()));
}

std::string TELSHA1HexStringFromData(const std::string& data) {
  return TELSHA1HexStringFromBytes(data.data(), static_cast<uint32_t>(data.size()));
}

std::string TELHexStringFromUUIDBytes(const uint8_t uuid[16]) {
  char out[33];
  TELHexEncodeBytes(uuid, uuid ? 16 : 0, out);
  return out;
}

std::string TELGenerateUUIDString() {
  uint8_t b[16];
  ssize_t got = -1;
  do {
    got = getrandom(b, sizeof b, 0);
  } while (got < 0 && errno == EINTR);
  if (got != static_cast<ssize_t>(sizeof b)) {
    std::random_device rd;  // another source of the system's entropy, when the call has none to give
    for (auto& x : b) x = static_cast<uint8_t>(rd());
  }
  b[6] = static_cast<uint8_t>((b[6] & 0x0f) | 0x40);  // version 4
  b[8] = static_cast<uint8_t>((b[8] & 0x3f) | 0x80);  // variant 1
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(36);
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
    out += kHex[b[i] >> 4];
    out += kHex[b[i] & 0x0f];
  }
  return out;
}

void TELEnumerateDataByteRanges(const std::vector<uint8_t>& data,
                                const std::function<void(const uint8_t*, TELByteRange, bool*)>& block) {
  if (!block) return;
  bool stop = false;
  block(data.data(), TELByteRange{0, data.size()}, &stop);
}

}  // namespace telemetry
