#include "app/app_delegate.h"
#include "app/single_instance.h"

#include "platform/services/hand_off_message.h"
#include "platform/services/user_defaults.h"
#include "support/process_home.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <memory>

#include <unistd.h>

using namespace orrery;

namespace {

// A home of its own for the programs a test starts.
struct ProcessHome : testsupport::ProcessHome {
  ProcessHome() {
    QDir().mkpath(root.filePath("files"));
    // Not a first start of this version: no what's-new window besides the ones a test expects.
    platform::UserDefaults stored(defaultsFile());
    stored.setString(AppDelegate::versionNumberDisplayString(), "CurrentOrreryVersion");
  }
  QString files() const { return root.filePath("files"); }

  std::unique_ptr<QProcess> start(const QStringList& arguments, const QString& workingFolder = {}) {
    auto p = testsupport::ProcessHome::start(QStringLiteral(ORRERY_BINARY), arguments, workingFolder);
    EXPECT_NE(p->error(), QProcess::FailedToStart);
    return p;
  }

  // What the program stored (read fresh each time).
  QStringList recentFiles() const {
    platform::UserDefaults stored(defaultsFile());
    return stored.stringArrayForKey("RecentLocalFiles");
  }
  QVariantList storedWindows() const {
    platform::UserDefaults stored(defaultsFile());
    return stored.dictionaryForKey("CurrentState").value("controllerStates").toList();
  }

  // Waits for a condition of the files a program writes; the timeout only ends a broken run.
  static bool waitFor(const std::function<bool()>& condition, int timeoutMillis = 20000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
      if (timer.elapsed() > timeoutMillis) return false;
      QThread::msleep(20);
    }
    return true;
  }

  bool instanceListens() const { return instanceListensIn(runtime()); }
  static bool instanceListensIn(const QString& folder) {
    QLocalSocket probe;
    probe.connectToServer(QDir(folder).filePath("orrery.socket"));
    return probe.waitForConnected(200);
  }
};

::testing::AssertionResult stopAndStore(QProcess& p) {
  ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
  if (!p.waitForFinished(20000)) return ::testing::AssertionFailure() << "still running after SIGTERM";
  if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
    return ::testing::AssertionFailure() << "status " << p.exitStatus() << " code " << p.exitCode();
  return ::testing::AssertionSuccess();
}

}  // namespace

class HandOff : public ::testing::Test {
 protected:
  ProcessHome home;

  // A document the program can open, written by the program's own model.
  QString document(const QString& name);
};

QString HandOff::document(const QString& name) {
  // An OPML file needs no binary writer and still proves the hand-off: it opens as a new
  // window, and native files are covered in-process.
  const QString path = QDir(home.files()).filePath(name);
  QFile f(path);
  EXPECT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("<?xml version=\"1.0\"?><opml version=\"1.0\"><head><title>" + name.toUtf8() +
          "</title></head><body/></opml>");
  return path;
}

TEST_F(HandOff, AFileOnTheCommandLineOpensAndSIGTERMStoresTheWindows) {
  const QString path = document("first.opml");
  auto first = home.start({path});
  // The 5-second state cycle writes the window set once the import's window is there.
  ASSERT_TRUE(ProcessHome::waitFor([&] { return home.storedWindows().size() == 1; }));
  ASSERT_TRUE(stopAndStore(*first));
  const QVariantList windows = home.storedWindows();
  ASSERT_EQ(windows.size(), 1) << "the imported outline's window, and no extra first window";
  EXPECT_EQ(windows[0].toMap().value("controllerClass").toString(), QStringLiteral("SolarSystemViewController"));
}

