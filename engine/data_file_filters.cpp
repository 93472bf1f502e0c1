// The cursor's filters: the expression filters and the record callback, the record bitmap they make
// with the range and the live records, and the key and record walks behind them. The index file keeps
// the bitmap and the callback that navigation reads.
#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/data_file.h"
#include "engine/data_file_sections.h"
#include "engine/filter_key_range.h"
#include "engine/index_file.h"
#include "engine/index_selection_guard.h"
#include "engine/password_list.h"
#include "platform/win_file.h"

namespace kavrin::engine {

TFilterHandle TDataFile::AddFilter(std::uint32_t userData, std::span<const std::uint8_t> expression,
                                   TRecordCallback callback) {
  if (expressionFilters_.size() >= MaxExpressionFilters || nextFilterHandle_ == RecordCallbackHandle) {
    Raise(ec::TooManyFilters);
  }
  if (expression.empty() && !callback) Raise(ec::InvalidFilterExpression);
  TCursorGuard guard(*this);
  TReadSection section(*this);
  TFilterHandle handle = RecordCallbackHandle;
  const TRecordCallback previousCallback = indexFile_->GetCallback();
  const std::uint32_t previousData = indexFile_->GetCallbackData();
  const bool previousActive = indexFile_->CallbackActive();
  bool added = false;
  try {
    if (!expression.empty()) {
      // The new filter is inactive: what the cursor shows stays as it is.
      expressionFilters_.push_back(std::make_unique<TFilter>(*this, expression, nextFilterHandle_, complementRule_));
      handle = nextFilterHandle_++;
      added = true;
    } else {
      indexFile_->SetRecordCallback(callback, userData);
      added = true;
      SyncIndexPosition();
    }
    section.Finish();
  } catch (...) {
    // The caller never gets the handle of a filter whose addition failed, so none may stay behind.
    if (added && handle != RecordCallbackHandle) {
      DropFilter(handle);
    } else if (added) {
      indexFile_->SetRecordCallback(previousCallback, previousData);
      indexFile_->SetCallbackActive(previousActive);
    }
    throw;
  }
  return handle;
}

TFilter* TDataFile::FindFilter(TFilterHandle handle) {
  auto found = std::find_if(expressionFilters_.begin(), expressionFilters_.end(),
                            [&](const auto& filter) { return filter->Handle() == handle; });
  return found == expressionFilters_.end() ? nullptr : found->get();
}

void TDataFile::DropAllFilters() {
  expressionFilters_.clear();
  indexFile_->SetRecordCallback(nullptr, 0);
}

TErrorCode TDataFile::DropFilter(TFilterHandle handle) {
  if (handle == AllFilters) {
    DropAllFilters();
    return ec::Success;
  }
  if (handle == RecordCallbackHandle) {
    if (!indexFile_->GetCallback()) return ec::InvalidFilterHandle;
    indexFile_->SetRecordCallback(nullptr, 0);
    return ec::Success;
  }
  auto found = std::find_if(expressionFilters_.begin(), expressionFilters_.end(),
                            [&](const auto& filter) { return filter->Handle() == handle; });
  if (found == expressionFilters_.end()) return ec::InvalidFilterHandle;
  expressionFilters_.erase(found);
  return ec::Success;
}

TErrorCode TDataFile::SetFilterActive(TFilterHandle handle, bool active) {
  if (handle == AllFilters) {
    for (auto& filter : expressionFilters_) active ? filter->Activate() : filter->Deactivate();
    return ec::Success;
  }
  if (handle == RecordCallbackHandle) {
    if (!indexFile_->GetCallback()) return ec::InvalidFilterHandle;
    indexFile_->SetCallbackActive(active);
    return ec::Success;
  }
  TFilter* filter = FindFilter(handle);
  if (!filter) return ec::InvalidFilterHandle;
  active ? filter->Activate() : filter->Deactivate();
  return ec::Success;
}

TErrorCode TDataFile::RemoveFilter(TFilterHandle handle) {
  TCursorGuard guard(*this);
  TReadSection section(*this);
  const TErrorCode code = DropFilter(handle);
  if (code == ec::Success) SyncIndexPosition();
  section.Finish();
  return code;
}

TErrorCode TDataFile::ActivateFilter(TFilterHandle handle) {
  TCursorGuard guard(*this);
  TReadSection section(*this);
  const TErrorCode code = SetFilterActive(handle, true);
  if (code == ec::Success) SyncIndexPosition();
  section.Finish();
  return code;
}

TErrorCode TDataFile::DeactivateFilter(TFilterHandle handle) {
  TCursorGuard guard(*this);
  TReadSection section(*this);
  const TErrorCode code = SetFilterActive(handle, false);
  if (code == ec::Success) SyncIndexPosition();
  section.Finish();
  return code;
}

std::int32_t TDataFile::FilterOptimizeLevel() const {
  auto all = [&](std::int32_t level) {
    return std::all_of(expressionFilters_.begin(), expressionFilters_.end(),
                       [&](const auto& filter) { return filter->Level() == level; });
  };
  if (all(FilterLevelNone)) return FilterLevelNone;  // also without any filter
  if (all(FilterLevelByIndex)) return FilterLevelByIndex;
  return FilterLevelPartly;
}

bool TDataFile::SelectIndexForField(std::int16_t fieldNumber, bool caseInsensitive, bool any) {
  const TFieldDescriptor* field = FindField(fieldNumber);
  if (!field) return false;
  const std::size_t part = static_cast<std::size_t>(engine::FieldDataSize(*field)) + 1;
  for (int n = 0; n <= indexFile_->IndexCount(); ++n) {
    const TIndexDescriptor index = indexFile_->GetDescriptor(static_cast<std::uint8_t>(n));
    if (index.KeyLength == 0 || index.KeyFieldCount == 0 || index.KeyFields[0] != fieldNumber) continue;
    if (part > index.KeyLength) continue;  // a descriptor whose keys cannot hold the field is no help
    if (any || field->Type != ftString || (index.CaseInsensitive != 0) == caseInsensitive) {
      indexFile_->SelectIndex(static_cast<std::uint8_t>(n));
      return true;
    }
  }
  return false;
}

void TDataFile::ScanFieldRange(std::span<const std::uint8_t> low, std::span<const std::uint8_t> high,
                               bool caseInsensitive, std::int16_t fieldNumber, std::int32_t parentOperator,
                               TRecordBitmap& bitmap) {
  const TFieldDescriptor* field = FindField(fieldNumber);
  if (!field) return;
  const std::size_t width = static_cast<std::size_t>(engine::FieldDataSize(*field)) + 1;
  if (low.size() < width || high.size() < width) return;
  if (std::memcmp(low.data(), high.data(), width) > 0) {
    bitmap.FillZeros();  // nothing lies between: whatever the parent, no record matches
    return;
  }
  const std::int32_t slots = RecordSlots();
  std::vector<std::uint8_t> value(width), part(width);
  auto inside = [&](const TRecord& record) {
    bool isNull = true;
    GetField(fieldNumber, record.Buffer(), isNull, value.data());
    EncodeKeyPart(*field, isNull, value.data(), caseInsensitive, part.data());
    return std::memcmp(part.data(), low.data(), width) >= 0 && std::memcmp(part.data(), high.data(), width) <= 0;
  };
  if (parentOperator == foAnd) {
    for (std::int32_t n = 0; bitmap.NextSetBit(n, slots);) {
      if (!inside(*FetchRecord(n))) bitmap.Clear(n);
    }
    return;
  }
  bitmap.FillZeros();
  for (std::int32_t n = 1; n <= slots; ++n) {
    const TRecord& record = *FetchRecord(n);
    if (!record.Deleted() && inside(record)) bitmap.Set(n);
  }
}

TRecordBitmap TDataFile::MarkKeysBetween(std::span<const std::uint8_t> low, std::span<const std::uint8_t> high,
                                         std::int32_t keys, std::int32_t totalKeys, std::int32_t slots) {
  TRecordBitmap marks(slots);
  const bool complement = complementRule_ == TComplementRule::Always ||
                          (complementRule_ == TComplementRule::SmallerSide && totalKeys - keys < keys);
  if (!complement) {
    indexFile_->MarkKeyRange(low, high, marks);
    return marks;
  }
  // Every key below low and above high in the index's order, then inverted. A descending index runs
  // from the highest bytes down, so there the key before low is one up.
  const std::size_t length = indexFile_->KeyLength();
  const bool descending = indexFile_->Descending() != 0;
  std::vector<std::uint8_t> first(length, descending ? 0xFF : 0x00), last(length, descending ? 0x00 : 0xFF);
  std::vector<std::uint8_t> beforeLow(low.begin(), low.begin() + static_cast<std::ptrdiff_t>(length));
  std::vector<std::uint8_t> afterHigh(high.begin(), high.begin() + static_cast<std::ptrdiff_t>(length));
  if (beforeLow != first) {
    descending ? TIndexFile::IncrementKey(beforeLow.data(), length)
               : TIndexFile::DecrementKey(beforeLow.data(), length);
    indexFile_->MarkKeyRange(first, beforeLow, marks);
  }
  if (afterHigh != last) {
    descending ? TIndexFile::DecrementKey(afterHigh.data(), length)
               : TIndexFile::IncrementKey(afterHigh.data(), length);
    TRecordBitmap above(slots);
    indexFile_->MarkKeyRange(afterHigh, last, above);
    marks.Or(above);
  }
  marks.Not(marks);
  return marks;
}

void TDataFile::BuildFilterBitmap() {
  const bool anyActive =
      std::any_of(expressionFilters_.begin(), expressionFilters_.end(), [](const auto& f) { return f->Active(); });
  // A rollback replays the log by primary key over every record.
  if (!anyActive || rollbackRunning_) {
    indexFile_->FreeBitmap();
    return;
  }
  const std::int32_t slots = RecordSlots();
  TRecordBitmap cursor(slots);
  {
    TIndexSelectionGuard restore(*indexFile_);
    const std::size_t keyLength = indexFile_->KeyLength();
    if (indexFile_->RangeActive()) {
      const std::int32_t first = indexFile_->RangeFirst();
      const std::int32_t last = indexFile_->RangeLast();
      const std::int32_t keys = first == 0 || last == 0 ? 0 : std::max(0, last - first + 1);
      cursor = MarkKeysBetween(indexFile_->RangeStart().first(keyLength), indexFile_->RangeEnd().first(keyLength), keys,
                               indexFile_->RecordCount(), slots);
    } else {
      cursor.FillOnes();
    }
    for (const auto& filter : expressionFilters_) {
      if (!filter->Active()) continue;
      TRecordBitmap marks(slots);
      marks.FillOnes();
      filter->Evaluate(marks);
      cursor.And(marks);
    }
    // Live records: the record-state keys that begin with 0.
    indexFile_->SelectIndex(DeletedIndexSlot);
    std::array<std::uint8_t, DeletedKeyLength> liveLow{}, liveHigh{};
    liveHigh.fill(0xFF);
    liveHigh[0] = 0;
    const std::int32_t live = indexFile_->RangeCount(liveLow, liveHigh);
    cursor.And(MarkKeysBetween(liveLow, liveHigh, live, slots, slots));
  }
  // A complement sets the bits past the last slot too.
  for (std::int64_t n = static_cast<std::int64_t>(slots) + 1; n < static_cast<std::int64_t>(cursor.Length()) * 8; ++n) {
    cursor.Clear(static_cast<std::int32_t>(n));
  }
  indexFile_->InstallFilterBitmap(std::move(cursor));
}

void TDataFile::SetRecordCallback(TRecordCallback callback, std::uint32_t userData) {
  TCursorGuard guard(*this);
  TReadSection section(*this);
  indexFile_->SetRecordCallback(callback, userData);
  SyncIndexPosition();
  section.Finish();
}

TErrorCode TDataFile::ActivateRecordCallback(bool active) {
  if (!indexFile_->GetCallback()) return ec::InvalidFilterHandle;
  TCursorGuard guard(*this);
  TReadSection section(*this);
  indexFile_->SetCallbackActive(active);
  SyncIndexPosition();
  section.Finish();
  return ec::Success;
}

}  // namespace kavrin::engine

