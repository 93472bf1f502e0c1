// Paradox tables, read-only. Numbers in headers and blob leaders are little-endian; field values in
// records are stored to sort bytewise: big-endian, the sign bit flipped (see DecodeValue).
//
// Header of ".DB" (data), ".PX" and ".Xnn"/".XGn" (secondary index) files, at offset 0:
// | offset | width | field |
// |---|---|---|
// | 0x00 | u16 | record size |
// | 0x02 | u16 | header size: the first data block starts here |
// | 0x04 | u8 | file type: 0 keyed .DB, 1 .PX, 2 unkeyed .DB, 3/5 .Xnn, 4 .Ynn, 6/8 .XGn, 7 .YGn |
// | 0x05 | u8 | block size in KiB (1 to 32) |
// | 0x06 | u32 | record count |
// | 0x0C | u16 | blocks in the file |
// | 0x0E | u16 | first data block (from 1), 0 for none |
// | 0x10 | u16 | last data block |
// | 0x21 | u16 | field count |
// | 0x23 | u16 | key field count: the leading fields of a keyed .DB; the indexed fields of an .Xnn/.XGn |
// | 0x25 | u32 | versions 3 and 4: password checksum (0 without a password); later 0xFF00FF00 |
// | 0x2B | u8 | .Xnn/.XGn only: index options, bit 0 case-insensitive, bit 1 unique, bit 2 descending |
// | 0x39 | u8 | version: 3 (3.0), 4 (3.5), 5 to 9 (4.x), 10 and 11 (5.x), 12 (7) |
// | 0x5C | 4 bytes | versions 5 on, data and index files: password check (0 without a password); its
// first two bytes are the key of the data blocks' scrambling (see paradox_scrambling.h) |
// | 0x6A | u16 | versions 5 on, data and index files: the DOS code page of the table's text |
// | 0x58 or 0x78 | 2 x field count | field information: type, size (0x78 from version 5 on) |
// | then | u32 | table name pointer (not used) |
// | then | 4 x field count | field name pointers (not used) |
// | then | 79 (versions 3, 4) or 261 bytes | table name, zero-padded; the index name in an .XGn file |
// | then | field count strings | field names, each ended by a zero byte |
// The header must end within the header size; the rest of the header is not read.
//
// Data block n (from 1) at header size + (n - 1) x block size:
// | 0 | u16 | next block in the table's chain, 0 at its end |
// | 2 | u16 | previous block |
// | 4 | i16 | offset of the block's last record from byte 6; negative when the block holds none |
// | 6 | records | record size bytes each, the fields in field order |
//
// Field types (type byte: letter, record bytes): 0x01 A size; 0x02 D 4 (days, 1 January 0001 = 1);
// 0x03 S 2; 0x04 I 4; 0x05 $ 8; 0x06 N 8; 0x09 L 1 (0x80 false, 0x81 true); 0x0C M, 0x0D B, 0x0E F,
// 0x0F O, 0x10 G size (a blob leader); 0x14 T 4 (milliseconds of the day); 0x15 @ 8 (milliseconds,
// day 1 = 1 January 0001); 0x16 + 4; 0x17 # 17 (size = decimals); 0x18 Y size. All-zero bytes are null.
// Integers: big-endian with the top bit flipped. Floats: big-endian IEEE; a positive value has its top
// bit flipped, a negative one all its bits. BCD: byte 0 bit 7 set for a positive value, then 32 digit
// nibbles in bytes 1 to 16 whose last `size` digits are the decimals; a negative value has all its bits
// flipped.
//
// Blob leader, the last 10 bytes of a blob field's record bytes (the bytes before it hold the blob's
// first bytes, the whole blob when it is that short):
// | 0 | u32 | .MB block offset (low byte cleared) + entry: 0xFF a blob of its own, else the slot |
// | 4 | u32 | blob length, 0 for null |
// | 8 | u16 | modification number |
// ".MB" blocks lie on 4096-byte boundaries (block 0 is the file header). A blob of its own:
// | 0 | u8 | 2 | 1 | u16 | 4096-byte chunks the block takes | 3 | u32 | blob length | 7 | u16 | modification |
// | 9 | ... | the blob's bytes |
// A block of small blobs: byte 0 is 3; 64 slot entries of 5 bytes from offset 12:
// | 0 | u8 | data offset in 16-byte units from the block's start (0: slot free) |
// | 1 | u8 | data length in 16-byte units, rounded up | 2 | u16 | modification | 4 | u8 | length mod 16 |
//
// ".VAL" (only what the transfer needs):
// | 0x00 | u8 | version: 0x09 (Paradox 4, 5) or 0x0B (Paradox 7) |
// | 0x35 | u16 | check entries |
// | 0x37 | u32 | offset of the first entry; entries are 23 bytes: 0 u8 field number (from 1), 2 u8 required |
// Secondary indexes: "<table>.Xnn" (nn the hexadecimal number of the one field, named after it) and
// "<table>.XGn" (name in the table-name area), each with its tree in ".Ynn"/".YGn"; the index fields are
// the file's first key-field-count fields, found in the table by name.
#include "apps/transfer/readers/paradox_table.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "apps/transfer/readers/code_page.h"
#include "apps/transfer/readers/paradox_scrambling.h"
#include "apps/transfer/readers/source_files.h"
#include "apps/transfer/readers/stored_numbers.h"
#include "engine/byte_order.h"

