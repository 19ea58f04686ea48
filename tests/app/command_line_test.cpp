#include "app/command_line.h"

#include "platform/services/hand_off_message.h"
#include "process_home.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

using orrery::CommandLine;
using orrery::readCommandLine;

namespace {

struct Folder {
  QTemporaryDir dir;
  Folder() {
    QFile map(dir.filePath("map.orrery"));
    EXPECT_TRUE(map.open(QIODevice::WriteOnly));
    QDir(dir.path()).mkpath("maps/inner");
    // QTemporaryDir::filePath, as QDir, takes a name that starts with ":" for an absolute path.
    for (const char* name : {"a b.orrery", "-dash.orrery", "--help", ":colon.orrery", "100%.orrery", "maps/up.orrery"})
      QFile(dir.path() + '/' + name).open(QIODevice::WriteOnly);
    QFile::link(dir.filePath("maps/inner"), dir.filePath("inner"));
  }
  CommandLine read(const QStringList& arguments) const { return readCommandLine(arguments, dir.path()); }
};

}  // namespace

TEST(CommandLine, HelpOrVersionAnywhereWinsOverEverythingElse) {
  Folder f;
  EXPECT_EQ(f.read({"--help"}).action, CommandLine::Action::Help);
  EXPECT_EQ(f.read({"-h"}).action, CommandLine::Action::Help);
  EXPECT_EQ(f.read({"missing.orrery", "--version"}).action, CommandLine::Action::Version);
  EXPECT_EQ(f.read({"-v", "--help"}).action, CommandLine::Action::Version) << "the first one asked";
}

TEST(CommandLine, ExistingPathsFileURLsAndSignInRedirectsAreOpened) {
  Folder f;
  const QStringList accepted{"map.orrery",
                             "./maps",
                             f.dir.filePath("map.orrery"),
                             "file://" + f.dir.filePath("map.orrery"),
                             "file://localhost" + f.dir.filePath("a%20b.orrery"),
                             "db-orrerydesktop01://1/connect?state=x"};
  for (const QString& argument : accepted) {
    const CommandLine line = f.read({argument});
    EXPECT_EQ(line.action, CommandLine::Action::Run) << argument.toStdString() << ": " << line.refusal.toStdString();
  }
  EXPECT_EQ(f.read({}).action, CommandLine::Action::Run) << "no argument opens the last windows";

  // Each opens what it names: a name that starts with ":" is no Qt resource, a URL is decoded
  // whole, and ".." goes up from where a link leads.
  const QString up = QFileInfo(f.dir.filePath("maps/up.orrery")).canonicalFilePath();
  const QList<QPair<QString, QString>> named{
      {":colon.orrery", f.dir.path() + "/:colon.orrery"},
      {"FILE://" + f.dir.filePath("100%25.orrery"), f.dir.filePath("100%.orrery")},
      {"inner/../up.orrery", up},
      {"file://" + f.dir.filePath("inner/../up.orrery"), up}};
  for (const auto& [argument, path] : named) {
    const CommandLine line = f.read({argument});
    EXPECT_EQ(line.action, CommandLine::Action::Run) << argument.toStdString() << ": " << line.refusal.toStdString();
    EXPECT_EQ(platform::handoff::normalizedArguments({argument}, f.dir.path()), QStringList{path});
  }
}

TEST(CommandLine, AnythingElseIsRefusedByNameWithTheReason) {
  Folder f;
  const QList<QPair<QString, QString>> refused{
      {"missing.orrery", "no such file or folder"},
      {"file:///nowhere/missing.orrery", "no such file or folder"},
      {"file://localhost/nowhere/missing.orrery", "no such file or folder"},
      {"https://example.com/map.orrery", "only file: URLs are opened"},
      {"file://otherhost/map.orrery", "not a file: URL of this computer"},
      {"file:", "not a file: URL of this computer"},
      {"--frobnicate", "unknown option (try --help)"},
      {"", "an empty name is no file"},
      {QStringLiteral("map.orrery") + QChar(0), "a name may not hold a NUL character"},
      {"file:///tmp/map%00.orrery", "a file: URL may not hold a NUL character (%00)"}};
  for (const auto& [argument, why] : refused) {
    const CommandLine line = f.read({"map.orrery", argument, "also-missing"});
    EXPECT_EQ(line.action, CommandLine::Action::Refuse) << argument.toStdString();
    EXPECT_EQ(line.refusal, QStringLiteral("'%1': %2").arg(argument, why)) << "the first bad argument is named";
  }
}

