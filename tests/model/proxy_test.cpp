#include "model/idea_proxy.h"

#include "model/color_theme.h"
#include "model/idea_document.h"
#include "model/index_keyed_archiver.h"
#include "model/index_keyed_unarchiver.h"
#include "model/index_portable_image.h"
#include "model/json_decoder.h"
#include "model/json_encoder.h"

#include "../foundation/log_capture.h"

#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>

#include "../foundation/qt_printers.h"

#include <gtest/gtest.h>

using namespace orrery;

namespace {

KitImage smallPicture(QRgb color) {
  QImage image(4, 4, QImage::Format_ARGB32);
  image.fill(color);
  return KitImage(image);
}

std::shared_ptr<IdeaDocument> documentWithRoot(const QString& identifier, const QString& text) {
  auto doc = IdeaDocument::createWithIdentifier(identifier);
  auto root = Idea::createWithText(text);
  root->addIdea(Idea::createWithText("child"));
  doc->setIdea(root);
  doc->setDateCreated(QDateTime::fromSecsSinceEpoch(1'600'000'000, Qt::UTC));
  doc->setDateModified(QDateTime::fromSecsSinceEpoch(1'600'000'600, Qt::UTC));
  return doc;
}

QJsonObject jsonOf(const IdeaProxy& proxy) {
  JSONEncoder encoder;
  encoder.encodeObject(proxy);
  return QJsonDocument::fromJson(encoder.data()).object().value("ideaProxy").toObject();
}

IdeaProxyPtr readJSON(const QJsonObject& body) {
  auto decoder = JSONDecoder::createWithData(QJsonDocument(QJsonObject{{"ideaProxy", body}}).toJson());
  return decoder ? decoder->decodeObjectOfClass<IdeaProxy>() : nullptr;
}

// A keyed archive holding one proxy under "proxy".
class OneProxy final : public KeyedCodable {
 public:
  explicit OneProxy(IdeaProxyPtr proxy) : mProxy(std::move(proxy)) {}
  QString className() const override { return "OneProxy"; }
  void encodeWithCoder(KeyedEncoder& coder) const override { coder.encodeObject(mProxy, "proxy"); }

 private:
  IdeaProxyPtr mProxy;
};

IdeaProxyPtr archiveRoundTrip(const IdeaProxyPtr& proxy) {
  KeyedArchiver archiver;
  archiver.encodeRootObject(OneProxy(proxy));
  auto unarchiver = KeyedUnarchiver::createWithData(
      archiver.encodedData(), {"IdeaProxy", "PortableImage", "IconImage"});
  return unarchiver ? unarchiver->decodeObjectOfClassForKey<IdeaProxy>("proxy") : nullptr;
}

}  // namespace

TEST(IdeaProxy, UpdateWithDocReportsOnlyComparedChanges) {
  auto doc = documentWithRoot("iCloud:/a.orrx", "Plans");
  doc->idea()->setColor(ColorTheme::colorByName("green1"));
  IdeaProxy proxy;
  EXPECT_TRUE(proxy.updateWithDoc(doc));
  EXPECT_EQ(proxy.docIdentifier(), "iCloud:/a.orrx");
  EXPECT_EQ(proxy.ideaIdentifier(), doc->idea()->identifier());
  EXPECT_EQ(proxy.itemCount(), 2);
  EXPECT_EQ(proxy.text(), "Plans");
  EXPECT_EQ(proxy.doc(), doc);
  EXPECT_FALSE(proxy.updateWithDoc(doc));

  // The picture is copied along with a real change but never compared on its own.
  doc->idea()->replaceWithOriginalImage(smallPicture(qRgb(255, 0, 0)));
  doc->idea()->setText("Plans");
  ASSERT_FALSE(doc->idea()->image().isNull());
  EXPECT_FALSE(proxy.updateWithDoc(doc));
  EXPECT_TRUE(proxy.image().isNull());

  doc->idea()->addIdea(Idea::createWithText("another"));
  EXPECT_TRUE(proxy.updateWithDoc(doc));
  EXPECT_EQ(proxy.itemCount(), 3);
  doc->setDateModified(doc->dateModified().addSecs(60));
  EXPECT_TRUE(proxy.updateWithDoc(doc));
  doc->idea()->setText("Other plans");
  EXPECT_TRUE(proxy.updateWithDoc(doc));
  EXPECT_EQ(proxy.text(), "Other plans");
}

TEST(IdeaProxy, CopySharesTheDocumentObjectAndKeepsTheFields) {
  IdeaProxy source;
  source.setDocIdentifier("dropbox:/b.orrx");
  source.setText("Trip");
  source.setItemCount(7);
  source.setHasNote(true);
  source.setIdeaType(IdeaTypeText);
  EXPECT_FALSE(source.hasDoc());
  EXPECT_TRUE(source.description().startsWith("<IdeaProxy (NO DOC) id=dropbox:/b.orrx desc=(Trip)"));

  auto copy = IdeaProxy::createWithProxy(source);
  ASSERT_TRUE(source.hasDoc());
  EXPECT_EQ(copy->doc(), source.doc());
  EXPECT_EQ(copy->doc()->docIdentifier(), "dropbox:/b.orrx");
  EXPECT_EQ(copy->text(), "Trip");
  EXPECT_EQ(copy->itemCount(), 7);
  EXPECT_TRUE(copy->hasNote());
  EXPECT_EQ(copy->location(), DocumentLocationDropbox);
  EXPECT_TRUE(copy->description().startsWith("<IdeaProxy id=dropbox:/b.orrx desc=(Trip)"));
}

TEST(IdeaProxy, StoresOnlyTheFileNameAndMovesBetweenLocations) {
  EXPECT_EQ(IdeaProxy::bareFileName("iCloud:/deep/folder/c.orrx"), "c.orrx");
  EXPECT_EQ(IdeaProxy::bareFileName("file:///home/me/d.orrx"), "d.orrx");
  EXPECT_EQ(IdeaProxy::bareFileName("e.orrx"), "e.orrx");

  IdeaProxy proxy;
  proxy.setDocIdentifier("iCloud:/deep/folder/c.orrx");
  EXPECT_EQ(jsonOf(proxy).value("filename").toString(), "c.orrx");
  proxy.changeLocation(DocumentLocationDropbox);
  EXPECT_EQ(proxy.docIdentifier(), "dropbox:/c.orrx");
}

TEST(IdeaProxy, StoredNamesMustBeDocumentNamesWithoutFolders) {
  EXPECT_TRUE(IdeaProxy::isAcceptableStoredFileName("id1600000000_3.orrx"));
  for (const char* hostile : {"../outside.orrx", "a/b.orrx", "..orrx", ".orrx", "notes.txt", "", "x..y.orrx"})
    EXPECT_FALSE(IdeaProxy::isAcceptableStoredFileName(QString::fromLatin1(hostile))) << hostile;
  EXPECT_FALSE(IdeaProxy::isAcceptableStoredFileName(QString("a") + QChar(0) + ".orrx"));

  QJsonObject body = jsonOf(IdeaProxy());
  body["filename"] = "../../.ssh/x.orrx";
  auto proxy = readJSON(body);
  ASSERT_TRUE(proxy);
  EXPECT_TRUE(proxy->docIdentifier().isEmpty());
}

TEST(IdeaProxy, PicturesTravelAsDataInJSONAndBoxedInTheArchive) {
  auto proxy = std::make_shared<IdeaProxy>();
  proxy->setDocIdentifier("iCloud:/p.orrx");
  proxy->setText("Picture");
  proxy->setIdeaType(IdeaTypeImage);
  proxy->setImage(smallPicture(qRgb(0, 0, 255)));
  proxy->setIconImage(std::make_shared<IconImage>("rocket", "travel", "🚀"));
  proxy->setColor(ColorTheme::colorByName("blue2"));
  proxy->setDateCreated(QDateTime::fromSecsSinceEpoch(1'500'000'000, Qt::UTC));
  proxy->setDateModified(QDateTime::fromSecsSinceEpoch(1'500'000'060, Qt::UTC));
  proxy->setItemCount(12);
  proxy->setHasWebLink(true);

  const QJsonObject json = jsonOf(*proxy);
  EXPECT_TRUE(json.contains("image"));
  EXPECT_FALSE(json.contains("image2"));
  auto fromJSON = readJSON(json);
  ASSERT_TRUE(fromJSON);

  auto fromArchive = archiveRoundTrip(proxy);
  ASSERT_TRUE(fromArchive);
  for (const auto& read : {fromJSON, fromArchive}) {
    EXPECT_EQ(read->docIdentifier(), "p.orrx");
    EXPECT_EQ(read->text(), "Picture");
    EXPECT_EQ(read->ideaType(), IdeaTypeImage);
    EXPECT_EQ(read->itemCount(), 12);
    EXPECT_TRUE(read->hasWebLink());
    EXPECT_FALSE(read->hasNote());
    EXPECT_EQ(read->color(), proxy->color());
    ASSERT_TRUE(read->iconImage());
    EXPECT_EQ(read->iconImage()->symbol(), "🚀");
    EXPECT_EQ(read->image().cgImage().pixel(1, 1), qRgb(0, 0, 255));
    EXPECT_EQ(read->dateCreated(), proxy->dateCreated());
  }
  // The archive keeps the dates to the millisecond; JSON keeps whole minutes.
  EXPECT_EQ(fromArchive->dateModified(), proxy->dateModified());
}

TEST(IdeaProxy, OldEntriesWithoutTypeGetOneFromTheirContent) {
  QJsonObject body = jsonOf(IdeaProxy());
  body["ideaType"] = 0;
  body["color"] = "green2";

  QJsonObject web = body;
  web["hasWebLink"] = true;
  EXPECT_EQ(readJSON(web)->ideaType(), IdeaTypeURL);

  QJsonObject picture = body;
  IdeaProxy withPicture;
  withPicture.setImage(smallPicture(qRgb(1, 2, 3)));
  picture["image"] = jsonOf(withPicture).value("image");
  EXPECT_EQ(readJSON(picture)->ideaType(), IdeaTypeImage);

  LogCapture log;
  EXPECT_EQ(readJSON(body)->ideaType(), IdeaTypeText);
  EXPECT_TRUE(log.lines().isEmpty());
  body.remove("color");
  EXPECT_EQ(readJSON(body)->ideaType(), IdeaTypeText);
  EXPECT_EQ(log.lines().size(), 1);
}

TEST(IdeaProxy, MissingDatesBecomeNow) {
  QJsonObject body = jsonOf(IdeaProxy());
  body.remove("dateCreated");
  body.remove("dateModified");
  const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-1);
  auto proxy = readJSON(body);
  EXPECT_GE(proxy->dateModified(), before);
  EXPECT_EQ(proxy->dateCreated(), proxy->dateModified());
}
