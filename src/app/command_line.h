#pragma once
// What the command line asks for: the help text, the version, or the maps and sign-in redirects
// to open. Anything else is refused with its reason before any window exists, so a mistyped name
// is reported rather than opening an empty window.

#include <QString>
#include <QStringList>

namespace orrery {

struct CommandLine {
  enum class Action { Run, Help, Version, Refuse };
  Action action = Action::Run;
  QString refusal;  // for Refuse: "'<argument>': <why>"
};

// `arguments` without the program's name. Help or version anywhere wins over the rest; otherwise
// each argument must be an existing path (relative ones from `workingFolder`), a file: URL of
// this machine or a sign-in redirect.
CommandLine readCommandLine(const QStringList& arguments, const QString& workingFolder);

// The same before Qt has taken its own options out: those (-platform offscreen, -style …) and
// their values pass, so a bad name or an unknown option is refused before a window system is
// needed.
CommandLine readCommandLineBeforeQt(const QStringList& arguments, const QString& workingFolder);

// The value the command line gives Qt's `option` ("-platform", "-display"), the last one
// winning; empty when it gives none.
QString qtOptionValue(const QStringList& arguments, const QString& option);

// The answer to Help or Version as printed; the version is read from the installed bundle's
// facts, empty when they are not found.
QString commandLineHelp();
QString commandLineVersion();

}  // namespace orrery
