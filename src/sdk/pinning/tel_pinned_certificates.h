#pragma once
// The fixed set of root certificates the SDK trusts for its own service, in place of the
// roots the system trusts.

#include <optional>

#include "sdk/session/certificate.h"

namespace telemetry {

// The eight pinned roots, made once on first use (thread-safe), or the replacement set
// while one is installed.
CertificateList TELPinnedCertificates();

// Installs another pin set for every later TELPinnedCertificates() call (tests that talk
// to servers with roots of their own); nothing restores the eight roots.
void TELSetPinnedCertificatesForTesting(std::optional<CertificateList> certificates);

}  // namespace telemetry
