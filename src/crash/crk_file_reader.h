#pragma once
// Reads a record file back at the next launch (ordinary code): one JSON object per line,
// in file order. A line that does not parse (torn by a crash, invalid UTF-8, short of its
// closing braces) costs that line only.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace telemetry {

using CRKRecordTransform = std::function<std::optional<nlohmann::json>(nlohmann::json)>;

// Nothing for a missing path or an unreadable file (deleted when `removeOnFailure`); else
// every parsed line, each passed through `transform` when given (nothing drops it).
std::optional<std::vector<nlohmann::json>> CRKFileReadSections(const char* path, bool removeOnFailure,
                                                                const CRKRecordTransform& transform = {});

}  // namespace telemetry
