#pragma once
// For tests only: the seconds new idea identifiers carry, so that two processes can be made to
// add ideas "in the same second" whenever they run. None: the clock's.

#include <cstdint>
#include <optional>

namespace orrery {

void setIdentifierSecondsForTesting(std::optional<std::int64_t> seconds);

}  // namespace orrery
