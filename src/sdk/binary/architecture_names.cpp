#include <cstdint>

#include "sdk/binary/mach_o_reader.h"

namespace telemetry {

namespace {

struct Architecture {
  int32_t cputype;
  int32_t cpusubtype;
  const char* name;
};

// The Mach-O architecture table: the first entry of each CPU type is its family name.
constexpr int32_t kX86 = 7, kX86_64 = 7 | kCPUArchABI64, kARM = 12, kARM64 = 12 | kCPUArchABI64,
                  kARM64_32 = 12 | 0x02000000, kPPC = 18, kPPC64 = 18 | kCPUArchABI64, kM68K = 6, kSPARC = 14,
                  kI860 = 15, kHPPA = 11, kM88K = 13;
constexpr Architecture kArchitectures[] = {
    {kX86, 3, "i386"},        {kX86, 4, "i486"},        {kX86, 0x84, "i486SX"},    {kX86, 5, "pentium"},
    {kX86, 0x16, "pentpro"},  {kX86, 0x36, "pentIIm3"}, {kX86, 0x56, "pentIIm5"},  {kX86, 0x67, "pentium4"},
    {kX86_64, 3, "x86_64"},   {kX86_64, 8, "x86_64h"},
    {kARM, 0, "arm"},         {kARM, 5, "armv4t"},      {kARM, 6, "armv6"},        {kARM, 7, "armv5"},
    {kARM, 8, "xscale"},      {kARM, 9, "armv7"},       {kARM, 10, "armv7f"},      {kARM, 11, "armv7s"},
    {kARM, 12, "armv7k"},     {kARM, 14, "armv6m"},     {kARM, 15, "armv7m"},      {kARM, 16, "armv7em"},
    {kARM64, 0, "arm64"},     {kARM64, 1, "arm64v8"},   {kARM64, 2, "arm64e"},
    {kARM64_32, 1, "arm64_32"},
    {kPPC, 0, "ppc"},         {kPPC, 1, "ppc601"},      {kPPC, 3, "ppc603"},       {kPPC, 4, "ppc603e"},
    {kPPC, 5, "ppc603ev"},    {kPPC, 6, "ppc604"},      {kPPC, 7, "ppc604e"},      {kPPC, 9, "ppc750"},
    {kPPC, 10, "ppc7400"},    {kPPC, 11, "ppc7450"},    {kPPC, 100, "ppc970"},
    {kPPC64, 0, "ppc64"},     {kPPC64, 100, "ppc970-64"},
    {kM68K, 1, "m68k"},       {kHPPA, 0, "hppa"},       {kM88K, 0, "m88k"},        {kSPARC, 0, "sparc"},
    {kI860, 0, "i860"},
};

constexpr int32_t kSubtypeMask = 0x00ffffff;  // the upper byte holds capability flags

}  // namespace

const char* TELMachOArchitectureNameForCPU(int32_t cputype, int32_t cpusubtype) {
  if (cputype == kARM64 && cpusubtype == 0) return "arm64";
  if (cputype == kARM && cpusubtype == 11) return "armv7s";
  if (cputype == kARM && cpusubtype == 12) return "armv7k";
  const int32_t subtype = cpusubtype & kSubtypeMask;
  const char* family = nullptr;
  for (const auto& a : kArchitectures) {
    if (a.cputype != cputype) continue;
    if (a.cpusubtype == subtype) return a.name;
    if (!family) family = a.name;
  }
  return family ? family : "unknown";
}

const char* TELMachOArchitectureName(const CRKMachOSlice* slice) {
  if (!slice) return "unknown";
  return TELMachOArchitectureNameForCPU(slice->cputype, slice->cpusubtype);
}

}  // namespace telemetry
