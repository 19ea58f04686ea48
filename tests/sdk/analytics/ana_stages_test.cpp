#include <gtest/gtest.h>
#include <sys/time.h>

#include <random>

#include "analytics_test_support.h"
#include "sdk/analytics/ana_cleanup_files_operation.h"
#include "sdk/analytics/ana_compress_log_operation.h"
#include "sdk/analytics/ana_file_utils.h"
#include "sdk/analytics/ana_metadata.h"
#include "sdk/analytics/ana_package_log_operation.h"
#include "sdk/analytics/ana_rotate_crash_metadata_operation.h"
#include "sdk/core/file_io.h"
#include "sdk/core/json_text.h"

using namespace telemetry;
using nlohmann::json;

namespace {

std::string hexOf(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) out += "0123456789abcdef"[c >> 4], out += "0123456789abcdef"[c & 15];
  return out;
}

// What Python's gzip module reads from a file, as hexadecimal; "error" when it cannot.
std::string gunzipWithPython(const std::string& path) {
  std::string out = test::runPython(R"(import gzip, sys
try:
    print(gzip.open(sys.argv[1]).read().hex())
except Exception as e:
    print('error')
)",
                                    {path});
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

// Parses a package with Python's email module and gunzips each part.
json readPackageWithPython(const std::string& path, const std::string& boundary) {
  std::string out = test::runPython(R"(import email, email.policy, gzip, json, sys
body = open(sys.argv[1], 'rb').read()
head = b'Content-Type: multipart/form-data; boundary=' + sys.argv[2].encode() + b'\r\n\r\n'
msg = email.message_from_bytes(head + body, policy=email.policy.HTTP)
parts = []
for part in msg.iter_parts():
    payload = part.get_payload(decode=True)
    parts.append({'name': part.get_param('name', header='content-disposition'), 'filename': part.get_filename(),
                  'type': part.get_content_type(), 'gunzipped': gzip.decompress(payload).hex()})
print(json.dumps({'defects': len(msg.defects), 'parts': parts}))
)",
                                    {path, boundary});
  return json::parse(out, nullptr, false);
}

std::string randomText(size_t n) {
  std::mt19937 random(42);
  std::string s(n, ' ');
  for (auto& c : s) c = static_cast<char>(random());
  return s;
}

bool compress(const std::string& log, const std::string& gz) {
  ANACompressLogOperation op(log, gz);
  op.start();
  return op.success();
}

bool package(const std::string& gz, const std::string& packagePath, const std::string& boundary) {
  ANAPackageLogOperation op(gz, packagePath, boundary);
  op.start();
  return op.success();
}

void setModificationTime(const std::string& path, time_t seconds) {
  timeval times[2] = {{seconds, 0}, {seconds, 0}};
  ::utimes(path.c_str(), times);
}

std::set<std::string> namesIn(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& p : ANAFileUtils::allFilesInDirectory(folder)) names.insert(ANAFileUtils::lastPathComponent(p));
  return names;
}

}  // namespace

TEST(AnalyticsStages, ALogsWholeLinesBecomeAGzipFileAndThenAPackageThatReadBack) {
  test::ScratchFolder folder;
  const std::string log = folder / "5F1C.log";
  // Several chunks of whole lines, then the start of a line a killed writer left.
  const std::string text = "1\tmetadata\t2\t{}\n2\tcustom\t2\t{}\n" + std::string(200000, 'e') + "\n";
  test::writeText(log, text + "3\tcustom\t9\t{\"cut\":");
  const std::string gz = ANACompressLogOperation::compressedURLForUncompressedURL(log);
  EXPECT_EQ(gz, folder / "5F1C.gz");
  ASSERT_TRUE(compress(log, gz));
  EXPECT_EQ(gunzipWithPython(gz), hexOf(text));
  EXPECT_EQ(test::readText(log), text + "3\tcustom\t9\t{\"cut\":") << "compression keeps its input";

  const std::string boundary = "0A1B2C3D-BOUNDARY";
  const std::string packagePath = ANAPackageLogOperation::multipartURLForCompressedURL(gz, boundary);
  EXPECT_EQ(packagePath, folder / "0A1B2C3D-BOUNDARY.multipartmime");
  ASSERT_TRUE(package(gz, packagePath, boundary));
  json parsed = readPackageWithPython(packagePath, boundary);
  ASSERT_TRUE(parsed.is_object()) << "python3 could not read the package";
  EXPECT_EQ(parsed["defects"], 0);
  ASSERT_EQ(parsed["parts"].size(), 1u);
  EXPECT_EQ(parsed["parts"][0]["name"], "5F1C.gz");
  EXPECT_EQ(parsed["parts"][0]["filename"], "5F1C.gz");
  EXPECT_EQ(parsed["parts"][0]["type"], "application/vnd.crashkit.mac.events");
  EXPECT_EQ(parsed["parts"][0]["gunzipped"], hexOf(text));
  EXPECT_EQ(namesIn(folder.path()), (std::set<std::string>{"5F1C.log", "5F1C.gz", "0A1B2C3D-BOUNDARY.multipartmime"}))
      << "no temporary file is left behind";

  const std::string empty = folder / "empty.log";
  test::writeText(empty, "");
  ASSERT_TRUE(compress(empty, folder / "empty.gz"));
  EXPECT_EQ(gunzipWithPython(folder / "empty.gz"), "") << "an empty log is a valid empty gzip stream";
  const std::string cutOnly = folder / "cut.log";
  test::writeText(cutOnly, "4\tcustom\t9\t{\"cut\":");
  ASSERT_TRUE(compress(cutOnly, folder / "cut.gz"));
  EXPECT_EQ(gunzipWithPython(folder / "cut.gz"), "") << "a log of one unfinished line holds no event";
}

