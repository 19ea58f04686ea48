#pragma once
// The program's layer over minizip: pack a staged folder into a zip file, and unpack an
// archive into a folder. Paths are UTF-8; every call blocks its caller and may run on any
// thread. Archives are never encrypted.
//
// Packing goes through the platform's atomic writer: a staging file beside the destination,
// flushed and renamed over it only after every entry and the archive's close succeeded, so a
// user's file is either the old one or the whole new one (through a symbolic link, the file it
// points at; an existing file's mode is kept). Unpacking treats the archive as untrusted: an entry that would land
// outside the destination (a "..", an absolute name), a symbolic link, or more bytes than the
// limits below refuses the whole archive; modes are masked to 0755; nested archives stay files.

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <functional>

typedef void* zipFile;

namespace orrery {

struct ZipError {
  static constexpr char kDomain[] = "ZipArchiveErrorDomain";
  int code = 0;  // -1 unopenable, -2 no first entry, -3 checksum; 0 for other refusals
  QString description;
};

class ZipArchive {
 public:
  static constexpr std::int64_t kMaxEntryBytes = std::int64_t{64} << 20;
  static constexpr std::int64_t kMaxTotalBytes = std::int64_t{256} << 20;
  // An archive read whole: as much as its entries may hold, and their headers and names.
  static constexpr std::int64_t kMaxArchiveBytes = kMaxTotalBytes + (std::int64_t{16} << 20);

  // Unpacks every entry (overwriting) below `destination`, which is created when missing.
  static bool unzipFileAtPath(const QString& path, const QString& destination, ZipError* error = nullptr);
  // Packs the folder's contents with names relative to it, deflated, no folder entries: an
  // empty folder becomes a zero-length ".DS_Store" inside it.
  static bool createZipFileAtPath(const QString& path, const QString& directory, QString* error = nullptr);
  // Writes an archive at `path` through `fill`, replacing the old file only when `fill` and the
  // close succeeded; on failure the reason is in `error` and the old file stays.
  using Filler = std::function<bool(ZipArchive& archive, QString* error)>;
  static bool createZipFile(const QString& path, const Filler& fill, QString* error = nullptr);

  // One archive being written at `path` (replaced when it exists); failures name
  // `shownPath` when given (the user's file, where `path` is its staging file).
  explicit ZipArchive(const QString& path, const QString& shownPath = QString());
  ~ZipArchive();
  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;

  bool open();
  // Writes the file as the entry `fileName` (its last path component when empty); a file that
  // cannot be read, or any failed library call, fails the entry with the reason in `error`.
  bool writeFileAtPath(const QString& path, const QString& fileName, QString* error);
  // Writes `data` as the entry `name`, deflated, dated now, mode 0644.
  bool writeData(const QByteArray& data, const QString& name, QString* error);
  // An entry's bytes deflated ahead, on any thread, as writeData would (at zlib's `level`):
  // the archive then only copies them in.
  struct DeflatedData {
    QByteArray deflated;  // a raw deflate stream
    std::uint32_t crc = 0;
    qint64 size = 0;  // before deflating
    int level = -1;
    bool text = false;  // what zlib took the bytes for, recorded in the entry as minizip does
    bool ok = false;
  };
  static DeflatedData deflate(const QByteArray& data, int level = -1);
  // Writes deflated bytes as the entry `name`, dated now, mode 0644: the same entry as
  // writeData's of the original bytes.
  bool writeDeflated(const DeflatedData& data, const QString& name, QString* error);
  // Copies every file entry of the archive at `source` (read whole into memory: for the
  // program's own bundles) still compressed, with its date and
  // mode, its name behind `prefix` (a folder path ending in "/", or empty); folder entries are
  // left out. An entry whose name would leave the archive's root or
  // that claims more bytes than the limits below fails the copy.
  bool copyEntriesFrom(const QString& source, const QString& prefix, QString* error);
  // False when the library could not finish the archive (its central directory unwritten).
  bool close(QString* error);

  static QDateTime dateWithMSDOSFormat(std::uint32_t msdosDateTime);
  // The zero-length ".DS_Store" made once per process in the private scratch folder; empty
  // when it cannot be made.
  static QString temporaryPathForDiscardableFile();

 private:
  // Fills one entry from `read`, deflating it, or, given `ahead`, copying its deflated bytes.
  bool writeEntry(const QByteArray& name, const std::uint32_t mode, const QDateTime& modified,
                  const std::function<qint64(char* buffer, qint64 size)>& read, QString* error,
                  const DeflatedData* ahead = nullptr);

  QString mPath;
  QString mShownPath;
  zipFile mZip = nullptr;
};

}  // namespace orrery
