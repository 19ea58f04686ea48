#include "platform/cloud/local_folder_container.h"

#include "platform/core/dispatch.h"
#include "platform/core/notification_center.h"
#include "platform/services/file_presenter.h"
#include "platform/services/qt_regular_file.h"
#include "platform/services/standard_folders.h"
#include "platform/services/user_defaults.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QThread>
#include <QUuid>

#include <cerrno>
#include <mutex>

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr char kIdentityFileName[] = ".identity";
constexpr qint64 kMaxIdentityBytes = 4096;

bool isWritableFolder(const QString& path) {
  const QByteArray native = QFile::encodeName(path);
  if (::access(native.constData(), W_OK | X_OK) != 0) return false;
  // Root may write anywhere by permission, but not on a file system mounted read-only.
  struct statvfs fs {};
  return ::statvfs(native.constData(), &fs) == 0 && (fs.f_flag & ST_RDONLY) == 0;
}

// Creates the identity file complete or not at all; false when another instance was first.
bool createIdentityFile(const QString& path) {
  const QByteArray token = QUuid::createUuid().toString(QUuid::WithoutBraces).toUtf8();
  const QString temporary = path + QStringLiteral(".new-") + QUuid::createUuid().toString(QUuid::Id128).left(12);
  QFile file(temporary);
  if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) || file.write(token) != token.size() || !file.flush()) {
    file.remove();
    return false;
  }
  ::fsync(file.handle());
  file.close();
  // link(2) fails when the name exists: of two instances, exactly one token wins.
  const QByteArray target = QFile::encodeName(path);
  bool created = ::link(QFile::encodeName(temporary).constData(), target.constData()) == 0;
  const int linkError = errno;
  QFile::remove(temporary);
  if (!created && linkError != EEXIST) {
    // A file system without hard links (some network shares): create the name exclusively.
    const int fd = ::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    created = ::write(fd, token.constData(), size_t(token.size())) == token.size() && ::fsync(fd) == 0;
    ::close(fd);
  }
  return created;
}

QString identityFileOf(const QString& root) { return root + QLatin1Char('/') + QLatin1String(kIdentityFileName); }

// The root while it is the container, else empty. A root is the container while it holds an
// identity: the one the program made there, or one that came with the folder (another
// machine's copy, an earlier run). The program makes it (the default root's folder first) only
// where the user connects, and in the default root at its first look when the program never
// made that root (the iCloud choice stored before any folder was). Without an identity, a
// chosen folder never connected, the empty mount point of an unmounted share and an empty
// folder standing where the container was all look alike: none of them is the container, and
// nothing is written into them.
QString usableRoot(bool connecting) {
  const LocalFolderContainer::Root root = LocalFolderContainer::root();
  if (root.path.isEmpty() || QDir::isRelativePath(root.path)) return {};
  const QString madeKey = QString::fromLatin1(kDefaultCloudContainerMadeKey);
  const bool defaultMade = root.isDefault && UserDefaults::standard().stringForKey(madeKey) == root.path;
  const QString identity = identityFileOf(root.path);
  const bool held = QFileInfo(identity).isFile();
  const bool mayMake = connecting || (root.isDefault && !defaultMade);
  if (!held && !mayMake) return {};
  if (!held && root.isDefault && !QDir().mkpath(root.path)) return {};
  if (!QFileInfo(root.path).isDir() || !isWritableFolder(root.path)) return {};
  // Of two instances making it at once, the one whose identity is kept does for both.
  if (!held && !createIdentityFile(identity) && !QFileInfo(identity).isFile()) return {};
  // A default root found made (an earlier run made it unnoted) is noted as made.
  if (root.isDefault && !defaultMade) UserDefaults::standard().setString(root.path, madeKey);
  return root.path;
}

QString readIdentityFile(const QString& path) {
  QFile file;
  if (openRegularFile(file, path) != RegularFileRead::Read) return {};
  return QString::fromUtf8(file.read(kMaxIdentityBytes)).trimmed();
}

}  // namespace

LocalFolderContainer::Root LocalFolderContainer::root() {
  const QString fromEnvironment = qEnvironmentVariable(kCloudContainerEnvironment);
  if (!fromEnvironment.isEmpty()) return {QDir::cleanPath(fromEnvironment), false};
  const QString fromDefaults = UserDefaults::standard().stringForKey(QString::fromLatin1(kCloudContainerFolderKey));
  if (!fromDefaults.isEmpty()) return {QDir::cleanPath(fromDefaults), false};
  return {applicationSupportFolder() + QStringLiteral("/cloud-container"), true};
}

QString LocalFolderContainer::reachableRoot() { return usableRoot(/*connecting=*/false); }

bool LocalFolderContainer::connect() { return !usableRoot(/*connecting=*/true).isEmpty(); }

void LocalFolderContainer::connectInBackground(std::function<void(bool)> block) {
  globalQueue(QueuePriority::Default).async([block = std::move(block)] {
    const bool reachable = connect();
    mainQueue().async([block, reachable] {
      if (block) block(reachable);
    });
  });
}

QString LocalFolderContainer::documentsFolder() {
  const QString base = reachableRoot();
  if (base.isEmpty()) return {};
  const QString documents = base + QStringLiteral("/Documents");
  if (!QDir().mkpath(documents) || !QFileInfo(documents).isDir()) return {};
  return documents;
}

