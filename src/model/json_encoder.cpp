#include "model/json_encoder.h"

#include "foundation/string_extensions.h"
#include "model/json_date_format.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace orrery {

namespace {

constexpr char kHex[] = "0123456789abcdef";

// ASCII characters that go into a JSON string as they are.
constexpr bool plainASCII(char16_t c) { return c >= 0x20 && c < 0x80 && c != u'"' && c != u'\\'; }

}  // namespace

char* JSONEncoder::room(qsizetype bytes) {
  if (mLength + bytes > mBuffer.size())
    mBuffer.resize(std::max<qsizetype>({mBuffer.size() * 2, mLength + bytes, 64 * 1024}));
  return mBuffer.data() + mLength;
}

void JSONEncoder::put(const char* text, qsizetype length) {
  std::memcpy(room(length), text, size_t(length));
  mLength += length;
}

void JSONEncoder::putLatin1String(QLatin1StringView text) {
  bool plain = true;
  for (char c : text) plain &= plainASCII(char16_t(static_cast<unsigned char>(c)));
  if (!plain) return putString(QString(text));
  char* out = room(text.size() + 2);
  *out++ = '"';
  std::memcpy(out, text.data(), size_t(text.size()));
  out[text.size()] = '"';
  mLength += text.size() + 2;
}

void JSONEncoder::putString(QStringView text) {
  // At most six bytes per UTF-16 unit (a \u escape), plus the quotes.
  char* const start = room(text.size() * 6 + 2);
  mLength += writeString(start, text) - start;
}

char* JSONEncoder::writeString(char* out, QStringView text) {
  *out++ = '"';
  const char16_t* p = text.utf16();
  const char16_t* const end = p + text.size();
  while (p < end) {
    const char16_t c = *p++;
    if (plainASCII(c)) {
      *out++ = char(c);
    } else if (c < 0x80) {
      *out++ = '\\';
      switch (c) {
        case u'"': *out++ = '"'; break;
        case u'\\': *out++ = '\\'; break;
        case u'\n': *out++ = 'n'; break;
        case u'\r': *out++ = 'r'; break;
        case u'\t': *out++ = 't'; break;
        case u'\b': *out++ = 'b'; break;
        case u'\f': *out++ = 'f'; break;
        default:
          *out++ = 'u', *out++ = '0', *out++ = '0';
          *out++ = kHex[c >> 4], *out++ = kHex[c & 0xF];
      }
    } else if (c < 0x800) {
      *out++ = char(0xC0 | (c >> 6));
      *out++ = char(0x80 | (c & 0x3F));
    } else if (c >= 0xD800 && c <= 0xDBFF && p < end && *p >= 0xDC00 && *p <= 0xDFFF) {
      const char32_t code = 0x10000 + ((char32_t(c) - 0xD800) << 10) + (char32_t(*p++) - 0xDC00);
      *out++ = char(0xF0 | (code >> 18));
      *out++ = char(0x80 | ((code >> 12) & 0x3F));
      *out++ = char(0x80 | ((code >> 6) & 0x3F));
      *out++ = char(0x80 | (code & 0x3F));
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      // A lone surrogate has no UTF-8 form and readers differ on its escape; U+FFFD is what
      // it reads back as anyway, so a saved text reads back and saves again the same.
      *out++ = char(0xEF), *out++ = char(0xBF), *out++ = char(0xBD);
    } else {
      *out++ = char(0xE0 | (c >> 12));
      *out++ = char(0x80 | ((c >> 6) & 0x3F));
      *out++ = char(0x80 | (c & 0x3F));
    }
  }
  *out++ = '"';
  return out;
}

void JSONEncoder::appendString(QByteArray& out, QStringView text) {
  const qsizetype length = out.size();
  out.resize(length + text.size() * 6 + 2);
  out.resize(writeString(out.data() + length, text) - out.constData());
}

