#include "document_test_support.h"

#include "model/idea_document.h"
#include "model/persistence_controller.h"

#include "foundation/data_extensions.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace orrery;
using testsupport::spinUntil;

namespace {

class DocumentTokens : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir.isValid()); }

  DocumentToken create(const std::shared_ptr<IdeaDocument>& doc, const QUrl& url) {
    DocumentToken result = -1;
    doc->createAtURL(url, [&](DocumentToken t) { result = t; });
    EXPECT_TRUE(spinUntil([&] { return result >= 0; }));
    return result;
  }
  DocumentToken open(const std::shared_ptr<IdeaDocument>& doc, const QUrl& url) {
    DocumentToken result = -1;
    doc->openFromURL(url, [&](DocumentToken t) { result = t; });
    EXPECT_TRUE(spinUntil([&] { return result >= 0; }));
    return result;
  }
  bool update(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token) {
    int result = -1;
    doc->updateWithToken(token, [&](bool ok) { result = ok; });
    EXPECT_TRUE(spinUntil([&] { return result >= 0; }));
    return result == 1;
  }
  bool close(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token) {
    int result = -1;
    doc->closeWithToken(token, [&](bool ok) { result = ok; });
    EXPECT_TRUE(spinUntil([&] { return result >= 0; }));
    return result == 1;
  }

  testsupport::QtMainQueueScope mainQueue;
  QTemporaryDir dir;
};

}  // namespace

TEST_F(DocumentTokens, OpenersGetTheirOwnTokensAndTheLastCloseEndsPresenting) {
  const QString path = dir.filePath("shared map.orrery");
  auto writer = IdeaDocument::createWithFileName(path, DocumentLocationLocalFile);
  writer->setIdea(testsupport::makeTree(20));
  const DocumentToken created = create(writer, QUrl::fromLocalFile(path));
  ASSERT_GE(created, 1);
  ASSERT_TRUE(close(writer, created));
  EXPECT_FALSE(writer->isOpen());

  auto doc = IdeaDocument::createWithIdentifier(writer->docIdentifier());
  const DocumentToken first = open(doc, QUrl::fromLocalFile(path));
  ASSERT_GT(first, created);
  // A second open answers at once from memory: the file is not read again.
  ASSERT_TRUE(QFile::remove(path));
  DocumentToken second = -1;
  doc->openFromURL(QUrl::fromLocalFile(path), [&](DocumentToken t) { second = t; });
  EXPECT_EQ(second, first + 1);

  EXPECT_FALSE(close(doc, 7000000)) << "never handed out";
  EXPECT_EQ(doc->tokenCount(), 2u);
  ASSERT_TRUE(close(doc, second));
  EXPECT_TRUE(doc->isOpen());
  EXPECT_FALSE(close(doc, second)) << "already returned";
  ASSERT_TRUE(update(doc, first));
  EXPECT_TRUE(QFile::exists(path));
  ASSERT_TRUE(close(doc, first));
  EXPECT_FALSE(doc->isOpen());

  // Saving with a returned token writes nothing.
  ASSERT_TRUE(QFile::remove(path));
  EXPECT_FALSE(update(doc, first));
  EXPECT_FALSE(QFile::exists(path));
}

TEST_F(DocumentTokens, FailedOpenOrCreateLeavesTheDocumentClosed) {
  auto doc = IdeaDocument::createWithFileName(dir.filePath("missing/folder/map.orrery"), DocumentLocationLocalFile);
  doc->setIdea(Idea::createWithText("x"));
  EXPECT_EQ(create(doc, QUrl::fromLocalFile(doc->filePath())), 0);
  EXPECT_FALSE(doc->isOpen());
  // Were the failed create's presenter kept, this open would hand out a token for a
  // document that has no file.
  EXPECT_EQ(open(doc, QUrl::fromLocalFile(doc->filePath())), 0);
  EXPECT_FALSE(doc->isOpen());

  auto open1 = IdeaDocument::createWithFileName(dir.filePath("one.orrery"), DocumentLocationLocalFile);
  open1->setIdea(Idea::createWithText("one"));
  const DocumentToken token = create(open1, QUrl::fromLocalFile(open1->filePath()));
  ASSERT_GE(token, 1);
  EXPECT_EQ(create(open1, QUrl::fromLocalFile(open1->filePath())), 0) << "already open";
  EXPECT_EQ(open1->tokenCount(), 1u);
}

TEST_F(DocumentTokens, NewDocumentMovesOnWhenAnotherInstanceTookItsName) {
  auto doc = IdeaDocument::createWithFileName(QString(), DocumentLocationTemp);
  doc->setIdea(Idea::createWithText("mine"));
  const QString taken = dir.filePath(doc->filePath());
  ASSERT_TRUE(testsupport::writeAll(taken, "another instance's document"));
  const QString before = doc->docIdentifier();
  const DocumentToken token = create(doc, QUrl::fromLocalFile(taken));
  ASSERT_GE(token, 1);
  EXPECT_NE(doc->docIdentifier(), before);
  EXPECT_TRUE(doc->docIdentifier().startsWith("temp:/id"));
  EXPECT_EQ(testsupport::readAll(taken), "another instance's document");
  auto back = IdeaDocument::createWithIdentifier(doc->docIdentifier());
  EXPECT_GE(open(back, QUrl::fromLocalFile(dir.filePath(doc->filePath()))), 1);
  EXPECT_EQ(back->idea()->text(), "mine");

  // A name the user chose is replaced, as a save panel that asked about it expects.
  auto chosen = IdeaDocument::createWithFileName(dir.filePath("chosen.orrery"), DocumentLocationLocalFile);
  chosen->setIdea(Idea::createWithText("chosen"));
  ASSERT_TRUE(testsupport::writeAll(chosen->filePath(), "old"));
  EXPECT_GE(create(chosen, QUrl::fromLocalFile(chosen->filePath())), 1);
  EXPECT_NE(testsupport::readAll(chosen->filePath()), "old");
}

