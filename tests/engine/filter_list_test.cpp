// A cursor's filter list and record bitmap: handles and their errors, the combined level, ranges and
// deleted records in the bitmap whichever side is walked, navigation and changes over it, cloning,
// closing, rollback, and another process's changes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "classlib/expr_parser.h"
#include "engine/data_file.h"
#include "engine/index_file.h"
#include "platform/win_file.h"
#include "runtime/format_settings.h"
#include "tests/engine/error_code_of.h"
#include "tests/engine/filter_test_support.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::engine {
namespace {

using testing::Ids;

constexpr TComplementRule kRules[] = {TComplementRule::SmallerSide, TComplementRule::Always, TComplementRule::Never};

std::int32_t OddRecords(std::uint32_t, std::uint8_t*, std::int32_t record) { return record % 2; }

class FilterListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    runtime::ResetFormatSettings();
    path_ = dir_.PathOf("PEOPLE.DAT");
    testing::CreateTableAt(path_, testing::PeopleFields(), testing::PeopleIndexes());
    Open(table_);
    for (const auto& person : testing::People()) testing::InsertPerson(table_, person);
  }

  void Open(TDataFile& table) {
    table.SetFileName(path_);
    table.Open();
  }

  TFilterHandle Add(TDataFile& table, const std::string& text) {
    return table.AddFilter(0, testing::ParseFilter(table, text), nullptr);
  }

  std::vector<std::int32_t> Walk(TDataFile& table) { return testing::WalkIds(table); }

  std::int32_t CurrentId(TDataFile& table) {
    std::vector<std::uint8_t> buffer(table.RecordSize());
    if (table.GetCurrent(buffer.data(), false) != ec::Success) return 0;
    std::int32_t id = 0;
    bool isNull = true;
    table.GetField(1, buffer.data(), isNull, &id);
    return id;
  }

  bool Find(TDataFile& table, std::int32_t id) {
    table.SelectIndex(0);
    std::vector<std::uint8_t> image(table.RecordSize());
    table.InitRecord(image.data());
    table.SetField(1, image.data(), &id);
    return table.FindKey(false, image.data(), nullptr, 0, false, 0);
  }

  void SetQty(TDataFile& table, std::int32_t id, std::int32_t qty) {
    ASSERT_TRUE(Find(table, id));
    std::vector<std::uint8_t> image(table.RecordSize());
    table.GetCurrent(image.data(), true);
    table.SetField(4, image.data(), &qty);
    table.UpdateRecord(image.data(), true);
  }

  // The descending Qty index with the range Qty 7 down to 0.
  void SelectQtyDownFrom7To0() {
    table_.SelectIndexByName("ByQtyDown");
    std::vector<std::uint8_t> start(table_.RecordSize()), end(table_.RecordSize());
    table_.InitRecord(start.data());
    table_.InitRecord(end.data());
    const std::int32_t high = 7, low = 0;
    table_.SetField(4, start.data(), &high);
    table_.SetField(4, end.data(), &low);
    table_.SetRange(false, start.data(), 1, end.data(), 1);
  }

  kavrin::testing::TempDir dir_;
  std::string path_;
  TDataFile table_;
};

