#include "app/command_line.h"

#include "platform/services/hand_off_message.h"
#include "shell/bundle_info.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

namespace orrery {

namespace {

bool isHelp(const QString& a) { return a == QLatin1String("--help") || a == QLatin1String("-h"); }
bool isVersion(const QString& a) { return a == QLatin1String("--version") || a == QLatin1String("-v"); }

// Empty when `argument` names something to open, else why not.
QString whyNotOpenable(const QString& argument, const QDir& base) {
  if (argument.isEmpty()) return QStringLiteral("an empty name is no file");
  if (argument.contains(QChar(0))) return QStringLiteral("a name may not hold a NUL character");
  if (platform::handoff::isRedirectURL(argument)) return {};
  if (argument.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
    const QUrl url(argument, QUrl::StrictMode);
    const bool thisMachine = url.host().isEmpty() || url.host().compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0;
    if (!url.isValid() || !thisMachine || url.path().isEmpty()) return QStringLiteral("not a file: URL of this computer");
    return {};
  }
  if (argument.startsWith(QLatin1Char('-'))) return QStringLiteral("unknown option (try --help)");
  if (QFileInfo::exists(base.absoluteFilePath(argument))) return {};
  static const QRegularExpression otherUrl(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
  if (otherUrl.match(argument).hasMatch()) return QStringLiteral("only file: URLs are opened");
  return QStringLiteral("no such file or folder");
}

}  // namespace

CommandLine readCommandLine(const QStringList& arguments, const QString& workingFolder) {
  for (const QString& argument : arguments) {
    if (isHelp(argument)) return {CommandLine::Action::Help, {}};
    if (isVersion(argument)) return {CommandLine::Action::Version, {}};
  }
  const QDir base(workingFolder);
  for (const QString& argument : arguments) {
    const QString why = whyNotOpenable(argument, base);
    if (!why.isEmpty()) return {CommandLine::Action::Refuse, QStringLiteral("'%1': %2").arg(argument, why)};
  }
  return {};
}

CommandLine readCommandLineBeforeQt(const QStringList& arguments, const QString& workingFolder) {
  static const QStringList qtOptionsWithValue{
      "-platform", "-platformpluginpath", "-platformtheme", "-plugin", "-qwindowgeometry", "-qwindowicon",
      "-qwindowtitle", "-session", "-style", "-stylesheet", "-display", "-geometry", "-title", "-name"};
  QStringList names;
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    const QString& argument = arguments[i];
    if (isHelp(argument) || isVersion(argument) || !argument.startsWith(QLatin1Char('-'))) {
      names.append(argument);
    } else if (qtOptionsWithValue.contains(argument)) {
      ++i;
    }
  }
  return readCommandLine(names, workingFolder);
}

QString commandLineHelp() {
  return QStringLiteral(
      "Usage: orrery [OPTION] [FILE]...\n"
      "Mind maps as planets orbiting their central idea.\n"
      "\n"
      "Opens each FILE, a path or a file: URL, as a map; when Orrery is already running, that\n"
      "instance opens them.\n"
      "\n"
      "  -h, --help     show this help and exit\n"
      "  -v, --version  show the version and exit\n");
}

QString commandLineVersion() {
  const QString version = BundleInfo::shortVersionString();
  if (version.isEmpty()) return {};
  return QStringLiteral("Orrery %1 (%2)\n").arg(version, BundleInfo::bundleVersion());
}

}  // namespace orrery
