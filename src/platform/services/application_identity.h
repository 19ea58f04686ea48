#pragma once
// The names the settings, data and cache folders are derived from.

namespace platform {

inline constexpr char kOrganizationName[] = "Orrery";
inline constexpr char kApplicationName[] = "Orrery";

// Sets the organisation and application names on the running QCoreApplication.
void applyApplicationIdentity();

}  // namespace platform
