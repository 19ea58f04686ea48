#include "crash/crk_process_record.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/futex.h>
#include <sys/prctl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "crash/crk_log.h"
#include "crash/crk_memory.h"
#include "crash/crk_process.h"
#include "crash/crk_unwind.h"
#include "platform/core/dispatch.h"

namespace telemetry {

namespace {

int64_t monotonicNanoseconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

void futexWait(std::atomic<int32_t>* word, int32_t expected, int64_t nanoseconds) {
  if (nanoseconds <= 0) return;
  timespec ts{static_cast<time_t>(nanoseconds / 1000000000LL), static_cast<long>(nanoseconds % 1000000000LL)};
  syscall(SYS_futex, reinterpret_cast<int32_t*>(word), FUTEX_WAIT, expected, &ts, nullptr, 0);
}

void futexWake(std::atomic<int32_t>* word) {
  syscall(SYS_futex, reinterpret_cast<int32_t*>(word), FUTEX_WAKE, 0x7fffffff, nullptr, nullptr, 0);
}

// One word for each direction of the handshake, so each costs the recording thread one
// wait and one wake-up instead of one per thread: the answers so far, and the resume
// generation every parked thread sleeps on. The count only wakes the recording thread;
// which threads answered it reads from their slots (a late answer to an earlier record can
// land in this record's count).
std::atomic<int32_t> gAnswers{0};
std::atomic<int32_t> gAnswersAwaited{INT32_MAX};
std::atomic<int32_t> gResumeGeneration{0};

// Called after the answer is published. From the awaited count on, every answer wakes the
// recording thread.
void countAnswer() {
  if (gAnswers.fetch_add(1) + 1 >= gAnswersAwaited.load()) futexWake(&gAnswers);
}

// Loads that pair with an answer's release: the slot's contents are then the answer's.
int32_t slotState(const CRKThreadSlot* slot) { return slot->state.load(std::memory_order_acquire); }

// The calling thread's registers, queue label and name into its own slot; the caller then
// publishes them with its answer.
void storeOwnState(CRKThreadSlot* slot, const CRKThreadContext& context) {
  slot->context = context;
  const char* label = platform::currentQueueLabel();
  slot->hasQueue = label != nullptr;
  size_t n = 0;
  if (label) {
    for (; n + 1 < sizeof slot->queueLabel && label[n]; ++n) slot->queueLabel[n] = label[n];
  }
  slot->queueLabel[n] = '\0';
  // As /proc/self/task/<tid>/comm holds it; empty when unreadable.
  char name[sizeof slot->name] = {};
  if (prctl(PR_GET_NAME, name, 0, 0, 0) != 0) name[0] = '\0';
  name[sizeof name - 1] = '\0';
  std::memcpy(slot->name, name, sizeof name);
}

// A parked thread's wait for its resume (at most 10 s).
void waitWhileParked(const CRKThreadSlot* slot) {
  const int64_t deadline = monotonicNanoseconds() + kCRKParkedWaitNanoseconds;
  for (;;) {
    // The generation is read before the state: a resume after this changes it, so the wait
    // below cannot sleep through it.
    const int32_t generation = gResumeGeneration.load();
    if (slot->state.load() != kCRKSlotParked) return;
    const int64_t left = deadline - monotonicNanoseconds();
    if (left <= 0) return;
    futexWait(&gResumeGeneration, generation, left);
  }
}

// "/proc/self/task/<tid>/<leaf>" into out.
void taskPath(pid_t tid, const char* leaf, char* out, size_t capacity) {
  char digits[24];
  CRKFormatUnsigned(static_cast<uint64_t>(tid), 10, digits);
  out[0] = '\0';
  size_t at = 0;
  for (const char* piece : {"/proc/self/task/", static_cast<const char*>(digits), "/", leaf}) {
    for (const char* p = piece; *p && at + 1 < capacity; ++p) out[at++] = *p;
  }
  out[at] = '\0';
}

bool isAnswered(int32_t state) { return state == kCRKSlotParked || state == kCRKSlotFaulted; }

bool hasAnswered(const CRKThreadSlot* slot) { return slot && isAnswered(slotState(slot)); }

// The handler of the handshake signal: store this thread's state, then wait to be resumed.
void handshakeHandler(int, siginfo_t*, void* uc) {
  const int savedErrno = errno;
  CRKThreadSlot* slot = CRKProcessSlotForThread(CRKProcessCurrentThread(), false);
  // The acquire orders the stores below after the recording thread's reads of any earlier
  // answer; the answer's release publishes them.
  if (slot && slotState(slot) == kCRKSlotRequested && reinterpret_cast<uintptr_t>(uc) >= kCRKMinimumValidAddress) {
    CRKThreadContext context;
    CRKThreadContextFromUcontext(static_cast<const ucontext_t*>(uc), &context);
    storeOwnState(slot, context);
    int32_t expected = kCRKSlotRequested;
    if (slot->state.compare_exchange_strong(expected, kCRKSlotParked, std::memory_order_acq_rel)) {
      countAnswer();
      waitWhileParked(slot);
    }
  }
  errno = savedErrno;
}

// Whether the thread still runs (a thread id is not reused while its thread lives).
bool threadExists(pid_t tid) { return syscall(SYS_tgkill, getpid(), tid, 0) == 0 || errno != ESRCH; }

}  // namespace

pid_t CRKProcessCurrentThread() { return static_cast<pid_t>(syscall(SYS_gettid)); }

int CRKProcessInstallHandshake() {
  for (int sig = SIGRTMAX; sig >= SIGRTMIN; --sig) {
    struct sigaction current {};
    if (sigaction(sig, nullptr, &current) != 0) continue;
    if (current.sa_handler != SIG_DFL || (current.sa_flags & SA_SIGINFO)) continue;
    struct sigaction action {};
    action.sa_sigaction = handshakeHandler;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESTART;
    sigemptyset(&action.sa_mask);
    if (sigaction(sig, &action, nullptr) != 0) continue;
    return sig;
  }
  CRKLogWarn("No free real-time signal for the thread handshake\n");
  return 0;
}

CRKThreadSlot* CRKProcessSlotForThread(pid_t tid, bool claim) {
  CRKContext* c = CRKContextGet();
  if (!c || !c->threadSlots || tid <= 0) return nullptr;
  CRKThreadSlot* slots = c->threadSlots;
  // Slots are claimed first free first and never given back, so the claimed ones are the
  // leading ones: the search ends at the first free slot.
  size_t i = 0;
  for (; i < kCRKThreadSlotCount; ++i) {
    const int32_t held = __atomic_load_n(&slots[i].tid, __ATOMIC_ACQUIRE);
    if (held == tid) return &slots[i];
    if (held == 0) break;
  }
  if (!claim) return nullptr;
  for (; i < kCRKThreadSlotCount; ++i) {
    int32_t expected = 0;
    if (__atomic_compare_exchange_n(&slots[i].tid, &expected, tid, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST)) {
      return &slots[i];
    }
    if (expected == tid) return &slots[i];
  }
  // Every slot taken (records in a row over threads that came and went): the slot of an
  // ended thread that is not mid-answer is taken over. Its tid never returns to 0, so the
  // search above still ends at the first free slot.
  const int errnoBefore = errno;
  for (i = 0; i < kCRKThreadSlotCount; ++i) {
    int32_t held = __atomic_load_n(&slots[i].tid, __ATOMIC_ACQUIRE);
    const int32_t state = slots[i].state.load();
    if (state != kCRKSlotFree && state != kCRKSlotResumed) continue;
    if (held == tid || threadExists(held)) continue;
    if (__atomic_compare_exchange_n(&slots[i].tid, &held, tid, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST)) break;
  }
  errno = errnoBefore;
  return i < kCRKThreadSlotCount ? &slots[i] : nullptr;
}

void CRKProcessParkSecondFault(const CRKThreadContext* faultState) {
  if (CRKContext* c = CRKContextGet(); c && c->signal.handshakeSignal) {
    sigset_t handshake;
    sigemptyset(&handshake);
    sigaddset(&handshake, c->signal.handshakeSignal);
    pthread_sigmask(SIG_BLOCK, &handshake, nullptr);
  }
  if (CRKThreadSlot* slot = CRKProcessSlotForThread(CRKProcessCurrentThread(), true)) {
    // Without the fault's registers, the thread's own here: an answer always carries some.
    CRKThreadContext own;
    if (!faultState) {
      CRKThreadContextCaptureCaller(&own);
      faultState = &own;
    }
    storeOwnState(slot, *faultState);
    // A request already sent to this thread is answered here (its handler stays blocked).
    if (slot->state.exchange(kCRKSlotFaulted, std::memory_order_acq_rel) == kCRKSlotRequested) countAnswer();
  }
  // The recording thread ends the process; if it does not within 10 s, end it here.
  const int64_t deadline = monotonicNanoseconds() + kCRKParkedWaitNanoseconds;
  for (int64_t left = kCRKParkedWaitNanoseconds; left > 0; left = deadline - monotonicNanoseconds()) {
    timespec ts{static_cast<time_t>(left / 1000000000LL), static_cast<long>(left % 1000000000LL)};
    nanosleep(&ts, nullptr);
  }
  _exit(1);
}

bool CRKProcessInit(CRKProcess* process, pid_t crashedThread, const CRKThreadContext* machineContext) {
  if (!process) return false;
  process->task = getpid();
  process->currentThread = CRKProcessCurrentThread();
  process->crashedThread = crashedThread;
  process->machineContext =
      reinterpret_cast<uintptr_t>(machineContext) >= kCRKMinimumValidAddress ? machineContext : nullptr;
  process->threadCount = 0;
  const int fd = open("/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    CRKLogWarn("Error: unable to get task threads\n");
    return false;
  }
  alignas(8) char buffer[4096];
  for (;;) {
    const long n = syscall(SYS_getdents64, fd, buffer, sizeof buffer);
    if (n <= 0) break;
    for (long at = 0; at < n;) {
      uint16_t length = 0;
      std::memcpy(&length, buffer + at + 16, sizeof length);
      if (length == 0) break;
      const char* name = buffer + at + 19;
      pid_t tid = 0;
      bool digits = *name != '\0';
      for (const char* p = name; *p; ++p) {
        if (*p < '0' || *p > '9' || tid > 100000000) {
          digits = false;
          break;
        }
        tid = tid * 10 + (*p - '0');
      }
      if (digits && tid > 0 && process->threadCount < kCRKThreadSlotCount) {
        process->slots[process->threadCount] = nullptr;
        process->threads[process->threadCount++] = tid;
      }
      at += length;
    }
  }
  close(fd);
  if (process->threadCount == 0) {
    CRKLogWarn("Error: unable to get task threads\n");
    return false;
  }
  return true;
}

int CRKProcessDestroy(CRKProcess*) { return 0; }

namespace {

bool anyStillAsked(const CRKProcess* process) {
  for (uint32_t i = 0; i < process->threadCount; ++i) {
    if (process->slots[i] && slotState(process->slots[i]) == kCRKSlotRequested) return true;
  }
  return false;
}

// Until every asked thread has answered, or the handshake's time is up.
void awaitAnswers(const CRKProcess* process, int32_t requested) {
  const int64_t deadline = monotonicNanoseconds() + kCRKHandshakeWaitNanoseconds;
  for (;;) {
    // Read before the slots: an answer after this changes it, so the wait cannot miss it.
    const int32_t answers = gAnswers.load();
    if (answers >= requested && !anyStillAsked(process)) return;
    const int64_t left = deadline - monotonicNanoseconds();
    if (left <= 0) return;
    futexWait(&gAnswers, answers, left);
  }
}

}  // namespace

bool CRKProcessSuspendAllOtherThreads(CRKProcess* process) {
  if (!process) return false;
  CRKContext* c = CRKContextGet();
  const int sig = c ? c->signal.handshakeSignal : 0;
  bool ok = true;
  // No answer wakes this thread until every request is out.
  gAnswersAwaited.store(INT32_MAX);
  gAnswers.store(0);
  int32_t requested = 0;
  for (uint32_t i = 0; i < process->threadCount; ++i) {
    const pid_t tid = process->threads[i];
    if (tid == process->currentThread) continue;
    CRKThreadSlot* slot = CRKProcessSlotForThread(tid, true);
    process->slots[i] = slot;
    if (!slot) {
      ok = false;
      continue;
    }
    // A free slot, or one resumed by an earlier record (an uncaught exception's record is
    // followed by its abort's). A thread that handed in its fault state is not asked again.
    int32_t expected = slot->state.load();
    if (expected != kCRKSlotFree && expected != kCRKSlotResumed) continue;
    if (!slot->state.compare_exchange_strong(expected, kCRKSlotRequested)) continue;
    if (sig == 0 || syscall(SYS_tgkill, process->task, tid, sig) != 0) {
      // Withdrawn, unless the thread answered meanwhile by faulting (and counted itself).
      int32_t asked = kCRKSlotRequested;
      if (slot->state.compare_exchange_strong(asked, kCRKSlotResumed)) {
        ok = false;
        continue;
      }
    }
    ++requested;
  }
  gAnswersAwaited.store(requested);
  awaitAnswers(process, requested);
  for (uint32_t i = 0; i < process->threadCount; ++i) {
    CRKThreadSlot* slot = process->slots[i];
    if (!slot) continue;
    // A late answer finds the request withdrawn and returns at once.
    int32_t expected = kCRKSlotRequested;
    if (slot->state.compare_exchange_strong(expected, kCRKSlotResumed)) ok = false;
  }
  return ok;
}

bool CRKProcessResumeAllOtherThreads(CRKProcess* process) {
  if (!process) return false;
  for (uint32_t i = 0; i < process->threadCount; ++i) {
    CRKThreadSlot* slot = process->slots[i];
    if (!slot) continue;
    int32_t expected = kCRKSlotParked;
    slot->state.compare_exchange_strong(expected, kCRKSlotResumed);
  }
  gResumeGeneration.fetch_add(1);
  futexWake(&gResumeGeneration);
  return true;
}

bool CRKProcessGetThreadState(const CRKProcess* process, uint32_t index, CRKThreadContext* stateOut) {
  if (!stateOut || !process || index >= process->threadCount) {
    CRKLogError("invalid context supplied");
    return false;
  }
  const pid_t tid = process->threads[index];
  if (tid == process->crashedThread && process->machineContext) {
    *stateOut = *process->machineContext;
    return true;
  }
  if (tid == process->currentThread) {
    CRKLogWarn("Faking current thread\n");
    CRKThreadContextCaptureCaller(stateOut);
    return true;
  }
  const CRKThreadSlot* slot = process->slots[index];
  if (hasAnswered(slot)) {
    *stateOut = slot->context;
    return true;
  }
  CRKLogError("failed to get thread state\n");
  return false;
}

namespace {

void writeRegisters(CRKFile* file, const CRKThreadContext& state) {
  CRKFileWriteHashKey(file, "registers");
  CRKFileWriteHashStart(file);
  const uint64_t* values = reinterpret_cast<const uint64_t*>(&state.ss);
  for (size_t r = 0; r < kCRKRegisterCount; ++r) CRKFileWriteHashEntryUint64(file, kCRKRegisterNames[r], values[r]);
  CRKFileWriteHashEnd(file);
}

void recordThread(const CRKProcess* process, uint32_t index, CRKFile* file) {
  CRKLogInfo("recording thread %d data\n", static_cast<int>(index));
  const bool crashed = process->threads[index] == process->crashedThread;
  CRKThreadContext state;
  CRKUnwindCursor cursor;
  bool ok = CRKProcessGetThreadState(process, index, &state);
  if (!ok) {
    CRKLogError("unable to get thread state");
  } else {
    // The faked current thread starts from a return address, every other state from an
    // interrupted instruction.
    const bool faked = process->threads[index] == process->currentThread &&
                       !(process->threads[index] == process->crashedThread && process->machineContext);
    ok = faked ? CRKUnwindInitFromReturnAddress(&cursor, &state) : CRKUnwindInit(&cursor, &state);
    if (!ok) CRKLogWarn("unable to init unwind context\n");
  }
  CRKFileWriteHashStart(file);
  if (!ok) {
    // Unreadable state: an empty stack keeps the per-thread sections aligned.
    CRKFileWriteHashKey(file, "stacktrace");
    CRKFileWriteArrayStart(file);
    CRKFileWriteArrayEnd(file);
    if (crashed) CRKFileWriteHashEntryBoolean(file, "crashed", true);
    CRKFileWriteHashEnd(file);
    return;
  }
  writeRegisters(file, state);
  CRKFileWriteHashKey(file, "stacktrace");
  CRKFileWriteArrayStart(file);
  uint64_t repeatedPC = 0;
  uint32_t repeatCount = 0;
  bool suppressing = false;
  const int threshold = CRKSDKLogThreshold();
  while (CRKUnwindNextFrame(&cursor)) {
    const uint64_t pc = CRKUnwindGetPC(&cursor);
    const uint32_t count = CRKUnwindGetRepeatCount(&cursor);
    if (!suppressing && count >= 10) {
      CRKLogWarn("Possible infinite recursion - suppressing logging\n");
      CRKSDKLogSetThreshold(kCRKLogWarn);
      suppressing = true;
      repeatedPC = pc;
      repeatCount = count;
      continue;
    }
    if (suppressing && pc == repeatedPC) {
      if (count > 0) repeatCount = count;
      continue;
    }
    if (suppressing) CRKSDKLogSetThreshold(threshold);
    CRKFileWriteArrayEntryUint64(file, pc);
  }
  CRKSDKLogSetThreshold(threshold);
  CRKFileWriteArrayEnd(file);
  if (crashed) CRKFileWriteHashEntryBoolean(file, "crashed", true);
  if (suppressing) {
    CRKFileWriteHashEntryUint64(file, "repeated_pc", repeatedPC);
    CRKFileWriteHashEntryUint64(file, "repeat_count", repeatCount);
  }
  CRKFileWriteHashEnd(file);
}

}  // namespace

void CRKProcessRecordAllThreads(const CRKProcess* process, CRKFile* file) {
  if (!process || !file) return;
  CRKFileWriteSectionStart(file, "threads");
  CRKFileWriteArrayStart(file);
  for (uint32_t i = 0; i < process->threadCount; ++i) recordThread(process, i, file);
  CRKFileWriteArrayEnd(file);
  CRKFileWriteSectionEnd(file);
  CRKLogInfo("completed recording all thread data\n");
}

void CRKProcessRecordRuntimeInfo(const CRKProcess* process, CRKFile* file) {
  if (!process || !file) return;
  CRKFileWriteSectionStart(file, "runtime");
  CRKFileWriteHashStart(file);
  // No message-send runtime here: there is never a selector.
  CRKFileWriteHashEntryString(file, "objc_selector", "");
  CRKFileWriteHashKey(file, "crash_info_entries");
  CRKFileWriteArrayStart(file);
  CRKContext* c = CRKContextGet();
  uint64_t message = 0;
  if (c && c->signal.abortMessageAddress >= kCRKMinimumValidAddress &&
      CRKReadMemory(reinterpret_cast<const void*>(c->signal.abortMessageAddress), &message, sizeof message) &&
      message >= kCRKMinimumValidAddress) {
    // struct abort_msg_s { unsigned int size; char msg[]; }
    const char* text = nullptr;
    CRKLogDebug("attempting to read crash info string\n");
    if (CRKReadString(reinterpret_cast<const char*>(message + sizeof(uint32_t)), &text, 256) && text) {
      char copy[257];
      size_t n = 0;
      for (; n < 256 && text[n]; ++n) copy[n] = text[n];
      copy[n] = '\0';
      CRKFileWriteArrayEntryHexEncodedString(file, copy);
    } else {
      CRKLogError("Failed to copy crash info string\n");
    }
  }
  CRKFileWriteArrayEnd(file);
  CRKFileWriteHashEnd(file);
  CRKFileWriteSectionEnd(file);
}

void CRKProcessRecordDispatchQueueNames(const CRKProcess* process, CRKFile* file) {
  if (!process || !file) return;
  CRKFileWriteSectionStart(file, "dispatch_queue_names");
  CRKFileWriteArrayStart(file);
  for (uint32_t i = 0; i < process->threadCount; ++i) {
    if (process->threads[i] == process->currentThread) {
      const char* label = platform::currentQueueLabel();
      const char* checked = nullptr;
      CRKFileWriteArrayEntryString(file, label && CRKReadString(label, &checked, 128) ? label : "");
      continue;
    }
    const CRKThreadSlot* slot = process->slots[i];
    if (!hasAnswered(slot)) {
      CRKLogWarn("unable to get thread info\n");
      CRKFileWriteArrayEntryString(file, nullptr);
      continue;
    }
    CRKFileWriteArrayEntryString(file, slot->hasQueue ? slot->queueLabel : "");
  }
  CRKFileWriteArrayEnd(file);
  CRKFileWriteSectionEnd(file);
}

void CRKProcessRecordThreadNames(const CRKProcess* process, CRKFile* file) {
  if (!process || !file) return;
  CRKFileWriteSectionStart(file, "thread_names");
  CRKFileWriteArrayStart(file);
  for (uint32_t i = 0; i < process->threadCount; ++i) {
    // A thread that answered the handshake read its own name, in parallel with the others;
    // opening each thread's comm file costs tens of microseconds.
    const CRKThreadSlot* slot = process->slots[i];
    if (hasAnswered(slot)) {
      char name[sizeof slot->name];
      std::memcpy(name, slot->name, sizeof name);
      name[sizeof name - 1] = '\0';
      if (name[0] != '\0') {
        CRKFileWriteArrayEntryString(file, name);
        continue;
      }
    }
    char path[64];
    taskPath(process->threads[i], "comm", path, sizeof path);
    char name[64];
    size_t n = CRKReadSmallFile(path, name, sizeof name);
    while (n > 0 && name[n - 1] == '\n') name[--n] = '\0';
    CRKFileWriteArrayEntryString(file, name);
  }
  CRKFileWriteArrayEnd(file);
  CRKFileWriteSectionEnd(file);
}

}  // namespace telemetry
