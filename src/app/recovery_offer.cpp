#include "app/recovery_offer.h"

#include "app/app_delegate.h"
#include "app/main_window_controller.h"
#include "foundation/globals.h"
#include "foundation/logging.h"
#include "foundation/views/custom_alert_view.h"
#include "model/idea_document.h"
#include "model/recovery_copies.h"
#include "platform/services/qt_regular_file.h"
#include "platform/ui/weak_ref.h"

#include <QFile>
#include <QLocale>

namespace orrery {

namespace {

QString text(const char* key, const char* defaultText) {
  return Globals::normalLocalizedStringForKey(QString::fromLatin1(key), QString::fromUtf8(defaultText));
}

void openCopy(AppDelegate& app, const QString& copy) {
  QByteArray bytes;
  const IdeaPtr tree =
      platform::readRegularFile(copy, DocumentLimits::kMaxJSONBytes, &bytes) == platform::RegularFileRead::Read
          ? IdeaDocument::treeFromFileBytes(bytes, /*compressed=*/true)
          : nullptr;
  if (!tree) {
    logLine(QStringLiteral("Recovered copy %1 does not read; it stays where it is").arg(copy));
    return;
  }
  app.createNewLocalFileFromIdea(tree, kWindowInitialActionNone, /*empty=*/false, [copy](const MyResultPtr& result) {
    if (result && result->isOK()) QFile::remove(copy);
  });
}

}  // namespace

bool offerRecoveryCopies(AppDelegate& app) {
  QStringList copies, names;
  // Named as the user knows the map, and when its edit was kept: the file's name is made for
  // the folder, and of a cloud map it is a number.
  for (const RecoveryCopy& copy : recoveryCopiesToOffer()) {
    copies.append(copy.path);
    names.append(text("RecoveredDocuments.Copy", "\u201C%1\u201D, kept %2")
                     .arg(copy.title, QLocale().toString(copy.kept, QLocale::ShortFormat)));
  }
  if (copies.isEmpty()) return false;
  CustomAlertView alert(
      text("RecoveredDocuments.Title", "Recovered documents"),
      text("RecoveredDocuments.Message", "These edits could not be saved to their own files, and copies were kept:") +
          QStringLiteral("\n") + names.join(QLatin1Char('\n')));
  platform::WeakRef<AppDelegate> self(&app);
  alert.addButton(text("RecoveredDocuments.Open", "Open"), CAVButton::kOrdinary, [self, copies] {
    AppDelegate* app = self.get();
    if (!app) return;
    for (const QString& copy : copies) openCopy(*app, copy);
  });
  alert.addButton(text("RecoveredDocuments.Later", "Not Now"), CAVButton::kCancel, [] {});
  alert.showFromWindow(nullptr);
  return true;
}

}  // namespace orrery
