#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <future>
#include <thread>

#include "sdk/core/console.h"
#include "sdk/core/file_io.h"
#include "sdk/core/property_list.h"
#include "sdk/core/sdk_constants.h"
#include "support/required_tool.h"
#include "sdk/core/standard_paths.h"
#include "sdk/defaults/crk_user_defaults.h"

using namespace telemetry;
using nlohmann::json;

namespace {

class DefaultsStore : public ::testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    root = paths::join(paths::temporaryDirectory(), "defaults-" + std::to_string(++counter));
    directory = paths::join(root, "store");
    platform = std::make_shared<PlistFileDefaultsDomain>(paths::join(root, "app-defaults.plist"));
    previousSink = setConsoleSink([this](const std::string& line) { lines.push_back(line); });
  }
  void TearDown() override { setConsoleSink(previousSink); }

  std::unique_ptr<CRKUserDefaults> open() { return std::make_unique<CRKUserDefaults>(directory, platform); }
  std::string file() const { return paths::join(directory, "CRKUserDefaults.plist"); }
  bool logged(const std::string& line) const { return std::find(lines.begin(), lines.end(), line) != lines.end(); }

  std::string root, directory;
  std::shared_ptr<PlistFileDefaultsDomain> platform;
  std::vector<std::string> lines;
  ConsoleSink previousSink;
};

std::string python(const std::string& script) {
  std::string out;
  if (!testsupport::requireTool("python3", "python3")) return out;
  if (FILE* p = popen(("python3 -c '" + script + "' 2>&1").c_str(), "r")) {
    char buf[512];
    while (fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
  }
  return out;
}

}  // namespace

TEST_F(DefaultsStore, ValuesRoundTripThroughARealPropertyListFile) {
  {
    auto store = open();
    store->setString("A-B-C", std::string(kSDKIdentifierPrefix) + ".iuuid");
    store->setBool(true, "flag");
    store->setObject(12, "number");
    store->setObject({{"nested", json::array({1, "x"})}}, "dict");
    store->setObject("gone", "removed");
    store->setObject(nullptr, "removed");
    EXPECT_TRUE(store->objectForKey("removed").is_null());
    EXPECT_TRUE(store->synchronize());
  }
  auto again = open();
  EXPECT_EQ(again->stringForKey(std::string(kSDKIdentifierPrefix) + ".iuuid"), "A-B-C");
  EXPECT_TRUE(again->boolForKey("flag"));
  EXPECT_EQ(again->objectForKey("dict")["nested"][1], "x");
  EXPECT_EQ(again->stringForKey("number"), std::nullopt);  // a number is no string
  again->setString("yes", "text");
  EXPECT_FALSE(again->boolForKey("text"));  // nor is a string a boolean
  EXPECT_FALSE(again->boolForKey("missing"));

  // Another reader of property lists sees the same dictionary.
  EXPECT_EQ(python("import plistlib,sys; d=plistlib.load(open(\"" + file() +
                   "\",\"rb\")); print(sorted(d), d[\"flag\"], d[\"number\"], d[\"dict\"])"),
            "['dict', 'flag', 'number', '" + std::string(kSDKIdentifierPrefix) +
                ".iuuid'] True 12 {'nested': [1, 'x']}\n");

  again->removeAllObjects();
  EXPECT_TRUE(again->dictionaryRepresentation().empty());
  EXPECT_EQ(again->loadDefaults()->size(), 4u);  // not written yet
}

TEST_F(DefaultsStore, UnsynchronizedValuesAreLostAndWritesReplaceTheFileAtomically) {
  {
    auto store = open();
    store->setString("first", "k");
    store->synchronize();
    store->setString("never written", "other");
  }
  auto store = open();
  EXPECT_TRUE(store->objectForKey("other").is_null());

  // A reader holding the old file keeps reading the old contents whole.
  int oldFile = ::open(file().c_str(), O_RDONLY);
  ASSERT_GE(oldFile, 0);
  struct stat before {};
  ::fstat(oldFile, &before);
  store->setString(std::string(5000, 'n'), "k");
  ASSERT_TRUE(store->synchronize());
  std::string oldText(static_cast<size_t>(before.st_size), '\0');
  EXPECT_EQ(::pread(oldFile, oldText.data(), oldText.size(), 0), before.st_size);
  ::close(oldFile);
  EXPECT_EQ((*plist::parse(oldText))["k"], "first");
  EXPECT_EQ((*plist::readFile(file()))["k"], std::string(5000, 'n'));
  // Nothing but the store file is left in the folder.
  int entries = 0;
  DIR* d = opendir(directory.c_str());
  while (dirent* e = readdir(d))
    if (e->d_name[0] != '.') ++entries;
  closedir(d);
  EXPECT_EQ(entries, 1);
}

