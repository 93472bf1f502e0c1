// Data file layout. All numbers little-endian. A short string is a length byte and that many
// characters in a field of fixed width (length byte included); the bytes after the characters are zero
// in files the engine writes and are ignored when read.
//
// File: header (127 bytes) at 0, then FieldCount descriptors of 265 bytes, then the records; record n
// (from 1) begins at 127 + FieldCount * 265 + RecordSize * (n - 1). Records never move.
//
// Header, always stored unscrambled:
//   0  i32   change counter        every header write increments it; other processes compare it
//   4  u32   blob block size       0 reads as 512
//   8  u8    version               2
//   9  u32   deleted-record head   most recently deleted record, 0 for none
//  13  i32   next record number    1 + record slots in the file
//  17  i32   last unique id
//  21  u16   record size           9 + the slots of all fields
//  23  u16   field count           at most 512
//  25  i16   blob field count      fields of type 3, at most 32
//  27  f64   last update           TDateTime of the last header write
//  35  str50 description           its characters scrambled with the header seed when encrypted
//  86  u8    encrypted             1 when the table has a password
//  87  str15 password              its characters scrambled with the header seed
// 103  24    reserved              zero
//
// Field descriptor, scrambled as one unit with the contents seed when encrypted:
//   0  i16   field number          identity across restructures; key field lists use it
//   2  str30 name
//  33  str50 description
//  84  u8    type                  TEngineFieldType
//  85  u8    subtype               TEngineFieldSubtype
//  86  u8    size                  for types 1, 9, 15 only, at most 245
//  87  u8    decimals              for type 8 only
//  88  u16   slot offset           5 for an AutoInc field
//  90  u8    required
//  91  u8    spare                 0
//  92  str50 minimum
// 143  str50 maximum
// 194  str50 default
// 245  20    reserved              zero
//
// Record image, scrambled as one unit with the contents seed when encrypted:
//   0  u8    deleted               1 when the slot is free
//   1  i32   next deleted          next free slot of the chain, 0 at its end
//   5  i32   unique id             also an AutoInc field's value
//   9  ...   field slots           per field but AutoInc: has-value byte, then FieldDataSize bytes
#include "engine/data_file_format.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "engine/byte_order.h"
#include "engine/engine_error.h"
#include "engine/file_handler.h"
#include "engine/scrambling.h"

