#include "crash/crk_thread_context.h"

#include <cstring>

namespace telemetry {

const char* const kCRKRegisterNames[kCRKRegisterCount] = {
    "rax", "rbx", "rcx", "rdx", "rdi", "rsi", "rbp", "rsp", "r8", "r9", "r10",
    "r11", "r12", "r13", "r14", "r15", "rip", "rflags", "cs", "fs", "gs"};

void CRKThreadContextFromUcontext(const ucontext_t* uc, CRKThreadContext* out) {
  std::memset(out, 0, sizeof *out);
  if (!uc) return;
  const greg_t* g = uc->uc_mcontext.gregs;
  CRKRegisterState& s = out->ss;
  s.rax = g[REG_RAX];
  s.rbx = g[REG_RBX];
  s.rcx = g[REG_RCX];
  s.rdx = g[REG_RDX];
  s.rdi = g[REG_RDI];
  s.rsi = g[REG_RSI];
  s.rbp = g[REG_RBP];
  s.rsp = g[REG_RSP];
  s.r8 = g[REG_R8];
  s.r9 = g[REG_R9];
  s.r10 = g[REG_R10];
  s.r11 = g[REG_R11];
  s.r12 = g[REG_R12];
  s.r13 = g[REG_R13];
  s.r14 = g[REG_R14];
  s.r15 = g[REG_R15];
  s.rip = g[REG_RIP];
  s.rflags = g[REG_EFL];
  // cs, gs and fs share one word: cs in bits 0-15, gs 16-31, fs 32-47.
  const auto segments = static_cast<uint64_t>(g[REG_CSGSFS]);
  s.cs = segments & 0xffff;
  s.gs = (segments >> 16) & 0xffff;
  s.fs = (segments >> 32) & 0xffff;
  out->es.trapno = static_cast<uint16_t>(g[REG_TRAPNO]);
  out->es.err = static_cast<uint32_t>(g[REG_ERR]);
  out->es.faultvaddr = static_cast<uint64_t>(g[REG_CR2]);
  if (uc->uc_mcontext.fpregs) std::memcpy(out->fs.bytes, uc->uc_mcontext.fpregs, sizeof(*uc->uc_mcontext.fpregs));
}

void CRKThreadContextCaptureCaller(CRKThreadContext* out) {
  std::memset(out, 0, sizeof *out);
  auto* frame = static_cast<uint64_t*>(__builtin_frame_address(0));
  // frame[0] is the caller's saved frame pointer, frame[1] the return address into it.
  out->ss.rip = reinterpret_cast<uint64_t>(__builtin_return_address(0));
  out->ss.rbp = frame[0];
  out->ss.rsp = reinterpret_cast<uint64_t>(frame) + 16;
}

uint64_t CRKThreadContextGetPC(const CRKThreadContext* c) { return c ? c->ss.rip : 0; }
bool CRKThreadContextSetPC(CRKThreadContext* c, uint64_t value) {
  if (!c) return false;
  c->ss.rip = value;
  return true;
}
uint64_t CRKThreadContextGetStackPointer(const CRKThreadContext* c) { return c ? c->ss.rsp : 0; }
bool CRKThreadContextSetStackPointer(CRKThreadContext* c, uint64_t value) {
  if (!c) return false;
  c->ss.rsp = value;
  return true;
}
uint64_t CRKThreadContextGetFramePointer(const CRKThreadContext* c) { return c ? c->ss.rbp : 0; }
bool CRKThreadContextSetFramePointer(CRKThreadContext* c, uint64_t value) {
  if (!c) return false;
  c->ss.rbp = value;
  return true;
}
const CRKRegisterState* CRKThreadContextGetRegisterState(const CRKThreadContext* c) { return c ? &c->ss : nullptr; }

}  // namespace telemetry
