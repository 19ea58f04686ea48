#include "platform/cloud/local_folder_container.h"
#include "platform/cloud/metadata_query.h"

#include "model/support/virtual_main_queue.h"
#include "platform/core/dispatch.h"
#include "platform/core/notification_center.h"
#include "platform/services/standard_folders.h"
#include "platform/services/user_defaults.h"
#include "support/files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <set>
#include <thread>

using platform::LocalFolderContainer;

namespace {

using testsupport::writeFile;

// Chooses the container root through the environment for the life of the object.
class RootScope {
 public:
  explicit RootScope(const QString& root)
      : mHad(qEnvironmentVariableIsSet("ORRERY_CLOUD_CONTAINER")), mPrevious(qgetenv("ORRERY_CLOUD_CONTAINER")) {
    if (root.isNull())
      qunsetenv("ORRERY_CLOUD_CONTAINER");
    else
      qputenv("ORRERY_CLOUD_CONTAINER", root.toUtf8());
  }
  ~RootScope() {
    if (mHad)
      qputenv("ORRERY_CLOUD_CONTAINER", mPrevious);
    else
      qunsetenv("ORRERY_CLOUD_CONTAINER");
  }

 private:
  bool mHad;
  QByteArray mPrevious;
};

// Replaces a file whole, as a sync tool does: a poll running meanwhile reads old or new.
bool replaceFile(const QString& path, const QByteArray& bytes) {
  QSaveFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

// A monitor of a fresh container, on a virtual main queue, counting the changes it posts.
class IdentityMonitorTest : public ::testing::Test {
 protected:
  IdentityMonitorTest() {
    observer.observe(platform::kUbiquityIdentityDidChangeNotification, nullptr,
                     [this](const platform::Notification&) { ++posted; });
    monitor = platform::IdentityMonitor::shared();
  }

  orrery::testing::VirtualMainQueue main;
  QTemporaryDir dir;
  RootScope scope{dir.path()};
  bool connected = LocalFolderContainer::connect();
  int posted = 0;
  platform::ObserverScope observer;
  std::shared_ptr<platform::IdentityMonitor> monitor;
};

}  // namespace

// Clears the user defaults that choose the root or note the default one made, for the life of
// the object.
class DefaultsScope {
 public:
  DefaultsScope() {
    for (const char* key : {platform::kCloudContainerFolderKey, platform::kDefaultCloudContainerMadeKey}) {
      mSaved.insert(key, defaults().objectForKey(key));
      defaults().removeObjectForKey(key);
    }
  }
  ~DefaultsScope() {
    for (auto it = mSaved.cbegin(); it != mSaved.cend(); ++it) defaults().setObject(it.value(), it.key());
  }
  static platform::UserDefaults& defaults() { return platform::UserDefaults::standard(); }

