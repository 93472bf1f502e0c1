// The B+-tree of one index: searches within a page, and the tree insert and delete that keep all
// leaves on one level, interior keys equal to their children's first keys and subtree counts exact.
//
// Every tree operation walks down once and keeps the pages of its way pinned in an explicit path
// (page, entry leading to the child), and walks back up that path; nothing relies on what a cached
// page remembers about its parent.
#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "engine/byte_order.h"
#include "engine/engine_error.h"
#include "engine/index_file.h"
#include "engine/record_bitmap.h"

namespace kavrin::engine {
namespace {

// Far deeper than any tree a 2 GiB file can hold; a deeper descent is a cycle in a damaged file.
constexpr std::size_t MaxTreeDepth = 64;

}  // namespace

// ---- Searches within a page ----

std::uint16_t TPage::UpperBound(const std::uint8_t* key) const {
  std::uint16_t low = 1;
  std::uint16_t high = static_cast<std::uint16_t>(count_ + 1);
  while (low < high) {
    const auto middle = static_cast<std::uint16_t>(low + (high - low) / 2);
    if (Compare(KeyAt(middle), key) > 0) {
      high = middle;
    } else {
      low = static_cast<std::uint16_t>(middle + 1);
    }
  }
  return low;
}

std::uint16_t TPage::LowerBound(const std::uint8_t* key) const {
  std::uint16_t low = 1;
  std::uint16_t high = static_cast<std::uint16_t>(count_ + 1);
  while (low < high) {
    const auto middle = static_cast<std::uint16_t>(low + (high - low) / 2);
    if (Compare(KeyAt(middle), key) >= 0) {
      high = middle;
    } else {
      low = static_cast<std::uint16_t>(middle + 1);
    }
  }
  return low;
}

std::int64_t TPage::CountBefore(std::uint16_t entry) const {
  if (IsLeaf()) return entry > 0 ? entry - 1 : 0;
  // An empty page (a damaged file may hold one) has no entries to point into.
  if (entry <= 1 || count_ == 0) return 0;
  // Straight over the count fields: every counting descent adds up an interior page at each level.
  const std::size_t size = EntrySize();
  const std::uint8_t* count = entries_.data() + keyLength_ + 4;
  std::int64_t total = 0;
  for (std::uint16_t i = 1; i < entry; ++i, count += size) total += LoadI32(count);
  return total;
}

void TPage::InsertEntry(const std::uint8_t* key) {
  const std::size_t size = EntrySize();
  const auto at = static_cast<std::uint16_t>(current_ + 1);
  const std::size_t bytes = (static_cast<std::size_t>(count_) + 1) * size;
  if (bytes > entries_.capacity()) {
    entries_.reserve((bytes / PageEntryArea + 1) * static_cast<std::size_t>(PageEntryArea));
  }
  entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>((at - 1) * size), size, 0);
  ++count_;
  current_ = at;
  std::memcpy(Entry(at), key, keyLength_);
  dirty_ = true;
}

void TPage::RemoveEntry() {
  DropEntries(current_, 1);
  if (current_ > count_) current_ = count_;
}

bool TPage::SearchExact(const std::uint8_t* key) {
  if (!IsLeaf()) {
    current_ = std::max<std::uint16_t>(1, static_cast<std::uint16_t>(UpperBound(key) - 1));
    return false;
  }
  const std::uint16_t at = LowerBound(key);
  current_ = std::min(at, count_);
  return at <= count_ && Compare(KeyAt(at), key) == 0;
}

void TPage::SearchInsert(const std::uint8_t* key) { current_ = static_cast<std::uint16_t>(UpperBound(key) - 1); }

void TPage::SearchDelete(const std::uint8_t* key) {
  current_ = std::max<std::uint16_t>(1, static_cast<std::uint16_t>(UpperBound(key) - 1));
}

bool TPage::SearchCounting(const std::uint8_t* key, std::int64_t& position, bool nearest) {
  bool exact = false;
  if (!IsLeaf()) {
    current_ = std::max<std::uint16_t>(1, static_cast<std::uint16_t>(UpperBound(key) - 1));
  } else {
    const std::uint16_t at = LowerBound(key);
    if (at <= count_ && Compare(KeyAt(at), key) == 0) {
      current_ = at;
      exact = true;
    } else if (at > count_) {
      current_ = count_;
    } else if (nearest) {
      current_ = at;
    } else {
      current_ = at > 1 ? static_cast<std::uint16_t>(at - 1) : 1;
    }
  }
  position += CountBefore(current_);
  return exact;
}