void LocalFolderContainer::fetchDocumentsFolder(std::function<void(const QString&)> block) {
  globalQueue(QueuePriority::Default).async([block = std::move(block)] {
    const QString folder = documentsFolder();
    mainQueue().async([block, folder] {
      if (block) block(folder);
    });
  });
}

QString LocalFolderContainer::identityToken() {
  const QString base = reachableRoot();
  if (base.isEmpty()) return {};
  return readIdentityFile(identityFileOf(base));
}

// ---- IdentityMonitor

namespace {

std::mutex gReaderMutex;
IdentityMonitor::TokenReader& reader() {
  static IdentityMonitor::TokenReader current;
  return current;
}

// The monitor in use; at most one lives at a time.
std::weak_ptr<IdentityMonitor>& currentMonitor() {
  static std::weak_ptr<IdentityMonitor> current;
  return current;
}

// The watcher of every monitor, made on the Qt main thread and never deleted: closing a
// watcher's inotify instance makes the closing thread wait out a kernel grace period, tens of
// milliseconds, which leaving the iCloud location would spend on the main thread.
QFileSystemWatcher& identityWatcher() {
  static QFileSystemWatcher* const watcher = [] {
    auto* made = new QFileSystemWatcher();
    auto recheck = [](const QString&) {
      // Hop to the main queue: the watcher's thread is the Qt one, the queue may be another loop.
      mainQueue().async([] {
        if (auto monitor = currentMonitor().lock()) monitor->check();
      });
    };
    QObject::connect(made, &QFileSystemWatcher::directoryChanged, recheck);
    QObject::connect(made, &QFileSystemWatcher::fileChanged, recheck);
    return made;
  }();
  return *watcher;
}

QString readToken() {
  IdentityMonitor::TokenReader replaced;
  {
    std::lock_guard lock(gReaderMutex);
    replaced = reader();
  }
  return replaced ? replaced() : LocalFolderContainer::identityToken();
}

// The root and its identity file, as far as they exist (what the watcher can follow).
QStringList watchablePaths() {
  const QString base = LocalFolderContainer::root().path;
  QStringList existing;
  for (const QString& path : {base, identityFileOf(base)})
    if (QFileInfo::exists(path)) existing.append(path);
  return existing;
}

}  // namespace

void IdentityMonitor::setTokenReader(TokenReader replacement) {
  std::lock_guard lock(gReaderMutex);
  reader() = std::move(replacement);
}

// The first token is read where the monitor is made; its holders need it at once.
IdentityMonitor::IdentityMonitor(Tag) : mToken(readToken()) {}

IdentityMonitor::~IdentityMonitor() {
  if (!mWatching) return;
  QFileSystemWatcher& watcher = identityWatcher();
  const QStringList watched = watcher.files() + watcher.directories();
  if (!watched.isEmpty()) watcher.removePaths(watched);
}

std::shared_ptr<IdentityMonitor> IdentityMonitor::shared() {
  std::weak_ptr<IdentityMonitor>& current = currentMonitor();
  if (auto monitor = current.lock()) return monitor;
  auto monitor = std::make_shared<IdentityMonitor>(Tag{});
  current = monitor;
  monitor->watch(watchablePaths());
  monitor->schedule();
  return monitor;
}

void IdentityMonitor::schedule() {
  mainQueue().afterSeconds(LocalFolderContainer::kPollSeconds, [weak = weak_from_this()] {
    auto self = weak.lock();
    if (!self) return;
    self->check();
    // Presented files are stat'ed where a hung mount holds no window.
    globalQueue(QueuePriority::Default).async([] { FilePresenterRegistry::shared().recheckAll(); });
    self->schedule();
  });
}

void IdentityMonitor::check() {
  // The watcher's read and the poll's may be under way at once and end in either order: only
  // the latest started is taken, or an older read (made while a sync tool was still replacing
  // the file) would put the old token back and announce a change twice.
  const std::uint64_t started = ++mReadsStarted;
  globalQueue(QueuePriority::Default).async([weak = weak_from_this(), started] {
    const QString now = readToken();
    const QStringList existing = watchablePaths();
    mainQueue().async([weak, now, existing, started] {
      auto self = weak.lock();
      if (!self || started < self->mLatestReadTaken) return;
      self->mLatestReadTaken = started;
      self->watch(existing);
      if (now == self->mToken) return;
      self->mToken = now;
      NotificationCenter::defaultCenter().post(kUbiquityIdentityDidChangeNotification);
    });
  });
}

void IdentityMonitor::watch(const QStringList& existing) {
  // The watcher needs the Qt main thread; the poll covers everything it would miss.
  auto* app = QCoreApplication::instance();
  if (!app || QThread::currentThread() != app->thread()) return;
  QFileSystemWatcher& watcher = identityWatcher();
  mWatching = true;
  // The root may have moved, appeared, or had its identity file replaced.
  for (const QString& path : watcher.files() + watcher.directories())
    if (!existing.contains(path)) watcher.removePath(path);
  for (const QString& path : existing)
    if (!watcher.files().contains(path) && !watcher.directories().contains(path)) watcher.addPath(path);
}

}  // namespace platform