namespace kavrin::engine {
namespace {

// One table whatever the names were spelt like: on disk the same file, in memory the same memory file.
bool SameTable(const TDataFile& a, const TDataFile& b) {
  if (!a.Opened() || !b.Opened() || a.InMemory() != b.InMemory()) return false;
  if (a.InMemory()) return a.MemoryFile() != nullptr && a.MemoryFile() == b.MemoryFile();
  return a.FileName() == b.FileName() || platform::SameFile(a.FileName(), b.FileName());
}

}  // namespace

TErrorCode TDataFile::GotoCurrent(TDataFile& other) {
  // Keys of one table's index mean nothing in another table.
  if (&other == this) return ec::Success;
  if (!SameTable(*this, other)) return ec::InvalidHandle;
  TCursorGuard guard(*this);
  const bool lock = !(Exclusive() || ReadOnlyOnDisk() || tableLocked_);
  if (lock) indexFile_->ReadLock();
  try {
    std::array<std::uint8_t, PageEntryArea> key{};
    if (other.currentRecord_) {
      BuildKey(indexFile_->CurrentIndex(), other.currentRecord_->Buffer(), other.currentRecord_->Buffer(), key.data());
    }
    const bool found =
        indexFile_->FindKey(std::span<const std::uint8_t>(key.data(), indexFile_->KeyLength()), true, false);
    CheckHeaderChanged();
    MakeCurrentAtCursor();
    if (lock) indexFile_->ReadUnlock();
    return found ? ec::Success : ec::RecordNotFound;
  } catch (...) {
    if (lock) {
      try {
        indexFile_->ReadUnlock();
      } catch (...) {
      }
    }
    throw;
  }
}

std::unique_ptr<TDataFile> TDataFile::CloneCursor() {
  if (Exclusive()) Raise(ec::AccessDenied);
  auto clone = std::make_unique<TDataFile>(this);
  TTemporaryPassword known(GetPassword());
  clone->SetFileName(FileName());
  clone->SetReadOnly(ReadOnly());
  clone->SetInMemory(InMemory());
  clone->Open();
  clone->SelectIndexByName(ActiveIndexName());
  if (indexFile_->RangeActive()) {
    TCursorGuard guard(*clone);
    TReadSection section(*clone);
    clone->indexFile_->SetRangeStart(indexFile_->RangeStart().first(indexFile_->KeyLength()));
    clone->indexFile_->SetRangeEnd(indexFile_->RangeEnd().first(indexFile_->KeyLength()));
    clone->indexFile_->SetRangeActive(true);
    clone->SyncIndexPosition();
    section.Finish();
  }
  clone->SetComplementRule(complementRule_);
  bool anyActive = false;
  for (const auto& filter : expressionFilters_) {
    const TFilterHandle handle = clone->AddFilter(0, filter->Original(), nullptr);
    if (filter->Active()) {
      clone->FindFilter(handle)->Activate();
      anyActive = true;
    }
  }
  if (anyActive) {
    TCursorGuard guard(*clone);
    TReadSection section(*clone);
    clone->SyncIndexPosition();
    section.Finish();
  }
  if (indexFile_->GetCallback()) {
    clone->SetRecordCallback(indexFile_->GetCallback(), indexFile_->GetCallbackData());
    if (indexFile_->CallbackActive()) clone->ActivateRecordCallback(true);
  }
  clone->GotoCurrent(*this);
  return clone;
}

}  // namespace kavrin::engine