void TPage::SeekLowCounting(const std::uint8_t* key, std::int64_t& position) {
  if (IsLeaf()) {
    current_ = std::min(LowerBound(key), count_);
  } else {
    current_ = std::max<std::uint16_t>(1, static_cast<std::uint16_t>(UpperBound(key) - 1));
  }
  position += CountBefore(current_);
}

void TPage::SeekHighCounting(const std::uint8_t* key, std::int64_t& position) {
  current_ = std::max<std::uint16_t>(1, static_cast<std::uint16_t>(UpperBound(key) - 1));
  position += CountBefore(current_);
}

void TPage::CountToLast(std::int64_t& position) {
  current_ = count_;
  position += CountBefore(current_);
}

bool TPage::MarkRunToHigh(const std::uint8_t* high, TRecordBitmap& bitmap) {
  for (std::uint16_t i = current_; i <= count_; ++i) {
    if (Compare(KeyAt(i), high) > 0) {
      current_ = i;
      return false;
    }
    bitmap.Set(RefAt(i));
  }
  current_ = count_;
  return true;
}

// ---- Descents ----

TPageRef TIndexFile::FetchChild(const TPage& parent, std::uint16_t entry, std::size_t depth) {
  if (depth + 1 >= MaxTreeDepth || entry < 1 || entry > parent.Count()) Corrupt();
  TPageRef child = GetPage(parent.RefAt(entry));
  if (child->IsRoot() || child->Count() == 0) Corrupt();
  return child;
}

TPageRef TIndexFile::DescendTo(const std::uint8_t* key, TDescent how, std::int64_t* position, bool nearest, bool* exact,
                               TTreePath* path) {
  const std::int32_t root = header_.Descriptors[currentIndex_].Root;
  if (root == 0) return {};
  std::int64_t ignored = 1;
  std::int64_t& counted = position ? *position : ignored;
  bool found = false;
  TPageRef page = GetPage(root);
  if (!page->IsRoot() || page->Count() == 0) Corrupt();
  for (std::size_t depth = 0;; ++depth) {
    TPage& p = *page;
    switch (how) {
      case TDescent::Exact: found = p.SearchExact(key); break;
      case TDescent::Insert:
        p.SearchInsert(key);
        // A key below every key of the page still belongs to the first child.
        if (!p.IsLeaf() && p.Current() == 0) p.SetCurrent(1);
        break;
      case TDescent::Delete: p.SearchDelete(key); break;
      case TDescent::Counting: found = p.SearchCounting(key, counted, nearest); break;
      case TDescent::SeekLow: p.SeekLowCounting(key, counted); break;
      case TDescent::SeekHigh: p.SeekHighCounting(key, counted); break;
      case TDescent::First: p.First(); break;
      case TDescent::Last: p.CountToLast(counted); break;
    }
    if (p.IsLeaf()) {
      if (exact) *exact = found;
      if (path) path->push_back({TPageRef(page.Get()), p.Current()});
      return page;
    }
    const std::uint16_t entry = p.Current();
    TPageRef child = FetchChild(p, entry, depth);
    if (path) path->push_back({std::move(page), entry});
    page = std::move(child);
  }
}

std::int32_t TIndexFile::Total(const TPage& page) const {
  const std::int64_t total = page.TotalCount();
  if (total > std::numeric_limits<std::int32_t>::max()) Corrupt();
  return static_cast<std::int32_t>(total);
}

bool TIndexFile::KeyExists(std::span<const std::uint8_t> key) {
  RequireKey(key);
  TOperation op(*this, false);
  bool exact = false;
  {
    TPageRef leaf = DescendTo(key.data(), TDescent::Exact, nullptr, false, &exact, nullptr);
    if (!leaf) exact = false;
  }
  op.Finish();
  return exact;
}

std::int32_t TIndexFile::KeyRecordNumber(std::span<const std::uint8_t> key) {
  RequireKey(key);
  TOperation op(*this, false);
  std::int32_t record = 0;
  {
    bool exact = false;
    TPageRef leaf = DescendTo(key.data(), TDescent::Exact, nullptr, false, &exact, nullptr);
    if (leaf && exact) record = leaf->CurrentRef();
  }
  op.Finish();
  return record;
}

