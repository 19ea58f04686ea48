#include "model/json_decoder.h"

#include "foundation/logging.h"
#include "foundation/string_extensions.h"
#include "model/json_date_format.h"
#include "model/json_text.h"
#include "platform/services/utf8_text.h"

#include <simdjson.h>

#include <cmath>
#include <new>
#include <string>
#include <string_view>

namespace orrery {

namespace dom = simdjson::dom;

namespace {

constexpr std::string_view kClassMember = "@class";
// Class lookups remembered per decoder; a hostile file naming endless classes is not cached.
constexpr std::size_t kClassCacheSize = 64;

QString toQString(std::string_view text) { return platform::textFromUtf8(QByteArrayView(text.data(), qsizetype(text.size()))); }

// Calls `f` with the key as UTF-8.
template <class F>
decltype(auto) withUtf8Key(CoderKey key, F&& f) {
  return key.visit([&](auto view) -> decltype(auto) {
    using View = std::decay_t<decltype(view)>;
    if constexpr (std::is_same_v<View, QUtf8StringView>) {
      return f(std::string_view(view.data(), size_t(view.size())));
    } else if constexpr (std::is_same_v<View, QLatin1StringView>) {
      for (char c : view)
        if (static_cast<unsigned char>(c) >= 0x80) {
          const QByteArray utf8 = QString(view).toUtf8();
          return f(std::string_view(utf8.constData(), size_t(utf8.size())));
        }
      return f(std::string_view(view.data(), size_t(view.size())));
    } else {
      const QByteArray utf8 = view.toUtf8();
      return f(std::string_view(utf8.constData(), size_t(utf8.size())));
    }
  });
}

// The member's value, the last one when the name repeats.
bool findMember(const dom::object& object, std::string_view key, dom::element& out) {
  bool found = false;
  for (const dom::key_value_pair field : object) {
    if (field.key == key) {
      out = field.value;
      found = true;
    }
  }
  return found;
}

// Members are read as a map: a repeated name counts once, with its last value.
enum class Shape { Empty, OneName, Several };

Shape shapeOf(const dom::object& object, std::string_view& name, dom::element& value) {
  Shape shape = Shape::Empty;
  for (const dom::key_value_pair field : object) {
    if (shape == Shape::Empty) {
      shape = Shape::OneName;
      name = field.key;
    } else if (field.key != name) {
      return Shape::Several;
    }
    value = field.value;
  }
  return shape;
}

// The member whose name sorts first (by code point), with its last value.
bool firstMember(const dom::object& object, std::string_view& name, dom::element& value) {
  bool any = false;
  for (const dom::key_value_pair field : object) {
    if (!any || field.key < name) name = field.key;
    any = true;
  }
  return any && findMember(object, name, value);
}

double numberValue(const dom::element& value) {
  switch (value.type()) {
    case dom::element_type::INT64: return double(int64_t(value));
    case dom::element_type::UINT64: return double(uint64_t(value));
    default: return double(value);
  }
}

bool isNumber(const dom::element& value) {
  const auto type = value.type();
  return type == dom::element_type::INT64 || type == dom::element_type::UINT64 || type == dom::element_type::DOUBLE;
}

void throwIfOutOfMemory(simdjson::error_code error) {
  if (error == simdjson::MEMALLOC) throw std::bad_alloc();
}

}  // namespace

struct JSONDecoder::Impl {
  struct Field {
    std::string_view key;
    dom::element value;
  };

  dom::parser parser;
  // The strict rewrite of a text the fast parser refused; it backs every value then.
  std::string strictText;
  dom::object root;
  // The members of the objects being decoded, innermost last; the root object first, so that
  // a file written with encodeTopObject is read with the ...ForKey calls straight away. Each
  // object's members are listed once when it is entered, as every key is looked up in them;
  // the lists of each depth are kept for the next object there.
  std::vector<std::vector<Field>> frames;
  std::size_t depth = 0;
  std::vector<std::pair<std::string, KeyedClassRegistry::Factory>> classCache;

  void push(const dom::object& object) {
    if (frames.size() == depth) frames.emplace_back();
    std::vector<Field>& fields = frames[depth++];
    fields.clear();
    // Sized at once: growing by doubling would hold two lists of a huge object at its peak.
    fields.reserve(object.size());
    for (const dom::key_value_pair field : object) fields.push_back({field.key, field.value});
  }
  void pop() { --depth; }

