#include "engine/open_blobs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "engine/blob_file.h"
#include "tests/engine/blob_test_support.h"

namespace kavrin::engine {
namespace {

using blob_testing::BlobFileFixture;
using blob_testing::BlockBytes;
using blob_testing::CodeOf;
using blob_testing::FileBytes;
using blob_testing::FixtureBlock;
using blob_testing::GetLE;
using blob_testing::HeaderBytes;
using blob_testing::Image;
using blob_testing::NewImage;
using blob_testing::SetSlotReference;
using blob_testing::SlotOf;
using blob_testing::SlotReference;

std::string Pattern(std::size_t length) {
  std::string text(length, '\0');
  for (std::size_t i = 0; i < length; ++i) text[i] = static_cast<char>('a' + i % 26);
  return text;
}

class OpenBlobsTest : public ::testing::TestWithParam<bool> {
 protected:
  // Opens the blob of field in image as the data file does: the slot then holds the negated handle.
  std::int32_t OpenOn(Image& image, std::int16_t field) {
    std::int32_t handle = 0;
    EXPECT_EQ(File().OpenBlobHandle(SlotReference(image, field), field, handle), ec::Success);
    SetSlotReference(image, field, -handle);
    return handle;
  }

  // What storing a record does with its blobs; the image then holds block offsets.
  void Store(Image& image, std::int32_t recordNumber) {
    File().SetBlobOwner(image.data(), recordNumber);
    File().SaveBlobs(image.data());
    File().StoreBlobOffsets(image.data());
  }

  void Write(std::int32_t handle, std::int32_t position, const std::string& text) {
    EXPECT_EQ(File().WriteBlob(handle, position, static_cast<std::int32_t>(text.size()), text.data()), ec::Success);
  }

  std::string ReadAll(std::int32_t handle) {
    std::int32_t size = 0;
    EXPECT_EQ(File().GetBlobSize(handle, size), ec::Success);
    std::string text(static_cast<std::size_t>(size), '\0');
    std::int32_t got = 0;
    EXPECT_EQ(File().ReadBlob(handle, 0, size, text.data(), got), ec::Success);
    EXPECT_EQ(got, size);
    return text;
  }

  // A saved blob of text for record 4; returns its first block.
  std::int32_t SaveNew(const std::string& text, std::int32_t record = 4) {
    Image image = NewImage();
    const std::int32_t handle = OpenOn(image, 1);
    Write(handle, 0, text);
    Store(image, record);
    std::int32_t first = 0;
    EXPECT_EQ(File().CloseBlobHandle(handle, first), ec::Success);
    EXPECT_EQ(first, SlotReference(image, 1));
    return first;
  }

  TBlobFile& File() { return fixture.File(); }

