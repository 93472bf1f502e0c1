#include <algorithm>
#include <functional>

#include "tests/dataset/dataset_fixture.h"

namespace kavrin::dataset::testing {
namespace {

// The rows a grid of four sees against a plain walk of the cursor's records in index order.
class RecordWindowTest : public DataSetTest {
 protected:
  void SetUp() override {
    Create("WALK", {Field(1, "ID", engine::ftInteger), Field(2, "Name", engine::ftString, 10)}, {Index("", {1}, true)});
    table = Table("WALK");
    table->Open();
    for (int id = 10; id <= 100; id += 10) {
      table->Append();
      table->FieldByName("ID")->SetAsInteger(id);
      table->Post();
    }
    source.SetDataSet(table.get());
    link.SetDataSource(&source);
    for (int id = 10; id <= 100; id += 10) ids.push_back(id);
  }

  // Where the model stands: the position in ids and the BOF and EOF flags.
  void Expect(std::size_t position, bool bof, bool eof, const char* step) {
    SCOPED_TRACE(step);
    const std::vector<int> rows = link.Rows("ID");
    ASSERT_EQ(rows.size(), std::min<std::size_t>(4, ids.size()));
    auto start = std::find(ids.begin(), ids.end(), rows.front());
    ASSERT_NE(start, ids.end());
    ASSERT_LE(static_cast<std::size_t>(start - ids.begin()) + rows.size(), ids.size());
    EXPECT_TRUE(std::equal(rows.begin(), rows.end(), start)) << "the rows are consecutive records";
    EXPECT_EQ(rows[static_cast<std::size_t>(link.ActiveRecord())], ids[position]);
    EXPECT_EQ(table->FieldByName("ID")->AsInteger(), ids[position]);
    EXPECT_EQ(table->RecNo(), static_cast<std::int32_t>(position) + 1);
    EXPECT_EQ(table->GetRecordNumber(), static_cast<std::int32_t>(position) + 1);
    EXPECT_EQ(table->Bof(), bof);
    EXPECT_EQ(table->Eof(), eof);
  }

