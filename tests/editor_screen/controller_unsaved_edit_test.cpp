// An edit whose save failed: the window keeps the unsaved mark until a save succeeds, and
// closing the window asks with the file and the reason, offering Save As beside giving the edit
// up. (The quit asks the same question: tests/app.)

#include "controller_test_support.h"

#include "cloud/cloud_engines.h"
#include "model/document_file_writer.h"
#include "model/index_document.h"
#include "model/recovery_copies.h"
#include "model/workspace.h"
#include "panels/edit_idea_view_controller.h"
#include "platform/cloud/local_folder_container.h"
#include "platform/services/file_presenter.h"
#include "platform/ui/popover.h"
#include "support/cloud_container_fixture.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMainWindow>
#include <QTest>

using namespace controllertest;

namespace {

using UnsavedEdit = ControllerTest;

struct CloseAnswer {
  const char* name;
  int answer;  // Save As… 1000, Do Not Save 1001, Cancel 1002
  bool closes;
};

TEST_F(UnsavedEdit, TheWindowKeepsTheMarkAndEachAnswerToTheCloseQuestionDoesWhatItSays) {
  const CloseAnswer cases[] = {{"save as", 1000, true}, {"do not save", 1001, true}, {"cancel", 1002, false}};
  int n = 0;
  for (const CloseAnswer& row : cases) {
    SCOPED_TRACE(row.name);
    const QString file = path(QStringLiteral("full%1.orrery").arg(n));
    const QString elsewhere = path(QStringLiteral("elsewhere%1.orrery").arg(n++));
    Opened opened = createLocal(file, makeTree(2));
    EditorWindow editor(SolarSystemViewController::create(opened.doc, opened.token, QString()), &app);
    auto& c = *editor.controller;
    QWidget& widget = *editor.window().widget();
    EXPECT_FALSE(widget.isWindowModified());
    // A folder where the file was: no write can replace it, whoever runs the test.
    ASSERT_TRUE(QFile::remove(file));
    ASSERT_TRUE(QDir().mkdir(file));
    c.addNewIdeaAfterIndex(1, idea(QStringLiteral("unsaved")), nullptr);
    ASSERT_TRUE(waitFor([&] { return !c.isUpdatingDocument(); }));
    uitest::advance(3.0);  // long after the short notice went
    EXPECT_TRUE(widget.isWindowModified()) << "the failed save stays visible";

    presenter->alerts.clear();
    presenter->alertAnswers = {row.answer};
    presenter->panelAnswers = {chose(elsewhere)};
    editor.window().performClose();
    ASSERT_TRUE(waitFor([&] { return presenter->alerts.size() == 1; })) << "the save is retried, then asked";
    const platform::AlertRequest& asked = presenter->alerts[0];
    EXPECT_EQ(asked.messageText, QStringLiteral("Failed to update document"));
    EXPECT_TRUE(asked.informativeText.contains(opened.doc->filePath())) << asked.informativeText.toStdString();
    const QString because = asked.informativeText.section(QStringLiteral("could not be saved: "), 1);
    EXPECT_FALSE(because.trimmed().isEmpty()) << "the reason: " << asked.informativeText.toStdString();
    ASSERT_EQ(asked.buttons.size(), 3u);
    EXPECT_EQ(asked.buttons[0].title, QStringLiteral("Save As…"));
    if (row.closes) {
      ASSERT_TRUE(waitFor([&] { return editor.closed; }));
    }
    uitest::advance(0.5);
    EXPECT_EQ(editor.closed, row.closes);
    const IdeaPtr savedAs = readTree(elsewhere);
    EXPECT_EQ(bool(savedAs), row.answer == 1000);
    if (savedAs) {
      EXPECT_EQ(texts(savedAs->ideas()), (QStringList{"c0", "c1", "unsaved"}));
    }
    if (!row.closes) {
      EXPECT_TRUE(widget.isWindowModified());
      // Once the file can be written again, the next save clears the mark.
      ASSERT_TRUE(QDir().rmdir(file));
      c.addNewIdeaAfterIndex(2, idea(QStringLiteral("next")), nullptr);
      ASSERT_TRUE(waitFor([&] { return !c.isUpdatingDocument(); }));
      EXPECT_FALSE(widget.isWindowModified());
    }
  }
}

}  // namespace

