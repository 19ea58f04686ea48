// A launch of an application that records events as fast as its engine writes them, with small
// logs so it rotates, compresses, packages and uploads all the time; the kill test ends it with
// SIGKILL at a point of its choosing.
//
//   ana_kill_child <root> <events url> <pinned root DER file> <progress fd>
//
// Writes one byte to <progress fd> once the engine runs, then records until killed, writing one
// more byte after each event it recorded.

#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/core/notification_center.h"
#include "sdk/analytics/ana_analytics_controller.h"
#include "sdk/analytics/ana_custom_event.h"
#include "sdk/pinning/tel_pinned_certificates.h"

int main(int argc, char** argv) {
  using namespace telemetry;
  if (argc != 5) return 2;
  const std::string root = argv[1], url = argv[2];
  std::ifstream caFile(argv[3], std::ios::binary);
  std::vector<std::uint8_t> der((std::istreambuf_iterator<char>(caFile)), std::istreambuf_iterator<char>());
  TELSetPinnedCertificatesForTesting(CertificateList{Certificate::createWithData(der)});

  ANAAnalyticsController::Environment env;
  env.firstInstall = false;
  env.facts = ANAMetadata::SDKFacts{"kill-key", "run-" + std::to_string(::getpid()), "install-1", "instance-1"};
  auto controller = ANAAnalyticsController::initWithBetaToken(std::nullopt, root, env);
  controller->initializeSettingsIfNeededWithTelemetrySettings(std::make_shared<const nlohmann::json>(nlohmann::json{
      {"features", {{"collect_analytics", true}}},
      {"analytics", {{"url", url},
                     {"max_byte_size_per_file", 6000},
                     {"flush_interval_secs", 0},
                     {"max_pending_send_file_count", 100000}}}}));
  controller->drain();
  const int progress = std::stoi(argv[4]);
  if (::write(progress, "r", 1) != 1) return 3;

  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([controller, t, progress] {
      for (long i = 0;; ++i) {
        controller->logEvent(ANACustomEvent::create("k", nlohmann::ordered_json{{"t", t}, {"i", i}}));
        if (::write(progress, "e", 1) != 1) return;
        // A steady pace: kills land in every stage rather than in a backlog.
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (t == 0 && i % 20 == 19)
          platform::NotificationCenter::defaultCenter().post("NSApplicationWillResignActiveNotification");
      }
    });
  }
  for (auto& thread : threads) thread.join();
  return 0;
}
