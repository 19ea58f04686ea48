// Call-frame records built by hand: the parsers, each instruction and the expression
// machine, and hostile blobs under the sanitizers.
#include "crash/crk_dwarf.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace telemetry {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes uleb(uint64_t v) {
  Bytes out;
  do {
    uint8_t b = v & 0x7f;
    v >>= 7;
    out.push_back(v ? b | 0x80 : b);
  } while (v);
  return out;
}

Bytes sleb(int64_t v) {
  Bytes out;
  for (bool more = true; more;) {
    uint8_t b = v & 0x7f;
    v >>= 7;
    more = !((v == 0 && !(b & 0x40)) || (v == -1 && (b & 0x40)));
    out.push_back(more ? b | 0x80 : b);
  }
  return out;
}

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

void put32(Bytes& b, size_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); }

// One CIE ("zR", FDE pointers pc-relative signed 4-byte, code alignment 1, data
// alignment -8, return address register 16) and one FDE for a function placed 0x1000 bytes
// after the blob, 0x100 bytes long.
struct Blob {
  Bytes bytes;
  size_t fde = 0;
  uint64_t functionStart = 0;

  Blob(const Bytes& cieInstructions, const Bytes& fdeInstructions, const char* augmentation = "zR") {
    Bytes cie = {0, 0, 0, 0, 0, 0, 0, 0, 1};  // length, id 0, version 1
    cie.insert(cie.end(), augmentation, augmentation + std::strlen(augmentation) + 1);
    cie = cat({cie, uleb(1), sleb(-8), {16}});
    if (augmentation[0] == 'z') cie = cat({cie, uleb(1), {0x1b}});
    cie = cat({cie, cieInstructions});
    while (cie.size() % 8) cie.push_back(0);
    put32(cie, 0, static_cast<uint32_t>(cie.size() - 4));
    fde = cie.size();
    Bytes f = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};  // length, CIE pointer, start, range
    f = cat({f, uleb(0), fdeInstructions});
    while (f.size() % 8) f.push_back(0);
    put32(f, 0, static_cast<uint32_t>(f.size() - 4));
    put32(f, 4, static_cast<uint32_t>(fde + 4));
    put32(f, 12, 0x100);
    bytes = cat({cie, f});
    const uint64_t field = address() + fde + 8;
    functionStart = address() + 0x1000;
    put32(bytes, fde + 8, static_cast<uint32_t>(functionStart - field));
  }
  uint64_t address() const { return reinterpret_cast<uint64_t>(bytes.data()); }
  uint64_t end() const { return address() + bytes.size(); }
  bool parse(CRKDwarfFDE* out) const { return CRKDwarfParseFDEAtOffset(out, address(), fde, end()); }
};

const Bytes kCIEStandard = {0x0c, 7, 8, 0x90, 1};  // CFA = rsp + 8; rip at CFA - 8

// A stack of recognisable words and a state whose rsp points at it.
struct Frame {
  uint64_t stack[16];
  CRKThreadContext state{};
  Frame() {
    for (int i = 0; i < 16; ++i) stack[i] = 0x1000000 + 0x100 * i;
    state.ss.rsp = reinterpret_cast<uint64_t>(&stack[0]);
    state.ss.rbp = 0x777;
    state.ss.rbx = 0x333;
  }
  uint64_t at(int i) const { return reinterpret_cast<uint64_t>(&stack[i]); }
};

TEST(CRKDwarfParseTest, ZRRecordsGiveAPCRelativeFunctionStart) {
  Blob blob(kCIEStandard, {});
  CRKDwarfFDE fde;
  ASSERT_TRUE(blob.parse(&fde));
  EXPECT_EQ(fde.pcStart, blob.functionStart);
  EXPECT_EQ(fde.pcRange, 0x100u);
  EXPECT_EQ(fde.cie.fdeEncoding, 0x1b);
  EXPECT_EQ(fde.cie.dataAlignment, -8);
  EXPECT_EQ(fde.cie.returnRegister, 16u);
  EXPECT_FALSE(fde.cie.signalFrame);

  Blob eh(kCIEStandard, {}, "eh");
  EXPECT_FALSE(eh.parse(&fde)) << "unimplemented augmentation";
  Blob signal(kCIEStandard, {}, "zRS");
  ASSERT_TRUE(signal.parse(&fde));
  EXPECT_TRUE(fde.cie.signalFrame);
}

