#include "platform/services/user_defaults.h"

#include "platform/core/notification_center.h"

#include <QDataStream>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QUrl>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <future>
#include <memory>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

using platform::UserDefaults;

// The value the file at `path` holds under `key` now, 0 when none.
qint64 readStored(const QString& path, const QString& key) { return UserDefaults(path).integerForKey(key); }

class UserDefaultsTest : public ::testing::Test {
 protected:
  QString path() const { return mDir.filePath("nested/defaults.dat"); }
  QTemporaryDir mDir;
};

TEST_F(UserDefaultsTest, EveryKindOfValueSurvivesARestart) {
  QVariantMap frame{{"x", 10.5}, {"list", QVariantList{1, "two"}}};
  {
    UserDefaults defaults(path());
    defaults.setInteger(7, "fontSizeFactor");
    defaults.setBool(true, "cloudstoragechoice");
    defaults.setDouble(0.25, "ratio");
    defaults.setString("1.5.0", "CurrentOrreryVersion");
    defaults.setString(QStringLiteral("\uFEFF\uFEFFplan"), "marked");
    defaults.setObject(QStringList{"/a.orrery", "/b.orrery"}, "RecentLocalFiles");
    defaults.setObject(frame, "CurrentState");
    defaults.setObject(QByteArray("\x00\x01", 2), "blob");
  }
  UserDefaults reread(path());
  EXPECT_EQ(reread.integerForKey("fontSizeFactor"), 7);
  EXPECT_TRUE(reread.boolForKey("cloudstoragechoice"));
  EXPECT_DOUBLE_EQ(reread.doubleForKey("ratio"), 0.25);
  EXPECT_EQ(reread.stringForKey("CurrentOrreryVersion"), "1.5.0");
  EXPECT_EQ(reread.stringForKey("marked"), QStringLiteral("\uFEFF\uFEFFplan"));
  EXPECT_EQ(reread.stringArrayForKey("RecentLocalFiles"), (QStringList{"/a.orrery", "/b.orrery"}));
  EXPECT_EQ(reread.dictionaryForKey("CurrentState"), frame);
  EXPECT_EQ(reread.objectForKey("blob").toByteArray(), QByteArray("\x00\x01", 2));
}

TEST_F(UserDefaultsTest, RemovalAndRegisteredDefaults) {
  UserDefaults defaults(path());
  defaults.registerDefaults({{"RecentLocalFiles", QVariantList{}}, {"fontSizeFactor", 5}});
  EXPECT_TRUE(defaults.hasObjectForKey("RecentLocalFiles"));
  EXPECT_EQ(defaults.integerForKey("fontSizeFactor"), 5);
  defaults.setInteger(3, "fontSizeFactor");
  EXPECT_EQ(defaults.integerForKey("fontSizeFactor"), 3);
  defaults.removeObjectForKey("fontSizeFactor");
  EXPECT_EQ(defaults.integerForKey("fontSizeFactor"), 5);

  // Registered values are never written (read once the writes on their way are done: the file
  // may hold the set value for a moment).
  ASSERT_TRUE(defaults.flush());
  UserDefaults reread(path());
  EXPECT_FALSE(reread.hasObjectForKey("RecentLocalFiles"));
  EXPECT_FALSE(reread.hasObjectForKey("fontSizeFactor"));
}

TEST_F(UserDefaultsTest, TypedReadsOfTheWrongKindAnswerNeutralValues) {
  UserDefaults defaults(path());
  defaults.setObject(QVariantMap{{"a", 1}}, "map");
  defaults.setString("12", "text");
  defaults.setObject(QVariantList{"x", 3}, "mixed");
  EXPECT_EQ(defaults.integerForKey("map"), 0);
  EXPECT_TRUE(defaults.stringForKey("map").isEmpty());
  EXPECT_TRUE(defaults.arrayForKey("map").isEmpty());
  EXPECT_TRUE(defaults.dictionaryForKey("text").isEmpty());
  EXPECT_EQ(defaults.integerForKey("text"), 12);
  EXPECT_TRUE(defaults.stringArrayForKey("mixed").isEmpty());
  EXPECT_EQ(defaults.integerForKey("absent"), 0);
  EXPECT_FALSE(defaults.boolForKey("absent"));
}

TEST_F(UserDefaultsTest, EachChangeIsAnnouncedAtOnceAndReachesTheFileWithoutAFlush) {
  UserDefaults defaults(path());
  int posted = 0;
  platform::ObserverScope scope;
  scope.observe(platform::kUserDefaultsDidChangeNotification, &defaults, [&](const platform::Notification&) { ++posted; });
  defaults.setInteger(1, "k");
  EXPECT_EQ(posted, 1);
  defaults.setInteger(2, "k");
  EXPECT_EQ(posted, 2);
  EXPECT_EQ(defaults.integerForKey("k"), 2);
  QDeadlineTimer bound(10000);
  while (readStored(path(), "k") != 2) {
    ASSERT_FALSE(bound.hasExpired()) << "the change never reached the file";
    QThread::msleep(2);
  }
}

