#include "model/json_text.h"

#include <charconv>
#include <cstdint>

namespace orrery::jsontext {

namespace {

class Normalizer {
 public:
  Normalizer(std::string_view text, std::string& out, NestingCount* nesting)
      : mText(text), mOut(out), mNesting(nesting) {}

  bool run() {
    if (mText.substr(0, 3) == "\xEF\xBB\xBF") mPos = 3;
    skipSpace();
    if (mPos >= mText.size() || (mText[mPos] != '{' && mText[mPos] != '[')) return fail("illegal value");
    if (!value(0, {}, 0)) return false;
    skipSpace();
    if (mPos != mText.size()) return fail("garbage at the end of the document");
    return true;
  }

  const char* error = nullptr;
  std::size_t errorOffset = 0;

 private:
  bool fail(const char* what) {
    error = what;
    errorOffset = mPos;
    return false;
  }

  // How the value about to be read is held, for the count of named objects.
  struct Holder {
    bool objectNamed = false;  // an object here counts
    bool listNamed = false;    // an array here holds objects that count
  };

  static bool among(std::string_view name, const std::vector<std::string_view>& names) {
    for (const std::string_view candidate : names)
      if (candidate == name) return true;
    return false;
  }

  // The holder of the value of the member whose strict name text (quotes included) was just
  // written from `nameStart`. The names counted are plain words: unescaped, their strict text
  // is the word itself.
  Holder holderNamed(std::size_t nameStart) const {
    if (!mNesting) return {};
    const std::string_view written(mOut);
    const std::string_view name = written.substr(nameStart + 1, written.size() - nameStart - 2);
    return {among(name, mNesting->objectNames), among(name, mNesting->listNames)};
  }

  bool tooDeep(int named) {
    if (mNesting) {
      mNesting->tooDeep = true;
      mNesting->named = named;
    }
    return fail(kTooDeeplyNested);
  }

  bool atEnd() const { return mPos >= mText.size(); }
  char peek() const { return mText[mPos]; }

  void skipSpace() {
    while (!atEnd()) {
      const char c = peek();
      if (c != ' ' && c != '\t' && c != '\n' && c != '\r') break;
      ++mPos;
    }
  }

  // `named`: the named objects around the value.
  bool value(int depth, Holder holder, int named) {
    if (atEnd()) return fail("illegal value");
    switch (peek()) {
      case '{': return object(depth + 1, named + (holder.objectNamed ? 1 : 0));
      case '[': return array(depth + 1, holder.listNamed, named);
      case '"': return string();
      case 't': return literal("true");
      case 'f': return literal("false");
      case 'n': return literal("null");
      default: return number();
    }
  }

  bool literal(std::string_view word) {
    if (mText.substr(mPos, word.size()) != word) return fail("illegal value");
    mPos += word.size();
    mOut += word;
    return true;
  }

  bool object(int depth, int named) {
    if (depth > kMaxJSONNesting) return tooDeep(named);
    ++mPos;
    mOut += '{';
    skipSpace();
    if (!atEnd() && peek() == '}') {
      ++mPos;
      mOut += '}';
      return true;
    }
    for (;;) {
      skipSpace();
      if (atEnd() || peek() != '"') return fail(atEnd() ? "unterminated object" : "object is missing after a comma");
      const std::size_t nameStart = mOut.size();
      if (!string()) return false;
      const Holder holder = holderNamed(nameStart);
      skipSpace();
      if (atEnd() || peek() != ':') return fail("missing name separator");
      ++mPos;
      mOut += ':';
      skipSpace();
      if (!value(depth, holder, named)) return false;
      skipSpace();
      if (atEnd()) return fail("unterminated object");
      if (peek() == ',') {
        ++mPos;
        mOut += ',';
        continue;
      }
      if (peek() == '}') {
        ++mPos;
        mOut += '}';
        return true;
      }
      return fail("unterminated object");
    }
  }

