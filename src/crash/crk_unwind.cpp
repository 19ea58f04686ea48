#include "crash/crk_unwind.h"

#include <cstring>

#include "crash/crk_context.h"
#include "crash/crk_dwarf.h"
#include "crash/crk_log.h"
#include "crash/crk_memory.h"

namespace telemetry {

namespace {

// How far the one-time stack scan looks when rbp does not bound the innermost frame.
constexpr uint64_t kScanWithoutFrame = 512;
constexpr uint64_t kMaxScan = 64 * 1024;

// Reads one pointer of the ".eh_frame_hdr" search table (or its header) in place; the
// table is part of the image and bounded by its segment.
uint64_t readTableValue(CRKDwarfCursor* c, uint8_t encoding, uint64_t dataBase) {
  return CRKParseAddressWithEncodingAndAdvance(c, encoding, dataBase);
}

bool stackScan(CRKUnwindCursor* cursor) {
  const uint64_t sp = cursor->context.ss.rsp;
  const uint64_t fp = cursor->context.ss.rbp;
  const uint64_t end = fp > sp && fp - sp <= kMaxScan ? fp : sp + kScanWithoutFrame;
  uint64_t found = 0, at = 0;
  if (!CRKUnwindFirstExecutableAddress(sp, end, &found, &at, &cursor->memory)) return false;
  // The return address sits right above the frame record rbp points at: the function
  // built a frame, so the frame-pointer step also restores the caller's rbp.
  if (at == fp + 8) return CRKCompactUnwindBPFrame(cursor);
  cursor->context.ss.rip = found;
  // The caller's stack starts above the return address found.
  cursor->context.ss.rsp = at + 8;
  return true;
}

bool nextUsingAllStrategies(CRKUnwindCursor* cursor, uint64_t lookupPC, bool* endOfStack) {
  bool signalFrame = false;
  CRKBinaryImageNode node;
  if (!CRKBinaryImageSafeFindImageForAddress(lookupPC, &node)) {
    CRKLogWarn("Unable to find binary for %p\n", reinterpret_cast<void*>(lookupPC));
  } else {
    CRKLogDebug("Binary image for %p at %p\n", reinterpret_cast<void*>(lookupPC), reinterpret_cast<void*>(node.base));
    if (!CRKBinaryImageHasUnwindInfo(&node)) {
      CRKLogInfo("Binary image at %p has no unwind info\n", reinterpret_cast<void*>(node.base));
    } else if (node.format == kCRKImageELF) {
      const int step = CRKUnwindWithEhFrameHeader(&node, cursor, lookupPC, &signalFrame);
      if (step < 0) {
        *endOfStack = true;
        return true;
      }
      if (step > 0) {
        cursor->pcIsReturnAddress = !signalFrame;
        return true;
      }
    } else if (!CRKCompactUnwindInit(&cursor->compactUnwindContext, node.unwindInfo, node.ehFrame, node.ehFrameEnd,
                                     node.base)) {
      CRKLogError("Unable to read unwind info\n");
    } else if (CRKCompactUnwindLookupAndCompute(&cursor->compactUnwindContext, cursor, lookupPC)) {
      cursor->pcIsReturnAddress = true;
      return true;
    }
  }
  if (cursor->context.ss.rbp == 0) {
    CRKLogWarn("FP is zero, aborting unwind\n");
    cursor->context.ss.rip = 0;
    return true;
  }
  if (!CRKUnwindWithFramePointer(cursor, cursor->frameCount == 1)) {
    CRKLogError("Unable to use frame pointer\n");
    return false;
  }
  cursor->pcIsReturnAddress = true;
  return true;
}

}  // namespace

bool CRKUnwindInit(CRKUnwindCursor* cursor, const CRKThreadContext* state) {
  if (!cursor) return false;
  *cursor = CRKUnwindCursor{};
  if (state) cursor->context = *state;
  return true;
}

bool CRKUnwindInitFromReturnAddress(CRKUnwindCursor* cursor, const CRKThreadContext* state) {
  if (!CRKUnwindInit(cursor, state)) return false;
  cursor->pcIsReturnAddress = true;
  return true;
}

uint64_t CRKUnwindGetPC(const CRKUnwindCursor* cursor) { return cursor ? cursor->context.ss.rip : 0; }
uint64_t CRKUnwindGetStackPointer(const CRKUnwindCursor* cursor) { return cursor ? cursor->context.ss.rsp : 0; }
uint32_t CRKUnwindGetRepeatCount(const CRKUnwindCursor* cursor) { return cursor ? cursor->repeatCount : 0; }

bool CRKUnwindIsAddressExecutable(uint64_t address) {
  CRKBinaryImageNode node;
  return CRKBinaryImageSafeFindImageForAddress(address, &node);
}

bool CRKUnwindFirstExecutableAddress(uint64_t start, uint64_t end, uint64_t* found, uint64_t* foundAt,
                                     CRKMemoryWindow* memory) {
  for (uint64_t at = start; at < end && at + 8 > at; at += 8) {
    if (at < kCRKMinimumValidAddress) continue;
    uint64_t word = 0;
    if (!CRKMemoryWindowRead(memory, reinterpret_cast<const void*>(at), &word, sizeof word)) return false;
    CRKLogDebug("Checking address %p => %p\n", reinterpret_cast<void*>(at), reinterpret_cast<void*>(word));
    CRKLogDebug("Checking for executable %p\n", reinterpret_cast<void*>(word));
    if (CRKUnwindIsAddressExecutable(word)) {
      if (found) *found = word;
      if (foundAt) *foundAt = at;
      return true;
    }
  }
  return false;
}

int CRKUnwindWithEhFrameHeader(const CRKBinaryImageNode* node, CRKUnwindCursor* cursor, uint64_t lookupPC,
                               bool* signalFrame) {
  const uint64_t hdr = node->unwindInfo;
  CRKDwarfCursor c{hdr, node->unwindInfoEnd};
  const uint8_t version = CRKParseUint8AndAdvance(&c);
  const uint8_t framePointerEncoding = CRKParseUint8AndAdvance(&c);
  const uint8_t countEncoding = CRKParseUint8AndAdvance(&c);
  const uint8_t tableEncoding = CRKParseUint8AndAdvance(&c);
  if (c.failed || version != 1) return 0;
  readTableValue(&c, framePointerEncoding, hdr);
  const uint64_t count = readTableValue(&c, countEncoding, hdr);
  // Entries are searched by position, so they must have one fixed size.
  size_t entrySize = 0;
  switch (tableEncoding & 0x0f) {
    case 0x02: case 0x0a: entrySize = 4; break;
    case 0x03: case 0x0b: entrySize = 8; break;
    case 0x04: case 0x0c: entrySize = 16; break;
    default: return 0;
  }
  if (c.failed || count == kCRKDwarfInvalidAddress || count == 0) return 0;
  const uint64_t table = c.at;
  if (count > (c.end - table) / entrySize) return 0;
  // The last entry whose initial location is at most the pc.
  uint64_t low = 0, high = count;
  while (high - low > 1) {
    const uint64_t mid = low + (high - low) / 2;
    CRKDwarfCursor e{table + mid * entrySize, c.end};
    if (readTableValue(&e, tableEncoding, hdr) <= lookupPC) {
      low = mid;
    } else {
      high = mid;
    }
  }
  CRKDwarfCursor e{table + low * entrySize, c.end};
  const uint64_t start = readTableValue(&e, tableEncoding, hdr);
  const uint64_t fdeAddress = readTableValue(&e, tableEncoding, hdr);
  if (e.failed || start > lookupPC) return 0;
  if (fdeAddress < node->ehFrame || fdeAddress >= node->ehFrameEnd) return 0;
  CRKDwarfFDE fde;
  if (!CRKDwarfParseFDERecord(&fde, true, nullptr, fdeAddress, node->ehFrame, node->ehFrameEnd)) return 0;
  if (lookupPC < fde.pcStart || lookupPC - fde.pcStart >= fde.pcRange) return 0;
  switch (CRKDwarfUnwindComputeRegisters(&fde, &cursor->context, lookupPC, &cursor->memory)) {
    case CRKDwarfStep::kStepped:
      *signalFrame = fde.cie.signalFrame;
      return 1;
    case CRKDwarfStep::kEndOfStack:
      return -1;
    case CRKDwarfStep::kFailed:
      return 0;
  }
  return 0;
}

bool CRKUnwindWithFramePointer(CRKUnwindCursor* cursor, bool firstUnwind) {
  if (firstUnwind) {
    CRKLogInfo("Attempting stack scan\n");
    if (stackScan(cursor)) {
      CRKLogInfo("Stack scan successful\n");
      return true;
    }
  }
  return CRKCompactUnwindBPFrame(cursor);
}

bool CRKUnwindNextFrame(CRKUnwindCursor* cursor) {
  if (!cursor) {
    CRKLogWarn("Error: invalid inputs\n");
    return false;
  }
  CRKThreadContext& c = cursor->context;
  if (c.ss.rip < kCRKMinimumValidAddress || c.ss.rsp < kCRKMinimumValidAddress) {
    if (cursor->frameCount == 0) {
      CRKLogWarn("Cancelling unwind for thread with invalid PC/SP\n");
    } else {
      CRKLogWarn("Error: thread PC/SP invalid before unwind\n");
    }
    return false;
  }
  if (cursor->frameCount >= kCRKUnwindMaxFrames) {
    CRKLogWarn("Exceeded maximum number of frames\n");
    return false;
  }
  if (cursor->frameCount > 0) {
    const uint64_t lookupPC = cursor->pcIsReturnAddress ? c.ss.rip - 1 : c.ss.rip;
    if (lookupPC < kCRKMinimumValidAddress) {
      CRKLogError("PC is invalid\n");
      return false;
    }
    bool endOfStack = false;
    if (!nextUsingAllStrategies(cursor, lookupPC, &endOfStack)) {
      CRKLogError("Failed to advance to the next frame\n");
      return false;
    }
    if (endOfStack) return false;
  }
  if (c.ss.rip < kCRKMinimumValidAddress) return false;
  if (c.ss.rsp < kCRKMinimumValidAddress) {
    CRKLogWarn("Error: SP (%p) isn't a valid pointer\n", reinterpret_cast<void*>(c.ss.rsp));
    return false;
  }
  cursor->repeatCount = c.ss.rip == cursor->lastFramePC && cursor->frameCount > 0 ? cursor->repeatCount + 1 : 0;
  cursor->frameCount++;
  cursor->lastFramePC = c.ss.rip;
  return true;
}

}  // namespace telemetry
