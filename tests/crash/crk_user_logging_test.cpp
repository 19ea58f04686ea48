// User log lines, errors, custom exceptions and key-value sets in the process's report
// folder. Each test works on the stores the context set up and puts them back as found.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "crash/crk_context.h"
#include "crash/crk_exception.h"
#include "crash/crk_file_reader.h"
#include "crash/crk_memory.h"
#include "crash/crk_user_logging.h"
#include "crash_test_support.h"
#include "hex_text.h"
#include "platform/core/dispatch.h"

namespace {

using namespace telemetry;

size_t recordCount(const char* path) {
  auto all = CRKFileReadSections(path, false);
  return all ? all->size() : 0;
}

using testsupport::unhex;

void settle() { CRKLoggingQueue()->drain(); }

// A pair's files emptied and its active file and counter reset around each test.
struct PairScope {
  CRKUserLoggingABStorage* pair;
  CRKUserLoggingABStorage saved;
  // The context (and so the stores) exists before the store is copied.
  explicit PairScope(CRKUserLoggingABStorage* p) : pair((crashtest::contextReportFolder(), p)), saved(*pair) {
    settle();
    reset();
  }
  ~PairScope() {
    settle();
    *pair = saved;
    reset();
  }
  void reset() {
    CRKUnlinkIfExists(pair->aPath);
    CRKUnlinkIfExists(pair->bPath);
    *CRKUserLoggingActivePath(pair) = pair->aPath;
    if (pair->entryCounter) *pair->entryCounter = 0;
  }
};

struct StoreScope {
  CRKUserLoggingKVStorage* store;
  uint32_t* count;
  CRKUserLoggingKVStorage saved;
  StoreScope(CRKUserLoggingKVStorage* s, uint32_t* c)
      : store((crashtest::contextReportFolder(), s)), count(c), saved(*store) {
    settle();
    reset();
  }
  ~StoreScope() {
    settle();
    *store = saved;
    reset();
  }
  void reset() {
    CRKUnlinkIfExists(store->incrementalPath);
    CRKUnlinkIfExists(store->compactedPath);
    *count = 0;
  }
};

}  // namespace

TEST(CRKUserLoggingTest, ErrorsFillSixteenThenSwapDroppingTheOlderFile) {
  PairScope scope(CRKUserLoggingErrorPair());
  CRKUserLoggingErrorPair()->maxEntries = 16;
  Error error{"org.orrery.test", -7, "", {{"why", "because \"quoted\""}, {"n", 3}}};
  for (int i = 0; i < 17; ++i) CRKUserLoggingRecordError(error, {{"extra", true}});
  settle();
  EXPECT_EQ(recordCount(CRKUserLoggingErrorPair()->aPath), 16u);
  EXPECT_EQ(recordCount(CRKUserLoggingErrorPair()->bPath), 1u);
  auto all = CRKFileReadSections(CRKUserLoggingErrorPair()->bPath, false);
  const auto& e = (*all)[0]["error"];
  EXPECT_EQ(unhex(e["domain"]), "org.orrery.test");
  EXPECT_EQ(e["code"], -7);
  EXPECT_FALSE(e["stacktrace"].empty());
  ASSERT_EQ(e["info"].size(), 2u);
  EXPECT_EQ(unhex(e["info"][1][1]), "because \"quoted\"");
  EXPECT_EQ(unhex(e["extra_info"][0][1]), "true");
  // 16 more: the "a" file, full, is deleted when "b" fills.
  Error plain;
  plain.domain = "plain";
  for (int i = 0; i < 16; ++i) CRKUserLoggingRecordError(plain, nlohmann::json::object());
  settle();
  EXPECT_EQ(recordCount(CRKUserLoggingErrorPair()->aPath), 1u);
  EXPECT_EQ(recordCount(CRKUserLoggingErrorPair()->bPath), 16u);
  EXPECT_FALSE((*CRKFileReadSections(CRKUserLoggingErrorPair()->aPath, false))[0]["error"].contains("info"));
}

TEST(CRKUserLoggingTest, ErrorsAreNotWrittenWhenTheSwitchIsOff) {
  PairScope scope(CRKUserLoggingErrorPair());
  CRKUserLoggingErrorPair()->maxEntries = 0;
  Error error;
  error.domain = "d";
  error.code = 1;
  CRKUserLoggingRecordError(error, nlohmann::json::object());
  settle();
  EXPECT_EQ(access(CRKUserLoggingErrorPair()->aPath, F_OK), -1);
}

