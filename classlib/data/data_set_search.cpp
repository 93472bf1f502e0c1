// The dataset's keyed and filtered operations on the engine cursor: key buffers and ranges, the
// expression and callback filters, find, locate and lookup.
#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "classlib/data/data_set.h"
#include "classlib/data/field.h"
#include "classlib/data/variant.h"
#include "classlib/expr_parser.h"
#include "classlib/filter_expr.h"
#include "engine/data_file.h"
#include "engine/data_file_format.h"
#include "engine/engine_error.h"
#include "runtime/code_pages.h"

namespace kavrin::classlib {
namespace {

// The engine hands the callback filter a 32-bit client value: an id here, never a pointer.
struct TClientTable {
  std::unordered_map<std::uint32_t, TDataSet*> live;
  std::uint32_t next = 1;
};

TClientTable& Clients() {
  static TClientTable table;
  return table;
}

void CheckResult(engine::TErrorCode code) {
  if (code != 0) engine::EngineError(static_cast<std::uint32_t>(code));
}

std::string Trim(std::string_view text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && text[first] == ' ') ++first;
  while (last > first && text[last - 1] == ' ') --last;
  return std::string(text.substr(first, last - first));
}

// Field state around one step: the temporary state and buffer come back on every path.
class TTempBuffer {
 public:
  TTempBuffer(TDataSetState& state, std::uint8_t*& slot, TDataSetState temp, std::uint8_t* buffer)
      : state_(state), slot_(slot), oldState_(state), oldBuffer_(slot) {
    state_ = temp;
    slot_ = buffer;
  }
  ~TTempBuffer() {
    state_ = oldState_;
    slot_ = oldBuffer_;
  }
  TTempBuffer(const TTempBuffer&) = delete;
  TTempBuffer& operator=(const TTempBuffer&) = delete;

 private:
  TDataSetState& state_;
  std::uint8_t*& slot_;
  TDataSetState oldState_;
  std::uint8_t* oldBuffer_;
};

}  // namespace

void TDataSet::DropClientId() {
  if (clientId_ != 0) Clients().live.erase(clientId_);
  clientId_ = 0;
}

// --- key buffers and ranges --------------------------------------------------------------------------

void TDataSet::SetKeyBuffer(TKeyIndex index, bool clear) {
  CheckBrowseMode();
  keyBuffer_ = index;
  std::memcpy(KeyBuffer(kiSave), KeyBuffer(index), recordSize_ + 8u);
  if (clear) InitKeyBuffer(index);
  SetState(TDataSetState::dsSetKey);
  DataEvent(TDataEvent::deDataSetChange, 0);
}

void TDataSet::SetKeyFieldCount(int count) {
  if (state_ != TDataSetState::dsSetKey) DatabaseError("Dataset not in edit or insert mode");
  const std::int32_t value = count;
  std::memcpy(KeyBuffer(keyBuffer_) + 4, &value, 4);
}

int TDataSet::KeyBufferFieldCount(TKeyIndex index) {
  std::int32_t value = 0;
  std::memcpy(&value, KeyBuffer(index) + 4, 4);
  return value;
}

bool TDataSet::ApplyKeyRange() {
  const std::size_t size = recordSize_ + 8u;
  if (std::memcmp(KeyBuffer(kiRangeStart), KeyBuffer(kiCurRangeStart), size) == 0 &&
      std::memcmp(KeyBuffer(kiRangeEnd), KeyBuffer(kiCurRangeEnd), size) == 0) {
    return false;
  }
  std::vector<std::uint8_t> startKey(256, 0);
  std::vector<std::uint8_t> endKey(256, 0);
  const bool hasStart = KeyBufferModified(kiRangeStart);
  const bool hasEnd = KeyBufferModified(kiRangeEnd);
  const std::uint8_t index = handle_->ActiveIndex();
  if (hasStart) handle_->BuildKey(index, KeyBuffer(kiRangeStart) + 8, KeyBuffer(kiRangeStart) + 8, startKey.data());
  if (hasEnd) handle_->BuildKey(index, KeyBuffer(kiRangeEnd) + 8, KeyBuffer(kiRangeEnd) + 8, endKey.data());
  handle_->SetRange(true, hasStart ? startKey.data() : nullptr, KeyBufferFieldCount(kiRangeStart),
                    hasEnd ? endKey.data() : nullptr, KeyBufferFieldCount(kiRangeEnd));
  std::memcpy(KeyBuffer(kiCurRangeStart), KeyBuffer(kiRangeStart), size);
  std::memcpy(KeyBuffer(kiCurRangeEnd), KeyBuffer(kiRangeEnd), size);
  FreeLookupCursor();
  return true;
}

