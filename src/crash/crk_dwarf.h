#pragma once
// DWARF call-frame information as found in ".eh_frame": readers of the section's data and
// pointer encodings, the CIE and FDE parsers, the call-frame instruction interpreter, the
// register rules and a small expression machine. x86_64 numbering only: 0 rax, 1 rdx,
// 2 rcx, 3 rbx, 4 rsi, 5 rdi, 6 rbp, 7 rsp, 8-15 r8-r15, 16 the return address (rip);
// higher numbers are errors.
//
// Section bytes are read in place, never past the end the caller names (the end of the
// segment holding the section); memory of the stack is read only with checked reads,
// through the caller's memory window when it passes one.
// Everything here is async-signal-safe: no lock, no allocation.

#include <cstddef>
#include <cstdint>

#include "crash/crk_memory_window.h"
#include "crash/crk_thread_context.h"

namespace telemetry {

inline constexpr uint64_t kCRKDwarfInvalidAddress = ~uint64_t{0};
inline constexpr uint64_t kCRKDwarfRegisterCount = 17;
inline constexpr uint64_t kCRKDwarfReturnAddressRegister = 16;
inline constexpr uint64_t kCRKDwarfExpressionRegister = 17;  // marks a CFA given by an expression
inline constexpr int kCRKDwarfStateStackDepth = 8;
inline constexpr int kCRKDwarfExpressionStackSize = 100;

// A bounded read position; `failed` is set by any read that would pass `end`.
struct CRKDwarfCursor {
  uint64_t at = 0;
  uint64_t end = 0;
  bool failed = false;
};

uint8_t CRKParseUint8AndAdvance(CRKDwarfCursor* c);
uint16_t CRKParseUint16AndAdvance(CRKDwarfCursor* c);
int16_t CRKParseInt16AndAdvance(CRKDwarfCursor* c);
uint32_t CRKParseUint32AndAdvance(CRKDwarfCursor* c);
int32_t CRKParseInt32AndAdvance(CRKDwarfCursor* c);
uint64_t CRKParseUint64AndAdvance(CRKDwarfCursor* c);
int64_t CRKParseInt64AndAdvance(CRKDwarfCursor* c);
uint64_t CRKParseULEB128AndAdvance(CRKDwarfCursor* c);
int64_t CRKParseLEB128AndAdvance(CRKDwarfCursor* c);
// The string's address; the cursor moves past its NUL.
const char* CRKParseStringAndAdvance(CRKDwarfCursor* c);
uint64_t CRKParseRecordLengthAndAdvance(CRKDwarfCursor* c);
// DW_EH_PE_* pointer encodings; all ones for what cannot be read. `dataBase` serves the
// data-relative application (0: not available).
uint64_t CRKParseAddressWithEncodingAndAdvance(CRKDwarfCursor* c, uint8_t encoding, uint64_t dataBase = 0);

struct CRKDwarfCIE {
  uint64_t length = 0;
  uint8_t version = 0;
  uint8_t fdeEncoding = 0;
  uint8_t lsdaEncoding = 0;
  uint8_t personalityEncoding = 0;
  const char* augmentation = nullptr;
  uint64_t personality = 0;
  uint64_t codeAlignment = 0;
  int64_t dataAlignment = 0;
  uint64_t returnRegister = 0;
  bool signalFrame = false;
  uint64_t instructions = 0;
  uint64_t instructionsLength = 0;
  uint64_t sectionEnd = 0;  // no read of this CIE's data or expressions goes past it
};

struct CRKDwarfFDE {
  uint64_t length = 0;
  uint64_t ciePointer = 0;
  uint64_t pcStart = 0;
  uint64_t pcRange = 0;
  uint64_t instructions = 0;
  uint64_t instructionsLength = 0;
  CRKDwarfCIE cie;
};

enum CRKDwarfRuleKind : uint8_t {
  kCRKRuleUnchanged = 0,  // also same_value
  kCRKRuleOffset = 1,     // saved at CFA + value
  kCRKRuleValOffset = 2,  // the value is CFA + value
  kCRKRuleRegister = 3,
  kCRKRuleExpression = 4,
  kCRKRuleValExpression = 5,
  kCRKRuleUndefined = 6,
};

struct CRKDwarfRule {
  uint8_t kind = kCRKRuleUnchanged;
  int64_t value = 0;
};

struct CRKDwarfRow {
  uint64_t cfaRegister = 0;
  int64_t cfaOffset = 0;
  uint64_t cfaExpression = 0;
  CRKDwarfRule registers[kCRKDwarfRegisterCount];
};

struct CRKDwarfRules {
  CRKDwarfRow row;
  CRKDwarfRow initial;  // after the CIE's instructions: what restore goes back to
  CRKDwarfRow saved[kCRKDwarfStateStackDepth];
  int savedCount = 0;
};

bool CRKDwarfCIEIsValid(const CRKDwarfCIE* cie);
bool CRKDwarfCIEHasAugmentationData(const CRKDwarfCIE* cie);
bool CRKDwarfParseCIERecord(CRKDwarfCIE* cie, uint64_t address, uint64_t sectionEnd);
// The FDE's CIE must lie inside [sectionStart, sectionEnd) too.
bool CRKDwarfParseFDERecord(CRKDwarfFDE* fde, bool parseCIE, CRKDwarfCIE* cie, uint64_t address, uint64_t sectionStart,
                            uint64_t sectionEnd);
bool CRKDwarfParseFDEAtOffset(CRKDwarfFDE* fde, uint64_t ehFrame, uint64_t offset, uint64_t sectionEnd);

// Runs instructions until one would move the location past `pcOffset` (the row that
// covers pcOffset, including one that starts exactly there, is applied).
bool CRKDwarfInstructionsEnumerate(uint64_t instructions, uint64_t length, const CRKDwarfCIE* cie, CRKDwarfRules* rules,
                                   uint64_t pcOffset, uint64_t pcStart);

uint64_t CRKDwarfUnwindGetRegisterValue(const CRKThreadContext* context, uint64_t number);
bool CRKDwarfUnwindSetRegisterValue(CRKThreadContext* context, uint64_t number, uint64_t value);

bool CRKDwarfGetCFA(const CRKDwarfRules* rules, const CRKThreadContext* context, uint64_t sectionEnd, uint64_t* cfaOut,
                    CRKMemoryWindow* memory = nullptr);
uint64_t CRKDwarfGetSavedRegister(const CRKThreadContext* context, uint64_t cfa, const CRKDwarfRule& rule,
                                  uint64_t sectionEnd, bool* ok, CRKMemoryWindow* memory = nullptr);
bool CRKDwarfUnwindAssignRegisters(const CRKDwarfRules* rules, const CRKThreadContext* context, uint64_t cfa,
                                   uint64_t sectionEnd, CRKThreadContext* out, CRKMemoryWindow* memory = nullptr);

enum class CRKDwarfStep { kFailed, kStepped, kEndOfStack };
// Replaces the context's registers by the caller's. `lookupPC` is the address whose row
// applies (the pc, or a return address minus one). An undefined return address answers
// kEndOfStack.
CRKDwarfStep CRKDwarfUnwindComputeRegisters(const CRKDwarfFDE* fde, CRKThreadContext* context, uint64_t lookupPC,
                                             CRKMemoryWindow* memory = nullptr);

// The expression machine.
struct CRKDwarfExpressionMachine {
  uint64_t stack[kCRKDwarfExpressionStackSize];
  int stackPointer = 0;  // slots in use; -1 once invalid
  uint64_t position = 0;
  uint64_t start = 0;
  uint64_t end = 0;
  uint64_t limit = 0;  // section end
  uint32_t executed = 0;
  const CRKThreadContext* context = nullptr;
  CRKMemoryWindow* memory = nullptr;  // for deref; none: direct checked reads
};

bool CRKDwarfExpressionMachineInit(CRKDwarfExpressionMachine* m, uint64_t expression, uint64_t limit,
                                   const CRKThreadContext* context, uint64_t initialValue);
bool CRKDwarfExpressionMachinePrepareForExecution(CRKDwarfExpressionMachine* m);
bool CRKDwarfExpressionMachineIsFinished(const CRKDwarfExpressionMachine* m);
bool CRKDwarfExpressionMachineExecuteNextOpcode(CRKDwarfExpressionMachine* m);
bool CRKDwarfExpressionMachineGetResult(const CRKDwarfExpressionMachine* m, uint64_t* result);
// `expression` points at the ULEB128 length that precedes the opcodes.
bool CRKDwarfEvalulateExpression(uint64_t expression, uint64_t limit, const CRKThreadContext* context,
                                 uint64_t initialValue, uint64_t* resultOut, CRKMemoryWindow* memory = nullptr);

}  // namespace telemetry
