// What the transfer reads of a Paradox or dBase table: field definitions, index definitions and the
// records, each value already in the engine's data form (see TSourceValue).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "classlib/data/field_type.h"

namespace kavrin::transfer {

using classlib::TFieldType;

// A source table that cannot be read: unknown or refused format, damage, a missing companion file, a
// wrong password. The message always names the file.
class ESourceError : public std::runtime_error {
 public:
  ESourceError(const std::string& fileName, const std::string& problem)
      : std::runtime_error(fileName + ": " + problem), fileName_(fileName) {}
  const std::string& FileName() const { return fileName_; }

 private:
  std::string fileName_;
};

struct TSourceField {
  std::string Name;  // UTF-8, decoded from the source's code page
  TFieldType Type = TFieldType::ftUnknown;
  // Characters or bytes for strings and bytes; the decimals for BCD; the leader size for Paradox blobs.
  int Size = 0;
  bool Required = false;
};

// Index option bits, as the class library's index definitions number them.
enum TSourceIndexOption : std::uint8_t {
  ixPrimary = 1,
  ixUnique = 2,
  ixDescending = 4,
  ixCaseInsensitive = 8,
  ixExpression = 16,
};

struct TSourceIndex {
  std::string Name;
  std::string Fields;      // field names separated by ";" (not for expression indexes)
  std::string Expression;  // set with ixExpression
  std::uint8_t Options = 0;
};

// One field value. Null, or the bytes the engine stores for the field's type: strings and memos as
// CP437 text without a terminator, date i32 day number (1 January 0001 = 1), time i32 milliseconds
// since midnight, date-time f64 milliseconds, boolean i16 0/1, smallint i16, integer and AutoInc i32,
// float and currency f64, BCD a Currency's raw i64 (value x 10,000); all little-endian. Blobs and bytes
// are the stored bytes unchanged.
struct TSourceValue {
  bool Null = true;
  std::string Bytes;
};

// Asked for the password of an encrypted table (the file's name given); false gives up.
using TPasswordCallback = std::function<bool(const std::string& fileName, std::string& password)>;

class TSourceTable {
 public:
  virtual ~TSourceTable() = default;
  const std::string& FileName() const { return fileName_; }
  const std::vector<TSourceField>& Fields() const { return fields_; }
  const std::vector<TSourceIndex>& Indexes() const { return indexes_; }
  // The Windows code page the table's text is stored in.
  int CodePage() const { return codePage_; }
  // The next live record's values, one per field; false after the last.
  virtual bool Next(std::vector<TSourceValue>& values) = 0;
  // The record number (from 1) that Next last returned, for error texts and progress.
  std::int64_t RecordNumber() const { return recordNumber_; }
  // The records the header counts (a dBase table's deleted records among them), for progress.
  std::int64_t RecordCount() const { return recordCount_; }

 protected:
  explicit TSourceTable(std::string fileName) : fileName_(std::move(fileName)) {}
  std::string fileName_;
  std::vector<TSourceField> fields_;
  std::vector<TSourceIndex> indexes_;
  int codePage_ = 437;
  std::int64_t recordNumber_ = 0;
  std::int64_t recordCount_ = 0;
};

// Opens path by its extension: ".DB" Paradox, ".DBF" dBase, in any case.
std::unique_ptr<TSourceTable> OpenSourceTable(const std::string& path, const TPasswordCallback& askPassword);

}  // namespace kavrin::transfer
