// dBase tables of levels III, IV, V and 7, read-only, with ".DBT" memos and production ".MDX" tags.
// All numbers are little-endian unless said otherwise.
//
// ".DBF" header, at offset 0:
// | offset | width | field |
// |---|---|---|
// | 0 | u8 | version: 0x04 and 0x8C level 7; else low 3 bits 3 or 4 levels III to V; bit 7 (0x83, 0x8B, 0x8E)
// |   |    | a memo file; FoxPro's 0x30, 0x31, 0x32, 0xF5, 0xFB are refused |
// | 1 | 3 x u8 | last update: year - 1900, month, day |
// | 4 | u32 | record count |
// | 8 | u16 | header size: the first record starts here |
// | 10 | u16 | record size, the deleted flag included |
// | 15 | u8 | encrypted when not 0 (refused) |
// | 28 | u8 | 1 when a production ".MDX" belongs to the table |
// | 29 | u8 | language driver: the code page of the text |
// | 32 | ... | levels III to V: 32-byte field descriptors; level 7: a 32-byte driver name, 4 reserved bytes, then
// |    |     | 48-byte field descriptors; the list ends with 0x0D |
// Field descriptor, levels III to V: 0 name (11 bytes, zero-padded), 11 type, 16 u8 length, 17 u8 decimals.
// Level 7: 0 name (32 bytes), 32 type, 33 u8 length, 34 u8 decimals, 40 u32 next AutoInc value.
// Record: byte 0 '*' deleted, ' ' live; then the fields in order, each its length.
// Types: C text (blank-padded), N and F numbers as text, D "YYYYMMDD", L one of "TtYyFfNn?" or blank,
// M memo, B binary, G OLE (each a 10-digit block number in the ".DBT", or 4 bytes binary), level 7:
// I and + (4 bytes) integers and O (8 bytes) floats stored to sort bytewise (big-endian, sign bit
// flipped; a negative float all its bits), @ (8 bytes) a date-time as O holding milliseconds with day 1
// = 1 January 0001. A blank value is null.
//
// ".DBT": block 0 is the header: 0 u32 next free block; levels IV and 7: 20 u16 block size (0 = 512).
// Level III: a memo starts at its block and ends at 0x1A or the end of the file (block size 512). Level IV
// layout: a memo block starts FF FF 08 00, then u32 the length including these 8 bytes, then the bytes; a
// block with fewer than 8 bytes left in the file is read as level III.
//
// ".MDX": 512-byte pages.
// | 0 | u8 | version 2 | 4 | 16 bytes | table name | 20 | u16 | pages per block | 22 | u16 | block bytes |
// | 24 | u8 | production flag | 25 | u8 | tag entries (at most 48) | 26 | u8 | tag entry length (32) |
// | 28 | u16 | tags in use | 32 | u32 | pages in the file |
// Tag entries from offset 544, 32 bytes each: 0 u32 page of the tag header, 4 name (11 bytes), 15 u8 key
// format, 20 u8 key type ('C', 'D', 'N').
// Tag header at its page x 512: 0 u32 root page, 8 u8 key format (0x08 descending, 0x40 unique), 9 u8 key
// type, 12 u16 key length, 23 u8 unique (0x40), 24 the key expression (zero-ended, at most 220 bytes).
#include "apps/transfer/readers/dbase_table.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "apps/transfer/readers/code_page.h"
#include "apps/transfer/readers/source_files.h"
#include "apps/transfer/readers/stored_numbers.h"
#include "engine/byte_order.h"
#include "runtime/date_time.h"

namespace kavrin::transfer {
namespace {

using detail::Bytes;
using detail::DecodeSortedDouble;
using detail::LoadBigEndian32;

using engine::LoadU16;
using engine::LoadU32;

// Records are read this many bytes at a time (at least one record).
constexpr std::size_t kRecordWindowBytes = 64 * 1024;

struct TDBaseField {
  char Type = 0;
  std::uint8_t Length = 0;
  std::uint8_t Decimals = 0;
  std::size_t Offset = 0;  // in the record
};

std::string TrimRight(std::string_view text) {
  std::size_t n = text.size();
  while (n > 0 && (text[n - 1] == ' ' || text[n - 1] == '\0')) --n;
  return std::string(text.substr(0, n));
}

std::string Trim(std::string_view text) {
  std::string right = TrimRight(text);
  std::size_t start = 0;
  while (start < right.size() && right[start] == ' ') ++start;
  return right.substr(start);
}

class TDBaseTable final : public TSourceTable {
 public:
  explicit TDBaseTable(const std::string& path);
  bool Next(std::vector<TSourceValue>& values) override;

