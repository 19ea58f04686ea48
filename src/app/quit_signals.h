#pragma once
// SIGTERM, SIGINT and SIGHUP end the program through the one quit sequence: the handler only
// writes a byte to a pipe; the main loop reads it and runs `onSignal` on the main thread.

#include <functional>

namespace orrery {

// Installs the handlers once; false when the pipe could not be made.
bool installQuitSignalHandlers(std::function<void()> onSignal);

}  // namespace orrery
