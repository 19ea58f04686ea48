#pragma once
// SIGTERM, SIGINT and SIGHUP end the program through the one quit sequence: the handler only
// writes a byte to a pipe; the main loop reads it and runs `onSignal` on the main thread.
// The main loop may not turn for a while, or ever: during the start when something there waits,
// later in a long piece of work (a map being laid out). A thread watches each signal: one the
// main loop has not taken within kQuitPatience ends the program, as the signal's default would,
// once the file writes under way and the saves queued have finished, or the quit sequence's
// patience for them has run out (platform/core/writes_under_way.h); its log line says how many
// it waited for and how long. A signal that comes while the quit sequence taken from an
// earlier one runs is left to it.

#include <chrono>
#include <functional>

namespace orrery {

inline constexpr std::chrono::seconds kQuitPatience{5};

// Installs the handlers once; false when the pipe could not be made.
bool installQuitSignalHandlers(std::function<void()> onSignal);
// The start has run and the main loop turns: the log says from now on that the main loop, not
// the start, did not take a signal.
void quitSignalsStartFinished();

}  // namespace orrery
