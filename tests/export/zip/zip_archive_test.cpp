#include "export/zip/zip_archive.h"

#include "support/required_tool.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <zlib.h>

namespace orrery {
namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(bytes);
}

QByteArray readFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString run(const QString& program, const QStringList& arguments, int* exitCode = nullptr) {
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(program, arguments);
  process.waitForFinished(120000);
  if (exitCode) *exitCode = process.exitCode();
  return QString::fromUtf8(process.readAll());
}

// Builds an archive with Python's zipfile; `body` is Python run with `z` open for writing.
void pythonZip(const QString& path, const QString& body) {
  ASSERT_TRUE(testsupport::requireTool("python3", "python3"));
  const QString script = QStringLiteral("import zipfile, sys\nz = zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED)\n") +
                         body + QStringLiteral("\nz.close()\n");
  int code = -1;
  const QString output = run("python3", {"-c", script, path}, &code);
  ASSERT_EQ(code, 0) << output.toStdString();
}

QStringList filesBelow(const QString& folder) {
  QStringList found;
  QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) found << QDir(folder).relativeFilePath(it.next());
  found.sort();
  return found;
}

// The entries zipinfo lists, in archive order, once unzip found every size and checksum right.
QStringList testedListing(const QString& archive) {
  int code = -1;
  const QString test = run("unzip", {"-t", "-q", archive}, &code);
  EXPECT_EQ(code, 0) << test.toStdString();
  return run("zipinfo", {"-1", archive}).split('\n', Qt::SkipEmptyParts);
}

// Unpacks the archive and compares the files below the folder, and only those, with `expected`.
void expectUnpacksTo(const QString& archive, const QString& folder, const QMap<QString, QByteArray>& expected) {
  ASSERT_TRUE(ZipArchive::unzipFileAtPath(archive, folder));
  QMap<QString, QByteArray> found;
  for (const QString& name : filesBelow(folder))
    if (QFileInfo(folder + "/" + name).isFile()) found.insert(name, readFile(folder + "/" + name));
  EXPECT_EQ(found.keys(), expected.keys());
  for (auto it = expected.begin(); it != expected.end(); ++it)
    EXPECT_TRUE(found.value(it.key()) == it.value()) << it.key().toStdString();
}

class ZipArchiveTest : public ::testing::Test {
 protected:
  QTemporaryDir dir;
  QString path(const QString& name) const { return dir.filePath(name); }
};

TEST_F(ZipArchiveTest, PackedFolderHasItsFilesDeflatedAndEmptyFoldersAsPlaceholders) {
  writeFile(path("stage/a.txt"), QByteArray(5000, 'a'));
  writeFile(path("stage/sub/b.txt"), "bee");
  QDir().mkpath(path("stage/empty"));
  writeFile(path("out.zip"), "old contents");  // replaced
  QString error;
  ASSERT_TRUE(ZipArchive::createZipFileAtPath(path("out.zip"), path("stage"), &error)) << error.toStdString();

  ASSERT_TRUE(testsupport::requireTool("zipinfo", "unzip"));
  EXPECT_EQ(testedListing(path("out.zip")), (QStringList{"a.txt", "empty/.DS_Store", "sub/b.txt"}));
  EXPECT_TRUE(run("zipinfo", {"-v", path("out.zip")}).contains("compression method:                             deflated"));
  EXPECT_EQ(filesBelow(dir.path()), (QStringList{"out.zip", "stage", "stage/a.txt", "stage/empty", "stage/sub",
                                                 "stage/sub/b.txt"}))
      << "no temporary left beside the destination";
  expectUnpacksTo(path("out.zip"), path("back"),
                  {{"a.txt", QByteArray(5000, 'a')}, {"empty/.DS_Store", ""}, {"sub/b.txt", "bee"}});
}

