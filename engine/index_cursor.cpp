// The key cursor of TIndexFile: navigation over the acceptable keys of the current index, ranges,
// ordinal positions from the subtree counts, and the key counting and marking that filters use.
//
// A key is acceptable when, with filters active, its record's bit is set and the record callback
// accepts it; with a range and no filters, when it lies inside the range and the callback accepts it;
// otherwise when the callback accepts it. The bitmap already leaves out what lies outside the range.
#include <algorithm>
#include <cstring>
#include <limits>

#include "engine/engine_error.h"
#include "engine/index_file.h"

namespace kavrin::engine {

// One operation may walk the leaf chain a few times (forward to the end and back again, to both ends
// and then to a position); more steps than that many walks over every page mean a cycle.
constexpr std::int64_t kWalksPerOperation = 4;

// ---- Places in the leaves ----

TPageRef TIndexFile::SpotPage(const TSpot& spot) {
  TPageRef page = GetPage(spot.Page);
  if (!page->IsLeaf() || spot.Entry < 1 || spot.Entry > page->Count()) Corrupt();
  return page;
}

std::vector<std::uint8_t> TIndexFile::SpotKey(const TSpot& spot) {
  TPageRef page = SpotPage(spot);
  const std::uint8_t* key = page->KeyAt(spot.Entry);
  return std::vector<std::uint8_t>(key, key + keyLength_);
}

std::int32_t TIndexFile::SpotRecord(const TSpot& spot) { return SpotPage(spot)->RefAt(spot.Entry); }

int TIndexFile::CompareSpot(const TSpot& spot, const std::uint8_t* key) {
  TPageRef page = SpotPage(spot);
  return CompareKeys(page->KeyAt(spot.Entry), key, descending_, keyLength_);
}

bool TIndexFile::StepForward(TSpot& spot) {
  TPageRef page = SpotPage(spot);
  if (spot.Entry < page->Count()) {
    ++spot.Entry;
    ++spot.Position;
    return true;
  }
  const std::int32_t next = page->NextOffset();
  if (next == 0) return false;
  // More page steps than the file has pages: the level chain runs in a circle.
  if (++leafSteps_ > kWalksPerOperation * PageCountLimit()) Corrupt();
  TPageRef after = GetPage(next);
  if (!after->IsLeaf() || after->Count() == 0 || after->PreviousOffset() != spot.Page) Corrupt();
  spot.Page = next;
  spot.Entry = 1;
  ++spot.Position;
  return true;
}

bool TIndexFile::StepBackward(TSpot& spot) {
  TPageRef page = SpotPage(spot);
  if (spot.Entry > 1) {
    --spot.Entry;
    --spot.Position;
    return true;
  }
  const std::int32_t previous = page->PreviousOffset();
  if (previous == 0) return false;
  if (++leafSteps_ > kWalksPerOperation * PageCountLimit()) Corrupt();
  TPageRef before = GetPage(previous);
  if (!before->IsLeaf() || before->Count() == 0 || before->NextOffset() != spot.Page) Corrupt();
  spot.Page = previous;
  spot.Entry = before->Count();
  --spot.Position;
  return true;
}

bool TIndexFile::CursorForward() {
  if (!StepForward(cursor_)) return false;
  if (filteredPosition_ >= 0 && BitTest(SpotRecord(cursor_))) ++filteredPosition_;
  return true;
}

bool TIndexFile::CursorBackward() {
  const std::int32_t leaving = filteredPosition_ >= 0 ? SpotRecord(cursor_) : 0;
  if (!StepBackward(cursor_)) return false;
  if (filteredPosition_ >= 0 && BitTest(leaving)) --filteredPosition_;
  return true;
}

bool TIndexFile::AboveRangeEnd(const TSpot& spot) { return CompareSpot(spot, rangeEnd_.data()) > 0; }

bool TIndexFile::BelowRangeStart(const TSpot& spot) { return CompareSpot(spot, rangeStart_.data()) < 0; }

bool TIndexFile::Acceptable(const TSpot& spot) {
  const std::int32_t record = SpotRecord(spot);
  if (filtersActive_) return BitTest(record) && RecordAccepted(record);
  if (rangeActive_ && (BelowRangeStart(spot) || AboveRangeEnd(spot))) return false;
  return RecordAccepted(record);
}

bool TIndexFile::SettleForward() {
  while (!Acceptable(cursor_)) {
    if (!CursorForward()) return false;
    if (RangeOnlyBounds() && AboveRangeEnd(cursor_)) return false;
  }
  return true;
}

bool TIndexFile::SettleBackward() {
  while (!Acceptable(cursor_)) {
    if (!CursorBackward()) return false;
    if (RangeOnlyBounds() && BelowRangeStart(cursor_)) return false;
  }
  return true;
}

void TIndexFile::ClearCursor() {
  cursor_ = {};
  filteredPosition_ = -1;
  bof_ = eof_ = true;
}

void TIndexFile::PlaceCursor(const TPage& leaf, std::int64_t position) {
  if (position < 1 || position > std::numeric_limits<std::int32_t>::max()) Corrupt();
  cursor_ = {leaf.Offset(), leaf.Current(), position};
  filteredPosition_ = -1;
}

std::int64_t TIndexFile::TotalKeys() {
  TPageRef root = GetRoot();
  return root ? Total(*root) : 0;
}

// ---- The cursor's key and numbers ----

std::vector<std::uint8_t> TIndexFile::CurrentKey() {
  if (!HasKey()) return {};
  TOperation op(*this, false);
  std::vector<std::uint8_t> key = SpotKey(cursor_);
  op.Finish();
  return key;
}

std::int32_t TIndexFile::CurrentRecordNumber() {
  if (!HasKey() || RangeRecordCount() == 0) return 0;
  TOperation op(*this, false);
  const std::int32_t record = SpotRecord(cursor_);
  op.Finish();
  return record;
}

std::int32_t TIndexFile::RangeRecordCount() const {
  if (filtersActive_) return filteredCount_;
  if (rangeFirst_ == 0 || rangeLast_ == 0) return 0;
  // Ordinals from a damaged tree may be anything; the count never wraps.
  const std::int64_t count = static_cast<std::int64_t>(rangeLast_) - rangeFirst_ + 1;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(count, 0, std::numeric_limits<std::int32_t>::max()));
}

