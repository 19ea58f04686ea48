#include "app/local_document_import.h"

#include "foundation/views/base_view_controller.h"
#include "model/idea.h"
#include "model/idea_document.h"
#include "model/persistence_controller.h"
#include "ui_test_env.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace orrery;

namespace {

class Controller : public BaseViewController {};

// Writes a one-idea local document through the facade and returns its path.
QString writeLocalDocument(const QTemporaryDir& dir, const QString& text) {
  const QString path = QDir(dir.path()).filePath("map.orrery");
  auto doc = IdeaDocument::createWithFileName(path, DocumentLocationLocalFile);
  doc->setIdea(Idea::createWithText(text));
  DocumentToken token = -1;
  PersistenceController::singleton().createDocument(doc, [&](DocumentToken t) { token = t; });
  EXPECT_TRUE(uitest::loop().runUntil([&] { return token >= 0; }));
  EXPECT_GT(token, 0);
  bool released = false;
  PersistenceController::singleton().releaseDocument(doc, token, [&](bool) { released = true; });
  EXPECT_TRUE(uitest::loop().runUntil([&] { return released; }));
  return path;
}

}  // namespace

TEST(LocalDocumentImport, ChosenFileArrivesAsADocumentAndAMissingOneAsTheErrorAlert) {
  installLocalDocumentImport();
  QTemporaryDir dir;
  const QString path = writeLocalDocument(dir, "Planets");
  uitest::PresenterScope presenter;
  Controller controller;

  std::shared_ptr<IdeaDocument> got;
  bool done = false;
  presenter->panelAnswers = {platform::FilePanelResult{platform::kModalResponseOK, {path}}};
  controller.startImportingLocalFileOnCompletion([&](std::shared_ptr<IdeaDocument> d) {
    got = std::move(d);
    done = true;
  });
  ASSERT_TRUE(uitest::loop().runUntil([&] { return done; }));
  ASSERT_TRUE(got);
  ASSERT_TRUE(got->idea());
  EXPECT_EQ(got->idea()->text(), "Planets");
  EXPECT_EQ(got->location(), DocumentLocationLocalFile);
  EXPECT_TRUE(presenter->alerts.empty());

  done = false;
  presenter->panelAnswers = {
      platform::FilePanelResult{platform::kModalResponseOK, {QDir(dir.path()).filePath("missing.orrery")}}};
  presenter->alertAnswers = {1000};
  controller.startImportingLocalFileOnCompletion([&](std::shared_ptr<IdeaDocument> d) {
    got = std::move(d);
    done = true;
  });
  ASSERT_TRUE(uitest::loop().runUntil([&] { return done; }));
  EXPECT_FALSE(got);
  ASSERT_EQ(presenter->alerts.size(), 1u);
  EXPECT_EQ(presenter->alerts[0].informativeText, "Failed to open file “missing.orrery”: There is no such file");
  BaseViewController::setLocalDocumentFetcher(nullptr);
}
