#include "sdk/pinning/tel_pinned_certificates.h"

#include <mutex>

#include "sdk/core/console.h"
#include "sdk/pinning/pinned_roots_der.h"
#include "sdk/pinning/tel_certificate_pinner.h"

namespace telemetry {

namespace {

std::mutex gReplacementMutex;
std::optional<CertificateList> gReplacement;

const CertificateList& builtInRoots() {
  static const CertificateList roots = [] {
    CertificateList list;
    for (const auto& root : pinned_roots::kRoots) {
      auto certificate = TELCertificatePinner::createCertificationWithData(root.bytes, root.length);
      if (certificate)
        list.push_back(std::move(certificate));
      else
        consoleLog(std::string("[Telemetry] Unable to read pinned certificate ") + root.fileName);
    }
    return list;
  }();
  return roots;
}

}  // namespace

CertificateList TELPinnedCertificates() {
  {
    std::lock_guard lock(gReplacementMutex);
    if (gReplacement) return *gReplacement;
  }
  return builtInRoots();
}

void TELSetPinnedCertificatesForTesting(std::optional<CertificateList> certificates) {
  std::lock_guard lock(gReplacementMutex);
  gReplacement = std::move(certificates);
}

}  // namespace telemetry
