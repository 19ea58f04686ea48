#include "crash/crk_context.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <sstream>

#include "crash/crk_file.h"
#include "crash/crk_log.h"
#include "crash/crk_memory.h"
#include "crash/crk_process.h"
#include "crash/crk_exception.h"
#include "crash/crk_signal.h"
#include "crash/crk_user_logging.h"
#include "platform/core/dispatch.h"
#include "sdk/core/file_io.h"
#include "sdk/identity/application_identity.h"

namespace telemetry {

namespace {

constexpr auto kInitializeTimeout = std::chrono::seconds(5);

std::atomic<CRKContext*> gContext{nullptr};

struct Queues {
  platform::SerialQueue logging{std::string(kCRKBundleIdentifier) + ".logging"};
  platform::SerialQueue binaryImages{std::string(kCRKBundleIdentifier) + ".binary-images"};
  platform::SerialQueue exception{std::string(kCRKBundleIdentifier) + ".exception"};
};
// Made once and never destroyed: crash-time code and late blocks may still reach them.
Queues* gQueues = nullptr;

// The record files of one report folder; the context keeps copies of the joined paths.
constexpr const char* kRecordNames[] = {
    "sdk.log", "binary_images.crkrecord", "exception.crkrecord", "signal.crkrecord",
    "user_incremental_kv.crkrecord", "user_compacted_kv.crkrecord", "internal_incremental_kv.crkrecord",
    "internal_compacted_kv.crkrecord", "log_a.crkrecord", "log_b.crkrecord", "errors_a.crkrecord",
    "errors_b.crkrecord", "custom_exception_a.crkrecord", "custom_exception_b.crkrecord"};
constexpr size_t kPathReserve = 4096;  // the documents folder

const char* joinedPath(const char* folder, const char* name) {
  std::string path(folder);
  if (!path.empty() && path.back() != '/') path += '/';
  path += name;
  return CRKDupString(path.c_str());
}

// Sizes of the two regions, taken from the structures placed in them.
size_t writableRequest() {
  return kCRKSignalStackSize + sizeof(CRKWritableState) + 2 * kCRKCrashWriteBufferSize +
         kCRKThreadSlotCount * sizeof(CRKThreadSlot);
}

size_t readOnlyRequest(const char* reportPath) {
  const size_t folder = std::strlen(reportPath) + 2;
  size_t names = 0;
  for (const char* name : kRecordNames) names += folder + std::strlen(name);
  return sizeof(CRKContext) + names + kPathReserve;
}

template <typename T>
T* allocateZeroed(CRKAllocator* allocator, int type, size_t count = 1) {
  void* p = CRKAllocatorSafeAllocate(allocator, sizeof(T) * count, type);
  if (!p) return nullptr;
  std::memset(p, 0, sizeof(T) * count);
  T* first = static_cast<T*>(p);
  for (size_t i = 0; i < count; ++i) new (first + i) T;
  return first;
}

void setUpUserLogging(CRKContext* c, const CRKContextInitData& d, const char* folder) {
  c->keyValue.userIncrementalPath = joinedPath(folder, "user_incremental_kv.crkrecord");
  c->keyValue.userCompactedPath = joinedPath(folder, "user_compacted_kv.crkrecord");
  c->keyValue.maxUserKeys = d.maxCustomKeys;
  c->keyValue.internalIncrementalPath = joinedPath(folder, "internal_incremental_kv.crkrecord");
  c->keyValue.internalCompactedPath = joinedPath(folder, "internal_compacted_kv.crkrecord");
  c->keyValue.maxInternalKeys = kCRKInternalMaxKeys;
  c->log.aPath = joinedPath(folder, "log_a.crkrecord");
  c->log.bPath = joinedPath(folder, "log_b.crkrecord");
  c->log.bufferSize = d.logBufferSize;
  c->errors.aPath = joinedPath(folder, "errors_a.crkrecord");
  c->errors.bPath = joinedPath(folder, "errors_b.crkrecord");
  c->errors.maxErrors = d.errorReportingEnabled ? d.maxCustomExceptions : 0;
  c->customExceptions.aPath = joinedPath(folder, "custom_exception_a.crkrecord");
  c->customExceptions.bPath = joinedPath(folder, "custom_exception_b.crkrecord");
  c->customExceptions.maxExceptions = d.maxCustomExceptions;
}

// Copies of the init data's strings that outlive the caller's buffers (the metadata block
// may run after CRKContextInitialize returned).
struct InitCopy {
  std::string apiKey, reportPath, sessionId, installId;
  std::optional<std::string> betaToken;
  CRKContextInitData data;
  explicit InitCopy(const CRKContextInitData& d) : data(d) {
    auto text = [](const char* s) { return std::string(s ? s : ""); };
    apiKey = text(d.apiKey);
    reportPath = text(d.reportPath);
    sessionId = text(d.sessionId);
    installId = text(d.installId);
    if (d.betaToken) betaToken = d.betaToken;
    data.apiKey = d.apiKey ? apiKey.c_str() : nullptr;
    data.reportPath = reportPath.c_str();
    data.sessionId = d.sessionId ? sessionId.c_str() : nullptr;
    data.installId = d.installId ? installId.c_str() : nullptr;
    data.betaToken = betaToken ? betaToken->c_str() : nullptr;
    data.customBundleIdentifier = nullptr;
  }
};

}  // namespace

CRKContext* CRKContextGet() { return gContext.load(std::memory_order_acquire); }

CRKWritableState* CRKContextWritable() {
  CRKContext* c = CRKContextGet();
  return c ? c->writable : nullptr;
}

platform::SerialQueue* CRKLoggingQueue() { return gQueues ? &gQueues->logging : nullptr; }
platform::SerialQueue* CRKBinaryImagesQueue() { return gQueues ? &gQueues->binaryImages : nullptr; }
platform::SerialQueue* CRKExceptionQueue() { return gQueues ? &gQueues->exception : nullptr; }

std::string CRKDocumentsDirectory() {
  const char* home = std::getenv("HOME");
  const std::string homePath = home && *home ? home : "/";
  auto expand = [&](std::string value) {
    if (value.rfind("$HOME", 0) == 0) value = homePath + value.substr(5);
    if (value.rfind("~", 0) == 0) value = homePath + value.substr(1);
    return value;
  };
  auto isFolder = [](const std::string& path) {
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  };
  if (const char* env = std::getenv("XDG_DOCUMENTS_DIR"); env && *env) return expand(env);
  const char* config = std::getenv("XDG_CONFIG_HOME");
  const auto dirs =
      fileio::readFile((config && *config ? std::string(config) : homePath + "/.config") + "/user-dirs.dirs");
  std::istringstream lines(dirs ? std::string(dirs->begin(), dirs->end()) : std::string());
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("XDG_DOCUMENTS_DIR=", 0) != 0) continue;
    std::string value = line.substr(std::strlen("XDG_DOCUMENTS_DIR="));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    value = expand(value);
    if (isFolder(value)) return value;
  }
  if (isFolder(homePath + "/Documents")) return homePath + "/Documents";
  return homePath;
}

