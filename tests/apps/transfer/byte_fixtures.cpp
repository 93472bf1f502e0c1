#include "tests/apps/transfer/byte_fixtures.h"

#include <algorithm>
#include <cstring>

namespace kavrin::transfer::testing {
namespace {

void Put16(Bytes& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

int Width(const TPxField& f) {
  switch (f.Type) {
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
    default: return f.Size;
  }
}

Bytes SortableBigEndian(std::uint64_t bits, int bytes) {
  Bytes out(static_cast<std::size_t>(bytes));
  for (int i = 0; i < bytes; ++i)
    out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bits >> (8 * (bytes - 1 - i)));
  return out;
}

Bytes SortableDouble(double value) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  bits = (bits >> 63) ? ~bits : bits | (1ULL << 63);
  return SortableBigEndian(bits, 8);
}

}  // namespace

Bytes PxAlpha(std::size_t size, const std::string& text) {
  Bytes out(size, 0);
  std::memcpy(out.data(), text.data(), std::min(size, text.size()));
  return out;
}
Bytes PxShort(std::int16_t value) { return SortableBigEndian(static_cast<std::uint16_t>(value) ^ 0x8000u, 2); }
Bytes PxLong(std::int32_t value) { return SortableBigEndian(static_cast<std::uint32_t>(value) ^ 0x80000000u, 4); }
Bytes PxDouble(double value) { return SortableDouble(value); }
Bytes PxLogical(bool value) { return Bytes{static_cast<std::uint8_t>(value ? 0x81 : 0x80)}; }
Bytes PxNull(std::size_t size) { return Bytes(size, 0); }

