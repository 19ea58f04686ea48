#pragma once
// File presenters: objects that show a file to the user and want to hear when someone else
// changes it. A presenter registers with FileCoordinator::addFilePresenter; the registry
// watches the file and its folder (a replace by rename, as every careful writer does, breaks
// a watch on the file alone) and calls presentedItemDidChange on the main queue when the file
// differs from what this process last wrote or saw. Writes made through a FileCoordinator
// tied to a presenter are never reported back to that presenter.

#include <QString>

#include <cstdint>
#include <memory>

namespace platform {

class FilePresenter {
 public:
  virtual ~FilePresenter() = default;
  // The presented file; read once, when the presenter is added.
  virtual QString presentedItemPath() const = 0;
  // Someone else changed the file. Called on the main queue, only while registered.
  virtual void presentedItemDidChange() {}
};

// What a file is on disk at one moment: a replaced file gets a new inode, a rewritten one a
// new size or time, so two different contents never share a stamp.
struct FileStamp {
  bool exists = false;
  uint64_t device = 0;
  uint64_t inode = 0;
  int64_t size = 0;
  int64_t modifiedNanos = 0;
  int64_t changedNanos = 0;

  static FileStamp of(const QString& path);
  bool operator==(const FileStamp&) const = default;
};

// The key under which accesses to one file are coordinated: the canonical path of the file
// (or of its folder plus its name while it does not exist). Empty for an unusable path.
QString coordinationKey(const QString& path);

// The process-wide set of registered presenters and the watcher behind them. Used by
// FileCoordinator; thread-safe, while the watcher itself lives on the Qt main thread.
class FilePresenterRegistry {
 public:
  static FilePresenterRegistry& shared();

  void add(FilePresenter* presenter);
  void remove(FilePresenter* presenter);
  bool isRegistered(const FilePresenter* presenter) const;
  // Called inside a coordinated write of `key` before it touches the file: until fileWritten,
  // changes the watcher sees of that file are this process's own and are not reported.
  void writeBegins(const QString& key);
  // Called inside a coordinated write of `key` once the new content is in place: every
  // presenter of the file takes the file as it is now as known, and every one but `writer`
  // whose last known state differs is told of the change.
  void fileWritten(const QString& key, const FilePresenter* writer);
  // Re-stats every presented file and tells of the changes the watcher missed (network file
  // systems send no change notices). Any thread; changes are told on the main queue.
  void recheckAll();

 private:
  FilePresenterRegistry();
  struct Impl;
  std::shared_ptr<Impl> mImpl;
};

}  // namespace platform