// An editor over a map of a stand-in iCloud container, with the iCloud location chosen: a folder
// the user named, or the program's default one.
struct ICloudEditor : UnsavedEdit {
  explicit ICloudEditor(bool defaultFolder = false)
      : owned(defaultFolder ? std::make_unique<Container>(Container::DefaultRoot{}) : std::make_unique<Container>()) {}
  void SetUp() override {
    UnsavedEdit::SetUp();
    IdeaPtr root = idea(QStringLiteral("Cloud map"));
    root->addIdea(idea(QStringLiteral("ours"), 1));
    auto doc = orrery::IdeaDocument::createWithFileName(QStringLiteral("cloud.orrx"), orrery::DocumentLocationICloud);
    doc->setIdea(root);
    QDir().mkpath(container.documents());
    ASSERT_TRUE(Container::writeFile(container.documentPath(doc->filePath()), doc->exportAsPureJSONData()));
    identifier = doc->docIdentifier();
    orrery::IndexDocument index(QUrl::fromLocalFile(container.indexPath()));
    index.setIdeaProxyList({orrery::IdeaProxy::createWithDoc(doc)});
    index.saveBinaryToURL(index.presentedItemURL(), nullptr);
    facade.setWorkspaceFactory(orrery::Workspace::factoryWithEngines(orrery::cloudEngineForLocation));
    opted = orrery::Globals::userHasOptedForICloud();
    orrery::Globals::optForICloud(true);
    ASSERT_TRUE(waitFor([&] { return status() == orrery::WorkspaceStatusReady && facade.findProxy(identifier) != nullptr; }));
    Opened opened = openAgain(facade.findProxy(identifier)->doc());
    ASSERT_GE(opened.token, 1);
    editor = std::make_unique<EditorWindow>(SolarSystemViewController::create(opened.doc, opened.token, QString()), &app);
  }
  void TearDown() override {
    editor.reset();
    orrery::Globals::optForICloud(opted);
    facade.setWorkspaceFactory({});
    uitest::advance(0);
    UnsavedEdit::TearDown();
  }
  orrery::WorkspaceStatus status() { return facade.statusForLocation(orrery::DocumentLocationICloud); }
  IdeaPtr rootOnDisk() {
    IdeaPtr written;
    bool fetched = false;
    facade.fetchDocument(identifier, [&](IdeaPtr root) {
      written = root;
      fetched = true;
    });
    waitFor([&] { return fetched; });
    return written;
  }
  // The entry of the map in the index file, as the next start lists it.
  orrery::IdeaProxyPtr indexedOnDisk() {
    orrery::IndexDocument index(QUrl::fromLocalFile(container.indexPath()));
    index.readBinaryWithCompletionHandler(nullptr);
    for (const orrery::IdeaProxyPtr& proxy : index.ideaProxyList())
      if (proxy->docIdentifier() == identifier) return proxy;
    return nullptr;
  }
  // With `standIn`, an empty folder stands where the folder was while it is away.
  void editWhileTheFolderIsAway(bool standIn = false);
  void holdEditWhileAway(const QString& text, bool standIn = false, QString* told = nullptr);
  // The recovery copies made since `before`, read back.
  std::vector<IdeaPtr> copiesSince(const QStringList& before) {
    std::vector<IdeaPtr> kept;
    for (const QString& copy : orrery::recoveryCopies()) {
      if (before.contains(copy)) continue;
      QFile file(copy);
      if (!file.open(QIODevice::ReadOnly)) continue;
      kept.push_back(IdeaDocument::treeFromFileBytes(file.readAll(), /*compressed=*/true));
      file.remove();
    }
    return kept;
  }

  using Container = testsupport::CloudContainerFixture;
  std::unique_ptr<Container> owned;
  Container& container = *owned;
  orrery::PersistenceController& facade = orrery::PersistenceController::singleton();
  QString identifier;
  bool opted = false;
  std::unique_ptr<EditorWindow> editor;
};

struct ICloudEditorOnTheDefaultFolder : ICloudEditor {
  ICloudEditorOnTheDefaultFolder() : ICloudEditor(/*defaultFolder=*/true) {}
};

// The folder goes away (with `standIn`, an empty folder takes its place) and an edit is made:
// its save fails and is told (`told`).
void ICloudEditor::holdEditWhileAway(const QString& text, bool standIn, QString* told) {
  auto& c = *editor->controller;
  ASSERT_TRUE(container.moveAway());
  if (standIn) {
    ASSERT_TRUE(container.putEmptyFolderInItsPlace());
  }
  for (int poll = 0; poll < 3; ++poll) uitest::advance(platform::LocalFolderContainer::kPollSeconds);
  ASSERT_TRUE(waitFor([&] { return status() == orrery::WorkspaceStatusUnavailable; }));
  presenter->alerts.clear();
  c.addNewIdeaAfterIndex(0, idea(text), nullptr);
  ASSERT_TRUE(waitFor([&] { return !c.isUpdatingDocument() && presenter->alerts.size() == 1; }));
  ASSERT_TRUE(c.hasUnsavedEdit());
  if (told) *told = presenter->alerts[0].informativeText;
  presenter->alerts.clear();
}

