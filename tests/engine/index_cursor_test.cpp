// The key cursor: first, last, moves, search, ranges, positions by number, the record callback and the
// filter bitmap, and the key counting and marking over the current index.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "engine/index_file.h"
#include "engine/memory_files.h"
#include "tests/engine/index_test_support.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::engine {
namespace {

using index_testing::IndexFixture;
using index_testing::Key;
using index_testing::MakeKey;

constexpr std::size_t Length = 16;
constexpr int Keys = 2000;  // values 10, 20, .. 20000: several levels, gaps between the keys

Key K(std::uint32_t value) { return MakeKey(value, Length); }

class IndexCursorTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    MemoryFiles().Clear();
    fixture = std::make_unique<IndexFixture>(dir.PathOf("C.DAT"), Length, Descending());
    for (int i = 1; i <= Keys; ++i) file().InsertKey(K(10u * i), 10 * i);
    file().Recount();
    file().ApplyRange();
  }
  void TearDown() override {
    fixture.reset();
    MemoryFiles().Clear();
  }

  bool Descending() const { return GetParam(); }
  TIndexFile& file() { return fixture->file; }
  // The record at the cursor counted in index order: 1 for the index's first key.
  int Ordinal(std::int32_t record) const { return Descending() ? Keys + 1 - record / 10 : record / 10; }
  std::int32_t RecordAt(int ordinal) const { return 10 * (Descending() ? Keys + 1 - ordinal : ordinal); }
  // A key value just after (in index order) the key of ordinal n: absent from the index.
  std::uint32_t GapAfter(int ordinal) const {
    return static_cast<std::uint32_t>(Descending() ? RecordAt(ordinal) - 5 : RecordAt(ordinal) + 5);
  }

  testing::TempDir dir;
  std::unique_ptr<IndexFixture> fixture;
};

TEST_P(IndexCursorTest, FirstLastAndMovesStopAtTheEnds) {
  file().FirstKey();
  EXPECT_EQ(file().CurrentRecordNumber(), RecordAt(1));
  EXPECT_EQ(file().PositionInRange(), 1);
  file().MoveBy(250);
  EXPECT_EQ(file().CurrentRecordNumber(), RecordAt(251));
  EXPECT_EQ(file().Position(), 251);
  file().MoveBy(-100);
  EXPECT_EQ(file().Position(), 151);
  EXPECT_FALSE(file().Bof() || file().Eof());
  file().MoveBy(Keys);
  EXPECT_TRUE(file().Eof());
  EXPECT_FALSE(file().Bof());
  EXPECT_EQ(file().CurrentRecordNumber(), RecordAt(Keys));
  EXPECT_EQ(file().PositionInRange(), Keys);
  file().MoveBy(-5 * Keys);
  EXPECT_TRUE(file().Bof());
  EXPECT_EQ(file().CurrentRecordNumber(), RecordAt(1));
  file().LastKey();
  EXPECT_EQ(file().Position(), Keys);
  EXPECT_FALSE(file().Eof());
  // Page steps keep the ordinal right.
  file().FirstKey();
  ASSERT_TRUE(file().NextPage());
  const std::int32_t second = file().Position();
  EXPECT_EQ(file().CurrentRecordNumber(), RecordAt(second));
  ASSERT_TRUE(file().PriorPage());
  EXPECT_EQ(file().CurrentRecordNumber(), RecordAt(file().Position()));
  EXPECT_FALSE(file().PriorPage());
}

TEST_P(IndexCursorTest, FindKeyExactNearestAndAbsent) {
  struct Case {
    const char* what;
    std::uint32_t value;
    bool nearest;
    bool found;
    int ordinal;  // where the cursor ends; 0: where it was (ordinal 500)
    bool eof;
  };
  const Case cases[] = {
      {"exact", static_cast<std::uint32_t>(RecordAt(777)), false, true, 777, false},
      {"exact, nearest", static_cast<std::uint32_t>(RecordAt(1)), true, true, 1, false},
      {"absent, nearest", GapAfter(1200), true, false, 1201, false},
      {"absent at a leaf's end", GapAfter(40), true, false, 41, false},
      {"absent, not nearest", GapAfter(1200), false, false, 0, false},
      {"past the last key", GapAfter(Keys), true, false, Keys, true},
  };
  for (const Case& c : cases) {
    file().GotoPosition(500);
    ASSERT_EQ(file().Position(), 500);
    EXPECT_EQ(file().FindKey(K(c.value), c.nearest, false), c.found) << c.what;
    const int ordinal = c.ordinal == 0 ? 500 : c.ordinal;
    EXPECT_EQ(file().CurrentRecordNumber(), RecordAt(ordinal)) << c.what;
    EXPECT_EQ(file().Position(), ordinal) << c.what;
    EXPECT_EQ(file().Eof(), c.eof) << c.what;
  }
  // Below the first key, nearest: the first key.
  const Key low(Length, Descending() ? 0xFF : 0x00);
  EXPECT_FALSE(file().FindKey(low, true, false));
  EXPECT_EQ(file().Position(), 1);
}

