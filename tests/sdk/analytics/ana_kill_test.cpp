// Launches killed with SIGKILL while they write, rotate, compress, package and upload: after
// them, a clean launch must deliver every event that had been written as a whole line, send
// an event twice only inside a package the server had already answered (its one name), and
// never send a cut body or a cut line.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "analytics/analytics_test_support.h"
#include "net/virtual_retry_queue.h"
#include "sdk/analytics/ana_analytics_controller.h"
#include "sdk/analytics/ana_logger.h"
#include "sdk/pinning/tel_pinned_certificates.h"
#include "support/https_test_server.h"

namespace telemetry {
namespace {

using testsupport::HttpsTestRequest;
using testsupport::HttpsTestResponse;
using testsupport::HttpsTestServer;
using testsupport::TestCertificateAuthority;

// The ids of the "custom" events in whole lines of the engine's files: logs (a cut last line
// does not count), compressed logs and packages. Any other line is reported as bad.
const char* const kWrittenIds = R"PY(
import email, gzip, json, os, sys
def ids(text, whole_only):
    lines = text.split('\n')
    if whole_only: lines = lines[:-1]
    out = []
    for line in lines:
        if not line: continue
        f = line.split('\t')
        if len(f) != 4: print('BAD ' + repr(line[:80])); continue
        try: payload = json.loads(f[3])
        except Exception: print('BAD ' + repr(line[:80])); continue
        if f[1] == 'custom': out.append(payload['eventId'])
    return out
def package(raw, boundary):
    msg = email.message_from_bytes(b'Content-Type: multipart/form-data; boundary=' + boundary.encode() + b'\r\n\r\n' + raw)
    return [gzip.decompress(p.get_payload(decode=True)).decode() for p in msg.walk() if not p.is_multipart()]
folder = sys.argv[1]
for name in sorted(os.listdir(folder)):
    path = os.path.join(folder, name)
    base, ext = os.path.splitext(name)
    raw = open(path, 'rb').read()
    try:
        if ext == '.log': found = ids(raw.decode(), True)
        elif ext == '.gz': found = ids(gzip.decompress(raw).decode(), False)
        elif ext == '.multipartmime': found = [i for t in package(raw, base) for i in ids(t, False)]
        else: continue
    except Exception as e:
        print('CUT ' + name + ' ' + str(e)); continue
    for i in found: print('ID ' + i + ' ' + name)
)PY";

// Each received body: "BODY <boundary>", then its ids; a body that does not decode is "CUT".
const std::string kReceivedIds = std::string(test::kReceivedBodiesPython) + R"PY(
for name, ctype, msg in received_bodies(sys.argv[1]):
    boundary = ctype.split('boundary=')[-1]
    try:
        texts = [gzip.decompress(p.get_payload(decode=True)).decode() for p in msg.walk() if not p.is_multipart()]
        if not texts: raise ValueError('no part')
    except Exception as e:
        print('CUT ' + name + ' ' + str(e)); continue
    print('BODY ' + boundary)
    for text in texts:
        for line in text.split('\n'):
            if not line: continue
            f = line.split('\t')
            try:
                payload = json.loads(f[3]) if len(f) == 4 else None
            except Exception:
                payload = None
            if payload is None: print('BAD ' + repr(line[:80])); continue
            if f[1] == 'custom': print('ID ' + payload['eventId'])
)PY";
struct Scan {
  std::set<std::string> ids;
  std::map<std::string, std::string> fileOfId;  // where an id was seen (engine files only)
  std::vector<std::string> problems;            // cut files and bad lines
};

Scan scan(const std::string& script, const std::string& folder, std::map<std::string, std::set<std::string>>* bodies) {
  Scan result;
  std::istringstream out(test::runPython(script, {folder}));
  std::string boundary;
  for (std::string line; std::getline(out, line);) {
    if (line.rfind("ID ", 0) == 0) {
      const std::string rest = line.substr(3);
      const std::string id = rest.substr(0, rest.find(' '));
      result.ids.insert(id);
      if (rest.size() > id.size()) result.fileOfId.emplace(id, rest.substr(id.size() + 1));
      if (bodies) (*bodies)[id].insert(boundary);
    } else if (line.rfind("BODY ", 0) == 0) {
      boundary = line.substr(5);
    } else {
      result.problems.push_back(line);
    }
  }
  return result;
}

