// FieldDescImage and IndexDescImage: the field and index records, laid out like the class library's
// database engine descriptors, through which the engine's definitions become field and index
// definitions. The byte layouts are written down in desc_images.cpp. Names are held as the engine stores
// them, in Windows-1252; Name() and Make() speak UTF-8 (runtime's descriptor text routines).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/data_file_format.h"
#include "engine/index_format.h"

namespace kavrin::classlib {

class FieldDescImage {
 public:
  static constexpr std::size_t Size = 62;
  std::int16_t FieldNumber() const;
  std::string Name() const;
  std::string StoredName() const;
  std::uint16_t Type() const;
  std::uint16_t Subtype() const;
  std::int16_t Units1() const;
  std::int16_t Units2() const;
  std::uint16_t Length() const;
  std::uint16_t Calculated() const;
  const std::array<std::uint8_t, Size>& Bytes() const { return bytes_; }

  // From an engine field descriptor.
  static FieldDescImage FromDescriptor(const engine::TFieldDescriptor& field);
  // A new definition: offsets 0, validity-check kind 2, rights 3, length units1. A name Windows-1252
  // cannot hold raises EConvertError.
  static FieldDescImage Make(const std::string& name, std::uint16_t type, std::uint16_t subtype, std::int16_t units1,
                             std::int16_t units2);

 private:
  std::array<std::uint8_t, Size> bytes_{};
};

class IndexDescImage {
 public:
  static constexpr std::size_t Size = 893;
  std::string Name() const;
  std::string StoredName() const;
  std::uint16_t Primary() const;
  std::uint16_t Unique() const;
  std::uint16_t Descending() const;
  std::uint16_t Maintained() const;
  std::uint16_t KeyFieldCount() const;
  std::uint16_t KeyLength() const;
  std::int16_t KeyField(int k) const;  // k from 0 to 15
  std::uint16_t CaseInsensitive() const;
  const std::array<std::uint8_t, Size>& Bytes() const { return bytes_; }

  // From the engine's descriptor of index n (0 the primary index).
  static IndexDescImage FromDescriptor(const engine::TIndexDescriptor& index, bool primary);
  // A new definition, maintained; at most 16 key fields are kept. A name Windows-1252 cannot hold
  // raises EConvertError.
  static IndexDescImage Make(const std::string& name, bool primary, bool unique, bool descending, bool caseInsensitive,
                             const std::vector<std::int16_t>& keyFields);

 private:
  std::array<std::uint8_t, Size> bytes_{};
};

}  // namespace kavrin::classlib
