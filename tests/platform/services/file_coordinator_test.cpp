#include "platform/services/file_coordinator.h"
#include "platform/services/process_lock.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <thread>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace platform;

TEST(FileCoordinator, RefusesUnusablePathsWithoutRunningTheAccessor) {
  FileCoordinator coordinator;
  bool ran = false;
  EXPECT_FALSE(coordinator.coordinateReading("", [&](const QString&) { ran = true; }));
  EXPECT_FALSE(coordinator.coordinateWriting("relative/file.orrery", [&](const QString&) { ran = true; }));
  EXPECT_FALSE(ran);
}

TEST(FileCoordinator, AccessesOfOneFileNeverOverlapAcrossThreads) {
  QTemporaryDir dir;
  const QString path = dir.filePath("doc.orrery");
  // Two spellings of one file must share the lock.
  const QString other = dir.path() + "/./sub/../doc.orrery";
  ASSERT_TRUE(QDir(dir.path()).mkdir("sub"));
  std::atomic<int> inside{0}, maxInside{0};
  auto body = [&](const QString& p, bool write) {
    FileCoordinator coordinator;
    for (int i = 0; i < 3000; ++i) {
      auto access = [&](const QString&) {
        int now = ++inside;
        int seen = maxInside.load();
        while (now > seen && !maxInside.compare_exchange_weak(seen, now)) {
        }
        std::this_thread::yield();
        --inside;
      };
      if (write)
        coordinator.coordinateWriting(p, access);
      else
        coordinator.coordinateReading(p, access);
    }
  };
  std::thread a(body, path, true), b(body, other, false), c(body, path, false);
  a.join();
  b.join();
  c.join();
  EXPECT_EQ(maxInside.load(), 1);
}

TEST(FileCoordinator, DifferentFilesDoNotWaitAndNestedAccessDoesNotDeadlock) {
  QTemporaryDir dir;
  FileCoordinator coordinator;
  std::mutex m;
  std::condition_variable cv;
  bool otherDone = false;
  bool nestedRan = false;
  // A write of a.orrery is held open until another thread has read b.orrery.
  coordinator.coordinateReading(dir.filePath("a.orrery"), [&](const QString& p) {
    coordinator.coordinateReading(p, [&](const QString&) { nestedRan = true; });
    std::thread other([&] {
      FileCoordinator second;
      second.coordinateReading(dir.filePath("b.orrery"), [&](const QString&) {});
      std::lock_guard lock(m);
      otherDone = true;
      cv.notify_all();
    });
    std::unique_lock lock(m);
    EXPECT_TRUE(cv.wait_for(lock, std::chrono::seconds(20), [&] { return otherDone; }));
    lock.unlock();
    other.join();
  });
  EXPECT_TRUE(nestedRan);
}

TEST(ProcessLock, HeldAcrossProcessesAndReleasedWhenTheHolderIsKilled) {
  QTemporaryDir dir;
  const QByteArray folder = QFile::encodeName(dir.path());
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ProcessLock lock(dir.path());
    char c = lock.isLocked() ? 'L' : 'F';
    if (write(ready[1], &c, 1) != 1) _exit(3);
    for (;;) pause();
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 'L');
  int fd = open(folder.constData(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_NE(flock(fd, LOCK_EX | LOCK_NB), 0) << "the child holds the folder lock";
  {
    // A holder that never lets go is waited for only so long.
    ProcessLock impatient(dir.path(), std::chrono::milliseconds(20));
    EXPECT_FALSE(impatient.isLocked());
  }
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  {
    ProcessLock lock(dir.path());
    EXPECT_TRUE(lock.isLocked());
  }
  EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0) << "released by the kernel and by our unlock";
  close(fd);
  close(ready[0]);
  close(ready[1]);
}

TEST(ProcessLock, MissingPathHoldsNothing) {
  ProcessLock lock("/nonexistent/folder/for/orrery");
  EXPECT_FALSE(lock.isLocked());
}
