#include <cstring>
#include <functional>

#include "classlib/data/bookmark_list.h"
#include "classlib/data/numeric_fields.h"
#include "classlib/data/string_field.h"
#include "classlib/data/variant.h"
#include "engine/data_file.h"
#include "engine/error_codes.h"
#include "platform/win_file.h"
#include "tests/dataset/dataset_fixture.h"

namespace kavrin::dataset::testing {

namespace {

namespace cl = kavrin::classlib;
namespace en = kavrin::engine;

// Fails the failAt-th read made while when() holds; reads counts them.
void FailNthRead(int failAt, int& reads, std::function<bool()> when) {
  platform::SetFileFaultHook(
      [failAt, &reads, when = std::move(when)](platform::FileOp op, const std::string&) -> platform::DWORD {
        if (op != platform::FileOp::Read || !when()) return 0;
        return ++reads == failAt ? platform::ERROR_GEN_FAILURE : 0;
      });
}

struct Person {
  int id;
  const char* name;
  const char* city;
  int score;
};

// Names and cities carry upper-half characters, so keys compare stored CP437 bytes.
const Person kPeople[] = {
    {1, "anna", "Zürich", 50}, {2, "Bert", "Bern", 20}, {3, "carl", "Zürich", 90},  {4, "Dora", "Århus", 70},
    {5, "Émile", "Bern", 20},  {6, "frida", "Zug", 10}, {7, "Gösta", "Zürich", 30}, {8, "hans", "Bern", 60},
};

class SearchTest : public DataSetTest {
 protected:
  void SetUp() override {
    Create("PEOPLE",
           {Field(1, "ID", en::ftInteger), Field(2, "Name", en::ftString, 20), Field(3, "City", en::ftString, 20),
            Field(4, "Score", en::ftInteger)},
           {Index("", {1}, true), Index("ByName", {2}, false, true), Index("ByCityName", {3, 2}),
            Index("ByScoreDesc", {4}, false, false, true), Index("ByNameCase", {2})});
    auto writer = Table("PEOPLE");
    writer->Open();
    for (const Person& p : kPeople) {
      writer->Append();
      writer->FieldByName("ID")->SetAsInteger(p.id);
      writer->FieldByName("Name")->SetAsString(p.name);
      writer->FieldByName("City")->SetAsString(p.city);
      writer->FieldByName("Score")->SetAsInteger(p.score);
      writer->Post();
    }
    writer->Close();
    table = Table("PEOPLE");
    source.SetDataSet(table.get());
    link.SetDataSource(&source);
  }
  void TearDown() override {
    link.SetDataSource(nullptr);
    source.SetDataSet(nullptr);
    table.reset();
    DataSetTest::TearDown();
  }
  int Id() { return table->FieldByName("ID")->AsInteger(); }
  std::vector<int> AllIds() {
    std::vector<int> ids;
    for (table->First(); !table->Eof(); table->Next()) ids.push_back(Id());
    return ids;
  }

