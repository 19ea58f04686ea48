#include "controller_test_support.h"

#include "editor_screen/editor_screens.h"
#include "foundation/views/progress_hud.h"
#include "model/file_utils.h"
#include "platform/core/notification_center.h"
#include "platform/ui/menu.h"
#include "shell/screen_factory.h"
#include "support/pdf_tools.h"
#include "support/print_to_file.h"

#include <QDir>
#include <QFileInfo>
#include <QMainWindow>

using namespace controllertest;
using orrery::DocumentLocationLocalFile;
using orrery::DocumentLocationTemp;
using orrery::Idea;
using orrery::PersistenceController;

namespace {

QString scratchPath(const std::shared_ptr<IdeaDocument>& doc) {
  return PersistenceController::singleton().urlForLocalOrTempFileWithDocIdentifer(doc->docIdentifier()).toLocalFile();
}

using DocumentLife = ControllerTest;

TEST_F(DocumentLife, TheWindowShowsWhereTheDocumentLives) {
  Opened temp = createTemp(makeTree(2));
  EditorWindow editor(SolarSystemViewController::create(temp.doc, temp.token, QString()), &app);
  EXPECT_TRUE(editor.window().widget()->isWindowModified()) << "a new document is unsaved";
  EXPECT_TRUE(app.recent.empty());
  EXPECT_FALSE(editor.controller->createState().isEmpty()) << "a new document is restored";

  Opened local = createLocal(path(QStringLiteral("shown.orrery")), makeTree(2));
  EditorWindow second(SolarSystemViewController::create(local.doc, local.token, QString()), &app);
  EXPECT_FALSE(second.window().widget()->isWindowModified());
  ASSERT_FALSE(app.recent.empty());
  for (const QUrl& url : app.recent) EXPECT_EQ(url, local.doc->representativeURL());
  EXPECT_EQ(second.window().representedFilename(), local.doc->filePath());
  EXPECT_EQ(second.window().docURL(), local.doc->representativeURL());
  EXPECT_TRUE(second.window().cloudIconName().isEmpty());
  EXPECT_TRUE(second.window().title().startsWith(local.doc->documentWindowName()));
  EXPECT_TRUE(second.controller->createState().isEmpty()) << "a local file is reopened by the user";

  platform::MenuItem save(QStringLiteral("Save"), QStringLiteral("cmdSaveLocalFile"));
  EXPECT_TRUE(second.controller->validateUserInterfaceItem(save));
  auto cloud = SolarSystemViewController::create(IdeaDocument::createWithIdentifier(QStringLiteral("dropbox:/a.orrx")),
                                                 0, QString());
  EXPECT_FALSE(cloud->validateUserInterfaceItem(save)) << "cloud documents save themselves";
}

TEST_F(DocumentLife, EachWindowReturnsItsOwnTokenOnceWhateverEndsIt) {
  Opened opened = createLocal(path(QStringLiteral("tokens.orrery")), makeTree(3));
  Opened second = openAgain(opened.doc);
  Opened held = openAgain(opened.doc);  // a third party's token that must survive
  auto a = std::make_unique<EditorWindow>(SolarSystemViewController::create(opened.doc, opened.token, QString()), &app);
  auto b = std::make_unique<EditorWindow>(SolarSystemViewController::create(opened.doc, second.token, QString()), &app);
  ASSERT_EQ(opened.doc->tokenCount(), 3u);

  a->window().performClose();
  EXPECT_TRUE(a->closed);
  EXPECT_FALSE(opened.doc->goodToken(opened.token));
  EXPECT_TRUE(opened.doc->goodToken(second.token)) << "the second window keeps its own";

  // The document is deleted elsewhere: the window returns its token and closes, and the close
  // that follows returns nothing more.
  b->controller->documentDeleted(opened.doc->docIdentifier());
  ASSERT_TRUE(waitFor([&] { return b->closed; }));
  EXPECT_EQ(b->controller->docToken(), 0);
  EXPECT_EQ(opened.doc->tokenCount(), 1u);
  EXPECT_TRUE(opened.doc->goodToken(held.token));

  // Nothing is written once the token is back.
  const QByteArray before = [&] {
    QFile f(opened.doc->filePath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }();
  b->controller->addNewIdeaAfterIndex(0, idea(QStringLiteral("late")), nullptr);
  uitest::advance(1.0);
  EXPECT_FALSE(b->controller->isUpdatingDocument());
  QFile after(opened.doc->filePath());
  ASSERT_TRUE(after.open(QIODevice::ReadOnly));
  EXPECT_EQ(after.readAll(), before);
  PersistenceController::singleton().releaseDocument(opened.doc, held.token, nullptr);
}

TEST_F(DocumentLife, AForcedCloseOfANewDocumentNeitherAsksNorReturnsTwice) {
  Opened temp = createTemp(makeTree(2));
  EditorWindow editor(SolarSystemViewController::create(temp.doc, temp.token, QString()), &app);
  editor.controller->pleaseStopUsingLocation(DocumentLocationTemp);
  ASSERT_TRUE(waitFor([&] { return editor.closed; }));
  EXPECT_TRUE(presenter->alerts.empty()) << "the close during a forced close asks nothing";
  EXPECT_FALSE(temp.doc->isOpen());
  EXPECT_EQ(editor.controller->currentOccupyingOperation(), QStringLiteral("ClosingWindow"));
}

TEST_F(DocumentLife, ClosingANewDocumentAsksAndEachAnswerDoesWhatItSays) {
  Opened temp = createTemp(makeTree(2));
  const QString scratch = scratchPath(temp.doc);
  ASSERT_TRUE(QFileInfo::exists(scratch));
  EditorWindow editor(SolarSystemViewController::create(temp.doc, temp.token, QString()), &app);

  presenter->alertAnswers = {1002};  // Cancel
  editor.window().performClose();
  ASSERT_EQ(presenter->alerts.size(), 1u);
  EXPECT_EQ(presenter->alerts[0].informativeText,
            QStringLiteral("Do you want to save the changes you made to the new file?"));
  ASSERT_EQ(presenter->alerts[0].buttons.size(), 3u);
  uitest::advance(0.1);
  EXPECT_FALSE(editor.closed);
  EXPECT_FALSE(editor.controller->screenOccupied());

  presenter->alertAnswers = {1001};  // Do Not Save
  editor.window().performClose();
  ASSERT_TRUE(waitFor([&] { return editor.closed; }));
  EXPECT_EQ(presenter->alerts.size(), 2u) << "asked once more, not a third time";
  EXPECT_FALSE(temp.doc->isOpen());
  uitest::advance(1.0);
  ASSERT_TRUE(waitFor([&] { return !QFileInfo::exists(scratch); })) << "the scratch file went with the document";
}

TEST_F(DocumentLife, SavingANewDocumentOnCloseClosesWithoutASecondQuestion) {
  Opened temp = createTemp(makeTree(2));
  const QString scratch = scratchPath(temp.doc);
  EditorWindow editor(SolarSystemViewController::create(temp.doc, temp.token, QString()), &app);
  presenter->alertAnswers = {1000};  // Save
  presenter->panelAnswers = {chose(path(QStringLiteral("kept")))};
  editor.window().performClose();
  ASSERT_TRUE(waitFor([&] { return editor.closed; }));
  EXPECT_EQ(presenter->alerts.size(), 1u);
  ASSERT_EQ(presenter->panels.size(), 1u);
  EXPECT_EQ(presenter->panels[0].allowedFileTypes, QStringList{QStringLiteral("orrery")});
  EXPECT_EQ(presenter->panels[0].nameFieldStringValue, temp.doc->exportFileName());
  IdeaPtr saved = readTree(path(QStringLiteral("kept.orrery")));
  ASSERT_TRUE(saved) << "\".orrery\" was added to the chosen name";
  EXPECT_EQ(texts(saved->ideas()), (QStringList{"c0", "c1"}));
  EXPECT_EQ(editor.controller->document()->tokenCount(), 0u);
  ASSERT_TRUE(waitFor([&] { return !QFileInfo::exists(scratch); }));
}

TEST_F(DocumentLife, SaveAsMovesTheWindowToTheNewFileOrSaysWhyNot) {
  Opened temp = createTemp(makeTree(3));
  EditorWindow editor(SolarSystemViewController::create(temp.doc, temp.token, QString()), &app);
  auto& c = *editor.controller;

  // Below a plain file nothing can be made: the window keeps its document.
  QFile plain(path(QStringLiteral("plain")));
  ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
  plain.close();
  presenter->panelAnswers = {chose(path(QStringLiteral("plain/inside.orrery")))};
  c.cmdSaveLocalFileAs();
  ASSERT_TRUE(waitFor([&] { return presenter->alerts.size() == 1; }));
  EXPECT_EQ(presenter->alerts[0].informativeText + presenter->alerts[0].messageText,
            QStringLiteral("Failed to save file"));
  EXPECT_EQ(c.document(), temp.doc);
  EXPECT_TRUE(temp.doc->goodToken(c.docToken()));

  // Onto a file another window shows: refused, nothing written.
  const QString busy = path(QStringLiteral("busy.orrery"));
  app.openFiles.push_back(QUrl::fromLocalFile(busy));
  presenter->panelAnswers = {chose(busy)};
  c.cmdSaveLocalFile();  // a new document's Save is Save As
  ASSERT_TRUE(waitFor([&] { return presenter->alerts.size() == 2; }));
  EXPECT_EQ(presenter->alerts[1].informativeText + presenter->alerts[1].messageText,
            QStringLiteral("Cannot overwrite file that is open"));
  EXPECT_FALSE(QFileInfo::exists(busy));

  // A new path: the window now shows the local file with a new token.
  const QString scratch = scratchPath(temp.doc);
  presenter->panelAnswers = {chose(path(QStringLiteral("fresh.orrery")))};
  c.cmdSaveLocalFileAs();
  ASSERT_TRUE(waitFor([&] { return c.document() != temp.doc; }));
  EXPECT_EQ(c.document()->location(), DocumentLocationLocalFile);
  EXPECT_TRUE(c.document()->goodToken(c.docToken()));
  EXPECT_FALSE(temp.doc->isOpen()) << "the new document's token went back";
  EXPECT_EQ(editor.window().title(), c.document()->documentWindowName());
  ASSERT_TRUE(waitFor([&] { return !QFileInfo::exists(scratch); }));
  c.addNewIdeaAfterIndex(2, idea(QStringLiteral("after save as")), nullptr);
  ASSERT_TRUE(waitFor([&] { return !c.isUpdatingDocument(); }));
  IdeaPtr saved = readTree(path(QStringLiteral("fresh.orrery")));
  ASSERT_TRUE(saved);
  EXPECT_EQ(texts(saved->ideas()), (QStringList{"c0", "c1", "c2", "after save as"}));

  // Onto itself: saved in place with the same token.
  const auto token = c.docToken();
  presenter->panelAnswers = {chose(path(QStringLiteral("fresh.orrery")))};
  ASSERT_TRUE(editor.window().firstResponder()->tryToPerform(QStringLiteral("cmdSaveLocalFileAs")))
      << "the menu command reaches the editor along the responder chain";
  uitest::advance(0.1);
  ASSERT_TRUE(waitFor([&] { return !c.isUpdatingDocument(); }));
  EXPECT_EQ(c.docToken(), token);
  EXPECT_EQ(presenter->alerts.size(), 2u);
}

TEST_F(DocumentLife, SaveAsOntoALinkWritesTheFileItPointsAtAndKeepsTheLink) {
  ASSERT_TRUE(QDir().mkpath(path(QStringLiteral("kept elsewhere"))));
  const QString real = path(QStringLiteral("kept elsewhere/real.orrery"));
  {
    auto before = IdeaDocument::createWithFileName(real, DocumentLocationLocalFile);
    before->setIdea(makeTree(1));
    QFile file(real);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(before->exportAsOrreryData());
  }
  const QString link = path(QStringLiteral("link.orrery"));
  ASSERT_TRUE(QFile::link(QStringLiteral("kept elsewhere/real.orrery"), link));
  const QString dangling = path(QStringLiteral("dangling.orrery"));
  ASSERT_TRUE(QFile::link(path(QStringLiteral("kept elsewhere/later.orrery")), dangling));

  Opened temp = createTemp(makeTree(3));
  EditorWindow editor(SolarSystemViewController::create(temp.doc, temp.token, QString()), &app);
  auto& c = *editor.controller;
  presenter->panelAnswers = {chose(link)};
  c.cmdSaveLocalFileAs();
  ASSERT_TRUE(waitFor([&] { return c.document() != temp.doc; }));
  c.addNewIdeaAfterIndex(2, idea(QStringLiteral("through the link")), nullptr);
  ASSERT_TRUE(waitFor([&] { return !c.isUpdatingDocument(); }));
  EXPECT_TRUE(QFileInfo(link).isSymLink());
  IdeaPtr saved = readTree(real);
  ASSERT_TRUE(saved);
  EXPECT_EQ(texts(saved->ideas()), (QStringList{"c0", "c1", "c2", "through the link"}));

  const auto before = c.document();
  presenter->panelAnswers = {chose(dangling)};
  c.cmdSaveLocalFileAs();
  ASSERT_TRUE(waitFor([&] { return c.document() != before; }));
  EXPECT_TRUE(QFileInfo(dangling).isSymLink());
  ASSERT_TRUE(readTree(path(QStringLiteral("kept elsewhere/later.orrery"))));
  EXPECT_TRUE(presenter->alerts.empty());
}

TEST_F(DocumentLife, AFailedSaveKeepsTheEditTellsTheUserAndIsWrittenByTheNextSave) {
  const QString file = path(QStringLiteral("fails.orrery"));
  Opened opened = createLocal(file, makeTree(2));
  EditorWindow editor(SolarSystemViewController::create(opened.doc, opened.token, QString()), &app);
  auto& c = *editor.controller;
  // A folder where the file was: no write can replace it, whoever runs the test.
  ASSERT_TRUE(QFile::remove(file));
  ASSERT_TRUE(QDir().mkdir(file));

  c.addNewIdeaAfterIndex(1, idea(QStringLiteral("kept")), nullptr);
  ASSERT_TRUE(waitFor([&] { return !c.isUpdatingDocument(); }));
  EXPECT_EQ(texts(c.rootIdea()->ideas()), (QStringList{"c0", "c1", "kept"}));
  uitest::advance(0.25);
  auto shown = notices(editor);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0]->labelText(), QStringLiteral("Failed to update document"));
  EXPECT_EQ(shown[0]->mode(), orrery::ProgressHUD::Text);
  uitest::advance(3.0);
  EXPECT_TRUE(notices(editor).empty()) << "the notice left its container";
  // The first failure also says which file and why.
  ASSERT_EQ(presenter->alerts.size(), 1u);
  EXPECT_EQ(presenter->alerts[0].messageText, QStringLiteral("Failed to update document"));
  EXPECT_TRUE(presenter->alerts[0].informativeText.startsWith(c.document()->filePath() + "\n"));
  presenter->alerts.clear();

