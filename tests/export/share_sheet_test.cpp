// The share sheet and its panes with the real writers: which pane shows, the tab row, one
// dismissal per request, every format written and read back, the save panel's proposals,
// failures shown and nothing lost, and the mail hand-off.

#include "export/mail_hand_off.h"
#include "export/sharing_view_controller.h"
#include "export/web_exporter.h"
#include "export_test_support.h"
#include "model/document_limits.h"
#include "model/file_utils.h"
#include "model/idea_document.h"
#include "model/persistence_controller.h"
#include "model/opml_parser.h"
#include "foundation/views/spinning_progress_indicator.h"
#include "platform/core/dispatch.h"
#include "platform/services/file_coordinator.h"
#include "platform/ui/responder.h"
#include "support/pdf_tools.h"
#include "support/required_tool.h"
#include "ui_test_env.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include "platform/ui/window.h"

#include <unistd.h>

#include <chrono>
#include <future>
#include <thread>

using namespace orrery;

namespace {

struct CountingPresenter : SharingViewControllerDelegate {
  int dismissals = 0;
  void pleaseDismissSharingView(SharingViewController& /*sheet*/) override { ++dismissals; }
};

struct Sheet {
  CountingPresenter presenter;
  std::shared_ptr<SharingViewController> sheet;
  explicit Sheet(IdeaPtr idea = exporttest::fanMap("Solar", 3, 2), ShareType type = 0) {
    sheet = std::make_shared<SharingViewController>(std::move(idea), QDateTime(QDate(2026, 1, 2), QTime(3, 4)));
    sheet->selectShareType(type);
    sheet->setDelegate(&presenter);
  }
  template <class Pane>
  Pane& pane() {
    for (const auto& p : sheet->shareTypes())
      if (auto* found = dynamic_cast<Pane*>(p.get())) return *found;
    throw std::runtime_error("no such pane");
  }
};

platform::FilePanelResult chosen(const QString& path) {
  platform::FilePanelResult result;
  result.response = platform::kModalResponseOK;
  result.paths = {path};
  return result;
}

QByteArray readAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Presses "Export ..." with the panel answering `path` and waits until the pane is idle again
// or the sheet asked to close.
bool exportTo(Sheet& s, ShareTypeView& pane, const QString& path, uitest::ScriptedPresenter& panels) {
  panels.panelAnswers.push_back(chosen(path));
  const int before = s.presenter.dismissals;
  pane.roundedTextButtonPressed(pane.exportButton());
  return exporttest::waitFor([&] { return s.presenter.dismissals > before || pane.userInteractionEnabled(); });
}

}  // namespace

TEST(ShareSheet, ShowsTheRequestedPaneAndTabInTheRowOrder) {
  Sheet s;
  std::vector<ShareType> row;
  for (const auto& tab : s.sheet->tabButtons()) row.push_back(tab->shareType());
  EXPECT_EQ(row, (std::vector<ShareType>{0, 1, 2, 3, 5, 6, 4}));
  auto shownOnly = [&](std::int64_t index) {
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (s.sheet->tabButtons()[i]->toggled() != (std::int64_t(i) == index)) return false;
      if (s.sheet->shareTypes()[i]->isHidden() == (std::int64_t(i) == index)) return false;
    }
    return true;
  };
  EXPECT_EQ(s.sheet->currentShareTypeIndex(), 0);
  EXPECT_TRUE(shownOnly(0));
  s.sheet->selectShareType(4);
  EXPECT_EQ(s.sheet->currentShareTypeIndex(), 6);
  EXPECT_TRUE(shownOnly(6));
  s.sheet->selectShareType(42);
  EXPECT_EQ(s.sheet->currentShareTypeIndex(), SharingViewController::kNotFound);
  EXPECT_TRUE(shownOnly(-1));
  // A click on a tab selects it, a second click keeps it selected.
  s.sheet->buttonPressed(*s.sheet->tabButtons()[3]);
  s.sheet->buttonPressed(*s.sheet->tabButtons()[3]);
  EXPECT_TRUE(shownOnly(3));
}

