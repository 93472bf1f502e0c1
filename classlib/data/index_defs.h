// TIndexDef and TIndexDefs: the definitions of a table's indexes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kavrin::classlib {

class TDataSet;

enum TIndexOption : std::uint8_t {
  ixPrimary = 1,
  ixUnique = 2,
  ixDescending = 4,
  ixCaseInsensitive = 8,
  ixExpression = 16,
};
using TIndexOptions = std::uint8_t;

class TIndexDef {
 public:
  TIndexDef(std::string name, std::string fields, TIndexOptions options)
      : name_(std::move(name)), fields_(std::move(fields)), options_(options) {}
  const std::string& Name() const { return name_; }
  // Key field names joined by ';'.
  const std::string& Fields() const { return fields_; }
  TIndexOptions Options() const { return options_; }
  bool Has(TIndexOption option) const { return (options_ & option) != 0; }

 private:
  std::string name_;
  std::string fields_;
  TIndexOptions options_;
};

class TIndexDefs {
 public:
  // The dataset's UpdateIndexDefs reads them when Update is called.
  explicit TIndexDefs(TDataSet* dataSet = nullptr) : dataSet_(dataSet) {}
  int Count() const { return static_cast<int>(items_.size()); }
  TIndexDef& Items(int index) const { return *items_.at(static_cast<std::size_t>(index)); }
  TIndexDef& operator[](int index) const { return Items(index); }
  void Clear() { items_.clear(); }
  TIndexDef& Add(std::string name, std::string fields, TIndexOptions options);
  void Assign(const TIndexDefs& other);
  int IndexOf(std::string_view name) const;
  // "Index '%s' not found" when absent.
  TIndexDef& Find(std::string_view name) const;
  // The index for a field list: never an expression or descending index; with caseInsensitive only
  // case-insensitive ones; first an exact match of the field text, then one it begins. Null for none.
  TIndexDef* GetIndexForFields(std::string_view fields, bool caseInsensitive) const;
  void Update();
  bool Updated() const { return updated_; }
  void SetUpdated(bool updated) { updated_ = updated; }

 private:
  TDataSet* dataSet_;
  std::vector<std::unique_ptr<TIndexDef>> items_;
  bool updated_ = false;
};

}  // namespace kavrin::classlib
