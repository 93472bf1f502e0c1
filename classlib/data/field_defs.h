// TFieldDef and TFieldDefs: the definitions of a dataset's fields as its cursor gives them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "classlib/data/field_type.h"

namespace kavrin::classlib {

class TDataSet;
class TField;
class TComponent;
class TFieldDefs;
class FieldDescImage;

// "Invalid field size" unless the size suits the type.
void CheckFieldSize(TFieldType type, std::int32_t size);

class TFieldDef {
 public:
  // Checks the size and adds itself to owner.
  TFieldDef(TFieldDefs& owner, std::string name, TFieldType dataType, std::int32_t size, bool required,
            std::int32_t fieldNo);

  const std::string& Name() const { return name_; }
  TFieldType DataType() const { return dataType_; }
  std::int32_t Size() const { return size_; }
  bool Required() const { return required_; }
  std::int32_t FieldNo() const { return fieldNo_; }
  bool InternalCalcField() const { return internalCalcField_; }
  void SetInternalCalcField(bool calculated) { internalCalcField_ = calculated; }
  // A field object of the class for DataType, owned by owner, in dataset's fields.
  TField* CreateField(TComponent* owner, TDataSet* dataSet) const;

 private:
  std::string name_;
  TFieldType dataType_;
  std::int32_t size_;
  bool required_;
  std::int32_t fieldNo_;
  bool internalCalcField_ = false;
};

class TFieldDefs {
 public:
  explicit TFieldDefs(TDataSet* dataSet = nullptr) : dataSet_(dataSet) {}
  int Count() const { return static_cast<int>(items_.size()); }
  TFieldDef& Items(int index) const { return *items_.at(static_cast<std::size_t>(index)); }
  TFieldDef& operator[](int index) const { return Items(index); }
  void Clear() { items_.clear(); }
  TFieldDef& Add(std::string name, TFieldType dataType, std::int32_t size = 0, bool required = false);
  void Assign(const TFieldDefs& other);
  // Without regard to case; -1 when absent.
  int IndexOf(std::string_view name) const;
  // "Field '%s' not found" when absent.
  TFieldDef& Find(std::string_view name) const;
  // Reads the definitions afresh from the dataset.
  void Update();
  // A definition from the engine's field record; none for a type the class library lacks.
  void AddFieldDesc(const FieldDescImage& image, bool required, std::int32_t fieldNo);

 private:
  friend class TFieldDef;
  TDataSet* dataSet_;
  std::vector<std::unique_ptr<TFieldDef>> items_;
};

// The field type of an engine type and subtype (ftUnknown for none) and the definition's size.
TFieldType FieldTypeOfEngine(std::uint16_t type, std::uint16_t subtype);

}  // namespace kavrin::classlib