  // Closing tries again; when that fails too it asks, and "Cancel" keeps the window.
  presenter->alertAnswers = {1002};
  editor.window().performClose();
  ASSERT_TRUE(waitFor([&] { return presenter->alerts.size() == 1; }));
  EXPECT_EQ(presenter->alerts[0].messageText, QStringLiteral("Failed to update document"));
  uitest::advance(0.1);
  EXPECT_FALSE(editor.closed);

  ASSERT_TRUE(QDir().rmdir(file));
  c.addNewIdeaAfterIndex(2, idea(QStringLiteral("next")), nullptr);
  ASSERT_TRUE(waitFor([&] { return !c.isUpdatingDocument(); }));
  IdeaPtr saved = readTree(file);
  ASSERT_TRUE(saved);
  EXPECT_EQ(texts(saved->ideas()), (QStringList{"c0", "c1", "kept", "next"}));
  editor.window().performClose();
  EXPECT_TRUE(editor.closed) << "nothing unsaved: closes at once";
  EXPECT_EQ(presenter->alerts.size(), 1u);
}

TEST_F(DocumentLife, ClosingWhileTheLastSaveFailsAsksAndDoNotSaveCloses) {
  const QString file = path(QStringLiteral("drop.orrery"));
  Opened opened = createLocal(file, makeTree(2));
  EditorWindow editor(SolarSystemViewController::create(opened.doc, opened.token, QString()), &app);
  ASSERT_TRUE(QFile::remove(file));
  ASSERT_TRUE(QDir().mkdir(file));
  editor.controller->addNewIdeaAfterIndex(1, idea(QStringLiteral("lost")), nullptr);
  // Asked while the save is still under way: the close waits for it.
  presenter->alertAnswers = {1001};  // Do Not Save
  editor.window().performClose();
  EXPECT_FALSE(editor.closed);
  ASSERT_TRUE(waitFor([&] { return editor.closed; }));
  EXPECT_EQ(presenter->alerts.size(), 1u);
  EXPECT_FALSE(opened.doc->isOpen());
}