// ---- Insert ----

bool TIndexFile::PlaceOnInsertedKey(std::span<const std::uint8_t> key, std::int32_t recordNumber) {
  RequireKey(key);
  if (!inserted_.Valid || inserted_.Index != currentIndex_ || filtersActive_ || rangeActive_ ||
      (callback_ && callbackActive_) || bof_ || eof_ || RangeRecordCount() == 0 || inserted_.Position < 1 ||
      inserted_.Position > RangeRecordCount()) {
    return false;
  }
  TOperation op(*this, false);
  bool placed = false;
  {
    // The search's descent takes these pages in this order and leaves each on the entry it took.
    TPageRef page;
    for (std::size_t level = 0; level < inserted_.Depth; ++level) {
      page = GetPage(inserted_.Pages[level]);
      if (page->Count() < inserted_.Entries[level] || inserted_.Entries[level] < 1) break;
      page->SetCurrent(inserted_.Entries[level]);
      if (level + 1 == inserted_.Depth) {
        placed = page->IsLeaf() &&
                 CompareKeys(page->KeyAt(page->Current()), key.data(), descending_, keyLength_) == 0 &&
                 page->CurrentRef() == recordNumber;
        if (placed) PlaceCursor(*page, inserted_.Position);
      }
    }
  }
  if (placed) bof_ = eof_ = false;
  op.Finish();
  return placed;
}

void TIndexFile::InsertKeyInTree(std::span<const std::uint8_t> key, std::int32_t recordNumber) {
  RequireKey(key);
  if (recordNumber < 1) RaiseEngineError(ec::RecordNotFound, FileName());
  if (inserted_.Index == currentIndex_) inserted_.Valid = false;
  TOperation op(*this, true);
  {
    TIndexDescriptor& descriptor = header_.Descriptors[currentIndex_];
    if (descriptor.Root == 0) {
      TPageRef page = AllocatePage();
      page->SetType(RootLeafPage);
      page->SetCurrent(0);
      page->InsertEntry(key.data());
      page->SetCurrentRef(recordNumber);
      page->ComputeUsed();
      descriptor.Root = page->Offset();
    } else {
      TTreePath path = TakePath();
      DescendTo(key.data(), TDescent::Insert, nullptr, false, nullptr, &path);
      TPage& leaf = *path.back().Page;
      const std::uint16_t at = path.back().Entry;
      if (at >= 1 && CompareKeys(leaf.KeyAt(at), key.data(), descending_, keyLength_) == 0) {
        RaiseEngineError(ec::KeyViolation, FileName());
      }
      for (std::size_t level = 0; level + 1 < path.size(); ++level) {
        TPage& page = *path[level].Page;
        page.SetCountAt(path[level].Entry, page.CountAt(path[level].Entry) + 1);
      }
      const std::uint16_t leafCount = leaf.Count();
      InsertAfterCurrent(path, path.size() - 1, key.data(), recordNumber, 0);
      // Without a split every page of the path still leads to the key.
      if (currentIndex_ == inserted_.Index && leaf.Count() == leafCount + 1 && path.size() <= inserted_.Pages.size()) {
        std::int64_t position = 1;
        for (std::size_t level = 0; level < path.size(); ++level) {
          inserted_.Pages[level] = path[level].Page->Offset();
          inserted_.Entries[level] = path[level].Entry;
          position += path[level].Page->CountBefore(path[level].Entry);
        }
        inserted_.Position = position;
        inserted_.Depth = path.size();
        inserted_.Valid = true;
      }
      GivePath(path);
    }
  }
  op.Finish();
}

void TIndexFile::InsertAfterCurrent(TTreePath& path, std::size_t level, const std::uint8_t* key, std::int32_t ref,
                                    std::int32_t count) {
  TPage& page = *path[level].Page;
  page.SetCurrent(path[level].Entry);
  page.InsertEntry(key);
  page.SetCurrentRef(ref);
  page.SetCurrentCount(count);
  page.ComputeUsedAfterInsert();
  path[level].Entry = page.Current();
  if (page.Current() == 1) PropagateFirstKey(path, level);
  if (!page.Overfull()) return;

  TPageRef right = AllocatePage();
  Split(page, *right);
  if (level > 0) {
    TPage& parent = *path[level - 1].Page;
    parent.SetCountAt(path[level - 1].Entry, Total(page));
    InsertAfterCurrent(path, level - 1, right->KeyAt(1), right->Offset(), Total(*right));
    return;
  }
  TPageRef root = AllocatePage();
  root->SetType(RootInteriorPage);
  root->SetCurrent(0);
  root->InsertEntry(page.KeyAt(1));
  root->SetCurrentRef(page.Offset());
  root->SetCurrentCount(Total(page));
  root->InsertEntry(right->KeyAt(1));
  root->SetCurrentRef(right->Offset());
  root->SetCurrentCount(Total(*right));
  header_.Descriptors[currentIndex_].Root = root->Offset();
}

