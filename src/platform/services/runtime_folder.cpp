#include "platform/services/runtime_folder.h"

#include "platform/services/standard_folders.h"

#include <QDir>
#include <QFileInfo>

#include <unistd.h>

namespace platform {

QString runtimeFolder() {
  // Only a folder of our own counts: a runtime folder another user owns or others may enter
  // would let them answer for this instance.
  const QString xdg = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg)) {
    const QFileInfo info(xdg);
    const auto others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
                        QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    if (info.isDir() && !info.isSymLink() && info.ownerId() == ::geteuid() && !(info.permissions() & others))
      return info.absoluteFilePath();
  }
  return privateTemporaryFolder();
}

}  // namespace platform
