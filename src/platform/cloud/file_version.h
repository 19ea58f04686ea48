#pragma once
// Conflict versions of the container's documents. The versions of "Documents/<name>" are the
// plain files in "<root>/.versions/<name>/": a sync tool that found both sides changed leaves
// its conflict copy beside the document ("<stem>.sync-conflict-*.orrx" or
// "<stem> (*conflicted copy*).orrx"), and every scan moves such copies there. A version is
// resolved once renamed to "*.resolved". Anything else found there (folders, links, other
// devices) is ignored with a log line. Any thread; replacing goes through the file
// coordinator and the folder lock.

#include <QDateTime>
#include <QString>

#include <memory>
#include <vector>

namespace platform {

class FileVersion;
using FileVersionPtr = std::shared_ptr<FileVersion>;

class FileVersion {
 public:
  // Larger versions are never read: no document is that large.
  static constexpr qint64 kMaxVersionBytes = 256LL * 1024 * 1024;

  // The unresolved versions of the document file at `path`, in name order.
  static std::vector<FileVersionPtr> unresolvedConflictVersionsOfItemAtURL(const QString& path);
  // Removes every stored version of the document file at `path`; false with a reason when
  // one could not be removed.
  static bool removeOtherVersionsOfItemAtURL(const QString& path, QString* error);
  // Moves the sync tools' conflict copies found in `documentsFolder` into the versions folder;
  // the number moved.
  static int collectConflictCopies(const QString& documentsFolder);
  // "<root>/.versions/<name>" for the document file at `path`.
  static QString versionsFolderOf(const QString& path);

  explicit FileVersion(QString path);
  const QString& path() const { return mPath; }
  QDateTime modificationDate() const { return mModificationDate; }
  bool isResolved() const { return mPath.endsWith(QLatin1String(".resolved")); }

  // Replaces the file at `target` atomically with this version's content; false with a
  // reason when the version cannot be read or the file cannot be written.
  bool replaceItemAtURL(const QString& target, QString* error) const;
  // Marks the version resolved (renames it); false when the rename failed.
  bool setResolved(bool resolved);

 private:
  QString mPath;
  QDateTime mModificationDate;
};

}  // namespace platform
