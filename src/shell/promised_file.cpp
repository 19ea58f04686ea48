#include "shell/promised_file.h"

#include "foundation/logging.h"
#include "foundation/string_extensions.h"
#include "model/idea_document.h"
#include "model/persistence_controller.h"
#include "platform/core/atomic_file.h"
#include "platform/core/dispatch.h"
#include "platform/services/qt_main_queue.h"
#include "platform/services/standard_folders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>
#include <unistd.h>

namespace orrery {

namespace {
constexpr qsizetype kMaxTitleCharacters = 10;
// How often a reader on the main thread looks for main-queue tasks while the idea is on its way.
constexpr std::chrono::milliseconds kTaskPoll{5};
// Main thread only: a reader is running main-queue tasks, so one of them that asks again only waits.
bool gRunningMainQueueTasks = false;

// The pid a promise folder name starts with, or 0.
pid_t ownerOf(const QString& folderName) {
  const qsizetype dash = folderName.indexOf(QLatin1Char('-'));
  bool ok = false;
  const long pid = folderName.left(dash).toLong(&ok);
  return ok && pid > 0 ? static_cast<pid_t>(pid) : 0;
}

// The file is named after the idea's title, which the user typed: not written through the
// document writer, whose failures log the path, and logged here by its folder only.
bool writeNewFile(const QString& path, const QByteArray& bytes, QString* reason) {
  platform::AtomicWriteOptions options;
  options.exclusive = true;
  platform::AtomicWriteFailure failure;
  const bool written = platform::writeFileAtomically(QFile::encodeName(path).toStdString(),
                                                     std::string_view(bytes.constData(), size_t(bytes.size())),
                                                     options, &failure) == platform::AtomicWriteResult::Written;
  if (!written) *reason = QString::fromStdString(failure.text());
  return written;
}

bool processRuns(pid_t pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

void removeFolders(const std::function<bool(pid_t)>& remove) {
  // Only looked at, never made here.
  const QString base = platform::existingPrivateTemporaryFolder();
  if (base.isEmpty()) return;
  const QString drags = QDir(base).filePath(QStringLiteral("drags"));
  std::error_code ec;
  if (std::filesystem::is_symlink(drags.toStdString(), ec)) return;
  for (const auto& entry : std::filesystem::directory_iterator(drags.toStdString(), ec)) {
    if (!entry.is_directory(ec) || entry.is_symlink(ec)) continue;
    const pid_t pid = ownerOf(QString::fromStdString(entry.path().filename().string()));
    if (pid && remove(pid)) std::filesystem::remove_all(entry.path(), ec);
  }
}
}  // namespace

QString PromisedFile::dragsFolder() {
  const QString base = platform::privateTemporaryFolder();
  if (base.isEmpty()) return {};
  const QString drags = QDir(base).filePath(QStringLiteral("drags"));
  return platform::ensurePrivateFolder(drags) ? drags : QString();
}

QString PromisedFile::fileNameForTitle(const QString& title) {
  QString base = title.isEmpty() ? QString() : stringext::createProperFileNameWithMaxLenght(title, kMaxTitleCharacters);
  // A leading dot would hide the file from the user.
  while (base.startsWith(QLatin1Char('.'))) base.remove(0, 1);
  if (base.isEmpty()) base = QStringLiteral("document");
  return base + QStringLiteral(".orrery");
}

QString PromisedFile::createFreshFolder() {
  static std::atomic<int> counter{0};
  const QString drags = dragsFolder();
  if (drags.isEmpty()) return {};
  QByteArray pattern =
      QDir(drags).filePath(QStringLiteral("%1-%2-XXXXXX").arg(::getpid()).arg(++counter)).toLocal8Bit();
  if (!::mkdtemp(pattern.data())) {  // made 0700
    logLine(QStringLiteral("Cannot make a folder for a dragged file in %1: %2")
                .arg(drags, QString::fromLocal8Bit(std::strerror(errno))));
    return {};
  }
  return QString::fromLocal8Bit(pattern);
}

std::shared_ptr<PromisedFile> PromisedFile::create(const QString& path, std::function<void()> undelivered) {
  std::shared_ptr<PromisedFile> promise(new PromisedFile);
  promise->mPath = path;
  promise->mUndelivered = std::move(undelivered);
  return promise;
}

int PromisedFile::removeFoldersOfDeadProcesses() {
  int removed = 0;
  removeFolders([&removed](pid_t pid) {
    if (processRuns(pid)) return false;
    ++removed;
    return true;
  });
  return removed;
}

void PromisedFile::removeOwnFolders() {
  const pid_t self = ::getpid();
  removeFolders([self](pid_t pid) { return pid == self; });
}

void PromisedFile::fulfil(const IdeaPtr& idea) {
  if (!idea || mPath.isEmpty()) {
    settle(false);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mMutex);
    mFulfilled = true;
  }
  auto doc = IdeaDocument::createWithFileName(mPath, DocumentLocationLocalFile);
  doc->setIdea(idea->deepCopyWithNewIdentifiersNoExternalLinks());
  auto self = shared_from_this();
  PersistenceController::singleton().workQueue().async([self, snapshot = doc->snapshot()]() mutable {
    const EncodedDocument file = snapshot.encodeWithinLimits(/*compressed=*/true);
    QString reason = file.refusal;
    const bool written = !file.bytes.isEmpty() && writeNewFile(self->mPath, file.bytes, &reason);
    if (!written)
      logLine(
          QStringLiteral("Failed to write dragged file in %1: %2").arg(QFileInfo(self->mPath).absolutePath(), reason));
    snapshot = DocumentSnapshot();
    self->settle(written);
  });
}

void PromisedFile::settle(bool written) {
  {
    std::lock_guard<std::mutex> lock(mMutex);
    mSettled = true;
    mWritten = written;
  }
  mChanged.notify_all();
  if (!written) tellUndelivered();
}

void PromisedFile::tellUndelivered() {
  {
    std::lock_guard<std::mutex> lock(mMutex);
    if (std::exchange(mToldUndelivered, true)) return;
  }
  if (mUndelivered) platform::mainQueue().async(mUndelivered);
}

QUrl PromisedFile::waitForURL(std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  std::unique_lock<std::mutex> lock(mMutex);
  // Asked on the main thread before the idea has come: it comes through the main queue (a
  // map's idea once the map has been read again), which this wait would hold up. The tasks
  // posted there run meanwhile; once the idea is in hand only the write, elsewhere, is waited for.
  if (platform::mainQueue().isCurrent() && !gRunningMainQueueTasks) {
    while (!mFulfilled && !mSettled && std::chrono::steady_clock::now() < deadline) {
      lock.unlock();
      gRunningMainQueueTasks = true;
      const int ran = platform::runPostedQtMainQueueTasks();
      gRunningMainQueueTasks = false;
      lock.lock();
      if (ran == 0)
        mChanged.wait_until(lock, std::min(deadline, std::chrono::steady_clock::now() + kTaskPoll),
                            [this] { return mFulfilled || mSettled; });
    }
  }
  const bool settled = mChanged.wait_until(lock, deadline, [this] { return mSettled; });
  const bool written = mWritten;
  lock.unlock();
  if (settled) return written ? QUrl::fromLocalFile(mPath) : QUrl();
  // The reader goes on with nothing; a file written after this reaches nobody.
  logLine(QStringLiteral("Dragged file in %1 not written within %2 ms; the other program got nothing")
              .arg(QFileInfo(mPath).absolutePath())
              .arg(wait.count()));
  tellUndelivered();
  return {};
}

}  // namespace orrery
