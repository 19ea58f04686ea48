// Unpacking an archive: whatever the bytes, nothing lands outside the destination, no entry is
// a symbolic link, and no more than the limit is written.
#include "fuzz/fuzz_qt.h"

#include "export/zip/zip_archive.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString root = fuzzsupport::scratchFolder().path();
  const QString archive = root + QStringLiteral("/input.zip");
  const QString destination = root + QStringLiteral("/box/inside");
  QDir(root + QStringLiteral("/box")).removeRecursively();
  QFile file(archive);
  if (!file.open(QIODevice::WriteOnly)) std::abort();
  file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
  file.close();

  orrery::ZipArchive::unzipFileAtPath(archive, destination);

  const QStringList outside = QDir(root + QStringLiteral("/box")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
  if (!(outside.isEmpty() || outside == QStringList{QStringLiteral("inside")})) std::abort();
  qint64 total = 0;
  QDirIterator it(destination, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QFileInfo info(it.next());
    if (info.isSymLink()) std::abort();
    total += info.isFile() ? info.size() : 0;
  }
  if (total > orrery::ZipArchive::kMaxTotalBytes) std::abort();
  return 0;
}