  bool member(CoderKey key, dom::element& out) const {
    const std::vector<Field>& fields = frames[depth - 1];
    return withUtf8Key(key, [&](std::string_view name) {
      // From the end: a name given twice reads as its last value.
      // Most names asked for are absent or of another length; the first byte settles most
      // of the rest without a call to compare.
      for (auto it = fields.rbegin(); it != fields.rend(); ++it)
        if (it->key.size() == name.size() && (name.empty() || it->key[0] == name[0]) && it->key == name) {
          out = it->value;
          return true;
        }
      return false;
    });
  }
};

JSONDecoder::JSONDecoder(std::unique_ptr<Impl> impl) : mImpl(std::move(impl)) { mImpl->push(mImpl->root); }

JSONDecoder::~JSONDecoder() = default;

std::unique_ptr<JSONDecoder> JSONDecoder::createWithData(const QByteArray& data, jsontext::NestingCount* nesting) {
  if (nesting) nesting->tooDeep = false;
  auto impl = std::make_unique<Impl>();
  const auto size = size_t(data.size());
  throwIfOutOfMemory(impl->parser.allocate(std::max<size_t>(size, 64), size_t(jsontext::kMaxJSONNesting) + 1));
  // The parser reads a little past the end; a buffer with room to spare needs no copy.
  const bool padded = data.capacity() - data.size() >= qsizetype(simdjson::SIMDJSON_PADDING);
  dom::element root;
  simdjson::error_code error =
      impl->parser.parse(reinterpret_cast<const uint8_t*>(data.constData()), size, !padded).get(root);
  throwIfOutOfMemory(error);
  if (error) {
    std::string why;
    std::size_t offset = 0;
    if (!jsontext::normalizeLenient(std::string_view(data.constData(), size), impl->strictText, &why, &offset,
                                    nesting)) {
      logLine(QStringLiteral("NSJSONSerialization: Error %1 at offset %2").arg(QString::fromStdString(why)).arg(offset));
      return nullptr;
    }
    impl->strictText.reserve(impl->strictText.size() + simdjson::SIMDJSON_PADDING);
    error = impl->parser.parse(impl->strictText).get(root);
    throwIfOutOfMemory(error);
    if (error) {
      logLine(QStringLiteral("NSJSONSerialization: Error %1").arg(QString::fromUtf8(simdjson::error_message(error))));
      return nullptr;
    }
  }
  if (root.type() != dom::element_type::OBJECT) {
    logLine(QStringLiteral("NSJSONSerialization: Error the root is not an object"));
    return nullptr;
  }
  impl->root = dom::object(root);
  const qsizetype parsed = impl->strictText.empty() ? data.size() : qsizetype(impl->strictText.size());
  std::unique_ptr<JSONDecoder> decoder(new JSONDecoder(std::move(impl)));
  decoder->mParsedBytes = parsed;
  return decoder;
}

void JSONDecoder::addAlias(const QString& memberName, const QString& className) {
  const auto it = std::find_if(mappingClasses.begin(), mappingClasses.end(),
                               [&](const auto& alias) { return alias.first == memberName; });
  if (it != mappingClasses.end())
    it->second = className;
  else
    mappingClasses.emplace_back(memberName, className);
  mImpl->classCache.clear();
}

// The helpers below need the private state; they live in this translation unit only.
class JSONDecoderAccess {
 public:
  static KeyedClassRegistry::Factory getClassForKey(JSONDecoder& d, std::string_view name) {
    auto& cache = d.mImpl->classCache;
    for (const auto& [cachedName, factory] : cache)
      if (cachedName == name) return factory;
    const QString member = toQString(name);
    const auto alias = std::find_if(d.mappingClasses.cbegin(), d.mappingClasses.cend(),
                                    [&](const auto& alias) { return alias.first == member; });
    const QString className =
        alias != d.mappingClasses.cend() ? alias->second : stringext::capitalizeFirstLetterString(member);
    auto factory = KeyedClassRegistry::shared().factoryForName(className);
    if (cache.size() < kClassCacheSize) cache.emplace_back(std::string(name), factory);
    return factory;
  }