TEST(CRKUserLoggingTest, TheLogSwapsAfterTheLineThatPassesItsSize) {
  PairScope scope(CRKUserLoggingLogPair());
  CRKUserLoggingLogPair()->maxBytes = 1000;
  const std::string line(100, 'x');
  // Lines stay in "a" up to and including the one that makes it larger than the limit.
  size_t written = 0;
  for (off_t size = 0; size <= 1000; ++written) {
    ASSERT_EQ(access(CRKUserLoggingLogPair()->bPath, F_OK), -1) << written;
    CRKLog("%s %zu", line.c_str(), written);
    settle();
    struct stat st {};
    ASSERT_EQ(stat(CRKUserLoggingLogPair()->aPath, &st), 0);
    size = st.st_size;
  }
  EXPECT_GE(written, 2u);
  EXPECT_EQ(recordCount(CRKUserLoggingLogPair()->aPath), written);
  CRKLog("next with \"quotes\" and %s", "text");
  settle();
  auto b = CRKFileReadSections(CRKUserLoggingLogPair()->bPath, false);
  ASSERT_TRUE(b && b->size() == 1);
  EXPECT_EQ(unhex((*b)[0]["log"]["msg"]), "next with \"quotes\" and text");
  EXPECT_GT((*b)[0]["log"]["time"].get<uint64_t>(), 1600000000000u);
}

TEST(CRKUserLoggingTest, CustomExceptionsGoToTheirPairWithFramesOnlyWhenGiven) {
  PairScope scope(CRKUserLoggingCustomExceptionPair());
  CRKUserLoggingCustomExceptionPair()->maxEntries = 16;
  CRKExceptionRecord(kCRKExceptionCustom, "Name", "a \"reason\"", {}, false);
  CRKStackFrame frame;
  frame.address = 0x1234;
  frame.symbol = "f()";
  frame.lineNumber = 9;
  CRKExceptionRecord(kCRKExceptionJavaScript, "E", nullptr, {frame}, false);
  settle();
  auto all = CRKFileReadSections(CRKUserLoggingCustomExceptionPair()->aPath, false);
  ASSERT_TRUE(all && all->size() == 2);
  const auto& first = (*all)[0]["exception"];
  EXPECT_EQ(first["type"], "custom");
  EXPECT_EQ(unhex(first["reason"]), "a \"reason\"");
  EXPECT_FALSE(first.contains("frames"));
  const auto& second = (*all)[1]["exception"];
  EXPECT_EQ(second["type"], "javascript");
  EXPECT_TRUE(second["reason"].is_null());
  EXPECT_EQ(second["frames"][0]["pc"], 0x1234);
  EXPECT_EQ(unhex(second["frames"][0]["symbol"]), "f()");
  EXPECT_FALSE(second["frames"][0].contains("library"));
}

TEST(CRKUserLoggingTest, KeysCompactAtTheSixtyFourthWriteAndTheSnapshotKeepsTheMaximum) {
  StoreScope scope(CRKUserLoggingUserStore(), CRKUserLoggingUserCount());
  CRKUserLoggingUserStore()->maxEntries = 16;
  CRKUserLoggingRecordUserKeyValue(nullptr, "dropped");
  CRKUserLoggingRecordUserKeyValue("gone", "1");
  CRKUserLoggingRecordUserKeyValue("gone", std::nullopt);
  for (int i = 0; i < 61; ++i) CRKUserLoggingRecordUserKeyValue(("k" + std::to_string(i % 20)).c_str(), std::to_string(i));
  settle();
  EXPECT_EQ(recordCount(CRKUserLoggingUserStore()->incrementalPath), 63u);
  CRKUserLoggingRecordUserKeyValue("last", "v");  // the 64th
  settle();
  EXPECT_EQ(access(CRKUserLoggingUserStore()->incrementalPath, F_OK), -1);
  const auto snapshot = CRKFileReadSections(CRKUserLoggingUserStore()->compactedPath, false);
  ASSERT_TRUE(snapshot);
  EXPECT_EQ(snapshot->size(), 16u);
  for (const auto& r : *snapshot) EXPECT_NE(unhex(r["kv"]["key"]), "gone");
  CRKUserLoggingRecordUserKeyValue("after", "x");  // the 65th starts a new log
  settle();
  EXPECT_EQ(recordCount(CRKUserLoggingUserStore()->incrementalPath), 1u);
  const auto pairs = CRKUserLoggingReadKeyValues(CRKUserLoggingUserStore());
  EXPECT_EQ(pairs.at(CRKHexEncodeCString("after")), CRKHexEncodeCString("x"));
}

TEST(CRKUserLoggingTest, ACompactionThatCannotWriteKeepsTheIncrementalLog) {
  StoreScope scope(CRKUserLoggingUserStore(), CRKUserLoggingUserCount());
  CRKUserLoggingUserStore()->maxEntries = 16;
  CRKUserLoggingRecordUserKeyValue("kept", "1");
  settle();
  const std::string blocker = std::string(CRKUserLoggingUserStore()->compactedPath) + ".tmp";
  ASSERT_EQ(mkdir(blocker.c_str(), 0700), 0);  // the temporary snapshot cannot be made
  CRKLoggingQueue()->sync([] { CRKUserLoggingCompactKVEntries(CRKUserLoggingUserStore()); });
  rmdir(blocker.c_str());
  EXPECT_EQ(recordCount(CRKUserLoggingUserStore()->incrementalPath), 1u);
  EXPECT_EQ(CRKUserLoggingReadKeyValues(CRKUserLoggingUserStore()).count(CRKHexEncodeCString("kept")), 1u);
}
