// Call-frame information as a crashing process finds it in a loaded image: any bytes. Every
// record is parsed and run against a frame of its own; reads must stay inside the section
// (the sanitizers watch) and nothing may hang.
#include <cstdint>
#include <cstring>
#include <vector>

#include "crash/crk_dwarf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size copy: one byte too far is a sanitizer report.
  std::vector<uint8_t> section(data, data + size);
  const auto start = reinterpret_cast<uint64_t>(section.data());
  const uint64_t end = start + section.size();
  uint64_t stack[32];
  for (int i = 0; i < 32; ++i) stack[i] = 0x100000 + 8 * i;

  // Records one after another, as in ".eh_frame".
  uint64_t at = start;
  for (int records = 0; records < 64 && at + 4 <= end; ++records) {
    telemetry::CRKDwarfCursor c{at, end};
    const uint64_t length = telemetry::CRKParseRecordLengthAndAdvance(&c);
    if (c.failed || length == 0 || length > end - c.at) break;
    telemetry::CRKDwarfFDE fde;
    if (telemetry::CRKDwarfParseFDERecord(&fde, true, nullptr, at, start, end)) {
      telemetry::CRKThreadContext state{};
      state.ss.rsp = reinterpret_cast<uint64_t>(&stack[4]);
      state.ss.rbp = reinterpret_cast<uint64_t>(&stack[8]);
      const uint64_t range = fde.pcRange ? fde.pcRange : 1;
      state.ss.rip = fde.pcStart + (size ? data[0] % range : 0);
      telemetry::CRKDwarfUnwindComputeRegisters(&fde, &state, state.ss.rip);
    }
    at = c.at + length;
  }

  // The same bytes as one expression.
  telemetry::CRKThreadContext state{};
  state.ss.rsp = reinterpret_cast<uint64_t>(&stack[4]);
  uint64_t result = 0;
  if (size > 0) telemetry::CRKDwarfEvalulateExpression(start, end, &state, 0, &result);
  return 0;
}
