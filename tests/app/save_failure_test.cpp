// A save the disk refuses is never silent: the first failure of a window tells which file and
// why, Save asks as the close does, and a quit nobody is asked about keeps the edit as a copy
// that the next start offers.

#include "app_test_support.h"

#include "editor_screen/editor_screens.h"
#include "editor_screen/solar_system_view_controller.h"
#include "app/quit_signals.h"
#include "model/document_limits.h"
#include "model/recovery_copies.h"
#include "platform/services/standard_folders.h"
#include "support/rerun_this_program.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMainWindow>
#include <QProcess>

#include <algorithm>
#include <csignal>
#include <optional>
#include <sys/mount.h>

using namespace orrery;
using apptest::AppFixture;
using apptest::treeIn;

namespace {

constexpr int kFirstButton = 1000;
constexpr char kFailed[] = "Failed to update document";

// A file system with no room left: a 64 KiB tmpfs, filled, where it can be mounted (root, as CI
// runs); else nothing, and the child puts a folder where the document's file was.
class FullDisk {
 public:
  explicit FullDisk(const QString& folder) : mFolder(folder) {
    mMounted = ::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, "size=64k") == 0;
  }
  ~FullDisk() {
    if (mMounted) ::umount2(QFile::encodeName(mFolder).constData(), MNT_DETACH);
  }
  bool mounted() const { return mMounted; }
  // Takes the room that is left.
  bool fill() const {
    QFile filler(QDir(mFolder).filePath(QStringLiteral("filler")));
    if (!filler.open(QIODevice::WriteOnly)) return false;
    const QByteArray block(4096, 'x');
    while (filler.write(block) == block.size() && filler.flush()) {
    }
    return true;
  }

 private:
  QString mFolder;
  bool mMounted = false;
};

constexpr char kChildDocument[] = "ORRERY_SIGNAL_CHILD_DOCUMENT";
constexpr char kChildData[] = "ORRERY_SIGNAL_CHILD_DATA";
constexpr char kChildStandIn[] = "ORRERY_SIGNAL_CHILD_STAND_IN";
constexpr char kChildNote[] = "ORRERY_SIGNAL_CHILD_NOTE";

// A note as long as a map holds, of one character: a map of 51 packs so tightly at zlib's
// default level that the reader would take its file for a compression bomb.
QString longestRun() { return QString(DocumentLimits::kMaxTextLength, QLatin1Char('=')); }

class SaveFailure : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    installEditorScreens();
    defaults().setString("1.6.0.160", "CurrentOrreryVersion");
    removeRecoveryFiles();
  }
  void TearDown() override {
    removeRecoveryFiles();
    AppFixture::TearDown();
  }
  // Those that are offered and those that are not.
  static void removeRecoveryFiles() {
    const QDir folder(recoveryFolder());
    if (recoveryFolder().isEmpty()) return;
    for (const QString& name : folder.entryList(QDir::Files)) QFile::remove(folder.filePath(name));
  }

  // Opens the document at `file` and adds an idea, whose save the disk refuses: a full disk, or
  // a folder that takes the file's name once it is open (`standIn`; it holds for root too).
  SolarSystemViewController* openAndEditRefusedDocument(const QString& file, bool standIn = true,
                                                        const QString& note = {}) {
    defaults().removeObjectForKey(QStringLiteral("LocalDocumentWindows"));
    defaults().removeObjectForKey(QStringLiteral("CurrentState"));
    auto& app = launch({file});
    SolarSystemViewController* editor = nullptr;
    uitest::loop().runUntil([&] {
      editor = app.windowControllers().empty() ? nullptr
                                               : dynamic_cast<SolarSystemViewController*>(
                                                     app.windowControllers().front()->myWindow().controller().get());
      return editor && editor->solarSystem() && editor->realIdea();
    });
    if (!editor || (standIn && (!QFile::remove(file) || !QDir().mkdir(file)))) return nullptr;
    presenter->alerts.clear();
    const IdeaPtr typed = Idea::createWithText(QStringLiteral("typed"));
    typed->setNote(note);
    editor->addNewIdeaAfterIndex(0, typed, nullptr);
    uitest::loop().runUntil([&] { return !editor->isUpdatingDocument(); });
    return editor;
  }

  QString mFile;

  // The child: the document handed over at launch opens, an edit goes in that the disk refuses,
  // and the program waits for its signal with the quit signals installed as the program has them.
  [[noreturn]] void editUntilSignalled() {
    platform::setStandardFolderOverride(platform::StandardFolder::ApplicationSupport, qEnvironmentVariable(kChildData));
    SolarSystemViewController* editor =
        openAndEditRefusedDocument(qEnvironmentVariable(kChildDocument), qEnvironmentVariableIsSet(kChildStandIn),
                                   qEnvironmentVariableIsSet(kChildNote) ? longestRun() : QString());
    if (!editor || !editor->hasUnsavedEdit()) std::_Exit(3);
    installQuitSignalHandlers([this] { app().terminate(/*askScreens=*/false); });
    std::printf("ready\n");
    std::fflush(stdout);
    QElapsedTimer timer;
    timer.start();
    while (exits == 0 && timer.elapsed() < 20000) {
      uitest::loop().runPending();
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    std::_Exit(exits > 0 ? 0 : 4);
  }
};

