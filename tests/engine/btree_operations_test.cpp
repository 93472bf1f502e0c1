// The tree operations at the places where they change the tree's shape: the front of the index, the
// root's split and collapse, empty leaves, the free chain, and failures half-way through a change.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/byte_order.h"
#include "engine/index_file.h"
#include "engine/memory_files.h"
#include "platform/win_file.h"
#include "tests/engine/index_test_support.h"
#include "tests/helpers/file_contents.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::engine {
namespace {

using index_testing::CheckTree;
using index_testing::CodeOf;
using index_testing::IndexFixture;
using index_testing::Key;
using index_testing::MakeKey;
using index_testing::Model;

class BTreeOperationsTest : public ::testing::Test {
 protected:
  void SetUp() override { MemoryFiles().Clear(); }
  void TearDown() override {
    platform::SetFileFaultHook(nullptr);
    MemoryFiles().Clear();
  }

  // Inserts keys first .. last (by value) with record number = value.
  void Insert(TIndexFile& file, Model& model, std::uint32_t first, std::uint32_t last, std::size_t length) {
    for (std::uint32_t v = first; v <= last; ++v) {
      const Key key = MakeKey(v, length);
      file.InsertKey(key, static_cast<std::int32_t>(v));
      model.emplace(key, static_cast<std::int32_t>(v));
    }
  }