TEST_F(HandOff, ASecondLaunchHandsItsRelativePathToTheFirstAndExits) {
  auto first = home.start({});
  ASSERT_TRUE(ProcessHome::waitFor([&] { return home.instanceListens(); }));
  document("second.opml");
  auto second = home.start({"second.opml"}, home.files());
  ASSERT_TRUE(second->waitForFinished(20000));
  EXPECT_EQ(second->exitCode(), 0);
  // The first instance shows it beside its first window; only the import is kept, the
  // untouched first scratch map is not.
  ASSERT_TRUE(ProcessHome::waitFor([&] { return home.storedWindows().size() == 1; }));
  ASSERT_TRUE(stopAndStore(*first));
  const QVariantList windows = home.storedWindows();
  ASSERT_EQ(windows.size(), 1);
  EXPECT_EQ(windows[0].toMap().value("controllerClass").toString(), QStringLiteral("SolarSystemViewController"));
}

// With a runtime folder of the session or without one (the lock then lives in the private
// temporary folder), an instance that ends cleanly leaves neither folder anything.
TEST_F(HandOff, ACleanExitLeavesNothingInTheRuntimeOrTheTemporaryFolder) {
  const QString temporary = home.root.filePath("tmp");
  const QString fallback = QDir(temporary).filePath(QStringLiteral("orrery-%1").arg(::geteuid()));
  for (const bool sessionRuntime : {true, false}) {
    if (!sessionRuntime) home.env.remove("XDG_RUNTIME_DIR");
    auto first = home.start({});
    const QString folder = sessionRuntime ? home.runtime() : fallback;
    ASSERT_TRUE(ProcessHome::waitFor([&] { return ProcessHome::instanceListensIn(folder); }));
    ASSERT_TRUE(stopAndStore(*first));
    // Without a session runtime folder Qt makes its own ("runtime-<user>"), which is not ours.
    const auto left = [](const QString& folder) {
      return QDir(folder)
          .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
          .filter(QRegularExpression(QStringLiteral("^(?!runtime-)")))
          .join(", ");
    };
    EXPECT_EQ(left(home.runtime()), "") << "session runtime folder: " << sessionRuntime;
    EXPECT_EQ(left(temporary), "") << "session runtime folder: " << sessionRuntime;
  }
}

TEST_F(HandOff, ALockLeftByAKilledInstanceIsTakenOver) {
  auto first = home.start({});
  ASSERT_TRUE(ProcessHome::waitFor([&] { return home.instanceListens(); }));
  ::kill(static_cast<pid_t>(first->processId()), SIGKILL);
  first->waitForFinished(10000);
  ASSERT_TRUE(QFile::exists(QDir(home.runtime()).filePath("orrery.lock")));
  auto next = home.start({});
  ASSERT_TRUE(ProcessHome::waitFor([&] { return home.instanceListens(); }));
  EXPECT_FALSE(next->waitForFinished(300)) << "it became the first instance, not a hand-off";
  EXPECT_TRUE(stopAndStore(*next));
}

TEST_F(HandOff, TwoLaunchesAtOnceLeaveOneInstanceWithBothFiles) {
  const QString a = document("a.opml");
  const QString b = document("b.opml");
  auto one = home.start({a});
  auto two = home.start({b});
  // One of them hands over and exits; the other stays.
  // QProcess notices an exit only inside its own waits.
  ASSERT_TRUE(ProcessHome::waitFor([&] {
    one->waitForFinished(10);
    two->waitForFinished(10);
    return one->state() == QProcess::NotRunning || two->state() == QProcess::NotRunning;
  }));
  QProcess& stayed = one->state() == QProcess::NotRunning ? *two : *one;
  QProcess& left = one->state() == QProcess::NotRunning ? *one : *two;
  EXPECT_EQ(left.exitCode(), 0);
  ASSERT_TRUE(ProcessHome::waitFor([&] { return home.storedWindows().size() == 2; }));
  ASSERT_TRUE(stopAndStore(stayed));
  EXPECT_EQ(home.storedWindows().size(), 2) << "one window per file, no extra first window";
}

