// Random filter texts over the every-type table: the cursor's bitmap and record count must equal a slow
// record-by-record reading of the same block, whichever way the key walks take (the smaller side, the
// complement always, never), with and without a range, on whatever index the cursor is.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "classlib/expr_parser.h"
#include "engine/data_file.h"
#include "runtime/format_settings.h"
#include "tests/engine/filter_test_support.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::engine {
namespace {

using testing::EveryTypeValues;
using testing::TFieldValues;

std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

// Random filter texts over the table's fields, with the constants its records hold and the edges of
// every type.
class TFilterTextGenerator {
 public:
  explicit TFilterTextGenerator(std::uint32_t seed) : random_(seed) {}

  std::string Expression(int depth) {
    if (depth == 0 || Chance(0.35)) return Comparison();
    switch (random_() % 5) {
      case 0: return Expression(depth - 1) + " AND " + Expression(depth - 1);
      case 1: return Expression(depth - 1) + " or " + Expression(depth - 1);
      case 2: return "NOT " + Parenthesised(depth - 1);
      case 3:
        // An and under a not, whose operands may both be read from the records.
        return "not (" + Expression(depth - 1) + " and " + Expression(depth - 1) + ")";
      default: return Parenthesised(depth - 1);
    }
  }

 private:
  bool Chance(double p) { return std::uniform_real_distribution<double>(0, 1)(random_) < p; }
  template <typename T>
  const T& Pick(const std::vector<T>& items) {
    return items[random_() % items.size()];
  }

  std::string Parenthesised(int depth) { return "(" + Expression(depth) + ")"; }

  std::string Name(const std::string& name) { return Chance(0.3) ? "[" + name + "]" : name; }

  std::string Comparison() {
    static const std::vector<std::string> names{"",  "ID", "S",  "SC", "D",  "M", "L",  "SI", "I",
                                                "F", "B",  "BY", "T",  "TS", "W", "LW", "X",  "VB"};
    if (Chance(0.15)) {
      const std::string& field = names[1 + random_() % (names.size() - 1)];
      return Name(field) + (Chance(0.5) ? " IS NULL" : " IS not NULL");
    }
    static const std::vector<std::string> ops{"=", "<>", "<", ">", "<=", ">="};
    std::string op = Pick(ops);
    if (Chance(0.1)) {
      // The record ids, and the edges of an integer.
      const std::vector<std::string> ids{"-2147483648", "0", "1", "7", "150", "299", "300", "2147483647"};
      return Name("ID") + " " + op + " " + Pick(ids);
    }
    const TFieldValues& values = Pick(EveryTypeValues());
    const std::string& name = names[static_cast<std::size_t>(values.Field)];
    std::string constant = Pick(values.Texts);
    if ((values.Field == 2 || values.Field == 3) && Chance(0.25)) {
      // A partial comparison: the first characters of a value.
      std::size_t keep = constant.empty() ? 0 : 1 + random_() % constant.size();
      while (keep < constant.size() && (static_cast<unsigned char>(constant[keep]) & 0xC0) == 0x80) ++keep;
      constant = constant.substr(0, keep) + "*";
      op = Chance(0.5) ? "=" : "<>";
    }
    const std::string written = values.Quoted ? Quoted(constant) : constant;
    if (Chance(0.1)) {
      // The constant first: turned round by the parser.
      static const std::vector<std::pair<std::string, std::string>> mirrored{{"=", "="}, {"<>", "<>"}, {"<", ">"},
                                                                             {">", "<"}, {"<=", ">="}, {">=", "<="}};
      for (const auto& [from, to] : mirrored) {
        if (from == op) return written + " " + to + " " + Name(name);
      }
    }
    return Name(name) + " " + op + " " + written;
  }

  std::mt19937 random_;
};

class FilterDifferentialTest : public ::testing::Test {
 protected:
  static constexpr int kRecords = 300;

  void SetUp() override {
    runtime::ResetFormatSettings();
    path_ = dir_.PathOf("EVERY.DAT");
    testing::CreateTableAt(path_, testing::EveryTypeFields(), testing::EveryTypeIndexes());
    table_.SetFileName(path_);
    table_.Open();
    testing::FillEveryTypeTable(table_, kRecords, 0.3, 0.15, 20240611);
  }

