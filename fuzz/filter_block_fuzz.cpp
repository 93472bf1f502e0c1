// Arbitrary bytes as a filter expression block, added to a cursor on a table in memory with a field of
// every type and indexes of every kind, then evaluated: adding must end in the filter or error 10051,
// never in a crash, a hang or a read past the block. A filter that is added must give the same records
// whichever side the key walks take, and its rewritten block must be accepted again and give them too.
//
// Input: one byte of options (bit 0: a range of IDs on the primary index, from 8 times bits 3-5 and 24
// long; else bits 1-2 choose the index the cursor is on), then the block.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/data_file.h"
#include "engine/engine_error.h"
#include "engine/index_file.h"
#include "engine/memory_files.h"

namespace {

using namespace kavrin::engine;

TFieldDescriptor Field(std::int16_t number, const char* name, std::uint8_t type, std::uint8_t size = 0,
                       std::uint8_t subtype = fstNone) {
  TFieldDescriptor field;
  field.FieldNumber = number;
  field.Name = name;
  field.Type = type;
  field.Size = size;
  field.Subtype = subtype;
  return field;
}

TIndexDescriptor Index(const char* name, std::vector<std::int16_t> keyFields, bool unique, bool caseInsensitive,
                       bool descending) {
  TIndexDescriptor index;
  index.Name = name;
  for (std::size_t i = 0; i < keyFields.size(); ++i) index.KeyFields[i] = keyFields[i];
  index.Unique = unique;
  index.CaseInsensitive = caseInsensitive;
  index.Descending = descending;
  return index;
}

constexpr const char* kTable = "FILTERFUZZ.DAT";

// The fields of the seed corpus: ID autoinc, S string 8, SC string 6, D date, M memo, L boolean,
// SI smallint, I integer, F float, B BCD, BY bytes 3, T time, TS timestamp, W word, LW longword,
// X float10, VB varbytes 4.
TDataFile& Table() {
  static TDataFile* table = [] {
    std::vector<TFieldDescriptor> fields{Field(1, "ID", ftInteger, 0, fstAutoInc),
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
                                         Field(17, "VB", ftVarBytes, 4)};
    fields[9].Decimals = 2;
    std::vector<TIndexDescriptor> indexes{
        Index("", {1}, true, false, false),           Index("ByS", {2}, false, false, false),
        Index("BySCNoCase", {3}, false, true, false), Index("ByDDown", {4}, false, false, true),
        Index("ByISI", {8, 7}, false, false, false),  Index("ByFDown", {9}, false, false, true),
        Index("ByW", {14}, false, false, false)};
    {
      TDataFile maker;
      maker.SetInMemory(true);
      maker.SetExclusive(true);
      maker.SetFileName(kTable);
      maker.CreateTable(false, "", indexes, fields, 512, "filter fuzz");
    }
    auto* open = new TDataFile;
    open->SetInMemory(true);
    open->SetFileName(kTable);
    open->Open();
    // Small values, nulls and the edges of the types, so that the comparisons hit and miss.
    std::vector<std::uint8_t> image(open->RecordSize());
    for (std::uint32_t n = 0; n < 64; ++n) {
      open->InitRecord(image.data());
      const std::uint32_t mix = n * 2654435761u;
      auto present = [&](int bit) { return ((mix >> bit) & 3) != 0; };
      const std::string text =
          std::string(1, static_cast<char>('A' + n % 5)) + (n % 3 ? "b" : "") + (n % 7 == 0 ? "\xFF\xFF\xFF" : "");
      const std::int32_t whole[] = {-2147483647 - 1, -1, 0, 1, 5, 2147483647};
      const std::int16_t small[] = {-32768, 0, 7, 32767};
      const double real[] = {-1.5, 0.0, 0.25, 3.0, 1e300};
      const std::uint16_t word[] = {0, 1, 65535};
      const std::int32_t i32 = whole[n % 6];
      const std::int16_t i16 = small[n % 4];
      const double f64 = real[n % 5];
      const std::uint16_t u16 = word[n % 3];
      const std::int64_t bcd = static_cast<std::int64_t>(n) * 1002 - 30002;
      const std::uint8_t bytes[10] = {static_cast<std::uint8_t>(n), 0xFF, 0, 1, 2, 3, 4, 5, 6, 7};
      if (present(0)) open->SetField(2, image.data(), text.c_str());
      if (present(2)) open->SetField(3, image.data(), n % 2 ? "mix" : "MIX");
      if (present(4)) open->SetField(4, image.data(), &i32);
      if (present(6)) open->SetField(6, image.data(), &word[n % 2]);
      if (present(8)) open->SetField(7, image.data(), &i16);
      if (present(10)) open->SetField(8, image.data(), &i32);
      if (present(12)) open->SetField(9, image.data(), &f64);
      if (present(14)) open->SetField(10, image.data(), &bcd);
      if (present(16)) open->SetField(11, image.data(), bytes);
      if (present(18)) open->SetField(12, image.data(), &i32);
      if (present(20)) open->SetField(13, image.data(), &f64);
      if (present(22)) open->SetField(14, image.data(), &u16);
      if (present(24)) open->SetField(15, image.data(), &i32);
      if (present(26)) open->SetField(16, image.data(), bytes);
      if (present(28)) open->SetField(17, image.data(), bytes);
      const bool memo = present(30);
      if (memo) {
        open->OpenBlob(5, image.data());
        open->WriteBlob(5, image.data(), 0, 4, "memo");
      }
      open->InsertRecord(image.data());
      if (memo) open->CloseBlob(5, image.data());
    }
    for (std::int32_t id : {3, 10, 17, 40, 63}) {
      open->InitRecord(image.data());
      open->SetField(1, image.data(), &id);
      if (open->FindKey(false, image.data(), nullptr, 0, false, 0)) open->DeleteRecord();
    }
    return open;
  }();
  return *table;
}

std::vector<std::int32_t> Records(TDataFile& table) {
  const TRecordBitmap* bitmap = table.IndexFile().CursorBitmap();
  if (!bitmap) __builtin_trap();
  std::vector<std::int32_t> records;
  for (std::int32_t n = 0; bitmap->NextSetBit(n, table.PhysicalRecordCount());) {
    if (table.FetchRecord(n)->Deleted()) __builtin_trap();
    records.push_back(n);
  }
  if (static_cast<std::int32_t>(records.size()) != table.RecordCount()) __builtin_trap();
  return records;
}

// The records of the block under a rule; nothing when the block is refused.
bool Evaluate(TDataFile& table, std::span<const std::uint8_t> block, TComplementRule rule,
              std::vector<std::int32_t>& records, std::vector<std::uint8_t>* rewritten) {
  table.SetComplementRule(rule);
  TFilterHandle handle = AllFilters;
  try {
    handle = table.AddFilter(0, block, nullptr);
  } catch (const EDBEngineError& e) {
    if (e.Code() != ec::InvalidFilterExpression) __builtin_trap();
    return false;
  }
  if (rewritten) {
    const auto expression = table.GetFilter(table.FilterCount() - 1u).Expression();
    rewritten->assign(expression.begin(), expression.end());
  }
  if (table.ActivateFilter(handle) != ec::Success) __builtin_trap();
  records = Records(table);
  // Walk a little: navigation over the bitmap must stay inside it.
  std::vector<std::uint8_t> buffer(table.RecordSize());
  table.GotoBOF();
  for (int steps = 0; steps < 8 && table.Next(buffer.data()) == ec::Success; ++steps) {
  }
  if (table.RemoveFilter(handle) != ec::Success) __builtin_trap();
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  TDataFile& table = Table();
  const std::uint8_t options = data[0];
  const std::span<const std::uint8_t> block(data + 1, size - 1);
  if (options & 1) {
    table.SelectIndex(0);
    const std::int32_t first = 8 * ((options >> 3) & 7);
    const std::int32_t last = first + 24;
    std::vector<std::uint8_t> start(table.RecordSize()), end(table.RecordSize());
    table.InitRecord(start.data());
    table.InitRecord(end.data());
    table.SetField(1, start.data(), &first);
    table.SetField(1, end.data(), &last);
    table.SetRange(false, start.data(), 1, end.data(), 1);
  } else {
    table.SelectIndex(static_cast<std::uint8_t>((options >> 1) & 3));
  }
  std::vector<std::int32_t> smaller, always, never, again;
  std::vector<std::uint8_t> rewritten;
  if (Evaluate(table, block, TComplementRule::SmallerSide, smaller, &rewritten)) {
    if (!Evaluate(table, block, TComplementRule::Always, always, nullptr) ||
        !Evaluate(table, block, TComplementRule::Never, never, nullptr) ||
        !Evaluate(table, rewritten, TComplementRule::Never, again, nullptr)) {
      __builtin_trap();
    }
    if (always != smaller || never != smaller || again != smaller) __builtin_trap();
  }
  table.CancelRange();
  table.SetComplementRule(TComplementRule::SmallerSide);
  return 0;
}
