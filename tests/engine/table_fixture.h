// Small table definitions for the cursor tests.
#pragma once

#include <string>
#include <vector>

#include "engine/data_file.h"
#include "engine/data_file_format.h"
#include "engine/index_format.h"

namespace kavrin::engine::testing {

inline TFieldDescriptor Field(std::int16_t number, std::string name, std::uint8_t type, std::uint8_t size = 0,
                              std::uint8_t subtype = fstNone) {
  TFieldDescriptor field;
  field.FieldNumber = number;
  field.Name = std::move(name);
  field.Type = type;
  field.Size = size;
  field.Subtype = subtype;
  return field;
}

inline TIndexDescriptor Index(std::string name, std::vector<std::int16_t> keyFields, bool unique = false,
                              bool caseInsensitive = false, bool descending = false) {
  TIndexDescriptor index;
  index.Name = std::move(name);
  for (std::size_t i = 0; i < keyFields.size() && i < index.KeyFields.size(); ++i) index.KeyFields[i] = keyFields[i];
  index.Unique = unique;
  index.CaseInsensitive = caseInsensitive;
  index.Descending = descending;
  return index;
}

// ID integer (primary key), Name string 20, Amount BCD 2.
inline std::vector<TFieldDescriptor> SimpleFields() {
  std::vector<TFieldDescriptor> fields{Field(1, "ID", ftInteger), Field(2, "Name", ftString, 20),
                                       Field(3, "Amount", ftBCD)};
  fields[2].Decimals = 2;
  return fields;
}

inline std::vector<TIndexDescriptor> SimpleIndexes() { return {Index("", {1}, true)}; }

// Creates a table at path (closed afterwards) with the given definition.
inline void CreateTableAt(const std::string& path, std::vector<TFieldDescriptor> fields,
                          std::vector<TIndexDescriptor> indexes, bool inMemory = false, std::string password = {},
                          std::uint16_t blockSize = 512) {
  TDataFile table;
  table.SetInMemory(inMemory);
  table.SetExclusive(true);
  table.SetFileName(path);
  table.CreateTable(!password.empty(), password, std::move(indexes), std::move(fields), blockSize, "test table");
}

}  // namespace kavrin::engine::testing
