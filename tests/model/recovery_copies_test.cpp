// Copies of edits a quit could not save: only what opens as a document is kept (the start's
// offer, which passes over empty and broken files, is tested with the quit in tests/app).

#include "document_test_support.h"

#include "model/recovery_copies.h"
#include "platform/services/standard_folders.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace orrery;

namespace {

class RecoveryCopies : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::setStandardFolderOverride(platform::StandardFolder::ApplicationSupport, mData.path());
  }
  void TearDown() override {
    platform::setStandardFolderOverride(platform::StandardFolder::ApplicationSupport, QString());
  }

  QTemporaryDir mData;
};

TEST_F(RecoveryCopies, OnlyACopyThatOpensIsWritten) {
  auto doc = IdeaDocument::createWithFileName(QStringLiteral("kept.orrx"), DocumentLocationDropbox);
  doc->setIdea(testsupport::makeTree(20));
  const QByteArray file = doc->exportAsOrreryData();
  // What a refused encoding, or a stream cut short, would hand over is not written.
  for (const QByteArray& bytes : {QByteArray(), QByteArray("not a document"), file.left(file.size() / 2)}) {
    QString reason;
    EXPECT_TRUE(keepRecoveryCopy(QStringLiteral("/maps/kept.orrery"), bytes, &reason).isEmpty()) << bytes.size();
    EXPECT_FALSE(reason.isEmpty()) << "the caller logs why";
  }
  EXPECT_TRUE(QDir(recoveryFolder()).isEmpty());

  const QString kept = keepRecoveryCopy(QStringLiteral("/maps/kept.orrery"), file);
  ASSERT_FALSE(kept.isEmpty());
  EXPECT_EQ(testsupport::readAll(kept), file);
}

}  // namespace
