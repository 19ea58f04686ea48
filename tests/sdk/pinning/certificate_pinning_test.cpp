#include <gtest/gtest.h>

#include <openssl/pem.h>
#include <openssl/x509.h>

#include <dirent.h>

#include <atomic>
#include <cstdio>
#include <latch>
#include <thread>

#include "sdk/core/file_io.h"
#include "sdk/pinning/pinned_roots_der.h"
#include "sdk/pinning/tel_certificate_pinner.h"
#include "sdk/pinning/tel_pinned_certificates.h"
#include "support/https_test_ca.h"

using namespace telemetry;

namespace {

std::string rootsDir() {
  std::string testData = ORRERY_TEST_DATA;  // <repository>/tests/sdk/data
  return testData.substr(0, testData.rfind("/tests/sdk/data")) + "/data/pinned-roots";
}

std::string commonName(const Certificate& c) {
  char cn[256] = {};
  X509_NAME_get_text_by_NID(X509_get_subject_name(c.x509()), NID_commonName, cn, sizeof cn);
  return cn;
}

std::shared_ptr<const Certificate> certificate(const testsupport::TestIdentity& identity) {
  return Certificate::createWithData(identity.der());
}

// A certificate of the system's store that the system accepts as a server on its own and
// that is not one of the eight pinned roots.
std::shared_ptr<const Certificate> systemTrustedUnpinned() {
  const CertificateList pins = TELPinnedCertificates();
  DIR* dir = opendir("/etc/ssl/certs");
  if (!dir) return nullptr;
  std::shared_ptr<const Certificate> found;
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name.size() < 5 || name.substr(name.size() - 4) != ".pem") continue;
    FILE* f = std::fopen(("/etc/ssl/certs/" + name).c_str(), "r");
    if (!f) continue;
    X509* x = PEM_read_X509(f, nullptr, nullptr, nullptr);
    std::fclose(f);
    auto c = Certificate::createWithX509(x);
    X509_free(x);
    if (!c) continue;
    bool pinned = false;
    for (const auto& p : pins) pinned = pinned || p->data() == c->data();
    ServerTrust system({c}, "");
    TrustResult result = TrustResult::Invalid;
    if (!pinned && system.evaluate(result) == kTrustStatusSuccess && result == TrustResult::Unspecified) {
      found = c;
      break;
    }
  }
  closedir(dir);
  return found;
}

struct Outcome {
  bool accepted = false;
  int calls = 0;
  URLSessionAuthChallengeDisposition disposition = URLSessionAuthChallengeDisposition::PerformDefaultHandling;
  std::optional<URLCredential> credential;
};

Outcome challenge(const TELCertificatePinner& pinner, std::shared_ptr<ServerTrust> trust) {
  Outcome o;
  URLAuthenticationChallenge c;
  c.protectionSpace.host = trust ? trust->host() : "example.test";
  c.protectionSpace.authenticationMethod = trust ? kAuthenticationMethodServerTrust : "HTTPBasic";
  c.protectionSpace.serverTrust = trust;
  o.accepted = pinner.handleChallenge(c, nullptr, [&](URLSessionAuthChallengeDisposition d, std::optional<URLCredential> cred) {
    ++o.calls;
    o.disposition = d;
    o.credential = std::move(cred);
  });
  return o;
}

}  // namespace

TEST(PinnedCertificates, AreTheEightRootsByteForByte) {
  const size_t lengths[] = {1082, 1173, 969, 1239, 1054, 1053, 1054, 1054};
  const char* names[] = {"AddTrust External CA Root",
                         "Entrust Root Certification Authority",
                         "DigiCert High Assurance EV Root CA",
                         "VeriSign Class 3 Public Primary Certification Authority - G5",
                         "VeriSign Class 1 Public Primary Certification Authority - G3",
                         "VeriSign Class 2 Public Primary Certification Authority - G3",
                         "VeriSign Class 3 Public Primary Certification Authority - G3",
                         "VeriSign Class 4 Public Primary Certification Authority - G3"};
  CertificateList pins = TELPinnedCertificates();
  ASSERT_EQ(pins.size(), 8u);
  for (size_t i = 0; i < 8; ++i) {
    const auto& root = pinned_roots::kRoots[i];
    auto file = fileio::readFile(rootsDir() + "/" + root.fileName);
    ASSERT_TRUE(file.has_value()) << root.fileName;
    EXPECT_EQ(std::vector<uint8_t>(root.bytes, root.bytes + root.length), *file) << root.fileName;
    EXPECT_EQ(root.length, lengths[i]);
    EXPECT_EQ(pins[i]->data(), *file);
    EXPECT_EQ(commonName(*pins[i]), names[i]);
  }
  EXPECT_EQ(TELPinnedCertificates()[0].get(), pins[0].get());  // made once
  EXPECT_EQ(TELCertificatePinner::createCertificationWithData(pinned_roots::kRoots[0].bytes, 100), nullptr);
}