namespace kavrin::transfer {
namespace {

using detail::Bytes;
using detail::DecodeSortedDouble;
using detail::LoadBigEndian32;

using engine::LoadU16;
using engine::LoadU32;

constexpr std::uint32_t kMbBlockSize = 4096;

struct TParadoxField {
  std::uint8_t Type = 0;
  std::uint8_t Size = 0;  // as stored
  int Width = 0;          // bytes in the record
  std::string Name;       // as stored (the table's code page)
};

struct TParadoxHeader {
  std::uint16_t RecordSize = 0;
  std::uint16_t HeaderSize = 0;
  std::uint8_t FileType = 0;
  std::uint32_t BlockSize = 0;
  std::uint32_t RecordCount = 0;
  std::uint16_t FileBlocks = 0;
  std::uint16_t FirstBlock = 0;
  std::uint16_t KeyFields = 0;
  std::uint8_t IndexOptions = 0;
  std::uint8_t Version = 0;
  bool Encrypted = false;
  bool KeyKnown = false;  // the check's layout is known (not in versions 3 and 4)
  TParadoxCheck Check{};
  int CodePage = 437;
  std::string TableName;
  std::vector<TParadoxField> Fields;
};

int RecordWidth(std::uint8_t type, std::uint8_t size) {
  switch (type) {
    case 0x01:
    case 0x0C:
    case 0x0D:
    case 0x0E:
    case 0x0F:
    case 0x10:
    case 0x18: return size;
    case 0x02:
    case 0x04:
    case 0x14:
    case 0x16: return 4;
    case 0x03: return 2;
    case 0x05:
    case 0x06:
    case 0x15: return 8;
    case 0x09: return 1;
    case 0x17: return 17;
    default: return -1;
  }
}

bool IsBlobType(std::uint8_t type) { return type >= 0x0C && type <= 0x10; }

TFieldType FieldTypeOf(std::uint8_t type) {
  switch (type) {
    case 0x01: return TFieldType::ftString;
    case 0x02: return TFieldType::ftDate;
    case 0x03: return TFieldType::ftSmallint;
    case 0x04: return TFieldType::ftInteger;
    case 0x05: return TFieldType::ftCurrency;
    case 0x06: return TFieldType::ftFloat;
    case 0x09: return TFieldType::ftBoolean;
    case 0x0C: return TFieldType::ftMemo;
    case 0x0D: return TFieldType::ftBlob;
    case 0x0E: return TFieldType::ftFmtMemo;
    case 0x0F: return TFieldType::ftParadoxOle;
    case 0x10: return TFieldType::ftGraphic;
    case 0x14: return TFieldType::ftTime;
    case 0x15: return TFieldType::ftDateTime;
    case 0x16: return TFieldType::ftAutoInc;
    case 0x17: return TFieldType::ftBCD;
    case 0x18: return TFieldType::ftBytes;
    default: return TFieldType::ftUnknown;
  }
}

// A zero-ended string that must end before limit.
std::string ReadZeroString(const TFileBytes& file, std::size_t& offset, std::size_t limit, const char* what) {
  const std::uint8_t* begin = file.Bytes.data() + offset;
  const std::uint8_t* end = file.Bytes.data() + limit;
  const std::uint8_t* zero = std::find(begin, end, 0);
  if (zero == end) file.Damaged(what);
  offset += static_cast<std::size_t>(zero - begin) + 1;
  return std::string(begin, zero);
}

// The header is at most 65,535 bytes (its size is a u16), so its parse needs no more than that.
TParadoxHeader ReadHeader(const TSourceFile& source) {
  const TFileBytes file = source.ReadStart(0xFFFF);
  TParadoxHeader h;
  const std::uint8_t* p = file.At(0, 0x58, "header");
  h.RecordSize = LoadU16(p + 0x00);
  h.HeaderSize = LoadU16(p + 0x02);
  h.FileType = p[0x04];
  h.BlockSize = static_cast<std::uint32_t>(p[0x05]) * 1024;
  h.RecordCount = LoadU32(p + 0x06);
  h.FileBlocks = LoadU16(p + 0x0C);
  h.FirstBlock = LoadU16(p + 0x0E);
  const std::uint16_t fieldCount = LoadU16(p + 0x21);
  h.KeyFields = LoadU16(p + 0x23);
  h.IndexOptions = p[0x2B];
  h.Version = p[0x39];
  if (h.Version < 3 || h.Version > 12) throw ESourceError(file.FileName, "is not a Paradox table of version 3 to 7");
  if (h.FileType > 8) file.Damaged("file type");
  if (p[0x05] < 1 || p[0x05] > 32) file.Damaged("block size");
  if (fieldCount == 0 || fieldCount > 1024) file.Damaged("field count");
  if (h.HeaderSize < 0x58 || h.HeaderSize > file.Size()) file.Damaged("header size");
  const bool extended = h.Version >= 5 && h.FileType != 1 && h.FileType != 4 && h.FileType != 7;
  h.Encrypted = LoadU32(p + 0x25) != 0;
  std::size_t offset = 0x58;
  if (extended) {
    const std::uint8_t* x = file.At(0x58, 0x20, "header");
    if (h.HeaderSize < 0x78) file.Damaged("header size");
    h.Encrypted = LoadU32(x + 0x5C - 0x58) != 0;  // 0x25 then holds a marker
    h.KeyKnown = true;
    std::memcpy(h.Check.data(), x + 0x5C - 0x58, h.Check.size());
    const std::uint16_t codePage = LoadU16(x + 0x6A - 0x58);
    if (codePage != 0) h.CodePage = codePage;
    offset = 0x78;
  }
  const std::size_t limit = h.HeaderSize;
  const std::size_t nameArea = h.Version >= 5 ? 261 : 79;
  if (offset + fieldCount * 2u + 4 + fieldCount * 4u + nameArea > limit) file.Damaged("field information");
  int width = 0;
  for (std::uint16_t i = 0; i < fieldCount; ++i) {
    TParadoxField field;
    field.Type = file.Bytes[offset + i * 2u];
    field.Size = file.Bytes[offset + i * 2u + 1];
    field.Width = RecordWidth(field.Type, field.Size);
    if (field.Width < 0) file.Damaged("field type");
    if (field.Width == 0) file.Damaged("field size");
    if (IsBlobType(field.Type) && field.Size < 10) file.Damaged("blob field size");
    width += field.Width;
    h.Fields.push_back(field);
  }
  offset += fieldCount * 2u + 4 + fieldCount * 4u;
  const std::uint8_t* name = file.Bytes.data() + offset;
  h.TableName.assign(name, std::find(name, name + nameArea, 0));
  offset += nameArea;
  for (TParadoxField& field : h.Fields) field.Name = ReadZeroString(file, offset, limit, "field names");
  if (h.RecordSize == 0 || width != h.RecordSize) file.Damaged("record size");
  if (h.KeyFields > fieldCount) file.Damaged("key field count");
  return h;
}

bool AllZero(const std::uint8_t* p, std::size_t n) {
  return std::all_of(p, p + n, [](std::uint8_t b) { return b == 0; });
}

class TParadoxTable final : public TSourceTable {
 public:
  TParadoxTable(const std::string& path, const TPasswordCallback& askPassword);
  bool Next(std::vector<TSourceValue>& values) override;