// "--" ends the options: what follows is a name to open even when it reads like an option, and
// it is checked like any other name.
TEST(CommandLine, DoubleDashEndsTheOptions) {
  Folder f;
  const struct {
    QStringList arguments;
    CommandLine::Action action;
    QString refusal;
  } cases[] = {
      {{"--"}, CommandLine::Action::Run, {}},
      {{"--", "-dash.orrery"}, CommandLine::Action::Run, {}},
      {{"map.orrery", "--", "--help"}, CommandLine::Action::Run, {}},
      {{"--", "--", "map.orrery"}, CommandLine::Action::Refuse, "'--': no such file or folder"},
      {{"--", "--version"}, CommandLine::Action::Refuse, "'--version': no such file or folder"},
      {{"--", "-x"}, CommandLine::Action::Refuse, "'-x': no such file or folder"},
      {{"-x", "--", "map.orrery"}, CommandLine::Action::Refuse, "'-x': unknown option (try --help)"},
      {{"--version", "--", "missing"}, CommandLine::Action::Version, {}},
  };
  for (const auto& c : cases) {
    for (const bool beforeQt : {false, true}) {
      const CommandLine line =
          beforeQt ? orrery::readCommandLineBeforeQt(c.arguments, f.dir.path()) : f.read(c.arguments);
      EXPECT_EQ(line.action, c.action) << c.arguments.join(' ').toStdString() << " before Qt: " << beforeQt;
      EXPECT_EQ(line.refusal, c.refusal) << c.arguments.join(' ').toStdString();
    }
  }
  const QStringList opened = platform::handoff::normalizedArguments({"--", "-dash.orrery", "--"}, f.dir.path());
  EXPECT_EQ(opened, QStringList({f.dir.filePath("-dash.orrery"), f.dir.filePath("--")})) << "only the first -- ends";
}

TEST(CommandLineProcess, TheProgramAnswersHelpAndVersionAndRefusesABadArgumentWithoutAWindowSystem) {
  testsupport::ProcessHome home;
  // No display to connect to: none of these may need one.
  home.env.remove("QT_QPA_PLATFORM");
  home.env.remove("WAYLAND_DISPLAY");
  home.env.insert("DISPLAY", ":no-such-display");
  auto run = [&](const QStringList& arguments) {
    auto p = std::make_unique<QProcess>();
    p->setProcessEnvironment(home.env);
    p->start(QStringLiteral(ORRERY_BINARY), arguments);
    EXPECT_TRUE(p->waitForFinished(30000));
    return p;
  };
  auto help = run({"--help"});
  EXPECT_EQ(help->exitCode(), 0);
  EXPECT_TRUE(help->readAllStandardOutput().startsWith("Usage: orrery"));
  auto version = run({"--version"});
  EXPECT_EQ(version->exitCode(), 0);
  EXPECT_TRUE(version->readAllStandardOutput().startsWith("Orrery 1."));
  auto refused = run({"no-such-map.orrery"});
  EXPECT_EQ(refused->exitCode(), 2);
  EXPECT_TRUE(refused->readAllStandardError().contains("orrery: 'no-such-map.orrery': no such file or folder"));
  EXPECT_FALSE(QFile::exists(QDir(home.runtime()).filePath("orrery.lock"))) << "refused before becoming the instance";
}

TEST(CommandLine, BeforeQtReadsItsOptionsItsOwnOptionsAndTheirValuesPassButNamesAreChecked) {
  Folder f;
  auto before = [&](const QStringList& arguments) { return orrery::readCommandLineBeforeQt(arguments, f.dir.path()); };
  EXPECT_EQ(before({"-platform", "offscreen", "-reverse", "map.orrery"}).action, CommandLine::Action::Run);
  EXPECT_EQ(before({"-style", "fusion", "--version"}).action, CommandLine::Action::Version);
  // Qt's options as Qt 6 takes them: one dash or two, some with a value after "=", the X11
  // platform's among them. A value is never taken for a name.
  EXPECT_EQ(before({"--platform", "offscreen", "-style=fusion", "--stylesheet=missing.qss", "-qwindowtitle", "missing",
                    "-display", ":0", "-name", "x", "-visual", "1", "-icon", "i.png", "-nograb", "--dograb",
                    "-widgetcount", "-qmljsdebugger=port:0", "-testability", "map.orrery"})
                .action,
            CommandLine::Action::Run);
  for (const QStringList& arguments : {QStringList{"--bogus"}, QStringList{"-platform", "offscreen", "-bogus"},
                                       QStringList{"-style=", "--sync"}}) {
    const CommandLine line = before(arguments);
    EXPECT_EQ(line.action, CommandLine::Action::Refuse) << "an option of no one's is refused before Qt: "
                                                        << arguments.join(' ').toStdString();
    EXPECT_TRUE(line.refusal.endsWith("': unknown option (try --help)")) << line.refusal.toStdString();
  }
  EXPECT_EQ(orrery::qtOptionValue({"-platform", "xcb", "--platform", "offscreen", "--", "-platform", "vnc"}, "-platform"),
            "offscreen")
      << "the last one before the end of the options";
  EXPECT_EQ(orrery::qtOptionValue({"-qwindowtitle", "-display", "map.orrery"}, "-display"), "")
      << "a value that reads like an option is a value";
  const CommandLine refused = before({"-platform", "offscreen", "missing.orrery"});
  EXPECT_EQ(refused.action, CommandLine::Action::Refuse);
  EXPECT_EQ(refused.refusal, QStringLiteral("'missing.orrery': no such file or folder"));
  EXPECT_EQ(readCommandLine({"-reverse"}, f.dir.path()).action, CommandLine::Action::Refuse)
      << "after Qt has read its options, one left over is unknown";
}
