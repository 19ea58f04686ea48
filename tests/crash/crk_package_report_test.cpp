// Report packages read back by Python's email module: the parts, each gunzipped part equal
// to its file, nothing packaged twice, empty files left out; cancellation and a failing
// disk leave no package.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include <nlohmann/json.hpp>

#include "crash/crk_file_manager.h"
#include "crash/crk_internal_report.h"
#include "crash/crk_package_report.h"
#include "crash_test_support.h"

namespace {

using namespace telemetry;

void writeFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

struct Fixture {
  std::string root = crashtest::makeFolder("crash-package");
  CRKFileManager manager{root};
  std::string folder;
  Fixture(bool withIdentity = true) {
    EXPECT_TRUE(manager.prepareForNewLaunch());
    folder = manager.processingPath() + "/0123456789abcdef0123456789abcdef";
    EXPECT_TRUE(manager.createDirectoryAtPath(folder));
    if (withIdentity)
      writeFile(folder + "/metadata.crkrecord",
                R"({"identity":{"session_id":"0123456789abcdef0123456789abcdef","api_key":"key-7"}})" "\n");
    writeFile(folder + "/signal.crkrecord", R"({"threads":[{"stacktrace":[1,2,3]}]})" "\n");
    writeFile(folder + "/signal.crkrecord.symbolicated", R"({"threads":[[{"symbol":null}]]})" "\n");
    std::string big;
    for (int i = 0; i < 20000; ++i) big += "line " + std::to_string(i * 7919 % 10007) + "\n";
    writeFile(folder + "/sdk.log", big);
    writeFile(folder + "/errors_a.crkrecord", "");
    writeFile(folder + "/old.crkrecord.gz", "stale copy");
    writeFile(folder + "/.live.lock", "");
  }
  nlohmann::json parts(const std::string& package) {
    return nlohmann::json::parse(crashtest::run("python3 " CRASH_PACKAGE_PARTS " '" + package + "'"));
  }
};

TEST(CrashReportPackage, EveryFileOnceGzippedAndReadableAsMultipart) {
  crashtest::contextReportFolder();
  Fixture fixture;
  CRKPackageReportOperation operation(CRKInternalReport::reportWithPath(fixture.folder), &fixture.manager);
  operation.main();
  ASSERT_TRUE(operation.finalPath());
  EXPECT_EQ(fixture.manager.preparedPathContents(), std::vector<std::string>{*operation.finalPath()});
  auto result = fixture.parts(*operation.finalPath());
  EXPECT_TRUE(result["defects"].empty()) << result["defects"].dump();
  const auto& parts = result["parts"];
  std::vector<std::string> names;
  for (const auto& part : parts) names.push_back(part["name"]);
  EXPECT_EQ(names, (std::vector<std::string>{"api_key", "report_id", "metadata.crkrecord", "sdk.log",
                                             "signal.crkrecord", "signal.crkrecord.symbolicated"}));
  EXPECT_EQ(parts[0]["body"], "key-7");
  EXPECT_EQ(parts[1]["body"], "0123456789abcdef0123456789abcdef");
  for (size_t i = 2; i < parts.size(); ++i) {
    EXPECT_EQ(parts[i]["type"], "application/x-gzip");
    EXPECT_EQ(parts[i]["filename"], parts[i]["name"].get<std::string>() + ".gz");
    EXPECT_EQ(parts[i]["body"], crashtest::readText(fixture.folder + "/" + parts[i]["name"].get<std::string>()));
  }
  EXPECT_NE(crashtest::readText(crashtest::contextReportFolder() + "/sdk.log").find("unable to read data for compression: errors_a"),
            std::string::npos);

  // Packaging again takes fresh copies, not the compressed ones the first run left.
  CRKPackageReportOperation again(CRKInternalReport::reportWithPath(fixture.folder), &fixture.manager);
  again.main();
  ASSERT_TRUE(again.finalPath());
  EXPECT_NE(*again.finalPath(), *operation.finalPath());
  EXPECT_EQ(fixture.parts(*again.finalPath())["parts"].size(), parts.size());
}

TEST(CrashReportPackage, NoIdentityMeansNoKeyPartAndCancellingLeavesNothing) {
  Fixture fixture(false);
  auto report = CRKInternalReport::reportWithPath(fixture.folder);
  CRKPackageReportOperation operation(report, &fixture.manager);
  operation.main();
  ASSERT_TRUE(operation.finalPath());
  const auto parts = fixture.parts(*operation.finalPath())["parts"];
  EXPECT_EQ(parts[0]["name"], "report_id");
  EXPECT_EQ(parts[0]["body"], "0123456789abcdef0123456789abcdef");
  fixture.manager.removeContentsOfDirectoryAtPath(fixture.manager.preparedPath());

  CRKPackageReportOperation cancelled(report, &fixture.manager);
  cancelled.cancel();
  cancelled.main();
  EXPECT_FALSE(cancelled.finalPath());
  EXPECT_TRUE(crashtest::run("ls -A '" + fixture.manager.preparedPath() + "'").empty());
}

TEST(CrashReportPackage, AFailingDiskGivesNoPackageAndKeepsTheReport) {
  Fixture fixture;
  pid_t child = fork();
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    CRKPackageReportOperation operation(CRKInternalReport::reportWithPath(fixture.folder), &fixture.manager);
    operation.main();
    _exit(operation.finalPath() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(crashtest::exitedWith(status, 0, {{1, "a package was made on a full disk"}}));
  EXPECT_TRUE(crashtest::run("ls -A '" + fixture.manager.preparedPath() + "'").empty());
  EXPECT_EQ(crashtest::readText(fixture.folder + "/signal.crkrecord"), R"({"threads":[{"stacktrace":[1,2,3]}]})" "\n");
}

}  // namespace