void CRKHostInitialize() {
  CRKContext* c = CRKContextGet();
  if (!c) return;
  c->pageSize = CRKAllocatorPageSize();
  c->documentsPath = CRKDupString(CRKDocumentsDirectory().c_str());
}

bool CRKContextRecordMetadata(const CRKContextInitData* d) {
  if (!d || !d->reportPath) return false;
  std::string path = std::string(d->reportPath) + "/metadata.crkrecord";
  if (!CRKUnlinkIfExists(path.c_str())) CRKLogWarn("Unable to unlink existing metadata file %s\n", strerror(errno));
  CRKFile file;
  if (!CRKFileInitWithPath(&file, path.c_str(), /*bufferEnabled=*/false)) {
    CRKLogWarn("Unable to open metadata file %s\n", path.c_str());
    CRKLogWarn("Unable to record context metadata\n");
    return false;
  }
  CRKFileWriteSectionStart(&file, "identity");
  CRKFileWriteHashStart(&file);
  CRKFileWriteHashEntryString(&file, "generator", "CrashKit Mac SDK/3.8.2");
  CRKFileWriteHashEntryString(&file, "build_version", "118");
  CRKFileWriteHashEntryString(&file, "display_version", "3.8.2");
  CRKFileWriteHashEntryString(&file, "api_key", d->apiKey);
  CRKFileWriteHashEntryUint64(&file, "started_at", static_cast<uint64_t>(time(nullptr)));
  CRKFileWriteHashEntryString(&file, "session_id", d->sessionId);
  CRKFileWriteHashEntryString(&file, "install_id", d->installId);
  CRKFileWriteHashEntryString(&file, "beta_token", d->betaToken);
  CRKFileWriteHashEntryBoolean(&file, "absolute_log_timestamps", true);
  CRKFileWriteHashEnd(&file);
  CRKFileWriteSectionEnd(&file);

  if (!CRKHostWriteModelInfo(&file)) CRKLogWarn("Unable to write out host metadata\n");

  CRKFileWriteSectionStart(&file, "application");
  CRKFileWriteHashStart(&file);
  CRKFileWriteHashEntryNSString(&file, "bundle_id", TELApplicationEscapedBundleIdentifier());
  CRKFileWriteHashEntryString(&file, "custom_bundle_id", nullptr);
  CRKFileWriteHashEntryNSString(&file, "build_version", TELApplicationBuildVersion());
  CRKFileWriteHashEntryNSString(&file, "display_version", TELApplicationDisplayVersion());
  CRKFileWriteHashEntryString(&file, "extension_id", nullptr);
  CRKFileWriteHashEnd(&file);
  CRKFileWriteSectionEnd(&file);

  if (!CRKBinaryImageRecordMainExecutable(&file)) CRKLogWarn("Unable to write out executable metadata\n");
  CRKFileClose(&file);
  return true;
}