TEST(ShareSheet, TabsShrinkOnANarrowSheetAndStopAt180Points) {
  Sheet s;
  s.sheet->view()->setFrame(QRectF(0, 0, 1000, 370));
  s.sheet->applyLayout();
  const auto& narrow = *s.sheet->tabButtons()[2];
  EXPECT_NEAR(narrow.frame().width(), 1000.0 / 7, 1e-9);
  EXPECT_NEAR(narrow.frame().left(), 2 * 1000.0 / 7, 1e-9);
  EXPECT_EQ(narrow.titleLabel()->alphaValue(), 0);
  EXPECT_NEAR(narrow.iconView()->frame().center().x(), narrow.bounds().center().x(), 1e-9);
  EXPECT_EQ(s.sheet->shareTypes()[0]->frame(), QRectF(0, 112, 1000, 258));

  s.sheet->view()->setFrame(QRectF(0, 0, 1400, 370));
  s.sheet->applyLayout();
  const auto& last = *s.sheet->tabButtons()[6];
  EXPECT_EQ(last.frame(), QRectF(6 * 180, 0, 180, 112));
  EXPECT_EQ(last.titleLabel()->alphaValue(), 1);
  EXPECT_EQ(last.iconView()->frame().left(), 10);
  EXPECT_GE(last.titleLabel()->frame().left(), last.iconView()->frame().right() + 10 - 1e-9);
}

TEST(ShareSheet, CheckboxesKeepTheirStateAcrossPanes) {
  Sheet s(exporttest::fanMap("Solar", 2), 1);
  auto& pdf = s.pane<PDFShareTypeView>();
  EXPECT_TRUE(pdf.notesButton().toggled());
  pdf.buttonPressed(pdf.notesButton());
  s.sheet->selectShareType(3);
  s.sheet->selectShareType(1);
  EXPECT_FALSE(pdf.notesButton().toggled());
  // Checkboxes work while the buttons are off.
  pdf.setUserInteractionEnabled(false);
  pdf.buttonPressed(pdf.notesButton());
  EXPECT_TRUE(pdf.notesButton().toggled());
}

TEST(ShareSheet, EachWayOfClosingAsksThePresenterOnce) {
  uitest::PresenterScope panels;
  QTemporaryDir dir;
  {
    Sheet s;
    EXPECT_TRUE(s.sheet->tryToPerform(platform::Actions::cancelOperation));
    s.sheet->tryToPerform(platform::Actions::cancelOperation);
    EXPECT_EQ(s.presenter.dismissals, 1);
  }
  {
    Sheet s;
    s.sheet->screenProtectorWasClicked();
    s.sheet->screenProtectorWasClicked();
    EXPECT_EQ(s.presenter.dismissals, 1);
  }
  {
    Sheet s;
    auto& pane = s.pane<OPMLShareTypeView>();
    pane.roundedTextButtonPressed(pane.cancelButton());
    pane.roundedTextButtonPressed(pane.cancelButton());
    EXPECT_EQ(s.presenter.dismissals, 1);
  }
  {
    Sheet s;
    ASSERT_TRUE(exportTo(s, s.pane<OPMLShareTypeView>(), dir.filePath("a.opml"), *panels));
    EXPECT_EQ(s.presenter.dismissals, 1);
  }
}

