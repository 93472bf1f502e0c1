#include "engine/data_file_format.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <initializer_list>
#include <utility>
#include <vector>

#include "engine/engine_error.h"
#include "engine/file_handler.h"
#include "engine/memory_files.h"
#include "engine/scrambling.h"
#include "tests/engine/error_code_of.h"

namespace kavrin::engine {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A zero-filled buffer with runs of bytes placed at the offsets of the layout tables.
Bytes Place(std::size_t size, std::initializer_list<std::pair<std::size_t, Bytes>> runs) {
  Bytes out(size, 0);
  for (const auto& [offset, run] : runs) std::copy(run.begin(), run.end(), out.begin() + offset);
  return out;
}

Bytes Text(std::string_view s) { return Bytes(s.begin(), s.end()); }

Bytes ShortString(std::string_view s) {
  Bytes out(s.size() + 1);
  out[0] = static_cast<std::uint8_t>(s.size());
  std::copy(s.begin(), s.end(), out.begin() + 1);
  return out;
}

TErrorCode CodeOf(const std::function<void()>& action) { return testing::ErrorCodeOf(action); }

TDataFileHeader SampleHeader() {
  TDataFileHeader h;
  h.ChangeCounter = 0x01020304;
  h.BlobBlockSize = 512;
  h.DeletedChainHead = 7;
  h.NextRecordNumber = 11;
  h.LastUniqueID = 0x12345678;
  h.RecordSize = 40;
  h.FieldCount = 3;
  h.BlobFieldCount = 1;
  h.LastUpdate = 1.5;
  h.Description = "Orders";
  return h;
}

TEST(DataFileHeader, GoldenBytes) {
  const Bytes expected = Place(127, {
                                        {0, {0x04, 0x03, 0x02, 0x01}},
                                        {4, {0x00, 0x02, 0x00, 0x00}},
                                        {8, {0x02}},
                                        {9, {0x07, 0x00, 0x00, 0x00}},
                                        {13, {0x0B, 0x00, 0x00, 0x00}},
                                        {17, {0x78, 0x56, 0x34, 0x12}},
                                        {21, {0x28, 0x00}},
                                        {23, {0x03, 0x00}},
                                        {25, {0x01, 0x00}},
                                        {27, {0, 0, 0, 0, 0, 0, 0xF8, 0x3F}},
                                        {35, {0x06, 'O', 'r', 'd', 'e', 'r', 's'}},
                                    });
  std::array<std::uint8_t, DataFileHeaderSize> out;
  out.fill(0xAA);
  EncodeDataFileHeader(SampleHeader(), out);
  EXPECT_EQ(Bytes(out.begin(), out.end()), expected);

  const TDataFileHeader back = DecodeDataFileHeader(out);
  EXPECT_EQ(back.ChangeCounter, 0x01020304);
  EXPECT_EQ(back.DeletedChainHead, 7u);
  EXPECT_EQ(back.NextRecordNumber, 11);
  EXPECT_EQ(back.LastUniqueID, 0x12345678);
  EXPECT_EQ(back.RecordSize, 40);
  EXPECT_EQ(back.FieldCount, 3);
  EXPECT_EQ(back.BlobFieldCount, 1);
  EXPECT_EQ(back.LastUpdate, 1.5);
  EXPECT_EQ(back.Description, "Orders");
  EXPECT_FALSE(back.Encrypted);
}

TEST(DataFileHeader, PasswordAndDescriptionCharactersAreScrambledWithTheHeaderSeed) {
  TDataFileHeader h = SampleHeader();
  h.Encrypted = true;
  h.Password = "abc";
  h.Description = "D";
  std::array<std::uint8_t, DataFileHeaderSize> out;
  EncodeDataFileHeader(h, out);
  // Byte i is XORed with (58 - i) and (172 + i): 0x96, 0x94, 0x96 for the first three.
  EXPECT_EQ(Bytes(out.begin() + 35, out.begin() + 37), (Bytes{0x01, 0xD2}));
  EXPECT_EQ(out[86], 1);
  EXPECT_EQ(Bytes(out.begin() + 87, out.begin() + 91), (Bytes{0x03, 0xF7, 0xF6, 0xF5}));
  EXPECT_EQ(out[91], 0);

  const TDataFileHeader back = DecodeDataFileHeader(out);
  EXPECT_TRUE(back.Encrypted);
  EXPECT_EQ(back.Password, "abc");
  EXPECT_EQ(back.Description, "D");
}

TEST(DataFileHeader, LongTextsAreCutToTheirFields) {
  TDataFileHeader h = SampleHeader();
  h.Encrypted = true;
  h.Password = "a fifteen char password!";
  h.Description = std::string(80, 'd');
  std::array<std::uint8_t, DataFileHeaderSize> out;
  EncodeDataFileHeader(h, out);
  const TDataFileHeader back = DecodeDataFileHeader(out);
  EXPECT_EQ(back.Password, "a fifteen char ");
  EXPECT_EQ(back.Description, std::string(50, 'd'));
}

TEST(DataFileHeader, BlockSizeZeroReadsAs512) {
  TDataFileHeader h;
  h.BlobBlockSize = 0;
  EXPECT_EQ(h.EffectiveBlobBlockSize(), 512u);
  h.BlobBlockSize = 64;
  EXPECT_EQ(h.EffectiveBlobBlockSize(), 64u);
}

TFieldDescriptor SampleField() {
  TFieldDescriptor f;
  f.FieldNumber = 2;
  f.Name = "Amount";
  f.Type = ftBCD;
  f.Subtype = fstMoney;
  f.Decimals = 2;
  f.SlotOffset = 20;
  f.Required = true;
  f.Minimum = "0";
  f.Default = "1.5";
  return f;
}

TEST(FieldDescriptor, GoldenBytes) {
  const Bytes expected = Place(265, {
                                        {0, {0x02, 0x00}},
                                        {2, ShortString("Amount")},
                                        {84, {0x08, 0x15, 0x00, 0x02, 0x14, 0x00, 0x01}},
                                        {92, ShortString("0")},
                                        {194, ShortString("1.5")},
                                    });
  std::array<std::uint8_t, FieldDescriptorSize> out;
  out.fill(0xAA);
  EncodeFieldDescriptor(SampleField(), out);
  EXPECT_EQ(Bytes(out.begin(), out.end()), expected);

  const TFieldDescriptor back = DecodeFieldDescriptor(out);
  EXPECT_EQ(back.FieldNumber, 2);
  EXPECT_EQ(back.Name, "Amount");
  EXPECT_EQ(back.Type, ftBCD);
  EXPECT_EQ(back.Subtype, fstMoney);
  EXPECT_EQ(back.Decimals, 2);
  EXPECT_EQ(back.SlotOffset, 20);
  EXPECT_TRUE(back.Required);
  EXPECT_EQ(back.Minimum, "0");
  EXPECT_EQ(back.Maximum, "");
  EXPECT_EQ(back.Default, "1.5");
}

TEST(FieldDescriptor, DamagedLengthBytesStayInsideTheirFields) {
  std::array<std::uint8_t, FieldDescriptorSize> in{};
  in[2] = 200;    // name length far beyond its 30 characters
  in[194] = 255;  // default text at the end of the descriptor
  const TFieldDescriptor field = DecodeFieldDescriptor(in);
  EXPECT_EQ(field.Name.size(), 30u);
  EXPECT_EQ(field.Default.size(), 50u);
}

TEST(FieldLayout, DataSizesByType) {
  struct Case {
    std::uint8_t type;
    std::uint8_t size;
    int bytes;
  };
  const Case cases[] = {
      {ftString, 10, 11}, {ftString, 245, 246}, {ftBytes, 7, 7}, {ftVarBytes, 9, 9}, {ftBoolean, 0, 2},
      {ftSmallInt, 0, 2}, {ftWord, 0, 2},       {ftFloat, 0, 8}, {ftBCD, 0, 8},      {ftTimeStamp, 0, 8},
      {ftFloat10, 0, 10}, {ftDate, 0, 4},       {ftBlob, 0, 4},  {ftInteger, 0, 4},  {ftTime, 0, 4},
      {ftLongWord, 0, 4}, {ftInvalid, 0, 0},    {16, 7, 7}};
  for (const Case& c : cases) EXPECT_EQ(FieldDataSize(c.type, c.size), c.bytes) << int(c.type);
}

TEST(FieldLayout, AutoIncTakesNoSlot) {
  std::vector<TFieldDescriptor> fields(2);
  fields[0].Type = ftInteger;
  fields[0].Subtype = fstAutoInc;
  fields[1].Type = ftString;
  fields[1].Size = 10;
  EXPECT_EQ(AssignSlotOffsets(fields), 21);
  EXPECT_EQ(fields[0].SlotOffset, 5);
  EXPECT_EQ(fields[1].SlotOffset, 9);
}

TEST(FieldLayout, RecordPositions) {
  EXPECT_EQ(RecordOffset(3, 40, 1), 922);
  EXPECT_EQ(RecordOffset(3, 40, 2), 962);
  EXPECT_EQ(RecordOffset(0, 9, 1), 127);
  EXPECT_EQ(RecordOffset(512, 65535, 2000000000), 127 + 512 * 265 + 65535ll * 1999999999);
}

// A valid three-field table: integer, string of 10, blob.
struct Layout {
  TDataFileHeader header;
  std::vector<TFieldDescriptor> fields;
};

Layout ValidLayout() {
  Layout l;
  l.fields.resize(3);
  l.fields[0].Name = "ID";
  l.fields[0].Type = ftInteger;
  l.fields[1].Name = "Name";
  l.fields[1].Type = ftString;
  l.fields[1].Size = 10;
  l.fields[2].Name = "Notes";
  l.fields[2].Type = ftBlob;
  l.fields[2].Subtype = fstMemo;
  l.header.RecordSize = static_cast<std::uint16_t>(AssignSlotOffsets(l.fields));
  l.header.FieldCount = 3;
  l.header.BlobFieldCount = 1;
  return l;
}

TEST(LayoutValidation, RefusesWhatTheEngineCouldNotReadSafely) {
  struct Case {
    const char* what;
    std::function<void(Layout&)> damage;
    TErrorCode code;
  };
  const Case cases[] = {
      {"valid", [](Layout&) {}, 0},
      {"version 1", [](Layout& l) { l.header.Version = 1; }, ec::IncorrectVersion},
      {"version 3", [](Layout& l) { l.header.Version = 3; }, ec::IncorrectVersion},
      {"field count over 512", [](Layout& l) { l.header.FieldCount = 513; }, ec::FieldLimits},
      {"record size", [](Layout& l) { l.header.RecordSize += 1; }, ec::HeaderError},
      {"record size below prefix", [](Layout& l) { l.header.RecordSize = 4; }, ec::HeaderError},
      {"slot outside", [](Layout& l) { l.fields[1].SlotOffset = 60; }, ec::InvalidFieldDefinition},
      {"slot in prefix", [](Layout& l) { l.fields[0].SlotOffset = 3; }, ec::InvalidFieldDefinition},
      {"type 0", [](Layout& l) { l.fields[0].Type = 0; }, ec::InvalidFieldDefinition},
      {"type 16", [](Layout& l) { l.fields[0].Type = 16; }, ec::InvalidFieldDefinition},
      {"size over 245", [](Layout& l) { l.fields[1].Size = 246; }, ec::InvalidFieldDefinition},
      {"blob count", [](Layout& l) { l.header.BlobFieldCount = 2; }, ec::BlobFieldsOrBlockSize},
      {"blob count negative", [](Layout& l) { l.header.BlobFieldCount = -1; }, ec::BlobFieldsOrBlockSize},
      {"block size 63", [](Layout& l) { l.header.BlobBlockSize = 63; }, ec::BlobFieldsOrBlockSize},
      {"block size 65536", [](Layout& l) { l.header.BlobBlockSize = 65536; }, ec::BlobFieldsOrBlockSize},
      {"block size 64", [](Layout& l) { l.header.BlobBlockSize = 64; }, 0},
      {"block size 65535", [](Layout& l) { l.header.BlobBlockSize = 65535; }, 0},
      {"next record 0", [](Layout& l) { l.header.NextRecordNumber = 0; }, ec::HeaderError},
      {"fewer descriptors", [](Layout& l) { l.fields.pop_back(); }, ec::HeaderError},
      {"autoinc slot", [](Layout& l) { l.fields[0].Subtype = fstAutoInc; }, ec::InvalidFieldDefinition},
  };
  for (const Case& c : cases) {
    Layout l = ValidLayout();
    c.damage(l);
    const TErrorCode code = CodeOf([&] {
      ValidateDataFileHeader(l.header, "T.DAT");
      ValidateFieldDescriptors(l.header, l.fields, "T.DAT");
    });
    EXPECT_EQ(code, c.code) << c.what;
  }
}

TEST(LayoutValidation, DecodesAFileStartAndUnscramblesEachDescriptor) {
  Layout l = ValidLayout();
  l.header.Encrypted = true;
  l.header.Password = "pw";
  Bytes file(DataFileHeaderSize + 3 * FieldDescriptorSize);
  EncodeDataFileHeader(l.header, std::span<std::uint8_t, DataFileHeaderSize>(file.data(), DataFileHeaderSize));
  for (std::size_t i = 0; i < 3; ++i) {
    std::uint8_t* unit = file.data() + DataFileHeaderSize + i * FieldDescriptorSize;
    EncodeFieldDescriptor(l.fields[i], std::span<std::uint8_t, FieldDescriptorSize>(unit, FieldDescriptorSize));
    Scramble(unit, FieldDescriptorSize, ContentsSeed);  // each descriptor is its own unit
  }
  const TDataFileLayout layout = DecodeDataFileLayout(file, "T.DAT");
  ASSERT_EQ(layout.Fields.size(), 3u);
  EXPECT_EQ(layout.Fields[1].Name, "Name");
  EXPECT_EQ(layout.Fields[2].Type, ftBlob);
  EXPECT_EQ(layout.Header.Password, "pw");

  EXPECT_EQ(CodeOf([&] { DecodeDataFileLayout(std::span(file).first(100), "T.DAT"); }), ec::ReadError);
  EXPECT_EQ(CodeOf([&] { DecodeDataFileLayout(std::span(file).first(file.size() - 1), "T.DAT"); }), ec::ReadError);
}

// A record owner over one file handler, laid out as a table with two fields.
class TestOwner : public TRecordOwner {
 public:
  explicit TestOwner(TFileHandler& file) : file_(file) {}
  std::int32_t RecordSize() const override { return 21; }
  std::int64_t RecordPosition(std::int32_t n) const override { return RecordOffset(2, 21, n); }
  TFileHandler& RecordFile() override { return file_; }
  std::int32_t NextUniqueID() override { return ++lastID; }
  std::int32_t lastID = 41;

