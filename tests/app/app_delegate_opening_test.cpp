#include "app_test_support.h"

#include "app/local_document_import.h"
#include "foundation/data_extensions.h"
#include "foundation/logging.h"
#include "model/color_theme.h"
#include "model/queued_file_work.h"

#include <QFile>
#include <QDir>
#include <QFileInfo>

#include <algorithm>

using namespace orrery;
using apptest::AppFixture;

namespace {
const DocumentPlaceholderController* documentScreen(const MainWindowController& c) {
  return dynamic_cast<const DocumentPlaceholderController*>(c.myWindow().controller().get());
}
}  // namespace

using Opening = AppFixture;

TEST_F(Opening, TheSameFileTwiceEvenThroughALinkBringsTheFirstWindowForward) {
  auto& app = launch();
  const QString path = writeDocument("map.orrery", "Planets");
  const QString link = QDir(mFiles.path()).filePath("link.orrery");
  ASSERT_TRUE(QFile::link(path, link));
  std::vector<MyResultPtr> results;
  app.doOpenLocalFile(path, [&](const MyResultPtr& r) { results.push_back(r); });
  uitest::loop().runUntil([&] { return results.size() == 1; });
  settle(2);
  ASSERT_EQ(app.windowControllers().size(), 2u);
  EXPECT_TRUE(app.isFileCurrentlyOpen(QUrl::fromLocalFile(link)));
  app.doOpenLocalFile(link, [&](const MyResultPtr& r) { results.push_back(r); });
  app.doOpenLocalFile(QDir(mFiles.path()).filePath("./sub/../map.orrery"), [&](const MyResultPtr& r) { results.push_back(r); });
  uitest::advance(0);
  ASSERT_EQ(results.size(), 3u);
  for (const auto& r : results) EXPECT_EQ(r, MyResult::OK());
  EXPECT_EQ(app.windowControllers().size(), 2u) << "no second window for the same file";
  EXPECT_EQ(defaults().stringArrayForKey("RecentLocalFiles"), QStringList{QFileInfo(path).canonicalFilePath()});
}

TEST_F(Opening, AnUpperCaseOPMLFileBecomesANewScratchDocumentUnconnectedToTheFile) {
  auto& app = launch();
  const QString path = QDir(mFiles.path()).filePath("Outline.OPML");
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("<?xml version=\"1.0\"?><opml version=\"1.0\"><head><title>Sky</title></head><body>"
             "<outline text=\"Sun\"><outline text=\"Earth\"/></outline></body></opml>");
  file.close();
  EXPECT_TRUE(app.openFile(path));
  settle(2);
  ASSERT_EQ(app.windowControllers().size(), 2u);
  const auto* screen = documentScreen(*app.windowControllers().back());
  ASSERT_NE(screen, nullptr);
  EXPECT_TRUE(screen->document()->isTempFile());
  ASSERT_NE(screen->document()->idea(), nullptr);
  EXPECT_EQ(screen->document()->idea()->text(), QStringLiteral("Sky")) << "the outline's title is the central idea";
  EXPECT_FALSE(app.isFileCurrentlyOpen(QUrl::fromLocalFile(path)));
  EXPECT_TRUE(defaults().stringArrayForKey("RecentLocalFiles").isEmpty());
}

TEST_F(Opening, AnUnreadableFileShowsTheAlertLogsWhichAndWhyAndChangesNothing) {
  auto& app = launch();
  QStringList logged;
  const LogSink previousSink = setLogSink([&](const QString& line) { logged.append(line); });
  for (const QString& name : {QStringLiteral("missing.orrery"), QStringLiteral("garbage.orrery"),
                              QStringLiteral("garbage.opml")}) {
    const QString path = QDir(mFiles.path()).filePath(name);
    if (name.startsWith("garbage")) {
      QFile file(path);
      ASSERT_TRUE(file.open(QIODevice::WriteOnly));
      file.write("\x00\x01 not a document <<<", 20);
    }
    presenter->alerts.clear();
    app.openFile(path);
    uitest::loop().runUntil([&] { return !presenter->alerts.empty(); });
    ASSERT_EQ(presenter->alerts.size(), 1u) << name.toStdString();
    EXPECT_TRUE(presenter->alerts[0].informativeText.contains("Failed to open file"));
    const auto line = std::find_if(logged.begin(), logged.end(), [&](const QString& l) { return l.contains(path); });
    ASSERT_NE(line, logged.end()) << "the log names " << name.toStdString();
    EXPECT_TRUE(name.startsWith("missing") ? line->contains("no such file") : !line->endsWith(": ")) << line->toStdString();
  }
  setLogSink(previousSink);
  EXPECT_EQ(app.windowControllers().size(), 1u);
  EXPECT_TRUE(defaults().stringArrayForKey("RecentLocalFiles").isEmpty());
}

