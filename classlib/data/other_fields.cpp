#include "classlib/data/other_fields.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "classlib/data/blob_stream.h"
#include "classlib/data/data_set.h"
#include "classlib/data/exceptions.h"
#include "classlib/data/string_list.h"
#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/error_codes.h"
#include "runtime/code_pages.h"
#include "runtime/conversions.h"
#include "runtime/format_settings.h"

namespace kavrin::classlib {
namespace {

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned char c : bytes) {
    text += digits[c >> 4];
    text += digits[c & 15];
  }
  return text;
}

}  // namespace

// --- Boolean --------------------------------------------------------------------------------------

TBooleanField::TBooleanField(TComponent* owner) : TField(owner, TFieldType::ftBoolean, 0) {}

void TBooleanField::SetDisplayValues(std::string values) {
  const std::size_t split = values.find(';');
  if (split == std::string::npos) {
    trueText_ = values;
    falseText_.clear();
  } else {
    trueText_ = values.substr(0, split);
    falseText_ = values.substr(split + 1);
  }
  displayValues_ = std::move(values);
  PropertyChanged(false);
}

bool TBooleanField::GetAsBoolean() const {
  std::uint8_t data[2] = {};
  return GetData(data) && engine::LoadI16(data) != 0;
}

void TBooleanField::SetAsBoolean(bool value) {
  std::uint8_t data[2];
  engine::StoreI16(data, value ? 1 : 0);
  SetData(data);
}

std::string TBooleanField::GetAsString() const {
  std::uint8_t data[2] = {};
  if (!GetData(data)) return {};
  return engine::LoadI16(data) != 0 ? trueText_ : falseText_;
}

void TBooleanField::SetAsString(const std::string& text) {
  if (text.empty()) {
    Clear();
    return;
  }
  // A leading part of either text is enough, without regard to case.
  auto begins = [&](const std::string& whole) {
    if (whole.size() < text.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (std::toupper(static_cast<unsigned char>(whole[i])) != std::toupper(static_cast<unsigned char>(text[i]))) {
        return false;
      }
    }
    return true;
  };
  if (begins(trueText_)) {
    SetAsBoolean(true);
  } else if (begins(falseText_)) {
    SetAsBoolean(false);
  } else {
    DatabaseError("'" + text + "' is not a valid boolean value for field '" + DisplayName() + "'");
  }
}

Variant TBooleanField::GetValue() const {
  if (IsNull()) return Variant::Null();
  return Variant(GetAsBoolean());
}

// --- dates and times ------------------------------------------------------------------------------

TDateTimeField::TDateTimeField(TComponent* owner, TFieldType type) : TField(owner, type, 0) {}

void TDateTimeField::SetDisplayFormat(std::string format) {
  displayFormat_ = std::move(format);
  PropertyChanged(false);
}

bool TDateTimeField::Load(runtime::TDateTime& value) const {
  std::uint8_t data[8] = {};
  if (!GetData(data)) return false;
  switch (DataType()) {
    case TFieldType::ftDate: value = engine::LoadI32(data) - runtime::DateDelta; break;
    case TFieldType::ftTime: value = static_cast<double>(engine::LoadI32(data)) / runtime::MSecsPerDay; break;
    default: try { value = runtime::TimeStampToDateTime(runtime::MSecsToTimeStamp(engine::LoadF64(data)));
      } catch (const runtime::EConvertError&) {
        value = 0;  // a stored value outside the calendar reads as day 0
      }
      break;
  }
  return true;
}

runtime::TDateTime TDateTimeField::GetAsDateTime() const {
  runtime::TDateTime value = 0;
  return Load(value) ? value : 0;
}

void TDateTimeField::SetAsDateTime(runtime::TDateTime value) {
  std::uint8_t data[8] = {};
  runtime::TTimeStamp stamp;
  try {
    stamp = runtime::DateTimeToTimeStamp(value);
  } catch (const runtime::EConvertError&) {
    DatabaseError("Invalid date and time value for field '" + DisplayName() + "'");
  }
  switch (DataType()) {
    case TFieldType::ftDate:
      if (stamp.Date < 1) DatabaseError("Invalid date for field '" + DisplayName() + "'");
      engine::StoreI32(data, stamp.Date);
      break;
    case TFieldType::ftTime: engine::StoreI32(data, stamp.Time); break;
    default:
      if (stamp.Date < 1) DatabaseError("Invalid date for field '" + DisplayName() + "'");
      engine::StoreF64(data, runtime::TimeStampToMSecs(stamp));
      break;
  }
  SetData(data);
}

void TDateTimeField::SetAsString(const std::string& text) {
  if (text.empty()) {
    Clear();
    return;
  }
  runtime::TDateTime value = 0;
  bool done = false;
  switch (DataType()) {
    case TFieldType::ftDate: done = runtime::TryStrToDate(text, value); break;
    case TFieldType::ftTime: done = runtime::TryStrToTime(text, value); break;
    default: done = runtime::TryStrToDateTime(text, value); break;
  }
  if (!done) DatabaseError("'" + text + "' is not a valid date and time");
  SetAsDateTime(value);
}

std::string TDateTimeField::GetText(bool displayText) const {
  runtime::TDateTime value = 0;
  if (!Load(value)) return {};
  if (displayText && !displayFormat_.empty()) return runtime::FormatDateTime(displayFormat_, value);
  switch (DataType()) {
    case TFieldType::ftDate: return runtime::DateToStr(value);
    case TFieldType::ftTime: return runtime::TimeToStr(value);
    default: return runtime::DateTimeToStr(value);
  }
}

Variant TDateTimeField::GetValue() const {
  runtime::TDateTime value = 0;
  return Load(value) ? Variant::FromDateTime(value) : Variant::Null();
}

