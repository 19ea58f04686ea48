#include "sdk/analytics/ana_text.h"

#include "sdk/core/strings.h"

namespace telemetry::anatext {

using strings::appendUTF8;

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool isContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

}  // namespace

CodePoint decodeAt(std::string_view s, size_t pos) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  unsigned char c = byte(pos);
  if (c < 0x80) return {c, 1};
  size_t need;
  char32_t value;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    need = 1;
    value = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    need = 2;
    value = c & 0x0F;
    if (c == 0xE0) lo = 0xA0;  // overlong
    if (c == 0xED) hi = 0x9F;  // surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    need = 3;
    value = c & 0x07;
    if (c == 0xF0) lo = 0x90;  // overlong
    if (c == 0xF4) hi = 0x8F;  // above U+10FFFF
  } else {
    return {kReplacement, 1};
  }
  for (size_t k = 1; k <= need; ++k) {
    if (pos + k >= s.size()) return {kReplacement, k};
    unsigned char b = byte(pos + k);
    bool ok = k == 1 ? (b >= lo && b <= hi) : isContinuation(b);
    if (!ok) return {kReplacement, k};
    value = (value << 6) | (b & 0x3F);
  }
  return {value, need + 1};
}

std::string validUTF8(std::string_view s) {
  if (isValidUTF8(s)) return std::string(s);
  std::string out;
  out.reserve(s.size() + 8);
  for (size_t pos = 0; pos < s.size();) {
    CodePoint cp = decodeAt(s, pos);
    appendUTF8(out, cp.value);
    pos += cp.length;
  }
  return out;
}

bool isValidUTF8(std::string_view s) {
  for (size_t pos = 0; pos < s.size();) {
    if (static_cast<unsigned char>(s[pos]) < 0x80) {
      ++pos;
      continue;
    }
    CodePoint cp = decodeAt(s, pos);
    if (cp.value == kReplacement && !(cp.length == 3 && s.compare(pos, 3, "\xEF\xBF\xBD") == 0)) return false;
    pos += cp.length;
  }
  return true;
}

size_t utf16Length(std::string_view s) {
  size_t units = 0;
  for (size_t pos = 0; pos < s.size();) {
    CodePoint cp = decodeAt(s, pos);
    pos += cp.length;
    units += cp.value > 0xFFFF ? 2 : 1;
  }
  return units;
}

std::string truncatedToUTF16Units(std::string_view s, size_t maxUnits) {
  std::string out;
  size_t units = 0;
  for (size_t pos = 0; pos < s.size();) {
    CodePoint cp = decodeAt(s, pos);
    size_t n = cp.value > 0xFFFF ? 2 : 1;
    if (units + n > maxUnits) break;
    units += n;
    appendUTF8(out, cp.value);
    pos += cp.length;
  }
  return out;
}

}  // namespace telemetry::anatext