  std::unique_ptr<TKAVRINTable> table;
  classlib::TDataSource source;
  RecordingLink link{4};
  std::vector<int> ids;
};

TEST_F(RecordWindowTest, NavigationMatchesAPlainWalk) {
  EXPECT_EQ(table->BufferCount(), 4);
  table->First();
  Expect(0, true, false, "First");
  EXPECT_EQ(table->MoveBy(2), 2);
  Expect(2, false, false, "MoveBy 2");
  EXPECT_EQ(table->MoveBy(5), 5);
  Expect(7, false, false, "MoveBy 5");
  EXPECT_EQ(table->MoveBy(-6), -6);
  Expect(1, false, false, "MoveBy -6");
  EXPECT_EQ(table->MoveBy(-5), -1);
  Expect(0, true, false, "MoveBy -5 stops at the first");
  table->Last();
  Expect(9, false, true, "Last");
  table->Next();
  Expect(9, false, true, "Next at the end");
  EXPECT_EQ(table->MoveBy(-3), -3);
  Expect(6, false, false, "MoveBy -3");
  EXPECT_EQ(table->MoveBy(20), 3);
  Expect(9, false, true, "MoveBy 20");
  table->Prior();
  Expect(8, false, false, "Prior");
  EXPECT_GT(link.scrolls, 0);
}

TEST_F(RecordWindowTest, InsertPostCancelAndDeleteMatchAPlainWalk) {
  table->First();
  table->MoveBy(4);  // on 50
  table->Insert();
  EXPECT_EQ(table->RecNo(), -1);
  EXPECT_EQ(table->GetRecordNumber(), -1);
  EXPECT_EQ(table->BookmarkFlag(table->ActiveRecord()), classlib::bfInserted);
  table->FieldByName("ID")->SetAsInteger(45);
  table->Post();
  ids.insert(ids.begin() + 4, 45);
  Expect(4, false, false, "insert 45 and post");

  table->MoveBy(3);  // on 70
  table->Insert();
  table->FieldByName("ID")->SetAsInteger(999);
  table->Cancel();
  Expect(7, false, false, "insert and cancel");

  table->Edit();
  table->FieldByName("Name")->SetAsString("changed");
  table->Cancel();
  EXPECT_EQ(table->FieldByName("Name")->AsString(), "");
  Expect(7, false, false, "edit and cancel");

  table->Delete();
  ids.erase(ids.begin() + 7);
  Expect(7, false, false, "delete 70");

  table->Last();
  table->Delete();
  ids.pop_back();
  Expect(ids.size() - 1, false, false, "delete the last record");

  table->Append();
  table->FieldByName("ID")->SetAsInteger(500);
  table->Post();
  ids.push_back(500);
  Expect(ids.size() - 1, false, false, "append and post");

  // Inserting on the last row of a full window pushes that row out until the post.
  table->Last();
  table->Insert();
  EXPECT_EQ(table->ActiveRecord(), 3);
  table->FieldByName("ID")->SetAsInteger(95);
  table->Post();
  ids.insert(ids.end() - 1, 95);
  Expect(ids.size() - 2, false, false, "insert before the last row");
  EXPECT_EQ(table->RecordCount(), static_cast<std::int32_t>(ids.size()));
}

TEST_F(RecordWindowTest, AWiderLinkWidensTheWindowAroundTheActiveRecord) {
  table->First();
  table->MoveBy(5);
  RecordingLink wide(7);
  wide.SetDataSource(&source);
  EXPECT_EQ(table->BufferCount(), 7);
  EXPECT_EQ(table->FieldByName("ID")->AsInteger(), 60);
  const std::vector<int> rows = wide.Rows("ID");
  ASSERT_EQ(rows.size(), 7u);
  EXPECT_EQ(rows[static_cast<std::size_t>(wide.ActiveRecord())], 60);
  wide.SetDataSource(nullptr);
  EXPECT_EQ(table->BufferCount(), 4);
  EXPECT_EQ(table->FieldByName("ID")->AsInteger(), 60);
}

TEST_F(RecordWindowTest, BookmarksReturnToTheirRecord) {
  table->First();
  table->MoveBy(6);
  const classlib::TBookmark mark = table->GetBookmark();
  ASSERT_FALSE(mark.empty());
  table->First();
  table->GotoBookmark(mark);
  EXPECT_EQ(table->FieldByName("ID")->AsInteger(), 70);
  table->SetBookmarkStr(std::string(mark.begin(), mark.end()));
  EXPECT_EQ(table->GetBookmarkStr(), std::string(mark.begin(), mark.end()));
  table->Insert();
  EXPECT_TRUE(table->GetBookmark().empty());  // a row being inserted has no bookmark
  table->Cancel();
  EXPECT_EQ(DatabaseMessageOf([&] { table->GotoBookmark({1, 2}); }), "Invalid bookmark");
  table->SetRecordNumber(3);
  EXPECT_EQ(table->FieldByName("ID")->AsInteger(), 30);
}

// A record position reached through TDataSet's own member, as a grid asks for it: the table's cursor
// jumps there, the framework's own way walks there, and both show the same row in a whole window.
TEST_F(RecordWindowTest, SetRecNoReachesThePositionByJumpOrByWalk) {
  struct Way {
    const char* name;  // fits the 10-character Name field
    std::function<void(classlib::TDataSet&, std::int32_t)> go;
  };
  const Way ways[] = {
      {"jump", [](classlib::TDataSet& ds, std::int32_t n) { ds.SetRecNo(n); }},
      {"walk", [](classlib::TDataSet& ds, std::int32_t n) { ds.TDataSet::SetRecNo(n); }},
  };
  for (const Way& way : ways) {
    SCOPED_TRACE(way.name);
    table->First();
    for (std::int32_t n : {8, 3, 10, 1, 6, 6}) {
      SCOPED_TRACE(n);
      way.go(*table, n);
      EXPECT_EQ(table->FieldByName("ID")->AsInteger(), 10 * n);
      EXPECT_EQ(table->RecNo(), n);
      EXPECT_EQ(table->GetRecordNumber(), n);
      const std::vector<int> rows = link.Rows("ID");
      ASSERT_EQ(rows.size(), 4u);
      for (std::size_t i = 1; i < rows.size(); ++i) EXPECT_EQ(rows[i], rows[i - 1] + 10) << "consecutive rows";
      EXPECT_EQ(rows[static_cast<std::size_t>(link.ActiveRecord())], 10 * n);
    }
    // A pending edit is posted before the move.
    table->Edit();
    table->FieldByName("Name")->SetAsString(way.name);
    way.go(*table, 2);
    EXPECT_EQ(table->State(), classlib::TDataSetState::dsBrowse);
    way.go(*table, 6);
    EXPECT_EQ(table->FieldByName("Name")->AsString(), way.name);
  }
}

TEST_F(RecordWindowTest, DisabledControlsHearOneChangeAtTheEnd) {
  const int before = link.changes + link.scrolls;
  table->DisableControls();
  table->First();
  table->MoveBy(3);
  table->Last();
  EXPECT_EQ(link.changes + link.scrolls, before);
  table->EnableControls();
  EXPECT_EQ(link.changes + link.scrolls, before + 1);
}

}  // namespace
}  // namespace kavrin::dataset::testing
