#pragma once
// The state of the whole process at crash time: every thread with its registers and stack,
// queue labels and names, the C library's abort message, memory and CPU statistics and
// free disk space. Runs in a signal handler (or under the crash lock of an uncaught
// exception): no lock, no allocation, other memory only through checked reads.
//
// Threads come from /proc/self/task. Linux cannot suspend another thread, so "suspending"
// is a handshake: the recording thread sends each other thread the handshake signal (the
// highest real-time signal whose action was the default at start-up); its handler stores
// the thread's interrupted registers and queue label in the thread's slot and waits (at
// most 10 s) until the recording thread resumes it. The recording thread waits at most
// 200 ms in all; a thread that did not answer (signals blocked, no slot) is listed without
// registers. Two threads are the same thread when their thread ids are equal.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "crash/crk_context.h"
#include "crash/crk_file.h"
#include "crash/crk_thread_context.h"

namespace telemetry {

inline constexpr int64_t kCRKHandshakeWaitNanoseconds = 200 * 1000000LL;
inline constexpr int64_t kCRKParkedWaitNanoseconds = 10 * 1000000000LL;

// Slot states of the handshake.
enum CRKThreadSlotState : int32_t {
  kCRKSlotFree = 0,
  kCRKSlotRequested = 1,  // the recording thread asked for the state
  kCRKSlotParked = 2,     // the thread stored its state and waits
  kCRKSlotResumed = 3,    // the recording thread is done (or gave up waiting)
  kCRKSlotFaulted = 4,    // a second faulting thread stored its fault state and waits for the end
};

struct CRKProcess {
  pid_t task = 0;
  pid_t currentThread = 0;
  pid_t crashedThread = 0;
  uint32_t threadCount = 0;
  pid_t threads[kCRKThreadSlotCount] = {};
  // The handshake slot of each listed thread, or null.
  CRKThreadSlot* slots[kCRKThreadSlotCount] = {};
  // The registers the signal handler was handed for the crashed thread, or null.
  const CRKThreadContext* machineContext = nullptr;
};

pid_t CRKProcessCurrentThread();

bool CRKProcessInit(CRKProcess* process, pid_t crashedThread, const CRKThreadContext* machineContext);
int CRKProcessDestroy(CRKProcess* process);
// Asks every other listed thread for its state and waits for the answers.
bool CRKProcessSuspendAllOtherThreads(CRKProcess* process);
bool CRKProcessResumeAllOtherThreads(CRKProcess* process);
bool CRKProcessGetThreadState(const CRKProcess* process, uint32_t index, CRKThreadContext* stateOut);

// Records, in the order the crash callback writes them.
void CRKProcessRecordAllThreads(const CRKProcess* process, CRKFile* file);
void CRKProcessRecordRuntimeInfo(const CRKProcess* process, CRKFile* file);
void CRKProcessRecordDispatchQueueNames(const CRKProcess* process, CRKFile* file);
void CRKProcessRecordThreadNames(const CRKProcess* process, CRKFile* file);
void CRKProcessRecordStats(const CRKProcess* process, CRKFile* file);
void CRKHostWriteDiskUsage(CRKFile* file);

// Byte counts from /proc/meminfo (Unevictable stands for wired memory).
bool CRKProcessGetMemoryUsage(uint64_t* active, uint64_t* inactive, uint64_t* wired, uint64_t* freeBytes);
// Virtual and resident size (bytes) and CPU times (microseconds).
bool CRKProcessGetInfo(const CRKProcess* process, uint64_t* virtualSize, uint64_t* residentSize, uint64_t* userTime,
                       uint64_t* systemTime);

// The handshake. Install chooses the signal and its handler (start-up, before the context
// is protected); answers the signal or 0 when every real-time signal is taken.
int CRKProcessInstallHandshake();
// The slot of a thread: found by its id, or claimed when `claim` is set. Lock-free.
CRKThreadSlot* CRKProcessSlotForThread(pid_t tid, bool claim);
// A faulting thread that finds a crash already being recorded hands its fault state to the
// recording thread, waits up to 10 s for the process to end, and exits with status 1.
[[noreturn]] void CRKProcessParkSecondFault(const CRKThreadContext* faultState);

// Parsing helpers, also fed by tests: the value of "Key:" in kB from a meminfo text, and
// the first two numbers of a statm text.
bool CRKProcessMeminfoValue(const char* text, size_t length, const char* key, uint64_t* kilobytes);
bool CRKProcessStatmValues(const char* text, size_t length, uint64_t* sizePages, uint64_t* residentPages);

}  // namespace telemetry
