#include "crash/crk_application.h"

#include "crash/crk_file.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "platform/core/dispatch.h"
#include "sdk/core/operation_queue.h"
#include "sdk/identity/main_bundle.h"

namespace telemetry {
namespace {

class CRKApplicationTest : public ::testing::Test {
 protected:
  void TearDown() override { MainBundle::shared().setInfoDictionary(std::nullopt); }
  void info(nlohmann::json v) { MainBundle::shared().setInfoDictionary(std::move(v)); }
};

TEST_F(CRKApplicationTest, BundleFactsComeFromThePropertyList) {
  info({{"CFBundleIdentifier", "a/b"}, {"CFBundleVersion", "55"}, {"CFBundleShortVersionString", "1.5"}});
  EXPECT_EQ(CRKApplicationGetBundleIdentifier(), "a_b");
  EXPECT_EQ(CRKApplicationGetBuildVersion(), "55");
  EXPECT_EQ(CRKApplicationGetDisplayVersion(), "1.5");
  EXPECT_EQ(CRKApplicationGetName(), "55") << "no display name and no name: the build version";
  info({{"CFBundleName", "Orrery"}, {"CFBundleVersion", "55"}});
  EXPECT_EQ(CRKApplicationGetName(), "Orrery");
  EXPECT_FALSE(CRKApplicationIsExtension());

  info({{"NSExtension", "not a dictionary"}});
  EXPECT_EQ(CRKApplicationExtensionPointIdentifier(), std::nullopt);
  info({{"NSExtension", {{"NSExtensionPointIdentifier", 3}}}});
  EXPECT_EQ(CRKApplicationExtensionPointIdentifier(), std::nullopt);
  info({{"NSExtension", {{"NSExtensionPointIdentifier", "com.example.point"}}}});
  EXPECT_EQ(CRKApplicationExtensionPointIdentifier(), "com.example.point");
}

TEST_F(CRKApplicationTest, IdentifiersAndDigestsHaveTheirTextForms) {
  const std::string uuid = CRKGenerateUUIDString();
  ASSERT_EQ(uuid.size(), 36u);
  EXPECT_EQ(CRKNormalizeUUIDString(uuid).size(), 32u);
  EXPECT_EQ(CRKNormalizeUUIDString("AB-CD-ef"), "abcdef");
  EXPECT_NE(CRKGenerateNormalizedUUIDString(), CRKGenerateNormalizedUUIDString());
  EXPECT_EQ(CRKSHA1HexString("abc", 3), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(CRKSHA1HexStringFromData({}), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(CRKHexStringFromData({0x00, 0xab, 0x10}), "00ab10");
  char out[7];
  CRKBytesToHexString("\x01\xfe\x7f", 3, out);
  EXPECT_STREQ(out, "01fe7f");
}

TEST_F(CRKApplicationTest, ActivitiesAreTokensAndTheBlockRunsInside) {
  const auto token = CRKApplicationBeginActivity(kCRKActivitySuddenTerminationDisabled, "Sending reports");
  EXPECT_EQ(token["options"], 0x4000);
  EXPECT_EQ(token["reason"], "Sending reports");
  bool ran = false;
  CRKApplicationPerformWithActivity(0xc000, "work", [&] { ran = true; });
  EXPECT_TRUE(ran);
}

struct Completion {
  std::mutex mutex;
  std::condition_variable cond;
  bool done = false;
  bool result = false;
  void finish(bool r) {
    std::lock_guard<std::mutex> lock(mutex);
    done = true;
    result = r;
    cond.notify_all();
  }
  bool wait() {
    std::unique_lock<std::mutex> lock(mutex);
    cond.wait(lock, [this] { return done; });
    return result;
  }
};

class RecordingOpener : public CRKURLOpener {
 public:
  void openURL(const std::string& url, std::function<void(bool)> completion) override {
    mURL = url;
    completion(true);
  }
  std::string mURL;
};

TEST_F(CRKApplicationTest, URLsGoToTheOpenerOrToXdgOpen) {
  RecordingOpener opener;
  Completion viaOpener;
  CRKApplicationOpenURL("https://example.com/beta", &opener, [&](bool ok) { viaOpener.finish(ok); });
  EXPECT_TRUE(viaOpener.wait());
  EXPECT_EQ(opener.mURL, "https://example.com/beta");

  // Without xdg-open on the search path the opening fails, and says so.
  const char* path = std::getenv("PATH");
  const std::string saved = path ? path : "";
  setenv("PATH", "/nonexistent", 1);
  Completion viaSystem;
  CRKApplicationOpenURL("https://example.com", nullptr, [&](bool ok) { viaSystem.finish(ok); });
  const bool opened = viaSystem.wait();
  setenv("PATH", saved.c_str(), 1);
  EXPECT_FALSE(opened);
}

TEST_F(CRKApplicationTest, DelayedBlocksRunOnTheirQueue) {
  platform::SerialQueue queue("crash.test.delay");
  Completion ran;
  CRKDispatchAfter(queue, 0.001f, [&] { ran.finish(queue.isCurrent()); });
  EXPECT_TRUE(ran.wait());
  auto operations = std::make_shared<OperationQueue>("crash.test.operations", 1);
  Completion added;
  CRKAddOperationAfterDelay(operations, 0.001f, [&] { added.finish(true); });
  EXPECT_TRUE(added.wait());
  operations->waitUntilAllOperationsAreFinished();
}

}  // namespace
}  // namespace telemetry