TEST_F(DocumentLife, ChangesFromElsewhereAreShownAndOwnSavesNeverReload) {
  Opened opened = createLocal(path(QStringLiteral("outside.orrery")), makeTree(3));
  Opened second = openAgain(opened.doc);
  IdeaPtr c1 = opened.doc->idea()->ideas()[1];
  EditorWindow a(SolarSystemViewController::create(opened.doc, opened.token, QString()), &app);
  EditorWindow b(SolarSystemViewController::create(opened.doc, second.token, c1->identifier()), &app);

  // An own save does not rebuild the own view, even though the facade reports it.
  auto ownView = a.controller->solarSystem();
  a.controller->addNewIdeaAfterIndex(2, idea(QStringLiteral("from a")), nullptr);
  auto bView = b.controller->solarSystem();
  ASSERT_TRUE(waitFor([&] { return !a.controller->isUpdatingDocument(); }));
  EXPECT_EQ(a.controller->solarSystem(), ownView);
  // The other window shows its idea anew.
  EXPECT_NE(b.controller->solarSystem(), bView);
  EXPECT_EQ(b.controller->ownIdea()->identifier(), c1->identifier());

  Opened third = openAgain(opened.doc);
  auto unshown = SolarSystemViewController::create(opened.doc, third.token, c1->identifier());

  // Another instance replaced the tree without b's idea: b shows the root; a notice that
  // arrives during a's own save waits for it.
  IdeaPtr replaced = Idea::createWithText(QStringLiteral("root again"), opened.doc->idea()->identifier());
  replaced->addIdea(idea(QStringLiteral("theirs")));
  a.controller->addNewIdeaAfterIndex(0, idea(QStringLiteral("mine")), nullptr);
  ASSERT_TRUE(a.controller->isUpdatingDocument());
  opened.doc->setIdea(replaced);
  platform::NotificationCenter::defaultCenter().post(orrery::IdeaDocumentChangedNotification, opened.doc.get());
  EXPECT_NE(a.controller->rootIdea(), replaced) << "not during the own save";
  EXPECT_EQ(b.controller->rootIdea(), replaced);
  EXPECT_EQ(b.controller->ownIdea(), replaced) << "its idea went: the root";
  EXPECT_EQ(unshown->ownIdea(), replaced) << "an editor whose view is not loaded yet follows too";
  ASSERT_TRUE(waitFor([&] { return !a.controller->isUpdatingDocument() && a.controller->rootIdea() == replaced; }));
  EXPECT_EQ(a.planets(), a.children());

  // A tree with another root is another document: the windows close.
  opened.doc->setIdea(idea(QStringLiteral("stranger")));
  platform::NotificationCenter::defaultCenter().post(orrery::IdeaDocumentChangedNotification, opened.doc.get());
  ASSERT_TRUE(waitFor([&] { return a.closed && b.closed && unshown->docToken() == 0; }));
  EXPECT_FALSE(opened.doc->isOpen());
}

