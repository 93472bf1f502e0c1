// Expression filters on a small table whose records are known by heart: the records each comparison
// gives at the edges of its type, with nulls, partial lengths and descending indexes, whichever way the
// keys are walked; the complement rewrites; the optimisation levels; and the checks that keep an
// untrusted block from being read out of bounds.
#include "classlib/filter_expr.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "classlib/expr_parser.h"
#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/filter_block.h"
#include "runtime/format_settings.h"
#include "tests/engine/error_code_of.h"
#include "tests/engine/filter_test_support.h"
#include "tests/helpers/temp_dir.h"

namespace kavrin::engine {
namespace {

using testing::Ids;

constexpr TComplementRule kRules[] = {TComplementRule::SmallerSide, TComplementRule::Always, TComplementRule::Never};

class FilterExprTest : public ::testing::Test {
 protected:
  void SetUp() override {
    runtime::ResetFormatSettings();
    path_ = dir_.PathOf("PEOPLE.DAT");
    testing::CreateTableAt(path_, testing::PeopleFields(), testing::PeopleIndexes());
    table_.SetFileName(path_);
    table_.Open();
    for (const auto& person : testing::People()) testing::InsertPerson(table_, person);
  }

  std::vector<std::uint8_t> Parse(const std::string& text, bool caseInsensitive = false) {
    classlib::TFilterParseOptions options;
    options.CaseInsensitive = caseInsensitive;
    return testing::ParseFilter(table_, text, options);
  }

  // The records the block lets through as the only active filter.
  std::set<std::int32_t> Records(const std::vector<std::uint8_t>& block, TComplementRule rule) {
    table_.SetComplementRule(rule);
    const TFilterHandle handle = table_.AddFilter(0, block, nullptr);
    EXPECT_EQ(table_.ActivateFilter(handle), ec::Success);
    std::set<std::int32_t> records = testing::BitmapRecords(table_);
    EXPECT_EQ(table_.RecordCount(), static_cast<std::int32_t>(records.size()));
    EXPECT_EQ(table_.RemoveFilter(handle), ec::Success);
    table_.SetComplementRule(TComplementRule::SmallerSide);
    return records;
  }

  TErrorCode AddCode(const std::vector<std::uint8_t>& block) {
    return testing::ErrorCodeOf([&] { table_.RemoveFilter(table_.AddFilter(0, block, nullptr)); });
  }