TEST(ShareSheet, AWriteEndingAfterEscapeDoesNotCloseTheReopenedSheet) {
  uitest::PresenterScope panels;
  QTemporaryDir dir;
  Sheet first(exporttest::fanMap("Solar", 4), 4);
  auto& opml = first.pane<OPMLShareTypeView>();
  // The panel answers on the next turn, so the write ends after Escape.
  panels->panelAnswers.push_back(chosen(dir.filePath("late.opml")));
  opml.roundedTextButtonPressed(opml.exportButton());
  first.sheet->tryToPerform(platform::Actions::cancelOperation);
  ASSERT_EQ(first.presenter.dismissals, 1);
  Sheet second(exporttest::fanMap("Solar", 2), 4);
  ASSERT_TRUE(exporttest::waitFor([&] { return QFileInfo::exists(dir.filePath("late.opml")); }));
  EXPECT_EQ(first.presenter.dismissals, 1);
  EXPECT_EQ(second.presenter.dismissals, 0);
  EXPECT_TRUE(panels->alerts.empty());

  // A late failure still tells the user.
  panels->panelAnswers.push_back(chosen(dir.filePath("no such folder/late.opml")));
  opml.setUserInteractionEnabled(true);
  opml.roundedTextButtonPressed(opml.exportButton());
  ASSERT_TRUE(exporttest::waitFor([&] { return !panels->alerts.empty(); }));
  EXPECT_EQ(first.presenter.dismissals, 1);
}

TEST(ShareSheet, AWriteFailingAfterTheSheetIsGoneStillAlerts) {
  uitest::PresenterScope panels;
  QTemporaryDir dir;
  // A folder where the file should be: the write fails once it may run.
  const QString taken = dir.filePath("taken.orrery");
  ASSERT_TRUE(QDir().mkpath(taken));
  // The write waits for this holder of the file, so the sheet is gone when it fails.
  std::promise<void> release;
  std::promise<void> holding;
  std::thread holder([&] {
    platform::FileCoordinator().coordinateWriting(taken, [&](const QString&) {
      holding.set_value();
      release.get_future().wait();
    });
  });
  holding.get_future().wait();
  auto s = std::make_unique<Sheet>(exporttest::fanMap("Solar", 2), 0);
  auto& pane = s->pane<OrreryShareTypeView>();
  panels->panelAnswers.push_back(chosen(taken));
  pane.roundedTextButtonPressed(pane.exportButton());
  bool answered = false;
  platform::mainQueue().async([&] { answered = true; });  // after the panel's answer
  ASSERT_TRUE(exporttest::waitFor([&] { return answered; }));
  s->sheet->tryToPerform(platform::Actions::cancelOperation);
  s.reset();
  release.set_value();
  holder.join();
  ASSERT_TRUE(exporttest::waitFor([&] { return !panels->alerts.empty(); }));
  EXPECT_EQ(panels->alerts[0].messageText, "Failed to save file");
}

// A map held in memory whose native file would not open again (a note beyond what a map holds)
// is not exported; the alert says where and why.
TEST(SharePanes, AMapWhoseFileWouldNotOpenAgainIsNotExportedAndTheAlertSaysWhy) {
  uitest::PresenterScope panels;
  QTemporaryDir dir;
  IdeaPtr map = Idea::createWithText("Logs");
  map->addIdea(Idea::createWithText(QStringLiteral("log")));
  map->ideas().back()->setNote(QString(DocumentLimits::kMaxTextLength + 1, QLatin1Char('x')));
  Sheet s(map, 0);
  const QString path = dir.filePath("logs.orrery");
  ASSERT_TRUE(exportTo(s, s.pane<OrreryShareTypeView>(), path, *panels));
  ASSERT_TRUE(exporttest::waitFor([&] { return !panels->alerts.empty(); }));
  EXPECT_EQ(panels->alerts[0].messageText, "Failed to save file");
  const QString told = panels->alerts[0].informativeText;
  EXPECT_TRUE(told.contains(path) && told.contains("a text of 1000001 characters"))
      << told.toStdString() << " / " << panels->alerts[0].messageText.toStdString();
  EXPECT_FALSE(QFile::exists(path));
  EXPECT_EQ(s.presenter.dismissals, 0);
}

