#include "crash/crk_signal.h"

#include <dlfcn.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "crash/crk_binary_image.h"
#include "crash/crk_early_capture.h"
#include "crash/crk_log.h"
#include "crash/crk_memory.h"
#include "crash/crk_process_record.h"

namespace telemetry {

namespace {

// The thread recording a crash (0: none).
std::atomic<pid_t> gRecordingThread{0};

const char* const kSignalNames[] = {"SIGILL", "SIGTRAP", "SIGABRT", "SIGBUS",  "SIGFPE",
                                    "UNKNOWN", "UNKNOWN", "SIGSEGV", "UNKNOWN"};

void unblockAllSignals() {
  sigset_t none;
  sigemptyset(&none);
  if (pthread_sigmask(SIG_SETMASK, &none, nullptr) != 0) {
    CRKLogWarn("Unable to unmask signals - we risk infinite recursion here\n");
  }
}

// Sends the signal again to this thread with its original information, so a prior
// handler sees what we saw; raise() when the kernel refuses.
void resend(int number, siginfo_t* information) {
  if (information &&
      syscall(SYS_rt_tgsigqueueinfo, getpid(), CRKProcessCurrentThread(), number, information) == 0) {
    return;
  }
  raise(number);
}

// The alternate stack of a queue thread, released when the thread ends.
struct ThreadAltStack {
  void* mapping = nullptr;
  size_t length = 0;
  ~ThreadAltStack() {
    if (!mapping) return;
    stack_t off{};
    off.ss_flags = SS_DISABLE;
    sigaltstack(&off, nullptr);
    munmap(mapping, length);
  }
};
thread_local ThreadAltStack tAltStack;

}  // namespace

bool CRKSignalNameLookup(int number, const char** nameOut, const char** codeNameOut) {
  if (!nameOut || !codeNameOut) return false;
  if (number >= 4 && number <= 12)
    *nameOut = kSignalNames[number - 4];
  else
    *nameOut = number == SIGSYS ? "SIGSYS" : "UNKNOWN";
  *codeNameOut = number == SIGABRT ? "ABORT" : nullptr;
  return true;
}

void CRKSignalEnumerateHandledSignals(const std::function<void(int, int)>& block) {
  if (!block) return;
  for (size_t i = 0; i < kCRKSavedSignalCount; ++i) block(static_cast<int>(i), kCRKHandledSignals[i]);
}

bool CRKSignalRecurs(int number, const siginfo_t* information) {
  if (!information || information->si_code <= 0) return false;
  return number == SIGSEGV || number == SIGBUS || number == SIGILL || number == SIGFPE;
}

uint32_t CRKMachExceptionMaskForSignal(int number) {
  switch (number) {
    case SIGILL: return 4;
    case SIGTRAP: return 0x40;
    case SIGABRT: return 0x400;
    case SIGFPE: return 8;
    case SIGBUS: return 2;
    case SIGSEGV: return 2;
    case SIGSYS: return 0x400;
    default: return 0;
  }
}

void CRKMachExceptionNameLookup(uint32_t type, const int64_t* firstCode, const char** nameOut,
                                const char** codeNameOut) {
  if (!nameOut || !codeNameOut) return;
  *nameOut = nullptr;
  *codeNameOut = nullptr;
  const int64_t code = firstCode ? *firstCode : -1;
  switch (type) {
    case 1:
      *nameOut = "EXC_BAD_ACCESS";
      if (code == 1) *codeNameOut = "KERN_INVALID_ADDRESS";
      if (code == 2) *codeNameOut = "KERN_PROTECTION_FAILURE";
      break;
    case 2:
      *nameOut = "EXC_BAD_INSTRUCTION";
      *codeNameOut = "EXC_I386_INVOP";
      break;
    case 3: {
      static const char* const kArithmetic[] = {"EXC_I386_DIV",    "EXC_I386_INTO",   "EXC_I386_NOEXT",
                                                "EXC_I386_EXTOVR", "EXC_I386_EXTERR", "EXC_I386_EMERR",
                                                "EXC_I386_BOUND",  "EXC_I386_SSEEXTERR"};
      *nameOut = "EXC_ARITHMETIC";
      if (code >= 1 && code <= 8) *codeNameOut = kArithmetic[code - 1];
      break;
    }
    case 6: {
      static const char* const kBreakpoint[34] = {
          "EXC_I386_DIVERR",    "EXC_I386_SGLSTP",    "EXC_I386_NMIFLT",   "EXC_I386_BPTFLT",    "EXC_I386_INTOFLT",
          "EXC_I386_BOUNDFLT",  "EXC_I386_INVOPFLT",  "EXC_I386_NOEXTFLT", nullptr,              "EXC_I386_EXTOVRFLT",
          "EXC_I386_INVTSSFLT", "EXC_I386_SEGNPFLT",  "EXC_I386_STKFLT",   "EXC_I386_GPFLT",     "EXC_I386_PGFLT",
          nullptr,              "EXC_I386_EXTERRFLT", "EXC_I386_ALIGNFLT", nullptr,              nullptr,
          nullptr,              nullptr,              nullptr,             nullptr,              nullptr,
          nullptr,              nullptr,              nullptr,             nullptr,              nullptr,
          nullptr,              nullptr,              "EXC_I386_ENOEXTFLT", "EXC_I386_ENDPERR"};
      *nameOut = "EXC_BREAKPOINT";
      if (code >= 0 && code < 34) *codeNameOut = kBreakpoint[code];
      break;
    }
    case 12:
      *nameOut = "EXC_GUARD";
      break;
    default:
      break;
  }
}

void CRKMachExceptionInit(uint32_t) {
  CRKLogWarn("Mach exceptions are not available here; faults are caught as signals\n");
}

bool CRKSignalInstallAltStack() {
  CRKContext* c = CRKContextGet();
  if (!c || !c->signalStack) return false;
  stack_t stack{};
  stack.ss_sp = c->signalStack;
  stack.ss_size = kCRKSignalStackSize;
  stack.ss_flags = 0;
  stack_t prior{};
  if (sigaltstack(&stack, &prior) != 0) {
    CRKLogWarn("Unable to setup stack %s\n", CRKErrorText(errno));
    return false;
  }
  CRKEarlyCaptureSeeThroughStack(&prior);
  c->signal.priorStack = prior;
  c->signal.priorStackSaved = true;
  return true;
}

void CRKSignalInstallThreadAltStack() {
  stack_t current{};
  if (sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE)) return;
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const size_t length = kCRKSignalStackSize + page;
  void* mapping = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) {
    CRKLogWarn("Unable to setup stack %s\n", CRKErrorText(errno));
    return;
  }
  // The lowest page stays inaccessible: an overflow of the handler faults instead of
  // writing over whatever lies below.
  mprotect(mapping, page, PROT_NONE);
  stack_t stack{};
  stack.ss_sp = static_cast<char*>(mapping) + page;
  stack.ss_size = kCRKSignalStackSize;
  if (sigaltstack(&stack, nullptr) != 0) {
    CRKLogWarn("Unable to setup stack %s\n", CRKErrorText(errno));
    munmap(mapping, length);
    return;
  }
  tAltStack.mapping = mapping;
  tAltStack.length = length;
}