  std::unique_ptr<TKAVRINTable> table;
  cl::TDataSource source;
  RecordingLink link{3};
};

TEST_F(SearchTest, KeySearchAsATable) {
  struct Case {
    const char* index;
    std::vector<const char*> values;  // one per key field written
    int fieldCount;                   // the key buffer's field count (0 all)
    bool nearest;
    bool found;
    int id;  // record that is current afterwards
  } cases[] = {
      {"", {"5"}, 0, false, true, 5},
      {"", {"42"}, 0, false, false, 0},
      {"", {"0"}, 0, true, false, 1},                 // nearest before the first key
      {"", {"99"}, 0, true, false, 8},                // nearest after the last key rests on the last
      {"ByName", {"DORA"}, 0, false, true, 4},        // case-insensitive index
      {"ByCityName", {"Zürich"}, 1, false, true, 7},  // case-sensitive: "Gösta" sorts before "anna"
      {"ByCityName", {"Zürich", "carl"}, 0, false, true, 3},
      {"ByCityName", {"Zürich", "Gösta"}, 2, false, true, 7},
      {"ByCityName", {"Bern", "zz"}, 0, true, false, 5},  // "Émile" is stored as 0x90, after "zz"
      {"ByScoreDesc", {"60"}, 0, false, true, 8},
      {"ByScoreDesc", {"55"}, 0, true, false, 1},  // descending: the next key below 55 is 50
  };
  table->Open();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.index) + " " + c.values[0]);
    table->SetIndexName(c.index);
    table->First();
    table->SetKey();
    std::vector<std::string> names;
    if (std::string(c.index).empty())
      names = {"ID"};
    else if (std::string(c.index) == "ByName" || std::string(c.index) == "ByNameCase")
      names = {"Name"};
    else if (std::string(c.index) == "ByCityName")
      names = {"City", "Name"};
    else
      names = {"Score"};
    for (std::size_t i = 0; i < c.values.size(); ++i) table->FieldByName(names[i])->SetAsString(c.values[i]);
    if (c.fieldCount) table->SetKeyFieldCount(c.fieldCount);
    table->Post();
    if (c.nearest) {
      table->GotoNearest();
      EXPECT_EQ(Id(), c.id);
    } else {
      const int before = Id();
      EXPECT_EQ(table->GotoKey(), c.found);
      EXPECT_EQ(Id(), c.found ? c.id : before);
    }
    EXPECT_EQ(table->State(), cl::TDataSetState::dsBrowse);
  }
}

TEST_F(SearchTest, KeyFieldCountOutsideSetKeyStateAndCancelRestoresTheKey) {
  table->Open();
  EXPECT_EQ(DatabaseMessageOf([&] { table->SetKeyFieldCount(1); }), "Dataset not in edit or insert mode");
  table->SetKey();
  table->FieldByName("ID")->SetAsInteger(3);
  table->Post();
  table->EditKey();
  table->FieldByName("ID")->SetAsInteger(7);
  table->Cancel();
  EXPECT_TRUE(table->GotoKey());
  EXPECT_EQ(Id(), 3);
  table->SetKey();
  EXPECT_EQ(DatabaseMessageOf([&] { table->FieldByName("Name")->SetAsString("x"); }),
            "Field 'Name' is not indexed and cannot be modified");
  table->Cancel();
}

TEST_F(SearchTest, RangesAsATable) {
  struct Case {
    const char* index;
    const char* field;
    const char* start;  // null: not set
    const char* end;
    std::vector<int> ids;
  } cases[] = {
      {"", "ID", "3", "5", {3, 4, 5}},
      {"", "ID", "6", nullptr, {6, 7, 8}},
      {"", "ID", nullptr, "2", {1, 2}},
      {"ByScoreDesc", "Score", "60", "20", {8, 1, 7, 5, 2}},
      {"ByCityName", "City", "Bern", "Bern", {2, 8, 5}},  // one field of two: a prefix range
      {"ByName", "Name", "c", "E", {3, 4}},
  };
  table->Open();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.index) + " " + (c.start ? c.start : "-") + ".." + (c.end ? c.end : "-"));
    table->CancelRange();
    table->SetIndexName(c.index);
    if (c.start) {
      table->SetRangeStart();
      table->FieldByName(c.field)->SetAsString(c.start);
      if (std::string(c.index) == "ByCityName") table->SetKeyFieldCount(1);
      table->Post();
    } else {
      table->SetRangeStart();
      table->Post();
    }
    table->SetRangeEnd();
    if (c.end) {
      table->FieldByName(c.field)->SetAsString(c.end);
      if (std::string(c.index) == "ByCityName") table->SetKeyFieldCount(1);
    }
    table->Post();
    table->ApplyRange();
    EXPECT_EQ(AllIds(), c.ids);
  }
  table->CancelRange();
  EXPECT_EQ(AllIds().size(), 8u);
}

