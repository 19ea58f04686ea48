#include "export/web_exporter.h"

#include "export/zip/zip_archive.h"
#include "export_test_support.h"
#include "model/file_utils.h"
#include "support/pdf_tools.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <optional>
#include <sys/resource.h>

namespace orrery {
namespace {

KitImage picture(QColor color) {
  QImage image(300, 200, QImage::Format_ARGB32);
  image.fill(color);
  return KitImage(image);
}

QByteArray readFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList entries(const QString& archive) {
  QStringList names = testsupport::runTool("zipinfo", {"-1", archive}).split('\n', Qt::SkipEmptyParts);
  names.sort();
  return names;
}

// Staging folders of this run left in the scratch folder.
QStringList leftoverStaging() {
  const QString run = FileUtil::temporaryDirectoryForOrrery() + "/" + FileUtil::uniqueOrrerySession();
  return QDir(run).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
}

class WebExporterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testsupport::requireTool("node", "nodejs"));
    ASSERT_TRUE(testsupport::requireTool("zipinfo", "unzip"));
    ASSERT_TRUE(testsupport::requireTool("pngcheck", "pngcheck"));
    ASSERT_TRUE(testsupport::requireTool("xmllint", "libxml2-utils"));
  }

  MyResultPtr exportAndWait(const IdeaPtr& root, WebExportStyle style, const QString& destination,
                            const std::function<void()>& rightAfter = {}) {
    std::optional<MyResultPtr> result;
    WebExporter::saveWebExportFrom(root, style, destination, [&](const MyResultPtr& r) { result = r; });
    if (rightAfter) rightAfter();
    EXPECT_TRUE(exporttest::waitFor([&] { return result.has_value(); }));
    return result.value_or(MyResult::todoError());
  }

  // Unpacks the archive and runs the page in node.
  QJsonObject runPage(const QString& archive, const QString& folder) {
    ZipError error;
    EXPECT_TRUE(ZipArchive::unzipFileAtPath(archive, folder, &error)) << error.description.toStdString();
    int code = -1;
    const QString output = testsupport::runTool(
        "node", {QStringLiteral(ORRERY_EXPORT_TEST_DIR) + "/web/page_check.js", folder}, &code);
    EXPECT_EQ(code, 0) << output.toStdString();
    const QJsonObject page = QJsonDocument::fromJson(output.toUtf8()).object();
    EXPECT_TRUE(page["missingScripts"].toArray().isEmpty())
        << "the page loads files the export lacks: "
        << QJsonDocument(page["missingScripts"].toArray()).toJson(QJsonDocument::Compact).toStdString();
    return page;
  }

  QTemporaryDir dir;
};