TEST_F(FilterListTest, OnlyAnActiveExpressionFilterMakesABitmap) {
  TIndexFile& index = table_.IndexFile();
  EXPECT_EQ(index.CursorBitmap(), nullptr);
  EXPECT_TRUE(index.BitTest(3));  // no filter at all: every record passes
  EXPECT_EQ(table_.FilterOptimizeLevel(), 2);

  const TFilterHandle handle = Add(table_, "Qty > 5");
  EXPECT_EQ(index.CursorBitmap(), nullptr);  // added inactive
  EXPECT_FALSE(table_.FiltersActive());
  EXPECT_EQ(table_.RecordCount(), 10);

  ASSERT_EQ(table_.ActivateFilter(handle), ec::Success);
  ASSERT_NE(index.CursorBitmap(), nullptr);
  EXPECT_TRUE(table_.FiltersActive());
  EXPECT_EQ(index.CursorBitmap()->Length(), 2);  // ten slots: record 8 is bit 0 of byte 1
  EXPECT_EQ(table_.RecordCount(), 2);
  EXPECT_EQ(Walk(table_), (std::vector<std::int32_t>{2, 6}));

  // Record n is bit n mod 8 of byte n div 8.
  const TFilterHandle fives = Add(table_, "Qty = 5");
  ASSERT_EQ(table_.DeactivateFilter(handle), ec::Success);
  ASSERT_EQ(table_.ActivateFilter(fives), ec::Success);
  EXPECT_EQ(index.CursorBitmap()->Byte(0), 0b1010);  // records 1 and 3
  EXPECT_EQ(index.CursorBitmap()->Byte(1), 0b11);    // records 8 and 9
  ASSERT_EQ(table_.RemoveFilter(fives), ec::Success);
  ASSERT_EQ(table_.ActivateFilter(handle), ec::Success);

  // The record callback is no expression filter: alone it leaves the cursor without a bitmap.
  table_.AddFilter(0, {}, OddRecords);
  ASSERT_EQ(table_.ActivateFilter(RecordCallbackHandle), ec::Success);
  ASSERT_EQ(table_.DeactivateFilter(handle), ec::Success);
  EXPECT_EQ(index.CursorBitmap(), nullptr);
  EXPECT_FALSE(table_.FiltersActive());
  EXPECT_EQ(Walk(table_), (std::vector<std::int32_t>{1, 3, 5, 7, 9}));
}

TEST_F(FilterListTest, HandlesAreNeverGivenTwiceAndUnknownOnesAreRefused) {
  const auto block = testing::ParseFilter(table_, "Qty > 5");
  std::set<TFilterHandle> handles;
  for (std::size_t i = 0; i < MaxExpressionFilters; ++i) handles.insert(table_.AddFilter(0, block, nullptr));
  EXPECT_EQ(handles.size(), MaxExpressionFilters);
  EXPECT_EQ(handles.count(AllFilters) + handles.count(RecordCallbackHandle), 0u);
  EXPECT_EQ(testing::ErrorCodeOf([&] { table_.AddFilter(0, block, nullptr); }), ec::TooManyFilters);
  EXPECT_EQ(testing::ErrorCodeOf([&] { table_.AddFilter(0, {}, OddRecords); }), ec::TooManyFilters);
  EXPECT_EQ(table_.FilterCount(), MaxExpressionFilters);

  const TFilterHandle dropped = *handles.begin();
  EXPECT_EQ(table_.RemoveFilter(dropped), ec::Success);
  EXPECT_EQ(table_.RemoveFilter(dropped), ec::InvalidFilterHandle);
  EXPECT_EQ(table_.ActivateFilter(dropped), ec::InvalidFilterHandle);
  EXPECT_EQ(table_.DeactivateFilter(dropped), ec::InvalidFilterHandle);
  EXPECT_EQ(table_.FilterCount(), MaxExpressionFilters - 1);
  const TFilterHandle next = table_.AddFilter(0, block, nullptr);
  EXPECT_EQ(handles.count(next), 0u);

  // The callback's handle is known only while there is a callback.
  EXPECT_EQ(table_.ActivateFilter(RecordCallbackHandle), ec::InvalidFilterHandle);
  EXPECT_EQ(table_.RemoveFilter(RecordCallbackHandle), ec::InvalidFilterHandle);
  EXPECT_EQ(table_.IndexFile().CursorBitmap(), nullptr);  // none of the refusals changed anything
}

