#pragma once
// The regular-file rule of platform/core/regular_file.h for Qt's paths and bytes: a file that
// must be a regular one is opened without waiting, and a FIFO, a device or a socket in its
// place is refused at once. Any thread. A caller that takes the reason (`why`) says itself
// what it refused; without it a refusal is logged here, once, with the path and the reason.

#include "platform/core/regular_file.h"

#include <QByteArray>
#include <QString>

class QFile;

namespace platform {

// Opens `file` (not open yet) for reading the regular file at `path` when it holds at most
// `maxBytes` (negative: any size); any other answer leaves it closed.
RegularFileRead openRegularFile(QFile& file, const QString& path, qint64 maxBytes = -1, QString* why = nullptr);

// The bytes of the regular file at `path` when it holds at most `maxBytes` (negative: any size);
// a relative `path` is taken from the folder `folder` is open on.
RegularFileRead readRegularFile(const QString& path, qint64 maxBytes, QByteArray* bytes, QString* why = nullptr,
                                int folder = AT_FDCWD);

// Whether `path` (links followed) is a regular file; it is not opened.
bool isRegularFile(const QString& path);

}  // namespace platform
