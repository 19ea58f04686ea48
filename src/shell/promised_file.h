#pragma once
// A document file promised to another program when an idea is dragged out of ours. The file
// is written into a fresh private folder, "<private temporary folder>/drags/<pid>-<n>-XXXXXX"
// (0700), so the name never clashes there and the receiver settles clashes in its own folder.
// The tree is taken on the main thread (a deep copy, links leading out of it as plain ideas);
// encoding and writing run on the persistence queue, the file created exclusively under a
// temporary name and renamed into place. The receiver's reader waits for that write from any
// thread (on the main thread it runs the main queue's tasks until the idea has come) and gets
// the file's URL, or nothing when it failed or took too long; either way the promise says once
// that the file did not reach its reader. This process's folders go at quit; those of
// processes that are gone go at the next start.

#include "model/idea.h"

#include <QString>
#include <QUrl>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace orrery {

class PromisedFile : public std::enable_shared_from_this<PromisedFile> {
 public:
  // A receiver through Qt's xcb drag gives up on the data 5 s after asking for it (GTK's
  // after 30 s): the answer, file or nothing, must be out before then.
  static constexpr std::chrono::milliseconds kReaderWait{4500};

  // A new private folder for one drag's files; empty when it cannot be made.
  static QString createFreshFolder();
  // A promise of the file at `path` (empty: one that fails). `undelivered` runs once, on the
  // main queue, when the file cannot reach its reader: the write failed, or a reader stopped
  // waiting before it had run.
  static std::shared_ptr<PromisedFile> create(const QString& path, std::function<void()> undelivered = {});
  // The name for an idea's title: at most 10 characters of it fit for a file name, without
  // leading dots, "document" when nothing is left; ".orrery" added.
  static QString fileNameForTitle(const QString& title);
  // The folder every promise's folder lives in.
  static QString dragsFolder();
  // Removes the folders of processes that no longer run (any thread); answers how many.
  static int removeFoldersOfDeadProcesses();
  // Removes this process's folders (at quit).
  static void removeOwnFolders();

  const QString& path() const { return mPath; }
  // Main thread: takes the tree now and writes it on the persistence queue; a null idea
  // fails the promise.
  void fulfil(const IdeaPtr& idea);
  // Any thread: waits for the write up to `wait`; the file's URL once written, else empty. On
  // the main thread, until `fulfil` has run, the main-queue tasks posted meanwhile run too.
  QUrl waitForURL(std::chrono::milliseconds wait = kReaderWait);

 private:
  PromisedFile() = default;
  void settle(bool written);
  // Posts `undelivered` unless it was posted already.
  void tellUndelivered();

  QString mPath;
  std::function<void()> mUndelivered;
  std::mutex mMutex;  // guards the flags; never held while calling out
  std::condition_variable mChanged;
  bool mFulfilled = false;
  bool mSettled = false;
  bool mWritten = false;
  bool mToldUndelivered = false;
};

}  // namespace orrery
