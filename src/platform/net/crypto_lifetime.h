#pragma once
// OpenSSL frees its tables in an exit handler, while the threads of transfers, pinning and
// libcurl's first set-up may still be using them: a quit during the first download then
// faulted inside exit and left a crash record.

namespace platform {

// Keeps OpenSSL's tables until the process ends. Called before anything uses OpenSSL (first
// thing in main); answers false when OpenSSL could not be set up.
bool keepCryptoThroughExit();

}  // namespace platform