std::int32_t TIndexFile::PositionInRange() {
  if (cursor_.Position == 0) return 0;
  if (filtersActive_) {
    if (!HasKey()) return 0;
    if (filteredPosition_ < 0) {
      TOperation op(*this, false);
      filteredPosition_ = CountFilteredPosition();
      op.Finish();
    }
    return std::clamp(filteredPosition_, 0, filteredCount_);
  }
  // Never a number past the count, whatever the range positions say.
  const std::int64_t inRange = cursor_.Position - rangeFirst_ + 1;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(inRange, 0, RangeRecordCount()));
}

// Set keys up to and including the cursor's, counted from the nearer end of the index.
std::int32_t TIndexFile::CountFilteredPosition() {
  const std::int64_t total = TotalKeys();
  TSpot spot;
  std::int64_t position = 1;
  std::int32_t counted = 0;
  if (cursor_.Position <= total / 2) {
    TPageRef leaf = DescendTo(nullptr, TDescent::First, &position, false, nullptr, nullptr);
    if (!leaf) return 0;  // the index emptied under the cursor
    spot = {leaf->Offset(), leaf->Current(), position};
    leaf.Release();
    for (;;) {
      if (BitTest(SpotRecord(spot))) ++counted;
      if (spot.Position >= cursor_.Position || !StepForward(spot)) break;
    }
    return counted;
  }
  TPageRef leaf = DescendTo(nullptr, TDescent::Last, &position, false, nullptr, nullptr);
  if (!leaf) return 0;
  spot = {leaf->Offset(), leaf->Current(), position};
  leaf.Release();
  while (spot.Position > cursor_.Position) {
    if (BitTest(SpotRecord(spot))) ++counted;
    if (!StepBackward(spot)) break;
  }
  return filteredCount_ - counted;
}

// ---- Navigation ----

void TIndexFile::FirstKey() {
  TOperation op(*this, false);
  FirstKeyInside();
  op.Finish();
}

void TIndexFile::LastKey() {
  TOperation op(*this, false);
  LastKeyInside();
  op.Finish();
}

void TIndexFile::FirstKeyInside() {
  if (RangeRecordCount() == 0 || header_.Descriptors[currentIndex_].Root == 0) {
    ClearCursor();
    return;
  }
  bof_ = eof_ = false;
  std::int64_t position = 1;
  if (RangeOnlyBounds()) {
    {
      TPageRef leaf = DescendTo(rangeStart_.data(), TDescent::SeekLow, &position, false, nullptr, nullptr);
      PlaceCursor(*leaf, position);
    }
    if (BelowRangeStart(cursor_) && !CursorForward()) return ClearCursor();
    if (BelowRangeStart(cursor_) || AboveRangeEnd(cursor_)) return ClearCursor();
    while (!RecordAccepted(SpotRecord(cursor_))) {
      if (!CursorForward() || AboveRangeEnd(cursor_)) return ClearCursor();
    }
    return;
  }
  {
    TPageRef leaf = DescendTo(nullptr, TDescent::First, &position, false, nullptr, nullptr);
    PlaceCursor(*leaf, position);
  }
  if (filtersActive_) filteredPosition_ = BitTest(SpotRecord(cursor_)) ? 1 : 0;
  if (!SettleForward()) ClearCursor();
}

