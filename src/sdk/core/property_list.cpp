#include "sdk/core/property_list.h"

#include <expat.h>
#include <openssl/evp.h>

#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>

#include "sdk/core/file_io.h"
#include "sdk/core/strings.h"

namespace telemetry::plist {

using nlohmann::json;

namespace {

constexpr size_t kMaxDepth = 256;  // deeper nesting is refused rather than recursed into

// ---- writing ----

// Strings are written so that any text reads back as it was. XML 1.0 text cannot hold most C0
// control characters (not even as character references) or the non-characters U+FFFE and
// U+FFFF, and a raw carriage return reads back as a line feed. So:
//   - "&", "<" and ">" are written as entities, a carriage return as "&#13;";
//   - every byte of another character that cannot stand as it is becomes the private-use
//     character U+E000 + the byte's value (NUL is U+E000, 0x1F is U+E01F, U+FFFF is
//     U+E0EF U+E0BF U+E0BF);
//   - so that this reads back unambiguously, a character of U+E000-U+E0FF in the string is
//     itself written as its three UTF-8 bytes, each mapped the same way;
//   - a byte that is no part of UTF-8 text is written as U+FFFD: it was no text to begin with.
// The reader maps every character of U+E000-U+E0FF back to its byte, when the bytes that result
// are UTF-8 (a list from another writer may hold such a character for its own sake).
constexpr char32_t kByteEscapeBase = 0xE000;

bool isByteEscape(char32_t cp) { return cp >= kByteEscapeBase && cp <= kByteEscapeBase + 0xFF; }

// The length of the well-formed UTF-8 sequence at `p` (shortest form, no surrogates), with its
// code point in `cp`; 0 when the bytes there are not UTF-8.
size_t utf8Sequence(const unsigned char* p, size_t available, char32_t* cp) {
  const unsigned char c = p[0];
  size_t length;
  char32_t min;
  if (c < 0x80) {
    *cp = c;
    return 1;
  } else if ((c & 0xE0) == 0xC0) {
    length = 2, min = 0x80, *cp = c & 0x1F;
  } else if ((c & 0xF0) == 0xE0) {
    length = 3, min = 0x800, *cp = c & 0x0F;
  } else if ((c & 0xF8) == 0xF0) {
    length = 4, min = 0x10000, *cp = c & 0x07;
  } else {
    return 0;
  }
  if (available < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    *cp = (*cp << 6) | (p[i] & 0x3F);
  }
  if (*cp < min || *cp > 0x10FFFF || (*cp >= 0xD800 && *cp <= 0xDFFF)) return 0;
  return length;
}

bool isUTF8(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  char32_t cp;
  for (size_t i = 0; i < s.size();) {
    const size_t n = utf8Sequence(p + i, s.size() - i, &cp);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

void escapeBytes(std::string& out, const unsigned char* p, size_t n) {
  for (size_t i = 0; i < n; ++i) strings::appendUTF8(out, kByteEscapeBase + p[i]);
}

void escape(std::string& out, const std::string& s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  for (size_t i = 0; i < s.size();) {
    char32_t cp = 0;
    size_t n = utf8Sequence(p + i, s.size() - i, &cp);
    if (n == 0) {
      out += "\xEF\xBF\xBD";  // not text at all: U+FFFD, as any UTF-8 decoder reads it
      i += 1;
      continue;
    }
    switch (cp) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '\r': out += "&#13;"; break;
      case '\t':
      case '\n': out += static_cast<char>(cp); break;
      default:
        if (cp < 0x20 || cp == 0xFFFE || cp == 0xFFFF || isByteEscape(cp))
          escapeBytes(out, p + i, n);
        else
          out.append(s, i, n);
    }
    i += n;
  }
}

// The text as written by escape(): byte escapes turned back into their bytes.
std::string unescape(std::string text) {
  if (text.find('\xEE') == std::string::npos) return text;  // the lead byte of every escape
  std::string bytes;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  bool escaped = false;
  for (size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    size_t n = utf8Sequence(p + i, text.size() - i, &cp);
    if (n == 0) return text;  // the XML parser hands out UTF-8 only
    if (isByteEscape(cp)) {
      bytes += static_cast<char>(cp - kByteEscapeBase);
      escaped = true;
    } else {
      bytes.append(text, i, n);
    }
    i += n;
  }
  return escaped && isUTF8(bytes) ? bytes : text;
}

// Numbers in the one form every reader takes, whatever the process's locale.
template <typename Number>
std::string number(Number value) {
  char buffer[40];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::string base64(const std::vector<uint8_t>& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), bytes.data(), static_cast<int>(bytes.size()));
  out.resize(static_cast<size_t>(n));
  return out;
}

void write(std::string& out, const json& v, int indent) {
  const std::string tabs(static_cast<size_t>(indent), '\t');
  switch (v.type()) {
    case json::value_t::object:
      if (v.empty()) {
        out += tabs + "<dict/>\n";
        break;
      }
      out += tabs + "<dict>\n";
      for (const auto& [key, value] : v.items()) {
        if (value.is_null()) continue;
        out += tabs + "\t<key>";
        escape(out, key);
        out += "</key>\n";
        write(out, value, indent + 1);
      }
      out += tabs + "</dict>\n";
      break;
    case json::value_t::array:
      if (v.empty()) {
        out += tabs + "<array/>\n";
        break;
      }
      out += tabs + "<array>\n";
      for (const auto& value : v)
        if (!value.is_null()) write(out, value, indent + 1);
      out += tabs + "</array>\n";
      break;
    case json::value_t::string:
      out += tabs + "<string>";
      escape(out, v.get_ref<const std::string&>());
      out += "</string>\n";
      break;
    case json::value_t::boolean:
      out += tabs + (v.get<bool>() ? "<true/>\n" : "<false/>\n");
      break;
    case json::value_t::number_integer:
      out += tabs + "<integer>" + number(v.get<int64_t>()) + "</integer>\n";
      break;
    case json::value_t::number_unsigned:
      out += tabs + "<integer>" + number(v.get<uint64_t>()) + "</integer>\n";
      break;
    case json::value_t::number_float: {
      // The shortest text that reads back as the same double.
      const double d = v.get<double>();
      const char* special = std::isnan(d) ? "nan" : std::isinf(d) ? (d > 0 ? "+infinity" : "-infinity") : nullptr;
      out += tabs + "<real>" + (special ? std::string(special) : number(d)) + "</real>\n";
      break;
    }
    case json::value_t::binary:
      out += tabs + "<data>" + base64(v.get_binary()) + "</data>\n";
      break;
    default:
      break;  // null and discarded values have no form
  }
}

// ---- reading ----

// Values built as the XML parser reports elements: a stack of the containers and texts open.
class Reader {
 public:
  Reader() : mParser(XML_ParserCreate(nullptr)) {
    XML_SetUserData(mParser, this);
    XML_SetElementHandler(mParser, &Reader::onStart, &Reader::onEnd);
    XML_SetCharacterDataHandler(mParser, &Reader::onText);
    // A property list declares no entities: a declaration (an expansion bomb, say) or a reference
    // to an entity nobody declared ends the reading.
    XML_SetEntityDeclHandler(mParser, &Reader::onEntityDeclaration);
    XML_SetSkippedEntityHandler(mParser, &Reader::onSkippedEntity);
  }
  ~Reader() { XML_ParserFree(mParser); }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  std::optional<json> read(std::string_view xml, std::string* error) {
    if (!mParser) return fail(error, "out of memory");
    if (xml.size() > static_cast<size_t>(INT_MAX)) return fail(error, "too large");
    if (XML_Parse(mParser, xml.data(), static_cast<int>(xml.size()), XML_TRUE) != XML_STATUS_OK) {
      if (mError.empty()) mError = XML_ErrorString(XML_GetErrorCode(mParser));
      return fail(error, nullptr);
    }
    if (!mRoot) return fail(error, mSawPlist ? "empty plist" : "no value");
    return std::move(mRoot);
  }

