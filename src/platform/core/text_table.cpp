#include "platform/core/text_table.h"

namespace platform::texttable {

namespace {

std::string_view trimmed(std::string_view s) {
  const size_t first = s.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const size_t last = s.find_last_not_of(" \t\r");
  return s.substr(first, last - first + 1);
}

}  // namespace

std::vector<Entry> parse(std::string_view text, std::vector<std::string>* skipped) {
  std::vector<Entry> entries;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    const std::string_view t = trimmed(line);
    if (t.empty() || t[0] == '#') continue;
    const size_t eq = t.find('=');
    const std::string_view key = eq == std::string_view::npos ? std::string_view() : trimmed(t.substr(0, eq));
    if (key.empty()) {
      if (skipped) skipped->emplace_back(t);
      continue;
    }
    entries.push_back({std::string(key), std::string(trimmed(t.substr(eq + 1)))});
  }
  return entries;
}

}  // namespace platform::texttable
