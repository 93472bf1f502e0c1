#include "classlib/data/index_defs.h"

#include "classlib/data/data_set.h"
#include "classlib/data/exceptions.h"
#include "runtime/code_pages.h"

namespace kavrin::classlib {

TIndexDef& TIndexDefs::Add(std::string name, std::string fields, TIndexOptions options) {
  items_.push_back(std::make_unique<TIndexDef>(std::move(name), std::move(fields), options));
  return *items_.back();
}

void TIndexDefs::Assign(const TIndexDefs& other) {
  if (&other == this) return;
  Clear();
  for (int i = 0; i < other.Count(); ++i) Add(other[i].Name(), other[i].Fields(), other[i].Options());
}

int TIndexDefs::IndexOf(std::string_view name) const {
  for (int i = 0; i < Count(); ++i) {
    if (runtime::SameDescriptorName(items_[static_cast<std::size_t>(i)]->Name(), name)) return i;
  }
  return -1;
}

TIndexDef& TIndexDefs::Find(std::string_view name) const {
  const int at = IndexOf(name);
  if (at < 0) DatabaseError(FormatMessage("Index '%s' not found", {std::string(name)}));
  return Items(at);
}

TIndexDef* TIndexDefs::GetIndexForFields(std::string_view fields, bool caseInsensitive) const {
  auto qualifies = [&](const TIndexDef& index) {
    if (index.Has(ixExpression) || index.Has(ixDescending)) return false;
    return !caseInsensitive || index.Has(ixCaseInsensitive);
  };
  for (const auto& index : items_) {
    if (qualifies(*index) && runtime::SameDescriptorName(index->Fields(), fields)) return index.get();
  }
  for (const auto& index : items_) {
    if (!qualifies(*index)) continue;
    const std::string& text = index->Fields();
    if (text.size() > fields.size() &&
        runtime::SameDescriptorName(std::string_view(text).substr(0, fields.size()), fields) &&
        text[fields.size()] == ';') {
      return index.get();
    }
  }
  return nullptr;
}

void TIndexDefs::Update() {
  if (dataSet_) dataSet_->UpdateIndexDefs();
}

}  // namespace kavrin::classlib
