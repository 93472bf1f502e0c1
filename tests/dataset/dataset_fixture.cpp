#include "tests/dataset/dataset_fixture.h"

#include "classlib/data/session.h"

namespace kavrin::dataset::testing {

int EngineCodeOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const engine::EDBEngineError& e) {
    return e.Code();
  } catch (...) {
    return -1;
  }
  return 0;
}

std::string DatabaseMessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const engine::EDatabaseError& e) {
    return e.what();
  }
  return {};
}

void DataSetTest::TearDown() { classlib::DBFinalization(); }

void DataSetTest::Create(const std::string& name, std::vector<engine::TFieldDescriptor> fields,
                         std::vector<engine::TIndexDescriptor> indexes) {
  engine::testing::CreateTableAt(PathOf(name), std::move(fields), std::move(indexes));
}

void DataSetTest::CreatePeople(const std::string& name, int count) {
  Create(name, {Field(1, "ID", engine::ftInteger), Field(2, "Name", engine::ftString, 20)}, {Index("", {1}, true)});
  engine::TDataFile table;
  table.SetFileName(PathOf(name));
  table.Open();
  std::vector<std::uint8_t> image(table.RecordSize());
  for (int n = 1; n <= count; ++n) {
    table.InitRecord(image.data());
    const std::int32_t id = n;
    table.SetField(1, image.data(), &id);
    const std::string text = "R" + std::to_string(n);
    table.SetField(2, image.data(), text.c_str());
    table.InsertRecord(image.data());
  }
  table.Close();
}

std::unique_ptr<TKAVRINTable> DataSetTest::Table(const std::string& name) {
  auto table = std::make_unique<TKAVRINTable>();
  table->SetDatabaseName(dir.Path());
  table->SetTableName(name);
  table->SetLockRetryCount(0);
  table->SetLockWaitTime(1);
  return table;
}

std::vector<int> RecordingLink::Rows(const char* fieldName) {
  std::vector<int> rows;
  if (!Active()) return rows;
  const int saved = ActiveRecord();
  for (int i = 0; i < RecordCount(); ++i) {
    SetActiveRecord(i);
    rows.push_back(DataSet()->FieldByName(fieldName)->AsInteger());
  }
  SetActiveRecord(saved);
  return rows;
}

}  // namespace kavrin::dataset::testing