TEST(AnalyticsStages, NothingToDoLeavesEverythingAsItWas) {
  test::ScratchFolder folder;
  test::writeText(folder / "a.log", "new");
  test::writeText(folder / "a.gz", "older");
  EXPECT_FALSE(compress(folder / "a.log", folder / "a.gz"));
  EXPECT_EQ(test::readText(folder / "a.gz"), "older") << "an existing compressed file is never overwritten";

  EXPECT_FALSE(compress(folder / "missing.log", folder / "missing.gz"));
  ASSERT_EQ(::mkdir((folder / "dir.log").c_str(), 0700), 0);
  EXPECT_FALSE(compress(folder / "dir.log", folder / "dir.gz"));
  EXPECT_FALSE(package(folder / "missing.gz", folder / "B.multipartmime", "B"));
  EXPECT_EQ(namesIn(folder.path()), (std::set<std::string>{"a.log", "a.gz", "dir.log"}));

  // Planted entries: a link would hand out another file, a pipe would block the queue.
  test::writeText(folder / "secret", "not for upload");
  ASSERT_EQ(::symlink((folder / "secret").c_str(), (folder / "link.log").c_str()), 0);
  ASSERT_EQ(::symlink((folder / "secret").c_str(), (folder / "link.gz").c_str()), 0);
  ASSERT_EQ(::mkfifo((folder / "pipe.log").c_str(), 0600), 0);
  EXPECT_FALSE(compress(folder / "link.log", folder / "link2.gz"));
  EXPECT_FALSE(compress(folder / "pipe.log", folder / "pipe.gz"));
  EXPECT_FALSE(package(folder / "link.gz", folder / "L.multipartmime", "L"));
  EXPECT_FALSE(test::exists(folder / "link2.gz"));
  EXPECT_FALSE(test::exists(folder / "pipe.gz"));
  EXPECT_FALSE(test::exists(folder / "L.multipartmime"));
}

