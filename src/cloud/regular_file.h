#pragma once
// Reading a file that must be a regular one. Nothing else at the path is ever opened in a way
// that waits: a FIFO or a device put in a file's place is refused at once, instead of holding
// the queue that reads it (and every quit that drains that queue) for good. Any thread.

#include <QByteArray>
#include <QString>

namespace orrery {

enum class RegularFileRead {
  Read,
  Missing,  // nothing at the path
  Refused,  // not a regular file, or larger than allowed
  Failed,   // the system refused the open or the read
};

// The bytes of the regular file at `path` (links followed) when it holds at most `maxBytes`
// (negative: any size). `why`, when given, gets the reason of any other answer.
RegularFileRead readRegularFile(const QString& path, qint64 maxBytes, QByteArray* bytes, QString* why = nullptr);

// Whether `path` (links followed) is a regular file; it is not opened.
bool isRegularFile(const QString& path);

}  // namespace orrery