 private:
  QVariantMap mSaved;
};

TEST(LocalFolderContainerTest, RootComesFromTheEnvironmentThenTheUserDefaultThenApplicationSupport) {
  QTemporaryDir dir;
  DefaultsScope defaults;
  {
    RootScope scope(dir.filePath("env"));
    platform::UserDefaults::standard().setString(dir.filePath("chosen"), platform::kCloudContainerFolderKey);
    EXPECT_EQ(LocalFolderContainer::root().path, dir.filePath("env"));
  }
  RootScope scope{QString()};
  EXPECT_EQ(LocalFolderContainer::root().path, dir.filePath("chosen"));
  EXPECT_FALSE(LocalFolderContainer::root().isDefault);
  platform::UserDefaults::standard().removeObjectForKey(platform::kCloudContainerFolderKey);
  const auto fallback = LocalFolderContainer::root();
  EXPECT_TRUE(fallback.isDefault);
  EXPECT_EQ(fallback.path, platform::applicationSupportFolder() + "/cloud-container");
}

// The default folder is made where the user connects to it, or at the first look when it was
// never made; once made, a folder that has gone is away, as an unmounted share is, and comes back
// with its identity. Only a connect makes it again.
TEST(LocalFolderContainerTest, TheDefaultRootIsMadeOnceAndAwayWhenItHasGone) {
  DefaultsScope defaults;
  RootScope scope{QString()};
  const QString root = LocalFolderContainer::root().path;
  const QString away = root + ".away";
  QDir(root).removeRecursively();

  // Never made (the choice stored before any folder was): made, with its Documents and identity.
  EXPECT_EQ(LocalFolderContainer::documentsFolder(), root + "/Documents");
  EXPECT_TRUE(QFileInfo(root + "/Documents").isDir());
  const QString identity = LocalFolderContainer::identityToken();
  EXPECT_FALSE(identity.isEmpty());

  ASSERT_TRUE(QDir().rename(root, away));
  EXPECT_TRUE(LocalFolderContainer::reachableRoot().isEmpty());
  EXPECT_TRUE(LocalFolderContainer::documentsFolder().isEmpty());
  EXPECT_TRUE(LocalFolderContainer::identityToken().isEmpty());
  EXPECT_FALSE(QFileInfo::exists(root)) << "no empty folder stands in for the one that went";
  ASSERT_TRUE(QDir().rename(away, root));
  EXPECT_EQ(LocalFolderContainer::identityToken(), identity) << "the same account is back";

  // A folder an earlier run made without noting it is noted when found, and away when gone.
  defaults.defaults().removeObjectForKey(platform::kDefaultCloudContainerMadeKey);
  EXPECT_EQ(LocalFolderContainer::reachableRoot(), root);
  ASSERT_TRUE(QDir(root).removeRecursively());
  EXPECT_TRUE(LocalFolderContainer::reachableRoot().isEmpty());
  EXPECT_FALSE(QFileInfo::exists(root));

  // Connecting makes it again, empty, with a new identity.
  EXPECT_TRUE(LocalFolderContainer::connect());
  EXPECT_TRUE(QFileInfo(root).isDir());
  const QString renewed = LocalFolderContainer::identityToken();
  EXPECT_FALSE(renewed.isEmpty());
  EXPECT_NE(renewed, identity);
  QDir(root).removeRecursively();
}

TEST(LocalFolderContainerTest, AChosenRootThatIsMissingGivesNothingAndMakesNothing) {
  QTemporaryDir dir;
  RootScope scope(dir.filePath("unmounted"));
  EXPECT_TRUE(LocalFolderContainer::documentsFolder().isEmpty());
  EXPECT_TRUE(LocalFolderContainer::identityToken().isEmpty());
  EXPECT_FALSE(LocalFolderContainer::connect()) << "connecting to it makes nothing either";
  EXPECT_FALSE(QFileInfo::exists(dir.filePath("unmounted"))) << "a share that is not mounted is never shadowed";
  RootScope relative("relative/path");
  EXPECT_TRUE(LocalFolderContainer::documentsFolder().isEmpty());
}

// A folder chosen in the preferences or named by the environment becomes the container only when
// the user connects it: before, an empty one (as an unmounted share's mount point is) gives no
// container and gets nothing written into it. Afterwards an empty folder in its place is no
// container either (tests/editor_screen), unless the user connects again. The default folder
// does the same once made.
TEST(LocalFolderContainerTest, AnEmptyFolderBecomesTheContainerOnlyWhenConnected) {
  for (const bool bySetting : {false, true}) {
    SCOPED_TRACE(bySetting ? "chosen in the preferences" : "named by the environment");
    QTemporaryDir dir;
    DefaultsScope defaults;
    const QString root = dir.filePath("share");
    RootScope scope(bySetting ? QString() : root);
    if (bySetting) defaults.defaults().setString(root, platform::kCloudContainerFolderKey);
    ASSERT_TRUE(QDir().mkpath(root));
    EXPECT_TRUE(LocalFolderContainer::documentsFolder().isEmpty());
    EXPECT_TRUE(LocalFolderContainer::identityToken().isEmpty());
    EXPECT_TRUE(QDir(root).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));
    ASSERT_TRUE(LocalFolderContainer::connect());
    EXPECT_EQ(LocalFolderContainer::documentsFolder(), root + "/Documents");
    const QString identity = LocalFolderContainer::identityToken();
    EXPECT_FALSE(identity.isEmpty());
    // Connecting over an empty folder in its place is the user's word: a new container.
    ASSERT_TRUE(QDir(root).removeRecursively() && QDir().mkdir(root));
    EXPECT_TRUE(LocalFolderContainer::identityToken().isEmpty());
    ASSERT_TRUE(LocalFolderContainer::connect());
    EXPECT_NE(LocalFolderContainer::identityToken(), identity);
  }
}

