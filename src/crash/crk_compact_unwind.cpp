// The compact unwind table of Mach-O images ("__unwind_info", x86_64 encodings).

#include <cstring>

#include "crash/crk_dwarf.h"
#include "crash/crk_log.h"
#include "crash/crk_memory.h"
#include "crash/crk_unwind.h"

namespace telemetry {

namespace {

constexpr uint32_t kModeMask = 0x0f000000;
constexpr uint32_t kModeFramePointer = 1, kModeFramelessImmediate = 2, kModeFramelessIndirect = 3, kModeDwarf = 4;
constexpr uint32_t kRegisterRBP = 6;

template <typename T>
bool readValue(uint64_t address, T* out) {
  return CRKReadMemory(reinterpret_cast<const void*>(address), out, sizeof *out);
}

bool computeStackSize(const CRKCompactUnwindResult* result, uint32_t mode, uint64_t* size) {
  const uint32_t field = (result->encoding >> 16) & 0xff;
  if (mode == kModeFramelessImmediate) {
    *size = uint64_t{field} * 8;
    return true;
  }
  uint32_t subl = 0;
  if (!readValue(result->functionStart + field, &subl)) {
    CRKLogWarn("Error: unable to read subl value\n");
    return false;
  }
  const uint32_t adjust = (result->encoding >> 13) & 0x7;
  *size = uint64_t{subl} + uint64_t{adjust} * 8;
  return true;
}

bool frameless(const CRKCompactUnwindResult* result, uint32_t mode, CRKUnwindCursor* cursor) {
  CRKLogWarn("Frameless unwind encountered with encoding %x\n", result->encoding);
  uint64_t stackSize = 0;
  if (!computeStackSize(result, mode, &stackSize)) {
    CRKLogWarn("Error: unable to compute stack size for encoding %x\n", result->encoding);
    return false;
  }
  const uint32_t count = (result->encoding >> 10) & 0x7;
  const uint32_t permutation = result->encoding & 0x3ff;
  uint32_t digits[6] = {}, registers[6] = {};
  if (!CRKCompactUnwindDecompressPermutation(count, permutation, digits)) {
    CRKLogWarn("Error: unable to decompress registers %x\n", result->encoding);
    return false;
  }
  if (!CRKCompactUnwindRemapRegisters(count, digits, registers)) {
    CRKLogWarn("Error: unable to remap registers %x\n", result->encoding);
    return false;
  }
  const uint64_t sp = cursor->context.ss.rsp;
  uint64_t slot = sp + stackSize - 8 - 8 * uint64_t{count};
  for (uint32_t i = 0; i < count; ++i, slot += 8) {
    if (registers[i] != kRegisterRBP) {
      CRKLogWarn("Error: skipping a restore of register %d at %p\n", static_cast<int>(registers[i]),
                 reinterpret_cast<void*>(slot));
      continue;
    }
    uint64_t value = 0;
    if (!CRKMemoryWindowRead(&cursor->memory, reinterpret_cast<const void*>(slot), &value, sizeof value)) {
      CRKLogWarn("Error: unable to read memory to set register\n");
      CRKLogWarn("Error: unable to restore registers\n");
      return false;
    }
    if (!CRKThreadContextSetFramePointer(&cursor->context, value)) {
      CRKLogWarn("Error: unable to set FP\n");
      return false;
    }
  }
  const uint64_t returnSlot = sp + stackSize - 8;
  CRKLogWarn("SP is %p and we are reading %p\n", reinterpret_cast<void*>(sp), reinterpret_cast<void*>(returnSlot));
  uint64_t pc = 0;
  if (!CRKMemoryWindowRead(&cursor->memory, reinterpret_cast<const void*>(returnSlot), &pc, sizeof pc)) {
    CRKLogWarn("Error: unable to read memory to set register\n");
    return false;
  }
  CRKLogWarn("Read PC to be %p\n", reinterpret_cast<void*>(pc));
  if (pc < kCRKMinimumValidAddress) {
    CRKLogWarn("Error: computed PC is invalid\n");
    return false;
  }
  cursor->context.ss.rip = pc;
  cursor->context.ss.rsp = returnSlot + 8;
  return true;
}

}  // namespace

bool CRKCompactUnwindDecompressPermutation(uint32_t count, uint32_t permutation, uint32_t digits[6]) {
  static constexpr uint32_t kDivisors[7][6] = {
      {}, {1}, {5, 1}, {20, 4, 1}, {60, 12, 3, 1}, {120, 24, 6, 2, 1}, {120, 24, 6, 2, 1}};
  if (count > 6) {
    CRKLogWarn("Error: unhandled number of register permutations for encoding %x\n", permutation);
    return false;
  }
  for (uint32_t i = 0; i < 6; ++i) digits[i] = 0;
  const uint32_t steps = count == 6 ? 5 : count;
  for (uint32_t i = 0; i < steps; ++i) {
    digits[i] = permutation / kDivisors[count][i];
    permutation -= digits[i] * kDivisors[count][i];
  }
  return true;
}

bool CRKCompactUnwindRemapRegisters(uint32_t count, const uint32_t digits[6], uint32_t registers[6]) {
  if (count > 6) {
    CRKLogWarn("Error: invalid register number count %d\n", static_cast<int>(count));
    return false;
  }
  bool used[7] = {};
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t seen = 0;
    registers[i] = 0;
    for (uint32_t reg = 1; reg <= 6; ++reg) {
      if (used[reg]) continue;
      if (seen++ == digits[i]) {
        registers[i] = reg;
        used[reg] = true;
        break;
      }
    }
    if (registers[i] == 0) return false;
  }
  return true;
}

