#include "app/quit_signals.h"

#include "model/queued_file_work.h"
#include "platform/core/system_log.h"
#include "platform/core/writes_under_way.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include <fcntl.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

namespace orrery {
namespace {

int gSignalPipe[2] = {-1, -1};
// Wakes the watch, one byte a signal.
int gWatchPipe[2] = {-1, -1};
std::atomic<bool> gStarting{true};
std::atomic<bool> gQuitTaken{false};  // the main loop has run the quit sequence for a signal
std::atomic<int> gLastSignal{0};
std::atomic<unsigned> gArrived{0};  // signals the handler saw
std::atomic<unsigned> gTaken{0};    // of those, the ones the main loop had when it last read the pipe
std::mutex gTakenMutex;
std::condition_variable gTakenChanged;

void onQuitSignal(int signal) {
  const int saved = errno;
  // Only async-signal-safe calls here; a full pipe already carries a quit.
  gLastSignal.store(signal);
  gArrived.fetch_add(1);
  const char byte = 1;
  [[maybe_unused]] ssize_t written = ::write(gSignalPipe[0], &byte, 1);
  written = ::write(gWatchPipe[1], &byte, 1);
  errno = saved;
}

// Each signal must reach the main loop within the patience, else the loop is taken for stuck
// and the signal does what it does to a program without a handler, after the writes under way.
void watchTheMainLoop() {
  for (;;) {
    char byte = 0;
    const ssize_t n = ::read(gWatchPipe[0], &byte, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    const unsigned arrived = gArrived.load();
    std::unique_lock lock(gTakenMutex);
    const auto taken = [arrived] { return gQuitTaken.load() || gTaken.load() >= arrived; };
    if (gTakenChanged.wait_for(lock, kQuitPatience, taken)) continue;
    const int signal = gLastSignal.load();
    const char* name = ::sigabbrev_np(signal);
    // Also the saves still queued behind others: each was asked for with its snapshot, and
    // none needs the main thread any more. A queue that never reaches its save is not waited
    // for beyond the patience the quit sequence gives them.
    const platform::WritesWaitedFor waited = platform::closeWritesAndWait(QueuedFileWork::kQuitPatience);
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f", std::chrono::duration<double>(waited.waited).count());
    platform::logLine(std::string(gStarting.load() ? "The start" : "The main loop") + " did not take SIG" +
                      (name ? name : "?") + " within " + std::to_string(kQuitPatience.count()) +
                      " s: the program ends now, after waiting " + seconds + " s for " +
                      std::to_string(waited.count) + (waited.count == 1 ? " save" : " saves") +
                      (waited.unfinished > 0 ? ", of which " + std::to_string(waited.unfinished) + " did not finish"
                                             : std::string()));
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    ::_exit(128 + signal);
  }
}

}  // namespace

bool installQuitSignalHandlers(std::function<void()> onSignal) {
  if (gSignalPipe[0] >= 0) return true;
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, gSignalPipe) != 0) return false;
  if (::pipe2(gWatchPipe, O_CLOEXEC) != 0) return false;
  // Never blocks the handler: a full pipe already wakes the watch.
  ::fcntl(gWatchPipe[1], F_SETFL, ::fcntl(gWatchPipe[1], F_GETFL) | O_NONBLOCK);
  std::thread(watchTheMainLoop).detach();
  auto* notifier = new QSocketNotifier(gSignalPipe[1], QSocketNotifier::Read);  // lives for the process
  QObject::connect(notifier, &QSocketNotifier::activated, notifier, [onSignal](QSocketDescriptor, QSocketNotifier::Type) {
    char buffer[16];
    while (::read(gSignalPipe[1], buffer, sizeof buffer) > 0) {
    }
    {
      std::lock_guard lock(gTakenMutex);
      gTaken.store(gArrived.load());
      // The quit sequence may hold the main loop while it waits for saves: later signals wait for it.
      if (onSignal) gQuitTaken.store(true);
    }
    gTakenChanged.notify_all();
    if (onSignal) onSignal();
  });
  struct sigaction action = {};
  action.sa_handler = onQuitSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(sig, &action, nullptr);
  return true;
}

void quitSignalsStartFinished() { gStarting.store(false); }

}  // namespace orrery
