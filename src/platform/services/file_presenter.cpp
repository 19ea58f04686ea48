#include "platform/services/file_presenter.h"

#include "platform/core/dispatch.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QThread>

#include <algorithm>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include <sys/stat.h>

namespace platform {

FileStamp FileStamp::of(const QString& path) {
  FileStamp stamp;
  struct stat st {};
  if (::stat(QFile::encodeName(path).constData(), &st) != 0) return stamp;
  stamp.exists = true;
  stamp.device = st.st_dev;
  stamp.inode = st.st_ino;
  stamp.size = st.st_size;
  stamp.modifiedNanos = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  stamp.changedNanos = int64_t(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  return stamp;
}

QString coordinationKey(const QString& path) {
  if (path.isEmpty() || QDir::isRelativePath(path)) return {};
  const QFileInfo info(path);
  const QString canonical = info.canonicalFilePath();
  if (!canonical.isEmpty()) return canonical;
  const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
  if (folder.isEmpty()) return QDir::cleanPath(info.absoluteFilePath());
  return folder + QLatin1Char('/') + info.fileName();
}

struct FilePresenterRegistry::Impl : std::enable_shared_from_this<Impl> {
  struct Entry {
    FilePresenter* presenter;
    uint64_t id;
    QString key;
    QString folder;
    FileStamp known;
  };

  mutable std::mutex mutex;
  std::vector<Entry> entries;
  // Files this process is writing right now (writes on a work queue), with their writer count.
  std::map<QString, int> writing;
  uint64_t nextId = 1;
  QFileSystemWatcher* watcher = nullptr;  // lives on the Qt main thread; never deleted

  // Runs `work` on the watcher's thread (at once when already there).
  void onWatcherThread(std::function<void(QFileSystemWatcher&)> work) {
    auto* app = QCoreApplication::instance();
    if (!app) return;
    auto run = [self = shared_from_this(), work = std::move(work)] {
      if (!self->watcher) {
        self->watcher = new QFileSystemWatcher();
        QObject::connect(self->watcher, &QFileSystemWatcher::directoryChanged,
                         [weak = std::weak_ptr<Impl>(self)](const QString& path) {
                           if (auto impl = weak.lock()) impl->pathChanged(path);
                         });
        QObject::connect(self->watcher, &QFileSystemWatcher::fileChanged,
                         [weak = std::weak_ptr<Impl>(self)](const QString& path) {
                           if (auto impl = weak.lock()) impl->pathChanged(path);
                         });
      }
      work(*self->watcher);
    };
    if (QThread::currentThread() == app->thread())
      run();
    else
      // Through the main queue, never Qt's own: a poll still running as the process exits
      // would post into the thread data Qt is freeing.
      mainQueue().async(std::move(run));
  }

  void watch(const QString& folder, const QString& key) {
    onWatcherThread([folder, key](QFileSystemWatcher& w) {
      if (!w.directories().contains(folder) && QFileInfo(folder).isDir()) w.addPath(folder);
      if (!w.files().contains(key) && QFileInfo::exists(key)) w.addPath(key);
    });
  }

  void unwatchUnused(const QString& folder, const QString& key) {
    bool folderUsed = false, keyUsed = false;
    {
      std::lock_guard lock(mutex);
      for (const Entry& e : entries) {
        folderUsed |= e.folder == folder;
        keyUsed |= e.key == key;
      }
    }
    onWatcherThread([folder, key, folderUsed, keyUsed](QFileSystemWatcher& w) {
      if (!keyUsed && w.files().contains(key)) w.removePath(key);
      if (!folderUsed && w.directories().contains(folder)) w.removePath(folder);
    });
  }

  void deliver(FilePresenter* presenter, uint64_t id) {
    mainQueue().async([weak = weak_from_this(), presenter, id] {
      auto self = weak.lock();
      if (!self) return;
      {
        std::lock_guard lock(self->mutex);
        bool live = false;
        for (const Entry& e : self->entries) live |= e.presenter == presenter && e.id == id;
        if (!live) return;
      }
      presenter->presentedItemDidChange();
    });
  }

  // A watched folder or file changed (any, when `path` is null): the watcher's callback on the
  // main thread, or a poll on any thread.
  void pathChanged(const QString& path) {
    std::vector<QString> rewatch;
    {
      std::lock_guard lock(mutex);
      for (Entry& e : entries) {
        if (!path.isNull() && e.folder != path && e.key != path) continue;
        // Half of our own write (a staging file, the rename); fileWritten settles it.
        if (writing.count(e.key)) continue;
        FileStamp now = FileStamp::of(e.key);
        if (now.exists) rewatch.push_back(e.key);
        if (now == e.known) continue;
        e.known = now;
        // A deleted file is nothing to re-read; its return will be seen as a change.
        if (now.exists) deliver(e.presenter, e.id);
      }
    }
    // A file replaced by rename is a new file: its old watch died with the old one. A poll
    // may run on any thread; the watcher is only touched on its own.
    if (rewatch.empty()) return;
    onWatcherThread([rewatch = std::move(rewatch)](QFileSystemWatcher& w) {
      for (const QString& key : rewatch)
        if (!w.files().contains(key)) w.addPath(key);
    });
  }
};

FilePresenterRegistry::FilePresenterRegistry() : mImpl(std::make_shared<Impl>()) {}

FilePresenterRegistry& FilePresenterRegistry::shared() {
  // Never destroyed: main-queue tasks and the watcher may outlive static destruction.
  static auto* registry = new FilePresenterRegistry();
  return *registry;
}

void FilePresenterRegistry::add(FilePresenter* presenter) {
  if (!presenter) return;
  const QString key = coordinationKey(presenter->presentedItemPath());
  if (key.isEmpty()) return;
  const QString folder = QFileInfo(key).absolutePath();
  {
    std::lock_guard lock(mImpl->mutex);
    for (const auto& e : mImpl->entries)
      if (e.presenter == presenter) return;
    mImpl->entries.push_back({presenter, mImpl->nextId++, key, folder, FileStamp::of(key)});
  }
  mImpl->watch(folder, key);
}

void FilePresenterRegistry::remove(FilePresenter* presenter) {
  QString folder, key;
  {
    std::lock_guard lock(mImpl->mutex);
    auto it = std::find_if(mImpl->entries.begin(), mImpl->entries.end(),
                           [&](const auto& e) { return e.presenter == presenter; });
    if (it == mImpl->entries.end()) return;
    folder = it->folder;
    key = it->key;
    mImpl->entries.erase(it);
  }
  mImpl->unwatchUnused(folder, key);
}

void FilePresenterRegistry::recheckAll() { mImpl->pathChanged(QString()); }

bool FilePresenterRegistry::isRegistered(const FilePresenter* presenter) const {
  std::lock_guard lock(mImpl->mutex);
  for (const auto& e : mImpl->entries)
    if (e.presenter == presenter) return true;
  return false;
}

void FilePresenterRegistry::writeBegins(const QString& key) {
  std::lock_guard lock(mImpl->mutex);
  mImpl->writing[key]++;
}

void FilePresenterRegistry::fileWritten(const QString& key, const FilePresenter* writer) {
  const FileStamp now = FileStamp::of(key);
  bool watchFile = false;
  QString folder;
  {
    std::lock_guard lock(mImpl->mutex);
    if (auto it = mImpl->writing.find(key); it != mImpl->writing.end() && --it->second <= 0) mImpl->writing.erase(it);
    for (auto& e : mImpl->entries) {
      if (e.key != key) continue;
      const bool changed = !(e.known == now);
      e.known = now;
      watchFile = true;
      folder = e.folder;
      if (changed && e.presenter != writer && now.exists) mImpl->deliver(e.presenter, e.id);
    }
  }
  // The write may have created the file, or replaced the inode the watch was on.
  if (watchFile) mImpl->watch(folder, key);
}

}  // namespace platform