namespace kavrin::engine {
namespace {

namespace header_at {
constexpr std::size_t ChangeCounter = 0;
constexpr std::size_t BlobBlockSize = 4;
constexpr std::size_t Version = 8;
constexpr std::size_t DeletedChainHead = 9;
constexpr std::size_t NextRecordNumber = 13;
constexpr std::size_t LastUniqueID = 17;
constexpr std::size_t RecordSize = 21;
constexpr std::size_t FieldCount = 23;
constexpr std::size_t BlobFieldCount = 25;
constexpr std::size_t LastUpdate = 27;
constexpr std::size_t Description = 35;
constexpr std::size_t Encrypted = 86;
constexpr std::size_t Password = 87;
}  // namespace header_at

namespace field_at {
constexpr std::size_t FieldNumber = 0;
constexpr std::size_t Name = 2;
constexpr std::size_t Description = 33;
constexpr std::size_t Type = 84;
constexpr std::size_t Subtype = 85;
constexpr std::size_t Size = 86;
constexpr std::size_t Decimals = 87;
constexpr std::size_t SlotOffset = 88;
constexpr std::size_t Required = 90;
constexpr std::size_t Minimum = 92;
constexpr std::size_t Maximum = 143;
constexpr std::size_t Default = 194;
}  // namespace field_at

namespace record_at {
constexpr std::size_t Deleted = 0;
constexpr std::size_t NextDeleted = 1;
constexpr std::size_t UniqueID = 5;
}  // namespace record_at

void StoreShortString(std::uint8_t* p, std::size_t capacity, std::string_view text) {
  const std::size_t length = std::min(text.size(), capacity);
  p[0] = static_cast<std::uint8_t>(length);
  std::memcpy(p + 1, text.data(), length);
  std::memset(p + 1 + length, 0, capacity - length);
}

// A length byte beyond the field's capacity (a damaged file) is cut to the capacity.
std::string LoadShortString(const std::uint8_t* p, std::size_t capacity) {
  const std::size_t length = std::min<std::size_t>(p[0], capacity);
  return std::string(reinterpret_cast<const char*>(p + 1), length);
}

void StoreScrambledShortString(std::uint8_t* p, std::size_t capacity, std::string_view text) {
  StoreShortString(p, capacity, text);
  Scramble(p + 1, p[0], HeaderSeed);
}

std::string LoadScrambledShortString(const std::uint8_t* p, std::size_t capacity) {
  std::string text = LoadShortString(p, capacity);
  Unscramble(reinterpret_cast<std::uint8_t*>(text.data()), text.size(), HeaderSeed);
  return text;
}

}  // namespace

void EncodeDataFileHeader(const TDataFileHeader& header, std::span<std::uint8_t, DataFileHeaderSize> out) {
  std::uint8_t* p = out.data();
  std::memset(p, 0, out.size());
  StoreI32(p + header_at::ChangeCounter, header.ChangeCounter);
  StoreU32(p + header_at::BlobBlockSize, header.BlobBlockSize);
  p[header_at::Version] = header.Version;
  StoreU32(p + header_at::DeletedChainHead, header.DeletedChainHead);
  StoreI32(p + header_at::NextRecordNumber, header.NextRecordNumber);
  StoreI32(p + header_at::LastUniqueID, header.LastUniqueID);
  StoreU16(p + header_at::RecordSize, header.RecordSize);
  StoreU16(p + header_at::FieldCount, header.FieldCount);
  StoreI16(p + header_at::BlobFieldCount, header.BlobFieldCount);
  StoreF64(p + header_at::LastUpdate, header.LastUpdate);
  p[header_at::Encrypted] = header.Encrypted ? 1 : 0;
  if (header.Encrypted) {
    StoreScrambledShortString(p + header_at::Description, HeaderDescriptionLength, header.Description);
    StoreScrambledShortString(p + header_at::Password, HeaderPasswordLength, header.Password);
  } else {
    StoreShortString(p + header_at::Description, HeaderDescriptionLength, header.Description);
    StoreShortString(p + header_at::Password, HeaderPasswordLength, "");
  }
}

TDataFileHeader DecodeDataFileHeader(std::span<const std::uint8_t, DataFileHeaderSize> in) {
  const std::uint8_t* p = in.data();
  TDataFileHeader header;
  header.ChangeCounter = LoadI32(p + header_at::ChangeCounter);
  header.BlobBlockSize = LoadU32(p + header_at::BlobBlockSize);
  header.Version = p[header_at::Version];
  header.DeletedChainHead = LoadU32(p + header_at::DeletedChainHead);
  header.NextRecordNumber = LoadI32(p + header_at::NextRecordNumber);
  header.LastUniqueID = LoadI32(p + header_at::LastUniqueID);
  header.RecordSize = LoadU16(p + header_at::RecordSize);
  header.FieldCount = LoadU16(p + header_at::FieldCount);
  header.BlobFieldCount = LoadI16(p + header_at::BlobFieldCount);
  header.LastUpdate = LoadF64(p + header_at::LastUpdate);
  header.Encrypted = p[header_at::Encrypted] != 0;
  if (header.Encrypted) {
    header.Description = LoadScrambledShortString(p + header_at::Description, HeaderDescriptionLength);
    header.Password = LoadScrambledShortString(p + header_at::Password, HeaderPasswordLength);
  } else {
    header.Description = LoadShortString(p + header_at::Description, HeaderDescriptionLength);
    header.Password = LoadShortString(p + header_at::Password, HeaderPasswordLength);
  }
  return header;
}

void EncodeFieldDescriptor(const TFieldDescriptor& field, std::span<std::uint8_t, FieldDescriptorSize> out) {
  std::uint8_t* p = out.data();
  std::memset(p, 0, out.size());
  StoreI16(p + field_at::FieldNumber, field.FieldNumber);
  StoreShortString(p + field_at::Name, FieldNameLength, field.Name);
  StoreShortString(p + field_at::Description, FieldDescriptionLength, field.Description);
  p[field_at::Type] = field.Type;
  p[field_at::Subtype] = field.Subtype;
  p[field_at::Size] = field.Size;
  p[field_at::Decimals] = field.Decimals;
  StoreU16(p + field_at::SlotOffset, field.SlotOffset);
  p[field_at::Required] = field.Required ? 1 : 0;
  StoreShortString(p + field_at::Minimum, ValidityTextLength, field.Minimum);
  StoreShortString(p + field_at::Maximum, ValidityTextLength, field.Maximum);
  StoreShortString(p + field_at::Default, ValidityTextLength, field.Default);
}

TFieldDescriptor DecodeFieldDescriptor(std::span<const std::uint8_t, FieldDescriptorSize> in) {
  const std::uint8_t* p = in.data();
  TFieldDescriptor field;
  field.FieldNumber = LoadI16(p + field_at::FieldNumber);
  field.Name = LoadShortString(p + field_at::Name, FieldNameLength);
  field.Description = LoadShortString(p + field_at::Description, FieldDescriptionLength);
  field.Type = p[field_at::Type];
  field.Subtype = p[field_at::Subtype];
  field.Size = p[field_at::Size];
  field.Decimals = p[field_at::Decimals];
  field.SlotOffset = LoadU16(p + field_at::SlotOffset);
  field.Required = p[field_at::Required] != 0;
  field.Minimum = LoadShortString(p + field_at::Minimum, ValidityTextLength);
  field.Maximum = LoadShortString(p + field_at::Maximum, ValidityTextLength);
  field.Default = LoadShortString(p + field_at::Default, ValidityTextLength);
  return field;
}

int FieldDataSize(std::uint8_t type, std::uint8_t size) {
  switch (type) {
    case ftString: return size + 1;
    case ftBytes:
    case ftVarBytes: return size;
    case ftBoolean:
    case ftSmallInt:
    case ftWord: return 2;
    case ftFloat:
    case ftBCD:
    case ftTimeStamp: return 8;
    case ftFloat10: return 10;
    case ftDate:
    case ftBlob:
    case ftInteger:
    case ftTime:
    case ftLongWord: return 4;
    default: return size;
  }
}

std::int32_t AssignSlotOffsets(std::vector<TFieldDescriptor>& fields) {
  std::int32_t offset = RecordPrefixSize;
  for (TFieldDescriptor& field : fields) {
    if (field.IsAutoInc()) {
      field.SlotOffset = AutoIncSlotOffset;
      continue;
    }
    field.SlotOffset = static_cast<std::uint16_t>(offset);
    offset += FieldDataSize(field) + 1;
  }
  return offset;
}

std::int64_t RecordOffset(std::uint16_t fieldCount, std::uint16_t recordSize, std::int32_t recordNumber) {
  return static_cast<std::int64_t>(DataFileHeaderSize) +
         static_cast<std::int64_t>(fieldCount) * static_cast<std::int64_t>(FieldDescriptorSize) +
         static_cast<std::int64_t>(recordSize) * (static_cast<std::int64_t>(recordNumber) - 1);
}

void ValidateDataFileHeader(const TDataFileHeader& header, std::string_view fileName) {
  if (header.Version != DataFileVersion) RaiseEngineError(ec::IncorrectVersion, fileName);
  if (header.FieldCount > MaxFieldCount) RaiseEngineError(ec::FieldLimits, fileName);
  if (header.BlobFieldCount < 0 || header.BlobFieldCount > MaxBlobFields ||
      (header.BlobBlockSize != 0 &&
       (header.BlobBlockSize < MinBlobBlockSize || header.BlobBlockSize > MaxBlobBlockSize))) {
    RaiseEngineError(ec::BlobFieldsOrBlockSize, fileName);
  }
  if (header.NextRecordNumber < 1 || header.RecordSize < RecordPrefixSize) {
    RaiseEngineError(ec::HeaderError, fileName);
  }
}

void ValidateFieldDescriptors(const TDataFileHeader& header, const std::vector<TFieldDescriptor>& fields,
                              std::string_view fileName) {
  if (fields.size() != header.FieldCount) RaiseEngineError(ec::HeaderError, fileName);
  std::int32_t slots = 0;
  int blobFields = 0;
  for (const TFieldDescriptor& field : fields) {
    const bool badType = field.Type == ftInvalid || field.Type > MaxEngineFieldType;
    const bool badSize = field.Size > MaxFieldSize;
    bool badSlot;
    if (field.IsAutoInc()) {
      badSlot = field.SlotOffset != AutoIncSlotOffset;
    } else {
      const std::int32_t end = field.SlotOffset + 1 + FieldDataSize(field);
      badSlot = field.SlotOffset < RecordPrefixSize || end > header.RecordSize;
      slots += FieldDataSize(field) + 1;
    }
    if (badType || badSize || badSlot) RaiseEngineError(ec::InvalidFieldDefinition, field.Name);
    if (field.Type == ftBlob) ++blobFields;
  }
  if (RecordPrefixSize + slots != header.RecordSize) RaiseEngineError(ec::HeaderError, fileName);
  if (blobFields != header.BlobFieldCount) RaiseEngineError(ec::BlobFieldsOrBlockSize, fileName);
}

TDataFileLayout DecodeDataFileLayout(std::span<const std::uint8_t> bytes, std::string_view fileName) {
  if (bytes.size() < DataFileHeaderSize) RaiseEngineError(ec::ReadError, fileName);
  TDataFileLayout layout;
  layout.Header = DecodeDataFileHeader(bytes.first<DataFileHeaderSize>());
  ValidateDataFileHeader(layout.Header, fileName);
  const std::size_t end = DataFileHeaderSize + std::size_t{layout.Header.FieldCount} * FieldDescriptorSize;
  if (bytes.size() < end) RaiseEngineError(ec::ReadError, fileName);
  layout.Fields.reserve(layout.Header.FieldCount);
  std::array<std::uint8_t, FieldDescriptorSize> unit;
  for (std::size_t at = DataFileHeaderSize; at < end; at += FieldDescriptorSize) {
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), FieldDescriptorSize, unit.begin());
    if (layout.Header.Encrypted) Unscramble(unit.data(), unit.size(), ContentsSeed);
    layout.Fields.push_back(DecodeFieldDescriptor(unit));
  }
  ValidateFieldDescriptors(layout.Header, layout.Fields, fileName);
  return layout;
}

