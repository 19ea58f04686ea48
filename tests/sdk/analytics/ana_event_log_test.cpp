#include <gtest/gtest.h>

#include <sys/utsname.h>

#include <set>
#include <thread>

#include "analytics_test_support.h"
#include "sdk/analytics/ana_crash_event.h"
#include "sdk/analytics/ana_crash_metadata.h"
#include "sdk/analytics/ana_custom_event.h"
#include "sdk/analytics/ana_file_utils.h"
#include "sdk/analytics/ana_lifecycle_event.h"
#include "sdk/analytics/ana_metadata.h"
#include "sdk/analytics/ana_write_event_operation.h"
#include "sdk/core/json_text.h"
#include "sdk/core/operation_queue.h"

using namespace telemetry;
using Json = nlohmann::ordered_json;

namespace {

// Reads a log with Python's json module: every line's four fields, whether field 3 is the
// UTF-16 length of field 4, and whether the file ends with a whole line.
Json readLogWithPython(const std::string& path) {
  std::string out = test::runPython(R"(import json, sys
data = open(sys.argv[1], 'rb').read()
text = data.decode('utf-8')
lines = []
for line in text.split('\n')[:-1]:
    f = line.split('\t')
    lines.append({'fields': len(f), 'ms': int(f[0]), 'name': f[1],
                  'lengthMatches': int(f[2]) == len(f[3].encode('utf-16-le')) // 2,
                  'bytes': len(f[3].encode('utf-8')), 'payload': json.loads(f[3])})
print(json.dumps({'whole': text.endswith('\n') or text == '', 'lines': lines}))
)",
                                    {path});
  return Json::parse(out, nullptr, false);
}

std::shared_ptr<ANAMetadata> testMetadata(std::optional<std::string> betaToken = std::nullopt) {
  return std::make_shared<ANAMetadata>(ANAMetadata::SDKFacts{"api-key", "execution-1", "install-1", "instance-1"},
                                       betaToken);
}

bool writeEvent(const std::shared_ptr<ANAEvent>& event, const std::string& path,
                std::shared_ptr<const ANAMetadataSerializable> metadata = testMetadata()) {
  auto op = std::make_shared<ANAWriteEventOperation>(event, metadata, path);
  op->start();
  return op->success();
}

}  // namespace

TEST(AnalyticsEventLog, AFirstWriteOpensTheLogWithItsMetadataLine) {
  test::ScratchFolder folder;
  const std::string log = folder / "first.log";
  auto event = ANACustomEvent::create("opened", Json{{"title", "Ça va? \xF0\x9F\x98\x80"}});
  ASSERT_TRUE(writeEvent(event, log, testMetadata("2:beta-secret")));

  Json read = readLogWithPython(log);
  ASSERT_TRUE(read.is_object()) << test::readText(log);
  EXPECT_TRUE(read["whole"].get<bool>());
  ASSERT_EQ(read["lines"].size(), 2u);
  const Json& metadata = read["lines"][0];
  const Json& line = read["lines"][1];
  const uint64_t ms = ANAMillisecondsSince1970(event->timestamp());
  for (const Json& l : read["lines"]) {
    EXPECT_EQ(l["fields"], 4);
    EXPECT_TRUE(l["lengthMatches"].get<bool>());
    EXPECT_EQ(l["ms"], ms) << "both lines carry the event's time";
  }
  EXPECT_EQ(metadata["name"], "metadata");
  EXPECT_EQ(line["name"], "custom");
  EXPECT_EQ(line["payload"]["custom_attributes"]["title"], "Ça va? \xF0\x9F\x98\x80");

  const Json& m = metadata["payload"];
  EXPECT_EQ(m["generator"], "Analytics Mac SDK/1.3.2");
  EXPECT_EQ(m["api_key"], "api-key");
  EXPECT_EQ(m["session_id"], "execution-1");
  EXPECT_EQ(m["started_at"], ms / 1000);
  EXPECT_FALSE(m.contains("advertising_id"));
  EXPECT_EQ(m["beta_tester_token"], "beta-secret");
  EXPECT_EQ(m["links_ad_support"], false);
  EXPECT_EQ(m["advertising_tracking_enabled"], false);
  EXPECT_EQ(m["install_id"], "install-1");
  EXPECT_EQ(m.value("model", Json()), m.value("machine", Json())) << "the same host model twice";
  struct utsname names {};
  ASSERT_EQ(::uname(&names), 0);
  EXPECT_EQ(m["platform"], names.sysname) << "the system it runs on";
  EXPECT_EQ(m["platform_code"], 0);
  EXPECT_GE(m["cores"].get<int>(), 1);
  EXPECT_EQ(m["jailbroken"], false);
  EXPECT_EQ(m["instance_id"], "instance-1");
  std::vector<std::string> keys;
  const Json dictionary = *testMetadata()->dictionaryRepresentationWithStartTime(1);
  for (const auto& [k, v] : dictionary.items()) keys.push_back(k);
  EXPECT_EQ(keys.front(), "generator");
  EXPECT_EQ(keys.back(), "instance_id");
  EXPECT_EQ(keys[2], "session_id");
  EXPECT_EQ(keys[3], "started_at");
}