bool TDataSet::CancelKeyRange() {
  if (!KeyBufferModified(kiCurRangeStart) && !KeyBufferModified(kiCurRangeEnd)) return false;
  handle_->CancelRange();
  InitKeyBuffer(kiCurRangeStart);
  InitKeyBuffer(kiCurRangeEnd);
  FreeLookupCursor();
  return true;
}

void TDataSet::SetLinkRanges(const std::vector<TField*>& masterFields) {
  CheckActive();
  const TDataSetState oldState = SetTempState(TDataSetState::dsSetKey);
  const TKeyIndex oldBuffer = keyBuffer_;
  const bool oldModified = modified_;
  struct Restore {
    TDataSet& set;
    TDataSetState state;
    TKeyIndex buffer;
    bool modified;
    ~Restore() {
      set.RestoreState(state);
      set.keyBuffer_ = buffer;
      set.modified_ = modified;
    }
  } restore{*this, oldState, oldBuffer, oldModified};
  keyBuffer_ = kiRangeStart;
  InitKeyBuffer(kiRangeStart);
  KeyBuffer(kiRangeStart)[0] = 1;
  const int count = std::min<int>(static_cast<int>(masterFields.size()), keyFieldCount_);
  for (int i = 0; i < count; ++i) {
    TField* keyField = FieldByNumber(keyFields_[static_cast<std::size_t>(i)]);
    if (!keyField) continue;
    keyField->SetValue(masterFields[static_cast<std::size_t>(i)]->GetValue());
  }
  const std::int32_t fieldCount = static_cast<std::int32_t>(masterFields.size());
  std::memcpy(KeyBuffer(kiRangeStart) + 4, &fieldCount, 4);
  std::memcpy(KeyBuffer(kiRangeEnd), KeyBuffer(kiRangeStart), recordSize_ + 8u);
}

// --- filters -----------------------------------------------------------------------------------------

std::uint32_t TDataSet::CreateExprFilter(const std::string& text, TFilterOptions options) {
  std::vector<engine::TFieldDescriptor> fields(handle_->FieldCount());
  for (std::uint16_t i = 0; i < handle_->FieldCount(); ++i) {
    handle_->FieldDefByIndex(static_cast<std::uint16_t>(i + 1), fields[i]);
    // The filter text names fields in UTF-8.
    fields[i].Name = runtime::DescriptorTextToUtf8(fields[i].Name);
  }
  TFilterParseOptions parse;
  parse.CaseInsensitive = (options & foCaseInsensitive) != 0;
  parse.NoPartialCompare = (options & foNoPartialCompare) != 0;
  parse.Transliterate = true;
  const TExprParser parser(text, fields, parse);
  return handle_->AddFilter(0, parser.FilterData(), nullptr);
}

std::uint32_t TDataSet::CreateFuncFilter() {
  if (clientId_ == 0) {
    TClientTable& table = Clients();
    while (table.next == 0 || table.live.count(table.next) != 0) ++table.next;
    clientId_ = table.next++;
    table.live[clientId_] = this;
  }
  return handle_->AddFilter(clientId_, {}, &TDataSet::FilterCallback);
}

std::int32_t TDataSet::FilterCallback(std::uint32_t client, std::uint8_t* image, std::int32_t) {
  auto found = Clients().live.find(client);
  if (found == Clients().live.end() || !image) return 1;
  return found->second->FilterRecord(image);
}