void CRKSignalInitialize() {
  CRKContext* c = CRKContextGet();
  if (!c) return;
  if (c->signal.path && !CRKUnlinkIfExists(c->signal.path)) {
    CRKLogWarn("Unable to reset the signal log file %s\n", CRKErrorText(errno));
  }
  c->signal.handshakeSignal = CRKProcessInstallHandshake();
  for (size_t i = 0; i < kCRKSavedSignalCount; ++i) {
    const int number = kCRKHandledSignals[i];
    struct sigaction action {};
    action.sa_sigaction = CRKSignalHandler;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    struct sigaction prior {};
    if (sigaction(number, &action, &prior) != 0) {
      CRKLogWarn("Unable to install handler for %d (%s)\n", number, CRKErrorText(errno));
      continue;
    }
    // The capture from the start of main is still in place and ends once ours are in: a fault
    // is handed on to what was there before it.
    CRKEarlyCaptureSeeThroughAction(i, &prior);
    const bool isDefault = !(prior.sa_flags & SA_SIGINFO) && prior.sa_handler == SIG_DFL;
    if (isDefault) {
      std::memset(&c->signal.priorActions[i], 0, sizeof c->signal.priorActions[i]);
    } else {
      c->signal.priorActions[i] = prior;
    }
  }
}

