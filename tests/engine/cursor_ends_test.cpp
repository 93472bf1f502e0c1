// The cursor at either end of the table: inserts made there, and changes another process makes while
// the cursor stands there.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/data_file.h"
#include "engine/engine_error.h"
#include "engine/memory_files.h"
#include "tests/engine/table_fixture.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::engine {
namespace {

using testing::Field;
using testing::Index;

class CursorEndsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MemoryFiles().Clear();
    NewTable("ENDS.DAT");
  }
  void NewTable(const std::string& name) {
    path = dir.PathOf(name);
    testing::CreateTableAt(path, {Field(1, "ID", ftInteger), Field(2, "Name", ftString, 10)}, {Index("", {1}, true)});
  }

  void Open(TDataFile& table, bool exclusive = false) {
    table.SetExclusive(exclusive);
    table.SetFileName(path);
    table.Open();
  }
  static std::vector<std::uint8_t> Image(TDataFile& table, std::int32_t id, const char* name = "x") {
    std::vector<std::uint8_t> image(table.RecordSize());
    table.InitRecord(image.data());
    table.SetField(1, image.data(), &id);
    table.SetField(2, image.data(), name);
    return image;
  }
  static void Insert(TDataFile& table, std::int32_t id) {
    auto image = Image(table, id);
    table.InsertRecord(image.data());
  }
  static std::int32_t IdOf(TDataFile& table, const std::vector<std::uint8_t>& image) {
    std::int32_t id = 0;
    bool isNull = true;
    table.GetField(1, image.data(), isNull, &id);
    return isNull ? -1 : id;
  }
  static std::string NameOf(TDataFile& table, const std::vector<std::uint8_t>& image) {
    char name[11] = {};
    bool isNull = true;
    table.GetField(2, image.data(), isNull, name);
    return name;
  }
  // The ids met by stepping with next (or prior) from where the cursor stands to the end.
  static std::vector<std::int32_t> Steps(TDataFile& table, bool forward) {
    std::vector<std::int32_t> ids;
    std::vector<std::uint8_t> buffer(table.RecordSize());
    while ((forward ? table.Next(buffer.data()) : table.Prior(buffer.data())) == ec::Success) {
      ids.push_back(IdOf(table, buffer));
    }
    return ids;
  }

  // Runs change in a second process on its own cursor of the table and waits for it.
  void InOtherProcess(const std::function<void(TDataFile&)>& change) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      int status = 1;
      try {
        TDataFile other;
        Open(other);
        change(other);
        other.Close();
        status = 0;
      } catch (...) {
      }
      _exit(status);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  kavrin::testing::TempDir dir;
  std::string path;
};

TEST_F(CursorEndsTest, TheInsertedRecordIsCurrentWhereverTheCursorStood) {
  struct Case {
    const char* name;
    std::vector<std::int32_t> before;
    std::function<void(TDataFile&)> place;
    std::int32_t inserted;
  };
  const std::vector<Case> cases{
      {"empty table", {}, [](TDataFile&) {}, 5},
      {"empty table after the end", {}, [](TDataFile& t) { t.GotoEOF(); }, 5},
      {"first record, cursor before the first", {10, 20}, [](TDataFile& t) { t.GotoBOF(); }, 5},
      {"last record, cursor after the last", {10, 20}, [](TDataFile& t) { t.GotoEOF(); }, 30},
      {"first record, cursor after the last", {10, 20}, [](TDataFile& t) { t.GotoEOF(); }, 5},
      {"last record, cursor before the first", {10, 20}, [](TDataFile& t) { t.GotoBOF(); }, 30},
      {"between, cursor on a record",
       {10, 20},
       [](TDataFile& t) {
         t.GotoBOF();
         t.Next(nullptr);
       },
       15},
  };
  int tables = 0;
  for (const bool exclusive : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (exclusive ? ", exclusive" : ", shared"));
      NewTable("T" + std::to_string(++tables) + ".DAT");
      TDataFile table;
      Open(table, exclusive);
      for (std::int32_t id : c.before) Insert(table, id);
      c.place(table);
      Insert(table, c.inserted);
      std::vector<std::uint8_t> current(table.RecordSize());
      ASSERT_EQ(table.GetCurrent(current.data(), true), ec::Success);
      EXPECT_EQ(IdOf(table, current), c.inserted);
      auto changed = Image(table, c.inserted, "changed");
      table.UpdateRecord(changed.data(), true);
      ASSERT_EQ(table.GetCurrent(current.data(), false), ec::Success);
      EXPECT_EQ(NameOf(table, current), "changed");
      table.Close();
    }
  }
}

TEST_F(CursorEndsTest, ACursorAtAnEndStaysThereWhenAnotherProcessChangesTheTable) {
  TDataFile table;
  Open(table);
  for (std::int32_t id : {10, 20, 30}) Insert(table, id);

  // Before the first record: a new first record, and the old first one, are both still ahead.
  table.GotoBOF();
  InOtherProcess([](TDataFile& other) { Insert(other, 5); });
  EXPECT_EQ(table.GetCurrent(nullptr, false), ec::BeginningOfFile);
  EXPECT_EQ(Steps(table, true), (std::vector<std::int32_t>{5, 10, 20, 30}));

  // After the last record, the mirror.
  table.GotoEOF();
  InOtherProcess([](TDataFile& other) { Insert(other, 40); });
  EXPECT_EQ(table.GetCurrent(nullptr, false), ec::EndOfFile);
  EXPECT_EQ(Steps(table, false), (std::vector<std::int32_t>{40, 30, 20, 10, 5}));

  // The first record goes and another comes before it.
  table.GotoBOF();
  InOtherProcess([](TDataFile& other) {
    other.GotoBOF();
    other.Next(nullptr);
    other.DeleteRecord();
    Insert(other, 1);
  });
  EXPECT_EQ(Steps(table, true), (std::vector<std::int32_t>{1, 10, 20, 30, 40}));

  // A range keeps its ends the same way.
  auto low = Image(table, 10), high = Image(table, 30);
  table.SetRange(false, low.data(), 1, high.data(), 1);
  table.GotoBOF();
  InOtherProcess([](TDataFile& other) { Insert(other, 15); });
  EXPECT_EQ(Steps(table, true), (std::vector<std::int32_t>{10, 15, 20, 30}));
  table.GotoEOF();
  InOtherProcess([](TDataFile& other) { Insert(other, 25); });
  EXPECT_EQ(Steps(table, false), (std::vector<std::int32_t>{30, 25, 20, 15, 10}));
}

}  // namespace
}  // namespace kavrin::engine