TRecord::TRecord(TRecordOwner& owner)
    : owner_(&owner), image_(static_cast<std::size_t>(std::max<std::int32_t>(owner.RecordSize(), RecordPrefixSize))) {}

void TRecord::InitNew() {
  std::fill(image_.begin(), image_.end(), 0);
  StoreI32(image_.data() + record_at::UniqueID, owner_->NextUniqueID());
  dirty_ = false;
}

void TRecord::ReadRecord() {
  if (recordNumber_ == 0) return;
  std::fill(image_.begin(), image_.end(), 0);
  TFileHandler& file = owner_->RecordFile();
  file.Seek(owner_->RecordPosition(recordNumber_), 0);
  file.ReadBuffer(image_.data(), static_cast<std::int32_t>(image_.size()));
  dirty_ = false;
}

void TRecord::WriteRecord() {
  if (recordNumber_ == 0) return;
  TFileHandler& file = owner_->RecordFile();
  const std::int64_t position = owner_->RecordPosition(recordNumber_);
  if (file.Seek(position, 0) != position) return;
  file.WriteBuffer(image_.data(), static_cast<std::int32_t>(image_.size()));
  dirty_ = false;
}

bool TRecord::Deleted() const { return image_[record_at::Deleted] != 0; }

void TRecord::SetDeleted(bool deleted) {
  image_[record_at::Deleted] = deleted ? 1 : 0;
  MarkDirty();
}

std::int32_t TRecord::NextDeleted() const { return LoadI32(image_.data() + record_at::NextDeleted); }

void TRecord::SetNextDeleted(std::int32_t recordNumber) {
  StoreI32(image_.data() + record_at::NextDeleted, recordNumber);
  MarkDirty();
}

std::int32_t TRecord::UniqueID() const { return LoadI32(image_.data() + record_at::UniqueID); }

void TRecord::SetUniqueID(std::int32_t id) {
  StoreI32(image_.data() + record_at::UniqueID, id);
  MarkDirty();
}

void TRecord::SetData(const std::uint8_t* image) {
  if (image_.size() > RecordPrefixSize) {
    std::memcpy(image_.data() + RecordPrefixSize, image + RecordPrefixSize, image_.size() - RecordPrefixSize);
  }
  MarkDirty();
}

}  // namespace kavrin::engine
