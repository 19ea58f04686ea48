#pragma once
// An exact decimal number: an integer mantissa times a power of ten. Prices travel in it so
// that "9.99" times a million is exactly 9990000, as binary floating point could not promise.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace telemetry {

class ANADecimal {
 public:
  constexpr ANADecimal(int64_t mantissa, int32_t exponent) : mMantissa(mantissa), mExponent(exponent) {}

  // Reads "[+-]digits[.digits][e[+-]digits]"; nothing for any other text or for more
  // significant digits than 18.
  static std::optional<ANADecimal> fromString(std::string_view text);

  // The same value times 10^n (exact).
  ANADecimal multipliedByPowerOf10(int32_t n) const;

  int64_t mantissa() const { return mMantissa; }
  int32_t exponent() const { return mExponent; }
  bool isWhole() const;
  // Plain decimal notation ("9990000", "-0.25").
  std::string description() const;
  // An integer when the value is whole and fits 64 bits, else the nearest double.
  nlohmann::ordered_json jsonValue() const;

 private:
  ANADecimal normalized() const;
  int64_t mMantissa;
  int32_t mExponent;
};

}  // namespace telemetry