TEST(CertificatePinner, AcceptsAChainOnlyWhenItsRootIsPinned) {
  testsupport::TestCertificateAuthority ca("Pinning Test Root");
  auto leaf = ca.issueServerCertificate("127.0.0.1");
  auto root = certificate(ca.root());
  auto chain = [&] { return std::make_shared<ServerTrust>(CertificateList{certificate(*leaf), root}, "127.0.0.1"); };

  TELCertificatePinner pinned({root});
  auto trust = chain();
  Outcome ok = challenge(pinned, trust);
  EXPECT_TRUE(ok.accepted);
  EXPECT_EQ(ok.calls, 1);
  EXPECT_EQ(ok.disposition, URLSessionAuthChallengeDisposition::UseCredential);
  ASSERT_TRUE(ok.credential.has_value());
  EXPECT_EQ(ok.credential->trust, trust);

  // The same chain against the SDK's own pins, against no pins, and for another host.
  Outcome refused = challenge(TELCertificatePinner(TELPinnedCertificates()), chain());
  EXPECT_FALSE(refused.accepted);
  EXPECT_EQ(refused.disposition, URLSessionAuthChallengeDisposition::CancelAuthenticationChallenge);
  EXPECT_FALSE(refused.credential.has_value());
  TELCertificatePinner empty({});
  TrustResult result = TrustResult::Proceed;
  auto t = chain();
  EXPECT_EQ(empty.evaluateTrust(*t, result), kTrustStatusSuccess);
  EXPECT_EQ(result, TrustResult::Invalid);
  EXPECT_FALSE(challenge(empty, chain()).accepted);
  auto otherHost = std::make_shared<ServerTrust>(CertificateList{certificate(*leaf), root}, "10.9.8.7");
  EXPECT_FALSE(challenge(pinned, otherHost).accepted);

  // A root that is not pinned, even one presented by the server itself.
  testsupport::TestCertificateAuthority stranger("Someone Else");
  EXPECT_FALSE(challenge(TELCertificatePinner({certificate(stranger.root())}), chain()).accepted);
}

TEST(CertificatePinner, RefusesWhatOnlyTheSystemTrusts) {
  auto trusted = systemTrustedUnpinned();
  if (!trusted) GTEST_SKIP() << "no certificate in the system store passes on its own";
  TELCertificatePinner pinner(TELPinnedCertificates());
  EXPECT_FALSE(challenge(pinner, std::make_shared<ServerTrust>(CertificateList{trusted}, "")).accepted);
  // A pinned root presented the same way passes.
  auto digicert = TELPinnedCertificates()[2];
  EXPECT_TRUE(challenge(pinner, std::make_shared<ServerTrust>(CertificateList{digicert}, "")).accepted);
}

// Sessions on several threads share the pinned roots; the first evaluations of a root race
// each other when they meet it at once, so each round starts with roots nobody evaluated.
TEST(CertificatePinner, EvaluatesTheSameRootsOnManyThreadsAtOnce) {
  testsupport::TestCertificateAuthority ca("Shared Root");
  auto leaf = ca.issueServerCertificate("127.0.0.1");
  constexpr int kThreads = 8;
  for (int round = 0; round < 4; ++round) {
    TELCertificatePinner pinner({certificate(ca.root())});
    std::latch start(kThreads);
    std::atomic<int> accepted{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
      threads.emplace_back([&] {
        // Each connection brings its own chain, the root among it as servers often send.
        auto trust = std::make_shared<ServerTrust>(CertificateList{certificate(*leaf), pinner.certificates()[0]},
                                                   "127.0.0.1");
        start.arrive_and_wait();
        if (challenge(pinner, trust).accepted) ++accepted;
      });
    for (auto& t : threads) t.join();
    EXPECT_EQ(accepted.load(), kThreads) << "round " << round;
  }
}

TEST(CertificatePinner, CancelsChallengesWithoutAServerTrust) {
  Outcome o = challenge(TELCertificatePinner(TELPinnedCertificates()), nullptr);
  EXPECT_FALSE(o.accepted);
  EXPECT_EQ(o.calls, 1);
  EXPECT_EQ(o.disposition, URLSessionAuthChallengeDisposition::CancelAuthenticationChallenge);
}

TEST(PinnedCertificates, CanBeReplacedForTests) {
  testsupport::TestCertificateAuthority ca("Replacement Root");
  auto root = certificate(ca.root());
  TELSetPinnedCertificatesForTesting(CertificateList{root});
  ASSERT_EQ(TELPinnedCertificates().size(), 1u);
  EXPECT_EQ(TELPinnedCertificates()[0], root);
  TELSetPinnedCertificatesForTesting(std::nullopt);
  EXPECT_EQ(TELPinnedCertificates().size(), 8u);
}