TEST(SharePanes, EveryFormatIsWrittenAndReadsBack) {
  uitest::PresenterScope panels;
  QTemporaryDir dir;
  IdeaPtr map = exporttest::fanMap("Solar", 3, 2);

  {
    Sheet s(map, 0);
    const QString path = dir.filePath("native.orrery");
    ASSERT_TRUE(exportTo(s, s.pane<OrreryShareTypeView>(), path, *panels));
    ASSERT_EQ(s.presenter.dismissals, 1);
    auto doc = IdeaDocument::createWithIdentifier("file://" + path);
    int read = -1;
    doc->readFromURL(QUrl::fromLocalFile(path), [&](bool ok) { read = ok; });
    ASSERT_TRUE(exporttest::waitFor([&] { return read >= 0; }));
    ASSERT_EQ(read, 1);
    ASSERT_TRUE(doc->idea());
    EXPECT_EQ(doc->idea()->text(), "Solar");
    EXPECT_EQ(doc->idea()->ideas().size(), 3u);
  }
  {
    Sheet s(map, 4);
    const QString path = dir.filePath("outline.opml");
    ASSERT_TRUE(exportTo(s, s.pane<OPMLShareTypeView>(), path, *panels));
    IdeaPtr parsed = OPMLParser().parseIdeaFromOPMLData(readAll(path));
    ASSERT_TRUE(parsed);
    ASSERT_EQ(parsed->ideas().size(), 3u);
    EXPECT_EQ(parsed->ideas()[1]->note(), "note of child 2");
  }
  {
    Sheet s(map, 3);
    auto& text = s.pane<TextShareTypeView>();
    ASSERT_TRUE(exportTo(s, text, dir.filePath("outline.txt"), *panels));
    EXPECT_TRUE(readAll(dir.filePath("outline.txt")).contains("\tchild 3"));
    EXPECT_TRUE(readAll(dir.filePath("outline.txt")).contains("note of child 2"));
    Sheet html(map, 3);
    auto& htmlPane = html.pane<TextShareTypeView>();
    htmlPane.buttonPressed(htmlPane.htmlFormatButton());
    htmlPane.buttonPressed(htmlPane.notesButton());
    ASSERT_TRUE(exportTo(html, htmlPane, dir.filePath("outline.html"), *panels));
    const QByteArray page = readAll(dir.filePath("outline.html"));
    EXPECT_TRUE(page.contains("<li><p>child 3</p></li>"));
    EXPECT_FALSE(page.contains("note of child 2"));
  }
  {
    Sheet s(map, 5);
    auto& image = s.pane<ImageShareTypeView>();
    image.buttonPressed(image.transparencyButton());
    ASSERT_TRUE(exportTo(s, image, dir.filePath("map.png"), *panels));
    QImage png(dir.filePath("map.png"));
    ASSERT_FALSE(png.isNull());
    EXPECT_TRUE(png.hasAlphaChannel());
    EXPECT_EQ(qAlpha(png.pixel(0, 0)), 0);
  }
  {
    Sheet s(map, 1);
    ASSERT_TRUE(exportTo(s, s.pane<PDFShareTypeView>(), dir.filePath("map.pdf"), *panels));
    ASSERT_EQ(s.presenter.dismissals, 1);
    if (testsupport::requireTool("pdfinfo", "poppler-utils")) {
      EXPECT_GE(testsupport::pdfPageCount(dir.filePath("map.pdf")), 1);
    }
  }
  for (ShareType type : {ShareType(2), ShareType(6)}) {
    Sheet s(map, type);
    ShareTypeView& pane = *s.sheet->shareTypes()[std::size_t(s.sheet->currentShareTypeIndex())];
    const QString path = dir.filePath(QString("web%1.zip").arg(type));
    ASSERT_TRUE(exportTo(s, pane, path, *panels));
    ASSERT_EQ(s.presenter.dismissals, 1);
    if (testsupport::requireTool("unzip", "unzip")) {
      int code = -1;
      testsupport::runTool("unzip", {"-t", path}, &code);
      EXPECT_EQ(code, 0);
    }
  }
}

