#include "document_test_support.h"

#include "model/idea_document.h"

#include "foundation/data_extensions.h"
#include "foundation/globals.h"
#include "foundation/logging.h"

#include "../foundation/log_capture.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace orrery;
using testsupport::spinUntil;

namespace {

QByteArray dataObjectJSON(const QString& members) {
  return QString(R"({"ideaDocumentDataObject":{%1}})").arg(members).toUtf8();
}

const char kIdeaMember[] = R"("idea":{"identifier":"id1_1","ideaType":1,"text":"Root"})";

QString text(const char* key, const char* defaultText) {
  return Globals::normalLocalizedStringForKey(key, defaultText);
}

}  // namespace

TEST(DocumentIdentifiers, PrefixesLocationsAndPaths) {
  EXPECT_EQ(IdeaDocument::docIdentifierFromPath("a.orrx", DocumentLocationTemp), "temp:/a.orrx");
  EXPECT_EQ(IdeaDocument::docIdentifierFromPath("a.orrx", DocumentLocationICloud), "iCloud:/a.orrx");
  EXPECT_EQ(IdeaDocument::docIdentifierFromPath("a.orrx", DocumentLocationDropbox), "dropbox:/a.orrx");
  EXPECT_EQ(IdeaDocument::locationFromIdentifier("temp:/a"), DocumentLocationTemp);
  EXPECT_EQ(IdeaDocument::locationFromIdentifier("ftp://a"), DocumentLocationTemp);
  EXPECT_TRUE(IdeaDocument::pathFromIdentifier("ftp://a").isNull());
  EXPECT_EQ(IdeaDocument::pathFromIdentifier("dropbox:/x/y.orrx"), "x/y.orrx");
  {
    LogCapture log;
    EXPECT_TRUE(IdeaDocument::docIdentifierFromPath("a", 7).isNull());
    ASSERT_EQ(log.lines().size(), 1);
    EXPECT_TRUE(log.lines()[0].contains("line: 540")) << log.lines()[0].toStdString();
  }
  const QRegularExpression name("^id\\d+_\\d+\\.orrx$");
  const QString first = IdeaDocument::createNewDocFileName();
  EXPECT_TRUE(name.match(first).hasMatch()) << first.toStdString();
  EXPECT_NE(first, IdeaDocument::createNewDocFileName());
  EXPECT_TRUE(IdeaDocument::fileNamingSchemeMatches(first));
  EXPECT_FALSE(IdeaDocument::fileNamingSchemeMatches("map.orrery"));
  const DocumentToken token = IdeaDocument::nextToken();
  EXPECT_GE(token, 1);
  EXPECT_EQ(IdeaDocument::nextToken(), token + 1);
}

TEST(DocumentIdentifiers, LocalFilesAreNamedByTheirCanonicalPath) {
  QTemporaryDir dir;
  ASSERT_TRUE(QDir(dir.path()).mkpath("Mes cartes/été"));
  const QString real = dir.path() + "/Mes cartes/été/plan de la maison.orrery";
  auto doc = IdeaDocument::createWithFileName(dir.path() + "/Mes cartes/./été/../été/plan de la maison.orrery",
                                              DocumentLocationLocalFile);
  EXPECT_EQ(doc->docIdentifier(), "file://" + QDir(dir.path()).canonicalPath() + "/Mes cartes/été/plan de la maison.orrery");
  auto same = IdeaDocument::createWithIdentifier("file://" + real);
  EXPECT_EQ(same->docIdentifier(), doc->docIdentifier());
  EXPECT_EQ(doc->localFileName(), "plan de la maison.orrery");
  EXPECT_EQ(doc->documentWindowName(), "plan de la maison.orrery");
  const QUrl url = QUrl::fromLocalFile(real);
  EXPECT_EQ(doc->representativeURL().toLocalFile(), QFileInfo(doc->filePath()).absoluteFilePath());
  EXPECT_TRUE(doc->refersToURL(url));
  EXPECT_TRUE(doc->refersToURL(QUrl(url.toString(QUrl::FullyEncoded))));
  EXPECT_FALSE(doc->refersToURL(QUrl::fromLocalFile(dir.path() + "/other.orrery")));

  auto temp = IdeaDocument::createWithFileName(QString(), DocumentLocationTemp);
  EXPECT_TRUE(temp->docIdentifier().startsWith("temp:/id"));
  EXPECT_TRUE(temp->isTempFile());
  EXPECT_EQ(temp->documentWindowName(), "untitled.orrery");
  EXPECT_TRUE(temp->localFileName().isNull());
}

