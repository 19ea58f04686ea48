#include "platform/services/application_identity.h"

#include <QCoreApplication>

namespace platform {

void applyApplicationIdentity() {
  QCoreApplication::setOrganizationName(QString::fromLatin1(kOrganizationName));
  QCoreApplication::setApplicationName(QString::fromLatin1(kApplicationName));
}

}  // namespace platform
