#include "engine/blob_file.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "engine/scrambling.h"
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
using blob_testing::TestOwner;

std::string Text(const TBlock& block, std::int32_t from, std::int32_t count) {
  std::string text(static_cast<std::size_t>(count), '\0');
  const std::int32_t got = block.GetData(from, count, text.data());
  text.resize(static_cast<std::size_t>(got));
  return text;
}

void Put(TBlock& block, const std::string& text) {
  block.PutData(0, static_cast<std::int32_t>(text.size()), text.data());
}

// The same behaviour on disk and in memory.
class BlobFileTest : public ::testing::TestWithParam<bool> {
 protected:
  BlobFileFixture fixture{GetParam()};
};

INSTANTIATE_TEST_SUITE_P(DiskAndMemory, BlobFileTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "InMemory" : "OnDisk"; });

TEST(BlobFileName, ExtensionIsAlwaysBLB) {
  TestOwner owner;
  TBlobFile file(owner);
  const struct {
    const char* given;
    const char* fixed;
  } cases[] = {
      {"  /data/orders.dat ", "/data/orders.BLB"},
      {"/data/orders", "/data/orders.BLB"},
      {"/data/orders.blb", "/data/orders.BLB"},
      {"/data/v1.2/orders", "/data/v1.2/orders.BLB"},
      {"orders.x.dat", "orders.x.BLB"},
  };
  for (const auto& c : cases) EXPECT_EQ(file.FixFileName(c.given), c.fixed) << c.given;
}

TEST_P(BlobFileTest, NewFileWritesTheEmptyHeader) {
  TBlobFile& file = fixture.Create();
  EXPECT_EQ(file.Header().ChangeCounter, 1);
  EXPECT_TRUE(file.HeaderKnown());
  file.CloseFile();
  EXPECT_EQ(fixture.Bytes(), HeaderBytes(1, 2, 0, 512));
}

TEST_P(BlobFileTest, OpenReadsTheHeaderAndRefusesAnotherVersion) {
  TBlobFile& file = fixture.Open(HeaderBytes(41, 2, 0, 512), false);
  EXPECT_EQ(file.Header().ChangeCounter, 41);
  EXPECT_EQ(file.Header().EndOffset, 512);
  EXPECT_FALSE(file.HeaderKnown());
  file.CloseFile();
  for (const std::uint8_t version : {0, 1, 3, 255}) {
    EXPECT_EQ(CodeOf([&] { fixture.Open(HeaderBytes(1, version, 0, 512)); }), ec::IncorrectVersion);
    EXPECT_FALSE(file.Opened());
  }
}

TEST(BlobFileCache, CapacityAndPayloadFollowTheBlockSize) {
  const struct {
    std::uint16_t stored;
    std::int32_t blockSize;
    std::size_t capacity;
  } cases[] = {{0, 512, 255}, {512, 512, 255}, {64, 64, 2047}, {1000, 1000, 131}, {65535, 65535, 2}};
  for (const auto& c : cases) {
    BlobFileFixture fixture(true, c.stored);
    TBlobFile& file = fixture.Create();
    EXPECT_EQ(file.BlockSize(), c.blockSize);
    EXPECT_EQ(file.PayloadSize(), c.blockSize - 18);
    EXPECT_EQ(file.BlockCacheCapacity(), c.capacity) << c.stored;
  }
  BlobFileFixture tiny(true, 18);
  EXPECT_EQ(CodeOf([&] { tiny.Create(); }), ec::BlobFieldsOrBlockSize);
}