  static std::shared_ptr<KeyedCodable> decodeWith(JSONDecoder& d, const KeyedClassRegistry::Factory& factory,
                                                  const dom::object& object) {
    if (!factory || d.mFailed) return nullptr;
    if (d.mImpl->depth > size_t(kMaxKeyedNestingDepth)) {
      logLine(QStringLiteral("JSONDecoder: objects nested deeper than %1 levels are not read")
                  .arg(kMaxKeyedNestingDepth));
      d.mFailed = true;
      d.mExcess = JSONDecoder::Excess::Nesting;
      return nullptr;
    }
    if (d.mLimits.maxObjects >= 0 && ++d.mObjectsMade > d.mLimits.maxObjects) {
      logLine(QStringLiteral("JSONDecoder: more than %1 objects are not read").arg(d.mLimits.maxObjects));
      d.mFailed = true;
      d.mExcess = JSONDecoder::Excess::Objects;
      return nullptr;
    }
    d.mImpl->push(object);
    auto result = factory(d);
    d.mImpl->pop();
    return d.mFailed ? nullptr : result;
  }

  static std::shared_ptr<KeyedCodable> decodeValue(JSONDecoder& d, const dom::element& value, std::string_view name) {
    if (value.type() != dom::element_type::OBJECT) return nullptr;
    const dom::object object(value);
    dom::element named;
    if (findMember(object, kClassMember, named) && named.type() == dom::element_type::STRING)
      return decodeWith(d, getClassForKey(d, std::string_view(named)), object);
    return decodeWith(d, getClassForKey(d, name), object);
  }

  static std::vector<std::shared_ptr<KeyedCodable>> decodeArrayOfClass(JSONDecoder& d, const dom::array& array,
                                                                std::string_view name) {
    auto it = array.begin();
    if (it == array.end()) return {};
    const auto arrayClass = getClassForKey(d, name);

    // Either the elements themselves, or the wrapped form: the array's one object, whose only
    // member holds them. An array of several elements is never wrapped, so a damaged first
    // element cannot hide the others.
    std::string_view onlyName;
    dom::element onlyValue;
    std::string_view elementName = "object";
    bool wholeArray = array.size() > 1;
    if (!wholeArray) {
      if ((*it).type() != dom::element_type::OBJECT) return {};
      const Shape shape = shapeOf(dom::object(*it), onlyName, onlyValue);
      const bool unknownClass =
          !arrayClass && shape == Shape::OneName && onlyName != "string" && !getClassForKey(d, onlyName);
      wholeArray = shape == Shape::Several || unknownClass;
      if (!wholeArray) {
        if (shape == Shape::Empty) return {};
        elementName = onlyName;
      }
    }
    const auto elementClass = arrayClass ? arrayClass : getClassForKey(d, elementName);
    std::vector<std::shared_ptr<KeyedCodable>> result;
    auto decodeElement = [&](const dom::element& element) {
      if (element.type() != dom::element_type::OBJECT) return true;
      const dom::object object(element);
      dom::element named;
      const bool hasClass = findMember(object, kClassMember, named) && named.type() == dom::element_type::STRING;
      auto decoded = decodeWith(d, hasClass ? getClassForKey(d, std::string_view(named)) : elementClass, object);
      if (d.mFailed) return false;
      if (decoded) result.push_back(std::move(decoded));
      return true;
    };
    if (wholeArray) {
      result.reserve(array.size());
      for (const dom::element element : array)
        if (!decodeElement(element)) return {};
    } else if (onlyValue.type() == dom::element_type::ARRAY) {
      const dom::array elements(onlyValue);
      result.reserve(elements.size());
      for (const dom::element element : elements)
        if (!decodeElement(element)) return {};
    } else if (!decodeElement(onlyValue)) {
      return {};
    }
    return result;
  }