Bytes Concat(const std::vector<Bytes>& parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes BuildParadox(const TPxFile& file) {
  const std::size_t headerSize = 0x800;
  const std::size_t blockSize = 1024;
  std::size_t recordSize = 0;
  for (const TPxField& f : file.Fields) recordSize += static_cast<std::size_t>(Width(f));
  std::size_t perBlock = (blockSize - 6) / std::max<std::size_t>(recordSize, 1);
  if (file.RecordsPerBlock) perBlock = std::min(perBlock, file.RecordsPerBlock);
  const std::size_t blocks = file.Records.empty() ? 0 : (file.Records.size() + perBlock - 1) / perBlock;
  Bytes b(headerSize + blocks * blockSize, 0);
  Put16(b, 0x00, static_cast<std::uint16_t>(recordSize));
  Put16(b, 0x02, static_cast<std::uint16_t>(headerSize));
  b[0x04] = file.FileType;
  b[0x05] = 1;
  Put32(b, 0x06, static_cast<std::uint32_t>(file.Records.size()));
  Put16(b, 0x0A, static_cast<std::uint16_t>(blocks));
  Put16(b, 0x0C, static_cast<std::uint16_t>(blocks));
  Put16(b, 0x0E, static_cast<std::uint16_t>(blocks == 0 ? 0 : file.ReverseChain ? blocks : 1));
  Put16(b, 0x10, static_cast<std::uint16_t>(blocks == 0 ? 0 : file.ReverseChain ? 1 : blocks));
  Put16(b, 0x21, static_cast<std::uint16_t>(file.Fields.size()));
  Put16(b, 0x23, file.KeyFields);
  b[0x2B] = file.IndexOptions;
  b[0x39] = file.Version;
  const bool extended = file.Version >= 5 && file.FileType != 1 && file.FileType != 4 && file.FileType != 7;
  if (file.Version >= 5) Put32(b, 0x25, 0xFF00FF00u);
  std::size_t at = 0x58;
  if (extended) {
    Put16(b, 0x6A, file.CodePage);
    at = 0x78;
  }
  for (const TPxField& f : file.Fields) {
    b[at++] = f.Type;
    b[at++] = f.Size;
  }
  at += 4 + 4 * file.Fields.size();
  std::memcpy(&b[at], file.TableName.data(), file.TableName.size());
  at += file.Version >= 5 ? 261 : 79;
  for (const TPxField& f : file.Fields) {
    std::memcpy(&b[at], f.Name.data(), f.Name.size());
    at += f.Name.size() + 1;
  }
  // Blocks: the records in order; with ReverseChain the physical blocks run backwards, so only the
  // chain gives the order.
  for (std::size_t n = 0; n < blocks; ++n) {
    const std::size_t physical = file.ReverseChain ? blocks - n : n + 1;
    const std::size_t offset = headerSize + (physical - 1) * blockSize;
    const std::size_t next = n + 1 < blocks ? (file.ReverseChain ? physical - 1 : physical + 1) : 0;
    const std::size_t previous = n > 0 ? (file.ReverseChain ? physical + 1 : physical - 1) : 0;
    Put16(b, offset, static_cast<std::uint16_t>(next));
    Put16(b, offset + 2, static_cast<std::uint16_t>(previous));
    const std::size_t first = n * perBlock;
    const std::size_t count = std::min(perBlock, file.Records.size() - first);
    Put16(b, offset + 4, static_cast<std::uint16_t>((count - 1) * recordSize));
    for (std::size_t r = 0; r < count; ++r) {
      const Bytes& record = file.Records[first + r];
      std::memcpy(&b[offset + 6 + r * recordSize], record.data(), std::min(record.size(), recordSize));
    }
  }
  return b;
}

Bytes BuildVal(const std::vector<std::pair<std::uint8_t, bool>>& checks) {
  Bytes b(0x3B + checks.size() * 23, 0);
  b[0] = 0x09;
  Put16(b, 0x35, static_cast<std::uint16_t>(checks.size()));
  Put32(b, 0x37, 0x3B);
  for (std::size_t i = 0; i < checks.size(); ++i) {
    b[0x3B + i * 23] = checks[i].first;
    b[0x3B + i * 23 + 2] = checks[i].second ? 1 : 0;
  }
  return b;
}

Bytes BuildDbf(std::uint8_t version, const std::vector<TDbfField>& fields, const std::vector<std::string>& records,
               std::uint8_t languageDriver, bool productionIndex, std::uint8_t encrypted) {
  const bool level7 = version == 0x04 || version == 0x8C;
  const std::size_t descriptor = level7 ? 48 : 32;
  const std::size_t headerSize = (level7 ? 68 : 32) + fields.size() * descriptor + 1;
  std::size_t recordSize = 1;
  for (const TDbfField& f : fields) recordSize += f.Length;
  Bytes b(headerSize, 0);
  b[0] = version;
  b[1] = 124;
  b[2] = 1;
  b[3] = 2;
  std::size_t live = 0;
  for (const std::string& r : records) live += 1, (void)r;
  Put32(b, 4, static_cast<std::uint32_t>(live));
  Put16(b, 8, static_cast<std::uint16_t>(headerSize));
  Put16(b, 10, static_cast<std::uint16_t>(recordSize));
  b[15] = encrypted;
  b[28] = productionIndex ? 1 : 0;
  b[29] = languageDriver;
  std::size_t at = level7 ? 68 : 32;
  for (const TDbfField& f : fields) {
    std::memcpy(&b[at], f.Name.data(), std::min<std::size_t>(f.Name.size(), level7 ? 31 : 10));
    if (level7) {
      b[at + 32] = static_cast<std::uint8_t>(f.Type);
      b[at + 33] = f.Length;
      b[at + 34] = f.Decimals;
    } else {
      b[at + 11] = static_cast<std::uint8_t>(f.Type);
      b[at + 16] = f.Length;
      b[at + 17] = f.Decimals;
    }
    at += descriptor;
  }
  b[at] = 0x0D;
  for (const std::string& r : records) {
    // A record whose text starts with '*' is deleted; others are live.
    std::string body = r;
    char flag = ' ';
    if (!body.empty() && body[0] == '*') {
      flag = '*';
      body.erase(0, 1);
    }
    body.resize(recordSize - 1, ' ');
    b.push_back(static_cast<std::uint8_t>(flag));
    b.insert(b.end(), body.begin(), body.end());
  }
  b.push_back(0x1A);
  return b;
}

std::string DbfLong(std::int32_t value) {
  const Bytes b = PxLong(value);
  return std::string(b.begin(), b.end());
}

std::string DbfDouble(double value) {
  const Bytes b = SortableDouble(value);
  return std::string(b.begin(), b.end());
}

Bytes BuildMdx(const std::string& tableName, const std::vector<TMdxTag>& tags) {
  // Pages of 512 bytes, blocks of two pages. Header and tag table in pages 0 to 5; each tag then takes
  // a block for its header and a block for its one leaf.
  const std::size_t page = 512;
  const std::size_t firstTagPage = 6;
  Bytes b((firstTagPage + tags.size() * 4) * page, 0);
  b[0] = 2;
  b[1] = 124;
  b[2] = 1;
  b[3] = 2;
  std::memcpy(&b[4], tableName.data(), std::min<std::size_t>(tableName.size(), 16));
  Put16(b, 20, 2);
  Put16(b, 22, 1024);
  b[24] = 1;
  b[25] = 48;
  b[26] = 32;
  Put16(b, 28, static_cast<std::uint16_t>(tags.size()));
  Put32(b, 32, static_cast<std::uint32_t>(b.size() / page));
  for (std::size_t i = 0; i < tags.size(); ++i) {
    const TMdxTag& tag = tags[i];
    const std::size_t headerPage = firstTagPage + i * 4;
    const std::size_t leafPage = headerPage + 2;
    const std::size_t entry = 544 + i * 32;
    Put32(b, entry, static_cast<std::uint32_t>(headerPage));
    std::memcpy(&b[entry + 4], tag.Name.data(), std::min<std::size_t>(tag.Name.size(), 10));
    b[entry + 15] = 0x10;
    b[entry + 19] = 0x02;
    b[entry + 20] = static_cast<std::uint8_t>(tag.KeyType);
    const std::size_t h = headerPage * page;
    const std::uint16_t itemLength = static_cast<std::uint16_t>(4 + (tag.KeyLength + 3) / 4 * 4);
    Put32(b, h, static_cast<std::uint32_t>(leafPage));
    Put32(b, h + 4, static_cast<std::uint32_t>(b.size() / page));
    b[h + 8] = static_cast<std::uint8_t>(0x10 | (tag.Descending ? 0x08 : 0) | (tag.Unique ? 0x40 : 0));
    b[h + 9] = static_cast<std::uint8_t>(tag.KeyType);
    Put16(b, h + 12, tag.KeyLength);
    Put16(b, h + 14, static_cast<std::uint16_t>((1024 - 8) / itemLength));
    Put16(b, h + 18, itemLength);
    b[h + 23] = tag.Unique ? 0x40 : 0;
    std::memcpy(&b[h + 24], tag.Expression.data(), std::min<std::size_t>(tag.Expression.size(), 219));
    const std::size_t l = leafPage * page;
    Put32(b, l, static_cast<std::uint32_t>(tag.Keys.size()));
    for (std::size_t k = 0; k < tag.Keys.size(); ++k) {
      const std::size_t at = l + 8 + k * itemLength;
      Put32(b, at, tag.Keys[k].second);
      std::string key = tag.Keys[k].first;
      key.resize(tag.KeyLength, ' ');
      std::memcpy(&b[at + 4], key.data(), key.size());
    }
  }
  return b;
}

}  // namespace kavrin::transfer::testing