 private:
  void ReadFields(const TFileBytes& head);
  void ReadProductionIndex(const std::string& mdxPath);
  [[noreturn]] void BadValue(std::size_t field, const std::string& what) const;
  TSourceValue DecodeValue(std::size_t field, const std::uint8_t* p) const;
  std::string ReadMemo(std::size_t field, std::uint32_t block) const;
  const TSourceFile& MemoFile() const;

  TSourceFile dbf_;
  std::uint8_t version_ = 0;
  bool level7_ = false;
  std::uint32_t slots_ = 0;
  std::uint16_t headerSize_ = 0;
  std::uint16_t recordSize_ = 0;
  std::vector<TDBaseField> layout_;
  TOemRecoder recoder_{437};
  mutable std::unique_ptr<TSourceFile> dbt_;
  mutable bool dbtLooked_ = false;
  mutable std::uint32_t memoBlockSize_ = 0;
  std::uint32_t next_ = 0;  // the next record slot to look at
  // The records read last: slots windowFirst_ to windowFirst_ + windowCount_ - 1.
  std::vector<std::uint8_t> window_;
  std::uint32_t windowFirst_ = 0;
  std::uint32_t windowCount_ = 0;
};

TDBaseTable::TDBaseTable(const std::string& path) : TSourceTable(path), dbf_(path) {
  std::uint8_t h[32];
  dbf_.Read(0, sizeof h, h, "header");
  version_ = h[0];
  if (version_ == 0x30 || version_ == 0x31 || version_ == 0x32 || version_ == 0xF5 || version_ == 0xFB)
    throw ESourceError(path, "is a FoxPro table; only dBase tables can be transferred");
  if ((version_ & 0x07) != 3 && (version_ & 0x07) != 4) throw ESourceError(path, "is not a dBase table");
  // Level 7 is 0x04 or 0x8C; other writers mark a level IV table with a memo file 0x84 too.
  level7_ = version_ == 0x04 || version_ == 0x8C;
  if (h[15] != 0) throw ESourceError(path, "is an encrypted dBase table, which cannot be transferred");
  slots_ = LoadU32(h + 4);
  recordCount_ = slots_;
  headerSize_ = LoadU16(h + 8);
  recordSize_ = LoadU16(h + 10);
  codePage_ = CodePageOfLanguageDriver(h[29]);
  recoder_ = TOemRecoder(codePage_);
  if (headerSize_ > dbf_.Size()) dbf_.Damaged("header size");
  ReadFields(dbf_.ReadStart(headerSize_));
  if (recordSize_ == 0) dbf_.Damaged("record size");
  // A file cut short keeps the records that are there whole; the count may not promise more.
  if (static_cast<std::uint64_t>(slots_) * recordSize_ > dbf_.Size() - headerSize_) dbf_.Damaged("record count");
  if (h[28] != 0) {
    const auto mdx = FindCompanion(path, ".MDX");
    if (!mdx) throw ESourceError(StemOf(path) + ".MDX", "the production index of " + path + " is missing");
    ReadProductionIndex(*mdx);
  }
}

void TDBaseTable::ReadFields(const TFileBytes& head) {
  const std::size_t descriptorSize = level7_ ? 48 : 32;
  std::size_t offset = level7_ ? 68 : 32;
  std::size_t recordOffset = 1;
  for (;;) {
    if (offset >= head.Size()) dbf_.Damaged("field descriptors");
    if (head.Bytes[offset] == 0x0D) break;
    if (offset + descriptorSize > head.Size()) dbf_.Damaged("field descriptors");
    const std::uint8_t* d = head.Bytes.data() + offset;
    const std::size_t nameLength = level7_ ? 32 : 11;
    std::string name(d, std::find(d, d + nameLength, 0));
    TDBaseField f;
    f.Type = static_cast<char>(level7_ ? d[32] : d[11]);
    f.Length = level7_ ? d[33] : d[16];
    f.Decimals = level7_ ? d[34] : d[17];
    f.Offset = recordOffset;
    TSourceField field;
    field.Name = recoder_.ToUtf8(Trim(name));
    if (field.Name.empty()) dbf_.Damaged("field name");
    switch (f.Type) {
      case 'C':
        field.Type = TFieldType::ftString;
        field.Size = f.Length;
        break;
      case 'N':
      case 'F': field.Type = TFieldType::ftFloat; break;
      case 'D':
        field.Type = TFieldType::ftDate;
        if (f.Length != 8) dbf_.Damaged("field " + field.Name);
        break;
      case 'L':
        field.Type = TFieldType::ftBoolean;
        if (f.Length != 1) dbf_.Damaged("field " + field.Name);
        break;
      case 'M': field.Type = TFieldType::ftMemo; break;
      case 'B': field.Type = TFieldType::ftBlob; break;
      case 'G': field.Type = TFieldType::ftDBaseOle; break;
      default:
        if (level7_ && (f.Type == 'I' || f.Type == '+')) {
          field.Type = f.Type == 'I' ? TFieldType::ftInteger : TFieldType::ftAutoInc;
          if (f.Length != 4) dbf_.Damaged("field " + field.Name);
        } else if (level7_ && (f.Type == 'O' || f.Type == '@')) {
          field.Type = f.Type == 'O' ? TFieldType::ftFloat : TFieldType::ftDateTime;
          if (f.Length != 8) dbf_.Damaged("field " + field.Name);
        } else {
          throw ESourceError(fileName_, "field " + field.Name + " has a type this reader does not know");
        }
    }
    if ((f.Type == 'M' || f.Type == 'B' || f.Type == 'G') && f.Length != 10 && f.Length != 4)
      dbf_.Damaged("field " + field.Name);
    if (f.Length == 0) dbf_.Damaged("field " + field.Name);
    recordOffset += f.Length;
    layout_.push_back(f);
    fields_.push_back(field);
    offset += descriptorSize;
  }
  if (layout_.empty()) dbf_.Damaged("field descriptors");
  if (recordOffset != recordSize_) dbf_.Damaged("record size");
}

void TDBaseTable::ReadProductionIndex(const std::string& mdxPath) {
  const TSourceFile mdx(mdxPath);
  std::uint8_t h[544];
  mdx.Read(0, sizeof h, h, "header");
  if (h[0] != 2) mdx.Damaged("version");
  const std::uint8_t entries = h[25];
  const std::uint8_t entryLength = h[26];
  const std::uint16_t used = LoadU16(h + 28);
  if (entryLength < 32 || used > entries || entries > 48) mdx.Damaged("tag table");
  for (std::uint16_t i = 0; i < used; ++i) {
    std::uint8_t tag[32];
    mdx.Read(544 + static_cast<std::uint64_t>(i) * entryLength, sizeof tag, tag, "tag table");
    const std::uint32_t page = LoadU32(tag);
    std::string name(tag + 4, std::find(tag + 4, tag + 15, 0));
    // The header's 24 bytes, then the expression of at most 220 bytes with its zero.
    std::uint8_t t[24 + 220];
    const std::uint64_t at = static_cast<std::uint64_t>(page) * 512;
    if (page == 0 || !mdx.Holds(at, 24 + 1)) mdx.Damaged("tag header of " + name);
    const std::size_t got = mdx.ReadSome(at, sizeof t, t);
    if (got < 24 + 1) mdx.Damaged("tag header of " + name);
    const std::uint8_t* text = t + 24;
    const std::size_t room = got - 24;
    const std::uint8_t* end = std::find(text, text + room, 0);
    if (end == text + room) mdx.Damaged("key expression of " + name);
    TSourceIndex index;
    index.Name = recoder_.ToUtf8(Trim(name));
    const std::string expression = recoder_.ToUtf8(Trim(std::string(text, end)));
    if (index.Name.empty() || expression.empty()) mdx.Damaged("tag " + name);
    const auto field = std::find_if(fields_.begin(), fields_.end(), [&](const TSourceField& f) {
      return UpperAscii(f.Name) == UpperAscii(expression);
    });
    if (field != fields_.end()) {
      index.Fields = field->Name;
    } else {
      index.Expression = expression;
      index.Options |= ixExpression;
    }
    if (t[8] & 0x08) index.Options |= ixDescending;
    // A unique tag keeps the first record of each key and refuses none; as a unique engine index it
    // would refuse the table's repeated keys, so it comes over non-unique.
    indexes_.push_back(std::move(index));
  }
}

const TSourceFile& TDBaseTable::MemoFile() const {
  if (!dbtLooked_) {
    dbtLooked_ = true;
    if (const auto path = FindCompanion(fileName_, ".DBT")) {
      dbt_ = std::make_unique<TSourceFile>(*path);
      std::uint8_t header[22];
      dbt_->Read(0, sizeof header, header, "header");
      memoBlockSize_ = 512;
      if (version_ != 0x83) {
        const std::uint16_t stored = LoadU16(header + 20);
        if (stored != 0) memoBlockSize_ = stored;
      }
      if (memoBlockSize_ < 32) dbt_->Damaged("block size");
    }
  }
  if (!dbt_) throw ESourceError(StemOf(fileName_) + ".DBT", "the memo file of " + fileName_ + " is missing");
  return *dbt_;
}

std::string TDBaseTable::ReadMemo(std::size_t field, std::uint32_t block) const {
  const TSourceFile& dbt = MemoFile();
  const std::uint64_t offset = static_cast<std::uint64_t>(block) * memoBlockSize_;
  const std::string what = "memo of record " + std::to_string(recordNumber_) + ", field " + fields_[field].Name;
  if (offset >= dbt.Size()) dbt.Damaged(what);
  // The last memo of a file may be shorter than a level IV memo's 8-byte lead ("Hi" and its end mark).
  std::uint8_t lead[8];
  const std::size_t got = dbt.ReadSome(offset, sizeof lead, lead);
  if (got == sizeof lead && lead[0] == 0xFF && lead[1] == 0xFF && lead[2] == 0x08 && lead[3] == 0x00) {
    const std::uint32_t length = LoadU32(lead + 4);
    if (length < 8) dbt.Damaged("memo length of record " + std::to_string(recordNumber_));
    if (!dbt.Holds(offset + 8, length - 8u)) dbt.Damaged("memo of record " + std::to_string(recordNumber_));
    std::string text(length - 8u, '\0');
    dbt.Read(offset + 8, text.size(), text.data(), "memo of record " + std::to_string(recordNumber_));
    return text;
  }
  // A level III memo runs to its end mark, or to the end of the file.
  std::string text;
  std::uint8_t chunk[4096];
  for (std::uint64_t at = offset;;) {
    const std::size_t read = dbt.ReadSome(at, sizeof chunk, chunk);
    const std::uint8_t* end = std::find(chunk, chunk + read, 0x1A);
    text.append(reinterpret_cast<const char*>(chunk), static_cast<std::size_t>(end - chunk));
    if (end != chunk + read || read < sizeof chunk) break;
    at += read;
  }
  return text;
}

void TDBaseTable::BadValue(std::size_t field, const std::string& what) const {
  throw ESourceError(fileName_,
                     "field " + fields_[field].Name + " of record " + std::to_string(recordNumber_) + " holds " + what);
}

// A number as dBase writes it: optional blanks, sign, digits, one point, an exponent for F.
bool ParseNumber(const std::string& text, double& value) {
  if (text.empty() || text.size() > 40) return false;
  std::size_t i = 0;
  if (text[i] == '+' || text[i] == '-') ++i;
  bool digits = false;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, digits = true;
  if (i < text.size() && (text[i] == '.' || text[i] == ',')) {
    ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, digits = true;
  }
  if (!digits) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    bool exponent = false;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, exponent = true;
    if (!exponent) return false;
  }
  if (i != text.size()) return false;
  std::string normal = text;
  std::replace(normal.begin(), normal.end(), ',', '.');
  char* end = nullptr;
  value = std::strtod(normal.c_str(), &end);
  return std::isfinite(value);
}

TSourceValue TDBaseTable::DecodeValue(std::size_t field, const std::uint8_t* p) const {
  const TDBaseField& f = layout_[field];
  const std::string raw(reinterpret_cast<const char*>(p), f.Length);
  TSourceValue value;
  switch (f.Type) {
    case 'C': {
      const std::string text = TrimRight(raw);
      if (text.empty()) return value;
      value.Bytes = recoder_.Recode(text);
      break;
    }
    case 'N':
    case 'F': {
      const std::string text = Trim(raw);
      if (text.empty()) return value;
      double number = 0;
      if (!ParseNumber(text, number)) BadValue(field, "no number: \"" + text + "\"");
      value.Bytes = Bytes(number);
      break;
    }
    case 'D': {
      const std::string text = Trim(raw);
      if (text.empty() || text == "00000000") return value;
      runtime::TDateTime date = 0;
      bool ok = text.size() == 8 && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
      if (ok)
        ok = runtime::TryEncodeDate(std::stoi(text.substr(0, 4)), std::stoi(text.substr(4, 2)),
                                    std::stoi(text.substr(6, 2)), date);
      if (!ok) BadValue(field, "no date: \"" + text + "\"");
      value.Bytes = Bytes(runtime::DateTimeToTimeStamp(date).Date);
      break;
    }
    case 'L': {
      const char c = raw[0];
      if (c == ' ' || c == '?' || c == '\0') return value;
      if (std::strchr("TtYy", c))
        value.Bytes = Bytes(static_cast<std::int16_t>(1));
      else if (std::strchr("FfNn", c))
        value.Bytes = Bytes(static_cast<std::int16_t>(0));
      else
        BadValue(field, "no logical value");
      break;
    }
    case 'M':
    case 'B':
    case 'G': {
      std::uint32_t block = 0;
      if (f.Length == 4) {
        block = LoadU32(p);
      } else {
        const std::string text = Trim(raw);
        if (text.empty()) return value;
        if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }) || text.size() > 9)
          BadValue(field, "no memo block number");
        block = static_cast<std::uint32_t>(std::stoul(text));
      }
      if (block == 0) return value;
      value.Bytes = ReadMemo(field, block);
      if (value.Bytes.empty()) return value;
      if (f.Type == 'M') value.Bytes = recoder_.Recode(value.Bytes);
      break;
    }
    case 'I':
    case '+':
      if (std::all_of(p, p + 4, [](std::uint8_t b) { return b == 0; })) return value;
      value.Bytes = Bytes(static_cast<std::int32_t>(LoadBigEndian32(p) ^ 0x80000000u));
      break;
    case 'O':
    case '@':
      if (std::all_of(p, p + 8, [](std::uint8_t b) { return b == 0; })) return value;
      value.Bytes = Bytes(DecodeSortedDouble(p));
      break;
    default: BadValue(field, "a value of an unknown type");
  }
  value.Null = false;
  return value;
}