 private:
  void CheckPassword(const TPasswordCallback& askPassword);
  void LoadBlock(std::uint16_t n);
  void ReadRequiredFlags();
  void ReadSecondaryIndexes();
  [[noreturn]] void BadValue(std::size_t field, const char* what) const;
  TSourceValue DecodeValue(std::size_t field, const std::uint8_t* p) const;
  std::string ReadBlob(std::size_t field, const std::uint8_t* p) const;
  const TSourceFile& BlobFile() const;

  TSourceFile db_;
  TParadoxHeader header_;
  TOemRecoder recoder_{437};
  mutable std::unique_ptr<TSourceFile> mb_;
  mutable bool mbLooked_ = false;
  // The data blocks are read one at a time along their chain.
  std::vector<std::uint8_t> block_;
  std::vector<bool> seen_;
  std::uint16_t nextBlock_ = 0;  // 0 at the end of the chain
  std::uint32_t blockRecords_ = 0;
  std::uint32_t inBlock_ = 0;
  std::uint64_t total_ = 0;
};

TParadoxTable::TParadoxTable(const std::string& path, const TPasswordCallback& askPassword)
    : TSourceTable(path), db_(path) {
  header_ = ReadHeader(db_);
  if (header_.FileType != 0 && header_.FileType != 2) throw ESourceError(path, "is not a Paradox data file");
  if (header_.Encrypted) CheckPassword(askPassword);
  codePage_ = header_.CodePage;
  recordCount_ = header_.RecordCount;
  recoder_ = TOemRecoder(codePage_);
  for (std::size_t i = 0; i < header_.Fields.size(); ++i) {
    TSourceField field;
    field.Name = recoder_.ToUtf8(header_.Fields[i].Name);
    field.Type = FieldTypeOf(header_.Fields[i].Type);
    field.Size = header_.Fields[i].Size;
    fields_.push_back(field);
  }
  if (header_.BlockSize < 6u + header_.RecordSize) db_.Damaged("record size");
  seen_.assign(header_.FileBlocks + 1u, false);
  nextBlock_ = header_.FirstBlock;
  ReadRequiredFlags();
  if (header_.FileType == 0 && header_.KeyFields > 0) {
    TSourceIndex primary;
    for (std::uint16_t i = 0; i < header_.KeyFields; ++i) {
      if (!primary.Fields.empty()) primary.Fields += ';';
      primary.Fields += fields_[i].Name;
    }
    primary.Options = ixPrimary | ixUnique;
    indexes_.push_back(primary);
  }
  ReadSecondaryIndexes();
}

void TParadoxTable::CheckPassword(const TPasswordCallback& askPassword) {
  // Versions 3 and 4 keep their check elsewhere, and no writer at hand shows how they scramble.
  if (!header_.KeyKnown) {
    throw ESourceError(db_.FileName(), "is protected by a password; encrypted Paradox 3 and 4 tables cannot be read");
  }
  std::string password;
  if (!askPassword || !askPassword(db_.FileName(), password)) {
    throw ESourceError(db_.FileName(), "is protected by a password, and none was given");
  }
  if (ParadoxPasswordCheck(password) != header_.Check) {
    throw ESourceError(db_.FileName(), "is protected by a password, and the password given does not match");
  }
}

// Block n (from 1) of the chain: its records, unscrambled; the chain and counts are checked on the way,
// so a table is known whole only once its last block is read.
void TParadoxTable::LoadBlock(std::uint16_t n) {
  if (n > header_.FileBlocks || seen_[n]) db_.Damaged("block chain");
  seen_[n] = true;
  const std::uint64_t offset = header_.HeaderSize + static_cast<std::uint64_t>(n - 1) * header_.BlockSize;
  if (!db_.Holds(offset, 6)) db_.Damaged("data block");
  block_.resize(header_.BlockSize);
  const std::size_t got = db_.ReadSome(offset, block_.size(), block_.data());
  if (got < 6) db_.Damaged("data block");
  // Only whole blocks are scrambled.
  if (header_.Encrypted && got == block_.size())
    UnscrambleParadoxBlock(block_.data(), block_.size(), n - 1u, header_.Check);
  const std::uint8_t* p = block_.data();
  const auto last = static_cast<std::int16_t>(LoadU16(p + 4));
  std::uint32_t count = 0;
  if (last >= 0) {
    const std::uint32_t perBlock = (header_.BlockSize - 6) / header_.RecordSize;
    if (last % header_.RecordSize != 0) db_.Damaged("data block");
    count = static_cast<std::uint32_t>(last) / header_.RecordSize + 1;
    if (count > perBlock || 6 + static_cast<std::size_t>(count) * header_.RecordSize > got) db_.Damaged("data block");
  }
  total_ += count;
  if (total_ > header_.RecordCount) db_.Damaged("record count");
  blockRecords_ = count;
  inBlock_ = 0;
  nextBlock_ = LoadU16(p);
}

void TParadoxTable::ReadRequiredFlags() {
  const auto path = FindCompanion(fileName_, ".VAL");
  if (!path) return;
  const TSourceFile val(*path);
  std::uint8_t p[0x3B];
  val.Read(0, sizeof p, p, "header");
  if (p[0] != 0x09 && p[0] != 0x0B) val.Damaged("version");
  const std::uint16_t count = LoadU16(p + 0x35);
  const std::uint32_t first = LoadU32(p + 0x37);
  const std::vector<std::uint8_t> entries = val.Read(first, static_cast<std::size_t>(count) * 23, "check entries");
  for (std::uint16_t i = 0; i < count; ++i) {
    const std::uint8_t number = entries[i * 23u];
    if (number == 0 || number > fields_.size()) val.Damaged("field number");
    if (entries[i * 23u + 2] != 0) fields_[number - 1u].Required = true;
  }
}

bool IsSecondaryIndexExtension(std::string_view upper) {
  auto hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); };
  auto alnum = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z'); };
  if (upper.size() != 3 || upper[0] != 'X') return false;
  if (upper[1] == 'G') return alnum(upper[2]);
  return hex(upper[1]) && hex(upper[2]);
}

