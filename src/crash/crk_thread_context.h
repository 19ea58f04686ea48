#pragma once
// One thread's machine state as the crash kit records and unwinds it: the x86_64 exception
// state, the general registers in their recorded order, then the floating-point area.
// A plain record (712 bytes) that crash-time code copies freely.

#include <cstddef>
#include <cstdint>

#include <ucontext.h>

namespace telemetry {

struct CRKExceptionState {
  uint16_t trapno;
  uint16_t cpu;
  uint32_t err;
  uint64_t faultvaddr;
};

struct CRKRegisterState {
  uint64_t rax, rbx, rcx, rdx, rdi, rsi, rbp, rsp;
  uint64_t r8, r9, r10, r11, r12, r13, r14, r15;
  uint64_t rip, rflags, cs, fs, gs;
};

struct CRKFloatState {
  uint8_t bytes[528];
};

struct CRKThreadContext {
  CRKExceptionState es;
  CRKRegisterState ss;
  CRKFloatState fs;
};
static_assert(sizeof(CRKThreadContext) == 712);

inline constexpr size_t kCRKRegisterCount = sizeof(CRKRegisterState) / sizeof(uint64_t);
// The recorded names of the general registers, in their order in CRKRegisterState.
extern const char* const kCRKRegisterNames[kCRKRegisterCount];

// Fills the state from a signal handler's context: registers, trap number, error code and
// fault address, and the floating-point area when the kernel saved one.
void CRKThreadContextFromUcontext(const ucontext_t* uc, CRKThreadContext* out);

// The calling function's caller as a starting state: the instruction pointer is the return
// address into the caller, the frame and stack pointers those of the caller at that call.
// Everything else is zero.
void CRKThreadContextCaptureCaller(CRKThreadContext* out) __attribute__((noinline));

uint64_t CRKThreadContextGetPC(const CRKThreadContext* c);
bool CRKThreadContextSetPC(CRKThreadContext* c, uint64_t value);
uint64_t CRKThreadContextGetStackPointer(const CRKThreadContext* c);
bool CRKThreadContextSetStackPointer(CRKThreadContext* c, uint64_t value);
uint64_t CRKThreadContextGetFramePointer(const CRKThreadContext* c);
bool CRKThreadContextSetFramePointer(CRKThreadContext* c, uint64_t value);
const CRKRegisterState* CRKThreadContextGetRegisterState(const CRKThreadContext* c);

}  // namespace telemetry
