#include "export/zip/zip_archive.h"

#include "export/zip/zip_file_functions.h"

#include "foundation/logging.h"
#include "model/document_file_writer.h"
#include "model/file_utils.h"
#include "platform/core/atomic_file.h"
#include "platform/core/regular_file.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QUuid>

#include <minizip/unzip.h>
#include <minizip/zip.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace orrery {

namespace {

constexpr int kWriteChunk = 16384;
constexpr int kReadChunk = 4096;
constexpr mode_t kModeMask = 0755;

QString systemReason() { return QString::fromLocal8Bit(std::strerror(errno)); }

void fail(ZipError* error, int code, const QString& description) {
  logLine(QStringLiteral("[ZipArchive] Error: %1").arg(description));
  if (error) *error = ZipError{code, description};
}

bool setModificationDate(const QString& path, const QDateTime& date) {
  const qint64 ms = date.toMSecsSinceEpoch();
  timespec times[2];
  times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(ms / 1000);
  times[0].tv_nsec = times[1].tv_nsec = 0;
  return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

// The entry name as a relative path below the destination, or empty when it would leave it.
QString safeRelativeName(QString name) {
  name.replace(QLatin1Char('\\'), QLatin1Char('/'));
  if (name.isEmpty() || name.startsWith(QLatin1Char('/'))) return {};
  if (name.size() >= 2 && name[1] == QLatin1Char(':')) return {};  // a drive letter
  const QStringList parts = name.split(QLatin1Char('/'), Qt::SkipEmptyParts);
  if (parts.isEmpty()) return {};
  for (const QString& part : parts)
    if (part == QLatin1String("..") || part == QLatin1String(".") || part.contains(QChar(0))) return {};
  return parts.join(QLatin1Char('/'));
}

// True when no existing component between the destination and `path` is a symbolic link, so
// that a write below cannot be redirected outside.
bool noLinkOnTheWay(const QString& destination, const QString& relative) {
  QString current = destination;
  for (const QString& part : relative.split(QLatin1Char('/'))) {
    current += QLatin1Char('/') + part;
    struct stat st;
    if (::lstat(QFile::encodeName(current).constData(), &st) != 0) return true;  // nothing further exists
    if (S_ISLNK(st.st_mode)) return false;
  }
  return true;
}

struct DatedPath {
  QString path;
  QDateTime date;
};

}  // namespace

ZipArchive::ZipArchive(const QString& path, const QString& shownPath)
    : mPath(path), mShownPath(shownPath.isEmpty() ? path : shownPath) {}

ZipArchive::~ZipArchive() {
  if (mZip) zipClose(mZip, nullptr);
}

bool ZipArchive::open() {
  zlib_filefunc64_def functions = bufferedWriteFileFunctions();
  mZip = zipOpen2_64(QFile::encodeName(mPath).constData(), APPEND_STATUS_CREATE, nullptr, &functions);
  return mZip != nullptr;
}

bool ZipArchive::writeFileAtPath(const QString& path, const QString& fileName, QString* error) {
  auto failWith = [&](const QString& why) {
    if (error) *error = QStringLiteral("%1: %2").arg(path, why);
    return false;
  };
  if (!mZip) return failWith(QStringLiteral("the archive is not open"));
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return failWith(systemReason());
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st;
  if (::fstat(fd, &st) != 0) return failWith(systemReason());
  if (!S_ISREG(st.st_mode)) return failWith(QStringLiteral("not a regular file"));

  const QString name = fileName.isEmpty() ? QFileInfo(path).fileName() : fileName;
  QString why;
  const bool written = writeEntry(
      name.toUtf8(), st.st_mode & 07777, QDateTime::fromSecsSinceEpoch(st.st_mtim.tv_sec).toLocalTime(),
      [&](char* buffer, qint64 size) -> qint64 {
        for (;;) {
          const ssize_t got = ::read(fd, buffer, static_cast<size_t>(size));
          if (got < 0 && errno == EINTR) continue;
          if (got < 0) why = systemReason();
          return got;
        }
      },
      &why);
  return written || failWith(why);
}

namespace {

// Hands out `data` chunk by chunk to an entry's writer.
std::function<qint64(char*, qint64)> readerOf(const QByteArray& data) {
  return [&data, offset = qint64{0}](char* buffer, qint64 size) mutable {
    const qint64 n = std::min(size, data.size() - offset);
    std::memcpy(buffer, data.constData() + offset, static_cast<size_t>(n));
    offset += n;
    return n;
  };
}

}  // namespace

bool ZipArchive::writeData(const QByteArray& data, const QString& name, QString* error) {
  QString why;
  if (!mZip) why = QStringLiteral("the archive is not open");
  const bool written = mZip && writeEntry(name.toUtf8(), 0644, QDateTime::currentDateTime(), readerOf(data), &why);
  if (!written && error) *error = QStringLiteral("%1: %2").arg(name, why);
  return written;
}

ZipArchive::DeflatedData ZipArchive::deflate(const QByteArray& data, int level) {
  DeflatedData result;
  result.size = data.size();
  result.level = level;
  result.crc = static_cast<std::uint32_t>(
      crc32_z(crc32_z(0, nullptr, 0), reinterpret_cast<const Bytef*>(data.constData()), static_cast<size_t>(data.size())));
  // The parameters writeEntry gives minizip, so the stream is the one it would write.
  z_stream stream{};
  if (deflateInit2(&stream, level, Z_DEFLATED, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY) != Z_OK)
    return result;
  result.deflated.resize(static_cast<qsizetype>(deflateBound(&stream, static_cast<uLong>(data.size()))));
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(result.deflated.data());
  stream.avail_out = static_cast<uInt>(result.deflated.size());
  result.ok = ::deflate(&stream, Z_FINISH) == Z_STREAM_END;
  result.text = stream.data_type == Z_TEXT;
  result.deflated.resize(static_cast<qsizetype>(stream.total_out));
  deflateEnd(&stream);
  return result;
}

bool ZipArchive::writeDeflated(const DeflatedData& data, const QString& name, QString* error) {
  QString why;
  if (!mZip) why = QStringLiteral("the archive is not open");
  if (!data.ok) why = QStringLiteral("the data could not be deflated");
  const bool written = mZip && data.ok &&
                       writeEntry(name.toUtf8(), 0644, QDateTime::currentDateTime(), readerOf(data.deflated), &why,
                                  &data);
  if (!written && error) *error = QStringLiteral("%1: %2").arg(name, why);
  return written;
}

bool ZipArchive::writeEntry(const QByteArray& name, const std::uint32_t mode, const QDateTime& modified,
                            const std::function<qint64(char* buffer, qint64 size)>& read, QString* error,
                            const DeflatedData* ahead) {
  zip_fileinfo info;
  std::memset(&info, 0, sizeof info);
  const QDate d = modified.date();
  const QTime t = modified.time();
  info.tmz_date.tm_sec = static_cast<uInt>(t.second());
  info.tmz_date.tm_min = static_cast<uInt>(t.minute());
  info.tmz_date.tm_hour = static_cast<uInt>(t.hour());
  info.tmz_date.tm_mday = static_cast<uInt>(d.day());
  info.tmz_date.tm_mon = static_cast<uInt>(d.month() - 1);
  info.tmz_date.tm_year = static_cast<uInt>(d.year());
  const auto permissions = static_cast<std::int16_t>(mode & 07777);
  info.external_fa = static_cast<uLong>(static_cast<std::uint32_t>(permissions + 32768) << 16);
  if (ahead && ahead->text) info.internal_fa = Z_TEXT;

  std::vector<char> buffer(kWriteChunk);
  if (zipOpenNewFileInZip3(mZip, name.constData(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                           ahead ? ahead->level : Z_DEFAULT_COMPRESSION, ahead ? 1 : 0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr,
                           0) != ZIP_OK) {
    *error = QStringLiteral("the archive refused the entry");
    return false;
  }
  for (;;) {
    const qint64 got = read(buffer.data(), static_cast<qint64>(buffer.size()));
    if (got < 0) {
      zipCloseFileInZip(mZip);
      return false;
    }
    if (got == 0) break;
    if (zipWriteInFileInZip(mZip, buffer.data(), static_cast<unsigned>(got)) != ZIP_OK) {
      zipCloseFileInZip(mZip);
      *error = QStringLiteral("writing the archive failed");
      return false;
    }
  }
  const int closed = ahead ? zipCloseFileInZipRaw64(mZip, static_cast<ZPOS64_T>(ahead->size), ahead->crc)
                           : zipCloseFileInZip(mZip);
  if (closed != ZIP_OK) {
    *error = QStringLiteral("writing the archive failed");
    return false;
  }
  return true;
}

bool ZipArchive::copyEntriesFrom(const QString& source, const QString& prefix, QString* error) {
  auto failWith = [&](const QString& why) {
    if (error) *error = QStringLiteral("%1: %2").arg(source, why);
    return false;
  };
  if (!mZip) return failWith(QStringLiteral("the archive is not open"));
  zlib_filefunc64_def functions = inMemoryReadFileFunctions();
  unzFile zip = unzOpen2_64(QFile::encodeName(source).constData(), &functions);
  if (!zip) return failWith(QStringLiteral("failed to open zip file"));
  struct Closer {
    unzFile zip;
    ~Closer() { unzClose(zip); }
  } closer{zip};
  if (unzGoToFirstFile(zip) != UNZ_OK) return failWith(QStringLiteral("failed to open first file in zip file"));
  std::vector<char> buffer(kWriteChunk);
  std::int64_t total = 0;
  do {
    unz_file_info info;
    if (unzGetCurrentFileInfo(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
      return failWith(QStringLiteral("unreadable entry"));
    std::vector<char> nameBytes(info.size_filename + 1, '\0');
    unzGetCurrentFileInfo(zip, &info, nameBytes.data(), static_cast<uLong>(nameBytes.size()), nullptr, 0, nullptr, 0);
    const QString rawName = QString::fromUtf8(nameBytes.data(), static_cast<qsizetype>(info.size_filename));
    if (rawName.endsWith(QLatin1Char('/')) || rawName.endsWith(QLatin1Char('\\'))) continue;
    const QString relative = safeRelativeName(rawName);
    if (relative.isEmpty())
      return failWith(QStringLiteral("%1: the entry names a place outside the folder").arg(rawName));
    total += static_cast<std::int64_t>(info.uncompressed_size);
    if (static_cast<std::int64_t>(info.uncompressed_size) > kMaxEntryBytes || total > kMaxTotalBytes)
      return failWith(QStringLiteral("%1: the archive unpacks to more than it may").arg(rawName));

    int method = 0;
    int level = 0;
    if (unzOpenCurrentFile2(zip, &method, &level, /*raw=*/1) != UNZ_OK)
      return failWith(QStringLiteral("%1: the entry cannot be opened").arg(rawName));
    zip_fileinfo out;
    std::memset(&out, 0, sizeof out);
    out.dosDate = info.dosDate;
    out.internal_fa = info.internal_fa;
    out.external_fa = info.external_fa;
    const QByteArray name = (prefix + relative).toUtf8();
    bool copied = zipOpenNewFileInZip2(mZip, name.constData(), &out, nullptr, 0, nullptr, 0, nullptr, method, level,
                                       /*raw=*/1) == ZIP_OK;
    for (int got = 0; copied && (got = unzReadCurrentFile(zip, buffer.data(), static_cast<unsigned>(buffer.size()))) != 0;)
      copied = got > 0 && zipWriteInFileInZip(mZip, buffer.data(), static_cast<unsigned>(got)) == ZIP_OK;
    copied = zipCloseFileInZipRaw(mZip, info.uncompressed_size, info.crc) == ZIP_OK && copied;
    unzCloseCurrentFile(zip);
    if (!copied) return failWith(QStringLiteral("%1: the entry cannot be copied").arg(rawName));
  } while (unzGoToNextFile(zip) == UNZ_OK);
  return true;
}

bool ZipArchive::close(QString* error) {
  if (!mZip) return true;
  const int result = zipClose(mZip, nullptr);
  mZip = nullptr;
  if (result != ZIP_OK) {
    if (error) *error = QStringLiteral("%1: finishing the archive failed").arg(mShownPath);
    return false;
  }
  return true;
}

QString ZipArchive::temporaryPathForDiscardableFile() {
  static std::once_flag once;
  static QString path;
  std::call_once(once, [] {
    const QString scratch = FileUtil::temporaryDirectoryForOrrery();
    if (scratch.isEmpty()) return;
    const QString folder = scratch + QLatin1Char('/') + QUuid::createUuid().toString(QUuid::WithoutBraces);
    if (!QDir().mkpath(folder)) return;
    const QString file = folder + QLatin1String("/.DS_Store");
    if (writeFileReplacing(file, QByteArray()) != FileWriteResult::Written) return;
    path = file;
  });
  return path;
}

bool ZipArchive::createZipFile(const QString& path, const Filler& fill, QString* error) {
  QString why;
  platform::AtomicWriteFailure failure;
  const auto written = platform::writeFileAtomicallyAtPath(
      QFile::encodeName(path).toStdString(),
      [&](const std::string& staging) {
        ZipArchive archive(QFile::decodeName(QByteArray::fromStdString(staging)), path);
        if (!archive.open()) {
          why = QStringLiteral("%1: the archive cannot be created").arg(path);
          return false;
        }
        return fill(archive, &why) && archive.close(&why);
      },
      {}, &failure);
  if (written == platform::AtomicWriteResult::Written) return true;
  // The filler's own reason first; else the system's, for the step that failed.
  if (why.isEmpty())
    why = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(failure.reason()));
  logLine(QStringLiteral("[ZipArchive] Error: %1").arg(why));
  if (error) *error = why;
  return false;
}

bool ZipArchive::createZipFileAtPath(const QString& path, const QString& directory, QString* error) {
  if (!QFileInfo(directory).isDir()) {
    const QString why = QStringLiteral("%1: no such folder").arg(directory);
    logLine(QStringLiteral("[ZipArchive] Error: %1").arg(why));
    if (error) *error = why;
    return false;
  }
  return createZipFile(
      path,
      [&](ZipArchive& archive, QString* why) {
        QStringList relativePaths;
        const QDir root(directory);
        QDirIterator it(directory, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) relativePaths << root.relativeFilePath(it.next());
        relativePaths.sort();
        for (const QString& relative : relativePaths) {
          const QString full = directory + QLatin1Char('/') + relative;
          const QFileInfo info(full);
          if (info.isDir() && !info.isSymLink()) {
            if (!QDir(full).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)) continue;
            const QString placeholder = temporaryPathForDiscardableFile();
            if (placeholder.isEmpty()) {
              *why = QStringLiteral("the placeholder file cannot be made");
              return false;
            }
            if (!archive.writeFileAtPath(placeholder, relative + QLatin1String("/.DS_Store"), why)) return false;
          } else if (!archive.writeFileAtPath(full, relative, why)) {
            return false;
          }
        }
        return true;
      },
      error);
}

QDateTime ZipArchive::dateWithMSDOSFormat(std::uint32_t v) {
  const QDate date(static_cast<int>((v >> 25) + 1980), static_cast<int>((v >> 21) & 15),
                   static_cast<int>((v >> 16) & 31));
  const QTime time(static_cast<int>((v >> 11) & 31), static_cast<int>((v >> 5) & 63), static_cast<int>((v << 1) & 62));
  return QDateTime(date, time);
}

bool ZipArchive::unzipFileAtPath(const QString& path, const QString& destinationPath, ZipError* error) {
  unzFile zip = unzOpen(QFile::encodeName(path).constData());
  if (!zip) {
    fail(error, -1, QStringLiteral("failed to open zip file"));
    return false;
  }
  struct Closer {
    unzFile zip;
    ~Closer() { unzClose(zip); }
  } closer{zip};
  unz_global_info globalInfo;
  if (unzGetGlobalInfo(zip, &globalInfo) != UNZ_OK || unzGoToFirstFile(zip) != UNZ_OK) {
    fail(error, -2, QStringLiteral("failed to open first file in zip file"));
    return false;
  }
  if (!QDir().mkpath(destinationPath)) {
    fail(error, 0, QStringLiteral("%1: the folder cannot be created").arg(destinationPath));
    return false;
  }
  const QString destination = QFileInfo(destinationPath).absoluteFilePath();

  std::vector<DatedPath> dated;
  std::vector<char> buffer(kReadChunk);
  std::int64_t total = 0;
  bool success = true;
  do {
    unz_file_info info;
    if (unzGetCurrentFileInfo(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
      fail(error, 0, QStringLiteral("unreadable entry"));
      success = false;
      break;
    }
    std::vector<char> nameBytes(info.size_filename + 1, '\0');
    unzGetCurrentFileInfo(zip, &info, nameBytes.data(), static_cast<uLong>(nameBytes.size()), nullptr, 0, nullptr, 0);
    const QString rawName = QString::fromUtf8(nameBytes.data(), static_cast<qsizetype>(info.size_filename));
    const bool isFolder = rawName.endsWith(QLatin1Char('/')) || rawName.endsWith(QLatin1Char('\\'));
    const QString relative = safeRelativeName(rawName);
    const std::uint32_t unixMode = static_cast<std::uint32_t>(info.external_fa >> 16);
    if (relative.isEmpty() || !noLinkOnTheWay(destination, relative)) {
      fail(error, 0, QStringLiteral("%1: the entry names a place outside the folder").arg(rawName));
      success = false;
      break;
    }
    if ((unixMode & S_IFMT) == S_IFLNK) {
      fail(error, 0, QStringLiteral("%1: symbolic links are not unpacked").arg(rawName));
      success = false;
      break;
    }
    const QString full = destination + QLatin1Char('/') + relative;
    const QDateTime date = dateWithMSDOSFormat(static_cast<std::uint32_t>(info.dosDate));
    const QString folder = isFolder ? full : QFileInfo(full).absolutePath();
    if (!QDir().mkpath(folder)) {
      fail(error, 0, QStringLiteral("%1: the folder cannot be created").arg(folder));
      success = false;
      break;
    }
    dated.push_back({full, date});
    if (isFolder) continue;

    if (unzOpenCurrentFile(zip) != UNZ_OK) {
      fail(error, 0, QStringLiteral("%1: the entry cannot be opened").arg(rawName));
      success = false;
      break;
    }
    // Only a file of its own: a link or a FIFO the archive or someone else left there is refused.
    std::string refusal;
    const int fd = platform::openRegularFileForWriting(QFile::encodeName(full).toStdString(),
                                                       O_WRONLY | O_CREAT | O_TRUNC, 0644, &refusal);
    if (fd < 0) {
      fail(error, 0, QStringLiteral("%1: %2").arg(full, QString::fromStdString(refusal)));
      unzCloseCurrentFile(zip);
      success = false;
      break;
    }
    std::int64_t entryBytes = 0;
    QString why;
    for (;;) {
      const int got = unzReadCurrentFile(zip, buffer.data(), static_cast<unsigned>(buffer.size()));
      if (got < 0) {
        why = QStringLiteral("%1: the entry cannot be read").arg(rawName);
        break;
      }
      if (got == 0) break;
      entryBytes += got;
      total += got;
      if (entryBytes > kMaxEntryBytes || total > kMaxTotalBytes) {
        why = QStringLiteral("%1: the archive unpacks to more than it may").arg(rawName);
        break;
      }
      for (ssize_t done = 0; done < got && why.isEmpty();) {
        const ssize_t wrote = ::write(fd, buffer.data() + done, static_cast<size_t>(got - done));
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) why = QStringLiteral("%1: %2").arg(full, systemReason());
        else done += wrote;
      }
      if (!why.isEmpty()) break;
    }
    if (::close(fd) != 0 && why.isEmpty()) why = QStringLiteral("%1: %2").arg(full, systemReason());
    const int closed = unzCloseCurrentFile(zip);
    if (why.isEmpty() && closed == UNZ_CRCERROR) {
      fail(error, -3, QStringLiteral("crc check failed for file"));
      success = false;
      break;
    }
    if (!why.isEmpty()) {
      fail(error, 0, why);
      success = false;
      break;
    }
    const mode_t mode = static_cast<mode_t>(unixMode & kModeMask);
    if (mode != 0 && ::chmod(QFile::encodeName(full).constData(), mode) != 0)
      logLine(QStringLiteral("[ZipArchive] Failed to set attributes - whilst setting permissions"));
    if (info.dosDate != 0 && !setModificationDate(full, date))
      logLine(QStringLiteral("[ZipArchive] Failed to set attributes - whilst setting modification date"));
  } while (unzGoToNextFile(zip) == UNZ_OK);

  // Folders keep the archive's dates after their contents were written.
  for (const DatedPath& entry : dated) {
    if (!QFileInfo(entry.path).isDir()) continue;
    if (!setModificationDate(entry.path, entry.date))
      logLine(QStringLiteral("[ZipArchive] Set attributes failed for directory: %1.").arg(entry.path));
  }
  return success;
}

}  // namespace orrery