  // A string member, null when absent, of another kind, or beyond the length bound.
  static QString string(JSONDecoder& d, const dom::element& value) {
    if (value.type() != dom::element_type::STRING) return {};
    const std::string_view text(value);
    const qsizetype limit = d.mLimits.maxStringLength;
    // UTF-8 never takes fewer bytes than UTF-16 units, so most strings need no counting.
    if (limit >= 0 && qsizetype(text.size()) > limit) {
      QString decoded = toQString(text);
      if (decoded.size() > limit) {
        logLine(QStringLiteral("JSONDecoder: texts longer than %1 characters are not read").arg(limit));
        d.mFailed = true;
        d.mExcess = JSONDecoder::Excess::Text;
        d.mExcessTextLength = decoded.size();
        return {};
      }
      return decoded;
    }
    return toQString(text);
  }
};

std::shared_ptr<KeyedCodable> JSONDecoder::decodeObject() {
  std::string_view name;
  dom::element value;
  if (!firstMember(mImpl->root, name, value)) return nullptr;
  auto result = JSONDecoderAccess::decodeValue(*this, value, name);
  return mFailed ? nullptr : result;
}

bool JSONDecoder::containsValueForKey(CoderKey key) const {
  dom::element value;
  return mImpl->member(key, value);
}

QString JSONDecoder::decodeStringForKey(CoderKey key) {
  dom::element value;
  if (!mImpl->member(key, value)) return {};
  return JSONDecoderAccess::string(*this, value);
}

QStringList JSONDecoder::decodeStringsForKey(CoderKey key) {
  dom::element value;
  QStringList result;
  if (!mImpl->member(key, value) || value.type() != dom::element_type::ARRAY) return result;
  const dom::array elements(value);
  result.reserve(qsizetype(elements.size()));  // pages only count once written
  for (const dom::element element : elements)
    if (element.type() == dom::element_type::STRING) result.append(JSONDecoderAccess::string(*this, element));
  return mFailed ? QStringList() : result;
}

int32_t JSONDecoder::decodeIntForKey(CoderKey key) {
  dom::element value;
  if (!mImpl->member(key, value)) return 0;
  if (value.type() == dom::element_type::BOOL) return bool(value) ? 1 : 0;
  if (isNumber(value)) {
    const double number = numberValue(value);
    if (!std::isfinite(number) || number <= -2147483649.0 || number >= 2147483648.0) return 0;
    return static_cast<int32_t>(number);
  }
  if (value.type() == dom::element_type::STRING) {
    bool ok = false;
    const int number = toQString(std::string_view(value)).trimmed().toInt(&ok);
    return ok ? number : 0;
  }
  return 0;
}

bool JSONDecoder::decodeBoolForKey(CoderKey key) {
  dom::element value;
  if (!mImpl->member(key, value)) return false;
  if (value.type() == dom::element_type::BOOL) return bool(value);
  if (isNumber(value)) return numberValue(value) != 0.0;
  if (value.type() == dom::element_type::STRING) {
    // A text counts as true when, after blanks, a sign and zeros, it starts with Y, T or 1-9.
    const QString text = toQString(std::string_view(value));
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace()) ++i;
    if (i < text.size() && (text.at(i) == u'+' || text.at(i) == u'-')) ++i;
    while (i < text.size() && text.at(i) == u'0') ++i;
    return i < text.size() && QStringLiteral("YyTt123456789").contains(text.at(i));
  }
  return false;
}

QByteArray JSONDecoder::decodeDataForKey(CoderKey key) {
  dom::element value;
  if (!mImpl->member(key, value) || value.type() != dom::element_type::STRING) return {};
  const std::string_view text(value);
  const QByteArray encoded = QByteArray::fromRawData(text.data(), qsizetype(text.size()));
  // The writer's plain Base64 decodes strictly; other text is read leniently, characters outside
  // the alphabet (line breaks, any non-ASCII) skipped.
  if (auto strict = QByteArray::fromBase64Encoding(encoded, QByteArray::AbortOnBase64DecodingErrors)) return *strict;
  return QByteArray::fromBase64(encoded);
}

QDateTime JSONDecoder::decodeDateForKey(CoderKey key) {
  dom::element value;
  if (!mImpl->member(key, value) || value.type() != dom::element_type::STRING) return {};
  return jsondate::parse(toQString(std::string_view(value)));
}

std::shared_ptr<KeyedCodable> JSONDecoder::decodeObjectForKey(CoderKey key) {
  dom::element value;
  if (!mImpl->member(key, value) || value.type() != dom::element_type::OBJECT) return nullptr;
  return withUtf8Key(key, [&](std::string_view name) { return JSONDecoderAccess::decodeValue(*this, value, name); });
}

std::vector<std::shared_ptr<KeyedCodable>> JSONDecoder::decodeObjectsForKey(CoderKey key) {
  dom::element value;
  if (!mImpl->member(key, value) || value.type() != dom::element_type::ARRAY) return {};
  return withUtf8Key(key,
                     [&](std::string_view name) { return JSONDecoderAccess::decodeArrayOfClass(*this, dom::array(value), name); });
}

}  // namespace orrery