void TIndexFile::LastKeyInside() {
  if (RangeRecordCount() == 0 || header_.Descriptors[currentIndex_].Root == 0) {
    ClearCursor();
    return;
  }
  bof_ = eof_ = false;
  std::int64_t position = 1;
  if (RangeOnlyBounds()) {
    {
      TPageRef leaf = DescendTo(rangeEnd_.data(), TDescent::SeekHigh, &position, false, nullptr, nullptr);
      PlaceCursor(*leaf, position);
    }
    if (AboveRangeEnd(cursor_) && !CursorBackward()) return ClearCursor();
    if (BelowRangeStart(cursor_) || AboveRangeEnd(cursor_)) return ClearCursor();
    while (!RecordAccepted(SpotRecord(cursor_))) {
      if (!CursorBackward() || BelowRangeStart(cursor_)) return ClearCursor();
    }
    return;
  }
  {
    TPageRef leaf = DescendTo(nullptr, TDescent::Last, &position, false, nullptr, nullptr);
    PlaceCursor(*leaf, position);
  }
  if (filtersActive_) filteredPosition_ = filteredCount_;
  if (!SettleBackward()) ClearCursor();
}

void TIndexFile::MoveBy(std::int32_t n) {
  TOperation op(*this, false);
  MoveByInside(n);
  op.Finish();
}

void TIndexFile::MoveByInside(std::int32_t n) {
  if (!HasKey() || RangeRecordCount() == 0) return ClearCursor();
  std::int64_t remaining = n;
  while (remaining > 0) {
    if (!CursorForward()) {
      eof_ = true;
      bof_ = false;
      if (!SettleBackward()) ClearCursor();
      return;
    }
    bof_ = eof_ = false;
    if (RangeOnlyBounds() && AboveRangeEnd(cursor_)) {
      // Past the range: the cursor stays on the range's last acceptable key, at its end.
      eof_ = true;
      bof_ = false;
      CursorBackward();
      if (!SettleBackward()) ClearCursor();
      return;
    }
    if (Acceptable(cursor_)) --remaining;
  }
  while (remaining < 0) {
    if (!CursorBackward()) {
      bof_ = true;
      eof_ = false;
      if (!SettleForward()) ClearCursor();
      return;
    }
    bof_ = eof_ = false;
    if (RangeOnlyBounds() && BelowRangeStart(cursor_)) {
      bof_ = true;
      eof_ = false;
      CursorForward();
      if (!SettleForward()) ClearCursor();
      return;
    }
    if (Acceptable(cursor_)) ++remaining;
  }
}

bool TIndexFile::FindKey(std::span<const std::uint8_t> key, bool nearest, bool keepCrack) {
  RequireKey(key);
  TOperation op(*this, false);
  const bool found = FindKeyInside(key.data(), nearest, keepCrack);
  op.Finish();
  return found;
}

bool TIndexFile::FindKeyInside(const std::uint8_t* key, bool nearest, bool keepCrack) {
  if (RangeRecordCount() == 0 || header_.Descriptors[currentIndex_].Root == 0) {
    ClearCursor();
    return false;
  }
  if (RangeOnlyBounds() && CompareKeys(key, rangeStart_.data(), descending_, keyLength_) < 0) {
    FirstKeyInside();
    return false;
  }
  if (RangeOnlyBounds() && CompareKeys(key, rangeEnd_.data(), descending_, keyLength_) > 0) {
    LastKeyInside();
    return false;
  }
  const TSpot saved = cursor_;
  const std::int32_t savedFiltered = filteredPosition_;
  const bool wasBof = bof_;
  const bool wasEof = eof_;
  std::int64_t position = 1;
  bool exact = false;
  {
    TPageRef leaf = DescendTo(key, TDescent::Counting, &position, nearest, &exact, nullptr);
    PlaceCursor(*leaf, position);
  }
  bof_ = eof_ = false;
  if (exact && !Acceptable(cursor_)) exact = false;
  if (!exact) {
    if (!nearest) {
      cursor_ = saved;
      filteredPosition_ = savedFiltered;
      bof_ = wasBof;
      eof_ = wasEof;
      return false;
    }
    bool onKey = true;
    if (CompareSpot(cursor_, key) < 0) onKey = CursorForward();
    if (onKey && RangeOnlyBounds() && AboveRangeEnd(cursor_)) onKey = false;
    if (onKey) onKey = SettleForward();
    if (!onKey) {
      eof_ = true;
      bof_ = false;
      if (!SettleBackward()) ClearCursor();
    }
  }
  if (keepCrack && HasKey()) {
    // A cursor at an end stays there, whatever another process put before the first or after the
    // last key: stepping from the old key would pass over new keys and the old one.
    if (wasBof) {
      FirstKeyInside();
      MoveByInside(-1);
    } else if (wasEof) {
      LastKeyInside();
      MoveByInside(1);
    }
  }
  return exact;
}