TEST(SharePanes, NoPaneWritesOnTheCallingThreadAndTheIndicatorSpinsWhileAWriteRuns) {
  uitest::PresenterScope panels;
  QTemporaryDir dir;
  const IdeaPtr map = exporttest::fanMap("Busy", 40, 3);
  Sheet s(map, 1);
  for (const auto& pane : s.sheet->shareTypes()) {
    const std::string name = pane->fileTypeSuffix().toStdString();
    // The writer returns before it has run: the work is on another thread and the completion
    // comes back through the main queue.
    const QString path = dir.filePath("direct." + pane->fileTypeSuffix());
    bool done = false;
    pane->saveToFileAtURL(path, [&](const MyResultPtr& result) {
      EXPECT_TRUE(result->isOK()) << name;
      done = true;
    });
    EXPECT_FALSE(done) << name << " wrote on the calling thread";
    ASSERT_TRUE(exporttest::waitFor([&] { return done; })) << name;
    EXPECT_GT(QFileInfo(path).size(), 0) << name;
  }

  // Through the button, with the web export's queue held: the indicator spins from the chosen
  // file until the write ends.
  auto& web = s.pane<WebShareTypeView>();
  EXPECT_TRUE(web.progressIndicator().isHidden());
  panels->panelAnswers.push_back(chosen(dir.filePath("pressed.zip")));
  WebExporter::queue().suspend();
  web.roundedTextButtonPressed(web.exportButton());
  EXPECT_TRUE(exporttest::waitFor([&] { return !web.progressIndicator().isHidden(); }));
  EXPECT_TRUE(web.progressIndicator().isAnimating());
  EXPECT_FALSE(web.userInteractionEnabled());
  WebExporter::queue().resume();
  ASSERT_TRUE(exporttest::waitFor([&] { return s.presenter.dismissals == 1; }));
}

TEST(SharePanes, ThePanelProposesTheNameAndTypeOfThePane) {
  uitest::PresenterScope panels;
  Sheet s(Idea::createWithText(" + = "), 1);
  auto& pdf = s.pane<PDFShareTypeView>();
  pdf.roundedTextButtonPressed(pdf.exportButton());
  ASSERT_EQ(panels->panels.size(), 1u);
  EXPECT_EQ(panels->panels[0].nameFieldStringValue, "document.pdf");
  EXPECT_EQ(panels->panels[0].allowedFileTypes, QStringList{"pdf"});
  EXPECT_EQ(panels->panels[0].kind, platform::FilePanelRequest::Kind::Save);
  EXPECT_FALSE(panels->panels[0].directory.isEmpty());
  // Cancelled: the pane is ready again and the sheet stays.
  ASSERT_TRUE(exporttest::waitFor([&] { return pdf.userInteractionEnabled(); }));
  EXPECT_EQ(s.presenter.dismissals, 0);

  Sheet t(Idea::createWithText("Outline"), 3);
  auto& text = t.pane<TextShareTypeView>();
  text.roundedTextButtonPressed(text.exportButton());
  text.buttonPressed(text.htmlFormatButton());
  ASSERT_TRUE(exporttest::waitFor([&] { return text.userInteractionEnabled(); }));
  text.roundedTextButtonPressed(text.exportButton());
  ASSERT_EQ(panels->panels.size(), 3u);
  EXPECT_EQ(panels->panels[1].nameFieldStringValue, "Outline.txt");
  EXPECT_EQ(panels->panels[2].nameFieldStringValue, "Outline.html");
  EXPECT_EQ(panels->panels[2].allowedFileTypes, QStringList{"html"});
}