void CRKSignalSafeRemoveHandlers() {
  for (size_t i = 0; i < kCRKSavedSignalCount; ++i) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    if (sigaction(kCRKHandledSignals[i], &action, nullptr) != 0) {
      CRKLogWarn("Unable to set default handler for %d (%s)\n", kCRKHandledSignals[i], CRKErrorText(errno));
    }
  }
}

bool CRKSignalSafeInstallPreexistingHandlers() {
  CRKContext* c = CRKContextGet();
  CRKSignalSafeRemoveHandlers();
  if (!c) return false;
  bool ok = true;
  // The prior alternate stack belongs to the thread that started the kit. The kernel
  // refuses to swap the stack a handler is running on, so from inside our handler it stays
  // (and stays mapped); that refusal must not keep the prior actions from coming back.
  stack_t current{};
  const bool onAltStack = sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_ONSTACK);
  if (c->signal.priorStackSaved && !onAltStack && CRKProcessCurrentThread() == getpid()) {
    if (sigaltstack(&c->signal.priorStack, nullptr) != 0) {
      CRKLogWarn("Unable to setup stack %s\n", CRKErrorText(errno));
      ok = false;
    }
  }
  for (size_t i = 0; i < kCRKSavedSignalCount; ++i) {
    const struct sigaction& prior = c->signal.priorActions[i];
    const bool empty = prior.sa_handler == SIG_DFL && !(prior.sa_flags & SA_SIGINFO);
    if (empty) continue;
    if (sigaction(kCRKHandledSignals[i], &prior, nullptr) != 0) {
      CRKLogWarn("Unable to install handler for %d (%s)\n", kCRKHandledSignals[i], CRKErrorText(errno));
      ok = false;
    }
  }
  return ok;
}

void CRKSignalCheckHandlers() {
  if (CRKContextReadFlag()) return;
  for (size_t i = 0; i < kCRKSavedSignalCount; ++i) {
    const int number = kCRKHandledSignals[i];
    struct sigaction current {};
    if (sigaction(number, nullptr, &current) != 0) {
      std::fprintf(stderr, "Unable to read signal handler\n");
      continue;
    }
    const void* handler = (current.sa_flags & SA_SIGINFO) ? reinterpret_cast<const void*>(current.sa_sigaction)
                                                          : reinterpret_cast<const void*>(current.sa_handler);
    if (handler == reinterpret_cast<const void*>(&CRKSignalHandler)) continue;
    const char* name = nullptr;
    const char* code = nullptr;
    CRKSignalNameLookup(number, &name, &code);
    std::string symbol = "unknown";
    if (handler == reinterpret_cast<const void*>(SIG_DFL)) {
      symbol = "SIG_DFL";
    } else if (handler == reinterpret_cast<const void*>(SIG_IGN)) {
      symbol = "SIG_IGN";
    } else {
      CRKDladdrWithBlock(reinterpret_cast<uintptr_t>(handler), [&](const char* s, const char*) {
        if (s) symbol = s;
      });
    }
    std::fprintf(stderr, "[CrashKit] The signal %s has a non-CrashKit handler (%s).  This will interfere with reporting.\n",
                 name, symbol.c_str());
  }
}

bool CRKHandlerIsRecordingThread() {
  const pid_t recording = gRecordingThread.load();
  return recording != 0 && recording == CRKProcessCurrentThread();
}

void CRKHandler(CRKFile* file, pid_t thread, const CRKThreadContext* machineContext) {
  // Every checked read from here on uses this id (a child made by a raw clone or vfork has
  // not told us its own).
  CRKMemoryRefreshProcessID();
  CRKBinaryImageReconcile();
  CRKProcess process;
  CRKProcessInit(&process, thread, machineContext);
  CRKProcessSuspendAllOtherThreads(&process);
  CRKProcessRecordAllThreads(&process, file);
  CRKProcessRecordRuntimeInfo(&process, file);
  CRKProcessRecordDispatchQueueNames(&process, file);
  CRKProcessRecordThreadNames(&process, file);
  CRKProcessRecordStats(&process, file);
  CRKHostWriteDiskUsage(file);
  CRKProcessResumeAllOtherThreads(&process);
  CRKProcessDestroy(&process);
  CRKContext* c = CRKContextGet();
  if (c && c->crashCallbackTarget) {
    CRKLogWarn("Performing syncrhonous crash callback - hold onto your butts\n");
    c->crashCallbackTarget->deliverCrashDelegateCallback();
  }
}

