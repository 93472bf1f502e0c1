// Shared by the filter tests: a table with a field of every type and indexes of every kind, filled with
// values that filter texts can name; filter blocks from filter texts; and a slow, independent reading of
// a block record by record that the engine's bitmaps are held against.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "classlib/expr_parser.h"
#include "classlib/filter_constant.h"
#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/data_file_format.h"
#include "engine/index_file.h"
#include "runtime/code_pages.h"
#include "tests/engine/table_fixture.h"

namespace kavrin::engine::testing {

// ID autoinc (primary), S string 8, SC string 6, D date, M memo, L boolean, SI smallint, I integer,
// F float, B BCD 2, BY bytes 3, T time, TS timestamp, W word, LW longword, X float10, VB varbytes 4.
inline std::vector<TFieldDescriptor> EveryTypeFields() {
  std::vector<TFieldDescriptor> fields{
      Field(1, "ID", ftInteger, 0, fstAutoInc),
      Field(2, "S", ftString, 8),
      Field(3, "SC", ftString, 6),
      Field(4, "D", ftDate),
      Field(5, "M", ftBlob, 0, fstMemo),
      Field(6, "L", ftBoolean),
      Field(7, "SI", ftSmallInt),
      Field(8, "I", ftInteger),
      Field(9, "F", ftFloat),
      Field(10, "B", ftBCD),
      Field(11, "BY", ftBytes, 3),
      Field(12, "T", ftTime),
      Field(13, "TS", ftTimeStamp),
      Field(14, "W", ftWord),
      Field(15, "LW", ftLongWord),
      Field(16, "X", ftFloat10),
      Field(17, "VB", ftVarBytes, 4),
  };
  fields[9].Decimals = 2;
  return fields;
}

// Ascending and descending, case-sensitive and insensitive, one and several fields; L, B, T, SC (for
// case-sensitive comparisons) and the byte and memo fields have none.
inline std::vector<TIndexDescriptor> EveryTypeIndexes() {
  return {
      Index("", {1}, true),
      Index("ByS", {2}),
      Index("BySCNoCase", {3}, false, true),
      Index("BySNoCaseDown", {2}, false, true, true),
      Index("ByDDown", {4}, false, false, true),
      Index("ByISI", {8, 7}),
      Index("ByFDDown", {9, 4}, false, false, true),
      Index("ByTS", {13}),
      Index("ByLW", {15}),
      Index("ByWDown", {14}, false, false, true),
      Index("ByX", {16}),
      Index("BySI", {7}, false, true),
  };
}

// Constants as filter texts write them, per field: records take their values from these, so that
// comparisons hit. The first and last of the numeric and date lists are the edges of the type.
struct TFieldValues {
  std::int16_t Field;
  std::vector<std::string> Texts;
  bool Quoted;
};

inline const std::vector<TFieldValues>& EveryTypeValues() {
  static const std::vector<TFieldValues> values{
      {2,
       {"", "a", "al", "alpha", "Alpha", "ALPHA", "beta", "Beta", "gamma", "zzzzzzzz", "\u00e9t\u00e9",
        "\u00a0\u00a0\u00a0\u00a0\u00a0\u00a0\u00a0\u00a0"},
       true},
      {3, {"mix", "Mix", "MIX", "other", "Zed", "zed"}, true},
      {4, {"1/1/0001", "12/31/1999", "1/2/2000", "6/15/2010", "12/31/9999"}, true},
      {6, {"False", "True"}, false},
      {7, {"-32768", "-1", "0", "1", "7", "32767"}, false},
      {8, {"-2147483648", "-5", "0", "5", "100", "2147483647"}, false},
      {9, {"-1.7976931348623157e308", "-2.5", "0", "0.5", "2.5", "1e300", "1.7976931348623157e308"}, false},
      {10, {"-12.34", "0", "10.5", "99999.99"}, false},
      {12, {"0:00:00", "10:20:30", "23:59:59"}, true},
      {13, {"1/1/1900 0:00:00", "12/31/1999 23:59:59", "1/2/2000 10:20:30"}, true},
      {14, {"0", "1", "500", "65535"}, false},
      {15, {"0", "1", "256", "4294967295"}, false},
      {16, {"-2", "0", "1.5", "1e100"}, false},
  };
  return values;
}

inline std::vector<TFieldDescriptor> FieldsOf(const TDataFile& table) {
  std::vector<TFieldDescriptor> fields(table.FieldCount());
  for (std::uint16_t i = 1; i <= table.FieldCount(); ++i) table.FieldDefByIndex(i, fields[i - 1u]);
  return fields;
}

inline std::vector<std::uint8_t> ParseFilter(const TDataFile& table, const std::string& text,
                                             const classlib::TFilterParseOptions& options = {}) {
  return classlib::TExprParser(text, FieldsOf(table), options).FilterData();
}

// The stored bytes of a constant text for a field, as the filter parser makes them.
inline std::vector<std::uint8_t> StoredValue(const TFieldDescriptor& field, const std::string& text, bool quoted) {
  classlib::TFilterConstant constant;
  constant.Kind = quoted ? classlib::TConstantKind::String : classlib::TConstantKind::Number;
  if (field.Type == ftBoolean) {
    constant.Kind = classlib::TConstantKind::Boolean;
    constant.BoolValue = text == "True";
  }
  constant.Text = text;
  return classlib::ConvertFilterConstant(field, constant, false, true).Value;
}

// Fills the every-type table: count records, about nullShare of each field null, values from
// EveryTypeValues, then about deletedShare of them deleted. Record n has ID n.
inline void FillEveryTypeTable(TDataFile& table, int count, double nullShare, double deletedShare, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> unit(0, 1);
  const std::vector<TFieldDescriptor> fields = FieldsOf(table);
  auto fieldOf = [&](std::int16_t number) -> const TFieldDescriptor& {
    for (const auto& f : fields)
      if (f.FieldNumber == number) return f;
    throw std::logic_error("no such field");
  };
  std::vector<std::uint8_t> image(table.RecordSize());
  for (int n = 0; n < count; ++n) {
    table.InitRecord(image.data());
    for (const TFieldValues& values : EveryTypeValues()) {
      if (unit(random) < nullShare) continue;
      const std::string& text = values.Texts[random() % values.Texts.size()];
      const std::vector<std::uint8_t> stored = StoredValue(fieldOf(values.Field), text, values.Quoted);
      table.SetField(values.Field, image.data(), stored.data());
    }
    for (std::int16_t bytesField : {11, 17}) {
      if (unit(random) < nullShare) continue;
      std::uint8_t bytes[4] = {static_cast<std::uint8_t>(random()), static_cast<std::uint8_t>(random()),
                               static_cast<std::uint8_t>(random()), static_cast<std::uint8_t>(random())};
      table.SetField(bytesField, image.data(), bytes);
    }
    const bool memo = unit(random) >= nullShare;
    if (memo) {
      const std::string text = "memo " + std::to_string(n);
      table.OpenBlob(5, image.data());
      table.WriteBlob(5, image.data(), 0, static_cast<std::int32_t>(text.size()), text.data());
    }
    table.InsertRecord(image.data());
    if (memo) table.CloseBlob(5, image.data());
  }
  table.SelectIndex(0);
  for (int id = 1; id <= count; ++id) {
    if (unit(random) >= deletedShare) continue;
    std::vector<std::uint8_t> key(table.RecordSize());
    table.InitRecord(key.data());
    table.SetField(1, key.data(), &id);
    if (table.FindKey(false, key.data(), nullptr, 0, false, 0)) table.DeleteRecord();
  }
}

// A filter expression block read the slow way, node by node, for one record: values compared as the
// numbers, texts and bytes they are, without key encodings or indexes. A null passes only <> and
// IS NULL; a node the engine does not evaluate counts as true.
class TNaiveFilter {
 public:
  TNaiveFilter(const TDataFile& table, std::vector<std::uint8_t> block) : table_(table), block_(std::move(block)) {}