void TIndexFile::PropagateFirstKey(TTreePath& path, std::size_t level) {
  const std::uint8_t* key = path[level].Page->KeyAt(1);
  while (level > 0 && path[level].Entry == 1) {
    TPathStep& parent = path[level - 1];
    parent.Page->SetKeyAt(parent.Entry, key);
    --level;
  }
}

void TIndexFile::Split(TPage& page, TPage& right) {
  const std::uint16_t n = page.Count();
  const auto moved = static_cast<std::uint16_t>(n / 2);
  right.TakeEntries(page, static_cast<std::uint16_t>(n - moved + 1), moved, 1);
  page.DropEntries(static_cast<std::uint16_t>(n - moved + 1), moved);
  const std::uint8_t type = page.IsLeaf() ? LeafPage : InteriorPage;
  page.SetType(type);
  right.SetType(type);
  right.SetPrevious(page.Offset());
  right.SetNext(page.NextOffset());
  if (page.NextOffset() != 0) {
    TPageRef after = GetPage(page.NextOffset());
    after->SetPrevious(right.Offset());
  }
  page.SetNext(right.Offset());
  page.SetDirty(true);
  right.SetDirty(true);
  page.ComputeUsed();
  right.ComputeUsed();
  if (!page.IsLeaf()) return;
  // Leaves split by compressed size: a half of long unshared keys may still not fit.
  if (page.Used() > PageEntryArea) {
    while (page.Used() > PageEntryArea && page.Count() > 1) {
      right.TakeEntries(page, page.Count(), 1, 1);
      page.DropEntries(page.Count(), 1);
      page.ComputeUsed();
    }
    right.ComputeUsed();
    if (right.Used() > PageEntryArea) Corrupt();
  } else {
    while (right.Used() > PageEntryArea && right.Count() > 1) {
      page.TakeEntries(right, 1, 1, static_cast<std::uint16_t>(page.Count() + 1));
      right.DropEntries(1, 1);
      right.ComputeUsed();
    }
    page.ComputeUsed();
    if (page.Used() > PageEntryArea) Corrupt();
  }
}

// ---- Delete ----

void TIndexFile::DeleteKeyFromTree(std::span<const std::uint8_t> key) {
  RequireKey(key);
  if (inserted_.Index == currentIndex_) inserted_.Valid = false;
  if (header_.Descriptors[currentIndex_].Root == 0) RaiseEngineError(ec::KeyNotFound, FileName());
  TOperation op(*this, true);
  {
    TTreePath path = TakePath();
    DescendTo(key.data(), TDescent::Delete, nullptr, false, nullptr, &path);
    const TPathStep& leaf = path.back();
    if (CompareKeys(leaf.Page->KeyAt(leaf.Entry), key.data(), descending_, keyLength_) != 0) {
      RaiseEngineError(ec::KeyNotFound, FileName());
    }
    for (std::size_t level = 0; level + 1 < path.size(); ++level) {
      TPage& page = *path[level].Page;
      page.SetCountAt(path[level].Entry, page.CountAt(path[level].Entry) - 1);
    }
    Rebalance(path, path.size() - 1);
    GivePath(path);
  }
  op.Finish();
}

void TIndexFile::Unlink(TPage& page) {
  if (page.PreviousOffset() != 0) {
    TPageRef before = GetPage(page.PreviousOffset());
    if (before->NextOffset() != page.Offset()) Corrupt();
    before->SetNext(page.NextOffset());
  }
  if (page.NextOffset() != 0) {
    TPageRef after = GetPage(page.NextOffset());
    if (after->PreviousOffset() != page.Offset()) Corrupt();
    after->SetPrevious(page.PreviousOffset());
  }
  page.SetPrevious(0);
  page.SetNext(0);
}

