#pragma once
// The JSON text the program's readers accept. Files written by earlier versions of the program
// and by hand are read with a lenient grammar, a strict superset of RFC 8259: one leading
// byte-order mark, raw control characters inside strings, a backslash before any other byte
// standing for the character of that number (U+0000 to U+00FF), lone UTF-16 surrogate escapes,
// numbers with an empty integer or fraction part ("1.", ".5") and integers beyond 64 bits. Everything else is refused:
// invalid UTF-8, numbers that overflow a double or round to zero, nesting deeper than
// kMaxJSONNesting, anything after the root value. The root is an object or an array.
//
// The fast reader parses strict JSON only; a text it refuses is rewritten here into the
// strict JSON of the same values and parsed again, so both grammars read alike.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace orrery::jsontext {

// Objects and arrays nested deeper than this are refused, with this error.
inline constexpr int kMaxJSONNesting = 1024;
inline constexpr char kTooDeeplyNested[] = "too deeply nested document";

// What nests too deeply, for a reader that tells one kind of nesting from any other: whether
// the text went deeper than kMaxJSONNesting, and how many of the objects around the place where
// it did are held by a member named one of `objectNames`, or are elements of an array held by a
// member named one of `listNames` (names as they read once unescaped).
struct NestingCount {
  std::vector<std::string_view> objectNames;
  std::vector<std::string_view> listNames;
  bool tooDeep = false;
  int named = 0;
};

// Rewrites a lenient JSON text as strict JSON (lone surrogates become U+FFFD, numbers their
// shortest round-trip form). False, with `error` and `offset` set, for a text the grammar
// refuses; `nesting`, when given, is filled as above.
bool normalizeLenient(std::string_view text, std::string& out, std::string* error = nullptr,
                      std::size_t* offset = nullptr, NestingCount* nesting = nullptr);

}  // namespace orrery::jsontext