TEST_F(SearchTest, ApplyingAnUnchangedRangeAgainKeepsTheRecordAndCancelWithoutRangeDoesNothing) {
  table->Open();
  table->Next();
  link.changes = 0;
  table->CancelRange();  // no range: nothing re-read
  EXPECT_EQ(link.changes, 0);
  EXPECT_EQ(Id(), 2);
  table->SetRangeStart();
  table->FieldByName("ID")->SetAsInteger(2);
  table->Post();
  table->SetRangeEnd();
  table->FieldByName("ID")->SetAsInteger(6);
  table->Post();
  table->ApplyRange();
  EXPECT_EQ(Id(), 2);
  table->Next();
  table->Next();
  table->ApplyRange();  // same buffers: does not move to the first record
  EXPECT_EQ(Id(), 4);
  table->CancelRange();
  EXPECT_EQ(Id(), 4);
  EXPECT_EQ(table->RecordCount(), 8);
}

TEST_F(SearchTest, MasterLinkRangesTakeTheMasterFields) {
  table->SetIndexName("ByCityName");
  table->Open();
  auto master = Table("PEOPLE");
  master->SetIndexName("ByCityName");
  master->Open();
  master->Last();
  master->Prior();  // Zürich
  table->SetMasterLinkRanges({master->FieldByName("City")});
  EXPECT_EQ(table->State(), cl::TDataSetState::dsBrowse);
  table->ApplyRange();
  EXPECT_EQ(AllIds(), (std::vector<int>{7, 1, 3}));
}

TEST_F(SearchTest, FilterTextAndCallbackAsTables) {
  struct Case {
    const char* filter;
    cl::TFilterOptions options;
    std::vector<int> ids;
  } cases[] = {
      {"City = 'Bern'", 0, {2, 5, 8}},
      {"Score >= 60 and City <> 'Århus'", 0, {3, 8}},
      {"Name = 'A*'", cl::foCaseInsensitive, {1}},
      {"Name = 'A*'", static_cast<cl::TFilterOptions>(cl::foCaseInsensitive | cl::foNoPartialCompare), {}},
      {"City = 'zürich'", cl::foCaseInsensitive, {1, 3, 7}},
  };
  table->Open();
  table->SetFiltered(true);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.filter);
    table->SetFilterOptions(c.options);
    table->SetFilter(c.filter);
    EXPECT_EQ(AllIds(), c.ids);
  }
  table->SetFilter("");
  table->SetOnFilterRecord(
      [](cl::TDataSet& set, bool& accept) { accept = set.FieldByName("Score")->AsInteger() % 20 == 10; });
  EXPECT_EQ(AllIds(), (std::vector<int>{1, 3, 4, 6, 7}));
  table->SetFiltered(false);
  EXPECT_EQ(AllIds().size(), 8u);
  EXPECT_NE(DatabaseMessageOf([&] { table->SetFilter("Nme = 1"); }), "");
}

TEST_F(SearchTest, FindWithFilterTextAndWithCallbackLeavesFilteredOff) {
  table->SetFilter("City = 'Zürich'");
  table->Open();
  EXPECT_TRUE(table->FindFirst());
  EXPECT_EQ(Id(), 1);
  EXPECT_TRUE(table->FindNext());
  EXPECT_EQ(Id(), 3);
  EXPECT_TRUE(table->FindLast());
  EXPECT_EQ(Id(), 7);
  EXPECT_TRUE(table->FindPrior());
  EXPECT_EQ(Id(), 3);
  EXPECT_FALSE(table->Filtered());
  // The window shows every record, the filter applied only to the search.
  table->Next();
  EXPECT_EQ(Id(), 4);
  table->FindLast();
  EXPECT_FALSE(table->FindNext());
  EXPECT_EQ(Id(), 7);

  table->SetFilter("");
  table->SetOnFilterRecord(
      [](cl::TDataSet& set, bool& accept) { accept = set.FieldByName("City")->AsString() == "Bern"; });
  EXPECT_TRUE(table->FindFirst());
  EXPECT_EQ(Id(), 2);
  EXPECT_TRUE(table->FindNext());
  EXPECT_EQ(Id(), 5);
  EXPECT_TRUE(table->FindLast());
  EXPECT_EQ(Id(), 8);
  EXPECT_FALSE(table->Filtered());
  EXPECT_EQ(table->RecordCount(), 8);
}

