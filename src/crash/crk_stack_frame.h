#pragma once
// One frame of a stack trace: handed in with an exception, or resolved at relaunch from a
// recorded address.

#include <cstdint>
#include <optional>
#include <string>

namespace telemetry {

struct CRKStackFrame {
  uint64_t address = 0;
  // Display name, demangled when possible.
  std::optional<std::string> symbol;
  uint64_t offset = 0;
  std::optional<std::string> library;
  std::optional<std::string> fileName;
  uint32_t lineNumber = 0;
  // The name as the loader or symbol table gives it.
  std::optional<std::string> rawSymbol;

  static CRKStackFrame stackFrameWithAddress(uint64_t address);
  static CRKStackFrame stackFrameWithSymbol(const std::string& symbol);
  std::string description() const;
};

}  // namespace telemetry
