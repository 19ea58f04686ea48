#pragma once
// The "key = text" tables the application and the crash reporter ship beside the executable:
// one entry a line, split at the first "=", key and text trimmed of spaces and tabs; blank
// lines and lines starting with "#" are comments. Escapes, if any, are the reader's business.

#include <string>
#include <string_view>
#include <vector>

namespace platform::texttable {

struct Entry {
  std::string key;
  std::string text;
};

// Entries in file order (a later entry of a key is the one that counts). Lines that are not
// comments yet lack a "=" or a key go into `skipped` when given.
std::vector<Entry> parse(std::string_view text, std::vector<std::string>* skipped = nullptr);

}  // namespace platform::texttable