TEST_F(WebExporterTest, AWebPageCarriesTheWholeTreeItsPicturesAndAnEscapedTitle) {
  IdeaPtr root = Idea::createWithText("Trip <&> \"plans\"");
  root->setColor(ColorTheme::standardThemes().front()->colors().front());
  IdeaPtr noted = Idea::createWithText("Packing");
  noted->setNote("socks & shoes");
  IdeaPtr photo = Idea::createWithOriginalImage(picture(Qt::red));
  IdeaPtr web = Idea::createWithURL("https://example.org/?a=1&b=2", picture(Qt::blue));
  root->addIdea(noted);
  root->addIdea(photo);
  root->addIdea(web);
  noted->addIdea(Idea::createWithLinkToIdea(photo->identifier()));
  root->applyColorTheme();

  ASSERT_TRUE(exportAndWait(root, 1, dir.filePath("trip.zip"))->isOK());
  int code = -1;
  testsupport::runTool("unzip", {"-tq", dir.filePath("trip.zip")}, &code);
  EXPECT_EQ(code, 0);
  const QStringList names = entries(dir.filePath("trip.zip"));
  EXPECT_TRUE(names.contains("index.html"));
  EXPECT_TRUE(names.contains("HOW_TO_USE.html"));
  EXPECT_TRUE(names.contains("include/orrery.js"));
  EXPECT_TRUE(names.contains("files/data.js"));
  EXPECT_TRUE(names.contains("files/preview.png"));
  EXPECT_TRUE(names.contains(QString("files/%1_mini.png").arg(photo->identifier())));
  EXPECT_TRUE(names.contains(QString("files/%1.jpg").arg(photo->identifier())));
  EXPECT_FALSE(names.filter("twemoji").size()) << "no emoji pictures in a web page";
  for (const QString& name : names) EXPECT_FALSE(name.endsWith('/')) << "no folder entries";

  const QString folder = dir.filePath("unpacked");
  const QJsonObject page = runPage(dir.filePath("trip.zip"), folder);
  const QJsonObject record = page["data"].toObject()["rootIdea"].toObject();
  EXPECT_EQ(page["data"].toObject()["mode"].toString(), "embedded");
  EXPECT_EQ(record["elemtype"].toInt(), 1);
  EXPECT_EQ(record["text"].toString(), root->text());
  EXPECT_EQ(record["bgcolor"].toString().size(), 7);
  const QJsonArray children = record["ideas"].toArray();
  ASSERT_EQ(children.size(), 3);
  EXPECT_EQ(children[0].toObject()["note"].toString(), "socks & shoes");
  const QJsonObject link = children[0].toObject()["ideas"].toArray()[0].toObject();
  EXPECT_EQ(link["elemtype"].toInt(), 4);
  EXPECT_EQ(link["linkedIdea"].toString(), photo->identifier());
  EXPECT_EQ(children[1].toObject()["image"].toString(), photo->identifier() + "_mini.png");
  EXPECT_EQ(children[1].toObject()["bigImage"].toString(), photo->identifier() + ".jpg");
  EXPECT_EQ(children[2].toObject()["url"].toString(), "https://example.org/?a=1&b=2");
  EXPECT_TRUE(children[2].toObject().contains("image"));
  EXPECT_FALSE(children[2].toObject().contains("bigImage"));
  EXPECT_TRUE(readFile(folder + "/files/data.js").startsWith("globalOrreryData = { \"rootIdea\": {"));
  EXPECT_TRUE(readFile(folder + "/files/data.js").endsWith(",\n\"mode\": \"embedded\" };"));

  // The page shows every title once the cover is left.
  QStringList texts;
  for (const auto& t : page["texts"].toArray()) texts << t.toString();
  for (const QString& title : {root->text(), QString("Packing"), QString("socks & shoes"),
                               QString("https://example.org/?a=1&b=2")})
    EXPECT_TRUE(texts.contains(title)) << title.toStdString();
  EXPECT_TRUE(page["shown"].toArray().contains("map"));

  const QByteArray index = readFile(folder + "/index.html");
  EXPECT_TRUE(index.contains("<title>Trip &lt;&amp;&gt; &quot;plans&quot;</title>"));
  const QString lint = testsupport::runTool("xmllint", {"--html", "--noout", folder + "/index.html"}, &code);
  EXPECT_EQ(code, 0) << lint.toStdString();
  EXPECT_TRUE(lint.isEmpty()) << lint.toStdString();
  for (const QString& png : {QString("/files/preview.png"), QString("/files/%1_mini.png").arg(photo->identifier())}) {
    testsupport::runTool("pngcheck", {folder + png}, &code);
    EXPECT_EQ(code, 0) << png.toStdString();
  }
  EXPECT_TRUE(leftoverStaging().isEmpty()) << leftoverStaging().join(", ").toStdString();
}

