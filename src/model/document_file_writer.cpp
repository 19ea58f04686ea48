#include "model/document_file_writer.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QUuid>

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace orrery {

namespace {

bool saveAtomically(const QString& path, const QByteArray& bytes) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  if (file.write(bytes) != bytes.size()) {
    file.cancelWriting();
    return false;
  }
  // commit flushes, syncs and renames; it fails on any earlier write error too.
  return file.commit();
}

// Moves `from` to `to` unless `to` exists; errno is EEXIST when it did.
bool renameNoReplace(const QByteArray& from, const QByteArray& to) {
  if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // Filesystems without the flag: a hard link is just as exclusive.
  if (::link(from.constData(), to.constData()) != 0) return false;
  ::unlink(from.constData());
  return true;
}

}  // namespace

FileWriteResult writeFileReplacing(const QString& path, const QByteArray& bytes) {
  return saveAtomically(path, bytes) ? FileWriteResult::Written : FileWriteResult::Failed;
}

FileWriteResult writeFileExclusively(const QString& path, const QByteArray& bytes) {
  const QFileInfo target(path);
  if (target.exists() || target.isSymLink()) return FileWriteResult::AlreadyExists;
  // A hidden private name beside the target; only we ever write it.
  const QString staging = target.absolutePath() + "/." + target.fileName() + "." +
                          QUuid::createUuid().toString(QUuid::Id128).left(12);
  if (!saveAtomically(staging, bytes)) {
    QFile::remove(staging);
    return FileWriteResult::Failed;
  }
  const QByteArray from = QFile::encodeName(staging);
  if (renameNoReplace(from, QFile::encodeName(path))) return FileWriteResult::Written;
  const bool clash = errno == EEXIST;
  ::unlink(from.constData());
  return clash ? FileWriteResult::AlreadyExists : FileWriteResult::Failed;
}

}  // namespace orrery
