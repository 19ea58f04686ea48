#include "sdk/analytics/ana_decimal.h"

#include <charconv>
#include <cstdlib>
#include <limits>

namespace telemetry {

namespace {
constexpr int kMaxDigits = 18;
constexpr int32_t kMaxExponent = 100000;  // keeps exponent arithmetic far from overflow
}  // namespace

std::optional<ANADecimal> ANADecimal::fromString(std::string_view text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::string digits;
  int64_t exponent = 0;
  bool inFraction = false;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c == '.' && !inFraction) {
      inFraction = true;
      continue;
    }
    if (c < '0' || c > '9') break;
    digits += c;
    if (inFraction) --exponent;
    if (exponent < -kMaxExponent) return std::nullopt;
  }
  if (digits.empty()) return std::nullopt;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool expNegative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) expNegative = text[i++] == '-';
    int64_t e = 0;
    auto [end, ec] = std::from_chars(text.data() + i, text.data() + text.size(), e);
    if (ec != std::errc() || end == text.data() + i || e > kMaxExponent) return std::nullopt;
    i = static_cast<size_t>(end - text.data());
    exponent += expNegative ? -e : e;
  }
  if (i != text.size()) return std::nullopt;
  // Only significant digits count: zeros in front say nothing, zeros behind move the exponent.
  size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) return ANADecimal(0, 0);
  size_t last = digits.find_last_not_of('0');
  exponent += static_cast<int64_t>(digits.size() - 1 - last);
  if (last - first + 1 > static_cast<size_t>(kMaxDigits)) return std::nullopt;
  if (exponent > kMaxExponent || exponent < -kMaxExponent) return std::nullopt;
  int64_t mantissa = 0;
  for (size_t k = first; k <= last; ++k) mantissa = mantissa * 10 + (digits[k] - '0');
  return ANADecimal(negative ? -mantissa : mantissa, static_cast<int32_t>(exponent));
}

ANADecimal ANADecimal::normalized() const {
  if (mMantissa == 0) return ANADecimal(0, 0);
  int64_t m = mMantissa;
  int32_t e = mExponent;
  while (m % 10 == 0) {
    m /= 10;
    ++e;
  }
  return ANADecimal(m, e);
}

ANADecimal ANADecimal::multipliedByPowerOf10(int32_t n) const {
  int64_t e = static_cast<int64_t>(mExponent) + n;
  if (e > kMaxExponent) e = kMaxExponent;
  if (e < -kMaxExponent) e = -kMaxExponent;
  return ANADecimal(mMantissa, static_cast<int32_t>(e)).normalized();
}

bool ANADecimal::isWhole() const { return normalized().mExponent >= 0; }

std::string ANADecimal::description() const {
  ANADecimal d = normalized();
  bool negative = d.mMantissa < 0;
  std::string digits = std::to_string(d.mMantissa);
  if (negative) digits.erase(0, 1);
  if (d.mExponent >= 0) {
    if (d.mMantissa != 0) digits.append(static_cast<size_t>(d.mExponent), '0');
  } else {
    size_t fraction = static_cast<size_t>(-static_cast<int64_t>(d.mExponent));
    std::string padded = digits.size() <= fraction ? std::string(fraction - digits.size() + 1, '0') + digits : digits;
    digits = padded.substr(0, padded.size() - fraction) + "." + padded.substr(padded.size() - fraction);
  }
  return negative ? "-" + digits : digits;
}

nlohmann::ordered_json ANADecimal::jsonValue() const {
  ANADecimal d = normalized();
  if (d.mExponent >= 0 && d.mExponent <= kMaxDigits) {
    int64_t value = d.mMantissa;
    bool fits = true;
    for (int32_t k = 0; k < d.mExponent && fits; ++k) {
      if (value > std::numeric_limits<int64_t>::max() / 10 || value < std::numeric_limits<int64_t>::min() / 10)
        fits = false;
      else
        value *= 10;
    }
    if (fits) return value;
  }
  std::string text = d.description();
  double value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc()) return nullptr;  // beyond what a JSON number can carry
  return value;
}

}  // namespace telemetry