TEST_F(DocumentLife, RestorationWaitsForItsLocationAndClosesWhenItCannotOpen) {
  // Stored state is untrusted.
  auto hostile = SolarSystemViewController::createForRestoration();
  EXPECT_FALSE(hostile->restoreFromState({}));
  EXPECT_FALSE(hostile->restoreFromState({{QStringLiteral("docIdentifier"), 5}}));
  EXPECT_FALSE(hostile->restoreFromState({{QStringLiteral("docIdentifier"), QStringList{"temp:/x"}}}));
  auto empty = SolarSystemViewController::createForRestoration();
  EditorWindow emptyWindow(empty, &app);
  EXPECT_FALSE(empty->restoreFromState({{QStringLiteral("docIdentifier"), QString()}}));
  ASSERT_TRUE(waitFor([&] { return emptyWindow.closed; })) << "a window with nothing to show goes";

  // A new document comes back showing its idea.
  IdeaPtr tree = makeTree(3);
  Opened temp = createTemp(tree);
  const QString shownId = tree->ideas()[0]->identifier();
  bool released = false;
  PersistenceController::singleton().releaseDocument(temp.doc, temp.token, [&](bool) { released = true; });
  ASSERT_TRUE(waitFor([&] { return released; }));
  auto restored = SolarSystemViewController::createForRestoration();
  EditorWindow editor(restored, &app);
  ASSERT_TRUE(restored->restoreFromState(
      {{QStringLiteral("docIdentifier"), temp.doc->docIdentifier()}, {QStringLiteral("ideaIdentifier"), shownId}}));
  ASSERT_TRUE(waitFor([&] { return restored->docToken() >= 1; }));
  EXPECT_EQ(restored->solarSystemState(), orrery::kSolarSystemStateRadial);
  EXPECT_EQ(restored->ownIdea()->identifier(), shownId);
  EXPECT_EQ(editor.planets(), editor.children());

  // A file that is gone closes the window.
  auto missing = SolarSystemViewController::createForRestoration();
  EditorWindow missingWindow(missing, &app);
  EXPECT_TRUE(missing->restoreFromState({{QStringLiteral("docIdentifier"), QStringLiteral("temp:/gone.orrery")}}));
  ASSERT_TRUE(waitFor([&] { return missingWindow.closed; }));

  // A cloud location that is not ready is waited for; dropping the choice closes the window.
  const bool opted = orrery::Globals::userHasOptedForICloud();
  orrery::Globals::optForICloud(true);
  auto waiting = SolarSystemViewController::createForRestoration();
  EditorWindow waitingWindow(waiting, &app);
  EXPECT_TRUE(waiting->restoreFromState({{QStringLiteral("docIdentifier"), QStringLiteral("iCloud:/a.orrx")}}));
  platform::NotificationCenter::defaultCenter().post(orrery::PersistenceStateChangeNotification);
  uitest::advance(0.5);
  EXPECT_FALSE(waitingWindow.closed);
  EXPECT_EQ(waiting->solarSystemState(), orrery::kSolarSystemStateNothing);
  orrery::Globals::optForICloud(false);
  platform::NotificationCenter::defaultCenter().post(orrery::PersistenceStateChangeNotification);
  ASSERT_TRUE(waitFor([&] { return waitingWindow.closed; }));
  orrery::Globals::optForICloud(opted);
}

}  // namespace