bool TDBaseTable::Next(std::vector<TSourceValue>& values) {
  while (next_ < slots_) {
    if (next_ < windowFirst_ || next_ - windowFirst_ >= windowCount_) {
      const std::uint32_t count = static_cast<std::uint32_t>(
          std::min<std::uint64_t>(slots_ - next_, std::max<std::size_t>(1, kRecordWindowBytes / recordSize_)));
      window_.resize(static_cast<std::size_t>(count) * recordSize_);
      dbf_.Read(headerSize_ + static_cast<std::uint64_t>(next_) * recordSize_, window_.size(), window_.data(),
                "record " + std::to_string(next_ + 1));
      windowFirst_ = next_;
      windowCount_ = count;
    }
    const std::uint8_t* record = window_.data() + static_cast<std::size_t>(next_ - windowFirst_) * recordSize_;
    ++next_;
    recordNumber_ = next_;
    if (record[0] == '*') continue;
    if (record[0] != ' ') dbf_.Damaged("deleted flag of record " + std::to_string(recordNumber_));
    values.clear();
    for (std::size_t i = 0; i < layout_.size(); ++i) values.push_back(DecodeValue(i, record + layout_[i].Offset));
    return true;
  }
  return false;
}

}  // namespace

std::unique_ptr<TSourceTable> OpenDBaseTable(const std::string& path) { return std::make_unique<TDBaseTable>(path); }

}  // namespace kavrin::transfer