bool CRKCompactUnwindBPFrame(CRKUnwindCursor* cursor) {
  const uint64_t fp = cursor->context.ss.rbp;
  uint64_t words[2] = {};
  if (!CRKMemoryWindowRead(&cursor->memory, reinterpret_cast<const void*>(fp), words, sizeof words)) {
    CRKLogWarn("Error: failed to read memory at address %p\n", reinterpret_cast<void*>(fp));
    return false;
  }
  // A caller's frame lies above its callee's: a chain that turns back is corrupt.
  if (fp + 16 <= cursor->context.ss.rsp) {
    CRKLogWarn("Error: frame pointer %p lies below the stack pointer\n", reinterpret_cast<void*>(fp));
    return false;
  }
  cursor->context.ss.rip = words[1];
  cursor->context.ss.rbp = words[0];
  cursor->context.ss.rsp = fp + 16;
  return true;
}

bool CRKCompactUnwindInit(CRKCompactUnwindContext* context, uint64_t unwindInfo, uint64_t ehFrame, uint64_t ehFrameEnd,
                          uint64_t loadAddress) {
  if (!context) {
    CRKLogWarn("Error: invalid context passed to compact unwind init");
    return false;
  }
  if (unwindInfo == 0) {
    CRKLogWarn("Error: invalid unwind info passed to compact unwind init");
    return false;
  }
  if (loadAddress == 0) {
    CRKLogWarn("Error: invalid load address passed to compact unwind init");
    return false;
  }
  *context = CRKCompactUnwindContext{};
  context->unwindInfo = unwindInfo;
  context->ehFrame = ehFrame;
  context->ehFrameEnd = ehFrameEnd;
  context->loadAddress = loadAddress;
  if (!readValue(unwindInfo, &context->header)) {
    CRKLogWarn("Error: could not read memory contents of unwindInfo\n");
    return false;
  }
  if (context->header.version != 1) {
    CRKLogWarn("Error: bad unwind_info structure version (%d != %d)\n", static_cast<int>(context->header.version), 1);
    return false;
  }
  return true;
}