 private:
  enum class Kind { Plist, Dict, Array, Text };
  struct Frame {
    Kind kind;
    std::string name;   // for Text: the element ("string", "key", "integer" ...)
    json value;         // for Dict and Array: the container so far
    std::string text;   // for Text: the character data so far
    std::optional<std::string> key;  // for Dict: the key waiting for its value
  };

  // A stopped parser may still report the end of the element it stopped in: nothing is done then.
  static void onStart(void* self, const XML_Char* name, const XML_Char** /*attributes*/) {
    if (auto* reader = static_cast<Reader*>(self); reader->mError.empty()) reader->start(name);
  }
  static void onEnd(void* self, const XML_Char* /*name*/) {
    if (auto* reader = static_cast<Reader*>(self); reader->mError.empty()) reader->end();
  }
  static void onText(void* self, const XML_Char* text, int length) {
    if (auto* reader = static_cast<Reader*>(self); reader->mError.empty())
      reader->characters(std::string_view(text, static_cast<size_t>(length)));
  }
  static void onEntityDeclaration(void* self, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
                                  const XML_Char*, const XML_Char*, const XML_Char*) {
    static_cast<Reader*>(self)->stop("entity declarations are not read");
  }
  static void onSkippedEntity(void* self, const XML_Char*, int) { static_cast<Reader*>(self)->stop("unknown entity"); }

