#pragma once
// SIGTERM, SIGINT and SIGHUP end the program through the one quit sequence: the handler only
// writes a byte to a pipe; the main loop reads it and runs `onSignal` on the main thread.
// During the start no loop may turn for a while, or ever, when something there waits: a signal
// the main loop has not taken within kStartQuitPatience then ends the program at once, as the
// signal's default would.

#include <chrono>
#include <functional>

namespace orrery {

inline constexpr std::chrono::seconds kStartQuitPatience{5};

// Installs the handlers once; false when the pipe could not be made.
bool installQuitSignalHandlers(std::function<void()> onSignal);
// The start has run and the main loop turns: from now on a signal waits for it however long
// it is busy.
void quitSignalsStartFinished();

}  // namespace orrery