  kavrin::testing::TempDir dir_;
  std::string path_;
  TDataFile table_;
};

TEST_F(FilterDifferentialTest, BitmapEqualsRecordByRecordReading) {
  TFilterTextGenerator generator(7);
  std::mt19937 random(11);
  const std::set<std::int32_t> live = testing::NaiveRecords(table_, nullptr);
  int texts = 0;
  int ranged = 0;
  for (int round = 0; round < 260; ++round) {
    const std::string text = generator.Expression(3);
    classlib::TFilterParseOptions options;
    options.CaseInsensitive = random() % 2 == 0;
    std::vector<std::uint8_t> block;
    try {
      block = testing::ParseFilter(table_, text, options);
    } catch (const classlib::EExprParserError& e) {
      ADD_FAILURE() << text << ": " << e.what();
      continue;
    }
    ++texts;
    const std::set<std::int32_t> expected = testing::NaiveRecords(table_, &block);

    // Sometimes a range on the primary index or on a descending one; otherwise any index.
    std::set<std::int32_t> inRange = live;
    std::string rangeNote = "no range";
    const int shape = static_cast<int>(random() % 4);
    std::vector<std::uint8_t> start(table_.RecordSize()), end(table_.RecordSize());
    table_.InitRecord(start.data());
    table_.InitRecord(end.data());
    if (shape == 0) {
      std::int32_t low = static_cast<std::int32_t>(random() % (kRecords + 20)) - 10;
      std::int32_t high = static_cast<std::int32_t>(random() % (kRecords + 20)) - 10;
      table_.SelectIndex(0);
      table_.SetField(1, start.data(), &low);
      table_.SetField(1, end.data(), &high);
      table_.SetRange(false, start.data(), 1, end.data(), 1);
      std::erase_if(inRange, [&](std::int32_t n) { return n < low || n > high; });
      rangeNote = "ID from " + std::to_string(low) + " to " + std::to_string(high);
      ++ranged;
    } else if (shape == 1) {
      // ByWDown runs from the highest word down: the start is the larger value.
      const std::uint16_t words[] = {0, 1, 500, 65535};
      std::uint16_t high = words[random() % 4];
      std::uint16_t low = words[random() % 4];
      table_.SelectIndexByName("ByWDown");
      table_.SetField(14, start.data(), &high);
      table_.SetField(14, end.data(), &low);
      table_.SetRange(false, start.data(), 1, end.data(), 1);
      std::erase_if(inRange, [&](std::int32_t n) {
        bool isNull = true;
        std::uint16_t w = 0;
        table_.GetField(14, table_.FetchRecord(n)->Buffer(), isNull, &w);
        return isNull || w < low || w > high;
      });
      rangeNote = "W from " + std::to_string(high) + " down to " + std::to_string(low);
      ++ranged;
    } else {
      table_.SelectIndex(static_cast<std::uint8_t>(random() % (table_.IndexCount() + 1u)));
    }
    std::set<std::int32_t> want;
    for (std::int32_t n : expected)
      if (inRange.count(n)) want.insert(n);

    for (TComplementRule rule : {TComplementRule::SmallerSide, TComplementRule::Always, TComplementRule::Never}) {
      table_.SetComplementRule(rule);
      const TFilterHandle handle = table_.AddFilter(0, block, nullptr);
      ASSERT_EQ(table_.ActivateFilter(handle), ec::Success);
      const auto got = testing::BitmapRecords(table_);
      EXPECT_EQ(got, want) << text << " [" << rangeNote << ", rule " << static_cast<int>(rule)
                           << (options.CaseInsensitive ? ", no case" : "") << "]";
      EXPECT_EQ(table_.RecordCount(), static_cast<std::int32_t>(want.size())) << text;
      ASSERT_EQ(table_.RemoveFilter(handle), ec::Success);
    }
    table_.SetComplementRule(TComplementRule::SmallerSide);
    if (shape <= 1) table_.CancelRange();
    if (::testing::Test::HasFailure()) break;  // one text is enough to look at
  }
  EXPECT_GT(texts, 200);
  EXPECT_GT(ranged, 50);
}

TEST_F(FilterDifferentialTest, SeveralActiveFiltersAndTheCursorWalkAgree) {
  TFilterTextGenerator generator(99);
  for (int round = 0; round < 40; ++round) {
    const std::string first = generator.Expression(2);
    const std::string second = generator.Expression(2);
    const auto a = testing::ParseFilter(table_, first);
    const auto b = testing::ParseFilter(table_, second);
    const auto both = testing::ParseFilter(table_, "(" + first + ") AND (" + second + ")");
    const std::set<std::int32_t> expected = testing::NaiveRecords(table_, &both);
    const TFilterHandle ha = table_.AddFilter(0, a, nullptr);
    const TFilterHandle hb = table_.AddFilter(0, b, nullptr);
    ASSERT_EQ(table_.ActivateFilter(AllFilters), ec::Success);
    EXPECT_EQ(testing::BitmapRecords(table_), expected) << first << " | " << second;
    // The primary index walks IDs in order, and ID n is record n.
    table_.SelectIndex(0);
    const std::vector<std::int32_t> walked = testing::WalkIds(table_);
    EXPECT_EQ(std::set<std::int32_t>(walked.begin(), walked.end()), expected) << first << " | " << second;
    EXPECT_EQ(walked.size(), expected.size());
    ASSERT_EQ(table_.RemoveFilter(ha), ec::Success);
    ASSERT_EQ(table_.RemoveFilter(hb), ec::Success);
    if (::testing::Test::HasFailure()) break;
  }
}

}  // namespace
}  // namespace kavrin::engine
