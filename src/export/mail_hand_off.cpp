#include "export/mail_hand_off.h"

#include "foundation/globals.h"
#include "platform/ui/modal_presenter.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace orrery {

namespace {

// Runs a desktop tool. `done(true)` once it has ended with status 0, or is still running after
// `takenAfter` when one is given; `done(false)` when it cannot start or ends otherwise. Once.
void runTool(const QString& command, const QStringList& arguments, std::optional<platform::Millis> takenAfter,
             std::function<void(bool)> done) {
  auto pending = std::make_shared<std::function<void(bool)>>(std::move(done));
  auto settle = [pending](bool taken) {
    if (auto answer = std::exchange(*pending, nullptr)) answer(taken);
  };
  auto* process = new QProcess();
  QObject::connect(process, &QProcess::finished, process, [process, settle](int code, QProcess::ExitStatus status) {
    process->deleteLater();
    settle(status == QProcess::NormalExit && code == 0);
  });
  QObject::connect(process, &QProcess::errorOccurred, process, [process, settle](QProcess::ProcessError error) {
    if (error != QProcess::FailedToStart) return;
    process->deleteLater();
    settle(false);
  });
  if (takenAfter) platform::mainQueue().after(*takenAfter, [settle] { settle(true); });
  process->start(command, arguments);
}

}  // namespace

QString& MailHandOff::mailCommand() {
  static QString command = QStringLiteral("xdg-email");
  return command;
}

QString& MailHandOff::folderCommand() {
  static QString command = QStringLiteral("xdg-open");
  return command;
}

QString MailHandOff::noMailProgramNotice(bool folderHandedOver) {
  // The desktop's answer says only that a program took the folder, not that a window showed.
  if (folderHandedOver)
    return Globals::normalLocalizedStringForKey(
        QStringLiteral("MailHandOff:NoMailProgram"),
        QStringLiteral("No mail program opened. The exported file's folder was handed to the desktop to show. "
                       "The file is here:"));
  return Globals::normalLocalizedStringForKey(
      QStringLiteral("MailHandOff:NoMailProgramOrFileManager"),
      QStringLiteral("No mail program or file manager opened. The exported file is here:"));
}

void MailHandOff::handOff(const QString& path) {
  // The mail program is waited for to its end: one that fails late still leads to the file.
  runTool(mailCommand(), QStringList{QStringLiteral("--attach"), path}, std::nullopt, [path](bool taken) {
    if (taken) return;
    runTool(folderCommand(), QStringList{QFileInfo(path).absolutePath()}, kFolderTakenAfter, [path](bool shown) {
      platform::AlertRequest request;
      request.messageText = noMailProgramNotice(shown);
      request.informativeText = QDir::toNativeSeparators(path);
      platform::runModalAlert(request);
    });
  });
}

}  // namespace orrery