  testing::TempDir dir;
};

TEST_F(BTreeOperationsTest, KeyBelowEveryKeyBecomesTheFirstKeyOnTheWholeLeftmostPath) {
  IndexFixture fixture(dir.PathOf("T.DAT"), 20);
  Model model;
  Insert(fixture.file, model, 100, 3000, 20);
  ASSERT_GE(CheckTree(fixture.file, model).depth, 3);
  const Key lowest = MakeKey(1, 20);
  fixture.file.InsertKey(lowest, 1);
  model.emplace(lowest, 1);
  CheckTree(fixture.file, model);  // includes: every interior key equals its child's first key
  TPageRef page = fixture.file.GetRoot();
  while (!page->IsLeaf()) {
    EXPECT_EQ(Key(page->KeyAt(1), page->KeyAt(1) + 20), lowest);
    page = fixture.file.GetPage(page->RefAt(1));
  }
}

// Inserts ascending keys until the root leaf splits; returns the number of keys then in the index.
std::uint32_t FillUntilRootSplits(TIndexFile& file, Model& model, std::size_t length) {
  std::uint32_t v = 0;
  while (file.GetDescriptor(0).Root == 0 || file.GetRoot()->Type() == RootLeafPage) {
    ++v;
    file.InsertKey(MakeKey(v, length), static_cast<std::int32_t>(v));
    model.emplace(MakeKey(v, length), static_cast<std::int32_t>(v));
  }
  return v;
}

TEST_F(BTreeOperationsTest, OverflowingRootLeafMakesARootWithTwoEntries) {
  IndexFixture fixture(dir.PathOf("T.DAT"), 20);
  Model model;
  const std::uint32_t keys = FillUntilRootSplits(fixture.file, model, 20);
  EXPECT_GT(keys, static_cast<std::uint32_t>(PageEntryArea / 25));  // shared leading bytes pack tighter
  TPageRef root = fixture.file.GetRoot();
  ASSERT_EQ(root->Type(), RootInteriorPage);
  EXPECT_EQ(root->Count(), 2);
  EXPECT_EQ(root->CountAt(1) + root->CountAt(2), static_cast<std::int32_t>(keys));
  EXPECT_EQ(fixture.file.GetPage(root->RefAt(1))->Type(), LeafPage);
  root.Release();
  CheckTree(fixture.file, model);
}

TEST_F(BTreeOperationsTest, LastKeyOfAOnePageIndexFreesThePageForTheNextInsert) {
  IndexFixture fixture(dir.PathOf("T.DAT"), 8);
  const Key key = MakeKey(5, 8);
  fixture.file.InsertKey(key, 5);
  const std::int32_t page = fixture.file.GetDescriptor(0).Root;
  EXPECT_EQ(page, IndexHeaderSize);  // the first page of a new file
  fixture.file.DeleteKey(key);
  EXPECT_EQ(fixture.file.GetDescriptor(0).Root, 0);
  EXPECT_EQ(fixture.file.GetDescriptor(0).FreeChain, page);
  fixture.file.InsertKey(MakeKey(6, 8), 6);
  EXPECT_EQ(fixture.file.GetDescriptor(0).Root, page);
  EXPECT_EQ(fixture.file.GetDescriptor(0).FreeChain, 0);
  EXPECT_EQ(fixture.file.Header().EndOfFile, IndexHeaderSize + PageSize);
  EXPECT_EQ(CodeOf([&] { fixture.file.DeleteKey(MakeKey(7, 8)); }), ec::KeyNotFound);
  fixture.file.DeleteKey(MakeKey(6, 8));
  EXPECT_EQ(CodeOf([&] { fixture.file.DeleteKeyFromTree(MakeKey(6, 8)); }), ec::KeyNotFound);
}

TEST_F(BTreeOperationsTest, EmptiedLeafLeavesTheChainAndTheRootCollapsesToItsChild) {
  IndexFixture fixture(dir.PathOf("T.DAT"), 20);
  Model model;
  const std::uint32_t keys = FillUntilRootSplits(fixture.file, model, 20);  // two leaves under a root
  TPageRef root = fixture.file.GetRoot();
  const std::int32_t right = root->RefAt(2);
  const std::int32_t left = root->RefAt(1);
  const std::int32_t rootOffset = root->Offset();
  const auto rightKeys = static_cast<std::uint32_t>(root->CountAt(2));
  root.Release();
  EXPECT_EQ(fixture.file.GetPage(left)->NextOffset(), right);
  // Emptying the right leaf: out of the chain, off the parent, and the root gives way to the left leaf.
  for (std::uint32_t v = keys + 1 - rightKeys; v <= keys; ++v) {
    fixture.file.DeleteKey(MakeKey(v, 20));
    model.erase(MakeKey(v, 20));
  }
  EXPECT_EQ(fixture.file.GetDescriptor(0).Root, left);
  TPageRef leaf = fixture.file.GetRoot();
  EXPECT_EQ(leaf->Type(), RootLeafPage);
  EXPECT_EQ(leaf->NextOffset(), 0);
  leaf.Release();
  const auto shape = CheckTree(fixture.file, model);
  EXPECT_EQ(shape.freePages, 2);  // the emptied leaf and the old root
  const std::int32_t head = fixture.file.GetDescriptor(0).FreeChain;
  EXPECT_TRUE(head == right || head == rootOffset);
}

TEST_F(BTreeOperationsTest, EmptiedMiddleLeafLeavesOnlyItsOwnEntryInTheParent) {
  IndexFixture fixture(dir.PathOf("T.DAT"), 20);
  TIndexFile& file = fixture.file;
  Model model;
  Insert(file, model, 1, 200, 20);
  TPageRef root = file.GetRoot();
  ASSERT_EQ(root->Type(), RootInteriorPage);
  ASSERT_GE(root->Count(), 3);
  const std::int32_t rootOffset = root->Offset();
  const std::uint16_t entries = root->Count();
  const std::int32_t left = root->RefAt(1);
  const std::int32_t middle = root->RefAt(2);
  const std::int32_t right = root->RefAt(3);
  const std::int32_t rightCount = root->CountAt(3);
  root.Release();
  std::vector<Key> doomed;
  {
    TPageRef leaf = file.GetPage(middle);
    for (std::uint16_t i = 1; i <= leaf->Count(); ++i) doomed.emplace_back(leaf->KeyAt(i), leaf->KeyAt(i) + 20);
  }
  for (const Key& key : doomed) {
    file.DeleteKey(key);
    model.erase(key);
  }
  root = file.GetRoot();
  EXPECT_EQ(root->Offset(), rootOffset);
  EXPECT_EQ(root->Count(), entries - 1);
  EXPECT_EQ(root->RefAt(2), right);
  EXPECT_EQ(root->CountAt(2), rightCount);
  root.Release();
  EXPECT_EQ(file.GetPage(left)->NextOffset(), right);
  EXPECT_EQ(file.GetPage(right)->PreviousOffset(), left);
  EXPECT_EQ(file.GetDescriptor(0).FreeChain, middle);
  CheckTree(file, model);
}

TEST_F(BTreeOperationsTest, RootOfLongKeysStaysWithOneChild) {
  // Interior pages of 244-byte keys hold 3 entries: a root with one child is kept, never merged away.
  IndexFixture fixture(dir.PathOf("T.DAT"), 244);
  Model model;
  Insert(fixture.file, model, 1, 60, 244);
  for (std::uint32_t v = 1; v <= 57; ++v) {
    fixture.file.DeleteKey(MakeKey(v, 244));
    model.erase(MakeKey(v, 244));
    CheckTree(fixture.file, model);
    ASSERT_FALSE(HasFailure()) << "after deleting " << v;
  }
  EXPECT_EQ(fixture.file.GetRoot()->TotalCount(), 3);
}

TEST_F(BTreeOperationsTest, DuplicateKeyIsRefusedWithoutChangingTheTree) {
  IndexFixture fixture(dir.PathOf("T.DAT"), 12);
  Model model;
  Insert(fixture.file, model, 1, 500, 12);
  EXPECT_EQ(CodeOf([&] { fixture.file.InsertKey(MakeKey(250, 12), 9999); }), ec::KeyViolation);
  EXPECT_EQ(CodeOf([&] { fixture.file.CheckKeyViolation(MakeKey(250, 12)); }), ec::KeyViolation);
  EXPECT_EQ(CodeOf([&] { fixture.file.CheckKeyViolation(MakeKey(501, 12)); }), 0);
  CheckTree(fixture.file, model);
}

TEST_F(BTreeOperationsTest, ReplaceKeyMovesTheRecordOrFailsWhenTheOldKeyIsMissing) {
  IndexFixture fixture(dir.PathOf("T.DAT"), 12);
  Model model;
  Insert(fixture.file, model, 1, 300, 12);
  fixture.file.ReplaceKey(MakeKey(10, 12), MakeKey(1000, 12), 10);
  model.erase(MakeKey(10, 12));
  model.emplace(MakeKey(1000, 12), 10);
  CheckTree(fixture.file, model);
  EXPECT_EQ(CodeOf([&] { fixture.file.ReplaceKey(MakeKey(10, 12), MakeKey(1001, 12), 10); }), ec::KeyNotFound);
  EXPECT_FALSE(fixture.file.KeyExists(MakeKey(1001, 12)));
}

TEST_F(BTreeOperationsTest, FailedReadHalfWayThroughAnInsertPutsEveryPageBack) {
  IndexFixture fixture(dir.PathOf("T.DAT"), 20, false, /*inMemory=*/false);
  TIndexFile& file = fixture.file;
  Model model;
  Insert(file, model, 1, 2000, 20);
  for (std::uint32_t v = 1; v <= 30; ++v) {  // empties the first leaf: one page on the free chain
    file.DeleteKey(MakeKey(v, 20));
    model.erase(MakeKey(v, 20));
  }
  ASSERT_NE(file.GetDescriptor(0).FreeChain, 0);
  // Fill the last leaf, so that the next key splits it and takes the free page.
  std::uint32_t next = 2001;
  auto lastLeafCount = [&] {
    TPageRef page = file.GetRoot();
    while (!page->IsLeaf()) page = file.GetPage(page->RefAt(page->Count()));
    return page->Count();
  };
  while (lastLeafCount() < PageEntryArea / 25) Insert(file, model, next, next, 20), ++next;
  const auto shape = CheckTree(file, model);
  file.FlushPages();
  file.ClearPageCache();
  const TIndexFileHeader before = file.Header();
  // Reads: the path down, then the free page that the split allocates.
  int reads = 0;
  platform::SetFileFaultHook([&](platform::FileOp op, const std::string&) -> platform::DWORD {
    return op == platform::FileOp::Read && ++reads == shape.depth + 1 ? platform::ERROR_GEN_FAILURE : 0;
  });
  EXPECT_EQ(CodeOf([&] { file.InsertKey(MakeKey(next, 20), static_cast<std::int32_t>(next)); }), ec::ReadError);
  platform::SetFileFaultHook(nullptr);
  EXPECT_EQ(reads, shape.depth + 1);
  EXPECT_EQ(file.Header().EndOfFile, before.EndOfFile);
  EXPECT_EQ(file.GetDescriptor(0).FreeChain, before.Descriptors[0].FreeChain);
  CheckTree(file, model);  // counts raised on the way down and the leaf's new entry are gone
  file.InsertKey(MakeKey(next, 20), static_cast<std::int32_t>(next));
  model.emplace(MakeKey(next, 20), static_cast<std::int32_t>(next));
  CheckTree(file, model);
}

TEST_F(BTreeOperationsTest, FileThatWouldPassItsLastAddressablePageRefusesToGrow) {
  const std::string path = dir.PathOf("T.IDX");
  {
    IndexFixture fixture(path, 200, false, /*inMemory=*/false);
    Model model;
    Insert(fixture.file, model, 1, 4, 200);  // a full root leaf
    fixture.file.FlushPages();
    fixture.file.WriteHeader();
  }
  // The file claims to end at its limit already: the split needs a page it cannot have.
  std::string bytes = testing::ReadWholeFile(path);
  StoreI32(reinterpret_cast<std::uint8_t*>(bytes.data()) + 9, MaxIndexFileEnd);
  testing::WriteWholeFile(path, bytes);
  index_testing::TestOwner owner;
  TIndexFile file(owner);
  file.SetFileName(path);
  file.SetExclusive(true);
  file.OpenFile();
  EXPECT_EQ(CodeOf([&] { file.InsertKey(MakeKey(5, 200), 5); }), ec::WriteError);
  EXPECT_EQ(file.Header().EndOfFile, MaxIndexFileEnd);
  EXPECT_EQ(file.GetRoot()->Count(), 4);  // the key that did not fit is gone again
  EXPECT_TRUE(file.KeyExists(MakeKey(4, 200)));
  EXPECT_FALSE(file.KeyExists(MakeKey(5, 200)));
}

}  // namespace
}  // namespace kavrin::engine