TEST_F(FilterListTest, AnAdditionThatFailsAtAnyReadLeavesNoFilterBehind) {
  ASSERT_TRUE(table_.IsShared());
  const TFilterHandle kept = Add(table_, "Qty > 2");
  ASSERT_EQ(table_.ActivateFilter(kept), ec::Success);
  const std::vector<std::int32_t> shown = Walk(table_);
  const auto failing = [](int failAt, int& reads) {
    platform::SetFileFaultHook([failAt, &reads](platform::FileOp op, const std::string&) -> platform::DWORD {
      return op == platform::FileOp::Read && ++reads == failAt ? platform::ERROR_GEN_FAILURE : 0;
    });
  };
  // Each round fails one more read of the addition, of an expression filter and of the record callback,
  // until a round gets through all of them.
  bool raised = true;
  for (int failAt = 1; raised && failAt < 100; ++failAt) {
    SCOPED_TRACE("read " + std::to_string(failAt));
    std::vector<std::uint8_t> image(table_.RecordSize());
    table_.GotoBOF();
    ASSERT_EQ(table_.Next(image.data()), ec::Success);
    int reads = 0;
    failing(failAt, reads);
    TFilterHandle added = 0;
    const int expressionCode = testing::ErrorCodeOf([&] { added = Add(table_, "Qty < 7"); });
    platform::SetFileFaultHook(nullptr);
    reads = 0;
    failing(failAt, reads);
    const int callbackCode = testing::ErrorCodeOf([&] { table_.AddFilter(7, {}, OddRecords); });
    platform::SetFileFaultHook(nullptr);
    raised = expressionCode != 0 || callbackCode != 0;
    EXPECT_EQ(table_.FilterCount(), expressionCode != 0 ? 1u : 2u);
    if (expressionCode == 0) {
      ASSERT_EQ(table_.RemoveFilter(added), ec::Success);
    }
    EXPECT_EQ(table_.ActivateFilter(RecordCallbackHandle), callbackCode != 0 ? ec::InvalidFilterHandle : ec::Success);
    if (callbackCode == 0) {
      ASSERT_EQ(table_.RemoveFilter(RecordCallbackHandle), ec::Success);
    }
    EXPECT_EQ(Walk(table_), shown);
  }
  EXPECT_FALSE(raised);
}

TEST_F(FilterListTest, TheCombinedLevelCountsActiveAndInactiveFilters) {
  EXPECT_EQ(table_.FilterOptimizeLevel(), 2);
  const TFilterHandle indexed = Add(table_, "Qty > 5");
  EXPECT_EQ(table_.FilterOptimizeLevel(), 0);
  const TFilterHandle scanned = Add(table_, "Price > 1");
  EXPECT_EQ(table_.FilterOptimizeLevel(), 1);
  ASSERT_EQ(table_.ActivateFilter(scanned), ec::Success);
  EXPECT_EQ(table_.FilterOptimizeLevel(), 1);
  ASSERT_EQ(table_.RemoveFilter(indexed), ec::Success);
  EXPECT_EQ(table_.FilterOptimizeLevel(), 2);
}

TEST_F(FilterListTest, TheAllHandleReachesEveryExpressionFilterAndOnlyRemovalTheCallback) {
  const TFilterHandle a = Add(table_, "Qty >= 5");
  const TFilterHandle b = Add(table_, "Price > 1");
  EXPECT_EQ(table_.AddFilter(42, {}, OddRecords), RecordCallbackHandle);
  EXPECT_EQ(table_.IndexFile().GetCallbackData(), 42u);

  ASSERT_EQ(table_.ActivateFilter(AllFilters), ec::Success);
  EXPECT_TRUE(table_.GetFilter(0).Active() && table_.GetFilter(1).Active());
  EXPECT_FALSE(table_.IndexFile().CallbackActive());
  EXPECT_EQ(Walk(table_), (std::vector<std::int32_t>{1, 3, 9}));
  ASSERT_EQ(table_.ActivateFilter(RecordCallbackHandle), ec::Success);
  EXPECT_EQ(Walk(table_), (std::vector<std::int32_t>{1, 3, 9}));
  ASSERT_EQ(table_.DeactivateFilter(b), ec::Success);
  EXPECT_EQ(Walk(table_), (std::vector<std::int32_t>{1, 3, 9}));  // 2, 6 and 8 are even
  ASSERT_EQ(table_.DeactivateFilter(AllFilters), ec::Success);
  EXPECT_TRUE(table_.IndexFile().CallbackActive());
  EXPECT_EQ(Walk(table_), (std::vector<std::int32_t>{1, 3, 5, 7, 9}));

  ASSERT_EQ(table_.ActivateFilter(a), ec::Success);
  ASSERT_EQ(table_.RemoveFilter(AllFilters), ec::Success);
  EXPECT_EQ(table_.FilterCount(), 0);
  EXPECT_EQ(table_.IndexFile().GetCallback(), nullptr);
  EXPECT_EQ(table_.RecordCount(), 10);
  EXPECT_EQ(table_.ActivateFilter(a), ec::InvalidFilterHandle);
}