std::int32_t TDataSet::FilterRecord(const std::uint8_t* image) {
  if (!onFilterRecord_) return 1;
  // A whole record buffer, so that calculated fields read inside it and never past the engine's image.
  std::vector<std::uint8_t> copy(std::max<std::size_t>(bufferSize_, recordSize_), 0);
  std::memcpy(copy.data(), image, recordSize_);
  bool accept = true;
  {
    TTempBuffer temp(state_, filterBuffer_, TDataSetState::dsFilter, copy.data());
    try {
      CalculateFields(copy.data());
      onFilterRecord_(*this, accept);
    } catch (const std::exception& error) {
      HandleException(error);
    } catch (...) {
    }
  }
  return accept ? 1 : 0;
}

void TDataSet::ActivateFilters() {
  if (exprFilter_) CheckResult(handle_->ActivateFilter(exprFilter_));
  if (funcFilter_) CheckResult(handle_->ActivateFilter(funcFilter_));
}

void TDataSet::DeactivateFilters() {
  if (exprFilter_) CheckResult(handle_->DeactivateFilter(exprFilter_));
  if (funcFilter_) CheckResult(handle_->DeactivateFilter(funcFilter_));
}

void TDataSet::CreateFilters() {
  exprFilter_ = 0;
  funcFilter_ = 0;
  if (!filterText_.empty()) exprFilter_ = CreateExprFilter(filterText_, filterOptions_);
  if (onFilterRecord_) funcFilter_ = CreateFuncFilter();
  if (filtered_) ActivateFilters();
}

void TDataSet::SetFilterHandle(std::uint32_t& slot, std::uint32_t handle) {
  if (filtered_) {
    CursorPosChanged();
    FreeLookupCursor();
    handle_->GotoBOF();
    if (slot) CheckResult(handle_->RemoveFilter(slot));
    slot = handle;
    if (slot) CheckResult(handle_->ActivateFilter(slot));
  } else {
    if (slot) CheckResult(handle_->RemoveFilter(slot));
    slot = handle;
  }
}

void TDataSet::SetFilter(std::string text) {
  if (Active()) {
    CheckBrowseMode();
    if (text != filterText_) {
      const std::uint32_t handle = text.empty() ? 0 : CreateExprFilter(text, filterOptions_);
      SetFilterHandle(exprFilter_, handle);
      filterText_ = std::move(text);
      if (filtered_) First();
    }
    return;
  }
  filterText_ = std::move(text);
}

void TDataSet::SetFilterOptions(TFilterOptions options) {
  if (Active()) {
    CheckBrowseMode();
    if (options != filterOptions_ && !filterText_.empty()) {
      SetFilterHandle(exprFilter_, CreateExprFilter(filterText_, options));
      filterOptions_ = options;
      if (filtered_) First();
    }
  }
  filterOptions_ = options;
}

void TDataSet::SetOnFilterRecord(TFilterRecordEvent handler) {
  if (!Active()) {
    onFilterRecord_ = std::move(handler);
    return;
  }
  CheckBrowseMode();
  const bool had = static_cast<bool>(onFilterRecord_);
  onFilterRecord_ = std::move(handler);
  // The engine keeps one callback; only its presence changes here.
  if (had != static_cast<bool>(onFilterRecord_)) {
    SetFilterHandle(funcFilter_, onFilterRecord_ ? CreateFuncFilter() : 0);
  }
  if (filtered_) First();
}

void TDataSet::SetFiltered(bool filtered) {
  if (!Active()) {
    filtered_ = filtered;
    return;
  }
  CheckBrowseMode();
  if (filtered != filtered_) {
    FreeLookupCursor();
    handle_->GotoBOF();
    if (filtered)
      ActivateFilters();
    else
      DeactivateFilters();
    filtered_ = filtered;
  }
  First();
}

// --- find ----------------------------------------------------------------------------------------------