 private:
  TFileHandler& file_;
};

class RecordTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MemoryFiles().Clear();
    file.SetInMemory(true);
    file.SetExclusive(true);
    file.SetFileName("REC.DAT");
    file.NewFile();
  }
  void TearDown() override {
    file.CloseFile();
    MemoryFiles().Clear();
  }
  TFileHandler file;
};

TEST_F(RecordTest, GoldenImageAtItsPosition) {
  TestOwner owner(file);
  const std::int64_t end = RecordOffset(2, 21, 3);
  file.Seek(0, 0);
  const Bytes zeros(static_cast<std::size_t>(end), 0);
  file.WriteBuffer(zeros.data(), static_cast<std::int32_t>(zeros.size()));

  TRecord record(owner);
  record.InitNew();
  EXPECT_EQ(record.UniqueID(), 42);
  EXPECT_FALSE(record.Dirty());
  record.SetDeleted(true);
  record.SetNextDeleted(0x0102);
  record.SetUniqueID(-2);
  EXPECT_TRUE(record.Dirty());
  Bytes other(21, 0);
  other[0] = 0x55;  // the prefix of the other image is not copied
  other[9] = 1;
  std::copy_n("hello", 5, other.begin() + 10);
  record.SetData(other.data());
  record.SetRecordNumber(2);
  record.WriteRecord();
  EXPECT_FALSE(record.Dirty());

  const Bytes expected =
      Place(21, {{0, {0x01, 0x02, 0x01, 0x00, 0x00, 0xFE, 0xFF, 0xFF, 0xFF, 0x01}}, {10, Text("hello")}});
  const auto& data = file.MemoryFile()->Data();
  EXPECT_EQ(Bytes(data.begin() + 127 + 2 * 265 + 21, data.begin() + 127 + 2 * 265 + 42), expected);

  TRecord again(owner);
  again.SetRecordNumber(2);
  again.ReadRecord();
  EXPECT_TRUE(again.Deleted());
  EXPECT_EQ(again.NextDeleted(), 0x0102);
  EXPECT_EQ(again.UniqueID(), -2);
}

