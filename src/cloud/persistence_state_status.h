#pragma once
// The readiness codes a cloud storage engine reports to its workspace.

#include <cstdint>

namespace orrery {

inline constexpr std::int64_t PersistenceStateStatusInitial = 0;
inline constexpr std::int64_t PersistenceStateStatusUnavailable = 1;
inline constexpr std::int64_t PersistenceStateStatusInvalidAccessToken = 2;
inline constexpr std::int64_t PersistenceStateStatusReceiving = 3;
inline constexpr std::int64_t PersistenceStateStatusSynced = 4;
inline constexpr std::int64_t PersistenceStateStatusChanged = 5;

}  // namespace orrery