  bool Holds(const std::uint8_t* image) const { return NodeHolds(0, image); }

 private:
  const std::uint8_t* At(std::uint16_t node) const { return block_.data() + LoadU16(block_.data() + 6) + node; }

  bool NodeHolds(std::uint16_t node, const std::uint8_t* image) const {
    const std::uint8_t* n = At(node);
    const std::int32_t nodeClass = LoadI32(n);
    const std::int32_t op = LoadI32(n + 4);
    if (nodeClass == 1 && (op == 1 || op == 2)) {
      bool isNull = true;
      table_.GetField(LoadI16(At(LoadU16(n + 8)) + 8), image, isNull, nullptr);
      return (op == 1) == isNull;
    }
    if (nodeClass == 1 && op == 9) return !NodeHolds(LoadU16(n + 8), image);
    if (nodeClass == 2 && op == 10) return NodeHolds(LoadU16(n + 8), image) && NodeHolds(LoadU16(n + 10), image);
    if (nodeClass == 2 && op == 11) return NodeHolds(LoadU16(n + 8), image) || NodeHolds(LoadU16(n + 10), image);
    if ((nodeClass == 2 || nodeClass == 3) && op >= 3 && op <= 8) {
      const bool compare = nodeClass == 3;
      const std::uint8_t* field = At(LoadU16(n + (compare ? 12 : 8)));
      const std::uint8_t* constant = At(LoadU16(n + (compare ? 14 : 10)));
      TFieldDescriptor descriptor;
      table_.FieldDefByNumber(LoadI16(field + 8), descriptor);
      const std::uint8_t* value = block_.data() + LoadU16(block_.data() + 8) + LoadU16(constant + 12);
      bool isNull = true;
      std::vector<std::uint8_t> stored(256, 0);
      table_.GetField(descriptor.FieldNumber, image, isNull, stored.data());
      if (isNull) return op == 4;
      const int order =
          Compare(descriptor, stored.data(), value, compare && LoadU16(n + 8) != 0, compare ? LoadU16(n + 10) : 0);
      switch (op) {
        case 3: return order == 0;
        case 4: return order != 0;
        case 5: return order > 0;
        case 6: return order < 0;
        case 7: return order >= 0;
        default: return order <= 0;
      }
    }
    return true;
  }

