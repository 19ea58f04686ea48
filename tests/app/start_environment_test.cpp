// The program as a terminal starts it: whatever the environment names for its folders, a start
// and a clean quit print nothing (the program's log lines go to the system log, where a start
// that went well logs no failure), and a start
// that cannot work says why and ends. A crash at any point of the start (in a test build of the
// program) leaves its record for the next start.

#include "app/app_delegate.h"
#include "app/quit_signals.h"
#include "cloud/dropbox_folder_manager_state.h"
#include "foundation/globals.h"
#include "model/idea_document.h"
#include "platform/services/user_defaults.h"
#include "support/private_x_server.h"
#include "support/process_home.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QLibraryInfo>
#include <QLocalServer>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <iostream>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

// The crash reporter's launch markers and signal records under `caches`.
std::pair<QStringList, QStringList> crashTraces(const QString& caches) {
  QStringList markers, records;
  for (QDirIterator it(caches, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
    const QString path = it.next();
    if (it.fileName() == QLatin1String("launchmarker")) markers << path;
    if (it.fileName() == QLatin1String("signal.crkrecord")) records << path;
  }
  return {markers, records};
}

struct ProgramRun {
  bool drew = false;
  bool finished = false;
  QProcess::ExitStatus status = QProcess::NormalExit;
  int exitCode = -1;
  QByteArray terminal;   // standard output and error, the first-frame lines left out
  QByteArray systemLog;  // the lines the program sent to the system log
};

// Starts the program, waits for its first frame when it gets that far (and for `awaited` in what
// it writes, when given), then quits it with SIGTERM as a logout does. The first-frame line is
// the one thing asked for on the terminal.
ProgramRun startAndQuit(QProcessEnvironment env, const QString& workingFolder, const QStringList& arguments = {},
                        const QString& program = QStringLiteral(ORRERY_BINARY), const char* awaited = nullptr) {
  env.insert(QStringLiteral("ORRERY_LOG_FIRST_FRAMES"), QStringLiteral("1"));
  // The program's system log lines are copied to its standard error, marked with its name and id.
  const QString preload = env.value(QStringLiteral("LD_PRELOAD"));
  env.insert(QStringLiteral("LD_PRELOAD"),
             QStringLiteral(ORRERY_SYSTEM_LOG_COPY) + (preload.isEmpty() ? QString() : ' ' + preload));
  QProcess p;
  p.setProcessEnvironment(env);
  p.setWorkingDirectory(workingFolder);
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.setChildProcessModifier([] {
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
  });
  p.start(program, arguments);
  ProgramRun run;
  if (!p.waitForStarted(10000)) {
    run.terminal = p.errorString().toLocal8Bit();
    return run;
  }
  QByteArray output;
  QElapsedTimer timer;
  timer.start();
  // The timeout only ends a broken run.
  while (!(run.drew && (!awaited || output.contains(awaited))) && p.state() == QProcess::Running &&
         timer.elapsed() < 30000) {
    if (p.waitForReadyRead(500)) output += p.readAll();
    run.drew = output.contains("orrery: first frame of ");
  }
  if (p.state() == QProcess::Running && run.drew) ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
  // False when it ended before the call: what counts is that it ended.
  p.waitForFinished(20000);
  run.finished = p.state() == QProcess::NotRunning;
  if (!run.finished) p.kill(), p.waitForFinished(5000);
  output += p.readAll();
  run.status = p.exitStatus();
  run.exitCode = p.exitCode();
  // Qt's own messages (the offscreen stand-in's "This plugin does not support raise()" among
  // them) go to the system log with the program's.
  static const QRegularExpression asked(QStringLiteral("^orrery: first frame of .*\\n"),
                                        QRegularExpression::MultilineOption);
  static const QRegularExpression logged(QStringLiteral("^orrery\\[[0-9]+\\]: (.*\\n)"),
                                         QRegularExpression::MultilineOption);
  QString text = QString::fromLocal8Bit(output).remove(asked);
  for (auto it = logged.globalMatch(text); it.hasNext();) run.systemLog += it.next().captured(1).toLocal8Bit();
  run.terminal = text.remove(logged).toLocal8Bit();
  return run;
}

TEST(StartEnvironment, AStartAndACleanQuitPrintNothingWhateverTheFoldersAreNamed) {
  struct Row {
    const char* name;
    std::vector<std::pair<const char*, const char*>> set;  // a null value removes the variable
    QByteArray settings = {};                               // the settings file's bytes, when any
    std::vector<const char*> logged = {};                   // the failures the start logs, the last awaited
    const char* fifo = nullptr;                             // a file, under the home, that is a FIFO
  };
  testsupport::PrivateXServer xServer;
  if (xServer.display().isEmpty())
    ADD_FAILURE() << "no X server (Xvfb) could be started: the real display is not checked";
  const QByteArray display = xServer.display().toLatin1();
  // A libcurl that does not load comes first where the loader looks.
  QTemporaryDir noCurl;
  QFile emptyCurl(noCurl.filePath(QStringLiteral("libcurl.so.4")));
  ASSERT_TRUE(emptyCurl.open(QIODevice::WriteOnly));
  const QByteArray libraryPath = QStringList{noCurl.path(), qEnvironmentVariable("LD_LIBRARY_PATH")}.join(':').toLocal8Bit();
  const Row rows[] = {
      {"every folder named", {}},
      {"a real display", {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", display.constData()}}},
      // Qt tries the platforms of a list in turn: the first lacking its plugin refuses nothing.
      {"a platform list whose first has no plugin",
       {{"QT_QPA_PLATFORM", "bogus;xcb"}, {"DISPLAY", display.constData()}}},
      {"no runtime folder", {{"XDG_RUNTIME_DIR", nullptr}}},
      {"a runtime folder others may enter", {{"XDG_RUNTIME_DIR", "/tmp"}}},
      {"relative folders",
       {{"XDG_RUNTIME_DIR", "run"},
        {"XDG_CONFIG_HOME", "config"},
        {"XDG_DATA_HOME", "data"},
        {"XDG_CACHE_HOME", "cache"},
        {"XDG_STATE_HOME", "state"},
        {"XDG_DATA_DIRS", "share:/usr/share"},
        {"XDG_CONFIG_DIRS", "etc"}}},
      // The line that says the file was set aside is logged, and logs go to the system log.
      {"an unreadable settings file", {}, "not a settings file", {"Ignoring unreadable settings file"}},
      // So do the telemetry SDK's lines: here the one that says the settings download failed.
      {"an unreachable settings endpoint",
       {{"SettingsEndpoint", "https://127.0.0.1:1"}},
       {},
       {"[Telemetry] failed to download settings"}},
      // Without libcurl the settings download says that transfers are unavailable, not that its
      // address is bad.
      {"no libcurl",
       {{"LD_LIBRARY_PATH", libraryPath.constData()}, {"SettingsEndpoint", "https://127.0.0.1:1"}},
       {},
       {"Network transfers are unavailable: libcurl.so.4 could not be loaded",
        "[Telemetry] failed to download settings Error Domain=URLErrorDomain Code=-1 \"Network transfers are "
        "unavailable: libcurl.so.4 could not be loaded"}},
      // A FIFO in a settings file's place is not waited on: the start goes on without its values.
      {"a FIFO for the settings file", {}, {}, {"not a regular file (a FIFO)"}, "config/Orrery/Orrery/defaults.dat"},
      // What is no file of its own at the single-instance lock's name is no other instance.
      {"a FIFO for the single-instance lock",
       {},
       {},
       {"Hand-off: cannot use the lock file", "not a regular file (a FIFO); this instance runs alone"},
       "runtime/orrery.lock"},
      {"a FIFO for the SDK's defaults",
       {},
       {},
       {"[Telemetry:UserDefaults] failed to read existing UserDefaults file", "not a regular file (a FIFO)"},
       "data/org.orrery.Orrery/org.orrery.telemetry/CRKUserDefaults.plist"},
  };
  // What a start that went well must not log.
  static const QRegularExpression failure(QStringLiteral("unable|fail|error|cannot|not available|unavailable"),
                                          QRegularExpression::CaseInsensitiveOption);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    testsupport::ProcessHome home;
    for (const auto& [name, value] : row.set) {
      if (value)
        home.env.insert(QString::fromLatin1(name), QString::fromLatin1(value));
      else
        home.env.remove(QString::fromLatin1(name));
    }
    if (!row.settings.isEmpty()) {
      QDir().mkpath(QFileInfo(home.defaultsFile()).path());
      QFile settings(home.defaultsFile());
      ASSERT_TRUE(settings.open(QIODevice::WriteOnly) && settings.write(row.settings) == row.settings.size());
    }
    if (row.fifo) {
      const QString fifo = home.root.filePath(QString::fromLatin1(row.fifo));
      ASSERT_TRUE(QDir().mkpath(QFileInfo(fifo).path()) && ::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    }
    QTemporaryDir working;
    const ProgramRun run = startAndQuit(home.env, working.path(), {}, QStringLiteral(ORRERY_BINARY),
                                        row.logged.empty() ? nullptr : row.logged.back());
    EXPECT_TRUE(run.drew) << "no window drew: " << run.terminal.toStdString();
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(run.status, QProcess::NormalExit);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.terminal.toStdString(), "") << "printed on the terminal";
    for (const char* line : row.logged)
      EXPECT_TRUE(run.systemLog.contains(line)) << "not in the system log: " << run.systemLog.toStdString();
    if (row.logged.empty()) {
      EXPECT_FALSE(QString::fromLocal8Bit(run.systemLog).contains(failure)) << "logged: " << run.systemLog.toStdString();
    }
    if (row.fifo) {
      EXPECT_EQ(run.systemLog.count("not a regular file"), 1) << "not said once: " << run.systemLog.toStdString();
    }
    EXPECT_TRUE(QDir(working.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
        << "a relative folder was made in the working folder: "
        << QDir(working.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).join(' ').toStdString();
    // A start that went well leaves no sign of a failed one.
    const auto [markers, records] = crashTraces(home.root.filePath(QStringLiteral("cache")));
    EXPECT_TRUE(markers.isEmpty()) << markers.join(' ').toStdString();
    EXPECT_TRUE(records.isEmpty()) << records.join(' ').toStdString();
  }
}

TEST(StartEnvironment, ARelativeHomeEndsTheStartSayingWhy) {
  testsupport::ProcessHome home;
  home.env.insert(QStringLiteral("HOME"), QStringLiteral("home"));
  for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
    home.env.insert(QString::fromLatin1(name), QString::fromLatin1(name).toLower());
  QTemporaryDir working;
  const ProgramRun run = startAndQuit(home.env, working.path());
  EXPECT_FALSE(run.drew);
  ASSERT_TRUE(run.finished) << "the start hangs: " << run.terminal.toStdString();
  EXPECT_EQ(run.status, QProcess::NormalExit);
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_TRUE(run.terminal.startsWith("orrery: HOME is \"home\", not a full path")) << run.terminal.toStdString();
  EXPECT_TRUE(QDir(working.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
}

// Without a display, or without the plugin of the Qt platform asked for, Qt would abort, and the
// abort would be filed as a crash: the program says so itself, ends with 1 and leaves no record.
// What needs no display still works.
TEST(StartEnvironment, WithoutADisplayOrItsPlatformTheStartSaysSoAndLeavesNoCrashRecord) {
  struct Row {
    std::vector<std::pair<const char*, const char*>> set;  // a null value removes the variable
    QStringList arguments;
    const char* said;  // how the line begins
  };
  const char* const noDisplay = "orrery: cannot connect to a display (";
  // A Wayland compositor's socket that accepts, so that only the missing plugin stands in the way.
  QLocalServer compositor;
  QTemporaryDir runtime;
  ASSERT_TRUE(compositor.listen(runtime.filePath(QStringLiteral("wayland-test"))));
  const QByteArray compositorPath = compositor.fullServerName().toLocal8Bit();
  const Row rows[] = {
      {{{"QT_QPA_PLATFORM", nullptr}, {"DISPLAY", nullptr}}, {}, noDisplay},
      {{{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", nullptr}}, {}, noDisplay},
      {{{"QT_QPA_PLATFORM", "XCB"}, {"DISPLAY", nullptr}}, {}, noDisplay},
      {{{"QT_QPA_PLATFORM", nullptr}, {"DISPLAY", ":no-such-display"}}, {}, noDisplay},
      {{{"QT_QPA_PLATFORM", "wayland;xcb"}, {"DISPLAY", nullptr}}, {}, noDisplay},
      {{}, {QStringLiteral("-platform"), QStringLiteral("bogus")}, "orrery: cannot load the Qt platform \"bogus\" ("},
      {{{"QT_QPA_PLATFORM", "wayland"}, {"WAYLAND_DISPLAY", compositorPath.constData()}},
       {},
       "orrery: cannot load the Qt platform \"wayland\" ("},
  };
  const bool waylandInstalled = !QDir(QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms"))
                                     .entryList({QStringLiteral("*wayland*")})
                                     .isEmpty();
  for (const Row& row : rows) {
    testsupport::ProcessHome home;
    home.env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    home.env.remove(QStringLiteral("WAYLAND_SOCKET"));
    QString name = row.arguments.join(' ') + ' ';
    for (const auto& [variable, value] : row.set) {
      name += QStringLiteral("%1=%2 ").arg(QString::fromLatin1(variable), value ? QString::fromLatin1(value) : "(unset)");
      if (value)
        home.env.insert(QString::fromLatin1(variable), QString::fromLatin1(value));
      else
        home.env.remove(QString::fromLatin1(variable));
    }
    SCOPED_TRACE(name.toStdString());
    if (waylandInstalled && name.contains(QLatin1String("=wayland "))) {
      std::cout << "Qt's Wayland platform is installed: a start without it is not tried\n";
      continue;
    }
    QTemporaryDir working;
    const ProgramRun run = startAndQuit(home.env, working.path(), row.arguments);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.status, QProcess::NormalExit) << "it aborted";
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.terminal.startsWith(row.said)) << run.terminal.toStdString();
    EXPECT_EQ(run.terminal.count('\n'), 1) << run.terminal.toStdString();
    const auto [markers, records] = crashTraces(home.root.filePath(QStringLiteral("cache")));
    EXPECT_TRUE(markers.isEmpty()) << markers.join(' ').toStdString();
    EXPECT_TRUE(records.isEmpty()) << records.join(' ').toStdString();

    const ProgramRun refused = startAndQuit(home.env, working.path(), {QStringLiteral("--bogus")});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_EQ(refused.terminal.toStdString(), "orrery: '--bogus': unknown option (try --help)\n");
    for (const char* asked : {"--help", "--version"}) {
      const ProgramRun answered = startAndQuit(home.env, working.path(), {QString::fromLatin1(asked)});
      EXPECT_EQ(answered.exitCode, 0) << asked << ": " << answered.terminal.toStdString();
    }
  }
}

// A program whose main loop does not turn still ends on SIGTERM, SIGINT or SIGHUP, as a logout
// sends them: at once before the quit handlers are in, and within the quit's patience once they
// are, though the loop never turns (a test build of the program stops at the point asked: in
// the start, on the first turn after it while a file opens, or right after edits were accepted),
// once a file write under way and the saves asked for have finished: an accepted edit is in its
// file, also when its save waited behind a long one. Where the loop turns, the quit sequence
// runs whole: a clean exit.
TEST(StartEnvironment, AQuitSignalEndsTheProgramAlsoWhenItsMainLoopNeverTurns) {
  struct Row {
    const char* point;  // where the main thread is held; none: the loop turns
    int signal;
    bool writing = false;  // a file write is under way when the patience runs out
    int maps = 0;          // maps edited before the hold ("edit"), the first one's save slow when two
    bool twice = false;    // one map edited twice, its first save slow
    bool dropbox = false;  // a map of the Dropbox location saved before the hold ("edit")
  };
  const Row rows[] = {{"application", SIGTERM}, {"launch", SIGTERM},        {"open", SIGTERM},
                      {"open", SIGINT},         {"open", SIGHUP},           {"open", SIGTERM, true},
                      {"edit", SIGTERM, false, 1}, {"edit", SIGTERM, false, 2}, {"edit", SIGTERM, false, 1, true},
                      {"edit", SIGTERM, false, 0, false, true},
                      {nullptr, SIGINT},
                      {nullptr, SIGHUP}};
  const QByteArray whole = QByteArray("whole\n").repeated(100000);
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.point ? row.point : "none") + " " + ::sigabbrev_np(row.signal) +
                 (row.writing ? " writing" : "") + (row.maps ? " maps " + std::to_string(row.maps) : "") +
                 (row.twice ? " twice" : "") + (row.dropbox ? " dropbox" : ""));
    testsupport::ProcessHome home;
    if (row.point) home.env.insert(QStringLiteral("ORRERY_HOLD_AT"), QString::fromLatin1(row.point));
    home.env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(ORRERY_SYSTEM_LOG_COPY));
    home.env.insert(QStringLiteral("ORRERY_LOG_FIRST_FRAMES"), QStringLiteral("1"));
    // An outline to open (or maps to edit), and the file written meanwhile.
    const QString outline = home.root.filePath(QStringLiteral("plan.opml"));
    const QString written = home.root.filePath(QStringLiteral("written.txt"));
    std::vector<std::pair<QString, QByteArray>> files{
        {outline, QByteArray("<opml version=\"1.0\"><head/><body><outline text=\"plan\"/></body></opml>")},
        {written, QByteArray("old\n")}};
    QStringList maps;
    for (int i = 0; i < row.maps; ++i) {
      maps << home.root.filePath(QStringLiteral("map-%1.orrery").arg(i));
      const orrery::IdeaPtr map = orrery::Idea::createWithText(QStringLiteral("Map %1").arg(i));
      files.emplace_back(maps.back(), orrery::DocumentSnapshot::of(map, {}, {}).encode(/*compressed=*/true));
    }
    for (const auto& [path, bytes] : files) {
      QFile file(path);
      ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }
    if (row.maps > 1 || row.twice) home.env.insert(QStringLiteral("ORRERY_FIRST_SAVE"), QStringLiteral("slow"));
    if (row.twice) home.env.insert(QStringLiteral("ORRERY_EDIT_TWICE"), QStringLiteral("1"));
    if (row.writing) home.env.insert(QStringLiteral("ORRERY_WRITE_WHILE_HELD"), written);
    if (row.dropbox) {
      // The Dropbox location chosen (by this version: an older one's choice is dropped), not signed in.
      platform::UserDefaults stored(home.defaultsFile());
      stored.setString(orrery::AppDelegate::versionNumberDisplayString(), QStringLiteral("CurrentOrreryVersion"));
      stored.setBool(true, QLatin1String(orrery::Globals::kDropboxStorageChoiceKey));
      home.env.insert(QStringLiteral("ORRERY_EDIT_DROPBOX"), QStringLiteral("dropbox:/id1_1.orrx"));
    }
    QProcess p;
    p.setProcessEnvironment(home.env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral(ORRERY_START_CRASHES_BINARY),
            row.maps ? maps : row.dropbox ? QStringList() : QStringList{outline});
    ASSERT_TRUE(p.waitForStarted(10000));
    const QByteArray awaited =
        row.point ? QByteArray("orrery: held at ") + row.point : QByteArray("orrery: first frame of ");
    QByteArray output;
    QElapsedTimer timer;
    timer.start();
    const auto seen = [&] { return output.contains(awaited) && (!row.writing || output.contains("orrery: writing")); };
    while (!seen() && p.state() == QProcess::Running && timer.elapsed() < 30000)
      if (p.waitForReadyRead(500)) output += p.readAll();
    ASSERT_TRUE(seen()) << "not held, or no window: " << output.toStdString();
    ::kill(static_cast<pid_t>(p.processId()), row.signal);
    const bool ended = p.waitForFinished(30000);
    if (!ended) p.kill(), p.waitForFinished(5000);
    output += p.readAll();
    ASSERT_TRUE(ended) << "still running 30 s after the signal: " << output.toStdString();
    const auto [markers, records] = crashTraces(home.root.filePath(QStringLiteral("cache")));
    EXPECT_TRUE(records.isEmpty()) << "a quit signal was filed as a crash: " << records.join(' ').toStdString();
    if (!row.point) {
      EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << output.toStdString();
      EXPECT_EQ(p.exitCode(), 0);
      EXPECT_TRUE(markers.isEmpty()) << "the quit sequence did not run to its end: " << markers.join(' ').toStdString();
      continue;
    }
    EXPECT_EQ(p.exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(p.exitCode(), row.signal) << "it did not end by the signal: " << output.toStdString();
    if (qstrcmp(row.point, "application") != 0) {
      const QByteArray said = QByteArray(qstrcmp(row.point, "launch") == 0 ? "The start" : "The main loop") +
                              " did not take SIG" + ::sigabbrev_np(row.signal) + " within " +
                              QByteArray::number(qint64(orrery::kQuitPatience.count())) + " s: the program ends now";
      EXPECT_TRUE(output.contains(said)) << output.toStdString();
      // The saves it waited for: with the first one slow, that one and the one behind it.
      static const QRegularExpression waited(QStringLiteral("the program ends now, after waiting [0-9.]+ s for "
                                                            "([0-9]+) saves?\\n"));
      const QRegularExpressionMatch match = waited.match(QString::fromLocal8Bit(output));
      EXPECT_TRUE(match.hasMatch()) << output.toStdString();
      if (match.hasMatch() && (row.maps > 1 || row.twice)) {
        EXPECT_GE(match.captured(1).toInt(), 2) << output.toStdString();
      }
    }
    for (int i = 0; i < row.maps; ++i) {
      QFile file(maps[i]);
      ASSERT_TRUE(file.open(QIODevice::ReadOnly));
      const orrery::IdeaPtr root = orrery::IdeaDocument::treeFromFileBytes(file.readAll(), /*compressed=*/true);
      ASSERT_TRUE(root) << "map " << i << " is not whole";
      EXPECT_EQ(root->text(), QStringLiteral("Map %1 edited%2").arg(i).arg(row.twice ? " again" : ""))
          << "the accepted edit was lost";
    }
    if (row.dropbox) {
      // The next start finds the edit: the mirror's status file names a file that holds it.
      QDirIterator found(home.root.path(), {QString::fromLatin1(orrery::DropboxFolderManagerState::kStatusFileName)},
                         QDir::Files, QDirIterator::Subdirectories);
      ASSERT_TRUE(found.hasNext()) << "no Dropbox mirror: " << output.toStdString();
      const QString status = found.next();
      const auto state = orrery::DropboxFolderManagerState::readFrom(status);
      ASSERT_TRUE(state);
      const orrery::DocumentInfoPtr record = state->docs().value(QStringLiteral("dropbox:/id1_1.orrx"));
      ASSERT_TRUE(record && orrery::SyncFileInfo::hasFile(record->output())) << "the status does not name the edit";
      QFile edit(QFileInfo(status).dir().filePath(record->output()->name()));
      ASSERT_TRUE(edit.open(QIODevice::ReadOnly));
      const orrery::IdeaPtr root = orrery::IdeaDocument::treeFromFileBytes(edit.readAll(), /*compressed=*/true);
      ASSERT_TRUE(root) << "the map is not whole";
      EXPECT_EQ(root->text(), QStringLiteral("Dropbox map edited")) << "the accepted edit was lost";
    }
    QFile file(written);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll() == (row.writing ? whole : QByteArray("old\n"))) << "the file is not whole";
    EXPECT_EQ(QDir(home.root.path())
                  .entryList({QStringLiteral(".written.txt.*"), QStringLiteral(".map-*")}, QDir::Files | QDir::Hidden),
              QStringList())
        << "a staging file was left";
  }
}

// What a crash at the named point of the start leaves under the program's caches: the launch
// marker, and a report folder whose "signal" record and identity the next start reads. A test
// build of the program crashes there when asked; the program itself has no way to be asked.
TEST(StartEnvironment, ACrashAtAnyPointOfTheStartLeavesItsRecord) {
  QFile shipped(QStringLiteral(ORRERY_BINARY));
  ASSERT_TRUE(shipped.open(QIODevice::ReadOnly));
  EXPECT_FALSE(shipped.readAll().contains("ORRERY_CRASH_AT")) << "the program crashes itself when asked";
  // "hand-over": the crash reporter puts its own handlers in while the early ones still catch.
  for (const char* point : {"start", "application", "launch", "hand-over"}) {
    SCOPED_TRACE(point);
    testsupport::ProcessHome home;
    home.env.insert(QStringLiteral("ORRERY_CRASH_AT"), QString::fromLatin1(point));
    QTemporaryDir working;
    const ProgramRun run = startAndQuit(home.env, working.path(), {}, QStringLiteral(ORRERY_START_CRASHES_BINARY));
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.status, QProcess::CrashExit) << "it did not crash: " << run.exitCode;
    const QString caches = home.root.filePath(QStringLiteral("cache"));
    const auto [markers, records] = crashTraces(caches);
    EXPECT_EQ(markers.size(), 1) << "no launch marker under " << caches.toStdString();
    ASSERT_EQ(records.size(), 1) << "no crash record under " << caches.toStdString();
    QFile record(records[0]);
    ASSERT_TRUE(record.open(QIODevice::ReadOnly));
    const QByteArray signal = record.readAll();
    EXPECT_TRUE(signal.startsWith("{\"signal\":{\"number\":11,")) << signal.toStdString();
    QFile metadata(QFileInfo(records[0]).dir().filePath(QStringLiteral("metadata.crkrecord")));
    ASSERT_TRUE(metadata.open(QIODevice::ReadOnly));
    const QString folder = QFileInfo(records[0]).dir().dirName();
    EXPECT_TRUE(metadata.readAll().contains("\"session_id\":\"" + folder.toLatin1() + "\"")) << "unreadable identity";
    if (qstrcmp(point, "launch") != 0 && qstrcmp(point, "hand-over") != 0) continue;
    // The next start takes the record for a report of the run that crashed and packages it
    // (once, beside the reporter's own folder of that run when it had made one).
    home.env.remove(QStringLiteral("ORRERY_CRASH_AT"));
    const ProgramRun next = startAndQuit(home.env, working.path(), {}, QStringLiteral(ORRERY_START_CRASHES_BINARY));
    EXPECT_TRUE(next.drew);
    EXPECT_EQ(next.terminal.toStdString(), "") << "printed on the terminal";
    EXPECT_FALSE(QFileInfo::exists(records[0])) << "the record was left where it was";
    QStringList packages;
    for (QDirIterator it(caches, {QStringLiteral("*.multipartmime")}, QDir::Files, QDirIterator::Subdirectories);
         it.hasNext();)
      if (const QString path = it.next(); path.contains(QLatin1String("/v3/prepared/"))) packages << path;
    EXPECT_EQ(packages.size(), 1) << "the crash was not packaged for sending";
  }
}

}  // namespace