void TIndexFile::GotoPosition(std::int32_t n) {
  TOperation op(*this, false);
  [&] {
    if (RangeRecordCount() == 0) return ClearCursor();
    FirstKeyInside();
    if (!HasKey()) return;
    if (n < PositionInRange()) {
      bof_ = true;
      eof_ = false;
      return;
    }
    LastKeyInside();
    if (!HasKey()) return;
    if (n > PositionInRange()) {
      eof_ = true;
      bof_ = false;
      return;
    }
    if (filtersActive_) {
      GotoFilteredPosition(n);
    } else {
      DescendToOrdinal(static_cast<std::int64_t>(rangeFirst_) + n - 1);
    }
    bof_ = eof_ = false;
    if (!SettleForward()) {
      eof_ = true;
      bof_ = false;
      if (!SettleBackward()) ClearCursor();
    }
  }();
  op.Finish();
}

void TIndexFile::DescendToOrdinal(std::int64_t target) {
  TPageRef page = GetRoot();
  if (!page) return ClearCursor();
  if (!page->IsRoot()) Corrupt();
  std::int64_t position = 1;
  for (std::size_t depth = 0;; ++depth) {
    if (page->Count() == 0) Corrupt();
    if (page->IsLeaf()) {
      const std::int64_t entry = std::clamp<std::int64_t>(target - position + 1, 1, page->Count());
      page->SetCurrent(static_cast<std::uint16_t>(entry));
      PlaceCursor(*page, position + entry - 1);
      return;
    }
    std::uint16_t entry = 1;
    while (entry < page->Count() && position + page->CountAt(entry) <= target) {
      position += page->CountAt(entry);
      ++entry;
    }
    TPageRef child = FetchChild(*page, entry, depth);
    page = std::move(child);
  }
}

// The n-th key whose bit is set, walked from the nearer end.
void TIndexFile::GotoFilteredPosition(std::int32_t n) {
  std::int64_t position = 1;
  const bool fromFirst = n <= filteredCount_ / 2;
  {
    TPageRef leaf =
        DescendTo(nullptr, fromFirst ? TDescent::First : TDescent::Last, &position, false, nullptr, nullptr);
    PlaceCursor(*leaf, position);
  }
  const std::int32_t wanted = fromFirst ? n : filteredCount_ - n + 1;
  std::int32_t counted = BitTest(SpotRecord(cursor_)) ? 1 : 0;
  while (counted < wanted) {
    if (!(fromFirst ? StepForward(cursor_) : StepBackward(cursor_))) break;
    if (BitTest(SpotRecord(cursor_))) ++counted;
  }
  filteredPosition_ = fromFirst ? counted : filteredCount_ - counted + 1;
}

bool TIndexFile::NextPage() {
  if (!HasKey()) return false;
  TOperation op(*this, false);
  bool moved = false;
  {
    TPageRef page = SpotPage(cursor_);
    TSpot spot = cursor_;
    spot.Position += page->Count() - spot.Entry;
    spot.Entry = page->Count();
    page.Release();
    if (StepForward(spot)) {
      cursor_ = spot;
      filteredPosition_ = -1;
      moved = true;
    }
  }
  op.Finish();
  return moved;
}

bool TIndexFile::PriorPage() {
  if (!HasKey()) return false;
  TOperation op(*this, false);
  bool moved = false;
  {
    TSpot spot = cursor_;
    spot.Position -= spot.Entry - 1;
    spot.Entry = 1;
    if (StepBackward(spot)) {
      cursor_ = spot;
      filteredPosition_ = -1;
      moved = true;
    }
  }
  op.Finish();
  return moved;
}

// ---- Ranges ----