TEST(DocumentFormat, WritesTheWrappedDataObjectAndReadsItBack) {
  auto doc = IdeaDocument::createWithFileName("a.orrx", DocumentLocationTemp);
  doc->setIdea(testsupport::makeTree(40, 1));
  const QDateTime created = QDateTime::fromString("2016-05-03T14:07:59Z", Qt::ISODate);
  doc->setDateCreated(created);
  doc->setDateModified(created.addDays(3));
  const QByteArray json = doc->exportAsPureJSONData();
  const QJsonObject wrapper = QJsonDocument::fromJson(json).object();
  ASSERT_EQ(wrapper.keys(), QStringList{"ideaDocumentDataObject"});
  const QJsonObject body = wrapper["ideaDocumentDataObject"].toObject();
  EXPECT_EQ(body["fileFormatVersion"].toInt(), 3);
  EXPECT_EQ(body["appInstance"].toString(), Globals::appInstance());
  EXPECT_EQ(body["dateCreated"].toString(), "2016-05-03 14:07:00 GMT");

  const QByteArray compressed = doc->exportAsOrreryData();
  EXPECT_EQ(dataext::zlibInflate(compressed).value_or(QByteArray()), json);
  auto back = IdeaDocument::createWithFileName("b.orrx", DocumentLocationTemp);
  ASSERT_TRUE(back->loadFromOrreryData(compressed));
  EXPECT_EQ(testsupport::treeSignature(back->idea()), testsupport::treeSignature(doc->idea()));
  EXPECT_EQ(back->dateCreated(), QDateTime::fromString("2016-05-03T14:07:00Z", Qt::ISODate));
  EXPECT_EQ(back->appInstance(), Globals::appInstance());
}

TEST(DocumentFormat, UndatedDocumentGetsAModificationDateButNoCreationDate) {
  auto doc = IdeaDocument::createWithFileName("a.orrx", DocumentLocationTemp);
  doc->setIdea(Idea::createWithText("x"));
  const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-60);
  auto back = IdeaDocument::createWithFileName("b.orrx", DocumentLocationTemp);
  ASSERT_TRUE(back->loadFromJSONData(doc->exportAsPureJSONData()));
  EXPECT_FALSE(QJsonDocument::fromJson(doc->exportAsPureJSONData())["ideaDocumentDataObject"].toObject().contains("dateCreated"));
  EXPECT_FALSE(back->dateCreated().isValid());
  EXPECT_GE(back->dateModified(), before);
}

TEST(DocumentFormat, VersionsAndBrokenFilesFailWithTheirCodes) {
  struct Case {
    const char* label;
    QByteArray json;
    int code;
    const char* key;
    const char* text;
  };
  const char* invalid = "InvalidDocumentFormat:Message";
  const Case cases[] = {
      {"version 0", dataObjectJSON(QString(R"("fileFormatVersion":0,%1)").arg(kIdeaMember)), 100, invalid, "Invalid document format"},
      {"no version", dataObjectJSON(kIdeaMember), 100, invalid, "Invalid document format"},
      {"version 4", dataObjectJSON(QString(R"("fileFormatVersion":4,%1)").arg(kIdeaMember)), 150,
       "CannotOpenFuturisticDocument:Message", "Newer Orrery version is needed"},
      {"no wrapper", QString(R"({"fileFormatVersion":3,%1})").arg(kIdeaMember).toUtf8(), 100, invalid, "Invalid document format"},
      {"no idea", dataObjectJSON(R"("fileFormatVersion":3)"), 100, invalid, "Invalid document format"},
      {"not JSON", "{\"ideaDocumentDataObject\": [", 100, invalid, "Invalid document format"},
  };
  for (const Case& c : cases) {
    auto doc = IdeaDocument::createWithFileName("a.orrx", DocumentLocationTemp);
    DocumentError error;
    EXPECT_FALSE(doc->loadFromOrreryData(*dataext::zlibDeflate(c.json), &error)) << c.label;
    EXPECT_EQ(error.domain, "document") << c.label;
    EXPECT_EQ(error.code, c.code) << c.label;
    EXPECT_EQ(doc->lastUserFriendlyError(), text(c.key, c.text)) << c.label;
    EXPECT_FALSE(doc->idea()) << c.label;
  }
  for (int version : {1, 2, 3}) {
    auto doc = IdeaDocument::createWithFileName("a.orrx", DocumentLocationTemp);
    EXPECT_TRUE(doc->loadFromJSONData(dataObjectJSON(QString(R"("fileFormatVersion":%1,%2)").arg(version).arg(kIdeaMember))));
    ASSERT_TRUE(doc->idea());
    EXPECT_EQ(doc->idea()->text(), "Root");
    EXPECT_TRUE(doc->appInstance().isEmpty()) << "older files carry no mark";
  }
  auto doc = IdeaDocument::createWithFileName("a.orrx", DocumentLocationTemp);
  EXPECT_FALSE(doc->loadFromOrreryData("plainly not a zlib stream"));
  EXPECT_EQ(doc->lastUserFriendlyError(), text("InvalidOrreryDocument:Message", "Invalid document format"));
  // A later success clears the text of the failure.
  EXPECT_TRUE(doc->loadFromOrreryData(*dataext::zlibDeflate(dataObjectJSON(QString(R"("fileFormatVersion":3,%1)").arg(kIdeaMember)))));
  EXPECT_TRUE(doc->lastUserFriendlyError().isEmpty());
}

