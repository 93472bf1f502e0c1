#include "classlib/data/blob_stream.h"

#include <fstream>

#include "classlib/data/other_fields.h"
#include "classlib/data/streams.h"
#include "classlib/data/string_list.h"
#include "engine/data_file.h"
#include "engine/error_codes.h"
#include "runtime/code_pages.h"
#include "tests/dataset/dataset_fixture.h"
#include "tests/helpers/hex.h"
#include "tests/helpers/holder_process.h"

namespace kavrin::dataset::testing {
namespace {

namespace cl = kavrin::classlib;
namespace en = kavrin::engine;

// A picture that is just its bytes.
class BytesPicture : public cl::TPicture {
 public:
  explicit BytesPicture(std::string bytes = {}) : bytes(std::move(bytes)) {}
  void SaveToStream(cl::TStream& stream) const override {
    stream.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
  }
  void LoadFromStream(cl::TStream& stream) override {
    bytes.clear();
    char chunk[100];
    for (std::int64_t n; (n = stream.Read(chunk, sizeof chunk)) > 0;) bytes.append(chunk, static_cast<std::size_t>(n));
  }
  std::string bytes;
};

// Many upper-half characters over several 512-byte blocks.
std::string LongText() {
  std::string text;
  for (int i = 0; i < 120; ++i) text += "Grüße aus Zürich, ½ " + std::to_string(i) + "; ";
  return text;
}

class BlobStreamTest : public DataSetTest {
 protected:
  void SetUp() override {
    Create("NOTES",
           {Field(1, "ID", en::ftInteger), Field(2, "Notes", en::ftBlob, 0, en::fstMemo),
            Field(3, "Picture", en::ftBlob, 0, en::fstGraphic), Field(4, "Data", en::ftBlob, 0, en::fstBinary)},
           {Index("", {1}, true)});
    table = Table("NOTES");
    table->Open();
    table->Append();
    table->FieldByName("ID")->SetAsInteger(1);
    table->FieldByName("Notes")->SetAsString(LongText());
    table->Post();
  }
  cl::TBlobField& Notes() { return static_cast<cl::TBlobField&>(*table->FieldByName("Notes")); }
  cl::TBlobField& Data() { return static_cast<cl::TBlobField&>(*table->FieldByName("Data")); }
  std::string ReadAll(cl::TBlobStream& stream, std::int64_t chunk) {
    std::string bytes;
    std::string buffer(static_cast<std::size_t>(chunk), '\0');
    for (std::int64_t n; (n = stream.Read(buffer.data(), chunk)) > 0;) {
      EXPECT_LE(n, chunk);
      bytes.append(buffer.data(), static_cast<std::size_t>(n));
    }
    return bytes;
  }

  std::unique_ptr<TKAVRINTable> table;
};

TEST_F(BlobStreamTest, AMemoOfSeveralBlocksIsStoredInCp437AndReadBackWhole) {
  const std::string stored = runtime::Utf8ToOem(LongText());
  ASSERT_GT(stored.size(), 1500u);
  EXPECT_EQ(Notes().AsString(), LongText());
  // The stream counts stored bytes, in chunks that would split UTF-8 characters.
  for (std::int64_t chunk : {1, 7, 512, 5000}) {
    SCOPED_TRACE(chunk);
    cl::TBlobStream stream(Notes(), cl::bmRead);
    EXPECT_EQ(stream.Size(), static_cast<std::int64_t>(stored.size()));
    EXPECT_EQ(ReadAll(stream, chunk), stored);
  }
  // Without transliteration the memo is Windows-1252.
  Notes().SetTransliterate(false);
  EXPECT_EQ(Notes().AsString(), runtime::AnsiToUtf8(stored));
  Notes().SetTransliterate(true);
}

TEST_F(BlobStreamTest, ReadsPastTheEndAndSeeks) {
  cl::TBlobStream stream(Notes(), cl::bmRead);
  const std::int64_t size = stream.Size();
  struct Case {
    std::int64_t offset;
    cl::TSeekOrigin origin;
    std::int64_t position;
    std::int64_t ask;
    std::int64_t got;
  } cases[] = {
      {-10, cl::soFromEnd, size - 10, 100, 10}, {0, cl::soFromEnd, size, 5, 0},   {5, cl::soFromEnd, size + 5, 5, 0},
      {3, cl::soFromBeginning, 3, 4, 4},        {-2, cl::soFromCurrent, 5, 1, 1}, {-100, cl::soFromBeginning, 0, 2, 2},
  };
  const std::string stored = runtime::Utf8ToOem(LongText());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.position);
    EXPECT_EQ(stream.Seek(c.offset, c.origin), c.position);
    std::string buffer(static_cast<std::size_t>(c.ask), '\0');
    EXPECT_EQ(stream.Read(buffer.data(), c.ask), c.got);
    if (c.got > 0) {
      EXPECT_EQ(buffer.substr(0, static_cast<std::size_t>(c.got)),
                stored.substr(static_cast<std::size_t>(c.position), static_cast<std::size_t>(c.got)));
    }
  }
}

