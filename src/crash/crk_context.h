#pragma once
// The process-wide crash context: everything crash-time code needs (paths of the current
// report's record files, limits, host facts, stacks and buffers), prepared at start-up so
// nothing is looked up, allocated or formatted once the process is crashing.
//
// It lives in the guarded mapping of crk_allocator.h. CRKContext sits in the read-only
// region and is write-protected once start-up has finished; CRKWritableState, the
// alternate signal stack, one crash-time write buffer per capture path and the thread
// slots sit in the writable region. Start-up runs its set-ups concurrently; each writes
// only its own fields.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <signal.h>

#include "crash/crk_allocator.h"
#include "crash/crk_binary_image.h"
#include "crash/crk_thread_context.h"

namespace platform {
class SerialQueue;
}

namespace telemetry {

inline constexpr const char* kCRKBundleIdentifier = "org.orrery.telemetry.kit.crashkit.mac";
inline constexpr size_t kCRKSignalStackSize = 0x40000;
inline constexpr size_t kCRKCrashWriteBufferSize = 4096;
inline constexpr size_t kCRKSDKLogBufferSize = 4096;
inline constexpr size_t kCRKThreadSlotCount = 512;
inline constexpr size_t kCRKSavedSignalCount = 7;
inline constexpr uint32_t kCRKInternalMaxKeys = 32;

// Sent at crash time to the object that reports the crash to the host's delegate.
class CRKCrashCallbackTarget {
 public:
  virtual ~CRKCrashCallbackTarget() = default;
  virtual void deliverCrashDelegateCallback() = 0;
};

struct CRKContextInitData {
  const char* apiKey = nullptr;
  void* delegate = nullptr;
  bool firstInstall = false;
  CRKCrashCallbackTarget* crashCallbackTarget = nullptr;
  const char* customBundleIdentifier = nullptr;
  const char* reportPath = nullptr;
  const char* sessionId = nullptr;
  const char* installId = nullptr;
  const char* betaToken = nullptr;
  uint32_t machExceptionMask = 0;
  bool errorReportingEnabled = false;
  bool customExceptionsEnabled = false;
  uint32_t maxCustomExceptions = 0;
  uint32_t errorLogBufferSize = 0;
  uint32_t logBufferSize = 0;
  uint32_t maxCustomKeys = 0;
};

// The crash-time copy of the SDK log: messages collect here while a crash is recorded.
struct CRKSDKLogBuffer {
  bool active = false;
  size_t length = 0;
  char bytes[kCRKSDKLogBufferSize];
};

struct CRKWritableState {
  int sdkLogFd = -1;
  int sdkLogThreshold = 1;
  uint8_t crashInProgress = 0;
  CRKSDKLogBuffer sdkLogBuffer;
  CRKBinaryImageStore binaryImages;
};

// One thread's slot in the crash-time handshake: the thread stores its own state here
// when the crashing thread asks for it. Everything after `state` is written only by the
// slot's own thread, before the store of `state` that publishes its answer, and read by the
// recording thread only after it has seen that answer.
struct CRKThreadSlot {
  int32_t tid = 0;
  std::atomic<int32_t> state{0};
  CRKThreadContext context;
  bool hasQueue = false;
  char queueLabel[128];
  // The thread's name as the thread read it for itself.
  char name[16] = {};
};

struct CRKContext {
  uint8_t initialized = 0;
  uint8_t debuggerAttached = 0;
  bool firstInstall = false;
  const char* sdkLogPath = nullptr;
  void* signalStack = nullptr;
  void* delegate = nullptr;
  CRKCrashCallbackTarget* crashCallbackTarget = nullptr;
  const char* binaryImagesPath = nullptr;
  struct {
    const char* path = nullptr;
    uint32_t maxCustomExceptions = 0;
    char* writeBuffer = nullptr;
    void (*priorTerminate)() = nullptr;
  } exception;
  const char* documentsPath = nullptr;
  size_t pageSize = 0;
  struct {
    const char* path = nullptr;
    struct sigaction priorActions[kCRKSavedSignalCount] = {};
    stack_t priorStack = {};
    bool priorStackSaved = false;
    char* writeBuffer = nullptr;
    // The real-time signal that asks other threads for their state (0: none free).
    int handshakeSignal = 0;
    // glibc's last assertion or heap-corruption message (the address of __abort_msg).
    uint64_t abortMessageAddress = 0;
  } signal;
  struct {
    const char* userIncrementalPath = nullptr;
    const char* userCompactedPath = nullptr;
    uint32_t maxUserKeys = 0;
    const char* internalIncrementalPath = nullptr;
    const char* internalCompactedPath = nullptr;
    uint32_t maxInternalKeys = 0;
  } keyValue;
  struct {
    const char* aPath = nullptr;
    const char* bPath = nullptr;
    uint32_t bufferSize = 0;
  } log;
  struct {
    const char* aPath = nullptr;
    const char* bPath = nullptr;
    uint32_t maxErrors = 0;
  } errors;
  struct {
    const char* aPath = nullptr;
    const char* bPath = nullptr;
    uint32_t maxExceptions = 0;
  } customExceptions;
  CRKThreadSlot* threadSlots = nullptr;
  CRKWritableState* writable = nullptr;
  CRKAllocator* allocator = nullptr;
};

// The context, or null before start-up. Set once; never freed.
CRKContext* CRKContextGet();
CRKWritableState* CRKContextWritable();

bool CRKContextInitialize(const CRKContextInitData* initData);
bool CRKContextIsInitialized();
bool CRKContextMarkAndCheckIfCrashed();
bool CRKContextReadFlag();
bool CRKContextHasCrashed();
void CRKContextMarkCrashed();
void CRKContextDeinitialize();
void CRKHostInitialize();

// The three serial queues; null before start-up.
platform::SerialQueue* CRKLoggingQueue();
platform::SerialQueue* CRKBinaryImagesQueue();
platform::SerialQueue* CRKExceptionQueue();

// The user's documents folder: XDG_DOCUMENTS_DIR (environment or user-dirs.dirs), else
// ~/Documents when it exists, else the home folder.
std::string CRKDocumentsDirectory();

// Writes "metadata.crkrecord" into the report folder.
bool CRKContextRecordMetadata(const CRKContextInitData* initData);

// Monotonic time marks (CLOCK_MONOTONIC, nanoseconds).
uint64_t CRKProfileMark();
double CRKProfileElapsedMilliseconds(uint64_t mark);
void CRKProfileBlock(const char* label, const std::function<void()>& block);

}  // namespace telemetry