TEST(CRKDwarfParseTest, ReadersStopAtTheirEnd) {
  const uint8_t data[] = {0xe5, 0x8e, 0x26, 0x7f, 0x80};
  CRKDwarfCursor c{reinterpret_cast<uint64_t>(data), reinterpret_cast<uint64_t>(data) + sizeof data};
  EXPECT_EQ(CRKParseULEB128AndAdvance(&c), 624485u);
  EXPECT_EQ(CRKParseLEB128AndAdvance(&c), -1);
  EXPECT_FALSE(c.failed);
  CRKParseULEB128AndAdvance(&c);
  EXPECT_TRUE(c.failed) << "a LEB128 cut by the end";
  CRKDwarfCursor d{reinterpret_cast<uint64_t>(data), reinterpret_cast<uint64_t>(data) + 3};
  CRKParseUint32AndAdvance(&d);
  EXPECT_TRUE(d.failed);
  CRKDwarfCursor e{reinterpret_cast<uint64_t>(data), reinterpret_cast<uint64_t>(data) + 2};
  EXPECT_EQ(CRKParseAddressWithEncodingAndAdvance(&e, 0x03), kCRKDwarfInvalidAddress);
  EXPECT_EQ(CRKParseAddressWithEncodingAndAdvance(&e, 0xff), 0u) << "omitted";
  EXPECT_EQ(CRKParseAddressWithEncodingAndAdvance(&e, 0x05), kCRKDwarfInvalidAddress) << "unknown format";
  EXPECT_EQ(CRKParseAddressWithEncodingAndAdvance(nullptr, 0x03), kCRKDwarfInvalidAddress);
}

// Steps from pc = start + pcOffset and answers the caller's state.
CRKDwarfStep step(const Blob& blob, Frame& frame, uint64_t pcOffset) {
  CRKDwarfFDE fde;
  if (!blob.parse(&fde)) return CRKDwarfStep::kFailed;
  frame.state.ss.rip = fde.pcStart + pcOffset;
  return CRKDwarfUnwindComputeRegisters(&fde, &frame.state, frame.state.ss.rip);
}

TEST(CRKDwarfUnwindTest, TheRowAtOrBeforeThePCApplies) {
  // advance 4; CFA offset 16; advance 8; CFA offset 24.
  Blob blob(kCIEStandard, {0x44, 0x0e, 16, 0x48, 0x0e, 24});
  for (auto [offset, slot] : {std::pair{3, 0}, {4, 1}, {11, 1}, {12, 2}, {200, 2}}) {
    SCOPED_TRACE(offset);
    Frame frame;
    ASSERT_EQ(step(blob, frame, offset), CRKDwarfStep::kStepped);
    EXPECT_EQ(frame.state.ss.rip, frame.stack[slot]);
    EXPECT_EQ(frame.state.ss.rsp, frame.at(slot + 1));
  }
}

TEST(CRKDwarfUnwindTest, RememberedStateComesBackAfterAnEpilogue) {
  // CFA 16, rbp saved; remember; at 4: CFA 8 (epilogue), at 8: restore.
  Blob blob(kCIEStandard, {0x0e, 16, 0x86, 2, 0x0a, 0x44, 0x0e, 8, 0xc6, 0x44, 0x0b});
  Frame a;
  ASSERT_EQ(step(blob, a, 2), CRKDwarfStep::kStepped);
  EXPECT_EQ(a.state.ss.rip, a.stack[1]);
  EXPECT_EQ(a.state.ss.rbp, a.stack[0]);
  Frame b;
  ASSERT_EQ(step(blob, b, 5), CRKDwarfStep::kStepped);
  EXPECT_EQ(b.state.ss.rip, b.stack[0]);
  EXPECT_EQ(b.state.ss.rbp, 0x777u) << "restored to the CIE's rule: unchanged";
  Frame c;
  ASSERT_EQ(step(blob, c, 9), CRKDwarfStep::kStepped);
  EXPECT_EQ(c.state.ss.rip, c.stack[1]);
  EXPECT_EQ(c.state.ss.rbp, c.stack[0]);

  Frame unbalanced;
  Blob restoreOnly(kCIEStandard, {0x0b});
  EXPECT_EQ(step(restoreOnly, unbalanced, 1), CRKDwarfStep::kFailed);
}