  bool array(int depth, bool listNamed, int named) {
    if (depth > kMaxJSONNesting) return tooDeep(named);
    ++mPos;
    mOut += '[';
    skipSpace();
    if (!atEnd() && peek() == ']') {
      ++mPos;
      mOut += ']';
      return true;
    }
    for (;;) {
      skipSpace();
      if (!value(depth, {listNamed, false}, named)) return false;
      skipSpace();
      if (atEnd()) return fail("unterminated array");
      if (peek() == ',') {
        ++mPos;
        mOut += ',';
        continue;
      }
      if (peek() == ']') {
        ++mPos;
        mOut += ']';
        return true;
      }
      return fail("missing value separator");
    }
  }

  static int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  // Four hex digits after "\u"; -1 when they are not there.
  int unicodeEscape(std::size_t at) const {
    if (at + 4 > mText.size()) return -1;
    int unit = 0;
    for (std::size_t i = at; i < at + 4; ++i) {
      const int digit = hexValue(mText[i]);
      if (digit < 0) return -1;
      unit = unit * 16 + digit;
    }
    return unit;
  }

  void appendUTF8(std::uint32_t codePoint) {
    if (codePoint < 0x80) {
      appendASCII(char(codePoint));
    } else if (codePoint < 0x800) {
      mOut += char(0xC0 | (codePoint >> 6));
      mOut += char(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
      mOut += char(0xE0 | (codePoint >> 12));
      mOut += char(0x80 | ((codePoint >> 6) & 0x3F));
      mOut += char(0x80 | (codePoint & 0x3F));
    } else {
      mOut += char(0xF0 | (codePoint >> 18));
      mOut += char(0x80 | ((codePoint >> 12) & 0x3F));
      mOut += char(0x80 | ((codePoint >> 6) & 0x3F));
      mOut += char(0x80 | (codePoint & 0x3F));
    }
  }

  // One ASCII character inside a strict string.
  void appendASCII(char c) {
    static const char kHex[] = "0123456789abcdef";
    switch (c) {
      case '"': mOut += "\\\""; return;
      case '\\': mOut += "\\\\"; return;
      case '\n': mOut += "\\n"; return;
      case '\r': mOut += "\\r"; return;
      case '\t': mOut += "\\t"; return;
      case '\b': mOut += "\\b"; return;
      case '\f': mOut += "\\f"; return;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          mOut += "\\u00";
          mOut += kHex[(c >> 4) & 0xF];
          mOut += kHex[c & 0xF];
        } else {
          mOut += c;
        }
    }
  }

  // Copies one UTF-8 sequence starting at a byte of 0x80 or above; false when it is invalid
  // (overlong, a surrogate, beyond U+10FFFF, truncated).
  bool multiByte() {
    const auto lead = static_cast<unsigned char>(peek());
    int length;
    std::uint32_t minimum;
    std::uint32_t codePoint;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2, minimum = 0x80, codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3, minimum = 0x800, codePoint = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4, minimum = 0x10000, codePoint = lead & 0x07;
    } else {
      return false;
    }
    if (mPos + std::size_t(length) > mText.size()) return false;
    for (int i = 1; i < length; ++i) {
      const auto next = static_cast<unsigned char>(mText[mPos + std::size_t(i)]);
      if ((next & 0xC0) != 0x80) return false;
      codePoint = (codePoint << 6) | (next & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) return false;
    mOut.append(mText.substr(mPos, std::size_t(length)));
    mPos += std::size_t(length);
    return true;
  }

