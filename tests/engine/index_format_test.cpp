#include "engine/index_format.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <vector>

#include "engine/byte_order.h"
#include "engine/engine_error.h"
#include "engine/file_handler.h"
#include "tests/engine/index_test_support.h"

namespace kavrin::engine {
namespace {

using index_testing::CodeOf;
using Image = std::array<std::uint8_t, PageSize>;

constexpr std::int32_t End = IndexHeaderSize + 10 * PageSize;

TEST(IndexFileHeaderLayout, FieldsSitWhereTheFormatSays) {
  TIndexFileHeader header;
  header.ChangeCounter = 0x01020304;
  header.EndOfFile = IndexHeaderSize + 3 * PageSize;
  header.HighestSecondary = 2;
  header.RecordCount = 0x0A0B0C0D;
  TIndexDescriptor& secondary = header.Descriptors[2];
  secondary.Name = "BYNAME";
  secondary.KeyLength = 9;
  secondary.Descending = 1;
  secondary.CaseInsensitive = 1;
  secondary.Unique = 0;
  secondary.KeyFieldCount = 2;
  secondary.KeyFields[0] = 3;
  secondary.KeyFields[1] = -2;
  secondary.Root = 2560 + 1024;
  secondary.FreeChain = 2560 + 2048;
  std::array<std::uint8_t, IndexHeaderSize> bytes{};
  EncodeIndexFileHeader(header, bytes);

  std::array<std::uint8_t, IndexHeaderSize> expected{};
  const std::uint8_t counter[] = {0x04, 0x03, 0x02, 0x01};
  std::memcpy(&expected[0], counter, 4);
  expected[8] = 2;
  StoreI32(&expected[9], 2560 + 3 * 1024);
  expected[13] = 2;
  std::uint8_t* d = &expected[14 + 2 * 76];
  d[0] = 6;
  std::memcpy(d + 1, "BYNAME", 6);
  d[31] = 9;
  d[32] = 1;
  d[33] = 1;
  d[34] = 0;
  d[35] = 2;
  d[36] = 3;
  d[38] = 0xFE;
  d[39] = 0xFF;
  StoreI32(d + 68, 2560 + 1024);
  StoreI32(d + 72, 2560 + 2048);
  const std::uint8_t records[] = {0x0D, 0x0C, 0x0B, 0x0A};
  std::memcpy(&expected[2522], records, 4);
  EXPECT_EQ(bytes, expected);

  const TIndexFileHeader back = DecodeIndexFileHeader(bytes);
  EXPECT_EQ(back.ChangeCounter, header.ChangeCounter);
  EXPECT_EQ(back.EndOfFile, header.EndOfFile);
  EXPECT_EQ(back.RecordCount, header.RecordCount);
  EXPECT_EQ(back.Descriptors[2].Name, "BYNAME");
  EXPECT_EQ(back.Descriptors[2].KeyFields[1], -2);
  EXPECT_EQ(back.Descriptors[2].FreeChain, 2560 + 2048);
}

TEST(IndexFileHeaderLayout, LongNamesAreCutToThirtyCharacters) {
  std::array<std::uint8_t, IndexDescriptorSize> bytes{};
  TIndexDescriptor d;
  d.Name = std::string(40, 'N');
  EncodeIndexDescriptor(d, bytes);
  EXPECT_EQ(bytes[0], 30);
  bytes[0] = 200;  // damaged length byte
  EXPECT_EQ(DecodeIndexDescriptor(bytes).Name, std::string(30, 'N'));
}

TEST(IndexFileHeaderLayout, ValidationRefusesWhatNoPageCouldHave) {
  struct Case {
    const char* what;
    std::function<void(TIndexFileHeader&)> damage;
    TErrorCode code;
  };
  const Case cases[] = {
      {"version", [](TIndexFileHeader& h) { h.Version = 3; }, ec::IncorrectVersion},
      {"end not on a page", [](TIndexFileHeader& h) { h.EndOfFile = 2561; }, ec::HeaderError},
      {"end before the pages", [](TIndexFileHeader& h) { h.EndOfFile = 0; }, ec::HeaderError},
      {"end past the lock bytes", [](TIndexFileHeader& h) { h.EndOfFile = MaxIndexFileEnd + PageSize; },
       ec::HeaderError},
      {"31 secondaries", [](TIndexFileHeader& h) { h.HighestSecondary = 31; }, ec::HeaderError},
      {"root at the end", [](TIndexFileHeader& h) { h.Descriptors[0].Root = h.EndOfFile; }, ec::HeaderError},
      {"free chain off a page", [](TIndexFileHeader& h) { h.Descriptors[5].FreeChain = 2600; }, ec::HeaderError},
      {"17 key fields", [](TIndexFileHeader& h) { h.Descriptors[1].KeyFieldCount = 17; }, ec::HeaderError},
  };
  for (const Case& c : cases) {
    TIndexFileHeader header;
    header.EndOfFile = End;
    c.damage(header);
    EXPECT_EQ(CodeOf([&] { ValidateIndexFileHeader(header, "T.IDX"); }), c.code) << c.what;
  }
  TIndexFileHeader good;
  good.EndOfFile = MaxIndexFileEnd;
  good.Descriptors[0].Root = MaxIndexFileEnd - PageSize;
  EXPECT_EQ(CodeOf([&] { ValidateIndexFileHeader(good, "T.IDX"); }), 0);
  EXPECT_LE(static_cast<std::int64_t>(MaxIndexFileEnd), IndexLockRangeStart);
}

// A leaf of 4-byte keys "ABCD", "ABCF", "ABCF", "B000" with records 7, 8, 9, 10.
Image LeafImage() {
  Image image{};
  image[0] = LeafPage;
  StoreU16(&image[1], 4);
  StoreI32(&image[3], 2560);
  StoreI32(&image[7], 2560 + 2048);
  std::vector<std::uint8_t> entries = {0, 'A', 'B', 'C', 'D', 7,  0, 0, 0,  // full key
                                       3, 'F', 8,   0,   0,   0,            // shares "ABC"
                                       4, 9,   0,   0,   0,                 // equal: no key bytes
                                       0, 'B', '0', '0', '0', 10, 0, 0, 0};
  StoreU16(&image[11], static_cast<std::uint16_t>(entries.size()));
  std::memcpy(&image[13], entries.data(), entries.size());
  return image;
}

TEST(PageCodec, LeafEntriesExpandAndCompressBackByteForByte) {
  TPage page(4, 0);
  page.SetOffset(2560 + 1024);
  const Image image = LeafImage();
  page.Decode(image, End, "T.IDX");
  ASSERT_EQ(page.Count(), 4);
  EXPECT_EQ(std::memcmp(page.KeyAt(2), "ABCF", 4), 0);
  EXPECT_EQ(std::memcmp(page.KeyAt(3), "ABCF", 4), 0);
  EXPECT_EQ(page.RefAt(3), 9);
  EXPECT_EQ(page.PrefixAt(2), 3);
  EXPECT_EQ(page.PrefixAt(3), 4);
  EXPECT_EQ(page.Used(), 29);
  EXPECT_EQ(page.PreviousOffset(), 2560);
  EXPECT_FALSE(page.Dirty());
  Image written{};
  page.ComputeUsed();
  page.Encode(written, "T.IDX");
  EXPECT_EQ(written, image);
}

TEST(PageCodec, InteriorPagesRoundTripByteForByte) {
  Image image{};
  image[0] = RootInteriorPage;
  StoreU16(&image[1], 2);
  const std::uint8_t entries[] = {'A', 'A', 'A', 'A', 0x00, 0x0E, 0, 0, 5, 0, 0, 0, 0,
                                  'M', 'M', 'M', 'M', 0x00, 0x12, 0, 0, 9, 0, 0, 0, 0};
  std::memcpy(&image[13], entries, sizeof entries);
  TPage page(4, 0);
  page.Decode(image, End, "T.IDX");
  EXPECT_EQ(page.RefAt(2), 0x1200);
  EXPECT_EQ(page.CountAt(2), 9);
  EXPECT_EQ(page.TotalCount(), 14);
  Image written{};
  page.Encode(written, "T.IDX");
  EXPECT_EQ(written, image);
}

TEST(PageCodec, LeafCapacityDependsOnSharedPrefixes) {
  for (std::uint8_t length : {5, 20, 120, 254}) {
    TPage distinct(length, 0);
    TPage shared(length, 0);
    distinct.SetType(LeafPage);
    shared.SetType(LeafPage);
    std::vector<std::uint8_t> key(length, 'K');
    auto fill = [&](TPage& page, bool vary) {
      for (std::uint32_t i = 0;; ++i) {
        if (vary) key[0] = static_cast<std::uint8_t>(i);
        page.SetCurrent(page.Count());
        page.InsertEntry(key.data());
        page.SetCurrentRef(1);
        page.ComputeUsed();
        if (page.Used() > PageEntryArea) return page.Count() - 1;
      }
    };
    EXPECT_EQ(fill(distinct, true), PageEntryArea / (length + 5)) << int(length);
    // Equal keys take 5 bytes each after the first.
    EXPECT_EQ(fill(shared, false), 1 + (PageEntryArea - (length + 5)) / 5) << int(length);
  }
}

TEST(PageCodec, DamagedPagesRaisePageBuffersCorrupt) {
  struct Case {
    const char* what;
    std::function<void(Image&)> damage;
  };
  auto interior = [](Image& image) {
    image = Image{};
    image[0] = InteriorPage;
    StoreU16(&image[1], 1);
    StoreI32(&image[13 + 4], 2560);
    StoreI32(&image[13 + 8], 3);
  };
  const Case cases[] = {
      {"type 4", [](Image& i) { i[0] = 4; }},
      {"used over the area", [](Image& i) { StoreU16(&i[11], 1012); }},
      {"used short of the entries", [](Image& i) { StoreU16(&i[11], 20); }},
      {"used past the entries", [](Image& i) { StoreU16(&i[11], 40); }},
      {"entries but nothing used", [](Image& i) { StoreU16(&i[11], 0); }},
      {"count far too high", [](Image& i) { StoreU16(&i[1], 60000); }},
      {"first entry with a prefix", [](Image& i) { i[13] = 1; }},
      {"prefix longer than the key", [](Image& i) { i[13 + 9] = 5; }},
      {"record number 0", [](Image& i) { StoreI32(&i[13 + 5], 0); }},
      {"previous off the page grid", [](Image& i) { StoreI32(&i[3], 2561); }},
      {"next at the end of the file", [](Image& i) { StoreI32(&i[7], End); }},
      {"next into the header", [](Image& i) { StoreI32(&i[7], 1024); }},
      {"interior over its capacity",
       [&](Image& i) {
         interior(i);
         StoreU16(&i[1], 1011 / 13 + 1);
       }},
      {"interior with a used size",
       [&](Image& i) {
         interior(i);
         StoreU16(&i[11], 13);
       }},
      {"child off the grid",
       [&](Image& i) {
         interior(i);
         StoreI32(&i[13 + 4], 3000);
       }},
      {"child beyond the end",
       [&](Image& i) {
         interior(i);
         StoreI32(&i[13 + 4], End);
       }},
      {"child with no keys",
       [&](Image& i) {
         interior(i);
         StoreI32(&i[13 + 8], 0);
       }},
      {"counts past 32 bits",
       [&](Image& i) {
         interior(i);
         StoreU16(&i[1], 2);
         StoreI32(&i[13 + 8], 0x7FFFFFFF);
         StoreI32(&i[26 + 4], 2560);
         StoreI32(&i[26 + 8], 0x7FFFFFFF);
       }},
  };
  for (const Case& c : cases) {
    Image image = LeafImage();
    c.damage(image);
    TPage page(4, 0);
    EXPECT_EQ(CodeOf([&] { page.Decode(image, End, "T.IDX"); }), ec::PageBuffersCorrupt) << c.what;
    EXPECT_EQ(page.Count(), 0) << c.what << ": a refused page keeps nothing";
  }
}

TEST(PageCodec, WriteRefusesPagesOverTheirCapacity) {
  TPage leaf(250, 0);
  leaf.SetType(LeafPage);
  std::vector<std::uint8_t> key(250, 0);
  for (int i = 0; i < 4; ++i) {
    key[0] = static_cast<std::uint8_t>(i);
    leaf.SetCurrent(leaf.Count());
    leaf.InsertEntry(key.data());
    leaf.SetCurrentRef(1);
  }
  leaf.ComputeUsed();
  Image image{};
  EXPECT_EQ(CodeOf([&] { leaf.Encode(image, "T.IDX"); }), ec::PageBuffersCorrupt);

  TPage node(250, 0);
  node.SetType(InteriorPage);
  for (int i = 0; i < 5; ++i) {
    node.SetCurrent(node.Count());
    node.InsertEntry(key.data());
  }
  EXPECT_EQ(CodeOf([&] { node.Encode(image, "T.IDX"); }), ec::PageBuffersCorrupt);
}

TEST(PageCodec, APageAtOffsetZeroIsNeitherReadNorWritten) {
  TFileHandler closed;  // any file access would fail
  TPage page(4, 0);
  page.SetType(LeafPage);
  page.SetDirty(true);
  EXPECT_NO_THROW(page.Read(closed, End));
  EXPECT_NO_THROW(page.Write(closed));
  EXPECT_TRUE(page.Dirty());
  EXPECT_EQ(page.Type(), LeafPage);
}

TEST(KeyCompare, UnsignedBytesReversedWhenDescending) {
  const std::uint8_t a[] = {0x01, 0x80};
  const std::uint8_t b[] = {0x01, 0x7F};
  EXPECT_EQ(CompareIndexKeys(a, b, 0, 2), 1);
  EXPECT_EQ(CompareIndexKeys(a, b, 1, 2), -1);
  EXPECT_EQ(CompareIndexKeys(a, b, 0, 1), 0);
  EXPECT_EQ(CompareIndexKeys(a, b, 0, 0), 0);
}

TEST(KeyCompare, LongKeysOrderAsUnsignedBytesAtEveryPosition) {
  // Keys past one machine word, differing at each position in turn, in bytes on both sides of 0x80.
  auto reference = [](const std::uint8_t* x, const std::uint8_t* y, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
      if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
    }
    return 0;
  };
  auto sign = [](int v) { return (v > 0) - (v < 0); };
  std::uint32_t seed = 7;
  auto next = [&] { return static_cast<std::uint8_t>((seed = seed * 1103515245u + 12345u) >> 16); };
  for (std::size_t length = 0; length <= 40; ++length) {
    for (std::size_t at = 0; at < std::max<std::size_t>(length, 1); ++at) {
      std::vector<std::uint8_t> x(length + 1), y(length + 1);
      for (std::size_t i = 0; i < length; ++i) x[i] = y[i] = next();
      if (at < length) y[at] = next();
      x[length] = 0x00;  // bytes past the length never count
      y[length] = 0xFF;
      const int expected = reference(x.data(), y.data(), length);
      EXPECT_EQ(sign(CompareIndexKeys(x.data(), y.data(), 0, length)), expected) << length << " " << at;
      EXPECT_EQ(sign(CompareIndexKeys(x.data(), y.data(), 1, length)), -expected) << length << " " << at;
    }
  }
}

TEST(PageCodec, AnEmptyInteriorPageCountsNoKeys) {
  // A damaged file may hold an interior root with no entries: counting over it finds nothing to read.
  Image image{};
  image[0] = RootInteriorPage;
  TPage page(4, 0);
  page.Decode(image, End, "T.IDX");
  EXPECT_EQ(page.Count(), 0);
  EXPECT_EQ(page.TotalCount(), 0);
  EXPECT_EQ(page.CountBefore(1), 0);
}

}  // namespace
}  // namespace kavrin::engine
