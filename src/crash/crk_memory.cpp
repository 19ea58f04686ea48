#include "crash/crk_memory.h"

#include <dlfcn.h>
#include <fcntl.h>
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

bool readWithSyscall(const void* address, void* destination, size_t length) {
  iovec local{destination, length};
  iovec remote{const_cast<void*>(address), length};
  const ssize_t n = process_vm_readv(getpid(), &local, 1, &remote, 1, 0);
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

void CRKMemoryInitialize() {
  if (gProbed.exchange(true)) return;
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

bool CRKReadString(const char* address, const char** resultOut, size_t maxLength) {
  const auto start = reinterpret_cast<uintptr_t>(address);
  if (start < kCRKMinimumValidAddress) return false;
  if (maxLength > UINTPTR_MAX - start) return false;  // the range would wrap
  // A page is readable as a whole or not at all: check up to each page end in one read.
  const uintptr_t page = 4096;
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