bool TDataSet::FindRecord(bool restart, bool forward) {
  CheckBrowseMode();
  UpdateCursorPos();
  CursorPosChanged();
  const bool switchOn = !filtered_;
  // Left on, the filters would hide records from a dataset that shows them all: a switching off that
  // meets a failing read is tried once more before its failure goes on.
  const auto switchOff = [this] {
    try {
      DeactivateFilters();
    } catch (...) {
      DeactivateFilters();
      throw;
    }
  };
  engine::TErrorCode code = 0;
  try {
    if (switchOn) ActivateFilters();
    if (forward) {
      if (restart) handle_->GotoBOF();
      code = handle_->Next(nullptr);
    } else {
      if (restart) handle_->GotoEOF();
      code = handle_->Prior(nullptr);
    }
  } catch (...) {
    if (switchOn) {
      try {
        switchOff();
      } catch (...) {
      }
    }
    throw;
  }
  if (switchOn) switchOff();
  if (code != 0) return false;
  Resync(true, true);
  return true;
}

// --- locate and lookup -------------------------------------------------------------------------------

std::vector<TField*> TDataSet::KeyFieldList(const std::string& names) const {
  std::vector<TField*> fields;
  std::size_t start = 0;
  while (start <= names.size()) {
    std::size_t end = names.find(';', start);
    if (end == std::string::npos) end = names.size();
    const std::string name = Trim(std::string_view(names).substr(start, end - start));
    if (!name.empty() || fields.empty()) fields.push_back(FieldByName(name));
    start = end + 1;
  }
  return fields;
}

void TDataSet::SetKeyFields(const std::vector<TField*>& fields, const Variant& values, std::uint8_t* buffer) {
  TTempBuffer temp(state_, filterBuffer_, TDataSetState::dsFilter, buffer);
  handle_->InitRecord(buffer);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const Variant& value = fields.size() == 1 && !values.IsArray() ? values : values[static_cast<int>(i)];
    fields[i]->SetValue(value);
  }
}

namespace {

// The stored bytes of a string field of image: up to its terminator, never past the field.
std::uint16_t StoredLength(const engine::TDataFile& cursor, const engine::TFieldDescriptor& field,
                           const std::uint8_t* image) {
  std::vector<std::uint8_t> data(static_cast<std::size_t>(engine::FieldDataSize(field)) + 1, 0);
  bool isNull = true;
  cursor.GetField(field.FieldNumber, image, isNull, data.data());
  if (isNull) return 0;
  const auto end = std::find(data.begin(), data.begin() + engine::FieldDataSize(field), std::uint8_t{0});
  return static_cast<std::uint16_t>(end - data.begin());
}

}  // namespace

std::uint32_t TDataSet::CreateLookupFilter(const std::vector<TField*>& fields, const Variant& values,
                                           TLocateOptions options) {
  std::vector<std::uint8_t> image(std::max<std::size_t>(bufferSize_, recordSize_), 0);
  SetKeyFields(fields, values, image.data());
  TFilterExpr expr;
  bool haveRoot = false;
  TFilterExpr::TNodeId root = 0;
  const bool caseInsensitive = (options & loCaseInsensitive) != 0;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const engine::TFieldDescriptor* field = handle_->FindField(static_cast<std::int16_t>(fields[i]->FieldNo()));
    if (!field) DatabaseError(FormatMessage("Field '%s' not found", {fields[i]->FieldName()}));
    std::vector<std::uint8_t> data(static_cast<std::size_t>(engine::FieldDataSize(*field)), 0);
    bool isNull = true;
    handle_->GetField(field->FieldNumber, image.data(), isNull, data.data());
    const TFilterExpr::TNodeId fieldNode = expr.NewFieldNode(*field);
    TFilterExpr::TNodeId node;
    if (isNull && !(i + 1 == fields.size() && (options & loPartialKey))) {
      node = expr.NewUnaryNode(TCanOp::IsBlank, fieldNode);
    } else {
      std::uint16_t partial = 0;
      if (i + 1 == fields.size() && (options & loPartialKey) && field->Type == engine::ftString) {
        partial = StoredLength(*handle_, *field, image.data());
      }
      const TFilterExpr::TNodeId constant = expr.NewConstNode(field->Type, data);
      node = expr.NewCompareNode(TCanOp::Equal, caseInsensitive, partial, fieldNode, constant);
    }
    root = haveRoot ? expr.NewBinaryNode(TCanOp::And, node, root) : node;
    haveRoot = true;
  }
  const std::vector<std::uint8_t> block = expr.GetFilterData(root);
  return handle_->AddFilter(0, block, nullptr);
}

