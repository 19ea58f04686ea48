#include "platform/services/program_log.h"

namespace platform {

Q_LOGGING_CATEGORY(programLog, "orrery")

}  // namespace platform
