#include "engine/record_bitmap.h"

#include <algorithm>
#include <bit>

namespace kavrin::engine {
namespace {

std::size_t WordsFor(std::int32_t length) { return (static_cast<std::size_t>(length) + 7) / 8; }

// The low bitsInWord bits of a word.
std::uint64_t MaskUpTo(std::int64_t bitsInWord) { return bitsInWord >= 64 ? ~0ull : ((1ull << bitsInWord) - 1); }

}  // namespace

TRecordBitmap::TRecordBitmap(std::int32_t slots) : length_(LengthForSlots(slots)), words_(WordsFor(length_), 0) {}

std::uint8_t TRecordBitmap::Byte(std::int32_t index) const {
  if (index < 0 || index >= length_) return 0;
  return static_cast<std::uint8_t>(words_[static_cast<std::size_t>(index) / 8] >> (8 * (index % 8)));
}

bool TRecordBitmap::Test(std::int32_t n) const {
  if (n < 1 || n / 8 >= length_) return false;
  return (words_[static_cast<std::size_t>(n) / 64] >> (n % 64)) & 1u;
}

void TRecordBitmap::Set(std::int32_t n) {
  if (n < 1 || n / 8 >= length_) return;
  words_[static_cast<std::size_t>(n) / 64] |= 1ull << (n % 64);
}

void TRecordBitmap::Clear(std::int32_t n) {
  if (n < 1 || n / 8 >= length_) return;
  words_[static_cast<std::size_t>(n) / 64] &= ~(1ull << (n % 64));
}

void TRecordBitmap::FillOnes() {
  std::fill(words_.begin(), words_.end(), ~0ull);
  TrimTail();
}

void TRecordBitmap::FillZeros() { std::fill(words_.begin(), words_.end(), 0ull); }

void TRecordBitmap::TrimTail() {
  if (words_.empty()) return;
  const std::int64_t bitsInLast =
      static_cast<std::int64_t>(length_) * 8 - static_cast<std::int64_t>(words_.size() - 1) * 64;
  words_.back() &= MaskUpTo(bitsInLast);
}

namespace {

// Word-wise over the bytes both bitmaps have; in the last common word only those bytes change.
template <typename Op>
void CombineWords(std::vector<std::uint64_t>& target, std::int32_t targetLength,
                  const std::vector<std::uint64_t>& source, std::int32_t sourceLength, Op op) {
  const std::int32_t common = std::min(targetLength, sourceLength);
  const std::size_t n = WordsFor(common);
  if (n == 0) return;
  for (std::size_t i = 0; i + 1 < n; ++i) target[i] = op(target[i], source[i]);
  const std::uint64_t mask = MaskUpTo(static_cast<std::int64_t>(common) * 8 - static_cast<std::int64_t>(n - 1) * 64);
  target[n - 1] = (op(target[n - 1], source[n - 1]) & mask) | (target[n - 1] & ~mask);
}

}  // namespace

void TRecordBitmap::And(const TRecordBitmap& source) {
  CombineWords(words_, length_, source.words_, source.length_, [](std::uint64_t a, std::uint64_t b) { return a & b; });
}

void TRecordBitmap::Or(const TRecordBitmap& source) {
  CombineWords(words_, length_, source.words_, source.length_, [](std::uint64_t a, std::uint64_t b) { return a | b; });
}

void TRecordBitmap::Not(const TRecordBitmap& source) {
  CombineWords(words_, length_, source.words_, source.length_, [](std::uint64_t, std::uint64_t b) { return ~b; });
  TrimTail();
}

std::int32_t TRecordBitmap::CountBits(std::int32_t slots) const {
  const std::int64_t last = std::min<std::int64_t>(slots, static_cast<std::int64_t>(length_) * 8 - 1);
  if (last < 1) return 0;
  const std::size_t lastWord = static_cast<std::size_t>(last / 64);
  std::int64_t count = 0;
  for (std::size_t i = 0; i < lastWord; ++i) count += std::popcount(words_[i]);
  count += std::popcount(words_[lastWord] & MaskUpTo(last % 64 + 1));
  count -= words_[0] & 1u;  // bit 0 stands for no record
  return static_cast<std::int32_t>(count);
}

bool TRecordBitmap::NextSetBit(std::int32_t& n, std::int32_t slots) const {
  const std::int64_t last = std::min<std::int64_t>(slots, static_cast<std::int64_t>(length_) * 8 - 1);
  std::int64_t from = std::max<std::int64_t>(static_cast<std::int64_t>(n) + 1, 1);
  while (from <= last) {
    const std::size_t word = static_cast<std::size_t>(from / 64);
    const std::uint64_t bits = words_[word] & ~MaskUpTo(from % 64);
    if (bits != 0) {
      const std::int64_t found = static_cast<std::int64_t>(word) * 64 + std::countr_zero(bits);
      if (found > last) break;
      n = static_cast<std::int32_t>(found);
      return true;
    }
    from = static_cast<std::int64_t>(word + 1) * 64;
  }
  n = 0;
  return false;
}

}  // namespace kavrin::engine
