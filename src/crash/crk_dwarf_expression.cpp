// The DWARF expression machine of call-frame rules.

#include <cstring>

#include "crash/crk_dwarf.h"
#include "crash/crk_log.h"
#include "crash/crk_memory.h"

namespace telemetry {

namespace {

// Hostile expressions may loop through branches; no real one comes near this.
constexpr uint32_t kMaxExecutedOpcodes = 10000;

bool push(CRKDwarfExpressionMachine* m, uint64_t value) {
  if (m->stackPointer < 0 || m->stackPointer >= kCRKDwarfExpressionStackSize) {
    m->stackPointer = -1;
    return false;
  }
  m->stack[m->stackPointer++] = value;
  return true;
}

bool pop(CRKDwarfExpressionMachine* m, uint64_t* value) {
  if (m->stackPointer <= 0) {
    m->stackPointer = -1;
    return false;
  }
  *value = m->stack[--m->stackPointer];
  return true;
}

// The entry `depth` places below the top (0 = top).
bool peek(CRKDwarfExpressionMachine* m, int depth, uint64_t* value) {
  if (m->stackPointer <= depth || depth < 0) return false;
  *value = m->stack[m->stackPointer - 1 - depth];
  return true;
}

bool binary(CRKDwarfExpressionMachine* m, uint8_t opcode) {
  uint64_t b = 0, a = 0;
  if (!pop(m, &b) || !pop(m, &a)) return false;
  const auto sa = static_cast<int64_t>(a), sb = static_cast<int64_t>(b);
  uint64_t r = 0;
  switch (opcode) {
    case 0x1a: r = a & b; break;
    case 0x1b:
      if (sb == 0 || (sa == INT64_MIN && sb == -1)) return false;
      r = static_cast<uint64_t>(sa / sb);
      break;
    case 0x1c: r = a - b; break;
    case 0x1d:
      if (b == 0) return false;
      r = a % b;
      break;
    case 0x1e: r = a * b; break;
    case 0x21: r = a | b; break;
    case 0x22: r = a + b; break;
    case 0x24: r = b >= 64 ? 0 : a << b; break;
    case 0x25: r = b >= 64 ? 0 : a >> b; break;
    case 0x26: r = static_cast<uint64_t>(b >= 64 ? (sa < 0 ? -1 : 0) : sa >> b); break;
    case 0x27: r = a ^ b; break;
    case 0x29: r = a == b; break;
    case 0x2a: r = sa >= sb; break;
    case 0x2b: r = sa > sb; break;
    case 0x2c: r = sa <= sb; break;
    case 0x2d: r = sa < sb; break;
    case 0x2e: r = a != b; break;
    default: return false;
  }
  return push(m, r);
}

bool readInto(CRKDwarfExpressionMachine* m, uint64_t address, size_t size) {
  uint64_t value = 0;
  if (!CRKMemoryWindowRead(m->memory, reinterpret_cast<const void*>(address), &value, size)) return false;
  return push(m, value);
}

}  // namespace

bool CRKDwarfExpressionMachineInit(CRKDwarfExpressionMachine* m, uint64_t expression, uint64_t limit,
                                   const CRKThreadContext* context, uint64_t initialValue) {
  if (!m || expression < kCRKMinimumValidAddress || expression >= limit) return false;
  m->stackPointer = 0;
  m->position = expression;
  m->start = expression;
  m->end = expression;
  m->limit = limit;
  m->executed = 0;
  m->context = context;
  return push(m, initialValue);
}

bool CRKDwarfExpressionMachinePrepareForExecution(CRKDwarfExpressionMachine* m) {
  CRKDwarfCursor c{m->position, m->limit};
  const uint64_t length = CRKParseULEB128AndAdvance(&c);
  if (c.failed) return false;
  if (length == 0) {
    CRKLogWarn("Error: DWARF expression length is zero\n");
    return false;
  }
  if (length > m->limit - c.at) return false;
  m->position = c.at;
  m->start = c.at;
  m->end = c.at + length;
  return true;
}

bool CRKDwarfExpressionMachineIsFinished(const CRKDwarfExpressionMachine* m) {
  if (!m || m->position == 0 || m->end == 0) {
    CRKLogWarn("Error: DWARF machine pointers invalid\n");
    return true;
  }
  if (m->stackPointer < 0 || m->stackPointer > kCRKDwarfExpressionStackSize) {
    CRKLogWarn("Error: DWARF machine stack invalid\n");
    return true;
  }
  return m->position >= m->end;
}

bool CRKDwarfExpressionMachineExecuteNextOpcode(CRKDwarfExpressionMachine* m) {
  if (++m->executed > kMaxExecutedOpcodes) return false;
  CRKDwarfCursor c{m->position, m->end};
  const uint8_t opcode = CRKParseUint8AndAdvance(&c);
  if (c.failed) return false;
  bool ok = true;
  uint64_t a = 0, b = 0, v = 0;
  if (opcode >= 0x30 && opcode <= 0x4f) {
    ok = push(m, opcode - 0x30u);
  } else if (opcode >= 0x70 && opcode <= 0x8f) {
    const uint64_t reg = opcode - 0x70u;
    const int64_t offset = CRKParseLEB128AndAdvance(&c);
    if (reg > kCRKDwarfReturnAddressRegister) {
      CRKLogWarn("Error: DW_OP_breg invalid register number\n");
      return false;
    }
    ok = !c.failed && push(m, CRKDwarfUnwindGetRegisterValue(m->context, reg) + static_cast<uint64_t>(offset));
  } else {
    switch (opcode) {
      case 0x03: ok = push(m, CRKParseUint64AndAdvance(&c)); break;
      case 0x06:
        ok = pop(m, &a) && readInto(m, a, 8);
        if (!ok) CRKLogWarn("Error: DW_OP_deref failed to read memory\n");
        break;
      case 0x08: ok = push(m, CRKParseUint8AndAdvance(&c)); break;
      case 0x09: ok = push(m, static_cast<uint64_t>(int64_t{static_cast<int8_t>(CRKParseUint8AndAdvance(&c))})); break;
      case 0x0a: ok = push(m, CRKParseUint16AndAdvance(&c)); break;
      case 0x0b: ok = push(m, static_cast<uint64_t>(int64_t{CRKParseInt16AndAdvance(&c)})); break;
      case 0x0c: ok = push(m, CRKParseUint32AndAdvance(&c)); break;
      case 0x0d: ok = push(m, static_cast<uint64_t>(int64_t{CRKParseInt32AndAdvance(&c)})); break;
      case 0x0e: ok = push(m, CRKParseUint64AndAdvance(&c)); break;
      case 0x0f: ok = push(m, static_cast<uint64_t>(CRKParseInt64AndAdvance(&c))); break;
      case 0x10: ok = push(m, CRKParseULEB128AndAdvance(&c)); break;
      case 0x11: ok = push(m, static_cast<uint64_t>(CRKParseLEB128AndAdvance(&c))); break;
      case 0x12: ok = peek(m, 0, &a) && push(m, a); break;
      case 0x13: ok = pop(m, &a); break;
      case 0x14: ok = peek(m, 1, &a) && push(m, a); break;
      case 0x15: {
        const uint8_t index = CRKParseUint8AndAdvance(&c);
        ok = peek(m, index, &a) && push(m, a);
        break;
      }
      case 0x16:
        ok = pop(m, &a) && pop(m, &b) && push(m, a) && push(m, b);
        break;
      case 0x17: {  // rot: top three, the top moves to third
        uint64_t c1 = 0;
        ok = pop(m, &a) && pop(m, &b) && pop(m, &c1) && push(m, a) && push(m, c1) && push(m, b);
        break;
      }
      case 0x19:
        ok = pop(m, &a) && push(m, static_cast<int64_t>(a) < 0 ? ~a + 1 : a);
        break;
      case 0x1f: ok = pop(m, &a) && push(m, ~a + 1); break;
      case 0x20: ok = pop(m, &a) && push(m, ~a); break;
      case 0x23: {
        const uint64_t operand = CRKParseULEB128AndAdvance(&c);
        ok = !c.failed && pop(m, &a) && push(m, a + operand);
        break;
      }
      case 0x1a: case 0x1b: case 0x1c: case 0x1d: case 0x1e: case 0x21: case 0x22: case 0x24: case 0x25:
      case 0x26: case 0x27: case 0x29: case 0x2a: case 0x2b: case 0x2c: case 0x2d: case 0x2e:
        ok = binary(m, opcode);
        break;
      case 0x28:    // bra
      case 0x2f: {  // skip
        const int16_t offset = CRKParseInt16AndAdvance(&c);
        if (c.failed) return false;
        bool jump = true;
        if (opcode == 0x28) {
          if (!pop(m, &v)) return false;
          jump = v != 0;
        }
        if (jump) {
          const int64_t target = static_cast<int64_t>(c.at) + offset;
          if (target < static_cast<int64_t>(m->start) || target > static_cast<int64_t>(m->end)) return false;
          c.at = static_cast<uint64_t>(target);
        }
        break;
      }
      case 0x92: {  // bregx
        const uint64_t reg = CRKParseULEB128AndAdvance(&c);
        const int64_t offset = CRKParseLEB128AndAdvance(&c);
        if (reg > kCRKDwarfReturnAddressRegister) {
          CRKLogWarn("Error: DW_OP_breg invalid register number\n");
          return false;
        }
        ok = !c.failed && push(m, CRKDwarfUnwindGetRegisterValue(m->context, reg) + static_cast<uint64_t>(offset));
        break;
      }
      case 0x94: {
        const uint8_t size = CRKParseUint8AndAdvance(&c);
        if (size != 1 && size != 2 && size != 4 && size != 8) {
          CRKLogWarn("Error: unrecognized DW_OP_deref_size argument %x\n", static_cast<unsigned>(size));
          return false;
        }
        ok = pop(m, &a) && readInto(m, a, size);
        break;
      }
      case 0x96: break;  // nop
      default:
        CRKLogWarn("Error: Unrecognized DWARF expression opcode 0x%x\n", static_cast<unsigned>(opcode));
        return false;
    }
  }
  if (c.failed || !ok) return false;
  m->position = c.at;
  return true;
}

bool CRKDwarfExpressionMachineGetResult(const CRKDwarfExpressionMachine* m, uint64_t* result) {
  if (!m || !result || m->stackPointer <= 0) return false;
  if (m->position != m->end) {
    CRKLogWarn("Error: DWARF expression hasn't completed execution\n");
    return false;
  }
  *result = m->stack[m->stackPointer - 1];
  return true;
}

bool CRKDwarfEvalulateExpression(uint64_t expression, uint64_t limit, const CRKThreadContext* context,
                                 uint64_t initialValue, uint64_t* resultOut, CRKMemoryWindow* memory) {
  if (!context || !resultOut) {
    CRKLogWarn("Error: inputs invalid\n");
    return false;
  }
  CRKDwarfExpressionMachine m;
  if (!CRKDwarfExpressionMachineInit(&m, expression, limit, context, initialValue)) {
    CRKLogWarn("Error: unable to init DWARF expression machine\n");
    return false;
  }
  m.memory = memory;
  if (!CRKDwarfExpressionMachinePrepareForExecution(&m)) {
    CRKLogWarn("Error: unable to prepare for execution\n");
    return false;
  }
  while (!CRKDwarfExpressionMachineIsFinished(&m)) {
    if (!CRKDwarfExpressionMachineExecuteNextOpcode(&m)) {
      CRKLogWarn("Error: failed to execute DWARF machine opcode\n");
      return false;
    }
  }
  if (!CRKDwarfExpressionMachineGetResult(&m, resultOut)) {
    CRKLogWarn("Error: failed to get DWARF expression result\n");
    return false;
  }
  return true;
}

}  // namespace telemetry