TEST(LocalFolderContainerTest, RacingInstancesAgreeOnOneIdentity) {
  QTemporaryDir dir;
  RootScope scope(dir.path());
  std::vector<std::future<QString>> readers;
  for (int i = 0; i < 8; ++i)
    readers.push_back(std::async(std::launch::async, [] {
      return LocalFolderContainer::connect() ? LocalFolderContainer::identityToken() : QString();
    }));
  std::set<QString> tokens;
  for (auto& reader : readers) tokens.insert(reader.get());
  ASSERT_EQ(tokens.size(), 1u);
  EXPECT_EQ(tokens.begin()->size(), 36) << "a UUID";
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1) << "no temporary file left";
  // An existing identity is read, never replaced.
  ASSERT_TRUE(writeFile(dir.filePath(".identity"), "other-account\n"));
  EXPECT_EQ(LocalFolderContainer::identityToken(), "other-account");
}

TEST_F(IdentityMonitorTest, IdentityChangesArePostedOnceWhileTheMonitorIsHeld) {
  const QString first = monitor->token();
  EXPECT_FALSE(first.isEmpty());
  main.advance(LocalFolderContainer::kPollSeconds * 2);
  EXPECT_EQ(posted, 0) << "nothing changed";

  ASSERT_TRUE(replaceFile(dir.filePath(".identity"), "second-account"));
  main.advance(LocalFolderContainer::kPollSeconds);
  ASSERT_TRUE(main.runUntil([&] { return posted == 1; }));
  EXPECT_EQ(monitor->token(), "second-account");
  main.advance(LocalFolderContainer::kPollSeconds);
  EXPECT_EQ(posted, 1);

  monitor.reset();
  ASSERT_TRUE(replaceFile(dir.filePath(".identity"), "third-account"));
  main.advance(LocalFolderContainer::kPollSeconds * 2);
  EXPECT_EQ(posted, 1) << "nobody holds the monitor: it is gone";
}

// Monitors share one watcher that outlives them: the one made after another was released
// still hears of a replaced identity at once, without waiting for the poll.
TEST_F(IdentityMonitorTest, AMonitorMadeAfterAnotherHearsOfAReplacedIdentityBeforeThePoll) {
  monitor.reset();
  monitor = platform::IdentityMonitor::shared();
  main.runPending();
  ASSERT_TRUE(replaceFile(dir.filePath(".identity"), "second-account"));
  ASSERT_TRUE(main.runUntil([&] {
    QCoreApplication::processEvents();
    return posted == 1;
  }));
  EXPECT_EQ(monitor->token(), "second-account");
}

// A container on a network mount that hangs must not hang the program: the poll reads the
// identity elsewhere while the main queue keeps turning, and takes the answer when it comes.
TEST_F(IdentityMonitorTest, TheIdentityPollWaitsForAHungContainerOffTheMainThread) {
  std::promise<void> mountAnswers;
  std::shared_future<void> answered = mountAnswers.get_future().share();
  std::atomic<int> readsOnMain{0};
  platform::IdentityMonitor::setTokenReader([&, answered] {
    if (platform::mainQueue().isCurrent()) ++readsOnMain;
    answered.wait_for(std::chrono::seconds(5));
    return QStringLiteral("account on the share");
  });

  main.advance(LocalFolderContainer::kPollSeconds);
  bool turned = false;
  platform::mainQueue().async([&] { turned = true; });
  ASSERT_TRUE(main.runUntil([&] { return turned; }));
  EXPECT_EQ(readsOnMain, 0);
  EXPECT_EQ(posted, 0) << "no answer yet";

  mountAnswers.set_value();
  ASSERT_TRUE(main.runUntil([&] { return posted == 1; }));
  EXPECT_EQ(monitor->token(), "account on the share");
  EXPECT_EQ(readsOnMain, 0);
  platform::IdentityMonitor::setTokenReader({});
  monitor.reset();
  main.runPending();
}

