// Starts the crash kit, then dies in the way its second argument names, so the tests can
// read the record it leaves. Before dying it prints "SYM <name> <start> <end>" for the
// functions the tests look for in the recorded stacks, then "READY".
//
// The "kit-<kind>" kinds start the whole crash reporting controller over the data tree named
// by the first argument (an application that leaves earlier reports undecided) and then die
// as <kind>. "relaunch" starts it as an application that submits every earlier report
// (retrying at once), waits until each package had its final answer and prints "SETTLED". Both print "RUN <execution id>".
// The environment names the report endpoint ("CrashKitReportsEndpoint") and the certificate
// authority to pin ("CRASHER_CA", a DER file).
#undef NDEBUG
#include <cassert>
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <link.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core_dumps.h"
#include "folder_wait.h"
#include "crash/crk_context.h"
#include "crash/crk_crash_reporting_controller.h"
#include "crash/crk_file_manager.h"
#include "crash/crk_internal_report.h"
#include "crash/crk_settings.h"
#include "crash/crk_user_logging.h"
#include "platform/core/dispatch.h"
#include "platform/core/run_loop.h"
#include "sdk/identity/encoding.h"
#include "sdk/identity/main_bundle.h"
#include "sdk/session/certificate.h"
#include "support/submitting_crash_delegate.h"

namespace {

std::string gFolder;
std::atomic<int> gParked{0};
std::mutex gParkMutex;
std::condition_variable gParkCondition;
volatile int* gNull = nullptr;
std::atomic<bool> gGo{false};

void printSymbol(const char* name, const void* address) {
  Dl_info info{};
  void* entry = nullptr;
  if (dladdr1(address, &info, &entry, RTLD_DL_SYMENT) && entry) {
    const auto* symbol = static_cast<const ElfW(Sym)*>(entry);
    const auto start = reinterpret_cast<uintptr_t>(info.dli_saddr);
    std::printf("SYM %s %lu %lu\n", name, static_cast<unsigned long>(start),
                static_cast<unsigned long>(start + symbol->st_size));
  }
}

void ready() {
  std::printf("READY\n");
  std::fflush(stdout);
}

using namespace telemetry;

// Restarts and retries of the relaunch's uploads wait no time: the test's server decides
// every answer, so only the order of answers matters.
class RetryAtOnceQueue final : public platform::Queue {
 public:
  void async(platform::Task task) override { platform::globalQueue(platform::QueuePriority::Default).async(std::move(task)); }
  void after(platform::Millis, platform::Task task) override { async(std::move(task)); }
  bool isCurrent() const override { return false; }
  const std::string& label() const override { return mLabel; }