  BlobFileFixture fixture{GetParam()};
};

INSTANTIATE_TEST_SUITE_P(DiskAndMemory, OpenBlobsTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "InMemory" : "OnDisk"; });

TEST_P(OpenBlobsTest, AThousandBytesTakeThreeBlocks) {
  fixture.Create();
  const std::string text = Pattern(1000);
  const std::int32_t first = SaveNew(text);
  EXPECT_EQ(first, 512);
  fixture.Flush();
  EXPECT_EQ(fixture.Bytes(), HeaderBytes(2, 2, 0, 2048) +
                                 BlockBytes(512, {0, 1024, 494, 4, 1000, text.substr(0, 494)}) +
                                 BlockBytes(512, {512, 1536, 494, 4, 0, text.substr(494, 494)}) +
                                 BlockBytes(512, {1024, 0, 12, 4, 0, text.substr(988)}));

  File().CloseFile();
  fixture.Open(fixture.Bytes());
  Image image = NewImage();
  SetSlotReference(image, 1, first);
  EXPECT_EQ(ReadAll(OpenOn(image, 1)), text);
}

TEST_P(OpenBlobsTest, ShrinkingFreesTheTailWhichComesBackNewestFirst) {
  fixture.Create();
  const std::int32_t first = SaveNew(Pattern(1000));
  Image image = NewImage();
  SetSlotReference(image, 1, first);
  const std::int32_t handle = OpenOn(image, 1);
  EXPECT_EQ(File().SetBlobSize(handle, 100), ec::Success);
  Store(image, 4);
  EXPECT_EQ(SlotReference(image, 1), 512);
  TBlock& block = File().GetBlock(512);
  EXPECT_EQ(block.TotalLength(), 100);
  EXPECT_EQ(block.Used(), 100);
  EXPECT_EQ(block.Next(), 0);
  EXPECT_EQ(File().AllocBlock().Offset(), 1536);
  EXPECT_EQ(File().AllocBlock().Offset(), 1024);
  EXPECT_EQ(File().AllocBlock().Offset(), 2048);
}

TEST_P(OpenBlobsTest, GrowingReusesTheChainAndGivesEveryBlockTheOwner) {
  fixture.Create();
  const std::int32_t first = SaveNew(Pattern(100), 4);
  const std::int32_t spare = SaveNew(Pattern(10), 8);  // 1024, then freed: the next block comes from there
  Image spareImage = NewImage();
  SetSlotReference(spareImage, 1, spare);
  const std::int32_t spareHandle = OpenOn(spareImage, 1);
  File().SetBlobSize(spareHandle, 0);
  Store(spareImage, 8);
  EXPECT_EQ(SlotReference(spareImage, 1), 0);

  Image image = NewImage();
  SetSlotReference(image, 1, first);
  const std::int32_t handle = OpenOn(image, 1);
  Write(handle, 1000, "end");
  Store(image, 9);
  EXPECT_EQ(SlotReference(image, 1), first);
  std::vector<std::int32_t> offsets;
  for (std::int32_t at = first; at != 0; at = File().GetBlock(at).Next()) {
    offsets.push_back(at);
    EXPECT_EQ(File().GetBlock(at).Owner(), 9) << at;
  }
  EXPECT_EQ(offsets, std::vector<std::int32_t>({512, 1024, 1536}));
  EXPECT_EQ(File().GetBlock(1024).Previous(), 512);
  EXPECT_EQ(File().GetBlock(1536).Previous(), 1024);
  EXPECT_EQ(File().GetBlock(512).TotalLength(), 1003);
  EXPECT_EQ(File().GetBlock(1536).Used(), 1003 - 2 * 494);
}

TEST_P(OpenBlobsTest, SixtyFourBlobsAtATime) {
  fixture.Create();
  std::vector<std::int32_t> handles;
  for (int i = 0; i < 64; ++i) {
    std::int32_t handle = 0;
    ASSERT_EQ(File().OpenBlobHandle(0, 1, handle), ec::Success);
    handles.push_back(handle);
  }
  std::int32_t refused = -1;
  EXPECT_EQ(File().OpenBlobHandle(0, 1, refused), ec::TooManyBlobs);
  EXPECT_EQ(refused, 0);
  std::int32_t first = -1;
  EXPECT_EQ(File().CloseBlobHandle(handles[10], first), ec::Success);
  std::int32_t handle = 0;
  EXPECT_EQ(File().OpenBlobHandle(0, 1, handle), ec::Success);
  EXPECT_EQ(File().OpenBlobCount(), 64);
  for (std::size_t i = 0; i < handles.size(); ++i) EXPECT_EQ(File().IsBlobHandle(handles[i]), i != 10);
}

TEST_P(OpenBlobsTest, ReadsThatReachPastTheEnd) {
  fixture.Create();
  const std::string text = Pattern(1000);
  Image image = NewImage();
  const std::int32_t handle = OpenOn(image, 1);
  Write(handle, 0, text);
  const struct {
    std::int32_t position;
    std::int32_t count;
    TErrorCode code;
    std::int32_t read;
  } cases[] = {
      {995, 10, ec::EndOfBlob, 5},       {999, 10, ec::EndOfBlob, 1},
      {1000, 1, ec::EndOfBlob, 0},       {1200, 1, ec::EndOfBlob, 0},
      {0, 1000, ec::Success, 1000},      {1000, 0, ec::Success, 0},
      {990, 10, ec::Success, 10},        {-1, 1, ec::InvalidBlobLength, 0},
      {0, -1, ec::InvalidBlobLength, 0}, {INT32_MAX, INT32_MAX, ec::EndOfBlob, 0},
  };
  for (const auto& c : cases) {
    std::string buffer(1000, '?');
    std::int32_t read = -1;
    EXPECT_EQ(File().ReadBlob(handle, c.position, c.count, buffer.data(), read), c.code) << c.position;
    EXPECT_EQ(read, c.read) << c.position;
    if (c.read > 0) {
      EXPECT_EQ(buffer.substr(0, static_cast<std::size_t>(c.read)),
                text.substr(static_cast<std::size_t>(c.position), static_cast<std::size_t>(c.read)));
    }
  }
}

TEST_P(OpenBlobsTest, WritingInsideKeepsTheSizeAndIsSavedNext) {
  fixture.Create();
  const std::int32_t first = SaveNew("0123456789");
  Image image = NewImage();
  SetSlotReference(image, 1, first);
  const std::int32_t handle = OpenOn(image, 1);
  EXPECT_FALSE(File().FindBlob(handle)->Modified());
  Write(handle, 0, "XYZ");
  EXPECT_TRUE(File().FindBlob(handle)->Modified());
  EXPECT_EQ(ReadAll(handle), "XYZ3456789");
  Store(image, 4);
  EXPECT_FALSE(File().FindBlob(handle)->Modified());
  fixture.Flush();
  EXPECT_EQ(fixture.Bytes().substr(512 + 18, 10), "XYZ3456789");
}

TEST_P(OpenBlobsTest, AnUnchangedBlobIsNotWrittenAgain) {
  fixture.Create();
  const std::int32_t first = SaveNew(Pattern(600));
  fixture.Flush();
  File().ClearBlockCache();
  Image image = NewImage();
  SetSlotReference(image, 1, first);
  OpenOn(image, 1);
  Store(image, 99);
  EXPECT_EQ(SlotReference(image, 1), first);
  for (const std::int32_t at : {512, 1024}) EXPECT_FALSE(File().GetBlock(at).Dirty()) << at;
  EXPECT_EQ(File().GetBlock(512).Owner(), 4);
}

TEST_P(OpenBlobsTest, WritesGrowAndSizesChangeWithinLimits) {
  fixture.Create();
  Image image = NewImage();
  const std::int32_t handle = OpenOn(image, 1);
  Write(handle, 20, "abc");
  EXPECT_EQ(ReadAll(handle), std::string(20, '\0') + "abc");
  EXPECT_EQ(File().WriteBlob(handle, INT32_MAX - 1, 5, "12345"), ec::InvalidBlobLength);
  EXPECT_EQ(File().WriteBlob(handle, -1, 1, "1"), ec::InvalidBlobLength);
  EXPECT_EQ(File().WriteBlob(handle, 0, -1, "1"), ec::InvalidBlobLength);
  EXPECT_EQ(File().SetBlobSize(handle, -1), ec::InvalidBlobLength);
  EXPECT_EQ(ReadAll(handle), std::string(20, '\0') + "abc");

  EXPECT_EQ(File().SetBlobSize(handle, 22), ec::Success);
  EXPECT_EQ(ReadAll(handle), std::string(20, '\0') + "ab");
  EXPECT_EQ(File().SetBlobSize(handle, 25), ec::Success);
  EXPECT_EQ(ReadAll(handle), std::string(20, '\0') + "ab" + std::string(3, '\0'));

  const std::int32_t first = SaveNew("saved");
  SetSlotReference(image, 2, first);
  const std::int32_t saved = OpenOn(image, 2);
  EXPECT_EQ(File().SetBlobSize(saved, 5), ec::Success);
  EXPECT_FALSE(File().FindBlob(saved)->Modified()) << "the same size is no change";
  EXPECT_EQ(File().SetBlobSize(saved, 4), ec::Success);
  EXPECT_TRUE(File().FindBlob(saved)->Modified());
}

TEST_P(OpenBlobsTest, ClosingGivesBackTheFirstBlock) {
  fixture.Open(FileBytes({{0, 0, 5, 4, 5, "hello"}}));
  Image image = NewImage();
  SetSlotReference(image, 1, 512);
  const std::int32_t opened = OpenOn(image, 1);
  Write(opened, 0, "HELLO");  // changed but never saved
  std::int32_t first = -1;
  EXPECT_EQ(File().CloseBlobHandle(opened, first), ec::Success);
  EXPECT_EQ(first, 512);
  EXPECT_FALSE(File().IsBlobHandle(opened));

  const std::int32_t fresh = OpenOn(image, 2);
  EXPECT_EQ(File().CloseBlobHandle(fresh, first), ec::Success);
  EXPECT_EQ(first, 0);
}

TEST_P(OpenBlobsTest, UnknownHandlesAreRefused) {
  fixture.Create();
  std::int32_t closed = 0;
  ASSERT_EQ(File().OpenBlobHandle(0, 1, closed), ec::Success);
  std::int32_t first = 0;
  File().CloseBlobHandle(closed, first);
  // Another blob file of the process: handles are never shared.
  TBlobFile other(fixture.Owner());
  other.SetInMemory(true);
  const std::string path = fixture.Path();
  other.SetFileName(path.substr(0, path.size() - std::string("TABLE.BLB").size()) + "OTHER.BLB");
  other.SetExclusive(true);
  other.NewFile();
  std::int32_t foreign = 0;
  ASSERT_EQ(other.OpenBlobHandle(0, 1, foreign), ec::Success);

  for (const std::int32_t handle : {0, -1, INT32_MIN, INT32_MAX, closed, foreign}) {
    std::int32_t value = 0;
    char buffer[4] = {};
    EXPECT_EQ(File().CloseBlobHandle(handle, value), ec::InvalidBlobHandle) << handle;
    EXPECT_EQ(File().ReadBlob(handle, 0, 1, buffer, value), ec::InvalidBlobHandle) << handle;
    EXPECT_EQ(File().WriteBlob(handle, 0, 1, buffer), ec::InvalidBlobHandle) << handle;
    EXPECT_EQ(File().SetBlobSize(handle, 1), ec::InvalidBlobHandle) << handle;
    EXPECT_EQ(File().GetBlobSize(handle, value), ec::InvalidBlobHandle) << handle;
    EXPECT_FALSE(File().IsBlobHandle(handle)) << handle;
  }
  EXPECT_TRUE(other.IsBlobHandle(foreign));
}

TEST_P(OpenBlobsTest, OpenBlobSizeOfASlotReference) {
  fixture.Create();
  Image image = NewImage();
  const std::int32_t handle = OpenOn(image, 1);
  Write(handle, 0, "four");
  EXPECT_EQ(File().OpenBlobSize(-handle), 4);
  for (const std::int32_t reference : {0, handle, 512, INT32_MIN, -INT32_MAX}) {
    EXPECT_EQ(File().OpenBlobSize(reference), 0) << reference;
  }
}

TEST_P(OpenBlobsTest, AnEmptiedBlobFreesItsChain) {
  fixture.Create();
  const std::int32_t first = SaveNew(Pattern(1000));
  Image image = NewImage();
  SetSlotReference(image, 1, first);
  const std::int32_t handle = OpenOn(image, 1);
  EXPECT_EQ(File().SetBlobSize(handle, 0), ec::Success);
  Store(image, 4);
  EXPECT_EQ(SlotReference(image, 1), 0);
  EXPECT_EQ(image[SlotOf(1)], 0) << "no blob is a null field";
  EXPECT_EQ(File().FindBlob(handle)->FirstBlock(), 0);
  // Freed from the first: the last block of the chain is the newest free one.
  EXPECT_EQ(File().Header().FreeBlockHead, 1536u);
  EXPECT_EQ(File().AllocBlock().Offset(), 1536);
  EXPECT_EQ(File().AllocBlock().Offset(), 1024);
  EXPECT_EQ(File().AllocBlock().Offset(), 512);
}

TEST_P(OpenBlobsTest, OnlyTheBlobsOfTheStoredImageAreTouched) {
  fixture.Create();
  Image stored = NewImage();
  Image other = NewImage();
  const std::int32_t memo = OpenOn(stored, 1);
  const std::int32_t picture = OpenOn(stored, 2);
  const std::int32_t foreign = OpenOn(other, 1);
  Write(memo, 0, "memo");
  Write(picture, 0, "picture");
  Write(foreign, 0, "another record");

  Store(stored, 7);
  EXPECT_EQ(SlotReference(stored, 1), 512);
  EXPECT_EQ(SlotReference(stored, 2), 1024);
  EXPECT_EQ(File().GetBlock(512).Owner(), 7);
  EXPECT_EQ(File().GetBlock(1024).Owner(), 7);

  const TBlobBuffer& untouched = *File().FindBlob(foreign);
  EXPECT_EQ(untouched.Owner(), 0);
  EXPECT_TRUE(untouched.Modified());
  EXPECT_EQ(untouched.FirstBlock(), 0);
  EXPECT_EQ(SlotReference(other, 1), -foreign);
  EXPECT_EQ(File().Header().EndOffset, 1536);
}

TEST_P(OpenBlobsTest, DamagedChainsFailToLoad) {
  const struct {
    const char* name;
    std::vector<FixtureBlock> blocks;
    std::int32_t first;
    TErrorCode code;
  } cases[] = {
      {"length no file of this size holds", {{0, 0, 494, 1, 100000}}, 512, ec::EndOfBlob},
      {"chain ends early", {{0, 0, 494, 1, 900}, {}}, 512, ec::EndOfBlob},
      {"block yields fewer bytes than asked", {{0, 1024, 200, 1, 900}, {512, 0, 494, 1}}, 512, ec::EndOfBlob},
      {"chain loops", {{0, 1024, 494, 1, 1400}, {512, 512, 494, 1}, {}}, 512, ec::InvalidBlobOffset},
      {"misaligned link", {{0, 700, 494, 1, 900}, {}}, 512, ec::InvalidBlobOffset},
      {"link past the end", {{0, 9216, 494, 1, 900}, {}}, 512, ec::InvalidBlobOffset},
      {"negative length", {{0, 0, 10, 1, -1}}, 512, ec::InvalidBlobLength},
      {"offset of no block", {{}}, 700, ec::InvalidBlobOffset},
      {"offset past the end", {{}}, 1024, ec::InvalidBlobOffset},
      {"negative offset", {{}}, -512, ec::InvalidBlobOffset},
  };
  for (const auto& c : cases) {
    fixture.Open(FileBytes(c.blocks));
    std::int32_t handle = -1;
    EXPECT_EQ(CodeOf([&] { File().OpenBlobHandle(c.first, 1, handle); }), c.code) << c.name;
    EXPECT_EQ(File().OpenBlobCount(), 0) << c.name;
    File().CloseFile();
  }
}

TEST_P(OpenBlobsTest, LoadTakesNoMoreThanABlockHolds) {
  const struct {
    const char* name;
    std::vector<FixtureBlock> blocks;
    std::string expected;
  } cases[] = {
      {"used beyond the payload", {{0, 0, 0xFFFF, 1, 494, std::string(494, 'u')}}, std::string(494, 'u')},
      {"empty blob", {{0, 0, 0, 1, 0}}, ""},
      // Loading stops once every byte is in: a bad link after that is never followed.
      {"all bytes before a bad link", {{0, 777, 5, 1, 5, "hello"}}, "hello"},
  };
  for (const auto& c : cases) {
    fixture.Open(FileBytes(c.blocks));
    Image image = NewImage();
    SetSlotReference(image, 1, 512);
    EXPECT_EQ(ReadAll(OpenOn(image, 1)), c.expected) << c.name;
    File().CloseFile();
  }
}

TEST_P(OpenBlobsTest, SavingOverADamagedChainChangesNothing) {
  const struct {
    const char* name;
    std::vector<FixtureBlock> blocks;
    std::uint32_t freeHead;
  } cases[] = {
      {"bad link in the old chain", {{0, 777, 5, 1, 5, "hello"}, {}}, 0},
      {"free list hands out a block of the chain", {{0, 0, 5, 1, 5, "hello"}, {}}, 512},
  };
  for (const auto& c : cases) {
    const std::string bytes = FileBytes(c.blocks, c.freeHead);
    fixture.Open(bytes);
    Image image = NewImage();
    SetSlotReference(image, 1, 512);
    const std::int32_t handle = OpenOn(image, 1);
    Write(handle, 0, Pattern(1000));
    EXPECT_EQ(CodeOf([&] { Store(image, 1); }), ec::InvalidBlobOffset) << c.name;
    EXPECT_FALSE(File().GetBlock(512).Dirty()) << c.name;
    EXPECT_EQ(SlotReference(image, 1), -handle) << c.name;
    File().CloseFile();
    EXPECT_EQ(fixture.Bytes(), bytes) << c.name;
  }
}

TEST_P(OpenBlobsTest, ClosingTheFileDropsItsOpenBlobs) {
  fixture.Create();
  Image image = NewImage();
  const std::int32_t handle = OpenOn(image, 1);
  File().CloseFile();
  EXPECT_EQ(File().OpenBlobCount(), 0);
  EXPECT_FALSE(File().IsBlobHandle(handle));
  File().OpenFile();
  Image again = NewImage();
  OpenOn(again, 1);
  OpenOn(again, 2);
  File().FreeBlobs();
  EXPECT_EQ(File().OpenBlobCount(), 0);
}

TEST(BlobHandles, AreProcessWideCountersNeverReusedAtOnce) {
  BlobFileFixture fixture(true);
  TBlobFile& file = fixture.Create();
  std::vector<std::int32_t> seen;
  for (int i = 0; i < 200; ++i) {
    std::int32_t handle = 0;
    ASSERT_EQ(file.OpenBlobHandle(0, 1, handle), ec::Success);
    EXPECT_GT(handle, 0);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), handle), 0);
    seen.push_back(handle);
    std::int32_t first = 0;
    file.CloseBlobHandle(handle, first);
  }
}

}  // namespace
}  // namespace kavrin::engine