TEST_P(IndexCursorTest, KeepCrackPutsTheCursorBackBeforeTheFirstKey) {
  file().FirstKey();
  file().MoveBy(-1);
  ASSERT_TRUE(file().Bof());
  EXPECT_TRUE(file().FindKey(K(static_cast<std::uint32_t>(RecordAt(1))), true, true));
  EXPECT_TRUE(file().Bof());
  EXPECT_EQ(file().Position(), 1);
  file().LastKey();
  file().MoveBy(1);
  ASSERT_TRUE(file().Eof());
  file().FindKey(K(static_cast<std::uint32_t>(RecordAt(Keys))), true, true);
  EXPECT_TRUE(file().Eof());
  EXPECT_EQ(file().Position(), Keys);
}

TEST_P(IndexCursorTest, GotoPositionClampsToTheEndsWithTheirFlags) {
  struct Case {
    std::int32_t n;
    int ordinal;
    bool bof;
    bool eof;
  };
  for (const Case c : {Case{0, 1, true, false}, Case{1, 1, false, false}, Case{1333, 1333, false, false},
                       Case{Keys, Keys, false, false}, Case{Keys + 1, Keys, false, true}, Case{-7, 1, true, false}}) {
    file().GotoPosition(c.n);
    EXPECT_EQ(file().Position(), c.ordinal) << c.n;
    EXPECT_EQ(file().CurrentRecordNumber(), RecordAt(c.ordinal)) << c.n;
    EXPECT_EQ(file().Bof(), c.bof) << c.n;
    EXPECT_EQ(file().Eof(), c.eof) << c.n;
  }
}

TEST_P(IndexCursorTest, RangeLimitsNavigationCountsAndPositions) {
  // The range holds ordinals 301 .. 700, given by bounds that fall between keys.
  const Key start = K(Descending() ? GapAfter(300) : GapAfter(300));
  const Key end = K(GapAfter(700));
  file().SetRangeStart(start);
  file().SetRangeEnd(end);
  file().SetRangeActive(true);
  file().ApplyRange();
  EXPECT_EQ(file().RangeFirst(), 301);
  EXPECT_EQ(file().RangeLast(), 700);
  EXPECT_EQ(file().RangeRecordCount(), 400);
  file().FirstKey();
  EXPECT_EQ(file().CurrentRecordNumber(), RecordAt(301));
  EXPECT_EQ(file().PositionInRange(), 1);
  file().MoveBy(1000);
  EXPECT_TRUE(file().Eof());
  EXPECT_EQ(file().CurrentRecordNumber(), RecordAt(700));
  EXPECT_EQ(file().PositionInRange(), 400);
  file().MoveBy(-1000);
  EXPECT_TRUE(file().Bof());
  EXPECT_EQ(file().CurrentRecordNumber(), RecordAt(301));
  file().GotoPosition(50);
  EXPECT_EQ(file().CurrentRecordNumber(), RecordAt(350));
  EXPECT_EQ(file().PositionInRange(), 50);
  EXPECT_FALSE(file().FindKey(K(static_cast<std::uint32_t>(RecordAt(10))), true, false));
  EXPECT_EQ(file().CurrentRecordNumber(), RecordAt(301));
  EXPECT_FALSE(file().FindKey(K(static_cast<std::uint32_t>(RecordAt(1500))), true, false));
  EXPECT_EQ(file().CurrentRecordNumber(), RecordAt(700));
  EXPECT_TRUE(file().FindKey(K(static_cast<std::uint32_t>(RecordAt(500))), false, false));

  // A start above the end holds nothing.
  file().SetRangeStart(end);
  file().SetRangeEnd(start);
  file().ApplyRange();
  EXPECT_EQ(file().RangeRecordCount(), 0);
  file().FirstKey();
  EXPECT_FALSE(file().HasKey());
  EXPECT_TRUE(file().Bof() && file().Eof());
  EXPECT_EQ(file().PositionInRange(), 0);

  file().ResetRange();
  EXPECT_FALSE(file().RangeActive());
  EXPECT_EQ(file().RangeRecordCount(), Keys);
}

TEST_P(IndexCursorTest, RecordCallbackSkipsRejectedKeys) {
  file().SetRecordCallback(
      [](std::uint32_t modulus, std::uint8_t* image, std::int32_t record) -> std::int32_t {
        return image != nullptr && (record / 10) % static_cast<std::int32_t>(modulus) == 0 ? 0x101 : 0x100;
      },
      3);
  file().SetCallbackActive(true);
  const auto accepted = [&](int ordinal) { return (RecordAt(ordinal) / 10) % 3 == 0; };
  file().FirstKey();
  int expected = 1;
  while (!accepted(expected)) ++expected;
  EXPECT_EQ(file().Position(), expected);
  file().MoveBy(2);
  int steps = 0;
  while (steps < 2) steps += accepted(++expected) ? 1 : 0;
  EXPECT_EQ(file().Position(), expected);
  EXPECT_FALSE(file().FindKey(K(static_cast<std::uint32_t>(RecordAt(expected + 1))), false, false) &&
               !accepted(expected + 1));
  file().SetCallbackActive(false);
  file().FirstKey();
  EXPECT_EQ(file().Position(), 1);
}