TEST(AnalyticsEventLog, EventsFromManyThreadsOnTheSerialQueueMakeWholeLines) {
  test::ScratchFolder folder;
  const std::string log = folder / "busy.log";
  auto metadata = testMetadata();
  OperationQueue queue("org.orrery.telemetry.analytics.EventQueue", 1);
  std::vector<std::shared_ptr<ANAWriteEventOperation>> ops(200);
  std::vector<std::thread> producers;
  for (int t = 0; t < 4; ++t)
    producers.emplace_back([&, t] {
      for (int i = t; i < 200; i += 4) {
        ops[i] = std::make_shared<ANAWriteEventOperation>(
            ANACustomEvent::create("e" + std::to_string(i), Json{{"text", std::string(i, 'x')}}), metadata, log);
        queue.addOperation(ops[i]);
      }
    });
  for (auto& p : producers) p.join();
  queue.waitUntilAllOperationsAreFinished();
  for (const auto& op : ops) EXPECT_TRUE(op->success());
  Json read = readLogWithPython(log);
  ASSERT_TRUE(read.is_object());
  ASSERT_EQ(read["lines"].size(), 201u) << "one metadata line, then one line per event";
  EXPECT_EQ(read["lines"][0]["name"], "metadata");
  std::set<std::string> names;
  for (size_t i = 1; i < read["lines"].size(); ++i) {
    EXPECT_TRUE(read["lines"][i]["lengthMatches"].get<bool>());
    names.insert(read["lines"][i]["payload"]["custom_type"].get<std::string>());
  }
  EXPECT_EQ(names.size(), 200u);
}

TEST(AnalyticsEventLog, OneWriteAppendsARunOfEventsInOrderAfterOneMetadataLine) {
  test::ScratchFolder folder;
  const std::string log = folder / "run.log";
  const auto writeRun = [&](int from, int to) {
    auto op = std::make_shared<ANAWriteEventOperation>(testMetadata(), log);
    size_t bytes = 0;
    for (int i = from; i < to; ++i) bytes += op->append(ANACustomEvent::create("e", Json{{"i", i}}));
    EXPECT_EQ(op->append(nullptr), 0u) << "nothing makes no line";
    EXPECT_EQ(bytes, op->formattedEvent()->size()) << "each append answers the bytes its line adds";
    op->start();
    return op->success();
  };
  ASSERT_TRUE(writeRun(0, 3));
  ASSERT_TRUE(writeRun(3, 5));

  Json read = readLogWithPython(log);
  ASSERT_TRUE(read.is_object()) << test::readText(log);
  EXPECT_TRUE(read["whole"].get<bool>());
  ASSERT_EQ(read["lines"].size(), 6u) << "one metadata line, then the five events";
  EXPECT_EQ(read["lines"][0]["name"], "metadata");
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(read["lines"][i + 1]["name"], "custom");
    EXPECT_EQ(read["lines"][i + 1]["payload"]["custom_attributes"]["i"], i);
  }
}

TEST(AnalyticsEventLog, AnExistingLogEvenEmptyReceivesOneLine) {
  test::ScratchFolder folder;
  const std::string log = folder / "existing.log";
  test::writeText(log, "");
  ASSERT_TRUE(writeEvent(ANALifecycleEvent::appLaunchedEvent(), log));
  ASSERT_TRUE(writeEvent(ANALifecycleEvent::installEvent(), log));
  Json read = readLogWithPython(log);
  ASSERT_EQ(read["lines"].size(), 2u);
  EXPECT_EQ(read["lines"][0]["name"], "app_launched");
  EXPECT_EQ(read["lines"][1]["name"], "app_installed");
}