  void stop(const char* why) {
    if (mError.empty()) mError = why;
    XML_StopParser(mParser, XML_FALSE);
  }

  std::optional<json> fail(std::string* error, const char* why) {
    if (error) {
      *error = std::string(why ? why : mError.c_str());
      if (mParser) *error += " at offset " + std::to_string(XML_GetCurrentByteIndex(mParser));
    }
    return std::nullopt;
  }

  void start(std::string_view name) {
    if (mRoot) return stop("content after the value");
    if (mStack.size() > kMaxDepth) return stop("nested too deeply");
    Frame* parent = mStack.empty() ? nullptr : &mStack.back();
    if (parent && parent->kind == Kind::Text) return stop("an element inside a text");
    const bool wantsKey = parent && parent->kind == Kind::Dict && !parent->key;
    if (wantsKey != (name == "key")) return stop(wantsKey ? "expected a key" : "a key outside a dict");
    if (name == "plist") {
      if (parent) return stop("a plist inside a value");
      mSawPlist = true;
      mStack.push_back({Kind::Plist, std::string(name), json(), {}, {}});
    } else if (name == "dict") {
      mStack.push_back({Kind::Dict, std::string(name), json::object(), {}, {}});
    } else if (name == "array") {
      mStack.push_back({Kind::Array, std::string(name), json::array(), {}, {}});
    } else if (name == "key" || name == "string" || name == "date" || name == "integer" || name == "real" ||
               name == "data" || name == "true" || name == "false") {
      mStack.push_back({Kind::Text, std::string(name), json(), {}, {}});
    } else {
      stop("unknown element");
    }
  }

  void characters(std::string_view text) {
    if (!mStack.empty() && mStack.back().kind == Kind::Text) {
      mStack.back().text.append(text);
    } else if (text.find_first_not_of(" \t\r\n") != std::string_view::npos) {
      stop("text outside a value");
    }
  }

  void end() {
    Frame frame = std::move(mStack.back());
    mStack.pop_back();
    std::optional<json> value;
    switch (frame.kind) {
      case Kind::Plist:
        if (!mRoot) return stop("empty plist");
        return;
      case Kind::Dict:
        if (frame.key) return stop("a key without a value");
        value = std::move(frame.value);
        break;
      case Kind::Array:
        value = std::move(frame.value);
        break;
      case Kind::Text:
        if (frame.name == "key") {
          mStack.back().key = unescape(std::move(frame.text));
          return;
        }
        value = scalar(frame);
        if (!value) return;
        break;
    }
    deliver(std::move(*value));
  }

  void deliver(json value) {
    if (mStack.empty()) {
      mRoot = std::move(value);
      return;
    }
    Frame& parent = mStack.back();
    switch (parent.kind) {
      case Kind::Plist:
        mRoot = std::move(value);
        break;
      case Kind::Dict:
        parent.value[*parent.key] = std::move(value);
        parent.key.reset();
        break;
      case Kind::Array:
        parent.value.push_back(std::move(value));
        break;
      case Kind::Text:
        break;  // refused in start()
    }
  }

