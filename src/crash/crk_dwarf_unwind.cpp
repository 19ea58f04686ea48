// Call-frame instructions, register rules and the caller's registers.

#include <climits>
#include <cstring>

#include "crash/crk_dwarf.h"
#include "crash/crk_log.h"
#include "crash/crk_memory.h"

namespace telemetry {

namespace {

// Register-numbered rule slot, or null (logged with the instruction's own message).
CRKDwarfRule* ruleFor(CRKDwarfRules* rules, uint64_t reg, const char* message) {
  if (reg > kCRKDwarfReturnAddressRegister) {
    if (message) CRKSDKFileLog(kCRKLogWarn, message, "CRKDwarfInstructionsEnumerate", __LINE__);
    return nullptr;
  }
  return &rules->row.registers[reg];
}

// value × data alignment, wrapping like the address arithmetic it feeds (hostile records
// may overflow it; it must not be undefined).
int64_t scaled(int64_t value, int64_t factor) {
  return static_cast<int64_t>(static_cast<uint64_t>(value) * static_cast<uint64_t>(factor));
}

// The address of a length-prefixed block; the cursor moves past it.
bool skipBlock(CRKDwarfCursor* c, uint64_t* blockAddress) {
  *blockAddress = c->at;
  const uint64_t length = CRKParseULEB128AndAdvance(c);
  if (c->failed || length > c->end - c->at) return false;
  c->at += length;
  return true;
}

bool runOne(CRKDwarfCursor* c, const CRKDwarfCIE* cie, CRKDwarfRules* rules, uint64_t* location, uint64_t pcOffset,
            uint64_t pcStart, bool* stop) {
  const uint8_t byte = CRKParseUint8AndAdvance(c);
  if (c->failed) return false;
  const uint8_t high = byte & 0xc0, low = byte & 0x3f;
  const int64_t daf = cie->dataAlignment;
  auto advance = [&](uint64_t delta) {
    const uint64_t next = *location + delta * cie->codeAlignment;
    if (next > pcOffset || next < *location) {
      *stop = true;  // the row that covers pcOffset is complete
    } else {
      *location = next;
    }
    return true;
  };
  if (high == 0x40) return advance(low);
  if (high == 0x80) {
    const uint64_t offset = CRKParseULEB128AndAdvance(c);
    CRKDwarfRule* r = ruleFor(rules, low, "WARN  [%s:%d] Error: Found an invalid DW_CFA_offset register number\n");
    if (!r || c->failed) return false;
    *r = {kCRKRuleOffset, scaled(static_cast<int64_t>(offset), daf)};
    return true;
  }
  if (high == 0xc0) {
    CRKDwarfRule* r = ruleFor(rules, low, nullptr);
    if (!r) return false;
    *r = rules->initial.registers[low];
    return true;
  }
  uint64_t reg = 0, a = 0;
  int64_t s = 0;
  CRKDwarfRule* r = nullptr;
  switch (byte) {
    case 0x00: return true;
    case 0x01: {
      const uint64_t address = CRKParseAddressWithEncodingAndAdvance(c, cie->fdeEncoding);
      if (c->failed || address == kCRKDwarfInvalidAddress || address < pcStart) return false;
      const uint64_t next = address - pcStart;
      if (next > pcOffset) {
        *stop = true;
      } else {
        *location = next;
      }
      return true;
    }
    case 0x02: a = CRKParseUint8AndAdvance(c); return !c->failed && advance(a);
    case 0x03: a = CRKParseUint16AndAdvance(c); return !c->failed && advance(a);
    case 0x04: a = CRKParseUint32AndAdvance(c); return !c->failed && advance(a);
    case 0x05:  // offset_extended
    case 0x11:  // offset_extended_sf
    case 0x2f:  // GNU_negative_offset_extended
      reg = CRKParseULEB128AndAdvance(c);
      s = byte == 0x11 ? CRKParseLEB128AndAdvance(c) : static_cast<int64_t>(CRKParseULEB128AndAdvance(c));
      if (byte == 0x2f) s = scaled(s, -1);
      r = ruleFor(rules, reg, "WARN  [%s:%d] Error: Found an invalid DW_CFA_offset register number\n");
      if (!r || c->failed) return false;
      *r = {kCRKRuleOffset, scaled(s, daf)};
      return true;
    case 0x06:  // restore_extended
      reg = CRKParseULEB128AndAdvance(c);
      r = ruleFor(rules, reg, nullptr);
      if (!r || c->failed) return false;
      *r = rules->initial.registers[reg];
      return true;
    case 0x07:  // undefined
      reg = CRKParseULEB128AndAdvance(c);
      r = ruleFor(rules, reg, nullptr);
      if (!r || c->failed) return false;
      *r = {kCRKRuleUndefined, 0};
      return true;
    case 0x08:
      reg = CRKParseULEB128AndAdvance(c);
      r = ruleFor(rules, reg, "WARN  [%s:%d] Error: Found an invalid DW_CFA_same_value register number\n");
      if (!r || c->failed) return false;
      *r = {kCRKRuleUnchanged, 0};
      return true;
    case 0x09: {
      reg = CRKParseULEB128AndAdvance(c);
      const uint64_t other = CRKParseULEB128AndAdvance(c);
      r = ruleFor(rules, reg, "WARN  [%s:%d] Error: Found an invalid DW_CFA_register number\n");
      if (!r || c->failed) return false;
      if (other > kCRKDwarfReturnAddressRegister) {
        CRKLogWarn("Error: Found an invalid DW_CFA_register value\n");
        return false;
      }
      *r = {kCRKRuleRegister, static_cast<int64_t>(other)};
      return true;
    }
    case 0x0a:  // remember_state
      if (rules->savedCount >= kCRKDwarfStateStackDepth) return false;
      rules->saved[rules->savedCount++] = rules->row;
      return true;
    case 0x0b:  // restore_state
      if (rules->savedCount <= 0) return false;
      rules->row = rules->saved[--rules->savedCount];
      return true;
    case 0x0c:
    case 0x12:  // def_cfa_sf
      reg = CRKParseULEB128AndAdvance(c);
      s = byte == 0x0c ? static_cast<int64_t>(CRKParseULEB128AndAdvance(c)) : scaled(CRKParseLEB128AndAdvance(c), daf);
      if (c->failed) return false;
      if (reg > kCRKDwarfReturnAddressRegister) {
        CRKLogWarn("Error: Found an invalid DW_CFA_def_cfa register number\n");
        return false;
      }
      rules->row.cfaRegister = reg;
      rules->row.cfaOffset = s;
      rules->row.cfaExpression = 0;
      return true;
    case 0x0d:
      reg = CRKParseULEB128AndAdvance(c);
      if (c->failed) return false;
      if (reg > kCRKDwarfReturnAddressRegister) {
        CRKLogWarn("Error: Found an invalid DW_CFA_def_cfa_register register number\n");
        return false;
      }
      rules->row.cfaRegister = reg;
      rules->row.cfaExpression = 0;
      return true;
    case 0x0e:
      rules->row.cfaOffset = static_cast<int64_t>(CRKParseULEB128AndAdvance(c));
      return !c->failed;
    case 0x13:
      rules->row.cfaOffset = scaled(CRKParseLEB128AndAdvance(c), daf);
      return !c->failed;
    case 0x0f:
      if (!skipBlock(c, &a)) return false;
      rules->row.cfaRegister = kCRKDwarfExpressionRegister;
      rules->row.cfaExpression = a;
      return true;
    case 0x10:
    case 0x16:
      reg = CRKParseULEB128AndAdvance(c);
      r = ruleFor(rules, reg,
                  byte == 0x10 ? "WARN  [%s:%d] Error: Found an invalid DW_CFA_expression register number\n"
                               : "WARN  [%s:%d] Error: Found an invalid DW_CFA_val_expression register number\n");
      if (!r || c->failed || !skipBlock(c, &a)) return false;
      *r = {byte == 0x10 ? kCRKRuleExpression : kCRKRuleValExpression, static_cast<int64_t>(a)};
      return true;
    case 0x14:
    case 0x15:
      reg = CRKParseULEB128AndAdvance(c);
      s = byte == 0x14 ? static_cast<int64_t>(CRKParseULEB128AndAdvance(c)) : CRKParseLEB128AndAdvance(c);
      r = ruleFor(rules, reg, nullptr);
      if (!r || c->failed) return false;
      *r = {kCRKRuleValOffset, scaled(s, daf)};
      return true;
    case 0x2e:  // GNU_args_size: the caller's registers do not depend on it
      CRKParseULEB128AndAdvance(c);
      return !c->failed;
    case 0x2d:
      CRKLogWarn("Error: Unimplemented DWARF instruction 0x%x\n", static_cast<unsigned>(byte));
      return false;
    default:
      CRKLogWarn("Error: Unrecognized DWARF instruction 0x%x\n", static_cast<unsigned>(byte));
      return false;
  }
}

}  // namespace

bool CRKDwarfInstructionsEnumerate(uint64_t instructions, uint64_t length, const CRKDwarfCIE* cie, CRKDwarfRules* rules,
                                   uint64_t pcOffset, uint64_t pcStart) {
  if (!cie || !rules) {
    CRKLogWarn("Error: invalid inputs\n");
    return false;
  }
  if (length == 0) return true;
  if (instructions < kCRKMinimumValidAddress || length > cie->sectionEnd - instructions) return false;
  CRKDwarfCursor c{instructions, instructions + length};
  uint64_t location = 0;
  bool stop = false;
  while (c.at < c.end && !stop) {
    const uint64_t at = c.at;
    if (!runOne(&c, cie, rules, &location, pcOffset, pcStart, &stop)) {
      CRKLogWarn("Error: Failed to execute dwarf instruction 0x%x\n",
                 static_cast<unsigned>(*reinterpret_cast<const uint8_t*>(at)));
      return false;
    }
  }
  return true;
}

uint64_t CRKDwarfUnwindGetRegisterValue(const CRKThreadContext* context, uint64_t number) {
  if (!context) return 0;
  const CRKRegisterState& s = context->ss;
  switch (number) {
    case 0: return s.rax;
    case 1: return s.rdx;
    case 2: return s.rcx;
    case 3: return s.rbx;
    case 4: return s.rsi;
    case 5: return s.rdi;
    case 6: return s.rbp;
    case 7: return s.rsp;
    case 8: return s.r8;
    case 9: return s.r9;
    case 10: return s.r10;
    case 11: return s.r11;
    case 12: return s.r12;
    case 13: return s.r13;
    case 14: return s.r14;
    case 15: return s.r15;
    case 16: return s.rip;
    default:
      CRKLogWarn("Error: Unrecognized get register number %llu\n");
      return 0;
  }
}

bool CRKDwarfUnwindSetRegisterValue(CRKThreadContext* context, uint64_t number, uint64_t value) {
  if (!context) return false;
  CRKRegisterState& s = context->ss;
  uint64_t* slots[] = {&s.rax, &s.rdx, &s.rcx, &s.rbx, &s.rsi, &s.rdi, &s.rbp, &s.rsp, &s.r8,
                       &s.r9,  &s.r10, &s.r11, &s.r12, &s.r13, &s.r14, &s.r15, &s.rip};
  if (number > kCRKDwarfReturnAddressRegister) {
    CRKLogWarn("Unrecognized set register number %llu\n");
    return false;
  }
  *slots[number] = value;
  return true;
}

bool CRKDwarfGetCFA(const CRKDwarfRules* rules, const CRKThreadContext* context, uint64_t sectionEnd, uint64_t* cfaOut,
                    CRKMemoryWindow* memory) {
  if (!rules || !context || !cfaOut) return false;
  if (rules->row.cfaRegister == kCRKDwarfExpressionRegister) {
    if (!CRKDwarfEvalulateExpression(rules->row.cfaExpression, sectionEnd, context, 0, cfaOut, memory)) {
      CRKLogWarn("Error: failed to compute CFA expression\n");
      return false;
    }
    return true;
  }
  if (rules->row.cfaRegister > kCRKDwarfReturnAddressRegister) return false;
  *cfaOut = CRKDwarfUnwindGetRegisterValue(context, rules->row.cfaRegister) + static_cast<uint64_t>(rules->row.cfaOffset);
  return true;
}

uint64_t CRKDwarfGetSavedRegister(const CRKThreadContext* context, uint64_t cfa, const CRKDwarfRule& rule,
                                  uint64_t sectionEnd, bool* ok, CRKMemoryWindow* memory) {
  *ok = true;
  uint64_t value = 0, address = 0;
  switch (rule.kind) {
    case kCRKRuleOffset:
      if (!CRKMemoryWindowRead(memory, reinterpret_cast<const void*>(cfa + static_cast<uint64_t>(rule.value)), &value,
                               8)) {
        CRKLogWarn("Error: Unable to read CFA value\n");
        *ok = false;
      }
      return value;
    case kCRKRuleValOffset:
      return cfa + static_cast<uint64_t>(rule.value);
    case kCRKRuleRegister:
      return CRKDwarfUnwindGetRegisterValue(context, static_cast<uint64_t>(rule.value));
    case kCRKRuleExpression:
      if (!CRKDwarfEvalulateExpression(static_cast<uint64_t>(rule.value), sectionEnd, context, cfa, &address, memory)) {
        CRKLogWarn("Error: unable to evaluate expression\n");
        *ok = false;
        return 0;
      }
      if (!CRKMemoryWindowRead(memory, reinterpret_cast<const void*>(address), &value, 8)) {
        CRKLogWarn("Error: Unable to read memory computed from expression\n");
        *ok = false;
      }
      return value;
    case kCRKRuleValExpression:
      if (!CRKDwarfEvalulateExpression(static_cast<uint64_t>(rule.value), sectionEnd, context, cfa, &value, memory)) {
        CRKLogWarn("Error: unable to evaluate expression\n");
        *ok = false;
      }
      return value;
    default:
      CRKLogWarn("Error: Unrecognized register save location 0x%x\n", static_cast<unsigned>(rule.kind));
      *ok = false;
      return 0;
  }
}

bool CRKDwarfUnwindAssignRegisters(const CRKDwarfRules* rules, const CRKThreadContext* context, uint64_t cfa,
                                   uint64_t sectionEnd, CRKThreadContext* out, CRKMemoryWindow* memory) {
  *out = *context;
  // Registers saved near the CFA are read in one checked read: each read is a system call.
  constexpr int64_t kSpan = 256;
  int64_t low = INT64_MAX, high = INT64_MIN;
  bool aligned = true;
  for (const CRKDwarfRule& rule : rules->row.registers) {
    if (rule.kind != kCRKRuleOffset) continue;
    aligned = aligned && (low == INT64_MAX || (static_cast<uint64_t>(rule.value) - static_cast<uint64_t>(low)) % 8 == 0);
    low = rule.value < low ? rule.value : low;
    high = rule.value > high ? rule.value : high;
  }
  uint64_t saved[kSpan / 8];
  const uint64_t span = static_cast<uint64_t>(high) - static_cast<uint64_t>(low);
  const bool haveSpan = aligned && low <= high && span < kSpan &&
                        CRKMemoryWindowRead(memory, reinterpret_cast<const void*>(cfa + static_cast<uint64_t>(low)),
                                            saved, static_cast<size_t>(span + 8));
  for (uint64_t reg = 0; reg < kCRKDwarfRegisterCount; ++reg) {
    const CRKDwarfRule& rule = rules->row.registers[reg];
    if (rule.kind == kCRKRuleUnchanged || rule.kind == kCRKRuleUndefined) continue;
    bool ok = true;
    const uint64_t value = haveSpan && rule.kind == kCRKRuleOffset
                               ? saved[(static_cast<uint64_t>(rule.value) - static_cast<uint64_t>(low)) / 8]
                               : CRKDwarfGetSavedRegister(context, cfa, rule, sectionEnd, &ok, memory);
    if (!ok || !CRKDwarfUnwindSetRegisterValue(out, reg, value)) {
      CRKLogWarn("Error: Unable to restore register value\n");
      return false;
    }
  }
  if (!CRKDwarfUnwindSetRegisterValue(out, 7, cfa)) {
    CRKLogWarn("Error: Unable to restore SP value\n");
    return false;
  }
  // Recursion repeats return addresses; only a stack pointer that stands still means no
  // progress.
  if (out->ss.rsp == context->ss.rsp) {
    CRKLogWarn("Error: Stack pointer hasn't changed\n");
    return false;
  }
  return true;
}

CRKDwarfStep CRKDwarfUnwindComputeRegisters(const CRKDwarfFDE* fde, CRKThreadContext* context, uint64_t lookupPC,
                                             CRKMemoryWindow* memory) {
  if (!fde || !context) return CRKDwarfStep::kFailed;
  CRKDwarfRules rules;
  rules.row.cfaRegister = 0;
  if (!CRKDwarfInstructionsEnumerate(fde->cie.instructions, fde->cie.instructionsLength, &fde->cie, &rules,
                                     ~uint64_t{0}, 0)) {
    CRKLogWarn("Error: Unable to run CIE instructions\n");
    return CRKDwarfStep::kFailed;
  }
  rules.initial = rules.row;
  rules.savedCount = 0;
  if (lookupPC < fde->pcStart) {
    CRKLogWarn("Error: The FDE pcOffset value cannot be negative\n");
    return CRKDwarfStep::kFailed;
  }
  if (!CRKDwarfInstructionsEnumerate(fde->instructions, fde->instructionsLength, &fde->cie, &rules,
                                     lookupPC - fde->pcStart, fde->pcStart)) {
    CRKLogWarn("Error: Unable to run FDE instructions\n");
    return CRKDwarfStep::kFailed;
  }
  const uint64_t ra = fde->cie.returnRegister;
  if (ra <= kCRKDwarfReturnAddressRegister && rules.row.registers[ra].kind == kCRKRuleUndefined) {
    return CRKDwarfStep::kEndOfStack;
  }
  uint64_t cfa = 0;
  if (!CRKDwarfGetCFA(&rules, context, fde->cie.sectionEnd, &cfa, memory)) {
    CRKLogWarn("Error: failed to get CFA\n");
    return CRKDwarfStep::kFailed;
  }
  CRKThreadContext caller;
  if (!CRKDwarfUnwindAssignRegisters(&rules, context, cfa, fde->cie.sectionEnd, &caller, memory)) {
    CRKLogError("Error: Unable to assign DWARF registers\n");
    return CRKDwarfStep::kFailed;
  }
  *context = caller;
  return CRKDwarfStep::kStepped;
}

}  // namespace telemetry