// The page beside this one under the same parent: never a cousin reached through the level chain.
TPageRef TIndexFile::SiblingFor(TTreePath& path, std::size_t level, bool right) {
  const TPathStep& parent = path[level - 1];
  const TPage& page = *path[level].Page;
  const auto entry = static_cast<std::uint16_t>(right ? parent.Entry + 1 : parent.Entry - 1);
  TPageRef sibling = FetchChild(*parent.Page, entry, level);
  const bool adjacent = right ? (sibling->PreviousOffset() == page.Offset() && page.NextOffset() == sibling->Offset())
                              : (sibling->NextOffset() == page.Offset() && page.PreviousOffset() == sibling->Offset());
  if (!adjacent || sibling->IsLeaf() != page.IsLeaf()) Corrupt();
  return sibling;
}

void TIndexFile::Rebalance(TTreePath& path, std::size_t level) {
  TPage& page = *path[level].Page;
  page.SetCurrent(path[level].Entry);
  page.RemoveEntry();
  page.ComputeUsed();
  if (page.Count() > 0 && path[level].Entry == 1) PropagateFirstKey(path, level);

  if (level == 0) {
    TIndexDescriptor& descriptor = header_.Descriptors[currentIndex_];
    if (page.Count() == 0) {
      ReleasePage(page);
      descriptor.Root = 0;
    } else if (!page.IsLeaf() && page.Count() == 1 && page.Capacity() / 2 > 1) {
      TPageRef child = FetchChild(page, 1, 0);
      ReleasePage(page);
      child->SetType(child->IsLeaf() ? RootLeafPage : RootInteriorPage);
      child->SetPrevious(0);
      child->SetNext(0);
      descriptor.Root = child->Offset();
    }
    return;
  }

  // A page left without entries leaves the tree, leaf or interior alike.
  if (page.Count() == 0) {
    Unlink(page);
    ReleasePage(page);
    Rebalance(path, level - 1);
    return;
  }
  if (page.IsLeaf() || page.Count() >= page.Capacity() / 2) return;

  TPathStep& parentStep = path[level - 1];
  TPage& parent = *parentStep.Page;
  if (parent.Count() < 2) return;  // an only child stays underfull
  const bool withRight = parentStep.Entry == 1;
  TPageRef sibling = SiblingFor(path, level, withRight);
  TPage& left = withRight ? page : *sibling;
  TPage& right = withRight ? *sibling : page;
  const auto leftEntry = static_cast<std::uint16_t>(withRight ? parentStep.Entry : parentStep.Entry - 1);
  const auto rightEntry = static_cast<std::uint16_t>(leftEntry + 1);

  if (page.Count() + sibling->Count() < page.Capacity()) {
    // Merge into the sibling; the page goes.
    if (withRight) {
      right.TakeEntries(left, 1, left.Count(), 1);
      left.DropEntries(1, left.Count());
      Unlink(left);
      ReleasePage(left);
      parent.SetKeyAt(rightEntry, right.KeyAt(1));
      parent.SetCountAt(rightEntry, Total(right));
    } else {
      left.TakeEntries(right, 1, right.Count(), static_cast<std::uint16_t>(left.Count() + 1));
      right.DropEntries(1, right.Count());
      Unlink(right);
      ReleasePage(right);
      parent.SetCountAt(leftEntry, Total(left));
    }
    sibling.Release();
    Rebalance(path, level - 1);
    return;
  }

  // Redistribute: the underflowing page receives total div 2 entries, the left one keeps the lead.
  const int total = left.Count() + right.Count();
  const int leftWants = withRight ? total / 2 : total - total / 2;
  if (left.Count() < leftWants) {
    const auto n = static_cast<std::uint16_t>(leftWants - left.Count());
    left.TakeEntries(right, 1, n, static_cast<std::uint16_t>(left.Count() + 1));
    right.DropEntries(1, n);
  } else if (left.Count() > leftWants) {
    const auto n = static_cast<std::uint16_t>(left.Count() - leftWants);
    right.TakeEntries(left, static_cast<std::uint16_t>(left.Count() - n + 1), n, 1);
    left.DropEntries(static_cast<std::uint16_t>(left.Count() - n + 1), n);
  }
  parent.SetKeyAt(rightEntry, right.KeyAt(1));
  parent.SetCountAt(rightEntry, Total(right));
  parent.SetCountAt(leftEntry, Total(left));
}

}  // namespace kavrin::engine
