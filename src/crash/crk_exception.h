#pragma once
// Uncaught C++ exceptions and recorded ("custom", "javascript") exceptions.
//
// The terminate handler records the active exception's type and text, with the crash
// callback's threads and statistics, into "exception.crkrecord" on the throwing thread,
// then chains to the prior terminate handler and aborts; the abort is then recorded again
// by the signal handler in its own file. Crash-path records are serialised by one lock.
// Custom exceptions go to the rotating pair of the user records.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "crash/crk_file.h"
#include "crash/crk_stack_frame.h"

namespace telemetry {

enum CRKExceptionType : uint32_t {
  kCRKExceptionObjectiveC = 1,
  kCRKExceptionCpp = 2,
  kCRKExceptionJavaScript = 3,
  kCRKExceptionCustom = 4,
};

// The exception the kit's test entry point throws.
class CrashKitTestException : public std::exception {
 public:
  const char* what() const noexcept override;
};

const char* CRKExceptionTypeName(uint32_t type);
void CRKExceptionInitialize();
void CRKExceptionRecord(uint32_t type, const char* name, const char* reason, const std::vector<CRKStackFrame>& frames,
                        bool notify);
void CRKExceptionWriteSection(CRKFile* file, uint32_t type, const char* name, const char* reason,
                              const std::vector<CRKStackFrame>& frames);
[[noreturn]] void CRKTerminateHandler();
// Records the exception being handled, if any (the terminate handler's step).
void CRKCatchAndRecordActiveException();
// Logs a warning when the terminate handler is no longer ours.
void CRKExceptionCheckHandlers();
[[noreturn]] void CRKExceptionRaiseTestException();
[[noreturn]] void CRKExceptionThrowTestCppException();

}  // namespace telemetry
