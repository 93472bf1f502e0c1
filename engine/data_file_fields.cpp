// Field access: reading and writing field values of record images by field number, the lookups of
// field definitions, the in-place change of a definition and new records filled with defaults.
#include <algorithm>
#include <array>
#include <cstring>

#include "engine/bcd.h"
#include "engine/blob_file.h"
#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/engine_error.h"
#include "engine/primitives.h"
#include "runtime/conversions.h"
#include "runtime/date_time.h"

namespace kavrin::engine {
namespace {

// The largest data size of any field: a string of 245 characters and its terminating zero.
constexpr std::size_t kValueBufferSize = 246;

std::int32_t DayNumber(runtime::TDateTime value) { return runtime::DateTimeToTimeStamp(value).Date; }
std::int32_t TimeOfDay(runtime::TDateTime value) { return runtime::DateTimeToTimeStamp(value).Time; }
double Milliseconds(runtime::TDateTime value) { return runtime::TimeStampToMSecs(runtime::DateTimeToTimeStamp(value)); }

std::int32_t IntegerDefault(std::string_view text) {
  std::int32_t value = 0;
  return runtime::TryStrToInt(text, value) ? value : 0;
}

// The stored bytes of a default text; texts that do not convert give zero bytes.
void ConvertDefault(const TFieldDescriptor& field, std::uint8_t* value) {
  const std::string& text = field.Default;
  const std::string keyword = UpperCaseAscii(text);
  runtime::TDateTime moment = 0;
  switch (field.Type) {
    case ftString: std::memcpy(value, text.data(), std::min(text.size(), kValueBufferSize - 1)); break;
    case ftDate:
      if (keyword == "DATE") {
        StoreI32(value, DayNumber(runtime::Date()));
      } else if (runtime::TryStrToDate(text, moment)) {
        StoreI32(value, DayNumber(moment));
      }
      break;
    case ftTime:
      if (keyword == "TIME") {
        StoreI32(value, TimeOfDay(runtime::Time()));
      } else if (runtime::TryStrToTime(text, moment)) {
        StoreI32(value, TimeOfDay(moment));
      }
      break;
    case ftTimeStamp:
      if (keyword == "NOW") {
        StoreF64(value, Milliseconds(runtime::Now()));
      } else if (keyword == "DATE") {
        StoreF64(value, Milliseconds(runtime::Date()));
      } else if (keyword == "TIME") {
        StoreF64(value, Milliseconds(runtime::Time()));  // the time of day on day 0
      } else if (runtime::TryStrToDateTime(text, moment)) {
        StoreF64(value, Milliseconds(moment));
      }
      break;
    case ftBoolean: StoreI16(value, TextToBool(text) ? 1 : 0); break;
    case ftSmallInt: StoreI16(value, static_cast<std::int16_t>(IntegerDefault(text))); break;
    case ftInteger: StoreI32(value, IntegerDefault(text)); break;
    case ftWord: StoreU16(value, static_cast<std::uint16_t>(IntegerDefault(text))); break;
    case ftFloat: {
      double number = 0;
      if (runtime::TryStrToFloat(text, number)) StoreF64(value, number);
      break;
    }
    case ftBCD: {
      runtime::Currency amount;
      if (runtime::TryStrToCurr(text, amount)) StoreI64(value, CurrencyToBCD(field.Decimals, amount));
      break;
    }
    default: break;  // set from zero bytes; a blob field stays null
  }
}

}  // namespace

std::uint8_t TDataFile::FieldDataSize(const TFieldDescriptor& field) {
  return static_cast<std::uint8_t>(engine::FieldDataSize(field));
}

const TFieldDescriptor* TDataFile::FindField(std::int16_t fieldNumber) const {
  const std::int32_t at = fieldNumber - fieldNumberBase_;
  if (at < 0 || static_cast<std::size_t>(at) >= fieldByNumber_.size()) return nullptr;
  const std::int32_t position = fieldByNumber_[static_cast<std::size_t>(at)];
  return position < 0 ? nullptr : &fields_[static_cast<std::size_t>(position)];
}

void TDataFile::FieldDefByIndex(std::uint16_t position, TFieldDescriptor& field) const {
  field = TFieldDescriptor{};
  if (position < 1 || position > fields_.size()) Raise(ec::InvalidFieldNumber);
  field = fields_[position - 1];
}

void TDataFile::FieldDefByNumber(std::int16_t fieldNumber, TFieldDescriptor& field) const {
  field = TFieldDescriptor{};
  const TFieldDescriptor* found = FindField(fieldNumber);
  if (!found) Raise(ec::InvalidFieldNumber);
  field = *found;
}

void TDataFile::TrimTrailingBlanks(char* text) {
  std::size_t length = std::strlen(text);
  while (length > 0 && text[length - 1] == ' ') text[--length] = '\0';
}

void TDataFile::GetField(std::int16_t fieldNumber, const std::uint8_t* image, bool& isNull, void* value) const {
  const TFieldDescriptor* field = FindField(fieldNumber);
  if (!field) Raise(ec::InvalidFieldNumber);
  auto* out = static_cast<std::uint8_t*>(value);
  if (field->IsAutoInc()) {
    isNull = false;
    if (out) std::memcpy(out, image + AutoIncSlotOffset, 4);
    return;
  }
  const std::uint8_t* slot = image + field->SlotOffset;
  const std::size_t size = FieldDataSize(*field);
  isNull = slot[0] == 0;
  if (field->Type == ftBlob) {
    const std::int32_t reference = LoadI32(slot + 1);
    if (reference < 0) isNull = blobFile_->OpenBlobSize(reference) == 0;
  }
  if (!out) return;
  std::memset(out, 0, size);
  if (field->Type == ftString) {
    const auto* text = slot + 1;
    const std::size_t length = std::find(text, text + field->Size, 0) - text;
    std::memcpy(out, text, length);
  } else {
    std::memcpy(out, slot + 1, size);
  }
}

void TDataFile::SetField(std::int16_t fieldNumber, std::uint8_t* image, const void* value) const {
  const TFieldDescriptor* field = FindField(fieldNumber);
  if (!field) Raise(ec::InvalidFieldNumber);
  const auto* in = static_cast<const std::uint8_t*>(value);
  if (field->IsAutoInc()) {
    if (in) std::memcpy(image + AutoIncSlotOffset, in, 4);
    return;
  }
  std::uint8_t* slot = image + field->SlotOffset;
  const std::size_t size = FieldDataSize(*field);
  std::memset(slot + 1, 0, size);
  if (!in) {
    slot[0] = 0;
    return;
  }
  switch (field->Type) {
    case ftString: {
      std::size_t length = std::find(in, in + field->Size, 0) - in;
      while (length > 0 && in[length - 1] == ' ') --length;
      std::memcpy(slot + 1, in, length);
      slot[0] = length > 0 ? 1 : 0;
      break;
    }
    case ftBlob: {
      const std::int32_t reference = LoadI32(in);
      slot[0] = (reference < 0 ? blobFile_->OpenBlobSize(reference) > 0 : reference != 0) ? 1 : 0;
      StoreI32(slot + 1, reference);
      break;
    }
    default:
      slot[0] = 1;
      std::memcpy(slot + 1, in, size);
      break;
  }
}

void TDataFile::AlterFieldDef(std::uint16_t position, const TFieldDescriptor& field) {
  if (!Exclusive()) Raise(ec::MustBeExclusive);
  if (ReadOnly()) Raise(ec::AccessDenied);
  if (position < 1 || position > fields_.size()) Raise(ec::InvalidFieldNumber);
  TFieldDescriptor& target = fields_[position - 1];
  target.FieldNumber = field.FieldNumber;
  target.Name = LeftString(field.Name, FieldNameLength);
  target.Subtype = field.Subtype;
  target.Description = LeftString(field.Description, FieldDescriptionLength);
  target.Required = field.Required;
  target.Minimum = LeftString(field.Minimum, ValidityTextLength);
  target.Maximum = LeftString(field.Maximum, ValidityTextLength);
  target.Default = LeftString(field.Default, ValidityTextLength);
  RebuildFieldMap();
}

void TDataFile::InitRecord(std::uint8_t* image) const {
  std::memset(image, 0, header_.RecordSize);
  for (const TFieldDescriptor& field : fields_) {
    if (field.Default.empty()) continue;
    std::array<std::uint8_t, kValueBufferSize> value{};
    try {
      ConvertDefault(field, value.data());
    } catch (...) {
      value.fill(0);  // a default that does not convert gives 0
    }
    SetField(field.FieldNumber, image, value.data());
  }
}

}  // namespace kavrin::engine
