// A set of enumeration values, the class library's "set of" types (options, button sets, styles).
#pragma once

#include <cstdint>
#include <initializer_list>

namespace kavrin::classlib {

template <class E>
class TSetOf {
 public:
  constexpr TSetOf() = default;
  constexpr TSetOf(std::initializer_list<E> items) {
    for (E e : items) Include(e);
  }
  constexpr bool Has(E e) const { return (bits_ >> static_cast<unsigned>(e)) & 1u; }
  constexpr TSetOf& Include(E e) {
    bits_ |= std::uint64_t{1} << static_cast<unsigned>(e);
    return *this;
  }
  constexpr TSetOf& Exclude(E e) {
    bits_ &= ~(std::uint64_t{1} << static_cast<unsigned>(e));
    return *this;
  }
  constexpr TSetOf& Set(E e, bool on) { return on ? Include(e) : Exclude(e); }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr std::uint64_t Bits() const { return bits_; }
  constexpr bool operator==(const TSetOf&) const = default;

 private:
  std::uint64_t bits_ = 0;
};

}  // namespace kavrin::classlib
