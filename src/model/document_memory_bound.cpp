#include "model/document_memory_bound.h"

#include <algorithm>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace orrery {

namespace {

#if defined(__SSE2__)
// The bytes of one 64-byte block that matter here, bit i for byte i.
struct BlockMasks {
  std::uint64_t quote = 0;
  std::uint64_t backslash = 0;
  std::uint64_t object = 0;
  std::uint64_t value = 0;  // "{", "[", "," and ":"
};

std::uint64_t matches(__m128i a, __m128i b, __m128i c, __m128i d, char byte) {
  const __m128i wanted = _mm_set1_epi8(byte);
  auto bits = [&](__m128i bytes) {
    return std::uint64_t(std::uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, wanted))));
  };
  return bits(a) | bits(b) << 16 | bits(c) << 32 | bits(d) << 48;
}

BlockMasks classify(const std::uint8_t* block) {
  const auto* const lanes = reinterpret_cast<const __m128i*>(block);
  const __m128i a = _mm_loadu_si128(lanes), b = _mm_loadu_si128(lanes + 1), c = _mm_loadu_si128(lanes + 2),
                d = _mm_loadu_si128(lanes + 3);
  BlockMasks masks;
  masks.quote = matches(a, b, c, d, '"');
  masks.backslash = matches(a, b, c, d, '\\');
  masks.object = matches(a, b, c, d, '{');
  masks.value = masks.object | matches(a, b, c, d, '[') | matches(a, b, c, d, ',') | matches(a, b, c, d, ':');
  return masks;
}

// Bit i set when an odd number of bits up to and including i are set.
std::uint64_t prefixXor(std::uint64_t bits) {
  bits ^= bits << 1;
  bits ^= bits << 2;
  bits ^= bits << 4;
  bits ^= bits << 8;
  bits ^= bits << 16;
  return bits ^ bits << 32;
}

// The bytes a backslash escapes: the one after each backslash that is not itself escaped.
// `pending` carries an escape from the end of one block into the next.
std::uint64_t escapedBytes(std::uint64_t backslash, bool& pending) {
  constexpr std::uint64_t kEvenBits = 0x5555555555555555ULL;
  const std::uint64_t carried = pending ? 1 : 0;
  backslash &= ~carried;
  const std::uint64_t followsBackslash = (backslash << 1) | carried;
  // Runs of backslashes starting on an odd bit, added to the runs, carry into the bit after each
  // run: adding flips the parity of where the escaped byte falls.
  const std::uint64_t oddStarts = backslash & ~kEvenBits & ~followsBackslash;
  std::uint64_t sum = 0;
  pending = __builtin_add_overflow(oddStarts, backslash, &sum);
  return (kEvenBits ^ (sum << 1)) & followsBackslash;
}

// Without the processor's instruction the standard function is a library call per block.
int bitCount(std::uint64_t bits) {
  bits -= (bits >> 1) & 0x5555555555555555ULL;
  bits = (bits & 0x3333333333333333ULL) + ((bits >> 2) & 0x3333333333333333ULL);
  bits = (bits + (bits >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
  return int((bits * 0x0101010101010101ULL) >> 56);
}
#endif

}  // namespace

DocumentMemoryBound::DocumentMemoryBound(qint64 fileBytes)
    : mBudget(std::max(kMinBudget, std::max<qint64>(fileBytes, 0) * kBudgetPerFileByte)) {}

bool DocumentMemoryBound::add(std::string_view text) {
  mTextBytes += qint64(text.size());
  const auto* p = reinterpret_cast<const std::uint8_t*>(text.data());
  const auto* const end = p + text.size();
#if defined(__SSE2__)
  // The scan runs over every byte of every document opened: 64 bytes at a time.
  qint64 stringBytes = 0, values = 0, objects = 0;
  bool escaped = mEscaped;
  std::uint64_t inStringBefore = mInString ? ~std::uint64_t(0) : 0;
  for (; end - p >= 64; p += 64) {
    const BlockMasks masks = classify(p);
    const std::uint64_t quotes =
        masks.backslash || escaped ? masks.quote & ~escapedBytes(masks.backslash, escaped) : masks.quote;
    const std::uint64_t inString = prefixXor(quotes) ^ inStringBefore;
    stringBytes += bitCount(inString);
    values += bitCount(masks.value & ~inString);
    objects += bitCount(masks.object & ~inString);
    inStringBefore = std::uint64_t(std::int64_t(inString) >> 63);
  }
  mStringBytes += stringBytes;
  mValues += values;
  mObjects += objects;
  mEscaped = escaped;
  mInString = inStringBefore != 0;
#endif
  scan(p, end);
  return withinBudget();
}

void DocumentMemoryBound::scan(const std::uint8_t* p, const std::uint8_t* end) {
  for (; p < end; ++p) {
    const std::uint8_t c = *p;
    if (mInString) {
      // Braces, commas and quotes inside a string are no values. A string's bytes are its
      // opening quote and its content, as the blocks count them.
      if (mEscaped) {
        mEscaped = false;
      } else if (c == '\\') {
        mEscaped = true;
      } else if (c == '"') {
        mInString = false;
        continue;
      }
      ++mStringBytes;
    } else if (c == '"') {
      mInString = true;
      ++mStringBytes;
    } else if (c == '{') {
      ++mObjects;
      ++mValues;
    } else if (c == '[' || c == ',' || c == ':') {
      ++mValues;
    }
  }
}

}  // namespace orrery
