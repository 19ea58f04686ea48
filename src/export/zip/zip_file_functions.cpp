#include "export/zip/zip_file_functions.h"

#include "export/zip/zip_archive.h"
#include "foundation/logging.h"
#include "platform/core/regular_file.h"
#include "platform/services/qt_regular_file.h"

#include <QByteArray>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace orrery {

namespace {

constexpr qint64 kFlushBytes = qint64{4} << 20;

bool writeAllAt(int fd, const char* data, qint64 size, qint64 offset) {
  while (size > 0) {
    const ssize_t wrote = ::pwrite(fd, data, static_cast<size_t>(size), static_cast<off_t>(offset));
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    data += wrote, size -= wrote, offset += wrote;
  }
  return true;
}

// Bytes from `flushed` to the end are in `pending`; earlier ones are in the file.
struct BufferedWriter {
  int fd = -1;
  qint64 position = 0;
  qint64 flushed = 0;
  QByteArray pending;
  bool failed = false;

  qint64 end() const { return flushed + pending.size(); }
  bool flush() {
    if (!failed && !pending.isEmpty()) failed = !writeAllAt(fd, pending.constData(), pending.size(), flushed);
    flushed += pending.size();
    pending.clear();
    return !failed;
  }
};

voidpf ZCALLBACK openForWriting(voidpf, const void* path, int mode) {
  if (!(mode & ZLIB_FILEFUNC_MODE_CREATE) || !path) return nullptr;
  // Never through a link: the staging file the atomic writer made is what gets written.
  std::string why;
  const int fd =
      platform::openRegularFileForWriting(static_cast<const char*>(path), O_WRONLY | O_CREAT | O_TRUNC, 0644, &why);
  if (fd < 0) {
    logLine(QStringLiteral("[ZipArchive] Error: cannot write %1: %2")
                .arg(QFile::decodeName(static_cast<const char*>(path)), QString::fromStdString(why)));
    return nullptr;
  }
  auto* writer = new BufferedWriter;
  writer->fd = fd;
  return writer;
}

uLong ZCALLBACK writeBuffered(voidpf, voidpf stream, const void* buffer, uLong size) {
  auto* w = static_cast<BufferedWriter*>(stream);
  const char* data = static_cast<const char*>(buffer);
  qint64 count = static_cast<qint64>(size);
  // The part before the block in memory is already in the file: written in place.
  if (w->position < w->flushed) {
    const qint64 before = std::min(count, w->flushed - w->position);
    if (!writeAllAt(w->fd, data, before, w->position)) w->failed = true;
    w->position += before, data += before, count -= before;
  }
  if (count > 0) {
    const qint64 at = w->position - w->flushed;
    if (at + count > w->pending.size()) w->pending.resize(at + count);
    std::memcpy(w->pending.data() + at, data, static_cast<size_t>(count));
    w->position += count;
    if (w->pending.size() >= kFlushBytes && w->position == w->end()) w->flush();
  }
  return w->failed ? 0 : size;
}

ZPOS64_T ZCALLBACK tellWriter(voidpf, voidpf stream) {
  return static_cast<ZPOS64_T>(static_cast<BufferedWriter*>(stream)->position);
}

long ZCALLBACK seekWriter(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
  auto* w = static_cast<BufferedWriter*>(stream);
  const qint64 base = origin == ZLIB_FILEFUNC_SEEK_CUR ? w->position : origin == ZLIB_FILEFUNC_SEEK_END ? w->end() : 0;
  const qint64 target = base + static_cast<qint64>(offset);
  if (target < 0 || target > w->end()) return -1;
  w->position = target;
  return 0;
}

int ZCALLBACK closeWriter(voidpf, voidpf stream) {
  auto* w = static_cast<BufferedWriter*>(stream);
  bool ok = w->flush();
  ok = ::close(w->fd) == 0 && ok;
  delete w;
  return ok ? 0 : -1;
}

int ZCALLBACK writerError(voidpf, voidpf stream) { return static_cast<BufferedWriter*>(stream)->failed ? 1 : 0; }

uLong ZCALLBACK readNothing(voidpf, voidpf, void*, uLong) { return 0; }

struct MemoryReader {
  QByteArray bytes;
  qint64 position = 0;
};

voidpf ZCALLBACK openForReading(voidpf, const void* path, int mode) {
  if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ || !path) return nullptr;
  QByteArray bytes;
  // A refusal is logged with the path and the reason.
  if (platform::readRegularFile(QFile::decodeName(static_cast<const char*>(path)), ZipArchive::kMaxArchiveBytes,
                                &bytes) != platform::RegularFileRead::Read)
    return nullptr;
  auto* reader = new MemoryReader;
  reader->bytes = std::move(bytes);
  return reader;
}

uLong ZCALLBACK readMemory(voidpf, voidpf stream, void* buffer, uLong size) {
  auto* r = static_cast<MemoryReader*>(stream);
  const qint64 n = std::clamp<qint64>(r->bytes.size() - r->position, 0, static_cast<qint64>(size));
  std::memcpy(buffer, r->bytes.constData() + r->position, static_cast<size_t>(n));
  r->position += n;
  return static_cast<uLong>(n);
}

uLong ZCALLBACK writeNothing(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T ZCALLBACK tellReader(voidpf, voidpf stream) {
  return static_cast<ZPOS64_T>(static_cast<MemoryReader*>(stream)->position);
}

long ZCALLBACK seekReader(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
  auto* r = static_cast<MemoryReader*>(stream);
  const qint64 base =
      origin == ZLIB_FILEFUNC_SEEK_CUR ? r->position : origin == ZLIB_FILEFUNC_SEEK_END ? r->bytes.size() : 0;
  const qint64 target = base + static_cast<qint64>(offset);
  if (target < 0 || target > r->bytes.size()) return -1;
  r->position = target;
  return 0;
}

int ZCALLBACK closeReader(voidpf, voidpf stream) {
  delete static_cast<MemoryReader*>(stream);
  return 0;
}

int ZCALLBACK noError(voidpf, voidpf) { return 0; }

}  // namespace

zlib_filefunc64_def bufferedWriteFileFunctions() {
  return {openForWriting, readNothing, writeBuffered, tellWriter, seekWriter, closeWriter, writerError, nullptr};
}

zlib_filefunc64_def inMemoryReadFileFunctions() {
  return {openForReading, readMemory, writeNothing, tellReader, seekReader, closeReader, noError, nullptr};
}

}  // namespace orrery