  template <typename T>
  static int Order(T a, T b) {
    return a < b ? -1 : (b < a ? 1 : 0);
  }

  static int Compare(const TFieldDescriptor& field, const std::uint8_t* a, const std::uint8_t* b, bool caseInsensitive,
                     std::uint16_t partial) {
    switch (field.Type) {
      case ftString: {
        std::vector<std::uint8_t> x(field.Size + 1u, 0), y(field.Size + 1u, 0);
        std::memcpy(x.data(), a, std::strlen(reinterpret_cast<const char*>(a)));
        for (std::size_t i = 0; i < field.Size && b[i] != 0; ++i) y[i] = b[i];
        if (caseInsensitive) {
          runtime::AnsiUpperBytes(x.data(), x.size());
          runtime::AnsiUpperBytes(y.data(), y.size());
        }
        const std::size_t length = partial > 0 ? std::min<std::size_t>(partial, x.size()) : x.size();
        const int order = std::memcmp(x.data(), y.data(), length);
        return order < 0 ? -1 : (order > 0 ? 1 : 0);
      }
      case ftDate:
      case ftInteger:
      case ftTime: return Order(LoadI32(a), LoadI32(b));
      case ftBoolean:
      case ftWord: return Order(LoadU16(a), LoadU16(b));
      case ftSmallInt: return Order(LoadI16(a), LoadI16(b));
      case ftFloat:
      case ftTimeStamp: return Order(LoadF64(a), LoadF64(b));
      case ftBCD: return Order(LoadI64(a), LoadI64(b));
      default: {
        // Types without an order of their own compare as the bytes they are stored as.
        const int order = std::memcmp(a, b, static_cast<std::size_t>(FieldDataSize(field)));
        return order < 0 ? -1 : (order > 0 ? 1 : 0);
      }
    }
  }