namespace {

TEST_F(DocumentLife, WindowsShowDocumentsInTheEditorOnceItIsInstalled) {
  orrery::ScreenFactory previous = orrery::setScreenFactory({});
  orrery::installEditorScreens();
  Opened opened = createLocal(path(QStringLiteral("factory.orrery")), makeTree(2));
  const QString shown = opened.doc->idea()->ideas()[1]->identifier();
  auto made = orrery::screenFactory().makeEditor(opened.doc, opened.token, shown);
  auto editor = std::dynamic_pointer_cast<SolarSystemViewController>(made);
  ASSERT_TRUE(editor);
  EXPECT_EQ(editor->ownIdea()->identifier(), shown);
  EXPECT_TRUE(std::dynamic_pointer_cast<SolarSystemViewController>(
      orrery::screenFactory().makeEditorForRestoration()));
  EditorWindow window(editor, &app);
  EXPECT_EQ(window.window().controller(), made);
  orrery::setScreenFactory(std::move(previous));
}

}  // namespace

namespace {

struct UpdateListener : orrery::PersistenceControllerListener {
  int updates = 0;
  void documentUpdated(const std::shared_ptr<orrery::IdeaProxy>&) override { ++updates; }
};

TEST_F(DocumentLife, OverlappingSavesCountAsInFlightUntilTheLastCompletes) {
  Opened opened = createLocal(path(QStringLiteral("overlap.orrery")), makeTree(2));
  EditorWindow editor(SolarSystemViewController::create(opened.doc, opened.token, QString()), &app);
  auto& c = *editor.controller;
  auto listener = std::make_shared<UpdateListener>();
  PersistenceController::singleton().addListener(listener);
  {
    QueueGate first;
    c.addNewIdeaAfterIndex(1, idea(QStringLiteral("one")), nullptr);
    uitest::loop().runPending();
    QueueGate second;  // the merged second write waits behind this one
    c.addNewIdeaAfterIndex(2, idea(QStringLiteral("two")), nullptr);
    uitest::loop().runPending();
    first.open();
    ASSERT_TRUE(waitFor([&] { return listener->updates >= 1; }));
    uitest::loop().runPending();
    EXPECT_TRUE(c.isUpdatingDocument()) << "the second save is still under way";
    IdeaPtr theirs = Idea::createWithText(QStringLiteral("theirs"), c.rootIdea()->identifier());
    opened.doc->setIdea(theirs);
    platform::NotificationCenter::defaultCenter().post(orrery::IdeaDocumentChangedNotification, opened.doc.get());
    EXPECT_NE(c.rootIdea(), theirs) << "a change from elsewhere waits for the last own save";
    second.open();
    ASSERT_TRUE(waitFor([&] { return !c.isUpdatingDocument() && c.rootIdea() == theirs; }));
  }
  PersistenceController::singleton().removeListener(listener.get());
}

}  // namespace