TEST_F(BlobStreamTest, TwoWriteStreamsInOneEditAndWhatPostKeeps) {
  table->Edit();
  {
    cl::TBlobStream first(Data(), cl::bmWrite);
    first.WriteBuffer("first stream", 12);
  }
  EXPECT_TRUE(Data().BlobModified());
  {
    cl::TBlobStream second(Data(), cl::bmWrite);  // cut again
    EXPECT_EQ(second.Size(), 0);
    second.WriteBuffer("\x00\xFF\x80", 3);
  }
  {
    cl::TBlobStream append(Data(), cl::bmReadWrite);
    EXPECT_EQ(append.Seek(0, cl::soFromEnd), 3);
    append.WriteBuffer("!", 1);
  }
  table->Post();
  EXPECT_FALSE(Data().BlobModified());
  EXPECT_EQ(Data().AsString(), std::string("\x00\xFF\x80!", 4));
}

TEST_F(BlobStreamTest, ACancelledEditLeavesTheStoredBlobForAnotherProcess) {
  kavrin::testing::HolderProcess holder(PathOf("NOTES"), kavrin::testing::HolderAccess::ReadWrite,
                                        kavrin::testing::HolderShare::Shared,
                                        kavrin::testing::HolderDisposition::OpenExisting, KAVRIN_RECORD_HOLDER);
  ASSERT_TRUE(holder.Ready());
  const std::string before = kavrin::testing::ToHex(runtime::Utf8ToOem(LongText()));
  EXPECT_EQ(holder.Send("blob 1 2").value, before);
  table->Edit();
  Notes().SetAsString("replaced, then cancelled");
  {
    // The blob this edit changed belongs to the field: a read stream continues it.
    cl::TBlobStream reader(Notes(), cl::bmRead);
    EXPECT_EQ(reader.Size(), 24);
  }
  table->Cancel();
  EXPECT_EQ(holder.Send("blob 1 2").value, before);
  EXPECT_EQ(Notes().AsString(), LongText());
  table->Edit();
  Notes().SetAsString("kept");
  table->Post();
  EXPECT_EQ(holder.Send("blob 1 2").value, kavrin::testing::ToHex("kept"));
}

TEST_F(BlobStreamTest, AGraphicRoundTripsByteForByteWithoutAPrefix) {
  std::string image;
  for (int i = 0; i < 3000; ++i) image += static_cast<char>((i * 37) & 0xFF);
  table->Edit();
  auto& picture = static_cast<cl::TBlobField&>(*table->FieldByName("Picture"));
  picture.LoadFromBitmap(BytesPicture(image));
  table->Post();
  BytesPicture back;
  picture.SaveToBitmap(back);
  EXPECT_EQ(back.bytes, image);
  cl::TBlobStream raw(picture, cl::bmRead);
  EXPECT_EQ(raw.Size(), 3000);  // no 8-byte header in the blob file
}

TEST_F(BlobStreamTest, StatesThatRefuseOrLeaveTheStreamUnopened) {
  EXPECT_EQ(DatabaseMessageOf([&] { cl::TBlobStream stream(Data(), cl::bmWrite); }),
            "Dataset not in edit or insert mode");
  table->Append();  // a row being inserted is no fetched record
  {
    cl::TBlobStream stream(Notes(), cl::bmRead);
    EXPECT_FALSE(stream.Opened());
    char c;
    EXPECT_EQ(stream.Read(&c, 1), 0);
    EXPECT_EQ(stream.Size(), 0);
  }
  table->Cancel();
  std::string message;
  table->SetOnFilterRecord(
      [&](cl::TDataSet& set, bool&) { message = DatabaseMessageOf([&] { set.FieldByName("Notes")->AsString(); }); });
  table->SetFiltered(true);
  EXPECT_EQ(message, "Cannot access field 'Notes' in a filter");
}

TEST_F(BlobStreamTest, MemoLoadAndSaveConvertWholeValues) {
  const std::string text = "Ärger über Öl — ½ € ✓\r\nzweite Zeile\r\n";
  const std::string file = PathOf("memo.txt");
  { std::ofstream(file, std::ios::binary) << text; }
  table->Edit();
  Notes().LoadFromFile(file);
  table->Post();
  // Characters CP437 lacks become "?"; each character is one stored byte.
  const std::string stored = runtime::Utf8ToOem(text);
  {
    cl::TBlobStream stream(Notes(), cl::bmRead);
    EXPECT_EQ(ReadAll(stream, 3), stored);
  }
  Notes().SaveToFile(PathOf("back.txt"));
  std::ifstream in(PathOf("back.txt"), std::ios::binary);
  const std::string back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(back, runtime::OemToUtf8(stored));
  cl::TStringList lines;
  lines.Add("één");
  lines.Add("twee");
  table->Edit();
  Notes().LoadFromStrings(lines);
  Data().LoadFromBlob(Notes());
  table->Post();
  EXPECT_EQ(Notes().AsString(), "één\r\ntwee\r\n");
  EXPECT_EQ(Data().AsString(), "één\r\ntwee\r\n");  // a binary blob holds the text as it came
  cl::TMemoryStream memory;
  Notes().SaveToStream(memory);
  EXPECT_EQ(std::string(memory.Memory().begin(), memory.Memory().end()), "één\r\ntwee\r\n");
}

}  // namespace
}  // namespace kavrin::dataset::testing