  std::optional<json> scalar(const Frame& frame) {
    const std::string& n = frame.name;
    if (n == "true" || n == "false") {
      if (frame.text.find_first_not_of(" \t\r\n") != std::string::npos) return refuse("text in a boolean");
      return json(n == "true");
    }
    if (n == "string") return json(unescape(frame.text));
    if (n == "date") return json(frame.text);
    if (n == "integer") return integer(frame.text);
    if (n == "real") return real(frame.text);
    return data(frame.text);
  }

  std::optional<json> refuse(const char* why) {
    stop(why);
    return std::nullopt;
  }

  // Decimal, or hexadecimal after "0x"; a sign may lead.
  std::optional<json> integer(const std::string& body) {
    const std::string s = strings::trim(body);
    const char* p = s.data();
    const char* end = p + s.size();
    const bool negative = p != end && *p == '-';
    if (p != end && (*p == '-' || *p == '+')) ++p;
    int base = 10;
    if (end - p > 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) p += 2, base = 16;
    if (p == end) return refuse(s.empty() ? "empty integer" : "bad integer");
    uint64_t magnitude = 0;
    const auto [stop, ec] = std::from_chars(p, end, magnitude, base);
    if (ec != std::errc() || stop != end) return refuse("bad integer");
    if (!negative) {
      if (magnitude <= uint64_t(INT64_MAX)) return json(static_cast<int64_t>(magnitude));
      return json(magnitude);
    }
    if (magnitude > uint64_t(INT64_MAX) + 1) return refuse("bad integer");
    return json(static_cast<int64_t>(0 - magnitude));
  }

  std::optional<json> real(const std::string& body) {
    const std::string s = strings::trim(body);
    if (s == "nan") return json(std::nan(""));
    if (s == "+infinity" || s == "inf") return json(HUGE_VAL);
    if (s == "-infinity" || s == "-inf") return json(-HUGE_VAL);
    const char* p = s.data();
    const char* end = p + s.size();
    if (p != end && *p == '+' && ++p != end && *p == '-') return refuse("bad real");  // from_chars takes no "+"
    double d = 0;
    const auto [stop, ec] = std::from_chars(p, end, d);
    if (p == end || ec != std::errc() || stop != end) return refuse("bad real");
    return json(d);
  }

  std::optional<json> data(const std::string& body) {
    std::string s;
    for (char c : body)
      if (!std::strchr(" \t\r\n", c)) s += c;
    if (s.size() % 4 != 0) return refuse("bad data");
    std::vector<uint8_t> bytes(s.size() / 4 * 3 + 1);
    int n = s.empty() ? 0 : EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(s.data()), int(s.size()));
    if (n < 0) return refuse("bad data");
    size_t padding = 0;
    if (!s.empty() && s.back() == '=') padding = s[s.size() - 2] == '=' ? 2 : 1;
    bytes.resize(static_cast<size_t>(n) - padding);
    return json::binary(std::move(bytes));
  }

  XML_Parser mParser;
  std::vector<Frame> mStack;
  std::optional<json> mRoot;
  bool mSawPlist = false;
  std::string mError;
};

}  // namespace

std::string serialize(const json& value) {
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
      "<plist version=\"1.0\">\n";
  write(out, value, 0);
  out += "</plist>\n";
  return out;
}

std::optional<json> parse(std::string_view xml, std::string* error) { return Reader().read(xml, error); }

std::optional<json> readFile(const std::string& path, std::string* error) {
  auto bytes = fileio::readFile(path, 16u << 20);
  if (!bytes) {
    if (error) *error = "cannot read " + path;
    return std::nullopt;
  }
  return parse(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()), error);
}

bool writeFile(const std::string& path, const json& value, std::string* error, bool durable) {
  const std::string text = serialize(value);
  return fileio::writeFileAtomically(path, text.data(), text.size(), error, durable);
}

}  // namespace telemetry::plist