engine::TErrorCode TDataSet::RemoveScanFilter(std::uint32_t filter) {
  // Left on the cursor, the scan's filter would hide every other record from then on: a removal that
  // meets a failing read is tried once more before its failure goes on.
  try {
    return handle_->RemoveFilter(filter);
  } catch (...) {
    handle_->RemoveFilter(filter);
    throw;
  }
}

bool TDataSet::LocateRecord(const std::string& keyFields, const Variant& keyValues, TLocateOptions options, bool sync) {
  CheckBrowseMode();
  CursorPosChanged();
  std::uint8_t* work = Buffer(bufferCount_);
  const std::vector<TField*> fields = KeyFieldList(keyFields);
  const bool caseInsensitive = (options & loCaseInsensitive) != 0;
  // The own index serves when its case rule is the one asked for: a case-insensitive index would let
  // a case-sensitive search find a record whose text differs in case.
  bool anyString = false;
  for (TField* field : fields) anyString = anyString || field->DataType() == TFieldType::ftString;
  bool own =
      static_cast<int>(fields.size()) <= keyFieldCount_ && (!anyString || caseInsensitive == keyCaseInsensitive_);
  for (std::size_t i = 0; own && i < fields.size(); ++i) own = fields[i]->FieldNo() == keyFields_[i];
  engine::TDataFile* cursor = own ? handle_.get() : LookupCursor(keyFields, caseInsensitive);
  if (cursor) {
    SetKeyFields(fields, keyValues, work);
    std::int32_t wholeFields = static_cast<std::int32_t>(fields.size());
    std::uint16_t partial = 0;
    TField* last = fields.back();
    if ((options & loPartialKey) && last->DataType() == TFieldType::ftString) {
      --wholeFields;
      if (const engine::TFieldDescriptor* field = handle_->FindField(static_cast<std::int16_t>(last->FieldNo()))) {
        partial = StoredLength(*handle_, *field, work);
      }
    }
    const bool found = cursor->FindKey(false, work, nullptr, wholeFields, false,
                                       static_cast<std::uint8_t>(std::min<std::uint16_t>(partial, 255)));
    if (!found) return false;
    CheckResult(cursor->GetCurrent(work, false));
    if (sync && cursor != handle_.get()) CheckResult(handle_->GotoCurrent(*cursor));
    return true;
  }
  handle_->GotoBOF();
  const std::uint32_t filter = CreateLookupFilter(fields, keyValues, options);
  engine::TErrorCode code = 0;
  try {
    CheckResult(handle_->ActivateFilter(filter));
    code = handle_->Next(work);
  } catch (...) {
    RemoveScanFilter(filter);
    throw;
  }
  CheckResult(RemoveScanFilter(filter));
  return code == 0;
}

bool TDataSet::Locate(const std::string& keyFields, const Variant& keyValues, TLocateOptions options) {
  const bool found = LocateRecord(keyFields, keyValues, options, true);
  if (found) Resync(true, true);
  return found;
}

Variant TDataSet::Lookup(const std::string& keyFields, const Variant& keyValues, const std::string& resultFields) {
  if (!LocateRecord(keyFields, keyValues, 0, false)) return Variant::Null();
  std::uint8_t* work = Buffer(bufferCount_);
  const std::vector<TField*> results = KeyFieldList(resultFields);
  CalculateFields(work);
  TTempBuffer temp(state_, calcBuffer_, TDataSetState::dsCalcFields, work);
  if (results.size() == 1) return results[0]->GetValue();
  std::vector<Variant> values;
  for (TField* field : results) values.push_back(field->GetValue());
  return Variant::Array(std::move(values));
}

}  // namespace kavrin::classlib