TEST_F(FilterListTest, RangesGiveTheSameBitmapWhicheverSideIsWalked) {
  // Whole keys of a unique ascending and a unique descending index: Code runs from 100 down as ID
  // goes up, so both indexes hold the records in the same order.
  const std::string path = dir_.PathOf("CODES.DAT");
  testing::CreateTableAt(path, {testing::Field(1, "ID", ftInteger), testing::Field(2, "Code", ftInteger)},
                         {testing::Index("", {1}, true), testing::Index("ByCodeDown", {2}, true, false, true)});
  TDataFile table;
  table.SetFileName(path);
  table.Open();
  std::vector<std::uint8_t> image(table.RecordSize());
  for (std::int32_t id = 1; id <= 20; ++id) {
    const std::int32_t code = 100 - id;
    table.InitRecord(image.data());
    table.SetField(1, image.data(), &id);
    table.SetField(2, image.data(), &code);
    table.InsertRecord(image.data());
  }
  table.AddFilter(0, testing::ParseFilter(table, "ID <> 7"), nullptr);
  ASSERT_EQ(table.ActivateFilter(AllFilters), ec::Success);
  struct Case {
    int first;  // IDs, or 0 for an open end
    int last;
  };
  const Case cases[] = {{1, 20}, {2, 19}, {3, 4}, {5, 5}, {0, 18}, {3, 0}, {0, 0}, {12, 4}};
  for (std::uint8_t index : {0, 1}) {
    for (const Case& c : cases) {
      std::set<std::int32_t> expected;
      for (int id = c.first == 0 ? 1 : c.first; id <= (c.last == 0 ? 20 : c.last); ++id)
        if (id != 7) expected.insert(id);
      for (TComplementRule rule : kRules) {
        table.SetComplementRule(rule);
        table.SelectIndex(index);
        std::vector<std::uint8_t> start(table.RecordSize()), end(table.RecordSize());
        table.InitRecord(start.data());
        table.InitRecord(end.data());
        const std::int32_t startId = c.first, endId = c.last;
        const std::int32_t startCode = 100 - startId, endCode = 100 - endId;
        table.SetField(1, start.data(), &startId);
        table.SetField(1, end.data(), &endId);
        table.SetField(2, start.data(), &startCode);
        table.SetField(2, end.data(), &endCode);
        table.SetRange(false, c.first ? start.data() : nullptr, 1, c.last ? end.data() : nullptr, 1);
        EXPECT_EQ(testing::BitmapRecords(table), expected)
            << "index " << int(index) << " from " << c.first << " to " << c.last << ", rule " << int(rule);
        EXPECT_EQ(table.RecordCount(), static_cast<std::int32_t>(expected.size()));
        table.CancelRange();
      }
    }
  }
}

TEST_F(FilterListTest, DeletedRecordsNeverAppearWhateverTheFiltersSay) {
  for (std::int32_t id : {1, 5, 6, 10}) {
    ASSERT_TRUE(Find(table_, id));
    table_.DeleteRecord();
  }
  for (TComplementRule rule : kRules) {
    table_.SetComplementRule(rule);
    for (const char* text : {"Qty IS NULL OR Qty IS NOT NULL", "NOT (Qty = 5)", "Price IS NULL OR Price > 0"}) {
      const TFilterHandle handle = Add(table_, text);
      ASSERT_EQ(table_.ActivateFilter(handle), ec::Success);
      const std::set<std::int32_t> records = testing::BitmapRecords(table_);
      for (std::int32_t id : {1, 5, 6, 10}) EXPECT_EQ(records.count(id), 0u) << text << ", rule " << int(rule);
      const std::vector<std::uint8_t> block = testing::ParseFilter(table_, text);
      EXPECT_EQ(records, testing::NaiveRecords(table_, &block)) << text;
      ASSERT_EQ(table_.RemoveFilter(handle), ec::Success);
    }
  }
}