TEST_F(HandOff, GarbageOnTheSocketIsIgnoredAndTheInstanceStillAnswers) {
  auto first = home.start({});
  ASSERT_TRUE(ProcessHome::waitFor([&] { return home.instanceListens(); }));
  const QString socketPath = QDir(home.runtime()).filePath("orrery.socket");
  const QList<QByteArray> garbage = {QByteArray("\x00\x00\x00\x05hello", 9), QByteArray("\x7f\xff\xff\xff", 4),
                                     platform::handoff::encodeMessage({}).left(2),
                                     QByteArray("\x00\x00\x00\x07[1,2,3]", 11),
                                     platform::handoff::encodeMessage({"relative.orrery"})};
  for (const QByteArray& bytes : garbage) {
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    ASSERT_TRUE(socket.waitForConnected(2000));
    socket.write(bytes);
    socket.waitForBytesWritten(2000);
    socket.waitForReadyRead(300);
    EXPECT_EQ(socket.bytesAvailable(), 0) << "no answer to garbage";
  }
  SingleInstance client(home.runtime());
  QString error;
  EXPECT_TRUE(client.handOff({}, &error, 5000)) << error.toStdString();
  EXPECT_FALSE(first->waitForFinished(100));
  EXPECT_TRUE(stopAndStore(*first));
}

TEST_F(HandOff, AnInstanceThatNeverAnswersEndsTheLaunchWithAMessage) {
  // Something holds the lock and the socket but never answers.
  QLockFile lock(QDir(home.runtime()).filePath("orrery.lock"));
  ASSERT_TRUE(lock.tryLock(0));
  QLocalServer silent;
  ASSERT_TRUE(silent.listen(QDir(home.runtime()).filePath("orrery.socket")));
  auto launch = home.start({document("x.orrery")});
  ASSERT_TRUE(launch->waitForFinished(30000));
  EXPECT_NE(launch->exitCode(), 0);
}

// A lock file nobody holds (left by a killed instance, cut short, garbled, even naming a live
// process) never keeps a start out; a held one does, whether an instance of this version or
// Qt's lock file (earlier versions) holds it, and Qt's lock files read who holds ours.
TEST(SingleInstanceInProcess, OnlyAHeldLockKeepsAStartOut) {
  const QByteArray contents[] = {"", "\xff\xfe not a process\n",
                                 QByteArray::number(QCoreApplication::applicationPid()) + "\norrery\nhost\n"};
  for (const QByteArray& content : contents) {
    QTemporaryDir folder;
    SingleInstance instance(folder.path());
    QFile lockFile(instance.lockPath());
    ASSERT_TRUE(lockFile.open(QIODevice::WriteOnly));
    lockFile.write(content);
    lockFile.close();
    EXPECT_TRUE(instance.tryToBecomeFirst()) << content.toStdString();
  }

  QTemporaryDir folder;
  {
    SingleInstance first(folder.path());
    ASSERT_TRUE(first.tryToBecomeFirst());
    EXPECT_FALSE(SingleInstance(folder.path()).tryToBecomeFirst()) << "held by this version";
    QLockFile earlier(first.lockPath());
    EXPECT_FALSE(earlier.tryLock(0)) << "an earlier version sees it held";
    qint64 pid = 0;
    QString host, application;
    ASSERT_TRUE(earlier.getLockInfo(&pid, &host, &application));
    EXPECT_EQ(pid, QCoreApplication::applicationPid());
  }
  {
    SingleInstance next(folder.path());
    EXPECT_TRUE(next.tryToBecomeFirst()) << "let go when its holder ended";
  }
  QFile::remove(QDir(folder.path()).filePath("orrery.lock"));
  QLockFile held(QDir(folder.path()).filePath("orrery.lock"));
  ASSERT_TRUE(held.tryLock(0));
  EXPECT_FALSE(SingleInstance(folder.path()).tryToBecomeFirst()) << "held by an earlier version";
}

