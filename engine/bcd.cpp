#include "engine/bcd.h"

#include <limits>
#include <string>

#include "engine/engine_error.h"

namespace kavrin::engine {
namespace {

using runtime::Currency;
using Wide = __int128;

constexpr int kCurrencyDecimals = 4;

Wide PowerOfTen(int exponent) {
  Wide result = 1;
  for (int i = 0; i < exponent; ++i) result *= 10;
  return result;
}

int DecimalDigits(int value) { return static_cast<int>(std::to_string(value).size()); }

[[noreturn]] void RaiseOverflow() { RaiseEngineError(ec::MaximumExceeded, ""); }

}  // namespace

Currency TruncCurrency(Currency value) { return Currency::FromRaw(value.Raw() / Currency::Scale * Currency::Scale); }

Currency CurrencyPower(int decimals) {
  if (decimals < 0 || decimals > kCurrencyDecimals) return Currency::FromRaw(0);
  return Currency::FromRaw(static_cast<std::int64_t>(PowerOfTen(kCurrencyDecimals - decimals)));
}

Currency RoundCurrency(int decimals, Currency value) {
  if (value.Raw() == 0) return value;
  const int kept = decimals < 0 ? 0 : (decimals < kCurrencyDecimals ? decimals : kCurrencyDecimals);
  const Wide unit = PowerOfTen(kCurrencyDecimals - kept);
  Wide raw = value.Raw();
  raw = raw >= 0 ? (raw + unit / 2) / unit * unit : (raw - unit / 2) / unit * unit;
  if (raw > std::numeric_limits<std::int64_t>::max() || raw < std::numeric_limits<std::int64_t>::min()) {
    RaiseOverflow();
  }
  return Currency::FromRaw(static_cast<std::int64_t>(raw));
}

std::int64_t CurrencyToBCD(int decimals, Currency value) {
  if (decimals < 0 || decimals > 99) RaiseOverflow();
  const Wide rounded = RoundCurrency(decimals, value).Raw();
  const bool negative = rounded < 0;
  Wide digits = negative ? -rounded : rounded;
  // The rounded value has at most min(decimals, 4) places, so scaling down is exact.
  if (decimals <= kCurrencyDecimals) {
    digits /= PowerOfTen(kCurrencyDecimals - decimals);
  } else {
    digits *= PowerOfTen(decimals - kCurrencyDecimals);
  }
  const Wide stored = digits * PowerOfTen(DecimalDigits(decimals)) + decimals;
  const Wide limit = negative ? -static_cast<Wide>(std::numeric_limits<std::int64_t>::min())
                              : static_cast<Wide>(std::numeric_limits<std::int64_t>::max());
  if (stored > limit) RaiseOverflow();
  return static_cast<std::int64_t>(negative ? -stored : stored);
}

Currency BCDToCurrency(std::int64_t stored) {
  const bool negative = stored < 0;
  Wide magnitude = negative ? -static_cast<Wide>(stored) : static_cast<Wide>(stored);
  const int decimals = static_cast<int>(magnitude % 10);
  magnitude /= 10;
  Wide raw;
  if (decimals <= kCurrencyDecimals) {
    raw = magnitude * PowerOfTen(kCurrencyDecimals - decimals);
  } else {
    // More places than a Currency holds: round half to even, as text-to-currency conversion does.
    const Wide unit = PowerOfTen(decimals - kCurrencyDecimals);
    raw = magnitude / unit;
    const Wide rest = magnitude % unit;
    if (rest * 2 > unit || (rest * 2 == unit && (raw & 1))) ++raw;
  }
  if (negative) raw = -raw;
  if (raw > std::numeric_limits<std::int64_t>::max() || raw < std::numeric_limits<std::int64_t>::min()) {
    RaiseOverflow();
  }
  return Currency::FromRaw(static_cast<std::int64_t>(raw));
}

}  // namespace kavrin::engine