TEST_F(FilterListTest, NavigationAndChangesFollowTheFilterAtOnce) {
  ASSERT_TRUE(Find(table_, 3));
  const TFilterHandle handle = Add(table_, "Qty = 5");
  ASSERT_EQ(table_.ActivateFilter(handle), ec::Success);
  EXPECT_EQ(CurrentId(table_), 3);  // re-applied at the current record, which passes
  EXPECT_EQ(table_.RecordNo(), 2);
  table_.GotoRecordNo(3);
  EXPECT_EQ(CurrentId(table_), 8);
  table_.SelectIndexByName("ByName");
  EXPECT_EQ(Walk(table_), (std::vector<std::int32_t>{9, 8, 1, 3}));

  testing::InsertPerson(table_, {11, "Cy", "Oslo", 5, 1.0, false});
  testing::InsertPerson(table_, {12, "Di", "Oslo", 6, 1.0, false});
  EXPECT_EQ(table_.RecordCount(), 5);
  SetQty(table_, 1, 6);
  EXPECT_EQ(table_.RecordCount(), 4);
  // A record the filter hides cannot be reached through this cursor; another one changes it.
  TDataFile other;
  Open(other);
  SetQty(other, 2, 5);
  table_.Refresh();
  EXPECT_EQ(table_.RecordCount(), 5);
  table_.SelectIndex(0);
  EXPECT_EQ(Walk(table_), (std::vector<std::int32_t>{2, 3, 8, 9, 11}));
  ASSERT_TRUE(Find(table_, 8));
  table_.DeleteRecord();
  EXPECT_EQ(Walk(table_), (std::vector<std::int32_t>{2, 3, 9, 11}));
}

TEST_F(FilterListTest, ACloneKeepsRangeFiltersTheirStateAndThePosition) {
  SelectQtyDownFrom7To0();
  const TFilterHandle active = Add(table_, "Name <> 'Bob'");
  Add(table_, "Price > 100");
  ASSERT_EQ(table_.ActivateFilter(active), ec::Success);
  table_.AddFilter(0, {}, OddRecords);
  ASSERT_EQ(table_.ActivateFilter(RecordCallbackHandle), ec::Success);
  table_.GotoRecordNo(2);
  const std::int32_t current = CurrentId(table_);
  const std::vector<std::int32_t> walk = Walk(table_);
  table_.GotoRecordNo(2);
  EXPECT_EQ(walk, (std::vector<std::int32_t>{9, 1}));  // Qty 7 down to 0 (ties by id, also down), not Bob, odd

  std::unique_ptr<TDataFile> clone = table_.CloneCursor();
  ASSERT_EQ(clone->FilterCount(), 2);
  EXPECT_TRUE(clone->GetFilter(0).Active());
  EXPECT_FALSE(clone->GetFilter(1).Active());
  for (int i = 0; i < 2; ++i) {
    EXPECT_TRUE(std::ranges::equal(clone->GetFilter(i).Expression(), table_.GetFilter(i).Expression()));
  }
  EXPECT_TRUE(clone->IndexFile().CallbackActive());
  EXPECT_EQ(CurrentId(*clone), current);
  EXPECT_EQ(Walk(*clone), walk);
  EXPECT_EQ(clone->RecordCount(), table_.RecordCount());
  // The clone's filters are its own.
  ASSERT_EQ(clone->ActivateFilter(AllFilters), ec::Success);
  EXPECT_EQ(clone->RecordCount(), 0);
  EXPECT_EQ(Walk(table_), walk);
}

TEST_F(FilterListTest, AnEmptyTableShowsNothingUntilAMatchingRecordComes) {
  const std::string path = dir_.PathOf("EMPTY.DAT");
  testing::CreateTableAt(path, testing::PeopleFields(), testing::PeopleIndexes());
  TDataFile table;
  table.SetFileName(path);
  table.Open();
  for (TComplementRule rule : kRules) {
    table.SetComplementRule(rule);
    const TFilterHandle handle = Add(table, "Qty = 5 OR NOT (City > 'A')");
    ASSERT_EQ(table.ActivateFilter(handle), ec::Success);
    EXPECT_EQ(table.RecordCount(), 0);
    std::vector<std::uint8_t> buffer(table.RecordSize());
    table.GotoBOF();
    EXPECT_EQ(table.Next(buffer.data()), ec::EndOfFile);
    ASSERT_EQ(table.RemoveFilter(handle), ec::Success);
  }
  ASSERT_EQ(table.ActivateFilter(Add(table, "Qty = 5")), ec::Success);
  testing::InsertPerson(table, {1, "Ann", "Rome", 4, 1.0, false});
  testing::InsertPerson(table, {2, "Bob", "Rome", 5, 1.0, false});
  EXPECT_EQ(Walk(table), (std::vector<std::int32_t>{2}));
}

