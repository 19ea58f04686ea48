#pragma once
// Conflict versions of the container's documents. The versions of "Documents/<name>" are the
// plain files in "<root>/.versions/<name>/": a sync tool that found both sides changed leaves
// its conflict copy beside the document (conflict_copy_name.h), and every scan moves such
// copies there. A copy whose document does not exist stays a document of its own, and the
// versions of a document that is gone become documents again. A version is resolved once
// renamed to "*.resolved". Anything else found there (folders, links, other
// devices) is ignored with a log line. Any thread; replacing goes through the file
// coordinator and the folder lock.

#include <QDateTime>
#include <QSet>
#include <QString>
#include <QStringList>

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
  // Moves the sync tools' conflict copies found in `documentsFolder` into the versions folder
  // of their document, and the versions of documents that are gone back (see
  // restoreVersionsAsDocuments); the number of copies moved. The copies named in `listed` are
  // documents the user sees (copies of no document when they were found): they stay.
  static int collectConflictCopies(const QString& documentsFolder, const QSet<QString>& listed = {});
  // Moves the unresolved versions of the document file at `path` into its folder as documents
  // of their own (under the names the sync tools gave them), and the rest beside them as
  // "<name>.unreadable" files; the names the documents took. For a document that is deleted
  // or gone.
  static QStringList restoreVersionsAsDocuments(const QString& path);
  // "<root>/.versions/<name>" for the document file at `path`.
  static QString versionsFolderOf(const QString& path);

  explicit FileVersion(QString path);
  const QString& path() const { return mPath; }
  QDateTime modificationDate() const { return mModificationDate; }
  bool isResolved() const { return mPath.endsWith(QLatin1String(".resolved")); }

  // Replaces the file at `target` atomically with this version's content; false with a
  // reason when the version cannot be read or the file cannot be written.
  bool replaceItemAtURL(const QString& target, QString* error) const;
  // Removes the version's file; false with a reason when it could not be removed.
  bool remove(QString* error) const;
  // Marks the version resolved (renames it); false when the rename failed.
  bool setResolved(bool resolved);

 private:
  // The names of the ".orrx" versions folders under `root` whose document is missing from
  // `documentsFolder`.
  static QStringList versionsOfMissingDocuments(const QString& root, const QString& documentsFolder);

  QString mPath;
  QDateTime mModificationDate;
};

}  // namespace platform