// The iCloud folder goes away (an unmounted share, a folder the user moved) while a map is open:
// nothing stands in for it, not even an empty folder at its path (the share's mount point). An
// edit made meanwhile keeps the unsaved mark, the top bar says the location is unavailable and
// the failed save names the file and why; once the folder is back the edit is written at once,
// the mark goes, and the map's entry in the list counts the ideas its file holds, in this run
// and the next.
void ICloudEditor::editWhileTheFolderIsAway(bool standIn) {
  QWidget& widget = *editor->window().widget();
  QString told;
  holdEditWhileAway(QStringLiteral("made while away"), standIn, &told);
  if (HasFatalFailure()) return;
  EXPECT_TRUE(widget.isWindowModified());
  EXPECT_EQ(editor->window().cloudIconToolTip(), QStringLiteral("iCloud: unavailable"));
  EXPECT_TRUE(told.contains(container.documentPath(QStringLiteral("cloud.orrx")))) << told.toStdString();
  EXPECT_TRUE(told.section(QStringLiteral("could not be saved: "), 1).contains(container.root()))
      << "the reason names the folder: " << told.toStdString();
  for (int poll = 0; poll < 3; ++poll) uitest::advance(platform::LocalFolderContainer::kPollSeconds);
  if (standIn)
    EXPECT_TRUE(container.rootIsEmpty()) << "nothing is written into the empty folder";
  else
    EXPECT_FALSE(QFileInfo::exists(container.root())) << "nothing stands in for the folder";
  EXPECT_EQ(status(), orrery::WorkspaceStatusUnavailable);

  if (standIn) {
    ASSERT_TRUE(QDir().rmdir(container.root()));
  }
  ASSERT_TRUE(container.moveBack());
  uitest::advance(platform::LocalFolderContainer::kPollSeconds);
  ASSERT_TRUE(waitFor([&] { return status() == orrery::WorkspaceStatusReady; }));
  EXPECT_TRUE(waitFor([&] { return !widget.isWindowModified(); })) << "written without waiting for the quit";
  EXPECT_EQ(editor->window().cloudIconToolTip(), QStringLiteral("iCloud: up to date"));
  const IdeaPtr written = rootOnDisk();
  ASSERT_TRUE(written);
  EXPECT_TRUE(texts(written->ideas()).contains(QStringLiteral("made while away")));
  uitest::advance(1.0);
  ASSERT_TRUE(facade.findProxy(identifier));
  EXPECT_EQ(facade.findProxy(identifier)->itemCount(), written->calculateWholeTreeSize());
  const orrery::IdeaProxyPtr indexed = indexedOnDisk();
  ASSERT_TRUE(indexed);
  EXPECT_EQ(indexed->itemCount(), written->calculateWholeTreeSize()) << "the next start's tile";
}

TEST_F(ICloudEditor, AnEditMadeWhileTheFolderIsAwayIsWrittenAsSoonAsItIsBack) { editWhileTheFolderIsAway(); }

TEST_F(ICloudEditorOnTheDefaultFolder, AnEditMadeWhileTheFolderIsAwayIsWrittenAsSoonAsItIsBack) {
  editWhileTheFolderIsAway();
}

TEST_F(ICloudEditor, AnEditMadeWhileAnEmptyFolderStandsInIsWrittenAsSoonAsTheRealOneIsBack) {
  editWhileTheFolderIsAway(/*standIn=*/true);
}

TEST_F(ICloudEditorOnTheDefaultFolder, AnEditMadeWhileAnEmptyFolderStandsInIsWrittenAsSoonAsTheRealOneIsBack) {
  editWhileTheFolderIsAway(/*standIn=*/true);
}

// Another instance saved over a change of this one: the version kept for the user is a new
// iCloud document whose name is not the map's.
TEST_F(ICloudEditor, TheCopyKeptOfReplacedChangesIsNamedApartFromTheMap) {
  const IdeaPtr shown = editor->controller->document()->idea();
  IdeaPtr theirs = shown->snapshotCopy();
  theirs->ideas()[0]->setText(QStringLiteral("theirs"));
  orrery::DocumentSnapshot other = orrery::DocumentSnapshot::of(theirs, QDateTime::currentDateTimeUtc(),
                                                                QDateTime::currentDateTimeUtc(), QStringLiteral("OTHER"));
  other.replaced.push_back({shown->ideas()[0]->identifier(), QStringLiteral("text"), orrery::Globals::appInstance(),
                            orrery::Globals::appInstallation()});
  ASSERT_EQ(orrery::writeFileReplacing(container.documentPath(QStringLiteral("cloud.orrx")), other.encode(false)),
            orrery::FileWriteResult::Written);
  platform::FilePresenterRegistry::shared().recheckAll();
  ASSERT_TRUE(waitFor([&] { return presenter->alerts.size() == 1; }));
  const QString told = presenter->alerts[0].informativeText;
  EXPECT_TRUE(told.contains(QStringLiteral("Your version is kept in \u201CCloud map (replaced changes)\u201D")))
      << told.toStdString();
}