void TIndexFile::SetRangeStart(std::span<const std::uint8_t> key) {
  std::fill(rangeStart_.begin(), rangeStart_.end(), 0);
  std::copy_n(key.begin(), std::min<std::size_t>(key.size(), keyLength_), rangeStart_.begin());
}

void TIndexFile::SetRangeEnd(std::span<const std::uint8_t> key) {
  std::fill(rangeEnd_.begin(), rangeEnd_.end(), 0);
  std::copy_n(key.begin(), std::min<std::size_t>(key.size(), keyLength_), rangeEnd_.begin());
}

void TIndexFile::ResetRange() {
  std::fill(rangeStart_.begin(), rangeStart_.end(), 0x00);
  std::fill(rangeEnd_.begin(), rangeEnd_.end(), 0xFF);
  rangeActive_ = false;
  TOperation op(*this, false);
  rangeFirst_ = 1;
  rangeLast_ = static_cast<std::int32_t>(TotalKeys());
  op.Finish();
}

std::int64_t TIndexFile::FirstOrdinalNotBelow(const std::uint8_t* low) {
  std::int64_t position = 1;
  TSpot spot;
  {
    TPageRef leaf = DescendTo(low, TDescent::SeekLow, &position, false, nullptr, nullptr);
    if (!leaf) return 0;
    spot = {leaf->Offset(), leaf->Current(), position};
  }
  if (CompareSpot(spot, low) < 0 && (!StepForward(spot) || CompareSpot(spot, low) < 0)) return 0;
  return spot.Position;
}

std::int64_t TIndexFile::LastOrdinalNotAbove(const std::uint8_t* high) {
  std::int64_t position = 1;
  TSpot spot;
  {
    TPageRef leaf = DescendTo(high, TDescent::SeekHigh, &position, false, nullptr, nullptr);
    if (!leaf) return 0;
    spot = {leaf->Offset(), leaf->Current(), position};
  }
  if (CompareSpot(spot, high) > 0 && (!StepBackward(spot) || CompareSpot(spot, high) > 0)) return 0;
  return spot.Position;
}

void TIndexFile::ApplyRange() {
  TOperation op(*this, false);
  if (!rangeActive_) {
    rangeFirst_ = 1;
    rangeLast_ = static_cast<std::int32_t>(TotalKeys());
  } else if (CompareKeys(rangeStart_.data(), rangeEnd_.data(), descending_, keyLength_) > 0) {
    rangeFirst_ = rangeLast_ = 0;
  } else {
    rangeFirst_ = static_cast<std::int32_t>(FirstOrdinalNotBelow(rangeStart_.data()));
    rangeLast_ = static_cast<std::int32_t>(LastOrdinalNotAbove(rangeEnd_.data()));
  }
  op.Finish();
}

std::int32_t TIndexFile::RangeCount(std::span<const std::uint8_t> low, std::span<const std::uint8_t> high) {
  RequireKey(low);
  RequireKey(high);
  if (CompareKeys(low.data(), high.data(), descending_, keyLength_) > 0) return 0;
  TOperation op(*this, false);
  const std::int64_t first = FirstOrdinalNotBelow(low.data());
  const std::int64_t last = first == 0 ? 0 : LastOrdinalNotAbove(high.data());
  op.Finish();
  if (first == 0 || last == 0) return 0;
  return static_cast<std::int32_t>(std::max<std::int64_t>(0, last - first + 1));
}

void TIndexFile::MarkKeyRange(std::span<const std::uint8_t> low, std::span<const std::uint8_t> high,
                              TRecordBitmap& bitmap) {
  RequireKey(low);
  RequireKey(high);
  bitmap.FillZeros();
  if (CompareKeys(low.data(), high.data(), descending_, keyLength_) > 0) return;
  TOperation op(*this, false);
  [&] {
    std::int64_t position = 1;
    TSpot spot;
    {
      TPageRef leaf = DescendTo(low.data(), TDescent::SeekLow, &position, false, nullptr, nullptr);
      if (!leaf) return;
      spot = {leaf->Offset(), leaf->Current(), position};
    }
    if (CompareSpot(spot, low.data()) < 0 && (!StepForward(spot) || CompareSpot(spot, low.data()) < 0)) return;
    for (;;) {
      TPageRef page = SpotPage(spot);
      page->SetCurrent(spot.Entry);
      if (!page->MarkRunToHigh(high.data(), bitmap)) return;
      spot.Entry = page->Count();
      page.Release();
      if (!StepForward(spot)) return;
    }
  }();
  op.Finish();
}

}  // namespace kavrin::engine
