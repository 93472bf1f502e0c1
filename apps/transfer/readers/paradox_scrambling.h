// Paradox's scrambling of the data blocks of a table with a password, and the check a password gives.
// Worked out by experiment on tables that an independent writer scrambled.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kavrin::transfer {

// The four bytes of a table header's password check; the first two are the key of the scrambling.
using TParadoxCheck = std::array<std::uint8_t, 4>;

// The check of a password (its first 256 characters count). An empty password gives all zeros, which
// marks a table without one, so it matches no encrypted table.
TParadoxCheck ParadoxPasswordCheck(std::string_view password);

// Undoes the scrambling of data block index (0 for the block after the header) in place; size is the
// table's block size, a multiple of 256.
void UnscrambleParadoxBlock(std::uint8_t* block, std::size_t size, std::uint32_t index, const TParadoxCheck& check);

}  // namespace kavrin::transfer
