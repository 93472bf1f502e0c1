// Keys: the one encoding of a record's fields that every index stores, compares as bytes, and that
// ranges, searches and bookmarks use.
#include <algorithm>
#include <array>
#include <cstring>

#include "engine/blob_file.h"
#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/data_file_sections.h"
#include "engine/engine_error.h"
#include "engine/index_file.h"
#include "engine/key_encoders.h"
#include "engine/key_encoding.h"
#include "engine/primitives.h"
#include "runtime/code_pages.h"

namespace kavrin::engine {
namespace {

constexpr std::size_t kIdBytes = 4;

}  // namespace

void TDataFile::BuildKey(std::uint8_t index, const std::uint8_t* fieldsImage, const std::uint8_t* idImage,
                         std::uint8_t* key) const {
  const TIndexDescriptor& descriptor = indexFile_->Descriptor(index);
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
    EncodeKeyPart(*field, isNull, value.data(), descriptor.CaseInsensitive != 0, key + at);
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

namespace {
bool useInsertedSpot = true;
}  // namespace

void TDataFile::SetInsertedSpotUse(bool use) { useInsertedSpot = use; }

void TDataFile::SyncIndexPosition() { FindIndexPosition(false); }

void TDataFile::SyncIndexPositionAfterChange() { FindIndexPosition(true); }

void TDataFile::FindIndexPosition(bool afterChange) {
  std::array<std::uint8_t, PageEntryArea> key{};
  if (currentRecord_)
    BuildKey(indexFile_->CurrentIndex(), currentRecord_->Buffer(), currentRecord_->Buffer(), key.data());
  // After another process's change the data header is read first, so the range and the record
  // bitmap cover every slot it added.
  CheckHeaderChanged();
  indexFile_->ApplyRange();
  BuildFilterBitmap();
  const std::span<const std::uint8_t> span(key.data(), indexFile_->KeyLength());
  // After this cursor's own change on an exclusive table the insert's descent may already have left
  // the index on the key, so it need not be searched for again.
  bool placed = false;
  if (afterChange) {
    placed = useInsertedSpot && currentRecord_ && Exclusive() && !InMemory() && FilterCount() == 0 &&
             indexFile_->PlaceOnInsertedKey(span, currentRecord_->RecordNumber());
    indexFile_->ForgetInsertedSpot();
  }
  if (!placed) indexFile_->FindKey(span, true, true);
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

namespace kavrin::engine {

std::size_t TDataFile::KeyPrefixLength(std::int32_t fieldCount) const {
  const TIndexDescriptor descriptor = indexFile_->GetDescriptor(indexFile_->CurrentIndex());
  std::size_t length = 0;
  for (std::int32_t i = 0; i < fieldCount && i < descriptor.KeyFieldCount && i < MaxKeyFields; ++i) {
    const TFieldDescriptor* field = FindField(descriptor.KeyFields[static_cast<std::size_t>(i)]);
    if (!field) Raise(ec::InvalidFieldNumber);
    length += FieldDataSize(*field) + 1u;
  }
  return std::min<std::size_t>(length, indexFile_->KeyLength());
}

void TDataFile::ObtainKey(bool directKey, const std::uint8_t* keyOrImage, std::uint8_t* key) const {
  std::memset(key, 0, PageEntryArea);
  if (directKey) {
    std::memcpy(key, keyOrImage, indexFile_->KeyLength());
  } else {
    BuildKey(indexFile_->CurrentIndex(), keyOrImage, keyOrImage, key);
  }
}

bool TDataFile::FindKey(bool directKey, const std::uint8_t* keyOrImage, std::uint8_t* buffer, std::int32_t fieldCount,
                        bool nearest, std::uint8_t partialLength) {
  if (!keyOrImage) return false;
  TCursorGuard guard(*this);
  TReadSection section(*this);
  std::array<std::uint8_t, PageEntryArea> key;
  ObtainKey(directKey, keyOrImage, key.data());
  const std::uint8_t active = indexFile_->CurrentIndex();
  const std::uint8_t keyFields = indexFile_->KeyFieldCount(active);
  const bool uniqueOrder = active == 0 || indexFile_->Unique();
  const std::size_t keyLength = indexFile_->KeyLength();
  bool found;
  if ((fieldCount <= 0 || fieldCount >= keyFields) && uniqueOrder && (fieldCount != 0 || partialLength == 0)) {
    found = indexFile_->FindKey(std::span<const std::uint8_t>(key.data(), keyLength), nearest, false);
  } else {
    std::int32_t wholeFields = fieldCount;
    if (!uniqueOrder && fieldCount == 0 && partialLength == 0) wholeFields = keyFields;
    std::size_t prefix = KeyPrefixLength(wholeFields) + (partialLength > 0 ? partialLength + 1u : 0u);
    prefix = std::min(prefix, keyLength);  // a partial length never reaches past the key
    std::memset(key.data() + prefix, indexFile_->Descending() ? 0xFF : 0x00, keyLength - prefix);
    indexFile_->FindKey(std::span<const std::uint8_t>(key.data(), keyLength), true, false);
    const std::vector<std::uint8_t> atCursor = indexFile_->CurrentKey();
    found = !atCursor.empty() && !indexFile_->Eof() &&
            TIndexFile::CompareKeys(atCursor.data(), key.data(), indexFile_->Descending(), prefix) == 0;
  }
  if (indexFile_->Eof()) indexFile_->LastKey();  // a search past the last key rests on the last record
  section.Finish();
  CopyCurrent(buffer);
  return found;
}

void TDataFile::SetRange(bool directKey, const std::uint8_t* start, std::int32_t startFieldCount,
                         const std::uint8_t* end, std::int32_t endFieldCount) {
  TCursorGuard guard(*this);
  TReadSection section(*this);
  const std::uint8_t active = indexFile_->CurrentIndex();
  const std::uint8_t keyFields = indexFile_->KeyFieldCount(active);
  const bool uniqueOrder = active == 0 || indexFile_->Unique();
  const std::size_t keyLength = indexFile_->KeyLength();
  const bool descending = indexFile_->Descending() != 0;
  // An unset bound is open: the lowest key of the index order for the start, the highest for the end.
  auto bound = [&](const std::uint8_t* given, std::int32_t fieldCount, bool isStart) {
    std::array<std::uint8_t, PageEntryArea> key{};
    const std::uint8_t low = descending ? 0xFF : 0x00;
    const std::uint8_t high = descending ? 0x00 : 0xFF;
    const std::uint8_t fill = isStart ? low : high;
    if (!given) {
      std::memset(key.data(), fill, keyLength);
      return key;
    }
    ObtainKey(directKey, given, key.data());
    if ((fieldCount > 0 && fieldCount < keyFields) || !uniqueOrder) {
      const std::int32_t wholeFields = (fieldCount <= 0 || fieldCount > keyFields) ? keyFields : fieldCount;
      const std::size_t prefix = KeyPrefixLength(wholeFields);
      std::memset(key.data() + prefix, fill, keyLength - prefix);
    }
    return key;
  };
  const auto startKey = bound(start, startFieldCount, true);
  const auto endKey = bound(end, endFieldCount, false);
  indexFile_->SetRangeStart(std::span<const std::uint8_t>(startKey.data(), keyLength));
  indexFile_->SetRangeEnd(std::span<const std::uint8_t>(endKey.data(), keyLength));
  indexFile_->SetRangeActive(true);
  SyncIndexPosition();
  section.Finish();
}

void TDataFile::CancelRange() {
  TCursorGuard guard(*this);
  TReadSection section(*this);
  indexFile_->ResetRange();
  SyncIndexPosition();
  section.Finish();
}

void TDataFile::SelectIndex(std::uint8_t index) {
  if (index == indexFile_->CurrentIndex()) return;
  if (index > indexFile_->IndexCount() || (index == 0 && indexFile_->GetDescriptor(0).KeyLength == 0)) {
    RaiseEngineError(ec::InvalidIndexName, indexFile_->CurrentIndexName());
  }
  TCursorGuard guard(*this);
  TReadSection section(*this);
  indexFile_->ResetRange();
  indexFile_->SelectIndex(index);
  SyncIndexPosition();
  section.Finish();
}

void TDataFile::SelectIndexByName(std::string_view name) {
  auto upper = [](std::string_view text) { return UpperDescriptorName(text); };
  const std::string wanted = upper(name);
  if (wanted == upper(indexFile_->CurrentIndexName())) return;
  int found = wanted.empty() ? 0 : -1;
  for (int n = 1; found < 0 && n <= indexFile_->IndexCount(); ++n) {
    if (upper(indexFile_->GetDescriptor(static_cast<std::uint8_t>(n)).Name) == wanted) found = n;
  }
  // An unknown name keeps the active index and its range.
  if (found < 0) RaiseEngineError(ec::InvalidIndexName, indexFile_->CurrentIndexName());
  SelectIndex(static_cast<std::uint8_t>(found));
}

std::string TDataFile::ActiveIndexName() const { return indexFile_->CurrentIndexName(); }
std::uint8_t TDataFile::IndexCount() const { return indexFile_->IndexCount(); }
std::uint8_t TDataFile::KeyLength() const { return indexFile_->KeyLength(); }
std::uint8_t TDataFile::KeyFieldCount() const { return indexFile_->KeyFieldCount(indexFile_->CurrentIndex()); }
bool TDataFile::ActiveIndexUnique() const { return indexFile_->Unique() != 0; }

std::array<std::int16_t, MaxKeyFields> TDataFile::GetKeyFields(std::uint8_t index) const {
  return indexFile_->GetKeyFields(index);
}

TIndexDescriptor TDataFile::GetIndexDef(std::uint8_t index) const { return indexFile_->GetDescriptor(index); }

void TDataFile::GetBookmark(std::uint8_t* bookmark) {
  TCursorGuard guard(*this);
  TReadSection section(*this);
  section.Finish();
  std::memset(bookmark, 0, indexFile_->KeyLength());
  if (currentRecord_) {
    BuildKey(indexFile_->CurrentIndex(), currentRecord_->Buffer(), currentRecord_->Buffer(), bookmark);
  }
}

void TDataFile::GotoBookmark(const std::uint8_t* bookmark) {
  TCursorGuard guard(*this);
  TReadSection section(*this);
  indexFile_->FindKey(std::span<const std::uint8_t>(bookmark, indexFile_->KeyLength()), false, false);
  section.Finish();
}

std::int32_t TDataFile::CompareBookmarks(const std::uint8_t* first, const std::uint8_t* second) const {
  return TIndexFile::CompareKeys(first, second, indexFile_->Descending(), indexFile_->KeyLength());
}

}  // namespace kavrin::engine
