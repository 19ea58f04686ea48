#include "app/quit_signals.h"

#include "platform/core/system_log.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
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
// Wakes the start's watch: 1 for a signal, 0 once the start has run.
int gWatchPipe[2] = {-1, -1};
std::atomic<bool> gStarting{true};
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
  if (gStarting.load()) written = ::write(gWatchPipe[1], &byte, 1);
  errno = saved;
}

// Until the start has run: each signal must reach the main loop within the patience, else the
// start is taken for stuck and the signal does what it does to a program without a handler.
void watchTheStart() {
  for (;;) {
    char byte = 0;
    const ssize_t n = ::read(gWatchPipe[0], &byte, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || byte == 0) return;
    const unsigned arrived = gArrived.load();
    std::unique_lock lock(gTakenMutex);
    if (gTakenChanged.wait_for(lock, kStartQuitPatience, [arrived] { return gTaken.load() >= arrived; })) continue;
    const int signal = gLastSignal.load();
    const char* name = ::sigabbrev_np(signal);
    platform::logLine(std::string("The start did not take SIG") + (name ? name : "?") + " within " +
                      std::to_string(kStartQuitPatience.count()) + " s: the program ends now");
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
  std::thread(watchTheStart).detach();
  auto* notifier = new QSocketNotifier(gSignalPipe[1], QSocketNotifier::Read);  // lives for the process
  QObject::connect(notifier, &QSocketNotifier::activated, notifier, [onSignal](QSocketDescriptor, QSocketNotifier::Type) {
    char buffer[16];
    while (::read(gSignalPipe[1], buffer, sizeof buffer) > 0) {
    }
    {
      std::lock_guard lock(gTakenMutex);
      gTaken.store(gArrived.load());
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

void quitSignalsStartFinished() {
  if (!gStarting.exchange(false) || gWatchPipe[1] < 0) return;
  const char done = 0;
  [[maybe_unused]] const ssize_t written = ::write(gWatchPipe[1], &done, 1);
}

}  // namespace orrery