class AnalyticsKillTest : public ::testing::Test {
 protected:
  // The clean launch starts an upload per package left, all at once.
  static HttpsTestServer::Limits manyConnections() {
    HttpsTestServer::Limits limits;
    limits.maxConnections = 4096;
    return limits;
  }
  AnalyticsKillTest() : ca("Analytics Kill Root"), server(ca, manyConnections()) {
    std::filesystem::create_directories(received);
    const auto der = ca.rootDER();
    test::writeText(caPath, std::string(der.begin(), der.end()));
    server.setHandler([this](const HttpsTestRequest& r) {
      std::lock_guard lock(mutex);
      const std::string base = received + "/" + std::to_string(100000 + ++requests);
      test::writeText(base + ".bin", r.body);
      test::writeText(base + ".ct", r.header("Content-Type").value_or(""));
      return HttpsTestResponse::withStatus(202);
    });
  }

  // One launch, killed once its engine came up and it recorded `events` events: a count, not a
  // time, so a loaded machine's launches record as much as an idle one's.
  void launchAndKill(int events) {
    int progress[2];
    ASSERT_EQ(::pipe(progress), 0);
    const std::string url = server.origin() + "/spi/v2/events";
    const std::string fd = std::to_string(progress[1]);
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(progress[0]);
      ::execl(ANALYTICS_KILL_CHILD, ANALYTICS_KILL_CHILD, root.path().c_str(), url.c_str(), caPath.c_str(), fd.c_str(),
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(progress[1]);
    // The engine's byte, then one per event.
    int received = 0;
    char bytes[256];
    while (received < events + 1) {
      const ssize_t n = ::read(progress[0], bytes, std::min<size_t>(sizeof bytes, events + 1 - received));
      if (n <= 0) break;
      received += int(n);
    }
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(progress[0]);
    ASSERT_EQ(received, events + 1) << "the child ended early, status " << status;
  }

  static constexpr int kDrainSeconds = 60;
  // A start keeps this many packages, the newest, and deletes the rest.
  static constexpr size_t kPackagesAStartKeeps = 100;

  // A launch that is not killed, run until every package it found was answered and none is
  // left on disk but its own log; a package kept after a failed transfer counts as left.
  void cleanLaunch(const std::string& events) {
    test::VirtualRetryQueue retries;
    ANAAnalyticsController::Environment env;
    env.firstInstall = false;
    env.facts = ANAMetadata::SDKFacts{"kill-key", "run-clean", "install-1", "instance-1"};
    env.retryQueue = &retries;
    TELSetPinnedCertificatesForTesting(CertificateList{Certificate::createWithData(ca.rootDER())});
    auto controller = ANAAnalyticsController::initWithBetaToken(std::nullopt, root.path(), env);
    controller->initializeSettingsIfNeededWithTelemetrySettings(
        std::make_shared<const nlohmann::json>(nlohmann::json{{"features", {{"collect_analytics", true}}},
                                                              {"analytics",
                                                               {{"url", server.origin() + "/spi/v2/events"},
                                                                {"max_byte_size_per_file", 2000},
                                                                {"max_pending_send_file_count", 100000}}}}));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kDrainSeconds);
    std::set<std::string> inFlight;
    std::vector<std::string> left;
    bool idle = false;
    for (;;) {
      controller->drain();
      inFlight = controller->uploader()->namesInFlight();
      // Once idle, this launch does nothing more: a package still on disk waits for another.
      idle = inFlight.empty() && controller->eventQueue()->operationCount() == 0;
      std::string current;
      controller->eventQueue()
          ->addOperationWithBlock([&] { current = controller->currentLogURL(); })
          ->waitUntilFinished();
      left = awaitingSend(events, current);
      if (idle || std::chrono::steady_clock::now() > deadline) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    controller.reset();
    TELSetPinnedCertificatesForTesting(std::nullopt);
    std::string names;
    for (const auto& name : left) names += " " + name;
    for (const auto& name : inFlight) names += " " + name + " (in flight)";
    ASSERT_TRUE(left.empty() && inFlight.empty())
        << "not drained" << (idle ? ", the launch idle:" : " within " + std::to_string(kDrainSeconds) + " s:") << names;
  }

  // The logs, compressed logs and packages in the events folder, but for `except`.
  static std::vector<std::string> awaitingSend(const std::string& events, const std::string& except) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(events)) {
      const auto extension = entry.path().extension();
      if (entry.path() != except && (extension == ".log" || extension == ".gz" || extension == ".multipartmime"))
        names.push_back(entry.path().filename().string());
    }
    return names;
  }

  test::ScratchFolder root;
  test::ScratchFolder bodies;
  std::string received = bodies / "received";
  std::string caPath = bodies / "root.der";
  TestCertificateAuthority ca;
  HttpsTestServer server;
  std::mutex mutex;
  int requests = 0;
};

