#include "crash/crk_process.h"

#include <fcntl.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "crash/crk_log.h"
#include "sdk/identity/host_identity.h"
#include "sdk/net/tel_network_operation.h"

namespace telemetry {

namespace {

// The value after "key:" at the start of a line, blanks trimmed, or null.
const char* fieldValue(const char* text, size_t length, const char* key, size_t* valueLength) {
  const size_t keyLength = std::strlen(key);
  for (size_t i = 0; i < length;) {
    size_t end = i;
    while (end < length && text[end] != '\n') ++end;
    if (end - i > keyLength && std::memcmp(text + i, key, keyLength) == 0) {
      size_t v = i + keyLength;
      while (v < end && (text[v] == ' ' || text[v] == '\t')) ++v;
      if (v < end && text[v] == ':') {
        ++v;
        while (v < end && (text[v] == ' ' || text[v] == '\t')) ++v;
        *valueLength = end - v;
        return text + v;
      }
    }
    i = end + 1;
  }
  return nullptr;
}

}  // namespace

size_t CRKReadSmallFile(const char* path, char* buffer, size_t capacity) {
  if (!buffer || capacity == 0) return 0;
  buffer[0] = '\0';
  if (!path) return 0;
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  size_t used = 0;
  while (used + 1 < capacity) {
    const ssize_t n = read(fd, buffer + used, capacity - 1 - used);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    used += static_cast<size_t>(n);
  }
  close(fd);
  buffer[used] = '\0';
  return used;
}

bool CRKProcessStatusShowsTracer(const char* status, size_t length) {
  size_t n = 0;
  const char* value = fieldValue(status, length, "TracerPid", &n);
  if (!value) return false;
  for (size_t i = 0; i < n; ++i) {
    if (value[i] >= '1' && value[i] <= '9') return true;
    if (value[i] != '0') return false;
  }
  return false;
}

bool CRKProcessDebuggerAttached() {
  char status[8192];
  const size_t n = CRKReadSmallFile("/proc/self/status", status, sizeof status);
  if (n == 0) {
    CRKLogWarn("Unable to read /proc/self/status while looking for a tracer\n");
    return false;
  }
  return CRKProcessStatusShowsTracer(status, n);
}

bool CRKHostCPUBrand(const char* cpuinfo, size_t length, char* out, size_t capacity) {
  if (!out || capacity == 0) return false;
  size_t n = 0;
  const char* value = fieldValue(cpuinfo, length, "model name", &n);
  if (!value || n == 0) return false;
  if (n >= capacity) n = capacity - 1;
  std::memcpy(out, value, n);
  out[n] = '\0';
  return true;
}

bool CRKHostWriteModelInfo(CRKFile* file) {
  if (!CRKFileIsOpen(file)) return false;
  char machine[128] = "(failed)";
  utsname names{};
  if (uname(&names) == 0) {
    std::strncpy(machine, names.machine, sizeof machine - 1);
  }
  char cpu[128] = "(failed)";
  std::vector<char> cpuinfo(1 << 16);  // ordinary code: the heap is fine here
  const size_t n = CRKReadSmallFile("/proc/cpuinfo", cpuinfo.data(), cpuinfo.size());
  if (!CRKHostCPUBrand(cpuinfo.data(), n, cpu, sizeof cpu)) std::strcpy(cpu, "(failed)");

  CRKFileWriteSectionStart(file, "host");
  CRKFileWriteHashStart(file);
  CRKFileWriteHashEntryNSString(file, "model", TELHostModel());
  CRKFileWriteHashEntryString(file, "machine", machine);
  CRKFileWriteHashEntryString(file, "cpu", cpu);
  CRKFileWriteHashEntryNSString(file, "os_build_version", TELHostOSBuildVersion());
  CRKFileWriteHashEntryNSString(file, "os_display_version", TELHostOSDisplayVersion());
  // The system the program runs on, named as the analytics metadata names it.
  CRKFileWriteHashEntryNSString(file, "platform", TELHostPlatformName());
  CRKFileWriteHashEntryNSString(file, "locale", TELNetworkOperation::localeIdentifier());
  CRKFileWriteHashEnd(file);
  CRKFileWriteSectionEnd(file);
  return true;
}

}  // namespace telemetry