bool CRKContextInitialize(const CRKContextInitData* initData) {
  // 1. Base set-up. Every queue thread gets its own alternate signal stack, so a stack
  // overflow there is recorded too.
  platform::setThreadStartHook(CRKSignalInstallThreadAltStack);
  if (!gQueues) gQueues = new Queues;
  CRKMemoryInitialize();
  const char* reportPathForSize = initData && initData->reportPath ? initData->reportPath : "";
  CRKAllocator* allocator = CRKAllocatorCreate(writableRequest(), readOnlyRequest(reportPathForSize));
  auto* context = allocateZeroed<CRKContext>(allocator, kCRKReadOnly);
  if (!context) return false;
  context->allocator = allocator;
  context->signalStack = CRKAllocatorSafeAllocate(allocator, kCRKSignalStackSize, kCRKWritable);
  if (context->signalStack) std::memset(context->signalStack, 0, kCRKSignalStackSize);
  context->writable = allocateZeroed<CRKWritableState>(allocator, kCRKWritable);
  context->signal.writeBuffer = allocateZeroed<char>(allocator, kCRKWritable, kCRKCrashWriteBufferSize);
  context->exception.writeBuffer = allocateZeroed<char>(allocator, kCRKWritable, kCRKCrashWriteBufferSize);
  context->threadSlots = allocateZeroed<CRKThreadSlot>(allocator, kCRKWritable, kCRKThreadSlotCount);
  if (context->writable) {
    context->writable->sdkLogFd = -1;
    context->writable->sdkLogThreshold = kCRKLogDebug;
    context->writable->crashInProgress = 0;
    context->writable->binaryImages.file.fd = -1;
  }
  context->initialized = 0;
  // Published with a release store: whoever sees the context sees it filled.
  gContext.store(context, std::memory_order_release);

  // 2.
  if (!initData || !initData->reportPath) return false;
  auto init = std::make_shared<InitCopy>(*initData);
  const char* folder = init->reportPath.c_str();

  // 3.
  context->sdkLogPath = joinedPath(folder, "sdk.log");
  if (context->sdkLogPath && !CRKUnlinkIfExists(context->sdkLogPath)) {
    syslog(LOG_WARNING, "[CrashKit:Crash] Unable to write initialize SDK write paths %s", strerror(errno));
  }

  // 4.
  context->debuggerAttached = CRKProcessDebuggerAttached() ? 1 : 0;
  context->delegate = initData->delegate;
  context->crashCallbackTarget = initData->crashCallbackTarget;
  context->firstInstall = initData->firstInstall;
  // The starting thread's alternate stack, here rather than from a queue block, which
  // would cover only that block's thread.
  if (!context->debuggerAttached) CRKSignalInstallAltStack();

  // 5. Each block writes only its own fields of the context.
  auto group = std::make_shared<platform::DispatchGroup>();
  platform::Queue& global = platform::globalQueue(platform::QueuePriority::Default);
  group->async(global, [] { CRKHostInitialize(); });
  group->async(global, [context, init] {
    setUpUserLogging(context, init->data, init->reportPath.c_str());
    CRKUserLoggingInitStorage();
  });
  group->async(global, [context, init] {
    context->binaryImagesPath = joinedPath(init->reportPath.c_str(), "binary_images.crkrecord");
    CRKBinaryImageInit();
  });

  // 6.
  if (!context->debuggerAttached) {
    group->async(global, [context, init] {
      context->signal.path = joinedPath(init->reportPath.c_str(), "signal.crkrecord");
      // glibc keeps its last assertion or heap-corruption text here.
      context->signal.abortMessageAddress =
          reinterpret_cast<uint64_t>(dlvsym(RTLD_DEFAULT, "__abort_msg", "GLIBC_PRIVATE"));
      CRKSignalInitialize();
    });
    group->async(global, [init] { CRKMachExceptionInit(init->data.machExceptionMask); });
    group->async(global, [context, init] {
      context->exception.path = joinedPath(init->reportPath.c_str(), "exception.crkrecord");
      context->exception.maxCustomExceptions = init->data.customExceptionsEnabled ? init->data.maxCustomExceptions : 0;
      CRKExceptionInitialize();
    });
  } else {
    CRKLogWarn("Debugger present - not installing handlers\n");
  }

  // 7.
  group->async(global, [init] { CRKContextRecordMetadata(&init->data); });

  // 8. Runs once: from the group's notification, or here when the wait saw the group
  // finish first, so a caller never finds the context unfinished after a timely start-up.
  auto finished = std::make_shared<std::atomic<bool>>(false);
  auto finish = [context, finished] {
    if (finished->exchange(true)) return;
    __atomic_store_n(&context->initialized, uint8_t{1}, __ATOMIC_SEQ_CST);
    if (!CRKAllocatorProtect(context->allocator)) CRKLogWarn("Error: Memory protection failed\n");
  };
  group->notify(global, finish);

  // 9.
  if (group->wait(std::chrono::duration_cast<platform::Millis>(kInitializeTimeout))) {
    finish();
  } else {
    CRKLogWarn("Error: Delayed initialization\n");
  }
  return true;
}

