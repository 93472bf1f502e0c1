// Keys: the one encoding of a record's fields that every index stores, compares as bytes, and that
// ranges, searches and bookmarks use.
#include <algorithm>
#include <array>
#include <cstring>

#include "engine/blob_file.h"
#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/engine_error.h"
#include "engine/index_file.h"
#include "engine/key_encoders.h"
#include "runtime/code_pages.h"

namespace kavrin::engine {
namespace {

constexpr std::size_t kIdBytes = 4;

// The order-preserving form of one stored value; width is the field's data size.
void EncodeKeyPart(const TFieldDescriptor& field, const std::uint8_t* value, bool caseInsensitive,
                   std::uint8_t* out) {
  const std::size_t width = FieldDataSize(field);
  switch (field.Type) {
    case ftString: {
      const std::size_t length = std::find(value, value + field.Size, 0) - value;
      std::memcpy(out, value, length);
      if (caseInsensitive) runtime::AnsiUpperBytes(out, length);
      break;
    }
    case ftDate:
    case ftInteger:
    case ftTime:
      IntegerToKey(LoadI32(value), out);
      break;
    case ftBoolean:
    case ftWord:
      WordToKey(LoadU16(value), out);
      break;
    case ftSmallInt:
      SmallIntToKey(LoadI16(value), out);
      break;
    case ftFloat:
    case ftTimeStamp:
      FloatToKey(LoadF64(value), out);
      break;
    case ftBCD:
      Int64ToKey(LoadI64(value), out);
      break;
    default:
      std::memcpy(out, value, width);
      break;
  }
}

}  // namespace

void TDataFile::BuildKey(std::uint8_t index, const std::uint8_t* fieldsImage, const std::uint8_t* idImage,
                         std::uint8_t* key) const {
  const TIndexDescriptor descriptor = indexFile_->GetDescriptor(index);
  std::memset(key, 0, descriptor.KeyLength);
  std::array<std::uint8_t, 256> value;
  std::size_t at = 0;
  for (int i = 0; i < descriptor.KeyFieldCount && i < MaxKeyFields; ++i) {
    const TFieldDescriptor* field = FindField(descriptor.KeyFields[static_cast<std::size_t>(i)]);
    if (!field) Raise(ec::InvalidFieldNumber);
    const std::size_t width = FieldDataSize(*field);
    // A descriptor whose key length does not hold its fields is damage; never write past the key.
    if (at + 1 + width > descriptor.KeyLength) RaiseEngineError(ec::InvalidKeySize, descriptor.Name);
    bool isNull = true;
    GetField(field->FieldNumber, fieldsImage, isNull, value.data());
    key[at] = isNull ? 0 : 1;
    EncodeKeyPart(*field, value.data(), descriptor.CaseInsensitive != 0, key + at + 1);
    at += 1 + width;
  }
  if (index >= 1 && index <= MaxSecondaryIndexes && !descriptor.Unique) {
    if (at + kIdBytes > descriptor.KeyLength) RaiseEngineError(ec::InvalidKeySize, descriptor.Name);
    IntegerToKey(LoadI32(idImage + AutoIncSlotOffset), key + at);
  }
}

void TDataFile::BuildDeletedKey(const std::uint8_t* image, std::uint8_t* key, const std::uint8_t* idImage) {
  key[0] = image[0];
  IntegerToKey(LoadI32(idImage + AutoIncSlotOffset), key + 1);
}

void TDataFile::SyncIndexPosition() {
  std::array<std::uint8_t, PageEntryArea> key{};
  if (currentRecord_) BuildKey(indexFile_->CurrentIndex(), currentRecord_->Buffer(), currentRecord_->Buffer(), key.data());
  indexFile_->ApplyRange();
  indexFile_->FindKey(std::span<const std::uint8_t>(key.data(), indexFile_->KeyLength()), true, false);
}

std::uint8_t TDataFile::KeyFieldType(std::int16_t fieldNumber) const {
  const TFieldDescriptor* field = FindField(fieldNumber);
  return field ? field->Type : static_cast<std::uint8_t>(ftInvalid);
}

std::span<const std::uint8_t> TDataFile::RecordImage(std::int32_t recordNumber) {
  if (recordNumber < 1 || recordNumber >= header_.NextRecordNumber) return {};
  TRecord* record = FetchRecord(recordNumber);
  return {record->Buffer(), record->BufferSize()};
}

std::int32_t TDataFile::GetBlobReference(std::int16_t fieldNumber, const std::uint8_t* image) const {
  const TFieldDescriptor* field = FindField(fieldNumber);
  if (!field || field->Type != ftBlob) Raise(ec::InvalidBlobField);
  return LoadI32(image + field->SlotOffset + 1);
}

void TDataFile::SetBlobReference(std::int16_t fieldNumber, std::uint8_t* image, std::int32_t reference) {
  const TFieldDescriptor* field = FindField(fieldNumber);
  if (!field || field->Type != ftBlob) Raise(ec::InvalidBlobField);
  image[field->SlotOffset] = reference != 0 ? 1 : 0;
  StoreI32(image + field->SlotOffset + 1, reference);
}

}  // namespace kavrin::engine