void TParadoxTable::ReadSecondaryIndexes() {
  for (const std::string& path : FindCompanions(fileName_, IsSecondaryIndexExtension)) {
    const TSourceFile file(path);
    const TParadoxHeader x = ReadHeader(file);
    const bool group = UpperAscii(path.substr(path.size() - 2, 1)) == "G";
    if (group ? (x.FileType != 6 && x.FileType != 8) : (x.FileType != 3 && x.FileType != 5)) file.Damaged("file type");
    if (x.KeyFields == 0) file.Damaged("key field count");
    TSourceIndex index;
    for (std::uint16_t i = 0; i < x.KeyFields; ++i) {
      const std::string name = recoder_.ToUtf8(x.Fields[i].Name);
      const auto found = std::find_if(fields_.begin(), fields_.end(),
                                      [&](const TSourceField& f) { return UpperAscii(f.Name) == UpperAscii(name); });
      if (found == fields_.end()) file.Damaged("index field " + name);
      if (!index.Fields.empty()) index.Fields += ';';
      index.Fields += found->Name;
    }
    index.Name = group ? recoder_.ToUtf8(x.TableName) : fields_.empty() ? std::string() : index.Fields;
    if (index.Name.empty()) file.Damaged("index name");
    if (x.IndexOptions & 1) index.Options |= ixCaseInsensitive;
    if (x.IndexOptions & 2) index.Options |= ixUnique;
    if (x.IndexOptions & 4) index.Options |= ixDescending;
    // The tree file beside it must at least be a Paradox index file when it is there.
    std::string tree = path;
    tree[tree.size() - 3] = tree[tree.size() - 3] == 'x' ? 'y' : 'Y';
    const std::string treeExtension = "." + UpperAscii(tree.substr(tree.size() - 3));
    if (const auto treePath = FindCompanion(fileName_, treeExtension)) {
      const TSourceFile y(*treePath);
      std::uint8_t p[0x58];
      y.Read(0, sizeof p, p, "header");
      if (p[0x04] != (group ? 7 : 4)) y.Damaged("file type");
    }
    indexes_.push_back(std::move(index));
  }
}

