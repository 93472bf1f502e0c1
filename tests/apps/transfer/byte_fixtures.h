// Byte fixtures for what no independent writer makes: Paradox before 7, secondary index files, ".VAL",
// dBase 7, ".MDX", FoxPro and encrypted dBase headers. Each follows the layout written down at the top
// of the reader that reads it; tests change single bytes of them to damage them.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kavrin::transfer::testing {

using Bytes = std::vector<std::uint8_t>;

struct TPxField {
  std::uint8_t Type;
  std::uint8_t Size;
  std::string Name;
};

struct TPxFile {
  std::uint8_t FileType = 0;  // 0 keyed .DB, 2 unkeyed .DB, 3 .Xnn, 4 .Ynn, 6 .XGn, 7 .YGn
  std::uint8_t Version = 12;
  std::vector<TPxField> Fields;
  std::uint16_t KeyFields = 0;
  std::vector<Bytes> Records;
  std::string TableName = "TABLE";
  std::uint8_t IndexOptions = 0;
  std::uint16_t CodePage = 437;
  std::size_t RecordsPerBlock = 0;  // 0: as many as a block holds
  bool ReverseChain = false;        // blocks chained from the last one written to the first
};
Bytes BuildParadox(const TPxFile& file);

// Record values in Paradox's sortable form.
Bytes PxAlpha(std::size_t size, const std::string& text);
Bytes PxShort(std::int16_t value);
Bytes PxLong(std::int32_t value);  // also dates, times and AutoInc
Bytes PxDouble(double value);      // also currency, number and date-time
Bytes PxLogical(bool value);
Bytes PxNull(std::size_t size);
Bytes Concat(const std::vector<Bytes>& parts);

// ".VAL" with (field number, required) check entries.
Bytes BuildVal(const std::vector<std::pair<std::uint8_t, bool>>& checks);

struct TDbfField {
  std::string Name;
  char Type;
  std::uint8_t Length;
  std::uint8_t Decimals = 0;
};
// Records are their bytes without the deleted flag, which live records get as ' ' and those named in
// deleted as '*'. Version 0x04 or 0x8C lays out level 7.
Bytes BuildDbf(std::uint8_t version, const std::vector<TDbfField>& fields, const std::vector<std::string>& records,
               std::uint8_t languageDriver = 0, bool productionIndex = false, std::uint8_t encrypted = 0);
// Level 7's sortable numbers.
std::string DbfLong(std::int32_t value);
std::string DbfDouble(double value);

struct TMdxTag {
  std::string Name;
  std::string Expression;
  char KeyType = 'C';
  std::uint16_t KeyLength = 10;
  bool Descending = false;
  bool Unique = false;
  std::vector<std::pair<std::string, std::uint32_t>> Keys;  // in order: key text, record number
};
Bytes BuildMdx(const std::string& tableName, const std::vector<TMdxTag>& tags);

}  // namespace kavrin::transfer::testing