TEST(WebExporterData, RecordsReadBackAsTheTreeWithEveryCharacterIntact) {
  const QString tricky = QString::fromUtf8("Quote \" back\\slash / line\nbreak\r\ttab \x01\x1f é 😀 ") +
                         QChar(0xD800) + QStringLiteral(" end");
  IdeaPtr root = Idea::createWithText(tricky);
  root->setNote(QStringLiteral("note: ") + tricky);
  IdeaPtr first = Idea::createWithText("first");
  IdeaPtr second = Idea::createWithURL("https://example.org/?q=\"x\"", KitImage());
  root->addIdea(first);
  root->addIdea(second);
  first->addIdea(Idea::createWithText("grandchild"));
  first->addIdea(Idea::createWithLinkToIdea(second->identifier()));

  const QByteArray js = WebExporter::createDataJS(*root, WebExporter::pictureNamesFor(*root), 2);
  const QByteArray head = "globalOrreryData = { \"rootIdea\": ";
  const QByteArray tail = ",\n\"mode\": \"fullpage\" };";
  ASSERT_TRUE(js.startsWith(head) && js.endsWith(tail)) << js.toStdString();
  QJsonParseError error;
  const QJsonObject record =
      QJsonDocument::fromJson(js.mid(head.size(), js.size() - head.size() - tail.size()), &error).object();
  ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();

  QString expected = tricky;
  expected[expected.indexOf(QChar(0xD800))] = QChar(0xFFFD);  // no UTF-8 form: the replacement
  EXPECT_EQ(record["text"].toString(), expected);
  EXPECT_EQ(record["note"].toString(), "note: " + expected);
  EXPECT_EQ(record["identifier"].toString(), root->identifier());
  const QJsonArray children = record["ideas"].toArray();
  ASSERT_EQ(children.size(), 2);
  const QJsonArray grandchildren = children[0].toObject()["ideas"].toArray();
  ASSERT_EQ(grandchildren.size(), 2);
  EXPECT_EQ(grandchildren[0].toObject()["text"].toString(), "grandchild");
  EXPECT_TRUE(grandchildren[0].toObject()["ideas"].toArray().isEmpty()) << "a leaf has an empty list";
  EXPECT_EQ(grandchildren[1].toObject()["linkedIdea"].toString(), second->identifier());
  EXPECT_EQ(grandchildren[1].toObject()["elemtype"].toInt(), 4);
  EXPECT_EQ(children[1].toObject()["url"].toString(), "https://example.org/?q=\"x\"");
  EXPECT_FALSE(children[1].toObject().contains("note"));
  EXPECT_FALSE(children[0].toObject().contains("bgcolor"));
}

TEST_F(WebExporterTest, APresentationStepsThroughEveryIdeaWithEmojiAndNoHowTo) {
  IdeaPtr root = exporttest::fanMap("Talk", 4, 2);
  ASSERT_TRUE(exportAndWait(root, 0, dir.filePath("talk.zip"))->isOK());
  const QStringList names = entries(dir.filePath("talk.zip"));
  EXPECT_FALSE(names.contains("HOW_TO_USE.html"));
  EXPECT_TRUE(names.contains("include/twemoji/index.js"));
  EXPECT_GT(names.filter("include/twemoji/").size(), 100);
  const QJsonObject page = runPage(dir.filePath("talk.zip"), dir.filePath("talk"));
  EXPECT_EQ(page["data"].toObject()["mode"].toString(), "presentation");
  QStringList texts;
  for (const auto& t : page["texts"].toArray()) texts << t.toString();
  for (const char* title : {"Talk", "child 1", "child 4", "note of child 2", "5 / 5"})
    EXPECT_TRUE(texts.contains(title)) << title;

  ASSERT_TRUE(exportAndWait(root, 2, dir.filePath("full.zip"))->isOK());
  const QJsonObject full = runPage(dir.filePath("full.zip"), dir.filePath("full"));
  EXPECT_EQ(full["data"].toObject()["mode"].toString(), "fullpage");
  EXPECT_TRUE(full["shown"].toArray().contains("map"));
  EXPECT_FALSE(full["shown"].toArray().contains("cover"));
}