  const TDataFile& table_;
  std::vector<std::uint8_t> block_;
};

// Record numbers 1 to slots that are live and, when given, pass the naive reading of the block.
inline std::set<std::int32_t> NaiveRecords(TDataFile& table, const std::vector<std::uint8_t>* block) {
  std::set<std::int32_t> records;
  const TNaiveFilter naive(table, block ? *block : std::vector<std::uint8_t>{});
  for (std::int32_t n = 1; n <= table.PhysicalRecordCount(); ++n) {
    const TRecord* record = table.FetchRecord(n);
    if (record->Deleted()) continue;
    if (!block || naive.Holds(record->Buffer())) records.insert(n);
  }
  return records;
}

// The records the cursor's bitmap holds; every live record when it has none.
inline std::set<std::int32_t> BitmapRecords(TDataFile& table) {
  const TRecordBitmap* bitmap = table.IndexFile().CursorBitmap();
  if (!bitmap) return NaiveRecords(table, nullptr);
  std::set<std::int32_t> records;
  for (std::int32_t n = 0; bitmap->NextSetBit(n, table.PhysicalRecordCount());) records.insert(n);
  return records;
}

// The IDs in the cursor's order, by Next from the start (ID n is record n in the filled table).
inline std::vector<std::int32_t> WalkIds(TDataFile& table) {
  std::vector<std::int32_t> ids;
  std::vector<std::uint8_t> buffer(table.RecordSize());
  table.GotoBOF();
  while (table.Next(buffer.data()) == ec::Success) {
    std::int32_t id = 0;
    bool isNull = true;
    table.GetField(1, buffer.data(), isNull, &id);
    ids.push_back(id);
  }
  return ids;
}

// ID integer (primary), Name string 10, City string 10, Qty integer, Price float, Note memo. ByName,
// ByQtyDown (descending) and ByNameCityNoCase (case-insensitive, two fields); City, Price and Note
// begin no index.
inline std::vector<TFieldDescriptor> PeopleFields() {
  return {Field(1, "ID", ftInteger),  Field(2, "Name", ftString, 10), Field(3, "City", ftString, 10),
          Field(4, "Qty", ftInteger), Field(5, "Price", ftFloat),     Field(6, "Note", ftBlob, 0, fstMemo)};
}

inline std::vector<TIndexDescriptor> PeopleIndexes() {
  return {Index("", {1}, true), Index("ByName", {2}), Index("ByQtyDown", {4}, false, false, true),
          Index("ByNameCityNoCase", {2, 3}, false, true)};
}

struct TPerson {
  std::int32_t Id;
  const char* Name;  // null: no value
  const char* City;
  std::optional<std::int32_t> Qty;
  std::optional<double> Price;
  bool Note;
};

inline void InsertPerson(TDataFile& table, const TPerson& person) {
  std::vector<std::uint8_t> image(table.RecordSize());
  table.InitRecord(image.data());
  table.SetField(1, image.data(), &person.Id);
  if (person.Name) table.SetField(2, image.data(), person.Name);
  if (person.City) table.SetField(3, image.data(), person.City);
  if (person.Qty) table.SetField(4, image.data(), &*person.Qty);
  if (person.Price) table.SetField(5, image.data(), &*person.Price);
  if (person.Note) {
    table.OpenBlob(6, image.data());
    table.WriteBlob(6, image.data(), 0, 4, "note");
  }
  table.InsertRecord(image.data());
  if (person.Note) table.CloseBlob(6, image.data());
}

// Ten people, inserted in ID order (record n is ID n), with nulls and the edges of the types.
inline const std::vector<TPerson>& People() {
  static const std::vector<TPerson> people{
      {1, "Ann", "Rome", 5, 1.5, true},
      {2, "Anna", "rome", 7, std::nullopt, false},
      {3, "Bob", nullptr, 5, 2.5, true},
      {4, "BOB", "Paris", std::nullopt, 0.5, false},
      {5, nullptr, "Rome", -3, 3.0, true},
      {6, "Al", "Oslo", 2147483647, -1e300, false},
      {7, "Alan", "Rome", -2147483647 - 1, 1.7976931348623157e308, true},
      {8, "Am", nullptr, 5, std::nullopt, false},
      {9, "A", "Paris", 5, 2.5, true},
      {10, "Zed", "Oslo", 0, -1.7976931348623157e308, false},
  };
  return people;
}

// The IDs a bitmap holds, which are the record numbers of tables filled in ID order.
inline std::set<std::int32_t> Ids(std::initializer_list<std::int32_t> ids) { return std::set<std::int32_t>(ids); }

}  // namespace kavrin::engine::testing