// Anything but a lock file of its own at the lock's name is neither written nor taken for
// another instance: the start runs alone and says why.
TEST(SingleInstanceInProcess, ALockNameThatIsNoFileOfItsOwnLetsTheStartRunAlone) {
  QLocalServer server;
  const std::pair<std::function<bool(const QString&, const QString&)>, const char*> entries[] = {
      {[](const QString& lock, const QString& other) {
         QFile file(other);
         return file.open(QIODevice::WriteOnly) && file.write("mine") == 4 && (file.close(), QFile::link(other, lock));
       },
       "not a regular file (a link)"},
      {[](const QString& lock, const QString&) { return QDir().mkpath(lock); }, "not a regular file (a folder)"},
      {[&](const QString& lock, const QString&) { return server.listen(lock); }, "not a regular file (a socket)"}};
  for (const auto& [make, why] : entries) {
    SCOPED_TRACE(why);
    QTemporaryDir folder;
    SingleInstance instance(folder.path());
    const QString other = QDir(folder.path()).filePath("other");
    ASSERT_TRUE(make(instance.lockPath(), other));
    EXPECT_TRUE(instance.tryToBecomeFirst());
    EXPECT_EQ(instance.unusableLock().toStdString(), why);
    EXPECT_FALSE(instance.listen({})) << "no hand-off without the lock";
    QFile kept(other);
    if (kept.open(QIODevice::ReadOnly)) {
      EXPECT_EQ(kept.readAll(), "mine") << "what a link points to keeps its content";
    }
  }
}

TEST(SingleInstanceInProcess, AMessageInPiecesIsDeliveredOnceAndAnswered) {
  QTemporaryDir folder;
  SingleInstance first(folder.path());
  ASSERT_TRUE(first.tryToBecomeFirst());
  std::vector<QStringList> delivered;
  ASSERT_TRUE(first.listen([&](const QStringList& arguments) { delivered.push_back(arguments); }));
  SingleInstance second(folder.path());
  EXPECT_FALSE(second.tryToBecomeFirst()) << "the lock is held";

  // The timeout only ends a broken run.
  const auto pumpUntil = [](const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
  };
  const auto pumpAWhile = [] {
    for (int i = 0; i < 10; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  };
  const QByteArray message = platform::handoff::encodeMessage({"/maps/a.orrery", "db-k://1/x"});
  QLocalSocket socket;
  socket.connectToServer(first.socketPath());
  ASSERT_TRUE(socket.waitForConnected(2000));
  socket.write(message.left(3));
  socket.flush();
  pumpAWhile();
  EXPECT_TRUE(delivered.empty()) << "not before the whole message";
  socket.write(message.mid(3) + message);  // the rest, then the same message again
  socket.flush();
  ASSERT_TRUE(pumpUntil([&] { return socket.bytesAvailable() > 0 || socket.state() != QLocalSocket::ConnectedState; }));
  pumpAWhile();  // anything still on its way
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0], (QStringList{"/maps/a.orrery", "db-k://1/x"}));
  EXPECT_EQ(socket.read(1), QByteArray("k"));
}

TEST(SingleInstanceInProcess, AConnectionThatNeverFinishesItsMessageIsClosedAndOthersStillGetThrough) {
  QTemporaryDir folder;
  SingleInstance first(folder.path());
  ASSERT_TRUE(first.tryToBecomeFirst());
  std::vector<QStringList> delivered;
  ASSERT_TRUE(first.listen([&](const QStringList& arguments) { delivered.push_back(arguments); }, /*idleMillis=*/50));
  QLocalSocket stalled;
  stalled.connectToServer(first.socketPath());
  ASSERT_TRUE(stalled.waitForConnected(2000));
  stalled.write(platform::handoff::encodeMessage({"/maps/a.orrery"}).left(6));
  stalled.flush();
  // The timeout only ends a broken run.
  QElapsedTimer timer;
  timer.start();
  while (stalled.state() != QLocalSocket::UnconnectedState && timer.elapsed() < 10000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_EQ(stalled.state(), QLocalSocket::UnconnectedState) << "the instance closed it";
  EXPECT_TRUE(delivered.empty());

  // The hand-off blocks this thread, so the instance answers from another one.
  bool answered = false;
  QString error;
  std::unique_ptr<QThread> helper(QThread::create([&] {
    SingleInstance later(folder.path());
    answered = later.handOff({"/maps/b.orrery"}, &error, 5000);
  }));
  helper->start();
  timer.restart();
  while (!helper->isFinished() && timer.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  helper->wait();
  EXPECT_TRUE(answered) << error.toStdString();
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0], QStringList{"/maps/b.orrery"});
}