const TSourceFile& TParadoxTable::BlobFile() const {
  if (!mbLooked_) {
    mbLooked_ = true;
    if (const auto path = FindCompanion(fileName_, ".MB")) mb_ = std::make_unique<TSourceFile>(*path);
  }
  if (!mb_) throw ESourceError(StemOf(fileName_) + ".MB", "the blob file of " + fileName_ + " is missing");
  return *mb_;
}

void TParadoxTable::BadValue(std::size_t field, const char* what) const {
  throw ESourceError(fileName_,
                     "field " + fields_[field].Name + " of record " + std::to_string(recordNumber_) + " holds " + what);
}

std::string TParadoxTable::ReadBlob(std::size_t field, const std::uint8_t* p) const {
  const int size = header_.Fields[field].Width;
  const std::uint8_t* leader = p + size - 10;
  const std::uint32_t where = LoadU32(leader);
  const std::uint32_t length = LoadU32(leader + 4);
  if (length <= static_cast<std::uint32_t>(size - 10) && (where == 0 || length == 0))
    return std::string(reinterpret_cast<const char*>(p), length);
  const TSourceFile& mb = BlobFile();
  const std::uint32_t block = where & 0xFFFFFF00u;
  const std::uint32_t entry = where & 0xFFu;
  if (block == 0 || block % kMbBlockSize != 0) mb.Damaged("blob reference of record " + std::to_string(recordNumber_));
  std::uint8_t b[12];
  mb.Read(block, sizeof b, b, "blob block");
  auto data = [&](std::uint64_t at) {
    if (!mb.Holds(at, length)) mb.Damaged("blob data");
    std::string bytes(length, '\0');
    mb.Read(at, length, bytes.data(), "blob data");
    return bytes;
  };
  if (entry == 0xFF) {
    if (b[0] != 2) mb.Damaged("blob block type");
    const std::uint32_t chunks = LoadU16(b + 1);
    if (LoadU32(b + 3) != length || length > chunks * kMbBlockSize - 9) mb.Damaged("blob length");
    return data(block + 9ull);
  }
  if (b[0] != 3 || entry >= 64) mb.Damaged("blob block type");
  std::uint8_t slot[5];
  mb.Read(block + 12ull + entry * 5, sizeof slot, slot, "blob slot");
  const std::uint32_t dataOffset = slot[0] * 16u;
  const std::uint32_t units = slot[1];
  if (dataOffset == 0 || units == 0 || length > units * 16u || dataOffset + length > kMbBlockSize)
    mb.Damaged("blob slot");
  return data(static_cast<std::uint64_t>(block) + dataOffset);
}

