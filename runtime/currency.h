// Currency: a fixed-point number with four decimals, held as a 64-bit integer scaled by 10,000.
#pragma once

#include <compare>
#include <cstdint>

namespace kavrin::runtime {

class Currency {
 public:
  static constexpr std::int64_t Scale = 10000;

  constexpr Currency() = default;
  static constexpr Currency FromRaw(std::int64_t raw) {
    Currency c;
    c.raw_ = raw;
    return c;
  }
  // Whole units; raises EConvertError when the value does not fit.
  static Currency FromInt(std::int64_t units);
  // Rounded to four decimals, halves to even as the class library does; raises EConvertError for NaN,
  // infinities and values out of range.
  static Currency FromDouble(double value);

  constexpr std::int64_t Raw() const { return raw_; }
  double ToDouble() const { return static_cast<double>(raw_) / Scale; }

  constexpr auto operator<=>(const Currency&) const = default;

 private:
  std::int64_t raw_ = 0;
};

}  // namespace kavrin::runtime
