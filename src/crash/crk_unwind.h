#pragma once
// Walks a thread's stack from a register state, reading only memory it has checked and
// allocating nothing: all state lives in the cursor on the caller's stack.
//
// Strategies, in order, for each frame after the first:
//   - ELF images: the FDE that ".eh_frame_hdr" names for the pc, run as DWARF;
//     Mach-O images: the compact unwind table ("__unwind_info"), which may point at DWARF;
//   - the frame-pointer chain, after a one-time stack scan for a frameless innermost frame.
// A return address is looked up one byte back (inside the call); the first frame's pc and
// the pc interrupted by a signal (after a signal frame) are looked up as they are.

#include <cstdint>

#include "crash/crk_binary_image.h"
#include "crash/crk_memory_window.h"
#include "crash/crk_thread_context.h"

namespace telemetry {

inline constexpr uint32_t kCRKUnwindMaxFrames = 600000;

struct CRKCompactUnwindHeader {
  uint32_t version;
  uint32_t commonEncodingsOffset;
  uint32_t commonEncodingsCount;
  uint32_t personalitiesOffset;
  uint32_t personalitiesCount;
  uint32_t indexOffset;
  uint32_t indexCount;
};
static_assert(sizeof(CRKCompactUnwindHeader) == 28);

struct CRKCompactUnwindContext {
  uint64_t unwindInfo = 0;
  uint64_t ehFrame = 0;
  uint64_t ehFrameEnd = 0;
  uint64_t loadAddress = 0;
  CRKCompactUnwindHeader header{};
  uint32_t firstLevelFunctionOffset = 0;
  uint32_t secondLevelOffset = 0;
  uint32_t lsdaOffset = 0;
  uint32_t firstLevelNextFunctionOffset = 0;
};

struct CRKCompactUnwindResult {
  uint32_t encoding = 0;
  uint64_t functionStart = 0;
  uint64_t functionEnd = 0;
};

struct CRKUnwindCursor {
  CRKThreadContext context;
  uint32_t frameCount = 0;
  CRKCompactUnwindContext compactUnwindContext;
  uint64_t lastFramePC = 0;
  uint32_t repeatCount = 0;
  // The current pc is a return address (look it up one byte back).
  bool pcIsReturnAddress = false;
  // Stack memory read so far: a frame's reads are mostly served from it.
  CRKMemoryWindow memory;
};

bool CRKUnwindInit(CRKUnwindCursor* cursor, const CRKThreadContext* state);
// For a state whose pc is already a return address (CRKThreadContextCaptureCaller).
bool CRKUnwindInitFromReturnAddress(CRKUnwindCursor* cursor, const CRKThreadContext* state);
bool CRKUnwindNextFrame(CRKUnwindCursor* cursor);
uint64_t CRKUnwindGetPC(const CRKUnwindCursor* cursor);
uint64_t CRKUnwindGetStackPointer(const CRKUnwindCursor* cursor);
uint32_t CRKUnwindGetRepeatCount(const CRKUnwindCursor* cursor);
bool CRKUnwindIsAddressExecutable(uint64_t address);
// The first word in [start, end) whose value lies in a tracked image; `foundAt` is where.
bool CRKUnwindFirstExecutableAddress(uint64_t start, uint64_t end, uint64_t* found, uint64_t* foundAt = nullptr,
                                     CRKMemoryWindow* memory = nullptr);

// One step through ".eh_frame_hdr": 1 stepped, 0 no usable entry, -1 the end of the stack.
int CRKUnwindWithEhFrameHeader(const CRKBinaryImageNode* node, CRKUnwindCursor* cursor, uint64_t lookupPC,
                               bool* signalFrame);
bool CRKUnwindWithFramePointer(CRKUnwindCursor* cursor, bool firstUnwind);

bool CRKCompactUnwindInit(CRKCompactUnwindContext* context, uint64_t unwindInfo, uint64_t ehFrame, uint64_t ehFrameEnd,
                          uint64_t loadAddress);
bool CRKCompactUnwindLookup(CRKCompactUnwindContext* context, uint64_t pc, CRKCompactUnwindResult* result);
bool CRKCompactUnwindLookupAndCompute(CRKCompactUnwindContext* context, CRKUnwindCursor* cursor, uint64_t lookupPC);
bool CRKCompactUnwindComputeRegisters(CRKCompactUnwindContext* context, const CRKCompactUnwindResult* result,
                                      CRKUnwindCursor* cursor, uint64_t lookupPC);
// The saved-register numbers (1 rbx, 2 r12, 3 r13, 4 r14, 5 r15, 6 rbp) a frameless
// encoding's permutation names, in stack order; false for counts above 6.
bool CRKCompactUnwindDecompressPermutation(uint32_t count, uint32_t permutation, uint32_t digits[6]);
bool CRKCompactUnwindRemapRegisters(uint32_t count, const uint32_t digits[6], uint32_t registers[6]);
bool CRKCompactUnwindBPFrame(CRKUnwindCursor* cursor);

}  // namespace telemetry