TEST_F(DefaultsStore, CorruptFileFIFOOrFolderInItsPlaceStartsEmpty) {
  fileio::createDirectories(directory);
  std::ofstream(file()) << "<plist><dict><key>k</key>";  // cut off mid-write by something else
  auto store = open();
  EXPECT_TRUE(store->dictionaryRepresentation().empty());
  EXPECT_TRUE(logged("[Telemetry:UserDefaults] failed to read existing UserDefaults file"));
  store->setString("v", "k");
  ASSERT_TRUE(store->synchronize());
  EXPECT_EQ(open()->stringForKey("k"), "v");

  // A FIFO is not read, nor waited on: the store starts empty, says so once, and its next
  // synchronisation puts a file in its place.
  fileio::removeItem(file());
  ASSERT_EQ(::mkfifo(file().c_str(), 0600), 0);
  lines.clear();
  auto opening = std::async(std::launch::async, [this] { return open(); });
  if (opening.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    ADD_FAILURE() << "the store still waits on the FIFO after 10 s";
    // A writer that comes and goes lets the waiting open return.
    if (const int fd = ::open(file().c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC); fd >= 0) ::close(fd);
  }
  auto fromFifo = opening.get();
  EXPECT_TRUE(fromFifo->dictionaryRepresentation().empty());
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [&](const std::string& l) {
                            return l == "[Telemetry] Not reading " + file() + ": not a regular file (a FIFO)";
                          }),
            1)
      << "the FIFO is logged once";
  EXPECT_TRUE(logged("[Telemetry:UserDefaults] failed to read existing UserDefaults file"));
  fromFifo->setString("w", "k");
  ASSERT_TRUE(fromFifo->synchronize());
  EXPECT_EQ(fileio::kindOf(file()), fileio::FileKind::Regular);

  fileio::removeItem(file());
  fileio::createDirectories(file() + "/inner");
  auto other = open();
  EXPECT_TRUE(logged("[Telemetry:UserDefaults] found directory where file expected. Removing conflicting directory"));
  EXPECT_TRUE(other->dictionaryRepresentation().empty());
  EXPECT_EQ(fileio::kindOf(file()), fileio::FileKind::Missing);
  other->setString("w", "k");
  ASSERT_TRUE(other->synchronize());
  EXPECT_EQ(fileio::kindOf(file()), fileio::FileKind::Regular);
}

TEST_F(DefaultsStore, MigrationMovesValuesOutOfTheApplicationsDefaults) {
  platform->setObject("OLD-ID", "iuuid");
  platform->setObject(true, "a");
  platform->synchronize();
  auto store = open();
  EXPECT_EQ(store->objectForKeyByMigratingFromNSUserDefaults("iuuid"), "OLD-ID");
  EXPECT_EQ((*store->loadDefaults())["iuuid"], "OLD-ID");
  PlistFileDefaultsDomain reread(platform->path());
  EXPECT_TRUE(reread.objectForKey("iuuid").is_null());
  EXPECT_EQ(store->objectForKeyByMigratingFromNSUserDefaults("iuuid"), "OLD-ID");  // now from the store
  EXPECT_TRUE(store->objectForKeyByMigratingFromNSUserDefaults("absent").is_null());
  EXPECT_TRUE(store->objectForKeyByMigratingFromNSUserDefaults("").is_null());

  platform->setObject("keep", "b");
  store->migrateFromNSUserDefaults({"nothing-here"});
  EXPECT_EQ(platform->objectForKey("b"), "keep");  // nothing copied: nothing removed
  store->migrateFromNSUserDefaults({"a", "b", "nothing-here"});
  EXPECT_EQ(store->objectForKey("a"), true);
  EXPECT_EQ((*store->loadDefaults())["b"], "keep");
  EXPECT_TRUE(platform->objectForKey("a").is_null());
  EXPECT_TRUE(platform->objectForKey("b").is_null());
}

TEST_F(DefaultsStore, AValueStaysInTheApplicationsDefaultsWhenTheStoreCannotBeWritten) {
  fileio::createDirectories(root);
  std::ofstream(paths::join(root, "blocker")) << "a file where a folder should be";
  directory = paths::join(root, "blocker/store");
  platform->setObject("OLD-ID", "iuuid");
  auto store = open();
  EXPECT_EQ(store->objectForKeyByMigratingFromNSUserDefaults("iuuid"), "OLD-ID");
  EXPECT_TRUE(logged("[Telemetry:UserDefaults] Unable to open file for writing at path " + file()));
  EXPECT_EQ(platform->objectForKey("iuuid"), "OLD-ID");
}

TEST_F(DefaultsStore, AnyThreadMayUseTheStore) {
  auto store = open();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        store->setObject(i, "t" + std::to_string(t));
        store->objectForKey("t0");
        if (i % 10 == 0) store->synchronize();
      }
    });
  for (auto& th : threads) th.join();
  store->synchronize();
  auto reread = open();
  for (int t = 0; t < 4; ++t) EXPECT_EQ(reread->objectForKey("t" + std::to_string(t)), 49);
}

TEST_F(DefaultsStore, TheLastSynchronizationWritesEveryValueSetBeforeIt) {
  // No final synchronize: whichever thread writes last must not put back an older snapshot.
  for (int round = 0; round < 100; ++round) {
    auto store = open();
    store->removeAllObjects();
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t)
      threads.emplace_back([&, t] {
        store->setString("value", "r" + std::to_string(round) + "t" + std::to_string(t));
        store->synchronize();
      });
    for (auto& th : threads) th.join();
    auto reread = open();
    for (int t = 0; t < 6; ++t)
      ASSERT_EQ(reread->stringForKey("r" + std::to_string(round) + "t" + std::to_string(t)), "value")
          << "round " << round << " thread " << t;
  }
}

TEST_F(DefaultsStore, SharedStoreLivesUnderApplicationSupport) {
  EXPECT_EQ(CRKUserDefaults::generateDirectoryURLForBaseURL("/base", std::string("a_b")),
            std::string("/base/a_b/") + kSDKIdentifierPrefix);
  EXPECT_EQ(CRKUserDefaults::generateDirectoryURLForBaseURL("/base", std::nullopt), std::string("/base/") + kSDKIdentifierPrefix);
  CRKUserDefaults& shared = CRKUserDefaults::standardUserDefaults();
  EXPECT_EQ(&shared, &CRKUserDefaults::standardUserDefaults());
  EXPECT_EQ(shared.fileURL(), paths::applicationSupportDirectory() + "/org.orrery.Orrery/" + kSDKIdentifierPrefix +
                                  "/CRKUserDefaults.plist");
}