TEST(DocumentFormat, PlainJSONIsReadOnlyForICloudOrrxFiles) {
  testsupport::QtMainQueueScope mainQueue;
  QTemporaryDir dir;
  const QByteArray json = dataObjectJSON(QString(R"("fileFormatVersion":3,%1)").arg(kIdeaMember));
  ASSERT_TRUE(testsupport::writeAll(dir.filePath("id5_5.ORRX"), json));
  ASSERT_TRUE(testsupport::writeAll(dir.filePath("map.orrery"), json));
  auto cloud = IdeaDocument::createWithIdentifier("iCloud:/id5_5.ORRX");
  auto local = IdeaDocument::createWithIdentifier("file://" + dir.filePath("map.orrery"));
  int done = 0;
  bool cloudRead = false, localRead = true;
  cloud->readFromURL(QUrl::fromLocalFile(dir.filePath("id5_5.ORRX")), [&](bool ok) { cloudRead = ok, done++; });
  local->readFromURL(QUrl::fromLocalFile(dir.filePath("map.orrery")), [&](bool ok) { localRead = ok, done++; });
  ASSERT_TRUE(spinUntil([&] { return done == 2; }));
  EXPECT_TRUE(cloudRead);
  ASSERT_TRUE(cloud->idea());
  EXPECT_EQ(cloud->idea()->text(), "Root");
  EXPECT_FALSE(localRead);
  EXPECT_EQ(local->lastUserFriendlyError(), text("InvalidOrreryDocument:Message", "Invalid document format"));

  // A missing file fails before any reader runs: no text is recorded.
  auto missing = IdeaDocument::createWithIdentifier("file://" + dir.filePath("gone.orrery"));
  bool missingRead = true;
  missing->readFromURL(QUrl::fromLocalFile(dir.filePath("gone.orrery")), [&](bool ok) { missingRead = ok, done++; });
  ASSERT_TRUE(spinUntil([&] { return done == 3; }));
  EXPECT_FALSE(missingRead);
  EXPECT_TRUE(missing->lastUserFriendlyError().isEmpty());
}

TEST(DocumentFormat, OPMLImportSetsBothDatesToOneInstant) {
  auto doc = IdeaDocument::createWithFileName("a.orrx", DocumentLocationTemp);
  ASSERT_TRUE(doc->loadFromOPMLData("<opml><body><outline text=\"A\"/></body></opml>"));
  EXPECT_TRUE(doc->dateCreated().isValid());
  EXPECT_EQ(doc->dateCreated(), doc->dateModified());
  EXPECT_EQ(doc->idea()->text(), "A");
  DocumentError error;
  EXPECT_FALSE(doc->loadFromOPMLData("<opml><body><outline text=\"A\">", &error));
  EXPECT_EQ(error.code, 100);
  EXPECT_EQ(doc->lastUserFriendlyError(), text("InvalidOPMLDocument:Message", "Failed to read this OPML document"));
  EXPECT_EQ(doc->idea()->text(), "A") << "a failed import leaves the document as it was";
}
