// Paradox's scrambling of the data blocks of a table with a password, and the key a password gives.
// Worked out by experiment on tables that an independent writer scrambled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kavrin::transfer {

// The two key bytes a password gives: the first two bytes of the table header's password check.
struct TParadoxKey {
  std::uint8_t Low = 0;
  std::uint8_t High = 0;
  bool operator==(const TParadoxKey&) const = default;
};

// The key of a password (its first 256 characters count); an empty password gives none that a table
// could hold, so it is never a match.
TParadoxKey ParadoxPasswordKey(std::string_view password);

// Undoes the scrambling of data block index (0 for the block after the header) in place; size is the
// table's block size, a multiple of 256.
void UnscrambleParadoxBlock(std::uint8_t* block, std::size_t size, std::uint32_t index, TParadoxKey key);

}  // namespace kavrin::transfer
