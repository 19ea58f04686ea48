#include "model/document_open_failure.h"

#include "platform/services/localization.h"

#include <QFileInfo>

namespace orrery {

QString documentOpenFailureReason(const QString& path, const DocumentError& error, const QString& fallback) {
  if (!error.description.isEmpty()) return error.description;
  if (!fallback.isEmpty()) return fallback;
  if (!QFileInfo::exists(path))
    return platform::localizedString(QStringLiteral("mac:Error:NoSuchFile"), QStringLiteral("There is no such file"));
  return platform::localizedString(QStringLiteral("mac:Error:NotAMap"), QStringLiteral("It is not a map Orrery can read"));
}

MyResultPtr documentOpenFailure(const QString& path, const DocumentError& error, const QString& fallback) {
  if (error.isCancelled()) return MyResult::USER_CANCEL();
  return namedFileOpenFailure(path, documentOpenFailureReason(path, error, fallback));
}

MyResultPtr namedFileOpenFailure(const QString& path, const QString& reason) {
  // Looked up first and filled in after, so a table entry keeps the name and the reason.
  const QString text = platform::localizedString(QStringLiteral("mac:Error:FailedToOpenNamedFile"),
                                                 QStringLiteral("Failed to open file “%1”: %2"))
                           .arg(QFileInfo(path).fileName(), reason);
  return MyResult::errorWithText(text);
}

}  // namespace orrery
