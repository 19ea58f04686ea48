#include "model/document_memory_bound.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace orrery {

namespace {

enum ByteClass : std::uint8_t { kScalar, kSpace, kQuote, kBackslash, kOpenObject, kOpenArray, kSeparator, kClose };

constexpr std::array<ByteClass, 256> kClasses = [] {
  std::array<ByteClass, 256> classes{};
  classes.fill(kScalar);
  for (const char c : {' ', '\t', '\n', '\r'}) classes[std::uint8_t(c)] = kSpace;
  classes[std::uint8_t('"')] = kQuote;
  classes[std::uint8_t('\\')] = kBackslash;
  classes[std::uint8_t('{')] = kOpenObject;
  classes[std::uint8_t('[')] = kOpenArray;
  classes[std::uint8_t(',')] = kSeparator;
  classes[std::uint8_t(':')] = kSeparator;
  classes[std::uint8_t('}')] = kClose;
  classes[std::uint8_t(']')] = kClose;
  return classes;
}();

}  // namespace

DocumentMemoryBound::DocumentMemoryBound(qint64 fileBytes)
    : mBudget(std::max(kMinBudget, std::max<qint64>(fileBytes, 0) * kBudgetPerFileByte)) {}

bool DocumentMemoryBound::add(std::string_view text) {
  mTextBytes += qint64(text.size());
  const auto* p = reinterpret_cast<const std::uint8_t*>(text.data());
  const auto* const end = p + text.size();
  while (p < end) {
    if (mInString) {
      // Braces, commas and quotes inside a string are no values.
      const auto* const start = p;
      for (; p < end; ++p) {
        if (mEscaped) {
          mEscaped = false;
        } else if (*p == '\\') {
          mEscaped = true;
        } else if (*p == '"') {
          mInString = false;
          ++p;
          break;
        }
      }
      mStringBytes += p - start;
      continue;
    }
    switch (kClasses[*p++]) {
      case kSpace: break;
      case kQuote:
        ++mValues;
        mInString = true;
        mValueExpected = false;
        break;
      case kOpenObject:
        ++mObjects;
        [[fallthrough]];
      case kOpenArray:
        ++mValues;
        mValueExpected = true;
        break;
      case kSeparator: mValueExpected = true; break;
      case kClose: mValueExpected = false; break;
      case kScalar:
      case kBackslash:
        // A number or literal is one value however many bytes it takes.
        if (mValueExpected) ++mValues;
        mValueExpected = false;
        break;
    }
  }
  return withinBudget();
}

}  // namespace orrery
