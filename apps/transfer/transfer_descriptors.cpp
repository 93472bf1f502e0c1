#include "apps/transfer/transfer_descriptors.h"

#include "apps/transfer/readers/source_files.h"
#include "engine/data_file_format.h"
#include "runtime/code_pages.h"

namespace kavrin::transfer {
namespace {

using classlib::TFieldType;
namespace e = engine;

struct TTypeMapping {
  std::uint8_t Type;
  std::uint8_t Subtype;
  int Size;  // -1: the source size
};

TTypeMapping MappingOf(TFieldType type) {
  switch (type) {
    case TFieldType::ftUnknown: return {0, 0, 0};
    case TFieldType::ftString: return {e::ftString, 0, -1};
    case TFieldType::ftSmallint: return {e::ftSmallInt, 0, 2};
    case TFieldType::ftInteger: return {e::ftInteger, 0, 4};
    case TFieldType::ftWord: return {e::ftWord, 0, 2};
    case TFieldType::ftBoolean: return {e::ftBoolean, 0, 2};
    case TFieldType::ftFloat: return {e::ftFloat, 0, 8};
    case TFieldType::ftCurrency: return {e::ftFloat, e::fstMoney, 8};
    case TFieldType::ftBCD: return {e::ftBCD, 0, 8};
    case TFieldType::ftDate: return {e::ftDate, 0, 4};
    case TFieldType::ftTime: return {e::ftTime, 0, 4};
    case TFieldType::ftDateTime: return {e::ftTimeStamp, 0, 8};
    case TFieldType::ftBytes: return {e::ftBytes, 0, -1};
    case TFieldType::ftVarBytes: return {e::ftVarBytes, 0, -1};
    case TFieldType::ftAutoInc: return {e::ftInteger, e::fstAutoInc, 4};
    case TFieldType::ftBlob: return {e::ftBlob, e::fstBinary, -1};
    case TFieldType::ftMemo: return {e::ftBlob, e::fstMemo, -1};
    case TFieldType::ftGraphic: return {e::ftBlob, e::fstGraphic, -1};
    case TFieldType::ftFmtMemo: return {e::ftBlob, e::fstFormattedMemo, -1};
    case TFieldType::ftParadoxOle: return {e::ftBlob, 0, -1};
    case TFieldType::ftDBaseOle: return {e::ftBlob, 0, -1};
    case TFieldType::ftTypedBinary: return {e::ftBlob, e::fstTypedBinary, -1};
  }
  return {0, 0, 0};
}

std::string Trim(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ') ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
  return std::string(text.substr(begin, end - begin));
}

}  // namespace

void BuildFieldDescriptor(TFieldImage& image, std::string_view name, int size, classlib::TFieldType type) {
  image = TFieldImage{};
  image.Name = runtime::Utf8ToDescriptorText(name, "Field name");
  const TTypeMapping mapping = MappingOf(type);
  image.Type = mapping.Type;
  image.Subtype = mapping.Subtype;
  const int units = mapping.Size < 0 ? size : mapping.Size;
  image.Units1 = static_cast<std::uint16_t>(std::max(units, 0));
  if (type == TFieldType::ftBCD) image.Units2 = static_cast<std::uint16_t>(std::max(size, 0));
}

void BuildIndexDescriptor(TIndexImage& image, std::string_view name, std::uint8_t options, std::string_view expression,
                          std::string_view fieldList, const std::vector<TSourceField>& fields) {
  image = TIndexImage{};
  image.Name = runtime::Utf8ToDescriptorText(name, "Index name");
  image.Primary = (options & ixPrimary) != 0;
  image.Unique = (options & ixUnique) != 0;
  image.Descending = (options & ixDescending) != 0;
  image.CaseInsensitive = (options & ixCaseInsensitive) != 0;
  image.Maintained = true;
  const std::string list = (options & ixExpression) ? ExpressionToFieldList(expression) : std::string(fieldList);
  std::size_t start = 0;
  while (start <= list.size() && image.KeyFieldCount < image.KeyFields.size()) {
    std::size_t end = list.find(';', start);
    if (end == std::string::npos) end = list.size();
    const std::string wanted = Trim(std::string_view(list).substr(start, end - start));
    if (!wanted.empty()) {
      std::int16_t number = 0;
      for (std::size_t i = 0; i < fields.size(); ++i)
        if (runtime::SameDescriptorName(Trim(fields[i].Name), wanted)) number = static_cast<std::int16_t>(i + 1);
      image.KeyFields[image.KeyFieldCount++] = number;
    }
    start = end + 1;
  }
}

bool IsPlainIndexExpression(std::string_view expression) {
  return !(expression.find('(') != std::string_view::npos && expression.find(')') != std::string_view::npos);
}

std::string ExpressionToFieldList(std::string_view expression) {
  std::string list;
  std::size_t start = 0;
  for (;;) {
    const std::size_t plus = expression.find('+', start);
    const std::string part =
        Trim(expression.substr(start, plus == std::string_view::npos ? expression.npos : plus - start));
    if (!list.empty() || start > 0) list += ';';
    list += part;
    if (plus == std::string_view::npos) break;
    start = plus + 1;
  }
  return list;
}

}  // namespace kavrin::transfer