TEST_F(WebExporterTest, EveryIdeaGetsItsOwnPictureUnderAPlainUniqueFileName) {
  // Identifiers that are no file names, and two ideas sharing one identifier: each idea's
  // record must still lead to its own picture.
  IdeaPtr root = Idea::createWithText("root");
  const QList<std::pair<QString, QColor>> holders = {{"../x", Qt::red},   {"a/b", Qt::green}, {"same", Qt::blue},
                                                     {"same", Qt::yellow}, {"Same", Qt::cyan}, {".hidden", Qt::magenta}};
  for (const auto& [id, color] : holders) {
    IdeaPtr holder = Idea::createWithText("holder", id);
    holder->replaceWithOriginalImage(picture(color));
    root->addIdea(holder);
  }
  const auto names = WebExporter::pictureNamesFor(*root);
  QSet<QString> used;
  for (const QString& name : names) {
    EXPECT_FALSE(name.contains('/'));
    EXPECT_FALSE(name.startsWith('.'));
    used.insert(name.toLower());
  }
  EXPECT_EQ(used.size(), holders.size()) << "one file name per idea, whatever the case";
  EXPECT_EQ(names.value(root->ideas()[2].get()), "same") << "a plain identifier keeps its name";
  ASSERT_TRUE(exportAndWait(root, 1, dir.filePath("names.zip"))->isOK());
  const QJsonObject page = runPage(dir.filePath("names.zip"), dir.filePath("names"));
  const QJsonArray children = page["data"].toObject()["rootIdea"].toObject()["ideas"].toArray();
  ASSERT_EQ(children.size(), holders.size());
  for (qsizetype i = 0; i < children.size(); ++i) {
    const QString image = children[i].toObject()["image"].toString();
    const QImage written(dir.filePath("names/files/" + image));
    ASSERT_FALSE(written.isNull()) << image.toStdString();
    const QColor centre = written.pixelColor(written.width() / 2, written.height() / 2);
    const QColor expected = root->ideas()[size_t(i)]->image().cgImage().pixelColor(
        root->ideas()[size_t(i)]->image().cgImage().width() / 2, root->ideas()[size_t(i)]->image().cgImage().height() / 2);
    EXPECT_EQ(centre.rgb(), expected.rgb()) << "idea " << i << " shows another idea's picture (" << image.toStdString() << ")";
  }
  EXPECT_FALSE(QFile::exists(dir.filePath("x_mini.png")));
}

TEST_F(WebExporterTest, AnEditRightAfterTheCallIsNotExported) {
  IdeaPtr root = exporttest::fanMap("Original", 3);
  ASSERT_TRUE(exportAndWait(root, 2, dir.filePath("edit.zip"), [&] {
                root->setText("Edited");
                root->addIdea(Idea::createWithText("late child"));
              })->isOK());
  const QJsonObject record = runPage(dir.filePath("edit.zip"), dir.filePath("edit"))["data"].toObject()["rootIdea"].toObject();
  EXPECT_EQ(record["text"].toString(), "Original");
  EXPECT_EQ(record["ideas"].toArray().size(), 3);
}

TEST_F(WebExporterTest, AFailureMidwayKeepsTheOldFileAndLeavesNoStaging) {
  const QString destination = dir.filePath("keep.zip");
  {
    QFile old(destination);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("the old export");
  }
  // No templates: the page cannot be made.
  const QByteArray resources = qgetenv("ORRERY_RESOURCES_DIR");
  QTemporaryDir empty;
  qputenv("ORRERY_RESOURCES_DIR", empty.path().toUtf8());
  const MyResultPtr missing = exportAndWait(exporttest::fanMap("m", 2), 1, destination);
  qputenv("ORRERY_RESOURCES_DIR", resources);
  EXPECT_TRUE(missing->isError());
  EXPECT_TRUE(missing->description().contains("web_index")) << missing->description().toStdString();
  EXPECT_EQ(readFile(destination), "the old export");

  // A file-size limit hit while the archive is written: writes fail with EFBIG.
  IdeaPtr big = exporttest::fanMap("big", 30);
  for (const IdeaPtr& child : big->ideas()) child->replaceWithOriginalImage(picture(QColor(rand() % 255, 20, 30)));
  struct rlimit saved;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit limited = saved;
  limited.rlim_cur = 40 * 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
  const MyResultPtr tooBig = WebExporter::exportNow(big->snapshotCopy(), 2,
                                                    destination);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
  EXPECT_TRUE(tooBig->isError());
  EXPECT_EQ(readFile(destination), "the old export");
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"keep.zip"});
  EXPECT_TRUE(leftoverStaging().isEmpty());

  const MyResultPtr noMap = exportAndWait(nullptr, 1, destination);
  EXPECT_TRUE(noMap->isError());
  const MyResultPtr vanished = exportAndWait(exporttest::fanMap("v", 1), 1, dir.filePath("gone/x.zip"));
  EXPECT_TRUE(vanished->isError());
  EXPECT_TRUE(vanished->description().contains("gone/x.zip")) << vanished->description().toStdString();
}

}  // namespace
}  // namespace orrery