TEST(SharePanes, AFailedWriteAlertsKeepsTheOldFileAndTheButtons) {
  QTemporaryDir dir;
  const QString old = dir.filePath("outline.opml");
  {
    QFile file(old);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("old");
  }
  // Beneath a plain file nobody can write, root included; a read-only folder stops the others.
  QStringList destinations{old + "/outline.opml"};
  if (::geteuid() != 0) destinations << old;
  QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
  for (const QString& path : destinations) {
    uitest::PresenterScope panels;
    Sheet s(exporttest::fanMap("Solar", 2), 4);
    auto& opml = s.pane<OPMLShareTypeView>();
    ASSERT_TRUE(exportTo(s, opml, path, *panels));
    EXPECT_EQ(s.presenter.dismissals, 0);
    ASSERT_EQ(panels->alerts.size(), 1u);
    EXPECT_EQ(panels->alerts[0].messageText, "Failed to save file");
    EXPECT_FALSE(panels->alerts[0].informativeText.isEmpty());
    EXPECT_TRUE(opml.userInteractionEnabled());
  }
  QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  EXPECT_EQ(readAll(old), "old");
}

TEST(SharePanes, PressingExportWhileBusyStartsOneWrite) {
  uitest::PresenterScope panels;
  QTemporaryDir dir;
  Sheet s(exporttest::fanMap("Solar", 2), 4);
  auto& opml = s.pane<OPMLShareTypeView>();
  panels->panelAnswers.push_back(chosen(dir.filePath("one.opml")));
  opml.roundedTextButtonPressed(opml.exportButton());
  opml.roundedTextButtonPressed(opml.exportButton());
  opml.roundedTextButtonPressed(opml.shareButton());
  ASSERT_TRUE(exporttest::waitFor([&] { return s.presenter.dismissals == 1; }));
  EXPECT_EQ(panels->panels.size(), 1u);
}