// The watcher's read and the poll's can end in either order: a read started earlier, which saw
// the file before a sync tool replaced it, never puts the old token back once a newer read was
// taken.
TEST_F(IdentityMonitorTest, AnOlderReadEndingLastChangesNothing) {
  const QString first = monitor->token();
  std::promise<void> newerTaken;
  std::shared_future<void> taken = newerTaken.get_future().share();
  std::atomic<int> reads{0};
  std::atomic<bool> olderAnswered{false};
  platform::IdentityMonitor::setTokenReader([&, taken, first] {
    if (reads++ > 0) return QStringLiteral("second-account");
    taken.wait_for(std::chrono::seconds(5));
    olderAnswered = true;
    return first;
  });
  monitor->check();
  ASSERT_TRUE(main.runUntil([&] { return reads == 1; }));
  monitor->check();
  ASSERT_TRUE(main.runUntil([&] { return posted == 1; }));
  EXPECT_EQ(monitor->token(), "second-account");

  newerTaken.set_value();
  // The older answer reaches the main queue right after its read; it must change nothing.
  main.loop->runUntil([&] { return posted > 1; }, platform::Millis(300));
  EXPECT_TRUE(olderAnswered);
  EXPECT_EQ(posted, 1);
  EXPECT_EQ(monitor->token(), "second-account");
  platform::IdentityMonitor::setTokenReader({});
  monitor.reset();
  main.runPending();
}

TEST(MetadataQueryTest, GathersMatchingPlainFilesInNameOrderOnce) {
  orrery::testing::VirtualMainQueue main;
  QTemporaryDir dir;
  for (const char* name : {"b.orrx", "a.orrx", "orrery.index", "notes.txt"}) writeFile(dir.filePath(name), "x");
  const QString marked = QStringLiteral("\uFEFF\uFEFFc.orrx");
  writeFile(dir.filePath(marked), "x");
  QDir().mkpath(dir.filePath("folder.orrx"));
  QFile::link(dir.filePath("a.orrx"), dir.filePath("link.orrx"));

  auto query = platform::MetadataQuery::create();
  EXPECT_FALSE(query->start()) << "no folder";
  query->setSearchFolder(dir.path());
  query->setNameLike("*.orrx");
  int gathered = 0;
  platform::ObserverScope observer;
  observer.observe(platform::kMetadataQueryDidFinishGatheringNotification, query.get(),
                   [&](const platform::Notification&) { ++gathered; });
  ASSERT_TRUE(query->start());
  EXPECT_FALSE(query->start()) << "one-shot";
  ASSERT_TRUE(main.runUntil([&] { return gathered > 0; }));
  main.runPending();
  EXPECT_EQ(gathered, 1);
  ASSERT_EQ(query->resultCount(), 3u);
  EXPECT_EQ(query->resultAtIndex(0).fsName, "a.orrx");
  EXPECT_EQ(query->resultAtIndex(1).path, dir.filePath("b.orrx"));
  EXPECT_EQ(query->resultAtIndex(2).path, dir.filePath(marked));

  // A query stopped before it gathered posts nothing.
  auto stopped = platform::MetadataQuery::create();
  stopped->setSearchFolder(dir.path());
  stopped->setNameLike("*");
  observer.observe(platform::kMetadataQueryDidFinishGatheringNotification, stopped.get(),
                   [&](const platform::Notification&) { ++gathered; });
  ASSERT_TRUE(stopped->start());
  stopped->stop();
  main.loop->runUntil([] { return false; }, platform::Millis(100));
  EXPECT_EQ(gathered, 1);
  EXPECT_FALSE(stopped->hasGathered());
}