bool TDateTimeField::IsValidChar(char32_t c) const { return c < 0x80 && c != 0; }

// --- bytes ----------------------------------------------------------------------------------------

TBytesField::TBytesField(TComponent* owner, TFieldType type) : TField(owner, type, 16) {}

std::string TBytesField::GetAsString() const {
  std::string bytes(static_cast<std::size_t>(Size()), '\0');
  if (!GetData(bytes.data())) return {};
  return bytes;
}

void TBytesField::SetAsString(const std::string& bytes) {
  std::string data(static_cast<std::size_t>(Size()), '\0');
  data.replace(0, std::min(bytes.size(), data.size()), bytes.substr(0, data.size()));
  SetData(data.data());
}

std::string TBytesField::GetText(bool) const { return Hex(GetAsString()); }

Variant TBytesField::GetValue() const {
  if (IsNull()) return Variant::Null();
  return Variant(GetAsString());
}

std::string TVarBytesField::GetAsString() const {
  std::string data(static_cast<std::size_t>(std::max(Size(), 2)), '\0');
  if (!GetData(data.data())) return {};
  const std::size_t length =
      std::min<std::size_t>(engine::LoadU16(reinterpret_cast<const std::uint8_t*>(data.data())), data.size() - 2);
  return data.substr(2, length);
}

void TVarBytesField::SetAsString(const std::string& bytes) {
  std::string data(static_cast<std::size_t>(std::max(Size(), 2)), '\0');
  const std::size_t length = std::min(bytes.size(), data.size() - 2);
  engine::StoreU16(reinterpret_cast<std::uint8_t*>(data.data()), static_cast<std::uint16_t>(length));
  data.replace(2, length, bytes.substr(0, length));
  SetData(data.data());
}

// --- blobs ----------------------------------------------------------------------------------------

TBlobField::TBlobField(TComponent* owner, TFieldType type) : TField(owner, type, 0) {}

std::string TBlobField::GetText(bool) const {
  const char* name = "(Blob)";
  switch (DataType()) {
    case TFieldType::ftMemo: name = "(Memo)"; break;
    case TFieldType::ftGraphic: name = "(Graphic)"; break;
    case TFieldType::ftFmtMemo: name = "(Formatted Memo)"; break;
    default: break;
  }
  std::string text = name;
  // Upper case when the field holds a value, as grids show it.
  if (!IsNull()) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return text;
}

bool TBlobField::IsText() const { return DataType() == TFieldType::ftMemo || DataType() == TFieldType::ftFmtMemo; }

std::string TBlobField::ReadBytes() const {
  auto& self = const_cast<TBlobField&>(*this);
  TBlobStream stream(self, bmRead);
  std::string bytes(static_cast<std::size_t>(std::max<std::int32_t>(stream.GetBlobSize(), 0)), '\0');
  const std::int64_t read = stream.Read(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(read));
  return bytes;
}

void TBlobField::WriteBytes(const std::string& bytes) {
  TBlobStream stream(*this, bmWrite);
  stream.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

std::string TBlobField::GetAsString() const {
  if (!DataSet()) DatabaseError(FormatMessage("Field '%s' has no dataset", {DisplayName()}));
  const std::string bytes = ReadBytes();
  if (!IsText()) return bytes;
  return transliterate_ ? runtime::OemToUtf8(bytes) : runtime::AnsiToUtf8(bytes);
}

void TBlobField::SetAsString(const std::string& value) {
  if (!DataSet()) DatabaseError(FormatMessage("Field '%s' has no dataset", {DisplayName()}));
  WriteBytes(!IsText() ? value : transliterate_ ? runtime::Utf8ToOem(value) : runtime::Utf8ToAnsi(value));
}

void TBlobField::LoadFromStream(TStream& stream) {
  stream.SetPosition(0);
  const std::int64_t size = stream.Size();
  std::string bytes(static_cast<std::size_t>(std::max<std::int64_t>(size, 0)), '\0');
  stream.ReadBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  SetAsString(bytes);
}

void TBlobField::SaveToStream(TStream& stream) const {
  const std::string value = GetAsString();
  stream.WriteBuffer(value.data(), static_cast<std::int64_t>(value.size()));
}

void TBlobField::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, fmOpenRead);
  LoadFromStream(file);
}

void TBlobField::SaveToFile(const std::string& fileName) const {
  TFileStream file(fileName, fmCreate);
  SaveToStream(file);
}

void TBlobField::LoadFromBlob(const TBlobField& other) {
  TMemoryStream copy;
  other.SaveToStream(copy);
  LoadFromStream(copy);
}

void TBlobField::LoadFromStrings(const TStringList& strings) { SetAsString(strings.Text()); }

void TBlobField::LoadFromBitmap(const TPicture& picture) {
  TBlobStream stream(*this, bmWrite);
  picture.SaveToStream(stream);
}

void TBlobField::SaveToBitmap(TPicture& picture) const {
  TBlobStream stream(const_cast<TBlobField&>(*this), bmRead);
  picture.LoadFromStream(stream);
}

Variant TBlobField::GetValue() const {
  if (IsNull()) return Variant::Null();
  return Variant(GetAsString());
}

void TBlobField::FreeBuffers() {
  if (!modified_) return;
  modified_ = false;
  TDataSet* dataSet = DataSet();
  if (dataSet && dataSet->Handle() && dataSet->ActiveBuffer()) {
    dataSet->Handle()->CloseBlob(static_cast<std::int16_t>(FieldNo()), dataSet->ActiveBuffer());
  }
}

TMemoField::TMemoField(TComponent* owner) : TBlobField(owner, TFieldType::ftMemo) { SetTransliterate(true); }

}  // namespace kavrin::classlib
