#include "runtime/currency.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "runtime/conversions.h"

namespace kavrin::runtime {

namespace {

using Int128 = __int128;

constexpr std::int64_t kRawMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kRawMax = std::numeric_limits<std::int64_t>::max();

[[noreturn]] void RaiseOutOfRange(const std::string& text) {
  throw EConvertError("'" + text + "' is not a valid currency value");
}

}  // namespace

Currency Currency::FromInt(std::int64_t units) {
  if (units > kRawMax / Scale || units < kRawMin / Scale) RaiseOutOfRange(std::to_string(units));
  return FromRaw(units * Scale);
}

Currency Currency::FromDouble(double value) {
  if (!std::isfinite(value) || std::fabs(value) >= 1e15) RaiseOutOfRange(FloatToStr(value));
  if (value == 0.0) return Currency{};
  // value = mantissa * 2^exponent exactly; scaling and rounding in 128-bit integers keep it exact, so a
  // tie is a true tie of the binary value rather than an artefact of multiplying in double.
  int exponent = 0;
  double fraction = std::frexp(std::fabs(value), &exponent);
  auto mantissa = static_cast<std::int64_t>(std::ldexp(fraction, 53));
  exponent -= 53;
  Int128 scaled = static_cast<Int128>(mantissa) * Scale;
  Int128 raw = 0;
  if (exponent >= 0) {
    raw = scaled << exponent;  // |value| < 1e15 keeps this far below 2^127
  } else if (exponent > -120) {
    int shift = -exponent;
    Int128 one = 1;
    Int128 quotient = scaled >> shift;
    Int128 remainder = scaled & ((one << shift) - 1);
    Int128 half = one << (shift - 1);
    if (remainder > half || (remainder == half && (quotient & 1) != 0)) ++quotient;
    raw = quotient;
  }
  if (value < 0) raw = -raw;
  if (raw < kRawMin || raw > kRawMax) RaiseOutOfRange(FloatToStr(value));
  return FromRaw(static_cast<std::int64_t>(raw));
}

}  // namespace kavrin::runtime