TEST_F(SaveFailure, TheFirstFailedSaveTellsTheFileAndTheReasonOnceAndSaveAsks) {
  mFile = writeDocument(QStringLiteral("told.orrery"), QStringLiteral("root"));
  SolarSystemViewController* editor = openAndEditRefusedDocument(mFile);
  ASSERT_TRUE(editor);
  ASSERT_TRUE(editor->hasUnsavedEdit());
  ASSERT_EQ(presenter->alerts.size(), 1u) << "the first failure tells at once";
  const auto& told = presenter->alerts[0];
  EXPECT_EQ(told.messageText, QLatin1String(kFailed));
  EXPECT_TRUE(told.informativeText.contains(QFileInfo(mFile).fileName())) << told.informativeText.toStdString();
  EXPECT_TRUE(told.informativeText.contains(QStringLiteral("The document could not be saved:")))
      << "and why: " << told.informativeText.toStdString();
  EXPECT_TRUE(editor->myWindow()->widget()->isWindowModified()) << "the window keeps its edited mark";

  // Later failures of the same edit add nothing.
  editor->addNewIdeaAfterIndex(0, Idea::createWithText(QStringLiteral("more")), nullptr);
  ASSERT_TRUE(uitest::loop().runUntil([&] { return !editor->isUpdatingDocument(); }));
  EXPECT_EQ(presenter->alerts.size(), 1u);

  // Save asks as the close does; Cancel keeps the edit and the mark.
  presenter->alertAnswers = {kFirstButton + 2};
  editor->cmdSaveLocalFile();
  ASSERT_TRUE(uitest::loop().runUntil([&] { return presenter->alerts.size() == 2u; }));
  EXPECT_EQ(presenter->alerts[1].messageText, QLatin1String(kFailed));
  EXPECT_EQ(presenter->alerts[1].buttons.size(), 3u) << "Save As…, Do Not Save, Cancel";
  uitest::advance(0.5);
  EXPECT_EQ(presenter->alerts.size(), 2u);
  EXPECT_TRUE(editor->hasUnsavedEdit());
  EXPECT_TRUE(editor->myWindow()->widget()->isWindowModified());

  // Once the disk takes it, Save asks nothing and the mark goes.
  ASSERT_TRUE(QDir().rmdir(mFile));
  editor->cmdSaveLocalFile();
  ASSERT_TRUE(uitest::loop().runUntil([&] { return !editor->isUpdatingDocument(); }));
  uitest::advance(0.5);
  EXPECT_EQ(presenter->alerts.size(), 2u);
  EXPECT_FALSE(editor->hasUnsavedEdit());
  ASSERT_TRUE(treeIn(mFile));
  EXPECT_EQ(treeIn(mFile)->ideas().size(), 2u);
  quit();
}

