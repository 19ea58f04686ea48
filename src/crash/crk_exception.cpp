#include "crash/crk_exception.h"

#include <cxxabi.h>
#include <syslog.h>
#include <time.h>

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <typeinfo>

#include "crash/crk_context.h"
#include "crash/crk_log.h"
#include "crash/crk_memory.h"
#include "crash/crk_process_record.h"
#include "crash/crk_signal.h"
#include "crash/crk_user_logging.h"

namespace telemetry {

namespace {

// Serialises crash-path records (and their shared write buffer) across threads.
std::mutex gCrashRecordLock;

std::string demangled(const std::type_info* type) {
  if (!type) return "unknown";
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> name(abi::__cxa_demangle(type->name(), nullptr, nullptr, &status),
                                                   &std::free);
  return status == 0 && name ? std::string(name.get()) : std::string(type->name());
}

void writeOptional(CRKFile* file, const char* key, const std::optional<std::string>& value) {
  if (value) CRKFileWriteHashEntryHexEncodedString(file, key, value->c_str());
}

}  // namespace

const char* CrashKitTestException::what() const noexcept {
  return "This is an Objective-C exception using for testing.";
}

const char* CRKExceptionTypeName(uint32_t type) {
  switch (type) {
    case kCRKExceptionObjectiveC: return "objective-c";
    case kCRKExceptionCpp: return "c++";
    case kCRKExceptionJavaScript: return "javascript";
    case kCRKExceptionCustom: return "custom";
    default: return "unknown";
  }
}

void CRKExceptionInitialize() {
  CRKContext* c = CRKContextGet();
  if (!c) return;
  if (c->exception.path && !CRKUnlinkIfExists(c->exception.path)) {
    CRKLogWarn("Unable to reset the exception file %s\n", CRKErrorText(errno));
  }
  c->exception.priorTerminate = std::set_terminate(CRKTerminateHandler);
}

void CRKExceptionWriteSection(CRKFile* file, uint32_t type, const char* name, const char* reason,
                              const std::vector<CRKStackFrame>& frames) {
  CRKFileWriteSectionStart(file, "exception");
  CRKFileWriteHashStart(file);
  CRKFileWriteHashEntryString(file, "type", CRKExceptionTypeName(type));
  CRKFileWriteHashEntryHexEncodedString(file, "name", name);
  CRKFileWriteHashEntryHexEncodedString(file, "reason", reason);
  CRKFileWriteHashEntryUint64(file, "time", static_cast<uint64_t>(time(nullptr)));
  if (!frames.empty()) {
    CRKFileWriteHashKey(file, "frames");
    CRKFileWriteArrayStart(file);
    for (const CRKStackFrame& frame : frames) {
      CRKFileWriteHashStart(file);
      CRKFileWriteHashEntryUint64(file, "pc", frame.address);
      writeOptional(file, "symbol", frame.symbol);
      CRKFileWriteHashEntryUint64(file, "offset", frame.offset);
      writeOptional(file, "library", frame.library);
      writeOptional(file, "file", frame.fileName);
      CRKFileWriteHashEntryUint64(file, "line", frame.lineNumber);
      CRKFileWriteHashEnd(file);
    }
    CRKFileWriteArrayEnd(file);
  }
  CRKFileWriteHashEnd(file);
  CRKFileWriteSectionEnd(file);
}

void CRKExceptionRecord(uint32_t type, const char* name, const char* reason, const std::vector<CRKStackFrame>& frames,
                        bool notify) {
  if (!CRKContextIsInitialized()) return;
  const bool crashPath = type == kCRKExceptionObjectiveC || type == kCRKExceptionCpp;
  CRKLogWarn("Recording an exception structure (%d, %d)\n", notify ? 1 : 0, crashPath ? 1 : 0);
  CRKContext* c = CRKContextGet();
  if (crashPath) {
    // On the throwing thread, so its stack is the one recorded as crashed.
    std::lock_guard lock(gCrashRecordLock);
    CRKFile file;
    if (!c->exception.path ||
        !CRKFileInitWithPathAndBuffer(&file, c->exception.path, c->exception.writeBuffer, kCRKCrashWriteBufferSize)) {
      CRKLogWarn("Unable to open exception file\n");
    } else {
      CRKExceptionWriteSection(&file, type, name, reason, frames);
      CRKHandler(&file, CRKProcessCurrentThread(), nullptr);
      CRKFileClose(&file);
    }
  } else {
    const std::string nameText = name ? name : "";
    const std::string reasonText = reason ? reason : "";
    const bool hasName = name != nullptr;
    const bool hasReason = reason != nullptr;
    CRKUserLoggingABStorage* pair = CRKUserLoggingCustomExceptionPair();
    CRKUserLoggingWriteAndCheckABFiles(pair, CRKUserLoggingActivePath(pair), [&](CRKFile* file) {
      CRKExceptionWriteSection(file, type, hasName ? nameText.c_str() : nullptr,
                               hasReason ? reasonText.c_str() : nullptr, frames);
    });
  }
  CRKLogWarn("Finished recording an exception structure\n");
}

void CRKCatchAndRecordActiveException() {
  std::exception_ptr active = std::current_exception();
  if (!active) {
    CRKLogWarn("no active exception\n");
    return;
  }
  const std::type_info* type = abi::__cxa_current_exception_type();
  const std::string typeName = demangled(type);
  CRKLogWarn("Recording exception of type '%s'\n", typeName.c_str());
  try {
    std::rethrow_exception(active);
  } catch (const char* text) {
    CRKExceptionRecord(kCRKExceptionCpp, "const char *", text, {}, true);
  } catch (const std::string& text) {
    CRKExceptionRecord(kCRKExceptionCpp, "std::string", text.c_str(), {}, true);
  } catch (const std::exception& e) {
    CRKExceptionRecord(kCRKExceptionCpp, typeName.c_str(), e.what(), {}, true);
  } catch (const std::exception* e) {
    CRKExceptionRecord(kCRKExceptionCpp, typeName.c_str(), e ? e->what() : "", {}, true);
  } catch (...) {
    CRKExceptionRecord(kCRKExceptionCpp, typeName.c_str(), "", {}, true);
  }
}

void CRKTerminateHandler() {
  CRKLogWarn("C++ terminate handler invoked\n");
  CRKContext* c = CRKContextGet();
  void (*prior)() = c ? c->exception.priorTerminate : nullptr;
  bool chain = false;
  if (prior == &CRKTerminateHandler) {
    CRKLogWarn("Error: original handler was set recursively\n");
  } else if (prior) {
    CRKLogWarn("restoring pre-existing handler\n");
    if (std::set_terminate(prior) == prior) {
      CRKLogWarn("handler has already been restored, aborting\n");
      std::abort();
    }
    chain = true;
  }
  CRKCatchAndRecordActiveException();
  if (chain) {
    CRKLogWarn("invoking pre-existing handler\n");
    prior();
  }
  CRKLogWarn("aborting\n");
  std::abort();
}

void CRKExceptionCheckHandlers() {
  if (CRKContextReadFlag()) return;
  std::terminate_handler current = std::get_terminate();
  if (current == &CRKTerminateHandler) return;
  std::string symbol = "unknown", image = "unknown";
  CRKDladdrWithBlock(reinterpret_cast<uintptr_t>(current), [&](const char* s, const char* i) {
    if (s) symbol = s;
    if (i) image = i;
  });
  syslog(LOG_WARNING, "[CrashKit:Crash] Warning: std::get_terminate is '%s' in '%s'", symbol.c_str(), image.c_str());
}

void CRKExceptionRaiseTestException() { throw CrashKitTestException(); }

void CRKExceptionThrowTestCppException() { throw "CrashKit C++ Test Exception"; }

}  // namespace telemetry