TEST(AnalyticsStages, AFailingStageKeepsItsInputAndLeavesNoOutput) {
  test::ScratchFolder folder;
  const std::string log = folder / "f.log";
  const std::string text = randomText(300000);  // does not compress below the limits below
  test::writeText(log, text);

  // A folder in the way of the temporary file.
  ASSERT_EQ(::mkdir((folder / "f.gz.partial").c_str(), 0700), 0);
  EXPECT_FALSE(compress(log, folder / "f.gz"));
  EXPECT_FALSE(test::exists(folder / "f.gz"));
  ASSERT_EQ(::rmdir((folder / "f.gz.partial").c_str()), 0);

  // A file-size limit cuts the compressed stream short.
  int status = test::runInChild({.fileSizeLimit = 100000}, [&] { return compress(log, folder / "f.gz"); });
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(namesIn(folder.path()), std::set<std::string>{"f.log"});

  ASSERT_TRUE(compress(log, folder / "f.gz"));
  status = test::runInChild({.fileSizeLimit = 100000},
                            [&] { return package(folder / "f.gz", folder / "P.multipartmime", "P"); });
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(namesIn(folder.path()), (std::set<std::string>{"f.log", "f.gz"}));

  // An empty compressed file and a name no header can carry make no package either.
  test::writeText(folder / "zero.gz", "");
  EXPECT_FALSE(package(folder / "zero.gz", folder / "Z.multipartmime", "Z"));
  test::writeText(folder / "quo\"te.gz", "x");
  EXPECT_FALSE(package(folder / "quo\"te.gz", folder / "Q.multipartmime", "Q"));
  EXPECT_FALSE(test::exists(folder / "Z.multipartmime"));
  EXPECT_FALSE(test::exists(folder / "Q.multipartmime"));
  EXPECT_FALSE(test::exists(folder / "Q.multipartmime.partial"));

  // A read-only folder.
  const std::string locked = folder / "locked";
  ASSERT_EQ(::mkdir(locked.c_str(), 0700), 0);
  test::writeText(locked + "/r.log", "line\n");
  ASSERT_EQ(::chmod(locked.c_str(), 0500), 0);
  status = test::runInChild({.withoutPrivileges = true}, [&] { return compress(locked + "/r.log", locked + "/r.gz"); });
  ::chmod(locked.c_str(), 0700);
  if (WIFEXITED(status) && WEXITSTATUS(status) == test::kChildCannotDropPrivileges)
    GTEST_SKIP() << "cannot drop privileges";
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(namesIn(locked), std::set<std::string>{"r.log"});
}

TEST(AnalyticsStages, AStageKilledMidWriteLeavesOnlyATemporaryFileThatTheCleanUpSweeps) {
  test::ScratchFolder folder;
  test::writeText(folder / "k.log", randomText(300000));
  int status = test::runInChild({.fileSizeLimit = 100000, .killedByLimit = true},
                                [&] { return compress(folder / "k.log", folder / "k.gz"); });
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(namesIn(folder.path()), (std::set<std::string>{"k.log", "k.gz.partial"}));

  std::set<std::string> logs, compressed, packages;
  ANACleanupFilesOperation cleanup(folder.path(), 100);
  cleanup.setSuccessBlock([&](const auto& l, const auto& c, const auto& p) { logs = l, compressed = c, packages = p; });
  cleanup.start();
  EXPECT_EQ(namesIn(folder.path()), std::set<std::string>{"k.log"});
  EXPECT_EQ(logs, std::set<std::string>{folder / "k.log"});
  ASSERT_TRUE(compress(folder / "k.log", folder / "k.gz")) << "the log is compressed again from whole";
}

TEST(AnalyticsCleanup, SortsTheFolderRemovesStrayFilesAndRedundantCompressedLogs) {
  test::ScratchFolder folder;
  for (const char* name : {"one.log", "one.gz", "two.gz", "B1.multipartmime", "B1.gz", "notes.txt",
                           "x.multipartmime.partial"})
    test::writeText(folder / name, "x");
  ASSERT_EQ(::mkdir((folder / "stray").c_str(), 0700), 0);
  std::set<std::string> logs, compressed, packages;
  int calls = 0;
  ANACleanupFilesOperation cleanup(folder.path(), 100);
  cleanup.setSuccessBlock([&](const auto& l, const auto& c, const auto& p) {
    ++calls;
    logs = l, compressed = c, packages = p;
  });
  cleanup.start();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(logs, std::set<std::string>{folder / "one.log"});
  EXPECT_EQ(compressed, std::set<std::string>{folder / "two.gz"});
  EXPECT_EQ(packages, std::set<std::string>{folder / "B1.multipartmime"});
  // A compressed log whose package was written already is not packaged (and sent) again.
  EXPECT_EQ(namesIn(folder.path()), (std::set<std::string>{"one.log", "two.gz", "B1.multipartmime"}));

  ANACleanupFilesOperation unreadable(folder / "missing", 100);
  unreadable.setSuccessBlock([&](const auto& l, const auto& c, const auto& p) {
    ++calls;
    EXPECT_TRUE(l.empty() && c.empty() && p.empty());
  });
  unreadable.start();
  EXPECT_EQ(calls, 2);
}

