#pragma once
// Checked reads of this process's memory: an unmapped or unreadable address makes the read
// fail instead of faulting. Async-signal-safe, no allocation, no lock.
//
// Reads go through process_vm_readv on our own pid. Where a start-up probe finds that call
// refused (seccomp, a container), they go through a pipe instead: the kernel copies the
// bytes into the pipe (failing on a bad address) and they are read back. That pipe is one
// per process, so pipe reads from two threads at once could mix; crash-time reads happen
// with the other threads stopped.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace telemetry {

inline constexpr uintptr_t kCRKMinimumValidAddress = 4096;
// The smallest page size: a range inside one such granule is readable as a whole or not.
inline constexpr uintptr_t kCRKPageGranule = 4096;

// Chooses the read strategy; safe to call more than once (the crash context calls it).
void CRKMemoryInitialize();
// Takes the process id again (the crash path calls it first; a fork's child does too).
void CRKMemoryRefreshProcessID();
// True when reads go through the pipe.
bool CRKMemoryUsesPipe();

bool CRKReadMemory(const void* address, void* destination, size_t length);
// Reads as much of [address, address + length) as is readable from its start, page by page
// in one system call; answers how many bytes were read (0 when the first is unreadable).
size_t CRKReadMemoryPrefix(const void* address, void* destination, size_t length);
bool CRKReadMemoryThroughPipe(const void* address, void* destination, size_t length);
// Checks that the string at `address` is readable up to its terminator or for `maxLength`
// bytes, then stores `address` in `resultOut`. A range that would wrap the address space
// fails.
bool CRKReadString(const char* address, const char** resultOut, size_t maxLength);

// A copy in the crash allocator's read-only region (the heap when it cannot be placed).
const char* CRKDupString(const char* string);
bool CRKUnlinkIfExists(const char* path);
// (symbol name, image path): each "unknown" when the lookup found the image but not that
// part; both null when the lookup failed.
void CRKDladdrWithBlock(uintptr_t address, const std::function<void(const char* symbol, const char* image)>& block);

}  // namespace telemetry
