#pragma once
// Writing a document file so that readers only ever see the old or the new content: the
// bytes go to a temporary file beside the target, are flushed to disk and then take the
// target's place in one rename. A short write, a full disk or a failed close is a failure and
// leaves the old file as it was.

#include <QByteArray>
#include <QString>

namespace orrery {

enum class FileWriteResult {
  Written,
  AlreadyExists,  // exclusive writes only: a file of that name is already there
  Failed,
};

// Replaces (or creates) the file at `path`.
FileWriteResult writeFileReplacing(const QString& path, const QByteArray& bytes);

// Creates the file at `path` complete, or not at all when a file of that name exists, so two
// instances that picked the same new name cannot overwrite each other.
FileWriteResult writeFileExclusively(const QString& path, const QByteArray& bytes);

}  // namespace orrery