TEST_F(DocumentTokens, ICloudDocumentsAreWrittenAsPlainJSONAndOPMLFilesNeverOverwritten) {
  auto cloud = IdeaDocument::createWithFileName("id1_1.orrx", DocumentLocationICloud);
  cloud->setIdea(Idea::createWithText("cloud"));
  const QString cloudPath = dir.filePath("id1_1.orrx");
  ASSERT_GE(create(cloud, QUrl::fromLocalFile(cloudPath)), 1);
  EXPECT_TRUE(testsupport::readAll(cloudPath).startsWith("{\"ideaDocumentDataObject\""));

  const QString opmlPath = dir.filePath("outline.opml");
  const QByteArray outline = "<opml><body><outline text=\"Imported\"/></body></opml>";
  ASSERT_TRUE(testsupport::writeAll(opmlPath, outline));
  auto imported = IdeaDocument::createWithFileName(opmlPath, DocumentLocationLocalFile);
  const DocumentToken token = open(imported, QUrl::fromLocalFile(opmlPath));
  ASSERT_GE(token, 1);
  EXPECT_EQ(imported->idea()->text(), "Imported");
  EXPECT_FALSE(update(imported, token));
  EXPECT_EQ(testsupport::readAll(opmlPath), outline);
}

TEST_F(DocumentTokens, FilesTooLargeToBeADocumentAreRefusedUnread) {
  // A sparse file far larger than memory: reading it whole would end the process.
  const QString path = dir.filePath("huge.orrery");
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  if (!file.resize(qint64(1) << 40) && !file.resize((qint64(1) << 30) + 1)) GTEST_SKIP() << "no sparse files here";
  file.close();
  auto doc = IdeaDocument::createWithIdentifier(IdeaDocument::docIdentifierFromPath(path, DocumentLocationLocalFile));
  EXPECT_EQ(open(doc, QUrl::fromLocalFile(path)), 0);
  EXPECT_FALSE(doc->isOpen());
  EXPECT_FALSE(doc->idea());
}

TEST_F(DocumentTokens, ADocumentWithoutATreeIsNeverWritten) {
  // Such a file could not be read back: writing it would report success for a lost map.
  const QString path = dir.filePath("empty.orrery");
  auto doc = IdeaDocument::createWithFileName(path, DocumentLocationLocalFile);
  EXPECT_EQ(create(doc, QUrl::fromLocalFile(path)), 0);
  EXPECT_FALSE(QFile::exists(path));

  doc->setIdea(Idea::createWithText("kept"));
  const DocumentToken token = create(doc, QUrl::fromLocalFile(path));
  ASSERT_GE(token, 1);
  doc->setIdea(nullptr);
  EXPECT_FALSE(update(doc, token));
  int written = -1;
  doc->writeToLocalFileAt(QUrl::fromLocalFile(path), [&](bool ok) { written = ok; });
  ASSERT_TRUE(spinUntil([&] { return written >= 0; }));
  EXPECT_EQ(written, 0);
  auto back = IdeaDocument::createWithIdentifier(doc->docIdentifier());
  bool read = false;
  back->readFromURL(QUrl::fromLocalFile(path), [&](bool ok) { read = ok; });
  ASSERT_TRUE(spinUntil([&] { return read; }));
  EXPECT_EQ(back->idea()->text(), "kept");
}

TEST_F(DocumentTokens, AReadThatFailsForWantOfAFileCarriesNoEarlierReason) {
  const QString path = dir.filePath("future.orrery");
  const QByteArray future = R"({"ideaDocumentDataObject":{"fileFormatVersion":4,"idea":{"identifier":"a","ideaType":1}}})";
  ASSERT_TRUE(testsupport::writeAll(path, *dataext::zlibDeflate(future)));
  auto doc = IdeaDocument::createWithIdentifier(IdeaDocument::docIdentifierFromPath(path, DocumentLocationLocalFile));
  EXPECT_EQ(open(doc, QUrl::fromLocalFile(path)), 0);
  EXPECT_FALSE(doc->lastUserFriendlyError().isEmpty());
  // The caller shows its generic text for a missing file, not the last file's reason.
  ASSERT_TRUE(QFile::remove(path));
  EXPECT_EQ(open(doc, QUrl::fromLocalFile(path)), 0);
  EXPECT_TRUE(doc->lastUserFriendlyError().isEmpty());
  ASSERT_TRUE(testsupport::writeAll(path, *dataext::zlibDeflate(future)));
  int read = -1;
  doc->readFromURL(QUrl::fromLocalFile(path), [&](bool ok) { read = ok; });
  ASSERT_TRUE(spinUntil([&] { return read >= 0; }));
  EXPECT_FALSE(doc->lastUserFriendlyError().isEmpty());
  ASSERT_TRUE(QFile::remove(path));
  read = -1;
  doc->readFromURL(QUrl::fromLocalFile(path), [&](bool ok) { read = ok; });
  ASSERT_TRUE(spinUntil([&] { return read >= 0; }));
  EXPECT_EQ(read, 0);
  EXPECT_TRUE(doc->lastUserFriendlyError().isEmpty());
}