TEST_P(IndexCursorTest, FilterPositionsNeverRunPastTheFilteredCount) {
  // Records whose number is a multiple of 70: every seventh key.
  fixture->owner.slots = 10 * Keys;
  TRecordBitmap bitmap(fixture->owner.slots);
  for (int r = 70; r <= 10 * Keys; r += 70) bitmap.Set(r);
  file().InstallFilterBitmap(std::move(bitmap));
  const int count = (10 * Keys) / 70;
  EXPECT_EQ(file().RangeRecordCount(), count);
  std::vector<std::int32_t> order;
  for (int ordinal = 1; ordinal <= Keys; ++ordinal) {
    if (RecordAt(ordinal) % 70 == 0) order.push_back(RecordAt(ordinal));
  }
  file().FirstKey();
  for (int n = 1; n <= count; ++n) {
    ASSERT_EQ(file().CurrentRecordNumber(), order[n - 1]);
    ASSERT_EQ(file().PositionInRange(), n);
    file().MoveBy(1);
  }
  EXPECT_TRUE(file().Eof());
  EXPECT_EQ(file().PositionInRange(), count);
  for (int n : {1, 2, count / 2, count / 2 + 1, count - 1, count}) {
    file().GotoPosition(n);
    EXPECT_EQ(file().CurrentRecordNumber(), order[n - 1]) << n;
    EXPECT_EQ(file().PositionInRange(), n) << n;
  }
  file().GotoPosition(count + 50);
  EXPECT_TRUE(file().Eof());
  EXPECT_EQ(file().PositionInRange(), count);
  // A search lands on a filtered key and knows its number among them.
  EXPECT_TRUE(file().FindKey(K(static_cast<std::uint32_t>(order[200])), false, false));
  EXPECT_EQ(file().PositionInRange(), 201);
  EXPECT_FALSE(file().FindKey(K(static_cast<std::uint32_t>(order[200] + 10)), true, false));
  EXPECT_EQ(file().CurrentRecordNumber(), order[Descending() ? 200 : 201]);
  file().FreeBitmap();
  EXPECT_EQ(file().RangeRecordCount(), Keys);
}

TEST_P(IndexCursorTest, CountsAndMarksMatchTheKeysBetweenTwoBounds) {
  std::mt19937 random(7);
  for (int trial = 0; trial < 60; ++trial) {
    std::uint32_t a = random() % 21000;
    std::uint32_t b = random() % 21000;
    Key low = K(a);
    Key high = K(b);
    if (Descending()) std::swap(low, high);  // low is first in index order when a <= b
    TRecordBitmap marks(10 * Keys);
    file().MarkKeyRange(low, high, marks);
    int expected = 0;
    bool same = true;
    for (int v = 10; v <= 10 * Keys; v += 10) {
      const bool inside = static_cast<std::uint32_t>(v) >= a && static_cast<std::uint32_t>(v) <= b;
      expected += inside ? 1 : 0;
      same = same && marks.Test(v) == inside;
    }
    EXPECT_EQ(file().RangeCount(low, high), expected) << a << ".." << b;
    EXPECT_TRUE(same) << a << ".." << b;
    EXPECT_EQ(marks.CountBits(10 * Keys), expected);
  }
}

TEST_P(IndexCursorTest, KeyArithmetic) {
  struct Case {
    Key in;
    Key incremented;
    Key decremented;
  };
  const Case cases[] = {
      {{0x00, 0x00, 0x00}, {0x00, 0x00, 0x01}, {0x00, 0x00, 0x00}},
      {{0x00, 0xFF, 0xFF}, {0x01, 0x00, 0x00}, {0x00, 0xFF, 0xFE}},
      {{0x01, 0x00, 0x00}, {0x01, 0x00, 0x01}, {0x00, 0xFF, 0xFF}},
      {{0xFF, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFE}},
  };
  for (const Case& c : cases) {
    Key up = c.in;
    Key down = c.in;
    TIndexFile::IncrementKey(up.data(), up.size());
    TIndexFile::DecrementKey(down.data(), down.size());
    EXPECT_EQ(up, c.incremented);
    EXPECT_EQ(down, c.decremented);
  }
  Key key = {1, 2, 3, 4, 5};
  TIndexFile::PadKeyLow(key.data(), 2, 4);
  EXPECT_EQ(key, (Key{1, 2, 0, 0, 5}));
  TIndexFile::PadKeyHigh(key.data(), 1, 5);
  EXPECT_EQ(key, (Key{1, 0xFF, 0xFF, 0xFF, 0xFF}));
}

INSTANTIATE_TEST_SUITE_P(Directions, IndexCursorTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Descending" : "Ascending"; });

}  // namespace
}  // namespace kavrin::engine
