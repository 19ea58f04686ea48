#pragma once
// Mirror files as a test puts them in place: written, read back, a status file edited as
// JSON, a FIFO where a file belongs.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <functional>

namespace orrery::testing {

inline bool writeFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Rewrites the record object of the status file at `path` as JSON.
inline bool editStatus(const QString& path, const std::function<void(QJsonObject&)>& edit) {
  QJsonObject top = QJsonDocument::fromJson(readFile(path)).object();
  QJsonObject state = top["dropboxFolderManagerState"].toObject();
  if (state.isEmpty()) return false;
  edit(state);
  top["dropboxFolderManagerState"] = state;
  return writeFile(path, QJsonDocument(top).toJson(QJsonDocument::Compact));
}

inline bool makeFifo(const QString& path) {
  return (!QFileInfo::exists(path) || QFile::remove(path)) && ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
}

// A file larger than the memory there is, sparse: it takes no disk.
inline bool makeHugeFile(const QString& path) {
  QFile file(path);
  return (!QFileInfo::exists(path) || QFile::remove(path)) && file.open(QIODevice::WriteOnly) &&
         file.resize(qint64(1) << 40);
}

// A reader waiting on the FIFO at `path` is let go, so that a failure ends the test instead of
// hanging it.
inline void releaseFifoReader(const QString& path) {
  if (const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC); fd >= 0)
    ::close(fd);
}

}  // namespace orrery::testing
