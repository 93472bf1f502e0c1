// The scrambling stream of tables with a password. Byte i of a buffer is XORed with (H - i) and with
// (L + i), modulo 256; XOR undoes itself, so one routine both scrambles and unscrambles. The stream
// restarts at the first byte of every buffer, which is why each unit of a table file (header text,
// descriptor, record, page, block) is always read and written whole.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kavrin::engine {

struct TScrambleSeed {
  std::uint8_t H;
  std::uint8_t L;
};

inline constexpr TScrambleSeed ContentsSeed{143, 201};
inline constexpr TScrambleSeed HeaderSeed{58, 172};

inline void Scramble(std::uint8_t* buffer, std::size_t length, TScrambleSeed seed) {
  std::uint8_t h = seed.H;
  std::uint8_t l = seed.L;
  for (std::size_t i = 0; i < length; ++i) {
    buffer[i] = static_cast<std::uint8_t>(buffer[i] ^ h ^ l);
    ++l;
    --h;
  }
}

inline void Unscramble(std::uint8_t* buffer, std::size_t length, TScrambleSeed seed) { Scramble(buffer, length, seed); }

}  // namespace kavrin::engine
