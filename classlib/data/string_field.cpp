#include "classlib/data/string_field.h"

#include <algorithm>
#include <vector>

#include "runtime/code_pages.h"
#include "runtime/conversions.h"

namespace kavrin::classlib {

TStringField::TStringField(TComponent* owner) : TField(owner, TFieldType::ftString, 20) {}

std::string TStringField::ToStored(const std::string& text) const {
  std::string stored = transliterate_ ? runtime::Utf8ToOem(text) : runtime::Utf8ToAnsi(text);
  // Both pages take one byte a character, so a cut in stored bytes never splits one.
  if (stored.size() > static_cast<std::size_t>(Size())) stored.resize(static_cast<std::size_t>(Size()));
  return stored;
}

std::string TStringField::FromStored(const std::string& stored) const {
  return transliterate_ ? runtime::OemToUtf8(stored) : runtime::AnsiToUtf8(stored);
}

std::string TStringField::GetAsString() const {
  std::vector<char> buffer(static_cast<std::size_t>(Size()) + 1, '\0');
  if (!GetData(buffer.data())) return {};
  return FromStored(std::string(buffer.data()));
}

void TStringField::SetAsString(const std::string& text) {
  const std::string stored = ToStored(text);
  // SetData copies the field's whole data size: hand it a buffer that long, zero past the text.
  std::vector<char> buffer(static_cast<std::size_t>(std::max(DataSize(), Size() + 1)), '\0');
  std::copy(stored.begin(), stored.end(), buffer.begin());
  SetData(buffer.data());
}

std::int32_t TStringField::GetAsInteger() const { return runtime::StrToInt(GetAsString()); }
void TStringField::SetAsInteger(std::int32_t value) { SetAsString(runtime::IntToStr(value)); }
double TStringField::GetAsFloat() const { return runtime::StrToFloat(GetAsString()); }
void TStringField::SetAsFloat(double value) { SetAsString(runtime::FloatToStr(value)); }

bool TStringField::GetAsBoolean() const {
  const std::string text = GetAsString();
  return !text.empty() && (text[0] == 'T' || text[0] == 't' || text[0] == 'Y' || text[0] == 'y');
}
void TStringField::SetAsBoolean(bool value) { SetAsString(value ? "T" : "F"); }
runtime::TDateTime TStringField::GetAsDateTime() const { return runtime::StrToDateTime(GetAsString()); }
void TStringField::SetAsDateTime(runtime::TDateTime value) { SetAsString(runtime::DateTimeToStr(value)); }

Variant TStringField::GetValue() const {
  if (IsNull()) return Variant::Null();
  return Variant(GetAsString());
}

}  // namespace kavrin::classlib
