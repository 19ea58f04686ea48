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
  const QString failed = MyResult::error(QStringLiteral("mac:Error:FailedToOpenFile"), QStringLiteral("Failed to open file"))
                             ->description();
  const QString text = QStringLiteral("%1 “%2”: %3")
                           .arg(failed, QFileInfo(path).fileName(), documentOpenFailureReason(path, error, fallback));
  return MyResult::error(QStringLiteral("mac:Error:FailedToOpenNamedFile"), text);
}

}  // namespace orrery