TEST_F(SaveFailure, AQuitNobodyIsAskedAboutKeepsTheEditAndTheNextStartOffersIt) {
  mFile = writeDocument(QStringLiteral("kept.orrery"), QStringLiteral("root"));
  SolarSystemViewController* editor = openAndEditRefusedDocument(mFile);
  ASSERT_TRUE(editor);
  ASSERT_TRUE(editor->hasUnsavedEdit());
  const size_t before = presenter->alerts.size();
  app().terminate(/*askScreens=*/false);
  ASSERT_TRUE(uitest::loop().runUntil([&] { return exits > 0; }));
  EXPECT_EQ(presenter->alerts.size(), before) << "nobody is asked at such a quit";
  const QStringList copies = recoveryCopies();
  ASSERT_EQ(copies.size(), 1) << "the edit the disk refused is kept";
  EXPECT_TRUE(QFileInfo(copies[0]).fileName().startsWith(QStringLiteral("kept "))) << copies[0].toStdString();
  const IdeaPtr kept = treeIn(copies[0]);
  ASSERT_TRUE(kept);
  ASSERT_EQ(kept->ideas().size(), 1u);
  EXPECT_EQ(kept->ideas()[0]->text(), QStringLiteral("typed"));

  // An empty or unreadable file there (a copy an earlier version wrote empty) is no kept edit.
  const QString empty = QDir(recoveryFolder()).filePath(QStringLiteral("empty 2026-01-01 00.00.00.orrery"));
  const QString broken = QDir(recoveryFolder()).filePath(QStringLiteral("broken 2026-01-01 00.00.00.orrery"));
  for (const QString& path : {empty, broken}) {
    QFile out(path);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    if (path == broken) out.write("not a document");
  }

  // The next start offers it; "Not Now" leaves it for the start after, "Open" makes it a new
  // document and the copy goes.
  for (const int answer : {kFirstButton + 1, kFirstButton}) {
    presenter->alerts.clear();
    presenter->alertAnswers = {answer};
    defaults().removeObjectForKey(QStringLiteral("LocalDocumentWindows"));
    defaults().removeObjectForKey(QStringLiteral("CurrentState"));
    auto& again = launch({}, answer == kFirstButton ? 2 : 1);
    ASSERT_FALSE(presenter->alerts.empty());
    EXPECT_EQ(presenter->alerts[0].messageText, QStringLiteral("Recovered documents"));
    // By the map's title, not by the copy's file name.
    const QString offered = presenter->alerts[0].informativeText;
    EXPECT_TRUE(offered.contains(QStringLiteral("\u201Croot\u201D, kept "))) << offered.toStdString();
    EXPECT_FALSE(offered.contains(QFileInfo(copies[0]).completeBaseName())) << offered.toStdString();
    EXPECT_FALSE(presenter->alerts[0].informativeText.contains(QStringLiteral("empty")) ||
                 presenter->alerts[0].informativeText.contains(QStringLiteral("broken")))
        << presenter->alerts[0].informativeText.toStdString();
    if (answer != kFirstButton) {
      EXPECT_EQ(recoveryCopies(), copies);
      quit();
      continue;
    }
    ASSERT_TRUE(uitest::loop().runUntil([&] { return recoveryCopies().isEmpty(); })) << "the copy stays";
    bool shown = false;
    for (const auto& c : again.windowControllers()) {
      auto* opened = dynamic_cast<SolarSystemViewController*>(c->myWindow().controller().get());
      shown = shown || (opened && opened->realIdea() && opened->realIdea()->ideas().size() == 1u &&
                        opened->realIdea()->ideas()[0]->text() == QStringLiteral("typed"));
    }
    EXPECT_TRUE(shown) << "no window shows the recovered edit";
    quit();
  }
  // With only those left, the start offers nothing.
  presenter->alerts.clear();
  defaults().removeObjectForKey(QStringLiteral("LocalDocumentWindows"));
  defaults().removeObjectForKey(QStringLiteral("CurrentState"));
  launch({});
  for (const auto& alert : presenter->alerts) EXPECT_NE(alert.messageText, QStringLiteral("Recovered documents"));
  quit();
  EXPECT_TRUE(QFile::exists(empty) && QFile::exists(broken)) << "they stay where they are";
}