namespace {

// Waits while both the main queue and Qt's events (the mail program's process) run.
bool waitWithEvents(const std::function<bool()>& condition) {
  for (int i = 0; i < 6000; ++i) {
    QCoreApplication::processEvents();
    if (uitest::loop().runUntil(condition, platform::Millis(10))) return true;
  }
  return condition();
}

// A stand-in desktop tool: records its arguments, one line per run, in "<name><code>.log" and
// exits with `code`. With `release`, it first waits until that file exists.
QString fakeTool(const QTemporaryDir& dir, const QString& name, int code, const QString& release = {}) {
  const QString path = dir.filePath(QString("%1%2").arg(name).arg(code));
  QFile script(path);
  script.open(QIODevice::WriteOnly);
  QString body = QString("#!/bin/sh\necho \"$@\" >> %1.log\n").arg(path);
  if (!release.isEmpty()) body += QString("while [ ! -e %1 ]; do sleep 0.02; done\necho ended >> %2.log\n").arg(release, path);
  script.write((body + QString("exit %1\n").arg(code)).toUtf8());
  script.close();
  script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  return path;
}

QStringList logOf(const QString& tool) {
  return QString::fromUtf8(readAll(tool + ".log")).split('\n', Qt::SkipEmptyParts);
}

void startCleanUps() {
  std::promise<void> scratch, handOff;
  FileUtil::cleanTemporaryFilesDuringStartup([&] { scratch.set_value(); });
  FileUtil::cleanHandOffFilesDuringStartup([&] { handOff.set_value(); });
  scratch.get_future().wait();
  handOff.get_future().wait();
}

struct MailScope {
  QString previousMail = MailHandOff::mailCommand();
  QString previousFolder = MailHandOff::folderCommand();
  // The hand-off folders outlive the run for the mail program; the test removes its own.
  QString handOff = FileUtil::handOffDirectory();
  QStringList before = QDir(handOff).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
  MailScope(const QString& mail, const QString& folder) {
    MailHandOff::mailCommand() = mail;
    MailHandOff::folderCommand() = folder;
  }
  ~MailScope() {
    MailHandOff::mailCommand() = previousMail;
    MailHandOff::folderCommand() = previousFolder;
    for (const QString& entry : QDir(handOff).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
      if (!before.contains(entry)) QDir(QDir(handOff).filePath(entry)).removeRecursively();
  }
};

}  // namespace

TEST(ShareMail, EachHandOffGetsAFolderOfItsOwnThatTheNextStartKeeps) {
  uitest::PresenterScope panels;
  QTemporaryDir dir;
  const QString mailer = fakeTool(dir, "mailer", 0);
  const QString folderTool = fakeTool(dir, "folder", 0);
  MailScope mail(mailer, folderTool);
  const QStringList volatileBefore = QDir(PersistenceController::volatileFolder()).entryList(QDir::Files);
  Sheet s(exporttest::fanMap("Solar", 2), 4);
  auto& opml = s.pane<OPMLShareTypeView>();
  opml.roundedTextButtonPressed(opml.shareButton());
  ASSERT_TRUE(waitWithEvents([&] { return logOf(mailer).size() == 1; }));
  opml.roundedTextButtonPressed(opml.shareButton());
  ASSERT_TRUE(waitWithEvents([&] { return logOf(mailer).size() == 2; }));
  const QStringList runs = logOf(mailer);
  ASSERT_EQ(runs.size(), 2);
  QStringList files;
  for (const QString& run : runs) {
    ASSERT_TRUE(run.startsWith("--attach "));
    files << run.mid(9);
    EXPECT_TRUE(files.last().endsWith("/Solar.opml"));
    EXPECT_NE(OPMLParser().parseIdeaFromOPMLData(readAll(files.last())), nullptr);
    // The user may have to attach it by hand after a restart: not in the scratch folder, which
    // the next start empties.
    EXPECT_TRUE(files.last().startsWith(FileUtil::handOffDirectory() + "/"));
    EXPECT_FALSE(files.last().startsWith(FileUtil::temporaryDirectoryForOrrery() + "/"));
  }
  EXPECT_NE(QFileInfo(files[0]).absolutePath(), QFileInfo(files[1]).absolutePath());
  EXPECT_EQ(s.presenter.dismissals, 0);
  EXPECT_TRUE(logOf(folderTool).empty());
  EXPECT_TRUE(panels->alerts.empty());
  EXPECT_EQ(QDir(PersistenceController::volatileFolder()).entryList(QDir::Files), volatileBefore);
  startCleanUps();
  for (const QString& file : files) EXPECT_TRUE(QFile::exists(file)) << file.toStdString();
}

TEST(ShareMail, WithoutAWorkingMailProgramTheAlertNamesTheFileAndWhichToolsDidNotOpen) {
  QTemporaryDir dir;
  struct Case {
    const char* name;
    QString mail;
    QString folder;
    QString notice;
  };
  // A desktop that takes the folder may hand it to any program: no folder window is promised.
  const QString handed = QStringLiteral(
      "No mail program opened. The exported file's folder was handed to the desktop to show. The file is here:");
  const QString neither = QStringLiteral("No mail program or file manager opened. The exported file is here:");
  const QString missing = dir.filePath("no-such-tool");
  const Case cases[] = {
      {"a failing mail program, a file manager", fakeTool(dir, "mailer", 3), fakeTool(dir, "folder", 0), handed},
      {"no mail program, a file manager", missing, fakeTool(dir, "folder", 0), handed},
      // What xdg-open does where no program opens folders.
      {"a failing mail program, a failing folder tool", fakeTool(dir, "mailer", 3), fakeTool(dir, "folder", 3), neither},
      {"no mail program, a failing folder tool", missing, fakeTool(dir, "folder", 4), neither},
      {"no mail program, no folder tool", missing, missing, neither},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    uitest::PresenterScope panels;
    MailScope mail(c.mail, c.folder);
    const qsizetype foldersBefore = logOf(c.folder).size();
    Sheet s(exporttest::fanMap("Solar", 2), 3);
    auto& text = s.pane<TextShareTypeView>();
    text.roundedTextButtonPressed(text.shareButton());
    ASSERT_TRUE(waitWithEvents([&] { return !panels->alerts.empty(); }));
    EXPECT_EQ(panels->alerts[0].messageText.toStdString(), c.notice.toStdString());
    const QString file = panels->alerts[0].informativeText;
    EXPECT_TRUE(file.endsWith("/Solar.txt")) << file.toStdString();
    EXPECT_TRUE(QFileInfo::exists(file)) << "the notice names the file";
    if (c.folder != missing) {
      const QStringList folders = logOf(c.folder);
      ASSERT_EQ(folders.size(), foldersBefore + 1);
      EXPECT_EQ(folders.last(), QFileInfo(file).absolutePath());
    }
    EXPECT_TRUE(text.userInteractionEnabled());
  }
}

TEST(ShareMail, AFileManagerThatKeepsRunningHasTakenTheFolderAfterFiveSeconds) {
  QTemporaryDir dir;
  const QString release = dir.filePath("release");
  const QString folderTool = fakeTool(dir, "folder", 0, release);
  uitest::PresenterScope panels;
  MailScope mail(dir.filePath("no-such-mailer"), folderTool);
  Sheet s(exporttest::fanMap("Solar", 2), 3);
  auto& text = s.pane<TextShareTypeView>();
  text.roundedTextButtonPressed(text.shareButton());
  ASSERT_TRUE(waitWithEvents([&] { return logOf(folderTool).size() == 1; }));
  const double wait = std::chrono::duration<double>(MailHandOff::kFolderTakenAfter).count();
  uitest::advance(wait - 0.1);
  EXPECT_TRUE(panels->alerts.empty()) << "the alert came before the file manager had its time";
  uitest::advance(0.2);
  ASSERT_TRUE(waitWithEvents([&] { return !panels->alerts.empty(); }));
  EXPECT_EQ(panels->alerts[0].messageText.toStdString(),
            "No mail program opened. The exported file's folder was handed to the desktop to show. The file is here:");
  QFile(release).open(QIODevice::WriteOnly);
  ASSERT_TRUE(waitWithEvents([&] { return logOf(folderTool).contains("ended"); }));
  EXPECT_EQ(panels->alerts.size(), 1u) << "its end says nothing more";
}

TEST(ShareSheet, TitlesShowBesideTheIconsOnlyWhileEveryTabIsAtLeast162PointsWide) {
  // Seven tabs of 162 points need a 1,134-point band; below it each tab shows its icon alone.
  for (const double width : {1400.0, 1134.0, 1133.0, 1024.0, 1000.0, 760.0}) {
    const bool titled = width >= 1134;
    Sheet s;
    platform::Window window(QSizeF(width, 370));
    window.contentView()->addSubview(s.sheet->view());
    s.sheet->view()->setFrame(QRectF(0, 0, width, 370));
    s.sheet->applyLayout();
    window.displayIfNeeded();
    const QImage shot = window.snapshot();
    const double scale = shot.width() / width;
    for (const auto& tab : s.sheet->tabButtons()) {
      const std::string name = "tab " + std::to_string(tab->shareType()) + " at " + std::to_string(int(width));
      // The tab's pixels outside its icon hold the (dark) letters of its title, or none.
      const QRectF icon = tab->convertRectToView(tab->iconView()->frame(), nullptr);
      int dark = 0;
      const QRect area = tab->frame().toAlignedRect();
      for (int y = area.top(); y < area.bottom(); ++y)
        for (int x = area.left(); x < area.right(); ++x)
          if (!icon.adjusted(-1, -1, 1, 1).contains(QPointF(x, y)) &&
              qGray(shot.pixel(int(x * scale), int(y * scale))) < 160)
            ++dark;
      if (titled) {
        EXPECT_GT(dark, 50) << name << " shows no title";
        EXPECT_TRUE(tab->bounds().contains(tab->titleLabel()->frame())) << name;
        EXPECT_EQ(tab->iconView()->frame().left(), 10) << name;
      } else {
        EXPECT_EQ(dark, 0) << name << " shows text beside its icon";
        EXPECT_NEAR(tab->iconView()->frame().center().x(), tab->bounds().center().x(), 0.5) << name;
        EXPECT_NEAR(tab->iconView()->frame().center().y(), tab->bounds().center().y(), 0.5) << name;
      }
    }
  }
}