TEST_F(SearchTest, AFindThatRaisesAtAnyReadSwitchesTheFiltersOffAgain) {
  table->SetFilter("City = 'Zürich'");
  table->SetOnFilterRecord([](cl::TDataSet& set, bool& accept) { accept = set.FieldByName("Id")->AsInteger() != 3; });
  table->Open();
  en::TDataFile* cursor = table->Handle();
  // Each round fails one more read of the find made while its filters are on; it ends with the first
  // round that gets through every read.
  bool raised = true;
  for (int failAt = 1; raised && failAt < 1000; ++failAt) {
    SCOPED_TRACE("read " + std::to_string(failAt));
    table->First();
    int reads = 0;
    bool counting = false;
    FailNthRead(failAt, reads, [&] { return counting; });
    counting = true;
    const int code = EngineCodeOf([&] { EXPECT_TRUE(table->FindLast()); });
    counting = false;
    platform::SetFileFaultHook(nullptr);
    raised = code != 0;
    if (!raised) {
      EXPECT_EQ(Id(), 7);
    }
    EXPECT_FALSE(cursor->FiltersActive());
    EXPECT_FALSE(table->Filtered());
    EXPECT_EQ(AllIds(), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8}));
  }
  EXPECT_FALSE(raised);
}

TEST_F(SearchTest, CallbackFilterReadsACalculatedFieldFromAWholeBuffer) {
  auto* doubled = new cl::TIntegerField(table.get());
  doubled->SetFieldName("Doubled");
  doubled->SetCalculated(true);
  doubled->SetDataSet(table.get());
  for (const char* name : {"ID", "Name", "City", "Score"}) {
    cl::TField* field = std::string(name) == "Name" || std::string(name) == "City"
                            ? static_cast<cl::TField*>(new cl::TStringField(table.get()))
                            : static_cast<cl::TField*>(new cl::TIntegerField(table.get()));
    field->SetFieldName(name);
    if (auto* s = dynamic_cast<cl::TStringField*>(field)) s->SetSize(20);
    field->SetDataSet(table.get());
  }
  table->OnCalcFields = [](cl::TDataSet& set) {
    set.FieldByName("Doubled")->SetAsInteger(set.FieldByName("Score")->AsInteger() * 2);
  };
  table->SetOnFilterRecord(
      [](cl::TDataSet& set, bool& accept) { accept = set.FieldByName("Doubled")->AsInteger() > 100; });
  table->SetFiltered(true);
  table->Open();
  EXPECT_EQ(AllIds(), (std::vector<int>{3, 4, 8}));
}

TEST_F(SearchTest, ACallbackThatRaisesGoesToTheHandlerAndKeepsTheRecord) {
  int shown = 0;
  cl::SetApplicationExceptionHandler([&](const std::exception&) { ++shown; });
  table->SetOnFilterRecord([](cl::TDataSet& set, bool&) {
    if (set.FieldByName("ID")->AsInteger() == 2) throw std::runtime_error("handler failed");
  });
  table->SetFiltered(true);
  table->Open();
  EXPECT_EQ(AllIds().size(), 8u);
  EXPECT_GT(shown, 0);
  cl::SetApplicationExceptionHandler(nullptr);
}

struct LocateCase {
  const char* name;
  const char* index;  // active index
  const char* fields;
  cl::Variant values;
  cl::TLocateOptions options;
  int id;  // 0: not found
};

