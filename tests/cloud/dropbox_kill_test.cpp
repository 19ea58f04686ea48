// An engine killed with SIGKILL at seeded points loses no acknowledged save: each launch of
// the child engine saves documents until it is killed; a last launch settles, and the app
// folder then holds every acknowledged save or a later one of the same document.

#include "fake_remote_server.h"
#include "model/support/virtual_main_queue.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using testsupport::FakeRemote;
using testsupport::FakeRemoteServer;

namespace {

constexpr int kKills = 20;

// The text of the root idea in document bytes.
QString textOf(const QByteArray& bytes);

class Child {
 public:
  explicit Child(const std::vector<std::string>& args) {
    int fds[2];
    if (pipe(fds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (posix_spawn(&mPid, argv[0], &actions, nullptr, argv.data(), environ) != 0) mPid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    mFd = fds[0];
    fcntl(mFd, F_SETFL, O_NONBLOCK);
  }
  ~Child() {
    kill9();
    if (mFd >= 0) close(mFd);
  }
  bool started() const { return mPid > 0; }
  // Whole lines read so far.
  QStringList lines() {
    char buffer[4096];
    ssize_t n;
    while ((n = read(mFd, buffer, sizeof buffer)) > 0) mPending.append(buffer, n);
    QStringList out;
    qsizetype end;
    while ((end = mPending.indexOf('\n')) >= 0) {
      out << QString::fromUtf8(mPending.left(end));
      mPending.remove(0, end + 1);
    }
    return out;
  }
  void kill9() {
    if (mPid <= 0) return;
    ::kill(mPid, SIGKILL);
    int status = 0;
    waitpid(mPid, &status, 0);
    mPid = -1;
  }

 private:
  pid_t mPid = -1;
  int mFd = -1;
  QByteArray mPending;
};

}  // namespace

#include "support/dropbox_engine_fixture.h"

namespace {
QString textOf(const QByteArray& bytes) { return orrery::testing::textOfDocumentBytes(bytes); }
}  // namespace

TEST(DropboxKill, EveryAcknowledgedSaveReachesTheAppFolderAfterKillsAtSeededPoints) {
  orrery::testing::VirtualMainQueue main;
  auto remote = FakeRemote::create();
  FakeRemoteServer server(remote);
  QTemporaryDir home(QFileInfo("/dev/shm").isWritable() ? "/dev/shm/orrery-kill-XXXXXX" : QDir::tempPath() + "/orrery-kill-XXXXXX");
  ASSERT_TRUE(home.isValid());
  const QString caPath = home.filePath("ca.der");
  {
    QFile ca(caPath);
    ASSERT_TRUE(ca.open(QIODevice::WriteOnly));
    ca.write(server.endpoints().anchorsDER.front());
  }
  auto args = [&](int launch, const char* mode) {
    return std::vector<std::string>{DROPBOX_CRASH_CHILD, home.filePath("home").toStdString(), server.https().origin(),
                                    caPath.toStdString(), server.accessToken().toStdString(),
                                    server.refreshToken().toStdString(), std::to_string(launch),
                                    std::to_string(1000 + launch), mode};
  };
  std::map<QString, QString> acknowledged;  // document → its last acknowledged text
  std::mt19937 random(20261207);
  int total = 0;
  for (int launch = 1; launch <= kKills; ++launch) {
    Child child(args(launch, "edit"));
    ASSERT_TRUE(child.started());
    const int acksBeforeKill = int(random() % 7);
    int acks = 0;
    // The server answers on this thread: keep the loop running while the child works.
    const bool reached = main.loop->runUntil(
        [&] {
          for (const QString& line : child.lines()) {
            const QStringList parts = line.split(' ');
            if (parts.size() == 3 && parts[0] == "ACK") {
              acknowledged[parts[1]] = parts[2];
              ++acks;
            }
          }
          return acks >= acksBeforeKill;
        },
        platform::Millis(20000));
    ASSERT_TRUE(reached) << "launch " << launch;
    // Somewhere in the middle of the next save.
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 4000));
    child.kill9();
    total += acks;
  }
  Child last(args(kKills + 1, "settle"));
  ASSERT_TRUE(last.started());
  bool settled = false;
  ASSERT_TRUE(main.loop->runUntil(
      [&] {
        for (const QString& line : last.lines()) settled = settled || line == "SETTLED";
        return settled;
      },
      platform::Millis(60000)));
  EXPECT_GT(total, 20);
  for (const auto& [id, text] : acknowledged) {
    const QString path = id.mid(QString("dropbox:").size());
    const QString onRemote = textOf(remote->contentOf(path));
    // Texts are "<launch>-<sequence>", zero-padded: later saves compare greater.
    auto key = [](const QString& t) { return std::make_pair(t.section('-', 0, 0).toInt(), t.section('-', 1).toInt()); };
    EXPECT_FALSE(onRemote.isEmpty()) << qPrintable(id) << " is missing";
    EXPECT_GE(key(onRemote), key(text)) << qPrintable(id) << ": " << qPrintable(onRemote) << " older than acknowledged "
                                        << qPrintable(text);
  }
}