// The store keeps changing while its file is written on another thread (the thread checker
// reads this one: the written state must share nothing the store goes on changing).
TEST_F(UserDefaultsTest, ChangesWhileTheFileIsWrittenLeaveTheLastStateOnDisk) {
  UserDefaults defaults(path());
  // Pauses let a write end between changes as well as run during them.
  for (int i = 0; i < 300; ++i) {
    defaults.setInteger(i, QStringLiteral("k%1").arg(i % 40));
    defaults.setObject(QVariantList{i, QStringLiteral("v")}, "list");
    QThread::usleep(i % 3 == 0 ? 1000 : 20);
  }
  ASSERT_TRUE(defaults.flush());
  UserDefaults reread(path());
  EXPECT_EQ(reread.integerForKey("k19"), 299);
  EXPECT_EQ(reread.objectForKey("list"), QVariant(QVariantList{299, QStringLiteral("v")}));
}

TEST_F(UserDefaultsTest, SettingWhatAKeyHoldsNeitherWritesNorAnnounces) {
  UserDefaults defaults(path());
  defaults.setObject(QVariantList{1, "two"}, "list");
  defaults.setInteger(3, "n");
  ASSERT_TRUE(defaults.flush());
  ASSERT_TRUE(QFile::remove(path()));
  int posted = 0;
  platform::ObserverScope scope;
  scope.observe(platform::kUserDefaultsDidChangeNotification, &defaults, [&](const platform::Notification&) { ++posted; });
  defaults.setObject(QVariantList{1, "two"}, "list");
  defaults.setInteger(3, "n");
  defaults.removeObjectForKey("absent");
  ASSERT_TRUE(defaults.flush());
  EXPECT_EQ(posted, 0);
  EXPECT_FALSE(QFile::exists(path())) << "an unchanged store was written again";
  defaults.setDouble(3, "n");  // the same number of another kind is a change
  ASSERT_TRUE(defaults.flush());
  EXPECT_EQ(posted, 1);
  EXPECT_EQ(UserDefaults(path()).objectForKey("n").typeId(), QMetaType::Double);
}

// The Qt messages of the calling process while it lives, from any thread.
class WarningCapture {
 public:
  WarningCapture() {
    sCurrent = this;
    mPrevious = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
      std::lock_guard lock(sCurrent->mMutex);
      sCurrent->mLines << text;
    });
  }
  ~WarningCapture() {
    qInstallMessageHandler(mPrevious);
    sCurrent = nullptr;
  }
  int count(const QString& text) {
    std::lock_guard lock(mMutex);
    return int(std::count_if(mLines.begin(), mLines.end(), [&](const QString& l) { return l.contains(text); }));
  }

 private:
  static inline WarningCapture* sCurrent = nullptr;
  std::mutex mMutex;
  QStringList mLines;
  QtMessageHandler mPrevious;
};

TEST_F(UserDefaultsTest, ADamagedFileIsIgnoredWithoutWaitingAndReplacedByTheNextWrite) {
  struct Row {
    const char* name;
    std::function<bool(const QString&)> damage;
    const char* logged;
  };
  const Row rows[] = {
      {"bytes of another kind",
       [](const QString& p) {
         QFile file(p);
         return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write("not a settings file") > 0;
       },
       "Ignoring unreadable settings file"},
      {"a FIFO",
       [](const QString& p) { return QFile::remove(p) && ::mkfifo(QFile::encodeName(p).constData(), 0600) == 0; },
       "not a regular file (a FIFO)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    QFile::remove(path());
    UserDefaults(path()).setInteger(1, "seed");  // creates the folder
    ASSERT_TRUE(row.damage(path()));
    WarningCapture warnings;
    // Read on a thread of its own, so that a read that waits fails the test instead of hanging it.
    auto read = std::async(std::launch::async, [this] { return std::make_unique<UserDefaults>(path()); });
    if (read.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
      ADD_FAILURE() << "the store still waits on its file after 10 s";
      // A writer that comes and goes lets the waiting open return.
      if (const int fd = ::open(QFile::encodeName(path()).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC); fd >= 0)
        ::close(fd);
    }
    const std::unique_ptr<UserDefaults> defaults = read.get();
    EXPECT_FALSE(defaults->hasObjectForKey("seed"));
    EXPECT_EQ(warnings.count(row.logged), 1) << "the damage is logged once";
    defaults->setInteger(4, "k");
    ASSERT_TRUE(defaults->flush());
    EXPECT_EQ(UserDefaults(path()).integerForKey("k"), 4);
  }
}

// A link in the file's place to what is not a regular file is neither read nor written through:
// whoever links the file to /dev/null means to keep no settings, and the device stays a device.
TEST_F(UserDefaultsTest, ALinkToWhatIsNotARegularFileIsNeitherReadNorWritten) {
  const struct {
    const char* kind;
    std::function<bool(const QByteArray&)> make;
  } rows[] = {
      {"a FIFO", [](const QByteArray& p) { return ::mkfifo(p.constData(), 0600) == 0; }},
      {"a folder", [](const QByteArray& p) { return ::mkdir(p.constData(), 0700) == 0; }},
      // A node of its own in the test's folder, where root may make one; never a real device.
      {"a device", [](const QByteArray& p) { return ::mknod(p.constData(), S_IFCHR | 0600, makedev(1, 3)) == 0; }}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.kind);
    const QString folder = mDir.filePath(row.kind), link = folder + "/defaults.dat";
    const QByteArray target = QFile::encodeName(folder + "/target");
    ASSERT_TRUE(QDir().mkpath(folder));
    if (!row.make(target)) continue;  // no device without root
    ASSERT_EQ(::symlink("target", QFile::encodeName(link).constData()), 0);
    struct stat before {}, after {};
    ASSERT_EQ(::lstat(target.constData(), &before), 0);
    WarningCapture warnings;
    {
      UserDefaults defaults(link);
      defaults.setInteger(4, "k");
      defaults.setInteger(5, "k");
      EXPECT_FALSE(defaults.flush());
    }
    const QString why = QStringLiteral(": not a regular file (%1)").arg(row.kind);
    EXPECT_EQ(warnings.count("Not reading " + link + why), 1);
    EXPECT_EQ(warnings.count("Not writing " + link + why), 1) << "said once for all the writes";
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    ASSERT_EQ(::lstat(target.constData(), &after), 0);
    EXPECT_TRUE(after.st_ino == before.st_ino && after.st_mode == before.st_mode && after.st_rdev == before.st_rdev)
        << row.kind << " stays as it was";
  }
}