TEST_F(SearchTest, LocateAndLookupOverTheThreePaths) {
  const LocateCase cases[] = {
      {"own cursor", "", "ID", cl::Variant(std::int32_t{6}), 0, 6},
      {"own cursor, miss", "", "ID", cl::Variant(std::int32_t{60}), 0, 0},
      {"own two-field prefix", "ByCityName", "City", cl::Variant("Århus"), 0, 4},
      {"own, partial non-ASCII", "ByCityName", "City;Name", cl::Variant::Array({"Zürich", "Gö"}), cl::loPartialKey, 7},
      {"lookup cursor", "", "City;Name", cl::Variant::Array({"Bern", "hans"}), 0, 8},
      {"lookup cursor, case-insensitive", "", "Name", cl::Variant("ÉMILE"), cl::loCaseInsensitive, 5},
      {"lookup cursor, partial", "", "Name", cl::Variant("fr"), cl::loPartialKey, 6},
      {"lookup cursor, case-sensitive miss", "", "Name", cl::Variant("DORA"), 0, 0},
      {"case-sensitive on a case-insensitive index", "ByName", "Name", cl::Variant("DORA"), 0, 0},
      {"case-sensitive on a case-insensitive index", "ByName", "Name", cl::Variant("Dora"), 0, 4},
      {"scan", "", "Score", cl::Variant(std::int32_t{70}), 0, 4},
      {"scan, two fields", "", "Score;City", cl::Variant::Array({std::int32_t{20}, "Bern"}), 0, 2},
      {"scan, case-insensitive partial", "", "City", cl::Variant("zü"), cl::loCaseInsensitive | cl::loPartialKey, 1},
      {"scan, partial counts stored bytes", "", "City;Score", cl::Variant::Array({"Zug", std::int32_t{10}}), 0, 6},
      {"scan, miss", "", "Score", cl::Variant(std::int32_t{71}), 0, 0},
  };
  for (bool exclusive : {false, true}) {
    table->Close();
    table->SetExclusive(exclusive);
    for (const LocateCase& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (exclusive ? " exclusive" : " shared"));
      table->SetIndexName(c.index);
      table->Open();
      table->First();
      table->Next();
      const int before = Id();
      const std::vector<int> window = link.Rows("ID");
      const std::string lookupFields = "Name;Score";
      const cl::Variant looked = table->Lookup(c.fields, c.values, lookupFields);
      EXPECT_EQ(Id(), before);
      EXPECT_EQ(link.Rows("ID"), window);
      const bool found = table->Locate(c.fields, c.values, c.options);
      EXPECT_EQ(found, c.id != 0);
      if (found) {
        EXPECT_EQ(Id(), c.id);
      } else {
        EXPECT_EQ(Id(), before);
        EXPECT_EQ(link.Rows("ID"), window);
      }
      if (c.options == 0 && c.id != 0) {
        ASSERT_TRUE(looked.IsArray());
        EXPECT_EQ(looked[1].AsInteger(), kPeople[c.id - 1].score);
        EXPECT_EQ(looked[0].AsString(), kPeople[c.id - 1].name);
      } else if (c.options == 0) {
        EXPECT_TRUE(looked.IsNull());
      }
      table->Close();
    }
  }
}

TEST_F(SearchTest, LocateKeepsFiltersAndFailuresLeaveEverythingAsItWas) {
  table->SetFilter("City <> 'Bern'");
  table->SetFiltered(true);
  table->Open();
  EXPECT_FALSE(table->Locate("Score", cl::Variant(std::int32_t{60}), 0));  // hans is filtered out
  EXPECT_TRUE(table->Locate("Score", cl::Variant(std::int32_t{70}), 0));
  EXPECT_EQ(Id(), 4);
  EXPECT_EQ(AllIds(), (std::vector<int>{1, 3, 4, 6, 7}));
  table->First();
  table->Next();
  EXPECT_EQ(DatabaseMessageOf([&] { table->Locate("Nope", cl::Variant(1), 0); }), "Field 'Nope' not found");
  EXPECT_EQ(Id(), 3);
  EXPECT_EQ(AllIds(), (std::vector<int>{1, 3, 4, 6, 7}));
  // The scan's temporary filter is gone: the cursor holds only the dataset's own filter.
  EXPECT_EQ(table->Handle()->FilterCount(), 1u);
}