TEST_F(FilterListTest, ClosingDropsTheFilters) {
  ASSERT_EQ(table_.ActivateFilter(Add(table_, "Qty = 5")), ec::Success);
  table_.Close();
  table_.Open();
  EXPECT_EQ(table_.FilterCount(), 0);
  EXPECT_EQ(table_.IndexFile().CursorBitmap(), nullptr);
  EXPECT_EQ(table_.RecordCount(), 10);
}

TEST_F(FilterListTest, ARollbackReachesTheRecordsTheFilterHides) {
  ASSERT_EQ(table_.ActivateFilter(Add(table_, "Qty = 5")), ec::Success);
  table_.StartTransaction();
  SetQty(table_, 1, 6);  // leaves the filter
  ASSERT_TRUE(Find(table_, 3));
  table_.DeleteRecord();
  testing::InsertPerson(table_, {11, "Cy", "Oslo", 5, 1.0, false});
  table_.SelectIndex(0);
  EXPECT_EQ(Walk(table_), (std::vector<std::int32_t>{8, 9, 11}));
  table_.Rollback();
  EXPECT_EQ(Walk(table_), (std::vector<std::int32_t>{1, 3, 8, 9}));
  ASSERT_EQ(table_.DeactivateFilter(AllFilters), ec::Success);
  EXPECT_EQ(table_.RecordCount(), 10);

  // On a secondary index with a range, an expression filter and the record callback: the rollback
  // walks the primary index over every record, then gives the cursor all of them back.
  SelectQtyDownFrom7To0();
  ASSERT_EQ(table_.ActivateFilter(AllFilters), ec::Success);
  table_.AddFilter(0, {}, OddRecords);
  ASSERT_EQ(table_.ActivateFilter(RecordCallbackHandle), ec::Success);
  const std::vector<std::int32_t> before = Walk(table_);
  ASSERT_FALSE(before.empty());
  table_.StartTransaction();
  std::vector<std::uint8_t> image(table_.RecordSize());
  table_.GotoBOF();
  ASSERT_EQ(table_.Next(image.data()), ec::Success);
  table_.GetCurrent(image.data(), true);
  const std::int32_t six = 6;
  table_.SetField(4, image.data(), &six);  // leaves the filter
  table_.UpdateRecord(image.data(), false);
  ASSERT_EQ(Walk(table_).size(), before.size() - 1);
  table_.Rollback();
  EXPECT_EQ(table_.ActiveIndexName(), "ByQtyDown");
  EXPECT_TRUE(table_.RangeActive());
  EXPECT_TRUE(table_.GetFilter(0).Active());
  EXPECT_TRUE(table_.IndexFile().CallbackActive());
  EXPECT_EQ(Walk(table_), before);
}

TEST_F(FilterListTest, AnotherProcessesRecordsAreFilteredAfterTheChangeIsSeen) {
  ASSERT_EQ(table_.ActivateFilter(Add(table_, "Qty = 5 AND City IS NOT NULL")), ec::Success);
  EXPECT_EQ(table_.RecordCount(), 2);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int code = 1;
    try {
      TDataFile other;
      other.SetFileName(path_);
      other.Open();
      // Enough records that the bitmap needs more bytes than it had.
      for (std::int32_t id = 11; id <= 40; ++id) {
        testing::InsertPerson(other, {id, "Ed", id % 3 == 0 ? "Oslo" : nullptr, id % 2 == 0 ? 5 : 6, 1.0, false});
      }
      other.Close();
      code = 0;
    } catch (...) {
    }
    _exit(code);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_EQ(WEXITSTATUS(status), 0);
  table_.Refresh();
  table_.SelectIndex(0);
  EXPECT_EQ(Walk(table_), (std::vector<std::int32_t>{1, 9, 12, 18, 24, 30, 36}));
  EXPECT_EQ(table_.IndexFile().CursorBitmap()->Length(), 6);
}

}  // namespace
}  // namespace kavrin::engine
