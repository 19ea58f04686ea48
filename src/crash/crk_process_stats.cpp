// Memory, CPU time and free disk space of the crashed process, read from /proc and statfs in
// the signal handler: fixed buffers, no allocation.
#include "crash/crk_process_record.h"

#include <sys/resource.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>

#include "crash/crk_log.h"
#include "crash/crk_process.h"

namespace telemetry {

bool CRKProcessMeminfoValue(const char* text, size_t length, const char* key, uint64_t* kilobytes) {
  if (!text || !key || !kilobytes) return false;
  const size_t keyLength = std::strlen(key);
  for (size_t i = 0; i < length;) {
    size_t end = i;
    while (end < length && text[end] != '\n') ++end;
    if (end - i > keyLength && std::memcmp(text + i, key, keyLength) == 0 && text[i + keyLength] == ':') {
      size_t at = i + keyLength + 1;
      while (at < end && text[at] == ' ') ++at;
      uint64_t value = 0;
      bool any = false;
      for (; at < end && text[at] >= '0' && text[at] <= '9'; ++at) {
        if (value > (UINT64_MAX - 9) / 10) return false;
        value = value * 10 + static_cast<uint64_t>(text[at] - '0');
        any = true;
      }
      if (!any) return false;
      *kilobytes = value;
      return true;
    }
    i = end + 1;
  }
  return false;
}

bool CRKProcessStatmValues(const char* text, size_t length, uint64_t* sizePages, uint64_t* residentPages) {
  if (!text || !sizePages || !residentPages) return false;
  uint64_t values[2] = {0, 0};
  size_t at = 0;
  for (int k = 0; k < 2; ++k) {
    while (at < length && text[at] == ' ') ++at;
    bool any = false;
    for (; at < length && text[at] >= '0' && text[at] <= '9'; ++at) {
      if (values[k] > (UINT64_MAX - 9) / 10) return false;
      values[k] = values[k] * 10 + static_cast<uint64_t>(text[at] - '0');
      any = true;
    }
    if (!any) return false;
  }
  *sizePages = values[0];
  *residentPages = values[1];
  return true;
}

bool CRKProcessGetMemoryUsage(uint64_t* active, uint64_t* inactive, uint64_t* wired, uint64_t* freeBytes) {
  if (!active || !inactive || !wired || !freeBytes) {
    CRKLogWarn("Invalid pointers\n");
    return false;
  }
  char text[4096];
  const size_t n = CRKReadSmallFile("/proc/meminfo", text, sizeof text);
  uint64_t a = 0, i = 0, w = 0, f = 0;
  if (n == 0 || !CRKProcessMeminfoValue(text, n, "Active", &a) || !CRKProcessMeminfoValue(text, n, "Inactive", &i) ||
      !CRKProcessMeminfoValue(text, n, "MemFree", &f)) {
    CRKLogWarn("Failed to get vm statistics\n");
    return false;
  }
  CRKProcessMeminfoValue(text, n, "Unevictable", &w);
  *active = a * 1024;
  *inactive = i * 1024;
  *wired = w * 1024;
  *freeBytes = f * 1024;
  return true;
}

bool CRKProcessGetInfo(const CRKProcess*, uint64_t* virtualSize, uint64_t* residentSize, uint64_t* userTime,
                       uint64_t* systemTime) {
  if (!virtualSize || !residentSize || !userTime || !systemTime) {
    CRKLogWarn("Invalid pointers\n");
    return false;
  }
  char text[256];
  const size_t n = CRKReadSmallFile("/proc/self/statm", text, sizeof text);
  uint64_t size = 0, resident = 0;
  rusage usage{};
  if (n == 0 || !CRKProcessStatmValues(text, n, &size, &resident) || getrusage(RUSAGE_SELF, &usage) != 0) {
    CRKLogWarn("Failed to get task info\n");
    return false;
  }
  CRKContext* c = CRKContextGet();
  const uint64_t page = c && c->pageSize ? c->pageSize : 4096;
  *virtualSize = size * page;
  *residentSize = resident * page;
  *userTime = static_cast<uint64_t>(usage.ru_utime.tv_sec) * 1000000ull + static_cast<uint64_t>(usage.ru_utime.tv_usec);
  *systemTime = static_cast<uint64_t>(usage.ru_stime.tv_sec) * 1000000ull + static_cast<uint64_t>(usage.ru_stime.tv_usec);
  return true;
}

void CRKProcessRecordStats(const CRKProcess* process, CRKFile* file) {
  if (!file) return;
  uint64_t active = 0, inactive = 0, wired = 0, freeBytes = 0;
  if (!CRKProcessGetMemoryUsage(&active, &inactive, &wired, &freeBytes)) {
    CRKLogWarn("Unable to get process memory usage\n");
    return;
  }
  uint64_t virtualSize = 0, residentSize = 0, userTime = 0, systemTime = 0;
  if (!CRKProcessGetInfo(process, &virtualSize, &residentSize, &userTime, &systemTime)) {
    CRKLogWarn("Unable to get process stats\n");
    return;
  }
  CRKFileWriteSectionStart(file, "process_stats");
  CRKFileWriteHashStart(file);
  CRKFileWriteHashEntryUint64(file, "active", active);
  CRKFileWriteHashEntryUint64(file, "inactive", inactive);
  CRKFileWriteHashEntryUint64(file, "wired", wired);
  CRKFileWriteHashEntryUint64(file, "freeMem", freeBytes);
  CRKFileWriteHashEntryUint64(file, "free_mem", freeBytes);
  CRKFileWriteHashEntryUint64(file, "virtual", virtualSize);
  CRKFileWriteHashEntryUint64(file, "resident", residentSize);
  CRKFileWriteHashEntryUint64(file, "user_time", userTime);
  CRKFileWriteHashEntryUint64(file, "sys_time", systemTime);
  CRKFileWriteHashEnd(file);
  CRKFileWriteSectionEnd(file);
}

void CRKHostWriteDiskUsage(CRKFile* file) {
  if (!file) return;
  CRKContext* c = CRKContextGet();
  CRKFileWriteSectionStart(file, "storage");
  CRKFileWriteHashStart(file);
  struct statfs fs {};
  // The raw call: glibc's statvfs reads the mount table, which allocates.
  if (c && c->documentsPath && syscall(SYS_statfs, c->documentsPath, &fs) == 0) {
    const uint64_t block = fs.f_frsize ? static_cast<uint64_t>(fs.f_frsize) : static_cast<uint64_t>(fs.f_bsize);
    CRKFileWriteHashEntryUint64(file, "free", block * static_cast<uint64_t>(fs.f_bavail));
    CRKFileWriteHashEntryUint64(file, "total", block * static_cast<uint64_t>(fs.f_blocks));
  }
  CRKFileWriteHashEnd(file);
  CRKFileWriteSectionEnd(file);
}

}  // namespace telemetry