TEST_P(BlobFileTest, LoadsBlockHeadersFieldByFieldAndClampsUsed) {
  TBlobFile& file = fixture.Open(FileBytes({
      {0, 1024, 5, 7, 600, "hello"},
      {512, 0, 0xFFFF, -3, 0, std::string(494, 'x')},
  }));
  TBlock& first = file.GetBlock(512);
  EXPECT_EQ(first.Previous(), 0);
  EXPECT_EQ(first.Next(), 1024);
  EXPECT_EQ(first.Used(), 5);
  EXPECT_EQ(first.Owner(), 7);
  EXPECT_EQ(first.TotalLength(), 600);
  EXPECT_EQ(Text(first, 0, 494), "hello");
  EXPECT_FALSE(first.Dirty());
  TBlock& second = file.GetBlock(1024);
  EXPECT_EQ(second.Previous(), 512);
  EXPECT_EQ(second.Owner(), -3);
  EXPECT_EQ(second.Used(), 494);
  EXPECT_EQ(Text(second, 0, 494).size(), 494u);
}

TEST_P(BlobFileTest, StoreWritesTheWorkingCopiesBack) {
  TBlobFile& file = fixture.Open(FileBytes({{0, 0, 3, 1, 3, "abc"}}));
  TBlock& block = file.GetBlock(512);
  block.SetOwner(1);
  EXPECT_FALSE(block.Dirty()) << "an unchanged value leaves the block clean";
  block.SetPrevious(0x01020304);
  block.SetNext(-2);
  block.SetOwner(0x7FFFFFFF);
  block.SetTotalLength(70000);
  block.PutData(10, 4, "wxyz");
  EXPECT_TRUE(block.Dirty());
  fixture.Flush();
  EXPECT_FALSE(block.Dirty());
  std::string payload = "abc";
  payload.resize(10, '\0');
  payload += "wxyz";
  EXPECT_EQ(fixture.Bytes(),
            HeaderBytes(8, 2, 0, 1024) + BlockBytes(512, {0x01020304, -2, 14, 0x7FFFFFFF, 70000, payload}));
}