bool CRKCompactUnwindLookup(CRKCompactUnwindContext* context, uint64_t pc, CRKCompactUnwindResult* result) {
  if (!context || !result || pc < context->loadAddress) return false;
  const uint64_t target = pc - context->loadAddress;
  const CRKCompactUnwindHeader& h = context->header;
  // First level: the entry whose function range holds the target (the last is a sentinel).
  bool found = false;
  if (h.indexCount >= 2) {
    uint32_t entry[3] = {}, next[3] = {};
    if (!readValue(context->unwindInfo + h.indexOffset, &entry)) return false;
    for (uint32_t i = 0; i + 1 < h.indexCount; ++i) {
      if (!readValue(context->unwindInfo + h.indexOffset + uint64_t{i + 1} * 12, &next)) return false;
      if (entry[0] <= target && target < next[0]) {
        context->firstLevelFunctionOffset = entry[0];
        context->secondLevelOffset = entry[1];
        context->lsdaOffset = entry[2];
        context->firstLevelNextFunctionOffset = next[0];
        found = true;
        break;
      }
      std::memcpy(entry, next, sizeof entry);
    }
  }
  if (!found) {
    CRKLogWarn("Unable to find pc in first level\n");
    return false;
  }
  CRKLogDebug("Found first level (second => %u)\n", context->secondLevelOffset);

  const uint64_t page = context->unwindInfo + context->secondLevelOffset;
  uint32_t kind = 0;
  if (!readValue(page, &kind)) return false;
  if (kind == 2) {
    CRKLogInfo("Found a second level regular header\n");
    CRKLogWarn("Encountered a regular second-level page\n");
    CRKLogInfo("Second-level PC lookup failed\n");
    return false;
  }
  if (kind != 3) {
    CRKLogError("Unrecognized header kind - unable to continue\n");
    CRKLogInfo("Second-level PC lookup failed\n");
    return false;
  }
  CRKLogInfo("Found a second level compressed header\n");
  uint16_t fields[4] = {};  // entries offset, entry count, encodings offset, encodings count
  if (!readValue(page + 4, &fields)) return false;
  const uint64_t pageBase = context->loadAddress + context->firstLevelFunctionOffset;
  uint64_t pageTarget = 0;
  if (pc <= pageBase) {
    if (pc < pageBase) CRKLogWarn("Error: PC is invalid\n");
  } else {
    pageTarget = pc - pageBase;
  }
  // Binary search: the last entry whose offset is at most the target.
  int64_t low = 0, high = static_cast<int64_t>(fields[1]) - 1, best = -1;
  uint32_t bestEntry = 0;
  while (low <= high) {
    const int64_t mid = (low + high) / 2;
    uint32_t entry = 0;
    if (!readValue(page + fields[0] + static_cast<uint64_t>(mid) * 4, &entry)) return false;
    if ((entry & 0xffffff) <= pageTarget) {
      best = mid;
      bestEntry = entry;
      low = mid + 1;
    } else {
      high = mid - 1;
    }
  }
  if (best < 0) {
    CRKLogInfo("Unable to find PC in second level\n");
    CRKLogInfo("Second-level PC lookup failed\n");
    return false;
  }
  result->functionStart = pageBase + (bestEntry & 0xffffff);
  if (best + 1 < fields[1]) {
    uint32_t nextEntry = 0;
    if (!readValue(page + fields[0] + static_cast<uint64_t>(best + 1) * 4, &nextEntry)) return false;
    result->functionEnd = pageBase + (nextEntry & 0xffffff);
  } else {
    result->functionEnd = context->loadAddress + context->firstLevelNextFunctionOffset;
  }
  if (pc < result->functionStart || pc >= result->functionEnd) {
    CRKLogWarn("PC does not match computed function range\n");
    CRKLogInfo("Second-level PC lookup failed\n");
    return false;
  }
  const uint32_t index = bestEntry >> 24;
  const uint64_t encodingAddress = index < h.commonEncodingsCount
                                       ? context->unwindInfo + h.commonEncodingsOffset + uint64_t{index} * 4
                                       : page + fields[2] + uint64_t{index - h.commonEncodingsCount} * 4;
  if (index >= h.commonEncodingsCount && index - h.commonEncodingsCount >= fields[3]) return false;
  if (!readValue(encodingAddress, &result->encoding)) return false;
  if (result->encoding == 0) {
    CRKLogInfo("Entry has has no unwind info\n");
    CRKLogInfo("Second-level PC lookup failed\n");
    return false;
  }
  return true;
}

bool CRKCompactUnwindComputeRegisters(CRKCompactUnwindContext* context, const CRKCompactUnwindResult* result,
                                      CRKUnwindCursor* cursor, uint64_t lookupPC) {
  if (!context || !result || !cursor) {
    CRKLogError("invalid inputs\n");
    return false;
  }
  CRKLogDebug("Computing registers for encoding %x\n", result->encoding);
  const uint32_t mode = (result->encoding & kModeMask) >> 24;
  switch (mode) {
    case kModeFramePointer:
      return CRKCompactUnwindBPFrame(cursor);
    case kModeFramelessImmediate:
    case kModeFramelessIndirect:
      return frameless(result, mode, cursor);
    case kModeDwarf: {
      const uint32_t offset = result->encoding & 0xffffff;
      CRKLogInfo("Trying to read dwarf data with offset %lx\n", offset);
      CRKDwarfFDE fde;
      if (!CRKDwarfParseFDEAtOffset(&fde, context->ehFrame, offset, context->ehFrameEnd)) {
        CRKLogError("Unable to init FDE\n");
        return false;
      }
      if (CRKDwarfUnwindComputeRegisters(&fde, &cursor->context, lookupPC, &cursor->memory) != CRKDwarfStep::kStepped) {
        CRKLogError("Failed to compute DWARF registers\n");
        return false;
      }
      return true;
    }
    default:
      CRKLogError("Invalid encoding %x\n", result->encoding);
      return false;
  }
}

bool CRKCompactUnwindLookupAndCompute(CRKCompactUnwindContext* context, CRKUnwindCursor* cursor, uint64_t lookupPC) {
  CRKCompactUnwindResult result;
  if (!CRKCompactUnwindLookup(context, lookupPC, &result)) {
    CRKLogInfo("Unable to lookup compact unwind for pc %p\n", reinterpret_cast<void*>(lookupPC));
    return false;
  }
  if (!CRKCompactUnwindComputeRegisters(context, &result, cursor, lookupPC)) {
    CRKLogError("Failed to compute registers\n");
    return false;
  }
  return true;
}

}  // namespace telemetry
