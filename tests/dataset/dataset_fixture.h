// Tables on disk for the dataset tests, and a data link that shows what a grid would.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "classlib/data/data_link.h"
#include "classlib/data/data_source.h"
#include "classlib/data/field.h"
#include "dataset/kavrintb.h"
#include "engine/engine_error.h"
#include "tests/engine/table_fixture.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::dataset::testing {

using engine::testing::Field;
using engine::testing::Index;

// The engine code of the EDBEngineError that action raises; 0 for none, -1 for another exception.
int EngineCodeOf(const std::function<void()>& action);
// The message of the EDatabaseError that action raises; empty for none.
std::string DatabaseMessageOf(const std::function<void()>& action);

class DataSetTest : public ::testing::Test {
 protected:
  void TearDown() override;
  std::string PathOf(const std::string& name) const { return dir.PathOf(name); }
  void Create(const std::string& name, std::vector<engine::TFieldDescriptor> fields,
              std::vector<engine::TIndexDescriptor> indexes);
  // ID integer primary key, Name string 20: records 1..count named "R<n>".
  void CreatePeople(const std::string& name, int count);
  // A table component on the test directory, short lock waits; not opened.
  std::unique_ptr<TKAVRINTable> Table(const std::string& name);

  kavrin::testing::TempDir dir;
};

// A data link with a fixed window that records its notifications.
class RecordingLink : public classlib::TDataLink {
 public:
  explicit RecordingLink(int buffers) { SetBufferCount(buffers); }
  // The IDs of the rows this link shows, read through the field.
  std::vector<int> Rows(const char* fieldName);
  int changes = 0;
  int scrolls = 0;
  int activeChanges = 0;
  int editingChanges = 0;
  std::vector<std::string> updates;  // UpdateData calls

 protected:
  void ActiveChanged() override { ++activeChanges; }
  void DataSetChanged() override { ++changes; }
  void DataSetScrolled(int) override { ++scrolls; }
  void EditingChanged() override { ++editingChanges; }
  void UpdateData() override { updates.push_back("update"); }
};

}  // namespace kavrin::dataset::testing
