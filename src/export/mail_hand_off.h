#pragma once
// "Send via email ...": the exported file goes to the desktop's mail program (xdg-email; Linux
// has no share service). Where none takes it, the file's folder goes to the file manager
// (xdg-open) and an alert names the file and says which of the two did not open, so the user
// can attach it by hand. Main thread only.

#include "platform/core/dispatch.h"

#include <QString>

namespace orrery {

class MailHandOff {
 public:
  MailHandOff() = delete;

  // The commands, replaceable for tests.
  static QString& mailCommand();
  static QString& folderCommand();
  // A file manager may keep its window in the foreground of the tool: one still running this
  // long after its start has taken the folder.
  static constexpr platform::Millis kFolderTakenAfter{5000};

  // Hands the file at `path` to the mail program, falling back as above.
  static void handOff(const QString& path);

  // The alert's title when no mail program took the file, by whether the folder was handed to
  // the desktop. Its text is the file's path.
  static QString noMailProgramNotice(bool folderHandedOver);
};

}  // namespace orrery