TSourceValue TParadoxTable::DecodeValue(std::size_t field, const std::uint8_t* p) const {
  const TParadoxField& f = header_.Fields[field];
  TSourceValue value;
  if (IsBlobType(f.Type)) {
    if (LoadU32(p + f.Width - 6) == 0) return value;
    value.Bytes = ReadBlob(field, p);
    if (f.Type == 0x0C || f.Type == 0x0E) value.Bytes = recoder_.Recode(value.Bytes);
    value.Null = false;
    return value;
  }
  if (AllZero(p, static_cast<std::size_t>(f.Width))) return value;
  value.Null = false;
  switch (f.Type) {
    case 0x01: {
      const std::uint8_t* end = std::find(p, p + f.Width, 0);
      value.Bytes = recoder_.Recode(std::string(p, end));
      break;
    }
    case 0x18: value.Bytes.assign(reinterpret_cast<const char*>(p), static_cast<std::size_t>(f.Width)); break;
    case 0x03: value.Bytes = Bytes(static_cast<std::int16_t>((p[0] << 8 | p[1]) ^ 0x8000)); break;
    case 0x02: {
      const auto day = static_cast<std::int32_t>(LoadBigEndian32(p) ^ 0x80000000u);
      if (day < 1 || day > 3652059) BadValue(field, "no valid date");
      value.Bytes = Bytes(day);
      break;
    }
    case 0x14: {
      const auto ms = static_cast<std::int32_t>(LoadBigEndian32(p) ^ 0x80000000u);
      if (ms < 0 || ms >= 86400000) BadValue(field, "no valid time");
      value.Bytes = Bytes(ms);
      break;
    }
    case 0x04:
    case 0x16: value.Bytes = Bytes(static_cast<std::int32_t>(LoadBigEndian32(p) ^ 0x80000000u)); break;
    case 0x05:
    case 0x06:
    case 0x15: value.Bytes = Bytes(DecodeSortedDouble(p)); break;
    case 0x09:
      if (p[0] != 0x80 && p[0] != 0x81) BadValue(field, "no valid logical value");
      value.Bytes = Bytes(static_cast<std::int16_t>(p[0] == 0x81 ? 1 : 0));
      break;
    case 0x17: {
      std::uint8_t b[17];
      std::memcpy(b, p, 17);
      const bool negative = (b[0] & 0x80) == 0;
      if (negative)
        for (std::uint8_t& x : b) x = static_cast<std::uint8_t>(~x);
      const int decimals = f.Size;
      if (decimals > 32) BadValue(field, "no valid BCD value");
      auto digitAt = [&](int digit) {
        const int nibble = digit % 2 == 0 ? b[1 + digit / 2] >> 4 : b[1 + digit / 2] & 0x0F;
        if (nibble > 9) BadValue(field, "no valid BCD value");
        return nibble;
      };
      // The value scaled by 10,000, as a Currency holds it.
      std::int64_t raw = 0;
      const std::int64_t limit = INT64_MAX / 10;
      const int kept = 32 - decimals + std::min(decimals, 4);
      for (int digit = 0; digit < kept; ++digit) {
        const int nibble = digitAt(digit);
        if (raw > (INT64_MAX - nibble) / 10) BadValue(field, "a BCD value too large for the engine");
        raw = raw * 10 + nibble;
      }
      // Decimals past four round to the nearest, halves to even, as the class library's conversion to
      // a Currency does.
      if (kept < 32) {
        const int first = digitAt(kept);
        bool rest = false;
        for (int digit = kept + 1; digit < 32; ++digit) rest = digitAt(digit) != 0 || rest;
        if (first > 5 || (first == 5 && (rest || raw % 2 != 0))) {
          if (raw == INT64_MAX) BadValue(field, "a BCD value too large for the engine");
          ++raw;
        }
      }
      for (int d = decimals; d < 4; ++d) {
        if (raw > limit) BadValue(field, "a BCD value too large for the engine");
        raw *= 10;
      }
      value.Bytes = Bytes(negative ? -raw : raw);
      break;
    }
    default: BadValue(field, "a value of an unknown type");
  }
  return value;
}

bool TParadoxTable::Next(std::vector<TSourceValue>& values) {
  while (inBlock_ >= blockRecords_) {
    if (nextBlock_ == 0) {
      if (total_ != header_.RecordCount) db_.Damaged("record count");
      return false;
    }
    LoadBlock(nextBlock_);
  }
  const std::uint8_t* record = block_.data() + 6 + static_cast<std::size_t>(inBlock_) * header_.RecordSize;
  ++inBlock_;
  ++recordNumber_;
  values.clear();
  for (std::size_t i = 0; i < header_.Fields.size(); ++i) {
    values.push_back(DecodeValue(i, record));
    record += header_.Fields[i].Width;
  }
  return true;
}

}  // namespace

std::unique_ptr<TSourceTable> OpenParadoxTable(const std::string& path, const TPasswordCallback& askPassword) {
  return std::make_unique<TParadoxTable>(path, askPassword);
}

}  // namespace kavrin::transfer
