// The stored form of a BCD field value: a signed 64-bit integer made of the value's digits with exactly
// N decimals followed by the decimal digits of N, so 12.5 with two decimals is 12502 and 7 with none 70.
#pragma once

#include <cstdint>

#include "runtime/currency.h"

namespace kavrin::engine {

// Rounded to min(decimals, 4) places, halves away from zero; 0 stays 0.
runtime::Currency RoundCurrency(int decimals, runtime::Currency value);
runtime::Currency TruncCurrency(runtime::Currency value);  // toward zero
runtime::Currency CurrencyPower(int decimals);             // 0.1 ^ decimals

// Raises 9731 (maximum value exceeded) when the stored form does not fit in 64 bits.
std::int64_t CurrencyToBCD(int decimals, runtime::Currency value);
// Exact integer decoding; raises 9731 when the value does not fit in a Currency.
runtime::Currency BCDToCurrency(std::int64_t stored);

}  // namespace kavrin::engine