TEST_F(SearchTest, AScanThatRaisesAtAnyReadRemovesItsFilterAndLeavesTheDataSetUsable) {
  table->Open();
  en::TDataFile* cursor = table->Handle();
  // Each round fails the next read of the scan made while a filter is on (switching its filter on,
  // its step, taking its filter off); it ends with the first round that gets through every read.
  bool raised = true;
  for (int failAt = 1; raised && failAt < 1000; ++failAt) {
    SCOPED_TRACE("read " + std::to_string(failAt));
    table->First();
    table->Next();
    int reads = 0;
    FailNthRead(failAt, reads, [&] { return cursor->FiltersActive(); });
    const int code = EngineCodeOf([&] { EXPECT_TRUE(table->Locate("Score", cl::Variant(std::int32_t{70}), 0)); });
    platform::SetFileFaultHook(nullptr);
    raised = reads >= failAt;
    EXPECT_EQ(code != 0, raised);
    EXPECT_EQ(cursor->FilterCount(), 0u);
    if (raised) {
      EXPECT_EQ(Id(), 2);
    }
    EXPECT_TRUE(table->Locate("Score", cl::Variant(std::int32_t{90}), 0));
    EXPECT_EQ(Id(), 3);
    EXPECT_EQ(AllIds(), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_FALSE(cursor->FiltersActive());
  }
  EXPECT_FALSE(raised);
}

TEST_F(SearchTest, LocateValuesTakeTheFieldsStoredFormWithTransliterationOff) {
  table->Open();
  auto* city = static_cast<cl::TStringField*>(table->FieldByName("City"));
  city->SetTransliterate(false);  // Windows-1252 in the file: "Ærø" fits there
  table->Append();
  table->FieldByName("ID")->SetAsInteger(9);
  table->FieldByName("City")->SetAsString("Ærø");
  table->FieldByName("Score")->SetAsInteger(5);
  table->Post();
  for (const char* index : {"", "ByCityName"}) {  // scan, then own cursor
    SCOPED_TRACE(index);
    table->SetIndexName(index);
    table->First();
    EXPECT_TRUE(table->Locate("City", cl::Variant("Ærø"), 0));
    EXPECT_EQ(Id(), 9);
    table->First();
    EXPECT_TRUE(table->Locate("City", cl::Variant("Æ"), cl::loPartialKey));  // one stored byte
    EXPECT_EQ(Id(), 9);
  }
  EXPECT_EQ(table->Lookup("Score;City", cl::Variant::Array({std::int32_t{5}, "Ærø"}), "ID").AsInteger(), 9);
}

TEST_F(SearchTest, GridBookmarksAreOrderedByTheEngine) {
  cl::TBookmarkList list(&source);
  // Empty bookmarks are answered without the engine, even on a closed dataset.
  EXPECT_EQ(list.CompareBookmarks("", "x"), 1);
  EXPECT_EQ(list.CompareBookmarks("x", ""), -1);
  EXPECT_EQ(list.CompareBookmarks("", ""), 0);
  for (const char* index : {"", "ByScoreDesc"}) {
    SCOPED_TRACE(index);
    table->SetIndexName(index);
    table->Open();
    ASSERT_TRUE(table->Locate("ID", cl::Variant(std::int32_t{3}), 0));  // score 90
    const std::string high = table->GetBookmarkStr();
    ASSERT_TRUE(table->Locate("ID", cl::Variant(std::int32_t{6}), 0));  // score 10
    const std::string low = table->GetBookmarkStr();
    // ID 3 comes before ID 6, and score 90 before score 10 in the descending index.
    EXPECT_EQ(list.CompareBookmarks(high, low), -1);
    EXPECT_EQ(list.CompareBookmarks(low, high), 1);
    EXPECT_EQ(list.CompareBookmarks(low, low), 0);
    EXPECT_EQ(DatabaseMessageOf([&] { list.CompareBookmarks(low.substr(1), high); }), "Invalid bookmark");
    table->Close();
  }
}

TEST_F(SearchTest, TableLockOnAClosedTable) {
  EXPECT_EQ(DatabaseMessageOf([&] { table->LockTable(TTable::TLockType::ltReadLock); }),
            "Cannot perform this operation on a closed dataset");
  table->Open();
  table->LockTable(TTable::TLockType::ltWriteLock);
  EXPECT_TRUE(table->TableLocked());
  table->UnlockTable(TTable::TLockType::ltWriteLock);
  EXPECT_FALSE(table->TableLocked());
}

}  // namespace
}  // namespace kavrin::dataset::testing