TEST_F(Opening, ARefusedFileNamesItselfAndTheReaderReasonOnEveryWayIn) {
  installLocalDocumentImport();
  auto& app = launch();
  auto write = [&](const QString& name, const QByteArray& json) {
    const QString path = QDir(mFiles.path()).filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    const bool outline = name.endsWith(".opml");
    file.write(json.isEmpty() ? QByteArray("\x78\x9c damaged", 10) : outline ? json : *dataext::zlibDeflate(json));
    return path;
  };
  const std::pair<QString, QString> refused[] = {
      {write("large.orrery", R"({"ideaDocumentDataObject":{"fileFormatVersion":3,"idea":{"text":")" +
                                 QByteArray(DocumentLimits::kMaxTextLength + 1, 'x') + R"("}}})"),
       "The document is too large to open"},
      {write("future.orrery", R"({"ideaDocumentDataObject":{"fileFormatVersion":4,"idea":{"text":"x"}}})"),
       "Newer Orrery version is needed"},
      {write("damaged.orrery", {}), "Invalid document format"},
      // An outline that would make a map the program could not write and open again.
      {write("large.opml", R"(<opml><body><outline text="Log" _note=")" +
                               QByteArray(DocumentLimits::kMaxTextLength + 1, 'x') + R"("/></body></opml>)"),
       "The document is too large to open: a text of 1000001 characters"},
  };
  auto expectNamed = [&](const QString& path, const QString& reason, const char* way) {
    ASSERT_TRUE(uitest::loop().runUntil([&] { return !presenter->alerts.empty(); })) << way;
    const QString text = presenter->alerts.back().informativeText;
    EXPECT_TRUE(text.contains("Failed to open file")) << way << ": " << text.toStdString();
    EXPECT_TRUE(text.contains(QFileInfo(path).fileName())) << way << ": " << text.toStdString();
    EXPECT_TRUE(text.contains(reason)) << way << ": " << text.toStdString();
    presenter->alerts.clear();
  };
  struct Importer : BaseViewController {} importer;
  for (const auto& [path, reason] : refused) {
    app.openFile(path);  // the command line and a second launch's hand-off
    expectNamed(path, reason, "command line");
    presenter->panelAnswers = {platform::FilePanelResult{platform::kModalResponseOK, {path}}};
    ASSERT_TRUE(app.tryToPerform(QStringLiteral("cmdOpenLocalFile")));
    expectNamed(path, reason, "open menu");
    presenter->panelAnswers = {platform::FilePanelResult{platform::kModalResponseOK, {path}}};
    importer.startImportingLocalFileOnCompletion(nullptr);
    expectNamed(path, reason, "import");
  }
  BaseViewController::setLocalDocumentFetcher(nullptr);
  EXPECT_EQ(app.windowControllers().size(), 1u);
}

// A read the quit dropped is no unreadable map: every way in shows nothing and opens nothing,
// and the file opens as before once reads run again.
TEST_F(Opening, AnOpenTheQuitDroppedShowsNoAlertAndTheFileStillOpensAfterwards) {
  installLocalDocumentImport();
  auto& app = launch();
  const QString path = writeDocument("map.orrery", "Planets");
  const QString outline = QDir(mFiles.path()).filePath("outline.opml");
  {
    QFile file(outline);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"(<?xml version="1.0"?><opml version="2.0"><body><outline text="Moons"/></body></opml>)");
  }
  struct ReopenAtEnd {
    ~ReopenAtEnd() { QueuedFileWork::reopen(); }
  } reopenAtEnd;
  ASSERT_TRUE(QueuedFileWork::finishForQuit());
  app.openFile(outline);
  MyResultPtr result;
  app.doOpenLocalFile(path, [&](const MyResultPtr& r) { result = r; });
  // On the same work queue as the outline's read, so that one has reported by now.
  ASSERT_TRUE(uitest::loop().runUntil([&] { return result != nullptr; }));
  EXPECT_EQ(result, MyResult::USER_CANCEL()) << result->description().toStdString();
  bool imported = false;
  struct Importer : BaseViewController {} importer;
  presenter->panelAnswers = {platform::FilePanelResult{platform::kModalResponseOK, {path}}};
  importer.startImportingLocalFileOnCompletion([&](std::shared_ptr<IdeaDocument> doc) {
    EXPECT_FALSE(doc);
    imported = true;
  });
  ASSERT_TRUE(uitest::loop().runUntil([&] { return imported; }));
  EXPECT_TRUE(presenter->alerts.empty()) << presenter->alerts.front().informativeText.toStdString();
  EXPECT_EQ(app.windowControllers().size(), 1u);

  QueuedFileWork::reopen();
  result = nullptr;
  app.doOpenLocalFile(path, [&](const MyResultPtr& r) { result = r; });
  ASSERT_TRUE(uitest::loop().runUntil([&] { return result != nullptr; }));
  EXPECT_EQ(result, MyResult::OK());
  BaseViewController::setLocalDocumentFetcher(nullptr);
}