// The home button returns the document: an edit the away folder could not take is asked about
// as at a close. Cancel stays with the edit, "Do Not Save" goes home.
TEST_F(ICloudEditor, TheHomeButtonAsksAboutAnEditTheAwayFolderCouldNotTake) {
  auto& c = *editor->controller;
  holdEditWhileAway(QStringLiteral("made while away"));
  if (HasFatalFailure()) return;
  presenter->alertAnswers = {1002};  // Cancel
  c.topBarAction(orrery::kTopBarActionHome, QRectF());
  ASSERT_TRUE(waitFor([&] { return presenter->alerts.size() == 1; })) << "asked";
  EXPECT_EQ(presenter->alerts[0].buttons.size(), 3u);
  uitest::advance(0.5);
  EXPECT_EQ(editor->window().controller(), editor->controller) << "Cancel stays";
  EXPECT_GE(c.docToken(), 1);
  EXPECT_TRUE(c.hasUnsavedEdit());
  presenter->alertAnswers = {1001};  // Do Not Save
  c.topBarAction(orrery::kTopBarActionHome, QRectF());
  ASSERT_TRUE(waitFor([&] { return editor->window().controller() != editor->controller; })) << "home";
  EXPECT_EQ(presenter->alerts.size(), 2u);
  EXPECT_LT(c.docToken(), 1);
  ASSERT_TRUE(container.moveBack());
}

// The location is dropped without anyone being asked (the choice withdrawn elsewhere, a sign-in
// refused) while the folder is away and the map holds an edit it could not take: the window
// closes, the edit is kept as a copy the next start offers, and the user is told so. Title text
// still in the open popover goes into that copy, and a quit before the window is gone keeps no
// second one.
TEST_F(ICloudEditor, AnEditNotOnDiskOutlivesTheLocationDroppedUnasked) {
  auto& c = *editor->controller;
  holdEditWhileAway(QStringLiteral("made while away"));
  if (HasFatalFailure()) return;
  const QStringList before = orrery::recoveryCopies();
  c.onAddNewIdeaAfterIndex(0, QRectF());
  ASSERT_TRUE(c.editPopover());
  auto* panel = dynamic_cast<orrery::EditIdeaViewController*>(c.editPopover()->contentViewController().get());
  ASSERT_TRUE(panel);
  QTest::keyClicks(panel->textTabView()->titleTextField()->field()->lineEdit(), QStringLiteral("typed"));

  orrery::Globals::optForICloud(false);
  ASSERT_TRUE(waitFor([&] { return editor->closed; }));
  ASSERT_TRUE(waitFor([&] { return presenter->alerts.size() == 1; })) << "the user is told";
  // The quit's last save and keeping of what is not on disk, as a quit before the window went.
  c.saveOnceMoreBeforeQuit();
  c.keepEditNotOnDisk();
  uitest::advance(0);
  const std::vector<IdeaPtr> kept = copiesSince(before);
  ASSERT_EQ(kept.size(), 1u) << "one copy, offered at the next start";
  ASSERT_TRUE(kept[0]);
  EXPECT_EQ(texts(kept[0]->ideas()), (QStringList{"ours", "typed", "made while away"}));
  EXPECT_TRUE(presenter->alerts[0].informativeText.contains(c.document()->documentWindowName()))
      << presenter->alerts[0].informativeText.toStdString();
  ASSERT_TRUE(container.moveBack());
}

// Another instance deleted the map while an edit made in the same turn was on its way: its
// save was queued as the edit was accepted, before the deletion was known, so the edit is not
// lost. The file holds it and the window closes, with no copy kept beside it and nothing told.
TEST_F(ICloudEditor, AnEditAcceptedAsTheMapIsDeletedElsewhereIsWrittenNotLost) {
  auto& c = *editor->controller;
  const QString file = container.documentPath(QStringLiteral("cloud.orrx"));
  const QStringList before = orrery::recoveryCopies();
  presenter->alerts.clear();
  ASSERT_TRUE(QFile::remove(file));
  c.addNewIdeaAfterIndex(0, idea(QStringLiteral("made as it went")), nullptr);
  c.documentDeleted(identifier);
  ASSERT_TRUE(waitFor([&] { return editor->closed; }));
  uitest::advance(1.0);
  EXPECT_TRUE(presenter->alerts.empty());
  EXPECT_TRUE(copiesSince(before).empty());
  QFile written(file);
  ASSERT_TRUE(written.open(QIODevice::ReadOnly)) << "the edit's save was not written";
  const IdeaPtr tree = IdeaDocument::treeFromFileBytes(written.readAll(), /*compressed=*/false);
  ASSERT_TRUE(tree);
  EXPECT_EQ(texts(tree->ideas()), (QStringList{"ours", "made as it went"}));
}