TEST_F(DocumentLife, PrintReachesTheEditorPrintsMapAndNotesAndWaitsForAFreeScreen) {
  IdeaPtr tree = makeTree(3);
  tree->ideas()[1]->setNote(QStringLiteral("a note to print"));
  Opened temp = createTemp(tree);
  EditorWindow editor(SolarSystemViewController::create(temp.doc, temp.token, QString()), &app);
  auto& c = *editor.controller;

  // While another step holds the screen, Print does nothing: no panel.
  c.occupyScreen(QStringLiteral("Sharing"));
  c.cmdPrintIdea();
  EXPECT_EQ(presenter->printPanels, 0);
  c.liberateScreen(QStringLiteral("Sharing"));

  const QString pdf = path(QStringLiteral("printed.pdf"));
  presenter->printAnswers.push_back(testsupport::printToPdfFile(pdf, QPageLayout::Portrait));
  ASSERT_TRUE(editor.window().firstResponder()->tryToPerform(QStringLiteral("cmdPrintIdea")))
      << "the menu command reaches the editor along the responder chain";
  EXPECT_EQ(presenter->printPanels, 1);
  EXPECT_EQ(testsupport::pdfPageCount(pdf), 2) << "the map page and one note page";
  EXPECT_TRUE(testsupport::pdfText(pdf).contains(QStringLiteral("a note to print")));

  // A cancelled panel prints nothing and says nothing; a failed print says why.
  c.cmdPrintIdea();
  EXPECT_TRUE(presenter->alerts.empty());
  presenter->printAnswers.push_back(testsupport::printToPdfFile(path(QStringLiteral("no/such/folder.pdf")),
                                                                QPageLayout::Portrait));
  c.cmdPrintIdea();
  ASSERT_TRUE(waitFor([&] { return presenter->alerts.size() == 1; }));
}