TEST_F(ZipArchiveTest, EntriesFromMemoryAndCopiedArchivesUnpackToTheSameBytes) {
  pythonZip(path("bundle.zip"),
            "i = zipfile.ZipInfo('pics/')\nz.writestr(i, '')\n"
            "i = zipfile.ZipInfo('pics/a.txt', (2001, 2, 3, 4, 5, 6))\ni.external_attr = 0o100640 << 16\n"
            "z.writestr(i, 'A' * 5000, zipfile.ZIP_DEFLATED)\n"
            "z.writestr('pics/b.bin', bytes(range(256)) * 3, zipfile.ZIP_STORED)");
  // Incompressible and larger than what is held before writing out: its header is completed
  // after its start has left memory.
  QByteArray big(6 << 20, Qt::Uninitialized);
  std::uint32_t seed = 12345;
  for (char& byte : big) byte = static_cast<char>((seed = seed * 1664525u + 1013904223u) >> 24);
  QString error;
  ASSERT_TRUE(ZipArchive::createZipFile(
      path("out.zip"),
      [&](ZipArchive& archive, QString* why) {
        return archive.writeData("made in memory", "files/data.js", why) &&
               archive.writeData(big, "files/big.bin", why) && archive.writeData("after", "files/z.txt", why) &&
               archive.copyEntriesFrom(path("bundle.zip"), "include/", why);
      },
      &error))
      << error.toStdString();
  ASSERT_TRUE(testsupport::requireTool("zipinfo", "unzip"));
  EXPECT_EQ(testedListing(path("out.zip")),
            (QStringList{"files/data.js", "files/big.bin", "files/z.txt", "include/pics/a.txt", "include/pics/b.bin"}))
      << "copied under the prefix, without folder entries, sizes and checksums carried over";
  QByteArray allBytes;
  for (int r = 0; r < 3 * 256; ++r) allBytes += static_cast<char>(r % 256);
  expectUnpacksTo(path("out.zip"), path("back"),
                  {{"files/data.js", "made in memory"},
                   {"files/big.bin", big},
                   {"files/z.txt", "after"},
                   {"include/pics/a.txt", QByteArray(5000, 'A')},
                   {"include/pics/b.bin", allBytes}});
  EXPECT_EQ(QFileInfo(path("back/include/pics/a.txt")).lastModified().date(), QDate(2001, 2, 3));
  EXPECT_EQ(QFileInfo(path("back/include/pics/a.txt")).permissions() & QFileDevice::WriteGroup, 0)
      << "the copied mode is kept";

  // A copy from a hostile or missing archive fails the whole archive and keeps the old file.
  pythonZip(path("slip.zip"), "z.writestr('ok.txt', 'ok')\nz.writestr('../escaped.txt', 'x')");
  for (const QString& source : {path("slip.zip"), path("missing.zip")}) {
    EXPECT_FALSE(ZipArchive::createZipFile(
        path("out.zip"), [&](ZipArchive& archive, QString* why) { return archive.copyEntriesFrom(source, "", why); },
        &error));
    EXPECT_TRUE(error.contains(source)) << error.toStdString();
    EXPECT_EQ(run("zipinfo", {"-1", path("out.zip")}).split('\n', Qt::SkipEmptyParts).size(), 5);
  }
  EXPECT_FALSE(QDir(dir.path()).entryList(QDir::Hidden | QDir::Files).join(" ").contains(".part"));
}

TEST_F(ZipArchiveTest, AnEntryDeflatedAheadIsTheEntryWriteDataMakes) {
  // Text that deflates well, incompressible noise past minizip's chunk size, and nothing.
  QByteArray noise(200000, Qt::Uninitialized);
  std::uint32_t seed = 99;
  for (char& byte : noise) byte = static_cast<char>((seed = seed * 1664525u + 1013904223u) >> 24);
  const QList<QByteArray> contents{QByteArray("{\"text\": \"idea\"} ").repeated(5000), noise, QByteArray()};
  QString error;
  ASSERT_TRUE(ZipArchive::createZipFile(
      path("out.zip"),
      [&](ZipArchive& archive, QString* why) {
        for (int i = 0; i < contents.size(); ++i) {
          const ZipArchive::DeflatedData ahead = ZipArchive::deflate(contents[i]);
          const ZipArchive::DeflatedData fast = ZipArchive::deflate(contents[i], Z_BEST_SPEED);
          if (!ahead.ok || !fast.ok || !archive.writeDeflated(ahead, QString("ahead%1").arg(i), why) ||
              !archive.writeDeflated(fast, QString("fast%1").arg(i), why) ||
              !archive.writeData(contents[i], QString("direct%1").arg(i), why))
            return false;
        }
        return true;
      },
      &error))
      << error.toStdString();
  ASSERT_TRUE(testsupport::requireTool("unzip", "unzip"));
  int code = -1;
  const QString test = run("unzip", {"-t", path("out.zip")}, &code);
  EXPECT_EQ(code, 0) << test.toStdString() << "sizes and checksums as recorded";
  // zipinfo's lines: mode, version, system, size, text/binary, compressed size, method, ...
  const QStringList lines = run("zipinfo", {"-l", path("out.zip")}).split('\n');
  auto details = [&](const QString& name) {
    for (const QString& line : lines)
      if (line.endsWith(' ' + name)) return line.split(' ', Qt::SkipEmptyParts).mid(3, 4).join(' ');
    return QString();
  };
  ASSERT_TRUE(ZipArchive::unzipFileAtPath(path("out.zip"), path("back")));
  for (int i = 0; i < contents.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(readFile(path("back/ahead%1").arg(i)), contents[i]);
    EXPECT_EQ(readFile(path("back/fast%1").arg(i)), contents[i]);
    EXPECT_FALSE(details(QString("ahead%1").arg(i)).isEmpty());
    EXPECT_EQ(details(QString("ahead%1").arg(i)), details(QString("direct%1").arg(i)));
  }
}