 private:
  std::string mLabel = "org.orrery.crasher.retries";
};

std::shared_ptr<platform::RunLoop> gLoop;
std::shared_ptr<RetryAtOnceQueue> gRetries = std::make_shared<RetryAtOnceQueue>();
std::shared_ptr<crashtest::SubmittingCrashDelegate> gDelegate;
std::shared_ptr<CRKCrashReportingController> gController;

bool startKit(bool submit) {
  MainBundle::shared().setInfoDictionary(nlohmann::json{{"CFBundleIdentifier", "org.orrery.crasher"}});
  gLoop = std::make_shared<platform::RunLoop>();
  platform::installMainQueuePoster(gLoop);
  std::optional<CertificateList> pinned;
  if (const char* ca = std::getenv("CRASHER_CA")) {
    std::ifstream in(ca, std::ios::binary);
    std::vector<uint8_t> der((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    pinned = CertificateList{Certificate::createWithData(der)};
  }
  // A run about to crash leaves earlier reports undecided (they stay in "active"); the relaunch
  // submits them all.
  gDelegate = std::make_shared<crashtest::SubmittingCrashDelegate>("crasher-api-key", "crasher-install", submit);
  gController = CRKCrashReportingController::create(std::make_shared<CRKFileManager>(gFolder), gDelegate, pinned);
  std::string identifier = TELGenerateUUIDString();
  identifier.erase(std::remove(identifier.begin(), identifier.end(), '-'), identifier.end());
  std::transform(identifier.begin(), identifier.end(), identifier.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  gController->setExecutionIdentifier(identifier);
  if (submit) gController->setRetryQueue(gRetries);
  std::printf("RUN %s\n", identifier.c_str());
  const bool started = gController->startWithProfilingMark(CRKProfileMark(), std::nullopt);
  // The first main-queue turn: from here on the launch counts as one that got going.
  gLoop->runPending();
  return started;
}

// Waits until every package of the relaunch had its answer: the work queue idle (every
// report packaged and handed on), then "prepared" empty.
int settle() {
  gController->operationQueue()->waitUntilAllOperationsAreFinished();
  if (!crashtest::waitUntilFolderEmpty(CRKFileManager(gFolder).preparedPath())) return 6;
  gController->operationQueue()->waitUntilAllOperationsAreFinished();
  std::printf("SETTLED\n");
  return 0;
}

}  // namespace

extern "C" {

__attribute__((noinline)) void crasherNullWrite() {
  *gNull = 1;
  asm volatile("" ::: "memory");
}

#pragma GCC diagnostic ignored "-Winfinite-recursion"
__attribute__((noinline)) int crasherRecurse(int depth) {
  volatile char pad[64];
  pad[depth % 64] = static_cast<char>(depth);
  const int r = crasherRecurse(depth + 1) + pad[(depth + 1) % 64];
  asm volatile("" ::: "memory");
  return r;
}

__attribute__((noinline)) void crasherParkThread(bool blockSignals) {
  pthread_setname_np(pthread_self(), blockSignals ? "deaf" : "parked");
  if (blockSignals) {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
  }
  std::unique_lock lock(gParkMutex);
  gParked.fetch_add(1);
  gParkCondition.wait(lock, [] { return false; });
}

// Faults once the first fault's record has begun, never answering the handshake, so its
// fault is the state the recording thread gets for it.
__attribute__((noinline)) void crasherSecondFault(const char* record) {
  sigset_t realtime;
  sigemptyset(&realtime);
  for (int s = SIGRTMIN; s <= SIGRTMAX; ++s) sigaddset(&realtime, s);
  pthread_sigmask(SIG_BLOCK, &realtime, nullptr);
  gGo.store(true);
  for (char byte;;) {
    const int fd = open(record, O_RDONLY);
    const bool started = fd >= 0 && read(fd, &byte, 1) == 1;
    if (fd >= 0) close(fd);
    if (started) break;
  }
  crasherNullWrite();
}

}  // extern "C"

int runKind(int argc, char** argv, const std::string& kind);

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  // Cores only when a test compares the record with one.
  if (std::getenv("CRASHER_CORE")) {
    crashtest::allowCoreDumps();
  } else {
    rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);
  }
  gFolder = argv[1];
  std::string kind = argv[2];
  if (kind == "relaunch") {
    const int code = startKit(/*submit=*/true) ? settle() : 5;
    std::fflush(stdout);
    // The kit's queues and sessions are not taken down: the process simply ends.
    _exit(code);
  }
  const bool kit = kind.rfind("kit-", 0) == 0;
  if (kit) {
    if (!startKit(/*submit=*/false)) return 5;
    kind = kind.substr(4);
  }
  if (kind == "prior") {
    // The application's own handler, installed before the kit: it must run after the
    // record is written.
    static std::string path = gFolder + "/signal.crkrecord";
    struct sigaction action {};
    action.sa_sigaction = [](int, siginfo_t*, void*) {
      const int fd = open(path.c_str(), O_RDONLY);
      char byte;
      const bool recorded = fd >= 0 && read(fd, &byte, 1) == 1;
      _exit(recorded ? 42 : 43);
    };
    action.sa_flags = SA_SIGINFO;
    sigaction(SIGSEGV, &action, nullptr);
  }
  if (!kit) {
    telemetry::CRKContextInitData data;
    data.reportPath = argv[1];
    data.maxCustomKeys = 16;
    data.logBufferSize = 65536;
    data.maxCustomExceptions = 16;
    telemetry::CRKContextInitialize(&data);
  }
  printSymbol("main", reinterpret_cast<void*>(&main));
  printSymbol("crasherNullWrite", reinterpret_cast<void*>(&crasherNullWrite));
  printSymbol("crasherRecurse", reinterpret_cast<void*>(&crasherRecurse));
  printSymbol("crasherParkThread", reinterpret_cast<void*>(&crasherParkThread));
  // Called through a pointer, so the call stays in main's own body (not a cold part).
  int (*volatile run)(int, char**, const std::string&) = runKind;
  return run(argc, argv, kind);
}

int runKind(int argc, char** argv, const std::string& kind) {
  if (kind == "null") {
    ready();
    crasherNullWrite();
  } else if (kind == "recursion") {
    ready();
    crasherRecurse(0);
  } else if (kind == "queue-recursion") {
    auto* queue = new platform::SerialQueue("org.orrery.crasher.queue");
    queue->async([] {
      ready();
      crasherRecurse(0);
    });
    for (;;) pause();
  } else if (kind == "bus") {
    const std::string path = gFolder + "/truncated";
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (ftruncate(fd, 4096) != 0) return 3;
    auto* p = static_cast<volatile char*>(mmap(nullptr, 8192, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
    if (ftruncate(fd, 0) != 0) return 3;
    ready();
    p[100] = 1;
  } else if (kind == "fpe") {
    volatile int zero = 0;
    ready();
    std::printf("%d\n", 10 / zero);
  } else if (kind == "trap") {
    ready();
    __builtin_trap();
  } else if (kind == "int3") {
    ready();
    asm volatile("int3");
  } else if (kind == "abort") {
    ready();
    std::abort();
  } else if (kind == "assert") {
    ready();
    volatile int one = 1;
    assert(one == 2 && "the crasher's assertion");
  } else if (kind == "seccomp") {
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_getppid, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRAP),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
      return 4;
    ready();
    syscall(SYS_getppid);
  } else if (kind == "throw-runtime") {
    ready();
    throw std::runtime_error("the crasher's runtime error");
  } else if (kind == "throw-cstr") {
    ready();
    throw "x";
  } else if (kind == "throw-int") {
    ready();
    throw 42;
  } else if (kind == "thread-throw") {
    std::thread([] {
      ready();
      throw std::logic_error("thrown on a thread");
    }).join();
  } else if (kind == "kill") {
    ready();
    for (;;) pause();
  } else if (kind == "two-threads") {
    static std::string record = gFolder + "/signal.crkrecord";
    std::thread other(crasherSecondFault, record.c_str());
    while (!gGo.load()) std::this_thread::yield();
    ready();
    crasherNullWrite();
    other.join();
  } else if (kind == "prior") {
    ready();
    crasherNullWrite();
  } else if (kind == "plugin") {
    void* library = dlopen(argv[3], RTLD_NOW);
    if (!library) return 5;
    auto fault = reinterpret_cast<void (*)(volatile int*)>(dlsym(library, "crash_test_library_fault"));
    ready();
    fault(nullptr);
  } else if (kind == "parked") {
    std::vector<std::thread> threads;
    for (int i = 0; i < 64; ++i) threads.emplace_back(crasherParkThread, i == 0 && argc > 3);
    while (gParked.load() < 64) std::this_thread::yield();
    ready();
    crasherNullWrite();
  } else if (kind == "logging") {
    std::thread([] {
      for (int i = 0;; ++i) {
        telemetry::CRKLog("line %d", i);
        if (i == 20) gGo.store(true);
      }
    }).detach();
    while (!gGo.load()) std::this_thread::yield();
    ready();
    crasherNullWrite();
  } else if (kind == "compact") {
    // Writes keys until killed: "k<i % 8>" = i, printing each write that returned.
    for (long i = std::atol(argv[3]);; ++i) {
      const std::string key = "k" + std::to_string(i % 8);
      telemetry::CRKUserLoggingRecordUserKeyValue(key.c_str(), std::to_string(i));
      std::printf("DONE %ld\n", i);
      std::fflush(stdout);
    }
  }
  return 0;
}