// A settings file written by hand: the store's header, then one entry under "k" whose value
// the caller streams.
template <class WriteValue>
void writeHostileFile(const QString& path, WriteValue writeValue) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  QDataStream out(&file);
  out.setVersion(QDataStream::Qt_6_4);
  out << quint32(0x4F524446) << quint32(1) << quint32(1) << QString("k");
  writeValue(out);
}

TEST_F(UserDefaultsTest, HostileFilesAreIgnoredWithoutExhaustingMemoryOrStack) {
  UserDefaults(path()).setInteger(1, "seed");  // creates the folder
  // A list that claims four billion entries: read entry by entry, it ends with the file.
  writeHostileFile(path(), [](QDataStream& out) { out << quint32(QMetaType::QVariantList) << qint8(0) << quint32(0xfeffffdb) << QVariant(1); });
  EXPECT_FALSE(UserDefaults(path()).hasObjectForKey("k"));
  writeHostileFile(path(), [](QDataStream& out) { out << quint32(QMetaType::QStringList) << qint8(0) << quint32(0xffffffff) << QString("a"); });
  EXPECT_FALSE(UserDefaults(path()).hasObjectForKey("k"));
  // Lists nested a million deep.
  writeHostileFile(path(), [](QDataStream& out) {
    for (int i = 0; i < 1'000'000; ++i) out << quint32(QMetaType::QVariantList) << qint8(0) << quint32(1);
  });
  EXPECT_FALSE(UserDefaults(path()).hasObjectForKey("k"));
  // A kind the store never writes (a picture, whose reader trusts its own size fields).
  writeHostileFile(path(), [](QDataStream& out) { out << quint32(QMetaType::QImage) << qint8(0) << quint32(0); });
  EXPECT_FALSE(UserDefaults(path()).hasObjectForKey("k"));
  // A date-time with a time spec Qt does not know reads as it will after a save: in UTC.
  writeHostileFile(path(), [](QDataStream& out) {
    out << quint32(QMetaType::QDateTime) << qint8(0) << qint64(2'460'000) << quint32(1000) << qint8(6);
  });
  EXPECT_EQ(UserDefaults(path()).objectForKey("k").toDateTime().timeSpec(), Qt::UTC);

  // What the store writes still reads, nested lists and maps included.
  const QVariantMap nested{{"list", QVariantList{QVariantList{1, "two"}, QStringList{"a"}, QVariantMap{{"d", QDateTime::fromSecsSinceEpoch(5, Qt::UTC)}}}},
                           {"url", QUrl("file:///x")}};
  UserDefaults(path()).setObject(nested, "k");
  EXPECT_EQ(UserDefaults(path()).dictionaryForKey("k"), nested);
}

TEST_F(UserDefaultsTest, StandardStoreLivesInTheConfigFolder) {
  EXPECT_TRUE(UserDefaults::standardFilePath().startsWith(qEnvironmentVariable("XDG_CONFIG_HOME")));
  EXPECT_EQ(UserDefaults::standard().filePath(), UserDefaults::standardFilePath());
}

}  // namespace
