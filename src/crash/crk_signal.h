#pragma once
// Fatal-signal capture. Seven signals get CRKSignalHandler on an alternate stack; the
// first fault writes the "signal" record and runs the crash callback (every thread, names,
// statistics), then hands the signal back to whatever handled it before the kit started,
// so the process ends as it would without the kit.
//
// Our handlers stay in place until the record is written: a second thread that faults
// meanwhile hands its registers to the recording thread and waits for the end; a fault
// inside the handler on the recording thread restores the default actions and dies.
// Faults that recur when the handler returns (SIGSEGV, SIGBUS, SIGILL, SIGFPE raised by
// the processor) are redelivered by returning; every other signal (kill, raise, abort,
// int3, seccomp) is sent again after the prior handling is back.
//
// Linux has no Mach exception ports: CRKMachExceptionInit logs one line and returns; the
// mask and name tables remain for the settings and for reading old records.

#include <signal.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>

#include "crash/crk_context.h"
#include "crash/crk_file.h"
#include "crash/crk_thread_context.h"

namespace telemetry {

inline constexpr int kCRKHandledSignals[kCRKSavedSignalCount] = {SIGABRT, SIGBUS, SIGFPE, SIGILL,
                                                                  SIGSEGV, SIGSYS, SIGTRAP};

void CRKSignalInitialize();
// The calling thread's alternate stack: the context's stack, the prior one saved in the
// context (start-up, on the thread that starts the kit).
bool CRKSignalInstallAltStack();
// Any other thread: its own 0x40000-byte mapping under a guard page, released when the
// thread ends; nothing when the thread already has one. The queues' thread-start hook.
void CRKSignalInstallThreadAltStack();
void CRKSignalSafeRemoveHandlers();
bool CRKSignalSafeInstallPreexistingHandlers();
// Writes to standard error a line per handled signal whose handler is not ours.
void CRKSignalCheckHandlers();
void CRKSignalHandler(int number, siginfo_t* information, void* machineContext);
// The "signal" section of a fault (async-signal-safe).
void CRKSignalWriteSection(CRKFile* file, int number, const siginfo_t* information, int savedErrno);
// Names by Linux signal number; both outputs are required.
bool CRKSignalNameLookup(int number, const char** nameOut, const char** codeNameOut);
void CRKSignalEnumerateHandledSignals(const std::function<void(int index, int number)>& block);
// True when returning from the handler makes the processor raise the signal again.
bool CRKSignalRecurs(int number, const siginfo_t* information);

// The crash callback: reconciles the image table, then writes the threads, runtime,
// queue-name, thread-name, statistics and storage sections while the other threads are
// parked, and finally calls the context's crash callback target on this thread.
void CRKHandler(CRKFile* file, pid_t thread, const CRKThreadContext* machineContext);
// Whether the calling thread is recording a crash (a fault there must not recurse).
bool CRKHandlerIsRecordingThread();

// Mach exception tables (data only here).
uint32_t CRKMachExceptionMaskForSignal(int number);
void CRKMachExceptionNameLookup(uint32_t type, const int64_t* firstCode, const char** nameOut,
                                const char** codeNameOut);
void CRKMachExceptionInit(uint32_t settingsMask);

}  // namespace telemetry
