// Every export writer replaces the user's file the same way: through a symbolic link it writes
// the file the link points at and keeps the link, an existing file's mode stays, and a write
// that fails midway leaves the old content and no staging file.

#include "export/mind_map_to_pdf.h"
#include "export/share_type_view.h"
#include "export/web_exporter.h"
#include "export/zip/zip_archive.h"
#include "export_test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>

namespace orrery {
namespace {

using Writer = std::function<MyResultPtr(const QString& path)>;

struct Case {
  const char* name;
  Writer write;
};

QByteArray readFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeOld(const QString& path) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("the old export");
}

mode_t modeOf(const QString& path) {
  struct stat st {};
  return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Writes with the process's file-size limit at `bytes`: longer writes fail with EFBIG.
MyResultPtr withFileSizeLimit(rlim_t bytes, const std::function<MyResultPtr()>& write) {
  struct rlimit saved {};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit limited = saved;
  limited.rlim_cur = bytes;
  ::setrlimit(RLIMIT_FSIZE, &limited);
  MyResultPtr result = write();
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
  return result;
}

std::vector<Case> writers() {
  const IdeaPtr map = exporttest::fanMap("Replaced", 40);
  for (const IdeaPtr& child : map->ideas()) child->setNote(QString("A note that takes some room. ").repeated(20));
  return {
      {"pdf",
       [map](const QString& path) {
         MindMapToPDF pdf(map, QDateTime());
         pdf.setShowNotes(true);
         return pdf.writePDFNow(path);
       }},
      {"web page", [map](const QString& path) { return WebExporter::exportNow(map->snapshotCopy(), 2, path); }},
      {"archive",
       [](const QString& path) {
         QString error;
         const bool ok = ZipArchive::createZipFile(
             path,
             [](ZipArchive& archive, QString* why) {
               QByteArray noise(64 * 1024, 0);
               for (char& byte : noise) byte = char(rand());
               return archive.writeData(noise, "noise.bin", why);
             },
             &error);
         return ok ? MyResult::OK() : MyResult::error(QString(), error);
       }},
      {"share pane bytes",
       [](const QString& path) {
         std::optional<MyResultPtr> result;
         ShareTypeView::saveData(QByteArray(64 * 1024, 'o'), path, [&](const MyResultPtr& r) { result = r; });
         exporttest::waitFor([&] { return result.has_value(); });
         return result.value_or(MyResult::error(QString(), "no completion"));
       }},
  };
}

TEST(ExportFileReplacement, ThroughALinkTheTargetIsWrittenWithItsModeAndTheLinkStays) {
  for (const Case& c : writers()) {
    SCOPED_TRACE(c.name);
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("real"));
    const QString target = dir.filePath("real/export.out");
    const QString link = dir.filePath("export.out");
    writeOld(target);
    ASSERT_EQ(::chmod(QFile::encodeName(target).constData(), 0640), 0);
    ASSERT_TRUE(QFile::link(target, link));

    const MyResultPtr result = c.write(link);
    ASSERT_TRUE(result->isOK()) << result->description().toStdString();
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), target);
    EXPECT_NE(readFile(target), "the old export");
    EXPECT_GT(readFile(target).size(), 1000);
    EXPECT_EQ(modeOf(target), 0640u);
    EXPECT_EQ(QDir(dir.filePath("real")).entryList(QDir::Files | QDir::Hidden), QStringList{"export.out"});
  }
}

TEST(ExportFileReplacement, AWriteFailingMidwayLeavesTheOldFileAndNoStaging) {
  for (const Case& c : writers()) {
    SCOPED_TRACE(c.name);
    QTemporaryDir dir;
    const QString path = dir.filePath("export.out");
    writeOld(path);
    const MyResultPtr result = withFileSizeLimit(8 * 1024, [&] { return c.write(path); });
    EXPECT_TRUE(result->isError());
    EXPECT_EQ(readFile(path), "the old export");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"export.out"});
  }
}

}  // namespace
}  // namespace orrery