TEST(AnalyticsEventLog, NonASCIIPayloadsCountUTF16UnitsNotBytes) {
  const Json payload = {{"t", "\xE2\x82\xAC\xF0\x9F\x98\x80"}};  // euro sign and an emoji
  auto line = ANAWriteEventOperation::formatLine(1500, "custom", payload);
  ASSERT_TRUE(line);
  EXPECT_EQ(*line, "1500\tcustom\t11\t{\"t\":\"\xE2\x82\xAC\xF0\x9F\x98\x80\"}\n") << "11 units, 15 bytes";
  EXPECT_FALSE(ANAWriteEventOperation::formatLine(1, "two\tfields", payload)) << "a name may not add a field";
  EXPECT_FALSE(ANAWriteEventOperation::formatLine(1, "line\nbreak", payload));
  EXPECT_FALSE(ANAWriteEventOperation::formatLine(1, "x", Json::array()));
  EXPECT_EQ(*ANAWriteEventOperation::formatLine(1, "x", Json{{"k", "a\nb\tc"}}), "1\tx\t15\t{\"k\":\"a\\nb\\tc\"}\n");
}

TEST(AnalyticsEventLog, WithoutMetadataNothingIsWrittenAndFoldersAndLinksAreLeftAlone) {
  test::ScratchFolder folder;
  const std::string log = folder / "crashed.log";
  auto noDictionary = std::make_shared<ANACrashMetadata>(std::nullopt);
  EXPECT_FALSE(writeEvent(ANALifecycleEvent::appLaunchedEvent(), log, noDictionary));
  EXPECT_EQ(test::readText(log), "") << "an unwritable metadata line writes nothing";

  auto empty = std::make_shared<ANACrashMetadata>(Json::object());
  const std::string second = folder / "second.log";
  ASSERT_TRUE(writeEvent(ANALifecycleEvent::appLaunchedEvent(), second, empty));
  EXPECT_EQ(readLogWithPython(second)["lines"][0]["payload"], Json::object());

  test::writeText(folder / "target", "keep");
  ASSERT_EQ(::symlink((folder / "target").c_str(), (folder / "link.log").c_str()), 0);
  EXPECT_FALSE(writeEvent(ANALifecycleEvent::appLaunchedEvent(), folder / "link.log"));
  EXPECT_EQ(test::readText(folder / "target"), "keep") << "a planted link is not followed";

  const std::string dir = folder / "folder.log";
  ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
  EXPECT_FALSE(writeEvent(ANALifecycleEvent::appLaunchedEvent(), dir));
  EXPECT_TRUE(ANAFileUtils::allFilesInDirectory(dir).empty());
}

TEST(AnalyticsEventLog, AWriteFailingPartWayLeavesOnlyWholeLines) {
  test::ScratchFolder folder;
  const std::string log = folder / "limited.log";
  ASSERT_TRUE(writeEvent(ANALifecycleEvent::appLaunchedEvent(), log));
  const std::string before = test::readText(log);
  auto big = ANACustomEvent::create("big", Json{{"text", std::string(90, 'x')}});

  int status = test::runInChild({.fileSizeLimit = before.size() + 40}, [&] { return writeEvent(big, log); });
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1) << "the write reports failure";
  EXPECT_EQ(test::readText(log), before) << "the partial line is cut away";

  // A new log whose event line does not fit keeps its metadata line alone.
  const std::string fresh = folder / "fresh.log";
  std::string metadataOnly;
  {
    test::ScratchFolder probe;
    writeEvent(ANALifecycleEvent::appLaunchedEvent(), probe / "p.log");
    metadataOnly = test::readText(probe / "p.log");
    metadataOnly = metadataOnly.substr(0, metadataOnly.find('\n') + 1);
  }
  status = test::runInChild({.fileSizeLimit = metadataOnly.size() + 60}, [&] { return writeEvent(big, fresh); });
  EXPECT_EQ(WEXITSTATUS(status), 1);
  Json read = readLogWithPython(fresh);
  EXPECT_TRUE(read["whole"].get<bool>());
  ASSERT_EQ(read["lines"].size(), 1u);
  EXPECT_EQ(read["lines"][0]["name"], "metadata");
}