TEST_F(Opening, TheEleventhRecentFilePushesTheOldestOutAndARepeatMovesToTheFront) {
  auto& app = launch();
  QStringList paths;
  for (int i = 0; i < 11; ++i) {
    paths.append(QDir(mFiles.path()).filePath(QStringLiteral("f%1.orrery").arg(i)));
    app.addNewRecentDocumentURL(QUrl::fromLocalFile(paths.back()));
  }
  QStringList recent = defaults().stringArrayForKey("RecentLocalFiles");
  ASSERT_EQ(recent.size(), 10);
  EXPECT_EQ(recent.front(), paths[10]);
  EXPECT_FALSE(recent.contains(paths[0]));
  app.addNewRecentDocumentURL(QUrl::fromLocalFile(paths[5]));
  recent = defaults().stringArrayForKey("RecentLocalFiles");
  EXPECT_EQ(recent.size(), 10);
  EXPECT_EQ(recent.front(), paths[5]);
  EXPECT_EQ(recent.count(paths[5]), 1);
  app.addNewRecentDocumentURL(QUrl(QStringLiteral("https://example.org/x.orrery")));
  EXPECT_EQ(defaults().stringArrayForKey("RecentLocalFiles"), recent) << "no path, nothing recorded";
}

TEST_F(Opening, AKnownDocumentOpensAgainInANewWindowAndAnUnknownOneDoesNothing) {
  auto& app = launch();
  const auto* first = documentScreen(*app.windowControllers().front());
  ASSERT_NE(first, nullptr);
  const QString docId = first->document()->docIdentifier();
  app.openDocumentInNewWindow(docId, first->document()->idea()->identifier());
  settle(2);
  ASSERT_EQ(app.windowControllers().size(), 2u);
  EXPECT_EQ(documentScreen(*app.windowControllers()[1])->document(), first->document());
  app.openDocumentInNewWindow(QStringLiteral("temp:/never-made.orrery"), QString());
  uitest::advance(0);
  EXPECT_EQ(app.windowControllers().size(), 2u);
}

TEST_F(Opening, TheEditorFactoryShowsOpenedDocumentsAndRestoresThem) {
  struct FakeEditor : BaseViewController {
    std::shared_ptr<IdeaDocument> doc;
    DocumentToken token = 0;
    QString centre;
    QString edited;
    QVariantMap restored;
    QVariantMap createState() override { return {{"doc", doc ? doc->docIdentifier() : QString()}}; }
    bool restoreFromState(const QVariantMap& s) override {
      restored = s;
      return true;
    }
  };
  std::vector<std::shared_ptr<FakeEditor>> made;
  ScreenFactory factory;
  factory.makeEditor = [&](const std::shared_ptr<IdeaDocument>& doc, DocumentToken token, const QString& idea) {
    auto e = std::make_shared<FakeEditor>();
    e->doc = doc;
    e->token = token;
    e->centre = idea;
    made.push_back(e);
    return e;
  };
  factory.makeEditorForRestoration = [&] {
    made.push_back(std::make_shared<FakeEditor>());
    return made.back();
  };
  factory.onEditIdea = [](BaseViewController& e, const QString& idea) { static_cast<FakeEditor&>(e).edited = idea; };
  setScreenFactory(factory);

  auto& app = launch();
  ASSERT_EQ(made.size(), 1u);
  EXPECT_GE(made[0]->token, 1) << "the editor owns the token";
  EXPECT_EQ(made[0]->edited, made[0]->doc->idea()->identifier());
  EXPECT_EQ(app.windowControllers().front()->myWindow().controller(), made[0]);
  quit();
  launch();
  ASSERT_EQ(made.size(), 2u);
  EXPECT_EQ(made[1]->restored.value("doc").toString(), made[0]->doc->docIdentifier());
}