bool CRKContextIsInitialized() {
  CRKContext* c = CRKContextGet();
  if (!c) return false;
  return __atomic_load_n(&c->initialized, __ATOMIC_SEQ_CST) != 0;
}

bool CRKContextMarkAndCheckIfCrashed() {
  if (!CRKContextIsInitialized()) return false;
  CRKWritableState* w = CRKContextWritable();
  if (!w) return false;
  return __atomic_exchange_n(&w->crashInProgress, uint8_t{1}, __ATOMIC_SEQ_CST) != 0;
}

bool CRKContextReadFlag() {
  CRKContext* c = CRKContextGet();
  return c && c->debuggerAttached;
}

bool CRKContextHasCrashed() {
  if (!CRKContextIsInitialized()) return false;
  CRKWritableState* w = CRKContextWritable();
  return w && __atomic_load_n(&w->crashInProgress, __ATOMIC_SEQ_CST) != 0;
}

void CRKContextMarkCrashed() {
  if (!CRKContextIsInitialized()) return;
  if (CRKWritableState* w = CRKContextWritable()) __atomic_store_n(&w->crashInProgress, uint8_t{1}, __ATOMIC_SEQ_CST);
}

void CRKContextDeinitialize() {
  CRKContext* c = CRKContextGet();
  if (!c) return;
  if (c->allocator && c->allocator->isProtected.load()) CRKAllocatorUnprotect(c->allocator);
  __atomic_store_n(&c->initialized, uint8_t{0}, __ATOMIC_SEQ_CST);
}

uint64_t CRKProfileMark() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

double CRKProfileElapsedMilliseconds(uint64_t mark) {
  return static_cast<double>(CRKProfileMark() - mark) / 1000000.0;
}

void CRKProfileBlock(const char* label, const std::function<void()>& block) {
  const uint64_t mark = CRKProfileMark();
  if (block) block();
  std::fprintf(stderr, "[Profile] %s: %f ms\n", label ? label : "", CRKProfileElapsedMilliseconds(mark));
}

}  // namespace telemetry