TEST(AnalyticsEventLog, ALineLeftByAKilledWriterIsDroppedBeforeTheNextOne) {
  test::ScratchFolder folder;
  const std::string log = folder / "killed.log";
  ASSERT_TRUE(writeEvent(ANALifecycleEvent::appLaunchedEvent(), log));
  const std::string before = test::readText(log);
  auto big = ANACustomEvent::create("big", Json{{"text", std::string(90, 'x')}});
  int status = test::runInChild({.fileSizeLimit = before.size() + 40, .killedByLimit = true},
                                [&] { return writeEvent(big, log); });
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGXFSZ);
  ASSERT_EQ(test::readText(log).size(), before.size() + 40) << "the killed writer left part of a line";

  ASSERT_TRUE(writeEvent(ANALifecycleEvent::installEvent(), log));
  Json read = readLogWithPython(log);
  ASSERT_TRUE(read.is_object()) << test::readText(log);
  ASSERT_EQ(read["lines"].size(), 3u);
  EXPECT_EQ(read["lines"][2]["name"], "app_installed");
}

TEST(AnalyticsEventLog, EachMetadataLineCarriesItsOwnEventsStartTime) {
  auto metadata = testMetadata();
  const auto at = [&](int64_t seconds) {
    auto event = ANACrashEvent::create(std::chrono::system_clock::time_point(std::chrono::seconds(seconds)), 1);
    ANAWriteEventOperation op(event, metadata, "/nonexistent/x.log");
    return *op.formattedMetadata();
  };
  const std::string first = at(1600000000), second = at(1600000001), again = at(1600000000);
  EXPECT_EQ(first.substr(0, 14), "1600000000000\t");
  EXPECT_NE(first.find("\"started_at\":1600000000,"), std::string::npos);
  EXPECT_NE(second.find("\"started_at\":1600000001,"), std::string::npos);
  EXPECT_EQ(first, again);
}

TEST(AnalyticsEventLog, BetaTokensUnwrapOnlyFromTwoPartsStartingWithTwo) {
  EXPECT_EQ(ANAMetadata::unwrapBetaToken(std::string("2:abc")), std::string("abc"));
  for (const char* token : {"3:abc", "abc", "2:a:b", "", ":abc"})
    EXPECT_FALSE(ANAMetadata::unwrapBetaToken(std::string(token))) << token;
  EXPECT_FALSE(ANAMetadata::unwrapBetaToken(std::nullopt));
  EXPECT_FALSE(testMetadata("1:x")->dictionaryRepresentationWithStartTime(0)->contains("beta_tester_token"));
}

TEST(AnalyticsFileUtils, ListFilesByExactExtension) {
  test::ScratchFolder folder;
  for (const char* name : {"a.log", "b.LOG", "c.log.gz", ".hidden", "d.multipartmime", "e.log.partial"})
    test::writeText(folder / name, "x");
  EXPECT_EQ(ANAFileUtils::allFilesInDirectory(folder.path()).size(), 6u);
  EXPECT_EQ(ANAFileUtils::filesWithExtension("log", folder.path()), std::set<std::string>{folder / "a.log"});
  EXPECT_EQ(ANAFileUtils::filesWithExtension("gz", folder.path()), std::set<std::string>{folder / "c.log.gz"});
  test::ConsoleLines console;
  EXPECT_TRUE(ANAFileUtils::allFilesInDirectory(folder / "missing").empty());
  EXPECT_EQ(ANAFileUtils::fileSizeAtURL(folder / "a.log"), 1u);
  EXPECT_EQ(ANAFileUtils::fileSizeAtURL(folder / "missing"), 0u);
  const auto fallback = std::chrono::system_clock::time_point(std::chrono::seconds(7));
  EXPECT_EQ(ANAFileUtils::fileCreatedDateAtURL(folder / "missing", fallback), fallback);
  EXPECT_GT(ANAFileUtils::fileCreatedDateAtURL(folder / "a.log", fallback), fallback);
  EXPECT_EQ(ANAFileUtils::baseName("/x/c.log.gz"), "c.log");
  EXPECT_EQ(ANAFileUtils::replacingPathExtension("/x/c.log", "gz"), "/x/c.gz");
  EXPECT_EQ(ANAFileUtils::pathExtension("/x/.hidden"), "");
}
