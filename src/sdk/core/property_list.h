#pragma once
// XML property lists, read into and written from JSON values:
//   dict <-> object, array <-> array, string <-> string, integer <-> integer,
//   real <-> floating number, true/false <-> boolean, data <-> binary.
// A <date> is read as its ISO 8601 text. JSON null has no property-list form: such
// values are left out when writing. UTF-8 strings read back as they were written, control
// characters included, and numbers are written and read alike in every locale.

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace telemetry::plist {

std::string serialize(const nlohmann::json& value);
// Nothing (and the reason in `error`) when the text is not a well-formed property list.
std::optional<nlohmann::json> parse(std::string_view xml, std::string* error = nullptr);

std::optional<nlohmann::json> readFile(const std::string& path, std::string* error = nullptr);
// Replaces the file atomically.
bool writeFile(const std::string& path, const nlohmann::json& value, std::string* error = nullptr,
               bool durable = true);

}  // namespace telemetry::plist