void CRKSignalWriteSection(CRKFile* file, int number, const siginfo_t* information, int savedErrno) {
  const char* name = nullptr;
  const char* codeName = nullptr;
  CRKSignalNameLookup(number, &name, &codeName);
  CRKFileWriteSectionStart(file, "signal");
  CRKFileWriteHashStart(file);
  if (information) {
    CRKFileWriteHashEntryUint64(file, "number", static_cast<uint64_t>(number));
    CRKFileWriteHashEntryInt64(file, "code", information->si_code);
    if (information->si_code > 0) {
      CRKFileWriteHashEntryUint64(file, "address", reinterpret_cast<uint64_t>(information->si_addr));
    } else {
      // Sent by kill, raise or a queue: the union holds the sender, not a fault address.
      CRKFileWriteHashEntryInt64(file, "sender_pid", information->si_pid);
      CRKFileWriteHashEntryUint64(file, "sender_uid", information->si_uid);
    }
    CRKFileWriteHashEntryString(file, "name", name);
    CRKFileWriteHashEntryString(file, "code_name", codeName);
  }
  CRKFileWriteHashEntryUint64(file, "errno", static_cast<uint64_t>(static_cast<uint32_t>(savedErrno)));
  CRKFileWriteHashEntryUint64(file, "time", static_cast<uint64_t>(time(nullptr)));
  CRKFileWriteHashEnd(file);
  CRKFileWriteSectionEnd(file);
}

void CRKSignalHandler(int number, siginfo_t* information, void* machineContext) {
  const int savedErrno = errno;
  errno = 0;
  if (reinterpret_cast<uintptr_t>(information) < kCRKMinimumValidAddress) information = nullptr;
  if (reinterpret_cast<uintptr_t>(machineContext) < kCRKMinimumValidAddress) machineContext = nullptr;

  // A fault while this thread records: no second record, no recursion.
  if (CRKHandlerIsRecordingThread()) {
    CRKSignalSafeRemoveHandlers();
    unblockAllSignals();
    if (!CRKSignalRecurs(number, information)) raise(number);
    return;
  }
  CRKLogWarn("Signal: %d\n", number);

  CRKContext* c = CRKContextGet();
  CRKThreadContext state;
  if (machineContext) CRKThreadContextFromUcontext(static_cast<const ucontext_t*>(machineContext), &state);
  if (c && CRKContextMarkAndCheckIfCrashed()) {
    // Another thread is recording: hand it this fault (before any signal is unblocked, so
    // the handshake cannot store the handler's own registers instead).
    CRKLogWarn("Error: aborting signal handler because crash has already occurred");
    CRKProcessParkSecondFault(machineContext ? &state : nullptr);
  }
  unblockAllSignals();
  if (c) {
    gRecordingThread.store(CRKProcessCurrentThread());
    CRKSDKLogBeginCrashBuffering();
    CRKFile file;
    if (!c->signal.path ||
        !CRKFileInitWithPathAndBuffer(&file, c->signal.path, c->signal.writeBuffer, kCRKCrashWriteBufferSize)) {
      CRKLogWarn("Unable to open signal file\n");
    } else {
      CRKSignalWriteSection(&file, number, information, savedErrno);
      CRKHandler(&file, CRKProcessCurrentThread(), machineContext ? &state : nullptr);
      CRKFileClose(&file);
    }
    CRKSDKLogFlushCrashBuffer();
    CRKSignalSafeInstallPreexistingHandlers();
    gRecordingThread.store(0);
  }
  errno = savedErrno;
  if (!CRKSignalRecurs(number, information)) resend(number, information);
}

}  // namespace telemetry