TEST(CRKDwarfUnwindTest, EveryRuleInstructionOfLinuxCodeIsUnderstood) {
  struct Case {
    const char* name;
    Bytes instructions;
    uint64_t rip;  // stack slot of the return address
    uint64_t rsp;  // stack slot the caller's sp points at
    int rbxSlot;   // -1: rbx unchanged; -2: rbx is CFA - 8 itself
  };
  const Case cases[] = {
      {"offset_extended", cat({{0x0e, 24, 0x05, 3}, uleb(3)}), 2, 3, 0},
      {"offset_extended_sf", cat({{0x0e, 24, 0x11, 3}, sleb(2)}), 2, 3, 1},
      {"GNU_negative_offset_extended", cat({{0x0e, 24, 0x2f, 3}, uleb(1)}), 2, 3, 4},
      {"restore", {0x0e, 24, 0x83, 3, 0xc3}, 2, 3, -1},
      {"restore_extended", {0x0e, 24, 0x83, 3, 0x06, 3}, 2, 3, -1},
      {"def_cfa_sf", cat({{0x12, 7}, sleb(-2)}), 1, 2, -1},
      {"def_cfa_offset_sf", cat({{0x13}, sleb(-4)}), 3, 4, -1},
      {"val_offset", {0x0e, 16, 0x14, 3, 1}, 1, 2, -2},
      {"val_offset_sf", cat({{0x0e, 16, 0x15, 3}, sleb(1)}), 1, 2, -2},
      {"GNU_args_size", {0x2e, 32, 0x0e, 16}, 1, 2, -1},
      {"register", {0x0e, 16, 0x09, 3, 6}, 1, 2, -3},
      {"same_value", {0x0e, 16, 0x83, 2, 0x08, 3}, 1, 2, -1},
      {"def_cfa_register", {0x0d, 6, 0x0e, 16}, 0, 0, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Frame frame;
    Blob blob(kCIEStandard, c.instructions);
    if (std::string(c.name) == "def_cfa_register") {
      // CFA = rbp + 16 with rbp pointing at slot 4: the return address is in slot 5.
      frame.state.ss.rbp = frame.at(4);
      ASSERT_EQ(step(blob, frame, 1), CRKDwarfStep::kStepped);
      EXPECT_EQ(frame.state.ss.rip, frame.stack[5]);
      EXPECT_EQ(frame.state.ss.rsp, frame.at(6));
      continue;
    }
    ASSERT_EQ(step(blob, frame, 1), CRKDwarfStep::kStepped);
    EXPECT_EQ(frame.state.ss.rip, frame.stack[c.rip]);
    EXPECT_EQ(frame.state.ss.rsp, frame.at(c.rsp));
    if (c.rbxSlot >= 0) {
      EXPECT_EQ(frame.state.ss.rbx, frame.stack[c.rbxSlot]);
    } else if (c.rbxSlot == -1) {
      EXPECT_EQ(frame.state.ss.rbx, 0x333u);
    } else if (c.rbxSlot == -2) {
      EXPECT_EQ(frame.state.ss.rbx, frame.at(c.rsp) - 8);
    } else {
      EXPECT_EQ(frame.state.ss.rbx, 0x777u) << "rbx held in rbp";
    }
  }
}

TEST(CRKDwarfUnwindTest, AnUndefinedReturnAddressEndsTheStack) {
  Blob outermost(kCIEStandard, {0x07, 16});
  Frame frame;
  EXPECT_EQ(step(outermost, frame, 1), CRKDwarfStep::kEndOfStack);
}

TEST(CRKDwarfUnwindTest, HostileInstructionsFailThatStepOnly) {
  const Bytes bad[] = {
      {0x0c, 17, 8},        // CFA register out of range
      {0x80 | 0x3f, 1},     // offset of register 63
      {0x09, 3, 40},        // register rule naming register 40
      {0x2d},               // window save
      {0x3f},               // unknown opcode
      {0x0a, 0x0a, 0x0a, 0x0a, 0x0a, 0x0a, 0x0a, 0x0a, 0x0a},  // state stack overflow
      {0x0e},               // operand cut by the end of the FDE
      {0x0f, 40, 0x06},     // expression block longer than the record
      cat({{0x83}, uleb(0x1000000000000001)}),  // an offset whose scaling overflows
  };
  for (const auto& instructions : bad) {
    Frame frame;
    Blob blob(kCIEStandard, instructions);
    EXPECT_EQ(step(blob, frame, 50), CRKDwarfStep::kFailed);
  }
  Frame still;
  Blob noProgress({0x0c, 7, 0}, {});  // CFA = rsp: the stack pointer would not move
  EXPECT_EQ(step(noProgress, still, 1), CRKDwarfStep::kFailed);
}

// Evaluates opcodes (length prefix added) against a state with rsp = 0x1000, rip = given.
bool evaluate(const Bytes& ops, uint64_t* result, uint64_t rip = 0x400000, uint64_t initial = 0) {
  const Bytes expression = cat({uleb(ops.size()), ops});
  CRKThreadContext state{};
  state.ss.rsp = 0x1000;
  state.ss.rip = rip;
  const auto at = reinterpret_cast<uint64_t>(expression.data());
  return CRKDwarfEvalulateExpression(at, at + expression.size(), &state, initial, result);
}

TEST(CRKDwarfExpressionTest, ArithmeticLogicAndComparisons) {
  struct Case {
    Bytes ops;
    uint64_t expected;
  };
  const Case cases[] = {
      {{0x35, 0x37, 0x22}, 12},                      // lit5 lit7 plus
      {{0x3a, 0x33, 0x1c}, 7},                       // 10 - 3
      {{0x36, 0x37, 0x1e}, 42},                      // mul
      {{0x3f, 0x33, 0x1b}, 5},                       // div
      {{0x3f, 0x34, 0x1d}, 3},                       // mod
      {{0x3f, 0x33, 0x1a}, 3},                       // and
      {{0x38, 0x33, 0x21}, 11},                      // or
      {{0x3f, 0x33, 0x27}, 12},                      // xor
      {{0x31, 0x34, 0x24}, 16},                      // shl
      {{0x40, 0x31, 0x25}, 8},                       // lit16 >> 1
      {{0x08, 0xf0, 0x1f}, static_cast<uint64_t>(-240)},  // neg
      {{0x09, 0xf0, 0x19}, 16},                      // abs of -16
      {{0x30, 0x20}, ~uint64_t{0}},                  // not
      {{0x09, 0xf0, 0x32, 0x26}, static_cast<uint64_t>(-4)},  // shra
      {{0x3b, 0x3b, 0x2a}, 1},                       // ge
      {{0x3a, 0x3b, 0x2a}, 0},
      {{0x3c, 0x3b, 0x2b}, 1},                       // gt
      {{0x3b, 0x3b, 0x2c}, 1},                       // le
      {{0x3b, 0x3b, 0x2d}, 0},                       // lt
      {{0x3b, 0x3b, 0x29}, 1},                       // eq
      {{0x3b, 0x3a, 0x2e}, 1},                       // ne
      {{0x33, 0x23, 0x80, 0x01}, 131},               // plus_uconst 128
      {{0x31, 0x32, 0x16, 0x1c}, 1},                 // swap then minus: 2 - 1
      {{0x31, 0x32, 0x14, 0x22, 0x22}, 4},           // over: 1 2 1 -> plus plus
      {{0x31, 0x32, 0x33, 0x17, 0x13, 0x13}, 3},     // rot: 1 2 3 -> 3 1 2; drop drop leaves 3
      {{0x31, 0x32, 0x15, 1, 0x22, 0x22}, 4},        // pick 1
      {{0x31, 0x12, 0x22}, 2},                       // dup
      {{0x0a, 0x34, 0x12}, 0x1234},                  // const2u
      {{0x0d, 0xfe, 0xff, 0xff, 0xff}, static_cast<uint64_t>(-2)},  // const4s
      {{0x11, 0x7f}, static_cast<uint64_t>(-1)},     // consts
      {{0x77, 8}, 0x1008},                           // breg7 (rsp) + 8
      {{0x92, 7, 0x10}, 0x1010},                     // bregx rsp + 16
      {{0x31, 0x28, 2, 0, 0x3a, 0x96, 0x3b}, 11},    // bra over lit10
      {{0x2f, 1, 0, 0x3a, 0x3b}, 11},                // skip lit10
      {{0x31, 0x32}, 2},                             // two values: the top one
  };
  for (const auto& c : cases) {
    uint64_t result = 0;
    ASSERT_TRUE(evaluate(c.ops, &result)) << testing::PrintToString(c.ops);
    EXPECT_EQ(result, c.expected) << testing::PrintToString(c.ops);
  }
}

TEST(CRKDwarfExpressionTest, PLTEntryExpressionChoosesItsSlotByTheInstructionOffset) {
  // CFA of a lazy-binding entry: rsp + 8, plus 8 once past the push (offset 11 and up).
  const Bytes plt = {0x77, 8, 0x80, 0, 0x3f, 0x1a, 0x3b, 0x2a, 0x33, 0x24, 0x22};
  uint64_t cfa = 0;
  ASSERT_TRUE(evaluate(plt, &cfa, 0x401030 + 6));
  EXPECT_EQ(cfa, 0x1008u);
  ASSERT_TRUE(evaluate(plt, &cfa, 0x401030 + 11));
  EXPECT_EQ(cfa, 0x1010u);
}

TEST(CRKDwarfExpressionTest, StackLimitsAndBadOpcodesFail) {
  uint64_t result = 0;
  Bytes pushes(99, 0x30);
  EXPECT_TRUE(evaluate(pushes, &result)) << "the initial value and 99 pushes fill 100 slots";
  pushes.push_back(0x30);
  EXPECT_FALSE(evaluate(pushes, &result)) << "the 101st push";
  EXPECT_FALSE(evaluate({0x13, 0x13}, &result)) << "pop from an empty stack";
  EXPECT_FALSE(evaluate({0x31, 0x30, 0x1b}, &result)) << "division by zero";
  EXPECT_FALSE(evaluate({0xe0}, &result)) << "unknown opcode";
  EXPECT_FALSE(evaluate({0x8f, 0}, &result)) << "breg31 names no x86_64 register";
  EXPECT_FALSE(evaluate({0x94, 3}, &result)) << "deref_size 3";
  EXPECT_FALSE(evaluate({0x30, 0x06}, &result)) << "deref of 0";
  EXPECT_FALSE(evaluate({0x2f, 0xf0, 0xff}, &result)) << "skip before the start";
  EXPECT_FALSE(evaluate({0x2f, 0xfd, 0xff}, &result)) << "an endless loop stops";
  EXPECT_FALSE(evaluate({0x0c, 1, 2}, &result)) << "operand cut by the end";
  const Bytes empty = {0};
  const auto at = reinterpret_cast<uint64_t>(empty.data());
  CRKThreadContext state{};
  EXPECT_FALSE(CRKDwarfEvalulateExpression(at, at + 1, &state, 0, &result)) << "zero length";
  uint64_t word = 0x5151;
  const uint64_t address = reinterpret_cast<uint64_t>(&word);
  Bytes deref = {0x0e};
  for (int i = 0; i < 8; ++i) deref.push_back(static_cast<uint8_t>(address >> (8 * i)));
  deref.push_back(0x06);
  ASSERT_TRUE(evaluate(deref, &result));
  EXPECT_EQ(result, 0x5151u);
  deref.back() = 0x94;
  deref.push_back(1);
  ASSERT_TRUE(evaluate(deref, &result));
  EXPECT_EQ(result, 0x51u);
}

TEST(CRKDwarfUnwindTest, MutatedRecordsNeverReadOutsideTheirSection) {
  // Run under the sanitizers: any read past the blob or a wild address shows there.
  const Blob base(kCIEStandard, {0x0e, 16, 0x86, 2, 0x0a, 0x44, 0x0f, 3, 0x77, 8, 0x06, 0x10, 3, 2, 0x77, 0, 0x0b});
  std::mt19937 random(20261207);
  int stepped = 0;
  for (int round = 0; round < 5000; ++round) {
    Bytes bytes = base.bytes;
    const int mutations = 1 + static_cast<int>(random() % 4);
    for (int m = 0; m < mutations; ++m) bytes[random() % bytes.size()] = static_cast<uint8_t>(random());
    bytes.resize(bytes.size() - random() % 8);
    const auto at = reinterpret_cast<uint64_t>(bytes.data());
    CRKDwarfFDE fde;
    if (!CRKDwarfParseFDEAtOffset(&fde, at, base.fde, at + bytes.size())) continue;
    Frame frame;
    frame.state.ss.rip = fde.pcStart + random() % 64;
    stepped += CRKDwarfUnwindComputeRegisters(&fde, &frame.state, frame.state.ss.rip) == CRKDwarfStep::kStepped;
  }
  EXPECT_GT(stepped, 0) << "some mutations still describe a frame";
}

}  // namespace
}  // namespace telemetry