TEST_F(SaveFailure, ASignalWithAnEditTheFullDiskRefusedKeepsTheEditForTheNextStart) {
  SKIP_CHILD_PROCESS_UNDER_THREAD_SANITIZER();
  if (qEnvironmentVariableIsSet(kChildDocument))
    editUntilSignalled();
  const struct {
    const char* what;
    int longNotes;  // notes of longestRun() in the map before the edit, which adds one more
    bool fullDisk;
  } rows[] = {
      {"an idea typed into a map on a full disk", 0, true},
      {"a 51st note of a million '=' into a map whose file the disk refuses", 50, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    QTemporaryDir disk, data;
    std::optional<FullDisk> full;
    if (row.fullDisk) full.emplace(disk.path());
    const bool mounted = full && full->mounted();
    const QString file = QDir(disk.path()).filePath(QStringLiteral("logout.orrery"));
    {
      auto doc = IdeaDocument::createWithFileName(file, DocumentLocationLocalFile);
      doc->setIdea(Idea::createWithText(QStringLiteral("root")));
      for (int i = 0; i < row.longNotes; ++i) {
        doc->idea()->addIdea(Idea::createWithText(QStringLiteral("log %1").arg(i)));
        doc->idea()->ideas().back()->setNote(longestRun());
      }
      QFile out(file);
      ASSERT_TRUE(out.open(QIODevice::WriteOnly) && out.write(doc->exportAsOrreryData()) > 0);
    }
    if (mounted) {
      ASSERT_TRUE(full->fill());
    }
    const QByteArray before = [&] {
      QFile in(file);
      return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    }();

    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"GTEST_TOTAL_SHARDS", "GTEST_SHARD_INDEX", "GTEST_SHARD_STATUS_FILE"}) env.remove(name);
    env.insert(kChildDocument, file);
    env.insert(kChildData, data.path());
    if (!mounted) env.insert(kChildStandIn, QStringLiteral("1"));
    if (row.longNotes > 0) env.insert(kChildNote, QStringLiteral("1"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    const QString self = QStringLiteral("SaveFailure.ASignalWithAnEditTheFullDiskRefusedKeepsTheEditForTheNextStart");
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=") + self});
    ASSERT_TRUE(child.waitForStarted(10000)) << child.errorString().toStdString();
    QByteArray output;
    QElapsedTimer timer;
    timer.start();
    while (!output.contains("ready\n") && child.state() == QProcess::Running && timer.elapsed() < 60000)
      if (child.waitForReadyRead(1000)) output += child.readAll();
    ASSERT_TRUE(output.contains("ready\n")) << output.toStdString();
    ::kill(static_cast<pid_t>(child.processId()), SIGTERM);
    ASSERT_TRUE(child.waitForFinished(20000));
    output += child.readAll();
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit) << output.toStdString();
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();

    const QStringList copies =
        QDir(data.filePath(QStringLiteral("Recovered Documents"))).entryList({QStringLiteral("*.orrery")}, QDir::Files);
    ASSERT_EQ(copies.size(), 1) << "the edit is gone: " << output.toStdString();
    const IdeaPtr kept = treeIn(data.filePath(QStringLiteral("Recovered Documents/") + copies[0]));
    ASSERT_TRUE(kept) << "the copy does not open: " << output.toStdString();
    ASSERT_EQ(kept->ideas().size(), size_t(row.longNotes + 1));
    const auto typed = std::find_if(kept->ideas().begin(), kept->ideas().end(),
                                    [](const IdeaPtr& idea) { return idea->text() == QStringLiteral("typed"); });
    ASSERT_NE(typed, kept->ideas().end());
    EXPECT_EQ((*typed)->note(), row.longNotes > 0 ? longestRun() : QString());
    if (mounted) {
      QFile in(file);
      ASSERT_TRUE(in.open(QIODevice::ReadOnly));
      EXPECT_EQ(in.readAll(), before) << "the full disk kept the old file whole";
    }
  }
}

}  // namespace