  bool string() {
    ++mPos;
    mOut += '"';
    for (;;) {
      if (atEnd()) return fail("unterminated string");
      const char c = peek();
      if (c == '"') {
        ++mPos;
        mOut += '"';
        return true;
      }
      if (static_cast<unsigned char>(c) >= 0x80) {
        if (!multiByte()) return fail("invalid UTF8 string");
        continue;
      }
      if (c != '\\') {
        appendASCII(c);
        ++mPos;
        continue;
      }
      ++mPos;
      if (atEnd()) return fail("unterminated string");
      const char escaped = peek();
      switch (escaped) {
        case 'b': mOut += "\\b"; break;
        case 'f': mOut += "\\f"; break;
        case 'n': mOut += "\\n"; break;
        case 'r': mOut += "\\r"; break;
        case 't': mOut += "\\t"; break;
        case 'u': {
          const int unit = unicodeEscape(mPos + 1);
          if (unit < 0) return fail("invalid escape sequence");
          mPos += 4;
          if (unit >= 0xD800 && unit <= 0xDBFF && mText.substr(mPos + 1, 2) == "\\u") {
            const int low = unicodeEscape(mPos + 3);
            if (low >= 0xDC00 && low <= 0xDFFF) {
              mPos += 6;
              appendUTF8(0x10000 + ((std::uint32_t(unit) - 0xD800) << 10) + (std::uint32_t(low) - 0xDC00));
              break;
            }
          }
          // A lone surrogate has no UTF-8 form.
          appendUTF8(unit >= 0xD800 && unit <= 0xDFFF ? 0xFFFD : std::uint32_t(unit));
          break;
        }
        default:
          // Any other escaped byte stands for the character of that number (Latin-1).
          appendUTF8(static_cast<unsigned char>(escaped));
      }
      ++mPos;
    }
  }

  static bool isDigit(char c) { return c >= '0' && c <= '9'; }

  bool number() {
    const std::size_t start = mPos;
    std::string canonical;
    if (!atEnd() && peek() == '-') {
      canonical += '-';
      ++mPos;
    }
    bool digits = false;
    std::string integer;
    if (!atEnd() && peek() == '0') {
      integer = "0", digits = true;
      ++mPos;
    } else {
      while (!atEnd() && isDigit(peek())) integer += mText[mPos++], digits = true;
    }
    std::string fraction;
    if (!atEnd() && peek() == '.') {
      ++mPos;
      while (!atEnd() && isDigit(peek())) fraction += mText[mPos++], digits = true;
    }
    std::string exponent;
    if (!atEnd() && (peek() == 'e' || peek() == 'E')) {
      ++mPos;
      if (!atEnd() && (peek() == '+' || peek() == '-')) exponent += mText[mPos++];
      bool exponentDigits = false;
      while (!atEnd() && isDigit(peek())) exponent += mText[mPos++], exponentDigits = true;
      if (!exponentDigits) return fail("illegal number");
    }
    if (!digits) {
      mPos = start;
      return fail("illegal number");
    }
    canonical += integer.empty() ? "0" : integer;
    canonical += '.';
    canonical += fraction.empty() ? "0" : fraction;
    if (!exponent.empty()) canonical += 'e' + exponent;
    double number = 0;
    const auto parsed = std::from_chars(canonical.data(), canonical.data() + canonical.size(), number);
    // Beyond a double, or a non-zero value that rounds to zero.
    if (parsed.ec != std::errc() || parsed.ptr != canonical.data() + canonical.size()) {
      mPos = start;
      return fail("illegal number");
    }
    char buffer[32];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, number);
    mOut.append(buffer, written.ptr);
    // The shortest form of a value the fast reader holds as no integer (below -2^63, or 2^64 and
    // above) may be an integer again ("34444444444444446000"), which it refuses as it refused the
    // original: a fraction makes it a double.
    const std::string_view shortest(buffer, std::size_t(written.ptr - buffer));
    if (shortest.find_first_of(".eE") == std::string_view::npos &&
        (number < -9223372036854775808.0 || number >= 18446744073709551616.0))
      mOut += ".0";
    return true;
  }

  std::string_view mText;
  std::string& mOut;
  NestingCount* mNesting;
  std::size_t mPos = 0;
};

}  // namespace

bool normalizeLenient(std::string_view text, std::string& out, std::string* error, std::size_t* offset,
                      NestingCount* nesting) {
  out.clear();
  out.reserve(text.size() + text.size() / 8);
  if (nesting) nesting->tooDeep = false, nesting->named = 0;
  Normalizer normalizer(text, out, nesting);
  if (normalizer.run()) return true;
  if (error) *error = normalizer.error;
  if (offset) *offset = normalizer.errorOffset;
  out.clear();
  return false;
}

}  // namespace orrery::jsontext