  kavrin::testing::TempDir dir_;
  std::string path_;
  TDataFile table_;
};

TEST_F(FilterExprTest, ComparisonsGiveTheirRecordsAtTheEdgesWithNullsOnEveryIndex) {
  struct Case {
    const char* text;
    bool caseInsensitive;
    std::set<std::int32_t> ids;
  };
  const Case cases[] = {
      // Past the edges of the type: nothing, never everything.
      {"Qty > 2147483647", false, {}},
      {"Qty < -2147483648", false, {}},
      {"Price > 1.7976931348623157e308", false, {}},
      {"Price < -1.7976931348623157e308", false, {}},
      {"Name < ''", false, {}},
      {"City < ''", false, {}},
      // At the edges: every value, never a null.
      {"Qty >= -2147483648", false, Ids({1, 2, 3, 5, 6, 7, 8, 9, 10})},
      {"Qty <= 2147483647", false, Ids({1, 2, 3, 5, 6, 7, 8, 9, 10})},
      {"Price >= -1.7976931348623157e308", false, Ids({1, 3, 4, 5, 6, 7, 9, 10})},
      {"Name >= ''", false, Ids({1, 2, 3, 4, 6, 7, 8, 9, 10})},
      // On the descending index.
      {"Qty > 5", false, Ids({2, 6})},
      {"Qty >= 5", false, Ids({1, 2, 3, 6, 8, 9})},
      {"Qty < 5", false, Ids({5, 7, 10})},
      {"Qty <= 5", false, Ids({1, 3, 5, 7, 8, 9, 10})},
      {"Qty = 5", false, Ids({1, 3, 8, 9})},
      // Not equal is the inverse of equal: nulls pass it.
      {"Qty <> 5", false, Ids({2, 4, 5, 6, 7, 10})},
      {"NOT (Qty = 5)", false, Ids({2, 4, 5, 6, 7, 10})},
      {"City <> 'Rome'", false, Ids({2, 3, 4, 6, 8, 9, 10})},
      // Strings by their bytes, or upper-cased.
      {"Name > 'Al'", false, Ids({1, 2, 3, 4, 7, 8, 10})},
      {"Name < 'B'", false, Ids({1, 2, 6, 7, 8, 9})},
      {"Name = 'bob'", true, Ids({3, 4})},
      {"City = 'ROME'", true, Ids({1, 2, 5, 7})},
      {"Price > 1", false, Ids({1, 3, 5, 7, 9})},
      // Partial comparisons: the first characters.
      {"Name = 'An*'", false, Ids({1, 2})},
      {"Name <> 'An*'", false, Ids({3, 4, 5, 6, 7, 8, 9, 10})},
      {"City = 'r*'", true, Ids({1, 2, 5, 7})},
      // A not over an and of two fields no index begins with.
      {"NOT (City = 'Rome' AND Price > 1)", false, Ids({2, 3, 4, 6, 8, 9, 10})},
      {"NOT (Price > 1 OR City IS NULL)", false, Ids({2, 4, 6, 10})},
      // Blank tests with and without an index, whatever the cursor's own index.
      {"City IS NULL", false, Ids({3, 8})},
      {"Note IS NULL", false, Ids({2, 4, 6, 8, 10})},
      {"Qty IS NULL", false, Ids({4})},
      {"Name IS NOT NULL AND Qty IS NOT NULL", false, Ids({1, 2, 3, 6, 7, 8, 9, 10})},
  };
  for (const Case& c : cases) {
    const std::vector<std::uint8_t> block = Parse(c.text, c.caseInsensitive);
    for (std::uint8_t index = 0; index <= table_.IndexCount(); ++index) {
      table_.SelectIndex(index);
      for (TComplementRule rule : kRules) {
        EXPECT_EQ(Records(block, rule), c.ids)
            << c.text << " on index " << int(index) << ", rule " << static_cast<int>(rule);
      }
    }
  }
}

TEST_F(FilterExprTest, PartialLengthsDecideByTheFirstCharactersWithEveryOperator) {
  // The parser takes partial lengths with = and <> only; other blocks may carry them with any operator.
  auto partial = [&](classlib::TCanOp op, std::int16_t field, std::string value, std::uint16_t length) {
    classlib::TFilterExpr expr;
    value.resize(11, '\0');
    const auto f = expr.NewFieldNode(field, field == 2 ? "Name" : "City");
    const auto c = expr.NewConstNode(ftString, std::vector<std::uint8_t>(value.begin(), value.end()));
    return expr.GetFilterData(expr.NewCompareNode(op, false, length, f, c));
  };
  using classlib::TCanOp;
  struct Case {
    TCanOp op;
    std::int16_t field;
    const char* value;
    std::uint16_t length;
    std::set<std::int32_t> ids;
  };
  const Case cases[] = {
      {TCanOp::Greater, 2, "Al", 2, Ids({1, 2, 3, 4, 8, 10})},  // Alan and Al begin alike
      {TCanOp::GreaterOrEqual, 2, "Al", 2, Ids({1, 2, 3, 4, 6, 7, 8, 10})},
      {TCanOp::Less, 2, "Al", 2, Ids({9})},
      {TCanOp::LessOrEqual, 2, "Al", 2, Ids({6, 7, 9})},
      {TCanOp::Greater, 3, "Ro", 2, Ids({2})},  // by reading records
      {TCanOp::Less, 3, "Pa", 1, Ids({6, 10})},
      {TCanOp::Equal, 2, "Al", 200, Ids({6})},  // longer than the field: the whole value
      {TCanOp::Greater, 2, "\xFF", 1, {}},      // past the last first character
      {TCanOp::Less, 2, "", 1, {}},
  };
  for (const Case& c : cases) {
    const auto block = partial(c.op, c.field, c.value, c.length);
    for (TComplementRule rule : kRules) {
      EXPECT_EQ(Records(block, rule), c.ids) << "operator " << int(c.op) << " on field " << c.field << " with '"
                                             << c.value << "', " << c.length << " characters";
    }
  }
}

TEST_F(FilterExprTest, LevelsSayHowMuchTheIndexesDid) {
  struct Case {
    const char* text;
    bool caseInsensitive;
    std::int32_t level;
  };
  const Case cases[] = {
      {"Qty > 5", false, 0},
      {"Name IS NULL", false, 0},
      {"Name = 'bob'", true, 0},  // the case-insensitive index of two fields begins with Name
      {"Qty > 5 AND Name = 'Bob'", false, 0},
      {"NOT (Qty > 5)", false, 0},
      {"Price > 1", false, 2},
      {"City IS NULL", false, 2},
      {"City = 'rome'", true, 2},
      {"Qty > 5 OR Price > 1", false, 2},
      {"Qty > 5 AND Price > 1", false, 1},
      {"Price > 1 AND Qty > 5", false, 1},
      {"(Qty > 5 OR Name = 'x') AND Price > 1", false, 1},
      {"(Qty > 5 AND Price > 1) OR Name = 'x'", false, 1},
  };
  for (const Case& c : cases) {
    const TFilterHandle handle = table_.AddFilter(0, Parse(c.text, c.caseInsensitive), nullptr);
    EXPECT_EQ(table_.FilterOptimizeLevel(), c.level) << c.text << " when added";
    ASSERT_EQ(table_.ActivateFilter(handle), ec::Success);
    EXPECT_EQ(table_.FilterOptimizeLevel(), c.level) << c.text << " when evaluated";
    ASSERT_EQ(table_.RemoveFilter(handle), ec::Success);
  }
}

TEST_F(FilterExprTest, AnAndPutsItsIndexedOperandFirst) {
  const TFilterHandle handle = table_.AddFilter(0, Parse("Price < 1 AND Qty > 5"), nullptr);
  const std::span<const std::uint8_t> block = table_.GetFilter(0).Expression();
  auto fieldOfComparison = [&](std::uint16_t node) {
    const std::uint8_t* nodes = block.data() + LoadU16(block.data() + 6);
    return LoadI16(nodes + LoadU16(nodes + node + 12) + 8);
  };
  const std::uint8_t* root = block.data() + LoadU16(block.data() + 6);
  ASSERT_EQ(LoadI32(root + 4), foAnd);
  EXPECT_EQ(fieldOfComparison(LoadU16(root + 8)), 4);  // Qty, which ByQtyDown begins with
  EXPECT_EQ(fieldOfComparison(LoadU16(root + 10)), 5);
  ASSERT_EQ(table_.ActivateFilter(handle), ec::Success);
  EXPECT_EQ(testing::BitmapRecords(table_), Ids({6}));
}

TEST_F(FilterExprTest, ComparisonsMatchingMostRecordsAreStoredAsTheirComplement) {
  // Eleven more of 21: a value of theirs is most of the records.
  for (std::int32_t id = 11; id <= 21; ++id) testing::InsertPerson(table_, {id, "Kim", "Rome", 5, 1.0, false});
  struct Case {
    const char* text;
    std::int32_t rootClass;  // after the rewrite
    std::int32_t rootOperator;
  };
  const Case cases[] = {
      {"Qty = 5", fnUnary, foNot},          {"Qty <> 5", fnBinary, foOr},        {"Qty > -100", fnUnary, foNot},
      {"Qty >= -3", fnUnary, foNot},        {"Qty < 100", fnUnary, foNot},       {"Qty <= 5", fnUnary, foNot},
      {"Name IS NOT NULL", fnUnary, foNot}, {"Name = 'K*'", fnUnary, foNot},     {"Name >= 'B'", fnUnary, foNot},
      {"Qty > 5", fnCompare, foGreater},    {"Price > 0", fnCompare, foGreater},  // no index: walked as it is
  };
  for (const Case& c : cases) {
    const std::vector<std::uint8_t> original = Parse(c.text);
    const auto naive = testing::NaiveRecords(table_, &original);
    const TFilterHandle handle = table_.AddFilter(0, original, nullptr);
    const std::vector<std::uint8_t> rewritten(table_.GetFilter(0).Expression().begin(),
                                              table_.GetFilter(0).Expression().end());
    const std::uint8_t* root = rewritten.data() + LoadU16(rewritten.data() + 6);
    EXPECT_EQ(LoadI32(root), c.rootClass) << c.text;
    EXPECT_EQ(LoadI32(root + 4), c.rootOperator) << c.text;
    EXPECT_EQ(LoadU16(rewritten.data() + 2), rewritten.size()) << c.text << ": the total size stays true";
    if (c.rootClass == fnCompare) {
      EXPECT_EQ(rewritten, original) << c.text;
    }
    ASSERT_EQ(table_.ActivateFilter(handle), ec::Success);
    EXPECT_EQ(testing::BitmapRecords(table_), naive) << c.text;
    ASSERT_EQ(table_.RemoveFilter(handle), ec::Success);
    // The rewritten block is a block like any other: walked directly it gives the same records.
    EXPECT_EQ(Records(rewritten, TComplementRule::Never), naive) << c.text;
  }
}

TEST_F(FilterExprTest, OperatorsTheEngineDoesNotEvaluateLeaveTheirBitmapAsItCame) {
  // Turns the node at offset into one with an arithmetic operator (16 is addition).
  auto withOperator = [](std::vector<std::uint8_t> block, std::size_t node, std::int32_t op) {
    StoreI32(block.data() + LoadU16(block.data() + 6) + node + 4, op);
    return block;
  };
  struct Case {
    const char* text;
    std::size_t node;  // the node given the arithmetic operator
    std::set<std::int32_t> ids;
    std::int32_t level;
  };
  const Case cases[] = {
      {"Qty > 5", 0, Ids({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}), 2},
      {"Qty > 5 AND Price > 1", 54, Ids({2, 6}), 1},  // the second comparison follows and, field, constant
      {"Qty > 5 OR Price > 1", 54, Ids({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}), 2},
      {"NOT (Qty > 5)", 10, {}, 2},
  };
  for (const Case& c : cases) {
    const auto block = withOperator(Parse(c.text), c.node, 16);
    for (TComplementRule rule : kRules) EXPECT_EQ(Records(block, rule), c.ids) << c.text;
    const TFilterHandle handle = table_.AddFilter(0, block, nullptr);
    table_.ActivateFilter(handle);
    EXPECT_EQ(table_.FilterOptimizeLevel(), c.level) << c.text;
    table_.RemoveFilter(handle);
  }
}

// Blocks of n nots over "Qty IS NULL", laid out by hand.
std::vector<std::uint8_t> NotChain(int n) {
  const std::size_t nodes = 10 * static_cast<std::size_t>(n) + 10 + 12;
  std::vector<std::uint8_t> block(10 + nodes, 0);
  StoreU16(block.data(), 2);
  StoreU16(block.data() + 2, static_cast<std::uint16_t>(block.size()));
  StoreU16(block.data() + 4, static_cast<std::uint16_t>(n + 2));
  StoreU16(block.data() + 6, 10);
  StoreU16(block.data() + 8, static_cast<std::uint16_t>(block.size()));
  std::uint8_t* p = block.data() + 10;
  for (int i = 0; i <= n; ++i) {
    StoreI32(p + 10 * i, fnUnary);
    StoreI32(p + 10 * i + 4, i < n ? foNot : foIsBlank);
    StoreU16(p + 10 * i + 8, static_cast<std::uint16_t>(10 * (i + 1)));
  }
  StoreI32(p + 10 * (n + 1), fnField);
  StoreI16(p + 10 * (n + 1) + 8, 4);
  return block;
}

TEST_F(FilterExprTest, BlocksThatCannotBeReadSafelyAreRefused) {
  // "Qty > 5": header | compare at 0 (16) | field at 16 (12) | constant at 28 (14) | "Qty\0" 5.
  const std::vector<std::uint8_t> good = Parse("Qty > 5");
  ASSERT_EQ(good.size(), 60u);
  constexpr std::size_t kNodes = 10;
  using TEdit = std::function<void(std::vector<std::uint8_t>&)>;
  auto u16 = [](std::size_t at, std::uint16_t v) -> TEdit { return [=](auto& b) { StoreU16(b.data() + at, v); }; };
  auto i32 = [](std::size_t at, std::int32_t v) -> TEdit { return [=](auto& b) { StoreI32(b.data() + at, v); }; };
  auto both = [](TEdit a, TEdit b) -> TEdit { return [=](auto& x) { a(x), b(x); }; };
  struct Case {
    const char* what;
    TEdit edit;
  };
  const Case cases[] = {
      {"shorter than its header", [](auto& b) { b.resize(9); }},
      {"total size past the bytes given", u16(2, 61)},
      {"total size inside the header", u16(2, 9)},
      {"node area inside the header", u16(6, 8)},
      {"literal area before the node area", u16(8, 9)},
      {"literal area past the end", u16(8, 61)},
      {"no room for the root", u16(8, 10)},
      {"unknown node class", i32(kNodes, 6)},
      {"operator past the format's", i32(kNodes + 4, 38)},
      {"negative operator", i32(kNodes + 4, -1)},
      {"comparison with the constant first", both(u16(kNodes + 12, 28), u16(kNodes + 14, 16))},
      {"comparison of a field with a field", u16(kNodes + 14, 16)},
      {"unknown field", u16(kNodes + 16 + 8, 99)},
      {"constant past the literal area", u16(kNodes + 28 + 12, 5)},
      {"node inside another", u16(kNodes + 12, 4)},
      {"operand outside the node area", u16(kNodes + 14, 60)},
      {"root that is a field", both(i32(kNodes, fnField), u16(kNodes + 8, 4))},
      {"blank test of a constant", both(i32(kNodes, fnUnary), both(i32(kNodes + 4, foIsBlank), u16(kNodes + 8, 28)))},
      {"not of a field", both(i32(kNodes, fnUnary), both(i32(kNodes + 4, foNot), u16(kNodes + 8, 16)))},
      {"and of a field and a constant",
       both(i32(kNodes, fnBinary), both(i32(kNodes + 4, foAnd), both(u16(kNodes + 8, 16), u16(kNodes + 10, 28))))},
      {"not of itself", both(i32(kNodes, fnUnary), both(i32(kNodes + 4, foNot), u16(kNodes + 8, 0)))},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> block = good;
    c.edit(block);
    EXPECT_EQ(AddCode(block), ec::InvalidFilterExpression) << c.what;
  }
  EXPECT_EQ(table_.FilterCount(), 0);
  EXPECT_EQ(testing::ErrorCodeOf([&] { table_.AddFilter(0, {}, nullptr); }), ec::InvalidFilterExpression);

  // What lies past the total size is not the block's.
  std::vector<std::uint8_t> longer = good;
  longer.insert(longer.end(), {0xDE, 0xAD, 0xBE, 0xEF});
  table_.AddFilter(0, longer, nullptr);
  EXPECT_EQ(table_.GetFilter(0).Expression().size(), good.size());
  table_.RemoveFilter(AllFilters);

  // Depth: deep chains are fine up to the limit; an even number of nots leaves the blank test.
  EXPECT_EQ(Records(NotChain(200), TComplementRule::SmallerSide), Ids({4}));
  EXPECT_EQ(Records(NotChain(201), TComplementRule::Always), Ids({1, 2, 3, 5, 6, 7, 8, 9, 10}));
  EXPECT_EQ(AddCode(NotChain(MaxFilterDepth - 1)), ec::InvalidFilterExpression);

  // A rewritten block is one a cursor takes again, also at the depth limit: a rewrite that would take
  // a path past it is left out.
  for (int n : {200, MaxFilterDepth - 4, MaxFilterDepth - 2}) {
    table_.SetComplementRule(TComplementRule::Always);
    table_.AddFilter(0, NotChain(n), nullptr);
    const std::vector<std::uint8_t> rewritten(table_.GetFilter(0).Expression().begin(),
                                              table_.GetFilter(0).Expression().end());
    table_.RemoveFilter(AllFilters);
    EXPECT_EQ(Records(rewritten, TComplementRule::Never), Ids({4})) << n << " nots";
  }
}

}  // namespace
}  // namespace kavrin::engine
