#include "app/command_line.h"

#include "platform/services/hand_off_message.h"
#include "shell/bundle_info.h"

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
QString whyNotOpenable(const QString& argument, const QString& workingFolder, bool isName) {
  if (argument.isEmpty()) return QStringLiteral("an empty name is no file");
  if (argument.contains(QChar(0))) return QStringLiteral("a name may not hold a NUL character");
  if (platform::handoff::isRedirectURL(argument)) return {};
  // The file checked is the one the launch opens.
  const QString path = platform::handoff::localPathNamed(argument, workingFolder);
  const bool fileURL = argument.startsWith(QLatin1String("file:"), Qt::CaseInsensitive);
  if (fileURL) {
    const QUrl url(argument, QUrl::StrictMode);
    if (url.isValid() && url.path(QUrl::FullyDecoded).contains(QChar(0)))
      return QStringLiteral("a file: URL may not hold a NUL character (%00)");
    if (!url.isValid() || path.isEmpty()) return QStringLiteral("not a file: URL of this computer");
  } else if (!isName && argument.startsWith(QLatin1Char('-'))) {
    return QStringLiteral("unknown option (try --help)");
  }
  if (QFileInfo::exists(path)) return {};
  static const QRegularExpression otherUrl(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
  if (!fileURL && otherUrl.match(argument).hasMatch()) return QStringLiteral("only file: URLs are opened");
  return QStringLiteral("no such file or folder");
}

// The options Qt's application object takes out of the command line (its own, its widgets', and
// the X11 platform's), with one dash or two.
const QStringList& qtOptionsWithValue() {
  static const QStringList options{"-platform", "-platformpluginpath", "-platformtheme", "-plugin", "-qwindowgeometry",
                                   "-qwindowicon", "-qwindowtitle", "-session", "-style", "-stylesheet",
                                   "-qmljsdebugger", "-display", "-geometry", "-title", "-icon", "-name", "-visual"};
  return options;
}

bool isQtFlag(const QString& option) {
  static const QStringList flags{"-reverse", "-testability", "-widgetcount", "-qdevel", "-qdebug", "-nograb", "-dograb"};
  static const QRegularExpression joinedValue(QStringLiteral("^-(style|stylesheet|qmljsdebugger)="));
  return flags.contains(option) || joinedValue.match(option).hasMatch();
}

QString oneDash(const QString& argument) {
  return argument.startsWith(QLatin1String("--")) ? argument.mid(1) : argument;
}

}  // namespace

CommandLine readCommandLine(const QStringList& arguments, const QString& workingFolder) {
  const qsizetype optionsEnd = std::find_if(arguments.begin(), arguments.end(), isEndOfOptions) - arguments.begin();
  for (const QString& argument : arguments.first(optionsEnd)) {
    if (isHelp(argument)) return {CommandLine::Action::Help, {}};
    if (isVersion(argument)) return {CommandLine::Action::Version, {}};
  }
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    if (i == optionsEnd) continue;
    const QString why = whyNotOpenable(arguments[i], workingFolder, /*isName=*/i > optionsEnd);
    if (!why.isEmpty()) return {CommandLine::Action::Refuse, QStringLiteral("'%1': %2").arg(arguments[i], why)};
  }
  return {};
}

CommandLine readCommandLineBeforeQt(const QStringList& arguments, const QString& workingFolder) {
  QStringList names;
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    const QString& argument = arguments[i];
    if (isEndOfOptions(argument)) {
      names.append(arguments.mid(i));
      break;
    }
    const QString option = oneDash(argument);
    if (qtOptionsWithValue().contains(option))
      ++i;
    else if (!isQtFlag(option))
      names.append(argument);  // checked below: an option of no one's is refused here
  }
  return readCommandLine(names, workingFolder);
}

QString qtOptionValue(const QStringList& arguments, const QString& option) {
  QString value;
  for (qsizetype i = 0; i < arguments.size() && !isEndOfOptions(arguments[i]); ++i) {
    const QString given = oneDash(arguments[i]);
    if (!qtOptionsWithValue().contains(given)) continue;
    if (given == option && i + 1 < arguments.size()) value = arguments[i + 1];
    ++i;
  }
  return value;
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
