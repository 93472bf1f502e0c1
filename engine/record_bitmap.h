// TRecordBitmap: a set of record numbers, one bit per record number. Record n (from 1) is bit n mod 8
// of byte n div 8; bit 0 of byte 0 stands for no record. The bytes are kept in 64-bit words (byte k is
// byte k mod 8 of word k div 8, least significant first), so the set operations and counts run a word
// at a time; bits past the byte length are always zero.
#pragma once

#include <cstdint>
#include <vector>

namespace kavrin::engine {

class TRecordBitmap {
 public:
  TRecordBitmap() = default;
  // A zeroed bitmap of slotCount div 8 + 1 bytes: room for record numbers 1 to slotCount.
  explicit TRecordBitmap(std::int32_t slotCount);

  static std::int32_t LengthForSlots(std::int32_t slotCount) { return (slotCount < 0 ? 0 : slotCount) / 8 + 1; }
  std::int32_t Length() const { return length_; }
  std::uint8_t Byte(std::int32_t index) const;

  // Record numbers below 1 and bits beyond the length are ignored: tests answer false.
  bool Test(std::int32_t recordNumber) const;
  void Set(std::int32_t recordNumber);
  void Clear(std::int32_t recordNumber);
  void FillOnes();
  void FillZeros();

  // this := this and source, this or source, not source; over the shorter of the two lengths, the rest
  // of this bitmap left as it is.
  void And(const TRecordBitmap& source);
  void Or(const TRecordBitmap& source);
  void Not(const TRecordBitmap& source);

  // How many of the record numbers 1 to slotCount are set.
  std::int32_t CountBits(std::int32_t slotCount) const;
  // The first set record number after n, up to slotCount: n := it and true, or n := 0 and false.
  bool NextSetBit(std::int32_t& n, std::int32_t slotCount) const;

 private:
  // Clears the bits past the byte length in the last word.
  void TrimTail();
  std::int32_t length_ = 0;
  std::vector<std::uint64_t> words_;
};

}  // namespace kavrin::engine
