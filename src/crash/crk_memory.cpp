#include "crash/crk_memory.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "crash/crk_allocator.h"
#include "crash/crk_context.h"

namespace telemetry {

namespace {

constexpr size_t kPipeChunk = 4096;  // PIPE_BUF: a write of this size is all or nothing

std::atomic<bool> gUsePipe{false};
std::atomic<bool> gProbed{false};
int gPipe[2] = {-1, -1};
// getpid is a system call of its own: reads use the id taken at start-up, after a fork and
// when a crash begins.
std::atomic<pid_t> gProcessID{0};

pid_t processID() {
  pid_t pid = gProcessID.load(std::memory_order_relaxed);
  if (pid == 0) {
    pid = getpid();
    gProcessID.store(pid, std::memory_order_relaxed);
  }
  return pid;
}

bool readWithSyscall(const void* address, void* destination, size_t length) {
  iovec local{destination, length};
  iovec remote{const_cast<void*>(address), length};
  const ssize_t n = process_vm_readv(processID(), &local, 1, &remote, 1, 0);
  return n == static_cast<ssize_t>(length);
}

bool openPipe() {
  if (gPipe[0] >= 0) return true;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  gPipe[1] = fds[1];
  gPipe[0] = fds[0];
  return true;
}

// Empties whatever a failed or short write left in the pipe.
void drainPipe() {
  char sink[256];
  while (read(gPipe[0], sink, sizeof sink) > 0) {
  }
}

}  // namespace

void CRKMemoryRefreshProcessID() { gProcessID.store(getpid(), std::memory_order_relaxed); }

void CRKMemoryInitialize() {
  CRKMemoryRefreshProcessID();
  if (gProbed.exchange(true)) return;
  pthread_atfork(nullptr, nullptr, CRKMemoryRefreshProcessID);
  uint64_t probe = 0x5a5a5a5a5a5a5a5a, copy = 0;
  if (readWithSyscall(&probe, &copy, sizeof probe) && copy == probe) return;
  if (openPipe()) gUsePipe.store(true);
}

bool CRKMemoryUsesPipe() { return gUsePipe.load(std::memory_order_relaxed); }

bool CRKReadMemoryThroughPipe(const void* address, void* destination, size_t length) {
  if (reinterpret_cast<uintptr_t>(address) < kCRKMinimumValidAddress || !destination) return false;
  if (!openPipe()) return false;
  auto* from = static_cast<const uint8_t*>(address);
  auto* to = static_cast<uint8_t*>(destination);
  while (length > 0) {
    const size_t chunk = length < kPipeChunk ? length : kPipeChunk;
    const ssize_t in = write(gPipe[1], from, chunk);
    if (in != static_cast<ssize_t>(chunk)) {
      if (in > 0) drainPipe();
      return false;
    }
    size_t got = 0;
    while (got < chunk) {
      const ssize_t out = read(gPipe[0], to + got, chunk - got);
      if (out <= 0) {
        drainPipe();
        return false;
      }
      got += static_cast<size_t>(out);
    }
    from += chunk;
    to += chunk;
    length -= chunk;
  }
  return true;
}

bool CRKReadMemory(const void* address, void* destination, size_t length) {
  if (reinterpret_cast<uintptr_t>(address) < kCRKMinimumValidAddress || !destination) return false;
  if (length == 0) return true;
  if (CRKMemoryUsesPipe()) return CRKReadMemoryThroughPipe(address, destination, length);
  return readWithSyscall(address, destination, length);
}

size_t CRKReadMemoryPrefix(const void* address, void* destination, size_t length) {
  const auto start = reinterpret_cast<uintptr_t>(address);
  if (start < kCRKMinimumValidAddress || !destination || length == 0) return 0;
  if (length > UINTPTR_MAX - start) length = UINTPTR_MAX - start;
  // One piece per page: a page is readable as a whole or not at all, and the kernel stops
  // at the first piece it cannot copy.
  constexpr size_t kMaxPieces = 16;
  iovec remote[kMaxPieces];
  size_t pieces = 0;
  for (uintptr_t at = start, end = start + length; at < end && pieces < kMaxPieces; ++pieces) {
    uintptr_t stop = (at | (kCRKPageGranule - 1)) + 1;
    if (stop > end || stop == 0) stop = end;
    remote[pieces] = iovec{reinterpret_cast<void*>(at), stop - at};
    at = stop;
  }
  auto* to = static_cast<uint8_t*>(destination);
  if (CRKMemoryUsesPipe()) {
    size_t got = 0;
    for (size_t i = 0; i < pieces; ++i) {
      if (!CRKReadMemoryThroughPipe(remote[i].iov_base, to + got, remote[i].iov_len)) break;
      got += remote[i].iov_len;
    }
    return got;
  }
  size_t total = 0;
  for (size_t i = 0; i < pieces; ++i) total += remote[i].iov_len;
  iovec local{destination, total};
  const ssize_t n = process_vm_readv(processID(), &local, 1, remote, pieces, 0);
  return n > 0 ? static_cast<size_t>(n) : 0;
}

bool CRKReadString(const char* address, const char** resultOut, size_t maxLength) {
  const auto start = reinterpret_cast<uintptr_t>(address);
  if (start < kCRKMinimumValidAddress) return false;
  if (maxLength > UINTPTR_MAX - start) return false;  // the range would wrap
  // A page is readable as a whole or not at all: check up to each page end in one read.
  const uintptr_t page = kCRKPageGranule;
  uintptr_t at = start;
  const uintptr_t end = start + maxLength;
  char chunk[256];
  while (at < end) {
    uintptr_t stop = (at | (page - 1)) + 1;
    if (stop > end || stop == 0) stop = end;
    if (stop - at > sizeof chunk) stop = at + sizeof chunk;
    const size_t n = stop - at;
    if (!CRKReadMemory(reinterpret_cast<const void*>(at), chunk, n)) return false;
    if (std::memchr(chunk, 0, n)) break;
    at = stop;
  }
  if (resultOut) *resultOut = address;
  return true;
}

const char* CRKDupString(const char* string) {
  if (!string) return nullptr;
  const size_t size = std::strlen(string) + 1;
  CRKContext* context = CRKContextGet();
  auto* copy = static_cast<char*>(CRKAllocatorSafeAllocate(context ? context->allocator : nullptr, size, kCRKReadOnly));
  if (copy) std::memcpy(copy, string, size);
  return copy;
}

bool CRKUnlinkIfExists(const char* path) {
  if (!path) return false;
  return unlink(path) == 0 || errno == ENOENT;
}

void CRKDladdrWithBlock(uintptr_t address, const std::function<void(const char*, const char*)>& block) {
  if (!block) return;
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(address), &info) == 0) {
    block(nullptr, nullptr);
    return;
  }
  block(info.dli_sname ? info.dli_sname : "unknown", info.dli_fname ? info.dli_fname : "unknown");
}

}  // namespace telemetry
