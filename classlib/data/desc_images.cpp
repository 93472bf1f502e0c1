// FieldDescImage, 62 bytes, little-endian, zero unless stated:
//   +0  i16 field number          +2  field name, zero-terminated, 32 bytes
//   +34 u16 type                  +36 u16 subtype
//   +38 i16 units1 (size)         +40 i16 units2 (decimals)
//   +42 u16 offset (0)            +44 u16 length (size)
//   +46 u16 null offset (0)       +48 u32 validity-check kind, written 2
//   +52 u32 rights, written 3     +56 u16 calculated flag (0)
//   +58 4 bytes unused
//
// IndexDescImage, 893 bytes, little-endian, zero unless stated:
//   +0   index name, zero-terminated (up to +327)
//   +327 u16 primary   +329 u16 unique   +331 u16 descending   +333 u16 maintained
//   +341 u16 number of key fields        +343 u16 key length
//   +349 16 x i16 key field numbers      +823 u16 case-insensitive
#include "classlib/data/desc_images.h"

#include <algorithm>
#include <cstring>

#include "runtime/code_pages.h"

namespace kavrin::classlib {
namespace {

template <std::size_t N>
void PutU16(std::array<std::uint8_t, N>& bytes, std::size_t at, std::uint16_t value) {
  bytes[at] = static_cast<std::uint8_t>(value);
  bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}
template <std::size_t N>
void PutU32(std::array<std::uint8_t, N>& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}
template <std::size_t N>
std::uint16_t GetU16(const std::array<std::uint8_t, N>& bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}
template <std::size_t N>
void PutText(std::array<std::uint8_t, N>& bytes, std::size_t at, std::size_t room, const std::string& text) {
  std::memcpy(bytes.data() + at, text.data(), std::min(text.size(), room - 1));
}
template <std::size_t N>
std::string GetText(const std::array<std::uint8_t, N>& bytes, std::size_t at, std::size_t room) {
  const auto* begin = bytes.data() + at;
  return std::string(begin, std::find(begin, begin + room, 0));
}

constexpr std::size_t kFieldNameRoom = 32;
constexpr std::size_t kIndexNameRoom = 327;

}  // namespace

std::int16_t FieldDescImage::FieldNumber() const { return static_cast<std::int16_t>(GetU16(bytes_, 0)); }
std::string FieldDescImage::Name() const { return runtime::DescriptorTextToUtf8(StoredName()); }
std::string FieldDescImage::StoredName() const { return GetText(bytes_, 2, kFieldNameRoom); }
std::uint16_t FieldDescImage::Type() const { return GetU16(bytes_, 34); }
std::uint16_t FieldDescImage::Subtype() const { return GetU16(bytes_, 36); }
std::int16_t FieldDescImage::Units1() const { return static_cast<std::int16_t>(GetU16(bytes_, 38)); }
std::int16_t FieldDescImage::Units2() const { return static_cast<std::int16_t>(GetU16(bytes_, 40)); }
std::uint16_t FieldDescImage::Length() const { return GetU16(bytes_, 44); }
std::uint16_t FieldDescImage::Calculated() const { return GetU16(bytes_, 56); }

FieldDescImage FieldDescImage::FromDescriptor(const engine::TFieldDescriptor& field) {
  FieldDescImage image;
  PutU16(image.bytes_, 0, static_cast<std::uint16_t>(field.FieldNumber));
  PutText(image.bytes_, 2, kFieldNameRoom, field.Name);
  PutU16(image.bytes_, 34, field.Type);
  PutU16(image.bytes_, 36, field.Subtype);
  PutU16(image.bytes_, 38, field.Size);
  PutU16(image.bytes_, 40, field.Decimals);
  PutU16(image.bytes_, 44, field.Size);
  PutU32(image.bytes_, 48, 2);
  PutU32(image.bytes_, 52, 3);
  return image;
}

FieldDescImage FieldDescImage::Make(const std::string& name, std::uint16_t type, std::uint16_t subtype,
                                    std::int16_t units1, std::int16_t units2) {
  FieldDescImage image;
  PutText(image.bytes_, 2, kFieldNameRoom, runtime::Utf8ToDescriptorText(name, "Field name"));
  PutU16(image.bytes_, 34, type);
  PutU16(image.bytes_, 36, subtype);
  PutU16(image.bytes_, 38, static_cast<std::uint16_t>(units1));
  PutU16(image.bytes_, 40, static_cast<std::uint16_t>(units2));
  PutU16(image.bytes_, 44, static_cast<std::uint16_t>(units1));
  PutU32(image.bytes_, 48, 2);
  PutU32(image.bytes_, 52, 3);
  return image;
}

IndexDescImage IndexDescImage::Make(const std::string& name, bool primary, bool unique, bool descending,
                                    bool caseInsensitive, const std::vector<std::int16_t>& keyFields) {
  IndexDescImage image;
  PutText(image.bytes_, 0, kIndexNameRoom, runtime::Utf8ToDescriptorText(name, "Index name"));
  PutU16(image.bytes_, 327, primary ? 1 : 0);
  PutU16(image.bytes_, 329, unique ? 1 : 0);
  PutU16(image.bytes_, 331, descending ? 1 : 0);
  PutU16(image.bytes_, 333, 1);
  const std::size_t count = std::min<std::size_t>(keyFields.size(), 16);
  PutU16(image.bytes_, 341, static_cast<std::uint16_t>(count));
  for (std::size_t k = 0; k < count; ++k) PutU16(image.bytes_, 349 + 2 * k, static_cast<std::uint16_t>(keyFields[k]));
  PutU16(image.bytes_, 823, caseInsensitive ? 1 : 0);
  return image;
}

std::string IndexDescImage::Name() const { return runtime::DescriptorTextToUtf8(StoredName()); }
std::string IndexDescImage::StoredName() const { return GetText(bytes_, 0, kIndexNameRoom); }
std::uint16_t IndexDescImage::Primary() const { return GetU16(bytes_, 327); }
std::uint16_t IndexDescImage::Unique() const { return GetU16(bytes_, 329); }
std::uint16_t IndexDescImage::Descending() const { return GetU16(bytes_, 331); }
std::uint16_t IndexDescImage::Maintained() const { return GetU16(bytes_, 333); }
std::uint16_t IndexDescImage::KeyFieldCount() const { return GetU16(bytes_, 341); }
std::uint16_t IndexDescImage::KeyLength() const { return GetU16(bytes_, 343); }
std::int16_t IndexDescImage::KeyField(int k) const {
  return static_cast<std::int16_t>(GetU16(bytes_, 349 + 2 * static_cast<std::size_t>(k)));
}
std::uint16_t IndexDescImage::CaseInsensitive() const { return GetU16(bytes_, 823); }

IndexDescImage IndexDescImage::FromDescriptor(const engine::TIndexDescriptor& index, bool primary) {
  IndexDescImage image;
  if (!primary) PutText(image.bytes_, 0, kIndexNameRoom, index.Name);
  PutU16(image.bytes_, 327, primary ? 1 : 0);
  PutU16(image.bytes_, 329, index.Unique);
  PutU16(image.bytes_, 331, index.Descending);
  PutU16(image.bytes_, 341, index.KeyFieldCount);
  PutU16(image.bytes_, 343, index.KeyLength);
  for (std::size_t k = 0; k < index.KeyFields.size() && k < 16; ++k) {
    PutU16(image.bytes_, 349 + 2 * k, static_cast<std::uint16_t>(index.KeyFields[k]));
  }
  PutU16(image.bytes_, 823, index.CaseInsensitive);
  return image;
}

}  // namespace kavrin::classlib
