#pragma once
// For tests only: how long coordinated writes wait for another instance's folder lock.

#include <chrono>

namespace platform {

void setFolderLockPatienceForTesting(std::chrono::milliseconds patience);

}  // namespace platform
