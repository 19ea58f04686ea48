#pragma once
// The program's own lines from the layers below the foundation's logging, which reach the log
// through Qt's messages: under this category they are passed on whole, while Qt's own messages
// lose what a user may have typed (foundation/logging.h). A line here holds only what the program
// put in it. Qt Core only; any thread.
//   qCWarning(platform::programLog, "Skipping localisation line without \"=\": %s", line);

#include <QLoggingCategory>

namespace platform {

Q_DECLARE_LOGGING_CATEGORY(programLog)

}  // namespace platform