TEST_P(BlobFileTest, RefusesOffsetsThatNameNoBlock) {
  TBlobFile& file = fixture.Open(FileBytes({{}, {}}));  // blocks at 512 and 1024, end 1536
  for (const std::int32_t offset : {0, 100, 511, 513, 1023, 1100, 2048, -512, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(CodeOf([&] { file.GetBlock(offset); }), ec::InvalidBlobOffset) << offset;
  }
  EXPECT_EQ(file.Header().EndOffset, 1536);
  TBlock& created = file.GetBlock(1536);
  EXPECT_EQ(created.Offset(), 1536);
  EXPECT_EQ(created.Used(), 0);
  EXPECT_EQ(file.Header().EndOffset, 2048);
}

TEST_P(BlobFileTest, DamagedEndOffsetIsTakenAsTheEndOfTheLastWholeBlock) {
  const std::string blocks = BlockBytes(512, {}) + BlockBytes(512, {}) + std::string(100, 'z');
  const struct {
    std::int32_t stored;
    std::int32_t taken;
  } cases[] = {{1536, 1536}, {1024, 1024}, {1000, 512}, {100, 512}, {-5, 512}, {1000000, 1536}, {INT32_MAX, 1536}};
  for (const auto& c : cases) {
    TBlobFile& file = fixture.Open(HeaderBytes(1, 2, 0, c.stored) + blocks);
    EXPECT_EQ(file.Header().EndOffset, c.taken) << c.stored;
    file.CloseFile();
  }
}

TEST_P(BlobFileTest, FreedBlocksComeBackLastInFirstOut) {
  TBlobFile& file = fixture.Create();
  EXPECT_EQ(file.FirstFreeBlock(), 512);
  const std::int32_t a = file.AllocBlock().Offset();
  const std::int32_t b = file.AllocBlock().Offset();
  const std::int32_t c = file.AllocBlock().Offset();
  EXPECT_EQ(std::vector<std::int32_t>({a, b, c}), std::vector<std::int32_t>({512, 1024, 1536}));
  EXPECT_EQ(file.Header().EndOffset, 2048);

  file.FreeBlock(file.GetBlock(a));
  file.FreeBlock(file.GetBlock(b));
  EXPECT_EQ(file.GetBlock(b).Next(), a);
  EXPECT_EQ(file.GetBlock(a).Next(), 0);
  fixture.Flush();
  const std::string bytes = fixture.Bytes();
  EXPECT_EQ(GetLE(bytes, 9, 4), static_cast<std::uint32_t>(b));
  EXPECT_EQ(GetLE(bytes, static_cast<std::size_t>(b) + 4, 4), static_cast<std::uint32_t>(a));

  EXPECT_EQ(file.AllocBlock().Offset(), b);
  EXPECT_EQ(file.AllocBlock().Offset(), a);
  EXPECT_EQ(file.FirstFreeBlock(), 2048);
  EXPECT_EQ(file.AllocBlock().Offset(), 2048);
  EXPECT_EQ(file.Header().EndOffset, 2560);
}

TEST_P(BlobFileTest, AllocatedBlocksAreCleared) {
  TBlobFile& file = fixture.Open(FileBytes({{0, 0, 5, 9, 5, "stale"}}, 512));
  TBlock& block = file.AllocBlock();
  EXPECT_EQ(block.Offset(), 512);
  EXPECT_EQ(file.Header().FreeBlockHead, 0u);
  EXPECT_EQ(block.Used(), 0);
  EXPECT_EQ(block.Owner(), 0);
  EXPECT_EQ(block.TotalLength(), 0);
  EXPECT_EQ(Text(block, 0, 5), "");
  fixture.Flush();
  EXPECT_EQ(fixture.Bytes().substr(512), BlockBytes(512, {}));
}

TEST_P(BlobFileTest, DamagedFreeListIsRefused) {
  for (const std::uint32_t head : {100u, 700u, 1536u, 4096u, 0x80000000u}) {
    TBlobFile& file = fixture.Open(FileBytes({{}, {}}, head));
    EXPECT_EQ(CodeOf([&] { file.AllocBlock(); }), ec::InvalidBlobOffset) << head;
    file.CloseFile();
  }
  // A free block linked to itself is handed out once, not again and again.
  TBlobFile& file = fixture.Open(FileBytes({{0, 512, 0, 0, 0, ""}}, 512));
  EXPECT_EQ(file.AllocBlock().Offset(), 512);
  EXPECT_EQ(file.Header().FreeBlockHead, 0u);
  EXPECT_EQ(file.AllocBlock().Offset(), 1024);
}

TEST_P(BlobFileTest, FreeingTheHeadAgainLeavesTheListAsItIs) {
  TBlobFile& file = fixture.Create();
  TBlock& block = file.AllocBlock();
  file.FreeBlock(block);
  file.FreeBlock(block);
  EXPECT_EQ(block.Next(), 0);
  EXPECT_EQ(file.AllocBlock().Offset(), 512);
  EXPECT_EQ(file.AllocBlock().Offset(), 1024);
}

TEST_P(BlobFileTest, BlockTransfersStayInsideThePayload) {
  TBlobFile& file = fixture.Create();
  TBlock& block = file.AllocBlock();
  std::vector<std::uint8_t> buffer(1000, 0);
  const struct {
    std::int32_t from;
    std::int32_t count;
  } refused[] = {{-1, 1}, {0, -1}, {0, 495}, {494, 1}, {400, 100}, {INT32_MAX, 1}, {1, INT32_MAX}};
  for (const auto& r : refused) {
    EXPECT_EQ(CodeOf([&] { block.PutData(r.from, r.count, buffer.data()); }), ec::InvalidBlobLength) << r.from;
    EXPECT_EQ(CodeOf([&] { block.GetData(r.from, r.count, buffer.data()); }), ec::InvalidBlobLength) << r.from;
  }
  block.PutData(0, 494, buffer.data());
  EXPECT_EQ(block.Used(), 494);
  block.PutData(494, 0, buffer.data());
  EXPECT_EQ(block.Used(), 494);
  Put(block, "hello");
  EXPECT_EQ(block.Used(), 5);
  // A read copies no more than the used bytes.
  EXPECT_EQ(Text(block, 0, 100), "hello");
  EXPECT_EQ(Text(block, 3, 100), "lo");
  EXPECT_EQ(Text(block, 10, 5), "");
}

TEST_P(BlobFileTest, CacheEvictsTheLeastRecentlyUsedBlockWritingItFirst) {
  BlobFileFixture big(GetParam(), 65535);  // two blocks fit the cache
  TBlobFile& file = big.Create();
  const std::int32_t a = file.AllocBlock().Offset();
  Put(file.GetBlock(a), "first");
  const std::int32_t b = file.AllocBlock().Offset();
  Put(file.GetBlock(b), "second");
  file.GetBlock(a);  // a becomes the most recently used
  const std::int32_t c = file.AllocBlock().Offset();
  EXPECT_EQ(file.BlockCacheCount(), 2u);

  // b was written when it left the cache (in memory, past the end of the file, which grew for it).
  const std::string bytes = big.Bytes();
  ASSERT_GE(bytes.size(), static_cast<std::size_t>(b) + 65535);
  EXPECT_EQ(GetLE(bytes, static_cast<std::size_t>(b) + 8, 2), 6u);
  EXPECT_EQ(bytes.substr(static_cast<std::size_t>(b) + 18, 6), "second");

  // a is still the cached copy: a change of the file underneath does not show.
  file.Seek(a + 18, 0);
  file.WriteBuffer("XXXXX", 5);
  EXPECT_EQ(Text(file.GetBlock(a), 0, 5), "first");
  EXPECT_EQ(Text(file.GetBlock(b), 0, 6), "second");
  EXPECT_EQ(file.GetBlock(c).Used(), 0);
}

TEST(BlobFileMemory, BlocksWrittenInAnyOrderPastTheEndOfAnInMemoryFile) {
  BlobFileFixture fixture(true);
  TBlobFile& file = fixture.Create();
  for (const char* text : {"one", "two", "three"}) {
    TBlock& block = file.AllocBlock();
    Put(block, text);
  }
  // The most recently used block, the last one, is written first, before the file reaches it.
  fixture.Flush();
  EXPECT_EQ(fixture.Bytes(), HeaderBytes(2, 2, 0, 2048) + BlockBytes(512, {0, 0, 3, 0, 0, "one"}) +
                                 BlockBytes(512, {0, 0, 3, 0, 0, "two"}) + BlockBytes(512, {0, 0, 5, 0, 0, "three"}));
}

TEST_P(BlobFileTest, NewBlocksReachTheFileEvenWhenUnchanged) {
  TBlobFile& file = fixture.Create();
  file.AllocBlock();
  file.AllocBlock();
  fixture.Flush();
  EXPECT_EQ(fixture.Bytes().size(), 1536u);
  file.CloseFile();
  EXPECT_EQ(fixture.Open(fixture.Bytes()).Header().EndOffset, 1536);
}

TEST_P(BlobFileTest, AnotherHandlersHeaderWriteDropsTheCache) {
  const std::string bytes = FileBytes({{0, 0, 3, 1, 3, "old"}});
  TBlobFile& reader = fixture.Open(bytes, false);
  TBlobFile writer(fixture.Owner());
  fixture.Prepare(writer, false);
  writer.OpenFile();

  EXPECT_EQ(Text(reader.GetBlock(512), 0, 3), "old");
  Put(writer.GetBlock(512), "new");
  writer.FlushBlocks(true, 0);
  writer.WriteHeader();

  EXPECT_EQ(Text(reader.GetBlock(512), 0, 3), "old") << "the cache is used until the counter is checked";
  reader.CheckHeaderChanged();
  EXPECT_EQ(reader.BlockCacheCount(), 0u);
  EXPECT_EQ(reader.Header().ChangeCounter, 8);
  EXPECT_EQ(Text(reader.GetBlock(512), 0, 3), "new");

  // Nothing changed since: the check keeps the cache.
  reader.CheckHeaderChanged();
  EXPECT_EQ(reader.BlockCacheCount(), 1u);
}

TEST_P(BlobFileTest, HeaderKnownSkipsTheChecks) {
  TBlobFile& reader = fixture.Open(FileBytes({{0, 0, 3, 1, 3, "old"}}), false);
  reader.GetBlock(512);
  reader.SetHeaderKnown(true);
  // Another writer's header, written behind this handler's back.
  reader.Seek(0, 0);
  reader.WriteBuffer(HeaderBytes(99, 2, 0, 1024).data(), 512);
  reader.CheckHeaderChanged();
  EXPECT_EQ(reader.Header().ChangeCounter, 7);
  EXPECT_EQ(reader.BlockCacheCount(), 1u);
  reader.ReadLock();
  reader.ReadUnlock();  // the end of a lock section forgets that the header was current
  EXPECT_FALSE(reader.HeaderKnown());
  reader.CheckHeaderChanged();
  EXPECT_EQ(reader.Header().ChangeCounter, 99);
}

TEST_P(BlobFileTest, AnExclusiveFileNeverRereadsItsHeader) {
  TBlobFile& file = fixture.Open(FileBytes({{}}), true);
  EXPECT_TRUE(file.HeaderKnown());
  file.Seek(0, 0);
  file.WriteBuffer(HeaderBytes(99, 2, 0, 512).data(), 512);
  file.WriteLock();
  file.WriteUnlock();
  file.ReadLock();
  file.ReadUnlock();
  EXPECT_TRUE(file.HeaderKnown());
  file.CheckHeaderChanged();
  EXPECT_EQ(file.Header().ChangeCounter, 7);
}

TEST_P(BlobFileTest, ResetFileLeavesTheBareHeader) {
  TBlobFile& file = fixture.Open(FileBytes({{0, 1024, 5, 1, 600, "hello"}, {512, 0, 5, 1, 0, "world"}, {}}, 1536));
  file.GetBlock(512).SetOwner(3);  // a dirty block must not come back
  file.ResetFile();
  EXPECT_EQ(file.Size(), 512);
  EXPECT_EQ(file.Header().EndOffset, 512);
  EXPECT_EQ(file.Header().FreeBlockHead, 0u);
  fixture.Flush();
  EXPECT_EQ(fixture.Bytes(), HeaderBytes(8, 2, 0, 512));
  EXPECT_EQ(file.AllocBlock().Offset(), 512);
}

TEST_P(BlobFileTest, RecoverFileCutsAnIncompleteTrailingBlock) {
  const struct {
    std::size_t blocks;
    std::size_t extra;
    std::int64_t size;
  } cases[] = {{2, 100, 1536}, {2, 0, 1536}, {0, 0, 512}, {0, 88, 512}, {1, 511, 1024}};
  for (const auto& c : cases) {
    std::string bytes = HeaderBytes(1, 2, 1024, 512);
    for (std::size_t i = 0; i < c.blocks; ++i) bytes += BlockBytes(512, {0, 0, 1, 1, 1, "x"});
    bytes += std::string(c.extra, 'q');
    TBlobFile& file = fixture.Open(bytes);
    file.RecoverFile();
    EXPECT_EQ(file.Size(), c.size);
    EXPECT_EQ(file.Header().EndOffset, c.size);
    EXPECT_EQ(file.Header().FreeBlockHead, 0u);
    EXPECT_EQ(file.FirstFreeBlock(), c.size);
    file.CloseFile();
  }
}

TEST_P(BlobFileTest, FreeChainFreesEveryBlockOnce) {
  const struct {
    const char* name;
    std::vector<FixtureBlock> blocks;
    std::vector<std::int32_t> allocations;  // what the free list then hands out
  } cases[] = {
      {"whole chain", {{0, 1024, 494, 1, 1000}, {512, 1536, 494, 1}, {1024, 0, 12, 1}}, {1536, 1024, 512, 2048}},
      {"cycle", {{0, 1024, 494, 1, 1000}, {512, 512, 494, 1}, {}}, {1024, 512, 2048}},
      {"link past the end", {{0, 1024, 494, 1, 1000}, {512, 9216, 494, 1}}, {1024, 512, 1536}},
      {"misaligned link", {{0, 700, 494, 1, 1000}, {}}, {512, 1536}},
  };
  for (const auto& c : cases) {
    TBlobFile& file = fixture.Open(FileBytes(c.blocks));
    std::int32_t first = 512;
    file.FreeChain(first);
    EXPECT_EQ(first, 0) << c.name;
    std::vector<std::int32_t> allocated;
    for (std::size_t i = 0; i < c.allocations.size(); ++i) allocated.push_back(file.AllocBlock().Offset());
    EXPECT_EQ(allocated, c.allocations) << c.name;
    file.CloseFile();
  }
}

TEST_P(BlobFileTest, RepairChainKeepsWhatBelongsToTheRecord) {
  constexpr std::int32_t kRecord = 5;
  const struct {
    const char* name;
    std::vector<FixtureBlock> blocks;
    std::int32_t first;
    std::int32_t firstAfter;
    std::int32_t total;                   // of the first block, when kept
    std::vector<std::int32_t> nextLinks;  // of the blocks at 512, 1024, ... afterwards
    std::uint32_t freeHead;
  } cases[] = {
      {"no blob", {{}}, 0, 0, 0, {0}, 0},
      {"offset of no block", {{}}, 700, 0, 0, {0}, 0},
      {"offset past the end", {{}}, 1024, 0, 0, {0}, 0},
      {"length not above 0 is freed", {{0, 0, 10, kRecord, 0}}, 512, 0, 0, {0}, 512},
      {"another record's block is dropped, not freed", {{0, 0, 10, 6, 10}}, 512, 0, 0, {0}, 0},
      {"single block shorter than its length", {{0, 0, 100, kRecord, 300}}, 512, 512, 100, {0}, 0},
      {"single block longer than its length", {{0, 0, 300, kRecord, 100}}, 512, 512, 100, {0}, 0},
      {"sound chain",
       {{0, 1024, 494, kRecord, 1000}, {512, 1536, 494, kRecord}, {1024, 0, 12, kRecord}},
       512,
       512,
       1000,
       {1024, 1536, 0},
       0},
      {"cut at another record's block",
       {{0, 1024, 494, kRecord, 1000}, {512, 1536, 494, kRecord}, {1024, 0, 12, 6}},
       512,
       512,
       988,
       {1024, 0, 0},
       0},
      {"cut at a link past the end",
       {{0, 1024, 494, kRecord, 5000}, {512, 9216, 100, kRecord}},
       512,
       512,
       594,
       {1024, 0},
       0},
      {"cut at a misaligned link", {{0, 777, 300, kRecord, 5000}}, 512, 512, 300, {0}, 0},
      {"cut where the chain loops",
       {{0, 1024, 494, kRecord, 5000}, {512, 512, 494, kRecord}},
       512,
       512,
       988,
       {1024, 0},
       0},
  };
  for (const auto& c : cases) {
    TBlobFile& file = fixture.Open(FileBytes(c.blocks));
    std::int32_t first = c.first;
    file.RepairChain(first, kRecord);
    EXPECT_EQ(first, c.firstAfter) << c.name;
    if (first != 0) {
      EXPECT_EQ(file.GetBlock(first).TotalLength(), c.total) << c.name;
    }
    for (std::size_t i = 0; i < c.nextLinks.size(); ++i) {
      EXPECT_EQ(file.GetBlock(static_cast<std::int32_t>(512 + 512 * i)).Next(), c.nextLinks[i]) << c.name << " " << i;
    }
    EXPECT_EQ(file.Header().FreeBlockHead, c.freeHead) << c.name;
    file.CloseFile();
  }
}

TEST_P(BlobFileTest, LocksOfExclusiveAndInMemoryFilesNeverWait) {
  TBlobFile& file = fixture.Create();
  file.WriteLock();
  file.ReadLock();
  file.ReadUnlock();
  file.WriteUnlock();
  {
    TBlobWriteLock writer(file);
    TBlobReadLock reader(file);
  }
  if (!GetParam()) return;
  // Two shared handlers of one in-memory file are in one process: nothing to exclude.
  file.CloseFile();
  TBlobFile& shared = fixture.Open(fixture.Bytes(), false);
  TBlobFile other(fixture.Owner());
  fixture.Prepare(other, false);
  other.OpenFile();
  shared.WriteLock();
  other.WriteLock();
  other.WriteUnlock();
  shared.WriteUnlock();
}

TEST(BlobFileLocks, RefusedUnlockRaises) {
  BlobFileFixture fixture(false);
  TBlobFile& file = fixture.Open(HeaderBytes(1, 2, 0, 512), false);
  EXPECT_EQ(CodeOf([&] { file.WriteUnlock(); }), ec::CannotUnlock);
  EXPECT_EQ(CodeOf([&] { file.ReadUnlock(); }), ec::CannotUnlock);
  // A second handle of this process is another holder: its writer lock shuts this one out.
  TBlobFile other(fixture.Owner());
  fixture.Prepare(other, false);
  other.OpenFile();
  file.SetLockWait({1, 3});
  other.WriteLock();
  EXPECT_EQ(CodeOf([&] { file.WriteLock(); }), ec::GeneralLockFailure);
  EXPECT_EQ(CodeOf([&] { file.ReadLock(); }), ec::GeneralLockFailure);
  other.WriteUnlock();
  {
    TBlobWriteLock held(file);
    other.SetLockWait({1, 2});
    EXPECT_EQ(CodeOf([&] { other.ReadLock(); }), ec::GeneralLockFailure);
  }
  other.ReadLock();  // the guard released the range
  other.ReadUnlock();
}

TEST(BlobFileScrambled, HeaderBlockHeaderAndPayloadAreUnitsOfTheirOwn) {
  BlobFileFixture fixture(false);
  TBlobFile& file = fixture.File();
  fixture.Prepare(file, true);
  file.SetScrambled(true);
  file.NewFile();
  TBlock& block = file.AllocBlock();
  block.SetOwner(3);
  block.SetTotalLength(6);
  Put(block, "secret");
  fixture.Flush();

  std::string bytes = fixture.Bytes();
  ASSERT_EQ(bytes.size(), 1024u);
  EXPECT_EQ(bytes.find("secret"), std::string::npos);
  auto unscramble = [&](std::size_t at, std::size_t length) {
    Unscramble(reinterpret_cast<std::uint8_t*>(bytes.data() + at), length, ContentsSeed);
  };
  unscramble(0, 512);
  unscramble(512, 18);
  unscramble(530, 494);
  EXPECT_EQ(bytes, HeaderBytes(2, 2, 0, 1024) + BlockBytes(512, {0, 0, 6, 3, 6, "secret"}));

  file.CloseFile();
  file.SetExclusive(false);
  file.OpenFile();
  EXPECT_EQ(file.Header().ChangeCounter, 2);
  EXPECT_EQ(Text(file.GetBlock(512), 0, 494), "secret");
  // The counter alone, read as the start of the header's unit, matches the copy: the cache stays.
  file.CheckHeaderChanged();
  EXPECT_EQ(file.BlockCacheCount(), 1u);
}

}  // namespace
}  // namespace kavrin::engine