void JSONEncoder::beginMember(CoderKey key) {
  if (mHasMembers.back()) put(',');
  mHasMembers.back() = true;
  key.visit([&](auto view) {
    using View = std::decay_t<decltype(view)>;
    if constexpr (std::is_same_v<View, QStringView>)
      putString(view);
    else if constexpr (std::is_same_v<View, QLatin1StringView>)
      putLatin1String(view);
    // ASCII, as keys are, is the same text as Latin-1.
    else if (std::all_of(view.begin(), view.end(), [](auto c) { return static_cast<unsigned char>(c) < 0x80; }))
      putLatin1String(QLatin1StringView(reinterpret_cast<const char*>(view.data()), view.size()));
    else
      putString(view.toString());
  });
  put(':');
}

void JSONEncoder::encodeRoot(const KeyedCodable& root, bool wrapped) {
  mLength = 0;
  mObjectsWritten = 0;
  mLongestText = 0;
  if (wrapped) {
    put('{');
    putString(stringext::camelcaseString(root.className()));
    put(':');
  }
  if (!encodeNested(root)) return;
  if (wrapped) put('}');
  mHasResult = true;
}

void JSONEncoder::encodeObject(const KeyedCodable& root) { encodeRoot(root, true); }

void JSONEncoder::encodeTopObject(const KeyedCodable& root) { encodeRoot(root, false); }

QByteArray JSONEncoder::data() const {
  if (mFailed || !mHasResult) return {};
  // In place, so the text is handed out without a copy.
  if (mBuffer.size() != mLength) mBuffer.truncate(mLength);
  return mBuffer;
}

bool JSONEncoder::encodeNested(const KeyedCodable& object) {
  if (mFailed) return false;
  if (!mayEncodeNested(objectStack, object, "JSONEncoder")) {
    mFailed = true;
    return false;
  }
  objectStack.push_back(&object);
  mHasMembers.push_back(false);
  ++mObjectsWritten;
  put('{');
  object.encodeWithCoder(*this);
  put('}');
  mHasMembers.pop_back();
  objectStack.pop_back();
  return !mFailed;
}

void JSONEncoder::encodeString(const QString& value, CoderKey key) {
  if (!writing() || value.isNull()) return;
  beginMember(key);
  putString(value);
  mLongestText = std::max(mLongestText, value.size());
}

void JSONEncoder::encodeStrings(const QStringList& values, CoderKey key) {
  if (!writing() || values.isEmpty()) return;
  beginMember(key);
  put('[');
  for (qsizetype i = 0; i < values.size(); ++i) {
    if (i) put(',');
    putString(values[i]);
    mLongestText = std::max(mLongestText, values[i].size());
  }
  put(']');
}

void JSONEncoder::encodeInt(int32_t value, CoderKey key) {
  if (!writing()) return;
  beginMember(key);
  char* out = room(16);
  mLength += std::to_chars(out, out + 16, value).ptr - out;
}

void JSONEncoder::encodeBool(bool value, CoderKey key) {
  if (!writing()) return;
  beginMember(key);
  value ? put("true", 4) : put("false", 5);
}

void JSONEncoder::encodeData(const QByteArray& value, CoderKey key) {
  if (!writing() || value.isNull()) return;
  beginMember(key);
  const QByteArray base64 = value.toBase64();
  char* out = room(base64.size() + 2);
  *out = '"';
  std::memcpy(out + 1, base64.constData(), size_t(base64.size()));
  out[base64.size() + 1] = '"';
  mLength += base64.size() + 2;
}

void JSONEncoder::encodeDate(const QDateTime& value, CoderKey key) {
  if (!writing() || !value.isValid()) return;
  beginMember(key);
  putString(jsondate::format(value));
}

void JSONEncoder::encodeObject(const KeyedCodable* object, CoderKey key) {
  if (!writing() || !object) return;
  beginMember(key);
  encodeNested(*object);
}

void JSONEncoder::encodeObjects(std::span<const KeyedCodable* const> objects, CoderKey key) {
  if (!writing()) return;
  // An empty list (nulls left out) is not written at all.
  if (std::none_of(objects.begin(), objects.end(), [](const KeyedCodable* o) { return o != nullptr; })) return;
  beginMember(key);
  put('[');
  bool first = true;
  for (const KeyedCodable* object : objects) {
    if (!object) continue;
    if (!first) put(',');
    first = false;
    if (!encodeNested(*object)) return;
  }
  put(']');
}

}  // namespace orrery