TEST_F(AnalyticsKillTest, FiftyKilledLaunchesLoseNoWrittenEventAndRepeatOnlyAnsweredPackages) {
  const std::string events = ANAAnalyticsController::eventDirectoryForRootDirectory(root.path());
  std::set<std::string> written;
  std::map<std::string, std::string> seenIn;
  std::vector<std::string> problems;
  std::mt19937 seeded(20261207);
  std::uniform_int_distribution<int> eventsBeforeKill(0, 200);
  for (int launch = 0; launch < 50; ++launch) {
    ASSERT_NO_FATAL_FAILURE(launchAndKill(eventsBeforeKill(seeded)));
    Scan left = scan(kWrittenIds, events, nullptr);
    written.insert(left.ids.begin(), left.ids.end());
    for (const auto& [id, file] : left.fileOfId) seenIn.emplace(id, "launch " + std::to_string(launch) + " " + file);
    for (const auto& p : left.problems) problems.push_back("launch " + std::to_string(launch) + ": " + p);
    // Killed launches of a loaded machine rarely see an answer, so their packages pile up: a
    // launch let live sends them before a start would delete the oldest.
    if (awaitingSend(events, "").size() > kPackagesAStartKeeps / 2) {
      ASSERT_NO_FATAL_FAILURE(cleanLaunch(events));
    }
  }
  // What reached the server meanwhile was written too.
  Scan sent = scan(kReceivedIds, received, nullptr);
  written.insert(sent.ids.begin(), sent.ids.end());
  ASSERT_GT(written.size(), 1000u) << "the launches recorded too little to mean anything";

  // A clean launch sends what the killed ones left.
  ASSERT_NO_FATAL_FAILURE(cleanLaunch(events));

  std::map<std::string, std::set<std::string>> packagesOfId;
  Scan delivered = scan(kReceivedIds, received, &packagesOfId);
  for (const auto& p : delivered.problems) problems.push_back("received: " + p);
  EXPECT_TRUE(problems.empty()) << problems.size() << " problems, first: " << problems.front();
  size_t lost = 0;
  std::map<std::string, int> lostFrom;  // file -> lost events written in it
  for (const auto& id : written) {
    if (delivered.ids.count(id)) continue;
    ++lost;
    ++lostFrom[seenIn.count(id) ? seenIn[id] : "a body sent"];
  }
  std::string where;
  for (const auto& [file, n] : lostFrom) where += "\n  " + std::to_string(n) + " first seen in " + file;
  EXPECT_EQ(lost, 0u) << "of " << written.size() << " written events:" << where;
  size_t repeatedAcrossPackages = 0;
  for (const auto& [id, packages] : packagesOfId) repeatedAcrossPackages += packages.size() > 1;
  EXPECT_EQ(repeatedAcrossPackages, 0u) << "an event went out in two different packages";
}

}  // namespace
}  // namespace telemetry