TEST_F(RecordTest, WriteBeyondAnInMemoryFileLeavesTheRecordDirty) {
  TestOwner owner(file);
  file.WriteBuffer(nullptr, 0);  // cut to nothing
  TRecord record(owner);
  record.SetRecordNumber(5);
  record.SetDeleted(false);
  record.WriteRecord();
  EXPECT_TRUE(record.Dirty());
  EXPECT_EQ(file.Size(), 0);

  TRecord none(owner);
  none.SetDirty(true);
  none.WriteRecord();  // record number 0: nothing to write
  none.ReadRecord();
  EXPECT_TRUE(none.Dirty());
}

TEST(Scrambling, RoundTripAndKnownStream) {
  Bytes buffer{0, 0, 0};
  Scramble(buffer.data(), buffer.size(), ContentsSeed);
  EXPECT_EQ(buffer, (Bytes{0x46, 0x44, 0x46}));
  Bytes text = Text("any unit of a table file, longer than 256 bytes? no, but it wraps all the same");
  const Bytes original = text;
  Scramble(text.data(), text.size(), HeaderSeed);
  EXPECT_NE(text, original);
  Unscramble(text.data(), text.size(), HeaderSeed);
  EXPECT_EQ(text, original);

  Bytes long_buffer(600, 0x5A);  // past 256 bytes both halves of the seed wrap around
  Scramble(long_buffer.data(), long_buffer.size(), ContentsSeed);
  EXPECT_EQ(long_buffer[256], long_buffer[0]);
  Scramble(long_buffer.data(), long_buffer.size(), ContentsSeed);
  EXPECT_EQ(long_buffer, Bytes(600, 0x5A));
}

}  // namespace
}  // namespace kavrin::engine
