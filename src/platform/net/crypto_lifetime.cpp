#include "platform/net/crypto_lifetime.h"

#include <openssl/crypto.h>

namespace platform {

bool keepCryptoThroughExit() {
  // The first set-up decides whether the exit handler is registered; libcurl's own set-up and
  // every later one leave that decision as it is.
  return OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr) == 1;
}

}  // namespace platform
