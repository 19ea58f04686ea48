#pragma once
// Writing a document file so that readers only ever see the old or the new content, through
// the platform's atomic writer (platform/core/atomic_file.h): a staging file in the target's
// folder, flushed, renamed over the target; a symbolic link keeps pointing at the new file.
// A short write, a full disk or a failed close is a failure and leaves the old file as it
// was; the failure is logged with the path and the system's reason.
//
// The staging file is unnamed while it is written and gets a recognisable name only for the
// rename: ".<file name>.orrery-save-<pid>-<random>". A writer killed at that moment leaves
// such a file behind; removeStaleSaveTemporaries takes away those whose writer is gone.

#include <QByteArray>
#include <QString>

namespace orrery {

enum class FileWriteResult {
  Written,
  AlreadyExists,  // exclusive writes only: a file of that name is already there
  Failed,
};

// Replaces (or creates) the file at `path`, keeping an existing file's permissions. On
// failure `reason` (when given) gets the system's explanation.
FileWriteResult writeFileReplacing(const QString& path, const QByteArray& bytes, QString* reason = nullptr);

// Creates the file at `path` complete, or not at all when a file of that name exists, so two
// instances that picked the same new name cannot overwrite each other. Without `waitForDisk`
// the file is whole and in place for every reader when this returns, but not yet synced to
// the disk: the caller syncs it later (syncFileToDisk).
FileWriteResult writeFileExclusively(const QString& path, const QByteArray& bytes, QString* reason = nullptr,
                                     bool waitForDisk = true);

// Waits for the disk to hold the file at `path` as a write that waited would have; false when
// the file is gone or cannot be synced.
bool syncFileToDisk(const QString& path);

// Removes the staging files of `path` left by writers that no longer run; never the one a
// live process is writing. Answers how many were removed.
int removeStaleSaveTemporaries(const QString& path);

// True for a name made by the writers above.
bool isSaveTemporaryName(const QString& fileName);

}  // namespace orrery
