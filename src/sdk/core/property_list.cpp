#include "sdk/core/property_list.h"

#include <openssl/evp.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sdk/core/file_io.h"
#include "sdk/core/strings.h"

namespace telemetry::plist {

using nlohmann::json;

namespace {

constexpr int kMaxDepth = 256;  // deeper nesting is refused rather than recursed into

// ---- writing ----

void escape(std::string& out, const std::string& s) {
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c;
    }
  }
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
      out += tabs + "<integer>" + std::to_string(v.get<int64_t>()) + "</integer>\n";
      break;
    case json::value_t::number_unsigned:
      out += tabs + "<integer>" + std::to_string(v.get<uint64_t>()) + "</integer>\n";
      break;
    case json::value_t::number_float: {
      double d = v.get<double>();
      char buf[40];
      if (std::isnan(d))
        std::snprintf(buf, sizeof buf, "nan");
      else if (std::isinf(d))
        std::snprintf(buf, sizeof buf, d > 0 ? "+infinity" : "-infinity");
      else
        std::snprintf(buf, sizeof buf, "%.17g", d);
      out += tabs + "<real>" + buf + "</real>\n";
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

class Parser {
 public:
  explicit Parser(std::string_view s) : mText(s) {}

  std::optional<json> document(std::string* error) {
    skipMisc();
    std::optional<json> result;
    Tag tag;
    if (!readTag(tag)) return fail(error);
    if (tag.name == "plist" && !tag.closing) {
      if (tag.empty) return fail(error, "empty plist");
      skipMisc();
      result = value(0);
      if (!result) return fail(error);
      skipMisc();
      Tag end;
      if (!readTag(end) || end.name != "plist" || !end.closing) return fail(error, "plist not closed");
    } else {
      result = valueFromTag(tag, 0);
      if (!result) return fail(error);
    }
    skipMisc();
    if (mPos != mText.size()) return fail(error, "trailing content");
    return result;
  }

 private:
  struct Tag {
    std::string name;
    bool closing = false;
    bool empty = false;
  };

  std::optional<json> fail(std::string* error, const char* why = nullptr) {
    if (error) *error = std::string(why ? why : (mError.empty() ? "malformed property list" : mError.c_str())) +
                        " at offset " + std::to_string(mPos);
    return std::nullopt;
  }

  bool startsWith(std::string_view s) const { return mText.substr(mPos, s.size()) == s; }

  void skipSpace() {
    while (mPos < mText.size() && std::strchr(" \t\r\n", mText[mPos])) ++mPos;
  }

  // Whitespace, comments, processing instructions and the document type.
  void skipMisc() {
    for (;;) {
      skipSpace();
      if (startsWith("<!--")) {
        size_t end = mText.find("-->", mPos + 4);
        mPos = end == std::string_view::npos ? mText.size() : end + 3;
      } else if (startsWith("<?")) {
        size_t end = mText.find("?>", mPos + 2);
        mPos = end == std::string_view::npos ? mText.size() : end + 2;
      } else if (startsWith("<!DOCTYPE")) {
        size_t end = mText.find('>', mPos);
        mPos = end == std::string_view::npos ? mText.size() : end + 1;
      } else {
        return;
      }
    }
  }

  bool readTag(Tag& tag) {
    if (mPos >= mText.size() || mText[mPos] != '<') return error("expected a tag");
    size_t end = mText.find('>', mPos);
    if (end == std::string_view::npos) return error("unterminated tag");
    std::string_view inner = mText.substr(mPos + 1, end - mPos - 1);
    mPos = end + 1;
    tag = Tag{};
    if (!inner.empty() && inner.front() == '/') {
      tag.closing = true;
      inner.remove_prefix(1);
    }
    if (!inner.empty() && inner.back() == '/') {
      tag.empty = true;
      inner.remove_suffix(1);
    }
    size_t nameEnd = inner.find_first_of(" \t\r\n");
    tag.name = std::string(inner.substr(0, nameEnd));  // attributes are ignored
    return !tag.name.empty() || error("empty tag");
  }

  bool error(const char* what) {
    mError = what;
    return false;
  }

  // Character data up to "</name>", with entities and CDATA sections resolved.
  std::optional<std::string> text(const std::string& name) {
    std::string out;
    const std::string close = "</" + name + ">";
    while (mPos < mText.size()) {
      if (startsWith(close)) {
        mPos += close.size();
        return out;
      }
      if (startsWith("<![CDATA[")) {
        size_t end = mText.find("]]>", mPos);
        if (end == std::string_view::npos) break;
        out.append(mText.substr(mPos + 9, end - mPos - 9));
        mPos = end + 3;
        continue;
      }
      if (startsWith("<!--")) {
        size_t end = mText.find("-->", mPos + 4);
        if (end == std::string_view::npos) break;
        mPos = end + 3;
        continue;
      }
      char c = mText[mPos];
      if (c == '<') break;
      if (c == '&') {
        if (!entity(out)) return std::nullopt;
        continue;
      }
      out += c;
      ++mPos;
    }
    error("unterminated text");
    return std::nullopt;
  }

  bool entity(std::string& out) {
    size_t end = mText.find(';', mPos);
    if (end == std::string_view::npos || end - mPos > 12) return error("bad entity");
    std::string_view name = mText.substr(mPos + 1, end - mPos - 1);
    mPos = end + 1;
    if (name == "lt") out += '<';
    else if (name == "gt") out += '>';
    else if (name == "amp") out += '&';
    else if (name == "quot") out += '"';
    else if (name == "apos") out += '\'';
    else if (name.size() > 1 && name[0] == '#') {
      std::string digits(name.substr(1));
      int base = 10;
      if (!digits.empty() && (digits[0] == 'x' || digits[0] == 'X')) {
        base = 16;
        digits.erase(0, 1);
      }
      char* stop = nullptr;
      errno = 0;
      unsigned long cp = std::strtoul(digits.c_str(), &stop, base);
      if (digits.empty() || *stop || errno || cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return error("bad character reference");
      strings::appendUTF8(out, static_cast<char32_t>(cp));
    } else {
      return error("unknown entity");
    }
    return true;
  }

  std::optional<json> value(int depth) {
    Tag tag;
    if (!readTag(tag)) return std::nullopt;
    return valueFromTag(tag, depth);
  }

  std::optional<json> valueFromTag(const Tag& tag, int depth) {
    if (tag.closing) {
      error("unexpected closing tag");
      return std::nullopt;
    }
    if (depth > kMaxDepth) {
      error("nested too deeply");
      return std::nullopt;
    }
    const std::string& n = tag.name;
    if (n == "true" || n == "false") {
      if (!tag.empty) {
        skipSpace();
        Tag end;
        if (!readTag(end) || !end.closing || end.name != n) return std::nullopt;
      }
      return json(n == "true");
    }
    if (n == "dict") return tag.empty ? json::object() : dict(depth);
    if (n == "array") return tag.empty ? json::array() : array(depth);
    std::string body;
    if (!tag.empty) {
      auto t = text(n);
      if (!t) return std::nullopt;
      body = std::move(*t);
    }
    if (n == "string" || n == "date") return json(body);
    if (n == "integer") return integer(body);
    if (n == "real") return real(body);
    if (n == "data") return data(body);
    error("unknown element");
    return std::nullopt;
  }

  std::optional<json> dict(int depth) {
    json out = json::object();
    for (;;) {
      skipMisc();
      Tag tag;
      if (!readTag(tag)) return std::nullopt;
      if (tag.closing && tag.name == "dict") return out;
      if (tag.name != "key" || tag.closing) {
        error("expected a key");
        return std::nullopt;
      }
      std::string key;
      if (!tag.empty) {
        auto t = text("key");
        if (!t) return std::nullopt;
        key = std::move(*t);
      }
      skipMisc();
      auto v = value(depth + 1);
      if (!v) return std::nullopt;
      out[key] = std::move(*v);
    }
  }

  std::optional<json> array(int depth) {
    json out = json::array();
    for (;;) {
      skipMisc();
      Tag tag;
      if (!readTag(tag)) return std::nullopt;
      if (tag.closing && tag.name == "array") return out;
      auto v = valueFromTag(tag, depth + 1);
      if (!v) return std::nullopt;
      out.push_back(std::move(*v));
    }
  }

  std::optional<json> integer(const std::string& body) {
    std::string s = strings::trim(body);
    if (s.empty()) return error("empty integer"), std::nullopt;
    char* stop = nullptr;
    errno = 0;
    if (s[0] != '-') {
      unsigned long long u = std::strtoull(s.c_str(), &stop, 0);
      if (*stop || errno) return error("bad integer"), std::nullopt;
      if (u <= static_cast<unsigned long long>(INT64_MAX)) return json(static_cast<int64_t>(u));
      return json(static_cast<uint64_t>(u));
    }
    long long v = std::strtoll(s.c_str(), &stop, 0);
    if (*stop || errno) return error("bad integer"), std::nullopt;
    return json(static_cast<int64_t>(v));
  }

  std::optional<json> real(const std::string& body) {
    std::string s = strings::trim(body);
    if (s == "nan") return json(std::nan(""));
    if (s == "+infinity" || s == "inf") return json(HUGE_VAL);
    if (s == "-infinity" || s == "-inf") return json(-HUGE_VAL);
    char* stop = nullptr;
    double d = std::strtod(s.c_str(), &stop);
    if (s.empty() || *stop) return error("bad real"), std::nullopt;
    return json(d);
  }

  std::optional<json> data(const std::string& body) {
    std::string s;
    for (char c : body)
      if (!std::strchr(" \t\r\n", c)) s += c;
    if (s.size() % 4 != 0) return error("bad data"), std::nullopt;
    std::vector<uint8_t> bytes(s.size() / 4 * 3 + 1);
    int n = s.empty() ? 0 : EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(s.data()), int(s.size()));
    if (n < 0) return error("bad data"), std::nullopt;
    size_t padding = 0;
    if (!s.empty() && s.back() == '=') padding = s[s.size() - 2] == '=' ? 2 : 1;
    bytes.resize(static_cast<size_t>(n) - padding);
    return json::binary(std::move(bytes));
  }

  std::string_view mText;
  size_t mPos = 0;
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

std::optional<json> parse(std::string_view xml, std::string* error) { return Parser(xml).document(error); }

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