TEST(AnalyticsCleanup, KeepsTheNewestPackagesUpToTheLimit) {
  test::ScratchFolder folder;
  for (int i = 0; i < 101; ++i) {
    const std::string path = folder / ("P" + std::to_string(i) + ".multipartmime");
    test::writeText(path, "x");
    setModificationTime(path, 1700000000 + (i == 57 ? -100 : i));  // P57 is the oldest
  }
  std::set<std::string> packages;
  ANACleanupFilesOperation cleanup(folder.path(), 100);
  cleanup.setSuccessBlock([&](const auto&, const auto&, const auto& p) { packages = p; });
  cleanup.start();
  EXPECT_EQ(packages.size(), 100u);
  EXPECT_FALSE(test::exists(folder / "P57.multipartmime"));
  EXPECT_EQ(packages.count(folder / "P57.multipartmime"), 0u);
  EXPECT_EQ(namesIn(folder.path()).size(), 100u);

  std::vector<std::string> three = {folder / "P1.multipartmime", folder / "gone.multipartmime",
                                    folder / "P2.multipartmime"};
  EXPECT_EQ(ANACleanupFilesOperation::URLsByRemovingOldFiles(three, 2),
            (std::vector<std::string>{folder / "P2.multipartmime", folder / "P1.multipartmime"}))
      << "a file without a date sorts last";
  EXPECT_EQ(ANACleanupFilesOperation::URLsByRemovingOldFiles(three, 5), three);
}

TEST(AnalyticsCrashMetadataRotation, HandsOverThePreviousRunAndRecordsThisOne) {
  test::ScratchFolder folder;
  const std::string path = folder / "crash_metadata";
  auto metadata =
      std::make_shared<ANAMetadata>(ANAMetadata::SDKFacts{"key", "run-1", "install", "instance"}, std::nullopt);

  ANARotateCrashMetadataOperation first(path, metadata);
  first.start();
  ASSERT_TRUE(first.crashMetadata());
  EXPECT_EQ(first.crashMetadata()->rawMetadataDictionary(), nlohmann::ordered_json::object()) << "a first run";
  json written = json::parse(test::readText(path), nullptr, false);
  EXPECT_EQ(written["session_id"], "run-1");
  EXPECT_EQ(written["started_at"], (*first.currentMetadataDictionary())["started_at"]);

  auto nextRun =
      std::make_shared<ANAMetadata>(ANAMetadata::SDKFacts{"key", "run-2", "install", "instance"}, std::nullopt);
  ANARotateCrashMetadataOperation second(path, nextRun);
  second.start();
  EXPECT_EQ((*second.crashMetadata()->rawMetadataDictionary())["session_id"], "run-1");
  EXPECT_EQ(json::parse(test::readText(path))["session_id"], "run-2");

  test::writeText(path, "{garbage");
  ANARotateCrashMetadataOperation overGarbage(path, nextRun);
  overGarbage.start();
  ASSERT_TRUE(overGarbage.crashMetadata());
  EXPECT_FALSE(overGarbage.crashMetadata()->rawMetadataDictionary()) << "no dictionary, but an object";
  EXPECT_EQ(json::parse(test::readText(path))["session_id"], "run-2") << "replaced all the same";
  EXPECT_EQ(namesIn(folder.path()), std::set<std::string>{"crash_metadata"});

  test::writeText(folder / "elsewhere", R"({"session_id":"planted"})");
  ::unlink(path.c_str());
  ASSERT_EQ(::symlink((folder / "elsewhere").c_str(), path.c_str()), 0);
  ANARotateCrashMetadataOperation overLink(path, nextRun);
  overLink.start();
  EXPECT_FALSE(overLink.crashMetadata()->rawMetadataDictionary()) << "a link is not read";
  EXPECT_EQ(fileio::kindOf(path), fileio::FileKind::Regular) << "the link itself is replaced";
  EXPECT_EQ(test::readText(folder / "elsewhere"), R"({"session_id":"planted"})");
}

TEST(AnalyticsCrashMetadataRotation, AFileThatCannotBeReplacedIsRemovedNotLeftStale) {
  test::ScratchFolder folder;
  const std::string path = folder / "crash_metadata";
  test::writeText(path, R"({"session_id":"old"})");
  auto metadata = std::make_shared<ANAMetadata>(ANAMetadata::SDKFacts{"key", "run-3", "i", "i"}, std::nullopt);
  int status = test::runInChild({.fileSizeLimit = 5}, [&] {
    ANARotateCrashMetadataOperation op(path, metadata);
    op.start();
    return (*op.crashMetadata()->rawMetadataDictionary())["session_id"] == "old";
  });
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the previous run is still handed over";
  EXPECT_TRUE(namesIn(folder.path()).empty()) << "neither the stale file nor a temporary one is left";
}
