#include "tests/engine/index_test_support.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace kavrin::engine::index_testing {
namespace {

struct Walk {
  TIndexFile& file;
  bool descending;
  int leafDepth = -1;
  std::vector<std::vector<std::int32_t>> levels;  // page offsets of each level, left to right
  std::set<std::int32_t> pages;
  std::vector<std::pair<Key, std::int32_t>> keys;
  bool failed = false;

  Walk(TIndexFile& f, bool d) : file(f), descending(d) {}

  // Returns the subtree's key count; firstKey receives its first key.
  std::int64_t Visit(std::int32_t offset, int depth, bool isRoot, bool onlyChild, Key& firstKey) {
    if (!pages.insert(offset).second) {
      ADD_FAILURE() << "page " << offset << " reached twice";
      failed = true;
      return 0;
    }
    if (static_cast<int>(levels.size()) <= depth) levels.resize(depth + 1);
    levels[depth].push_back(offset);
    TPageRef page = file.GetPage(offset);
    const std::size_t length = page->KeyLength();
    EXPECT_GT(page->Count(), 0) << "page " << offset << " without entries";
    EXPECT_EQ(page->IsRoot(), isRoot) << "page " << offset << " type " << int(page->Type());
    if (page->Count() == 0) {
      failed = true;
      return 0;
    }
    firstKey.assign(page->KeyAt(1), page->KeyAt(1) + length);
    for (std::uint16_t i = 2; i <= page->Count(); ++i) {
      if (CompareIndexKeys(page->KeyAt(i - 1), page->KeyAt(i), descending ? 1 : 0, length) >= 0) {
        ADD_FAILURE() << "keys out of order in page " << offset;
        failed = true;
      }
    }
    if (page->IsLeaf()) {
      if (leafDepth < 0) leafDepth = depth;
      EXPECT_EQ(depth, leafDepth) << "leaf " << offset << " on another level";
      EXPECT_LE(page->Used(), PageEntryArea);
      TPage recomputed = *page;
      recomputed.ComputeUsed();
      EXPECT_EQ(recomputed.Used(), page->Used()) << "stale used size in leaf " << offset;
      for (std::uint16_t i = 1; i <= page->Count(); ++i) {
        EXPECT_EQ(recomputed.PrefixAt(i), page->PrefixAt(i));
        keys.emplace_back(Key(page->KeyAt(i), page->KeyAt(i) + length), page->RefAt(i));
      }
      return page->Count();
    }
    EXPECT_LE(page->Count(), page->Capacity());
    if (isRoot) {
      EXPECT_GE(page->Count(), page->Capacity() / 2 > 1 ? 2 : 1) << "root left with one child";
    } else if (!onlyChild) {
      EXPECT_GE(page->Count(), std::max(1, page->Capacity() / 2)) << "underfull interior page " << offset;
    }
    std::int64_t total = 0;
    for (std::uint16_t i = 1; i <= page->Count(); ++i) {
      Key childFirst;
      const std::int64_t below = Visit(page->RefAt(i), depth + 1, false, page->Count() == 1, childFirst);
      EXPECT_EQ(below, page->CountAt(i)) << "subtree count of entry " << i << " in page " << offset;
      EXPECT_TRUE(std::equal(childFirst.begin(), childFirst.end(), page->KeyAt(i)))
          << "entry " << i << " of page " << offset << " is not its child's first key";
      total += below;
    }
    return total;
  }
};

}  // namespace

TreeShape CheckTree(TIndexFile& file, const Model& model, bool onlyIndexInFile) {
  TreeShape shape;
  const TIndexDescriptor descriptor = file.GetDescriptor(file.CurrentIndex());
  Walk walk(file, descriptor.Descending == 1);
  if (descriptor.Root == 0) {
    EXPECT_TRUE(model.empty()) << "empty tree, " << model.size() << " keys expected";
  } else {
    Key first;
    const std::int64_t total = walk.Visit(descriptor.Root, 0, true, false, first);
    EXPECT_EQ(total, static_cast<std::int64_t>(model.size()));
    shape.depth = walk.leafDepth + 1;
  }
  // Each level is one chain, left to right, in the order the tree reaches its pages.
  for (const auto& level : walk.levels) {
    for (std::size_t i = 0; i < level.size(); ++i) {
      TPageRef page = file.GetPage(level[i]);
      EXPECT_EQ(page->PreviousOffset(), i == 0 ? 0 : level[i - 1]) << "previous link of page " << level[i];
      EXPECT_EQ(page->NextOffset(), i + 1 == level.size() ? 0 : level[i + 1]) << "next link of page " << level[i];
    }
  }
  if (!walk.levels.empty()) shape.leaves = static_cast<std::int64_t>(walk.levels.back().size());
  // The leaves hold the model's keys and records, in order.
  EXPECT_EQ(walk.keys.size(), model.size());
  auto expected = model.begin();
  for (std::size_t i = 0; i < walk.keys.size() && expected != model.end(); ++i, ++expected) {
    if (walk.keys[i].first != expected->first || walk.keys[i].second != expected->second) {
      ADD_FAILURE() << "key " << i << " differs from the model";
      break;
    }
  }
  // Free pages: on the chain once, never in the tree.
  std::set<std::int32_t> freePages;
  for (std::int32_t offset = descriptor.FreeChain; offset != 0;) {
    if (walk.pages.count(offset) || !freePages.insert(offset).second) {
      ADD_FAILURE() << "free page " << offset << " is in the tree or on the chain twice";
      break;
    }
    TPageRef page = file.GetPage(offset);
    offset = page->NextOffset();
  }
  shape.pages = static_cast<std::int64_t>(walk.pages.size());
  shape.freePages = static_cast<std::int64_t>(freePages.size());
  if (onlyIndexInFile) {
    const std::int64_t inFile = (file.Header().EndOfFile - IndexHeaderSize) / PageSize;
    EXPECT_EQ(shape.pages + shape.freePages, inFile) << "pages neither reachable nor free";
  }
  return shape;
}

}  // namespace kavrin::engine::index_testing
