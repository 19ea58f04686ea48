#include "app/command_line.h"

#include "platform/services/hand_off_message.h"
#include "shell/bundle_info.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

#include <algorithm>

namespace orrery {

namespace {

bool isHelp(const QString& a) { return a == QLatin1String("--help") || a == QLatin1String("-h"); }
bool isVersion(const QString& a) { return a == QLatin1String("--version") || a == QLatin1String("-v"); }

bool isEndOfOptions(const QString& a) { return a == QLatin1String("--"); }

// Empty when `argument` names something to open, else why not. A name (after "--") is never
// taken for an option.
QString whyNotOpenable(const QString& argument, const QDir& base, bool isName) {
  if (argument.isEmpty()) return QStringLiteral("an empty name is no file");
  if (argument.contains(QChar(0))) return QStringLiteral("a name may not hold a NUL character");
  if (platform::handoff::isRedirectURL(argument)) return {};
  QString path = argument;
  if (argument.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
    const QUrl url(argument, QUrl::StrictMode);
    const bool thisMachine = url.host().isEmpty() || url.host().compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0;
    if (!url.isValid() || !thisMachine || url.path().isEmpty()) return QStringLiteral("not a file: URL of this computer");
    path = url.path();
  } else if (!isName && argument.startsWith(QLatin1Char('-'))) {
    return QStringLiteral("unknown option (try --help)");
  }
  if (QFileInfo::exists(base.absoluteFilePath(path))) return {};
  static const QRegularExpression otherUrl(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
  if (path == argument && otherUrl.match(argument).hasMatch()) return QStringLiteral("only file: URLs are opened");
  return QStringLiteral("no such file or folder");
}

}  // namespace

CommandLine readCommandLine(const QStringList& arguments, const QString& workingFolder) {
  const qsizetype optionsEnd = std::find_if(arguments.begin(), arguments.end(), isEndOfOptions) - arguments.begin();
  for (const QString& argument : arguments.first(optionsEnd)) {
    if (isHelp(argument)) return {CommandLine::Action::Help, {}};
    if (isVersion(argument)) return {CommandLine::Action::Version, {}};
  }
  const QDir base(workingFolder);
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    if (i == optionsEnd) continue;
    const QString why = whyNotOpenable(arguments[i], base, /*isName=*/i > optionsEnd);
    if (!why.isEmpty()) return {CommandLine::Action::Refuse, QStringLiteral("'%1': %2").arg(arguments[i], why)};
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
    if (isEndOfOptions(argument)) {
      names.append(arguments.mid(i));
      break;
    }
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
      "instance opens them. A FILE that does not exist is refused; after --, every argument\n"
      "is a FILE.\n"
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