TEST_F(ZipArchiveTest, AFailedPackKeepsTheOldFileAndLeavesNoTemporary) {
  writeFile(path("stage/a.txt"), "a");
  writeFile(path("stage/secret.txt"), "s");
  ASSERT_EQ(::chmod(QFile::encodeName(path("stage/secret.txt")).constData(), 0), 0);
  writeFile(path("dest/out.zip"), "old contents");
  QString error;
  if (::geteuid() != 0) {  // root reads any file
    EXPECT_FALSE(ZipArchive::createZipFileAtPath(path("dest/out.zip"), path("stage"), &error));
    EXPECT_TRUE(error.contains("secret.txt")) << error.toStdString();
    EXPECT_EQ(readFile(path("dest/out.zip")), "old contents");
    EXPECT_EQ(QDir(path("dest")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{"out.zip"});
  }
  EXPECT_FALSE(ZipArchive::createZipFileAtPath(path("gone/out.zip"), path("stage"), &error))
      << "a vanished destination folder is an error";
  EXPECT_FALSE(ZipArchive::createZipFileAtPath(path("dest/out.zip"), path("no-such-stage"), &error));
  EXPECT_EQ(readFile(path("dest/out.zip")), "old contents");
}

TEST_F(ZipArchiveTest, UnpackReplacesFilesReadsBackslashesAndKeepsNestedArchivesAsFiles) {
  writeFile(path("dest/x/y.txt"), "old");
  pythonZip(path("in.zip"),
            "z.writestr('x\\\\y.txt', 'new')\n"
            "z.writestr('inner.ZIP', open(sys.argv[1] + '.inner', 'rb').read() if False else b'PK\\x05\\x06' + b'\\0'*18)\n"
            "i = zipfile.ZipInfo('folder/')\ni.date_time = (2001, 2, 3, 4, 5, 6)\nz.writestr(i, '')\n"
            "z.writestr('folder/late.txt', 'l')");
  ZipError error;
  ASSERT_TRUE(ZipArchive::unzipFileAtPath(path("in.zip"), path("dest"), &error)) << error.description.toStdString();
  EXPECT_EQ(readFile(path("dest/x/y.txt")), "new");
  EXPECT_TRUE(QFileInfo(path("dest/inner.ZIP")).isFile());
  EXPECT_EQ(QFileInfo(path("dest/folder")).lastModified().date(), QDate(2001, 2, 3))
      << "a folder keeps its archived date after its contents were written";
}

TEST_F(ZipArchiveTest, HostileArchivesAreRefusedAndNothingLandsOutside) {
  struct Case {
    const char* name;
    QString python;
  };
  const std::vector<Case> cases = {
      {"zip-slip", "z.writestr('ok.txt', 'ok')\nz.writestr('../../escaped.txt', 'x')"},
      {"absolute", QStringLiteral("z.writestr('%1', 'x')").arg(path("escaped.txt"))},
      {"backslash-slip", "z.writestr('a\\\\..\\\\..\\\\escaped.txt', 'x')"},
      {"symlink",
       "i = zipfile.ZipInfo('link')\ni.create_system = 3\ni.external_attr = (0o120777 << 16)\n"
       "z.writestr(i, '/etc')\nz.writestr('link/escaped.txt', 'x')"},
      {"bomb",
       "with z.open('zeros.bin', 'w', force_zip64=True) as f:\n"
       "    block = bytes(1 << 20)\n"
       "    for _ in range(1024): f.write(block)"},
      {"many-entries-in-all",
       "block = bytes(60 << 20)\nfor n in range(5): z.writestr('part%d.bin' % n, block)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const QString archive = path(QString("%1.zip").arg(c.name));
    pythonZip(archive, c.python);
    const QString destination = path(QString("out-%1/deep/er").arg(c.name));
    EXPECT_FALSE(ZipArchive::unzipFileAtPath(archive, destination));
    EXPECT_FALSE(QFileInfo::exists(path("escaped.txt")));
    EXPECT_FALSE(QFileInfo::exists(path(QString("out-%1/escaped.txt").arg(c.name))));
    EXPECT_FALSE(QFileInfo(destination + "/link").isSymLink());
    qint64 unpacked = 0;
    for (const QString& f : filesBelow(destination)) unpacked += QFileInfo(destination + "/" + f).size();
    EXPECT_LE(unpacked, ZipArchive::kMaxTotalBytes);
  }
}

TEST_F(ZipArchiveTest, StoredModesAreMaskedAndBrokenArchivesFail) {
  pythonZip(path("modes.zip"),
            "i = zipfile.ZipInfo('setuid')\ni.create_system = 3\ni.external_attr = (0o104777 << 16)\n"
            "z.writestr(i, 'x')");
  ASSERT_TRUE(ZipArchive::unzipFileAtPath(path("modes.zip"), path("modes")));
  EXPECT_EQ(QFileInfo(path("modes/setuid")).permissions() & (QFile::WriteOther | QFile::WriteGroup), 0);
  struct stat st;
  ASSERT_EQ(::stat(QFile::encodeName(path("modes/setuid")).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);

  pythonZip(path("good.zip"), "z.writestr('a.txt', 'hello world ' * 1000)");
  QByteArray bytes = readFile(path("good.zip"));
  writeFile(path("truncated.zip"), bytes.left(bytes.size() / 2));
  ZipError error;
  EXPECT_FALSE(ZipArchive::unzipFileAtPath(path("truncated.zip"), path("t"), &error));
  EXPECT_EQ(error.code, -1);

  // Flip the stored checksum of the one entry (local header offset 14, and in the central
  // directory 16 bytes into its record).
  QByteArray badCrc = bytes;
  badCrc[14] = static_cast<char>(badCrc[14] ^ 0xFF);
  const qsizetype central = badCrc.indexOf(QByteArray("PK\x01\x02", 4));
  ASSERT_GT(central, 0);
  badCrc[central + 16] = static_cast<char>(badCrc[central + 16] ^ 0xFF);
  writeFile(path("badcrc.zip"), badCrc);
  EXPECT_FALSE(ZipArchive::unzipFileAtPath(path("badcrc.zip"), path("c"), &error));
  EXPECT_EQ(error.code, -3);
  EXPECT_EQ(error.description, "crc check failed for file");

  // A declared size smaller than the data: what is read no longer matches its checksum.
  pythonZip(path("liar.zip"), "z.writestr('a.txt', 'A' * 100000)");
  QByteArray liar = readFile(path("liar.zip"));
  const qsizetype liarCentral = liar.indexOf(QByteArray("PK\x01\x02", 4));
  for (qsizetype at : {qsizetype{22}, liarCentral + 24}) {
    liar[at] = 10;
    liar[at + 1] = liar[at + 2] = liar[at + 3] = 0;
  }
  writeFile(path("liar.zip"), liar);
  EXPECT_FALSE(ZipArchive::unzipFileAtPath(path("liar.zip"), path("l")));
  EXPECT_LE(QFileInfo(path("l/a.txt")).size(), 10);

  writeFile(path("empty.zip"), QByteArray("PK\x05\x06", 4) + QByteArray(18, '\0'));
  EXPECT_FALSE(ZipArchive::unzipFileAtPath(path("empty.zip"), path("e"), &error)) << "no entries";
  EXPECT_LT(error.code, 0);

  // An entry is written only as a file of its own: a FIFO in its place is refused, not waited on.
  ASSERT_TRUE(QDir().mkpath(path("f")));
  ASSERT_EQ(::mkfifo(QFile::encodeName(path("f/a.txt")).constData(), 0600), 0);
  EXPECT_FALSE(ZipArchive::unzipFileAtPath(path("good.zip"), path("f"), &error));
  EXPECT_EQ(error.description, QFileInfo(path("f")).absoluteFilePath() + "/a.txt: not a regular file (a FIFO)");

  // An archive read whole is not read when larger than the memory there is (sparse: no disk).
  QFile huge(path("huge.zip"));
  ASSERT_TRUE(huge.open(QIODevice::WriteOnly) && huge.resize(qint64(1) << 40));
  huge.close();
  QString why;
  EXPECT_FALSE(ZipArchive::createZipFile(
      path("copy.zip"),
      [&](ZipArchive& archive, QString* w) { return archive.copyEntriesFrom(path("huge.zip"), "", w); }, &why));
  EXPECT_EQ(why, path("huge.zip") + ": failed to open zip file");
}

TEST(ZipArchiveDates, MSDOSDateTimeFieldsDecode) {
  // 2019-07-14 13:45:58: year 39, month 7, day 14, hour 13, minute 45, seconds/2 29.
  const std::uint32_t v = (39u << 25) | (7u << 21) | (14u << 16) | (13u << 11) | (45u << 5) | 29u;
  EXPECT_EQ(ZipArchive::dateWithMSDOSFormat(v), QDateTime(QDate(2019, 7, 14), QTime(13, 45, 58)));
}

}  // namespace
}  // namespace orrery
