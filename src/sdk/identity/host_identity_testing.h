#pragma once
// For tests only: points the host facts at a folder of fake system files.

#include <string>

namespace telemetry {

// Reads the host's files under another root folder; an empty root restores "/".
void TELSetHostRootForTesting(const std::string& root);

}  // namespace telemetry
